// A real TeskServer over a prepared library, for the browser tests in this directory.
//
//   e2e_server LIBRARY_DIR
//
// Builds the library through the store's own operations, listens on a free port and prints one JSON
// line with the port and the ids and tokens the tests need. Then reads commands from stdin, one a line:
//   stop TOKEN   stops that share, answers "ok"
//   snapshot     answers one JSON line with every folder, item (folder name, sender, text) and paired
//                phone (id, name, token)
//   pair         opens a new pairing code, answers {"code": ...}
//   remove ID    removes that paired phone, answers "ok"
//   quit         exits 0 (so does the end of stdin)
#include "core/library_store.h"
#include "server/tesk_server.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::literals;

namespace {

// An 8 by 8 orange PNG: small, but a real image the browser must decode.
constexpr std::string_view png =
    "\211PNG\015\012\032\012\000\000\000\015IHDR\000\000\000\010\000\000\000\010\010\002\000\000\000Km"
    "\051\334\000\000\000\021IDATx\332c\370\337\303\200\0251\014\055\011\000\325\302b\301ZD\047\305\000"
    "\000\000\000IEND\256B\140\202"sv;

json orNull(const std::optional<std::string>& value) {
    return value ? json(*value) : json();
}

json prepare(LibraryStore& store, std::uint16_t port) {
    // Files are staged outside the library and moved in, so the store does all the filing itself.
    const fs::path staging = store.root / "staging";
    fs::create_directories(staging);
    const auto file = [&](const std::string& name, std::string_view bytes, const Folder& folder) {
        std::ofstream(staging / name, std::ios::binary) << bytes;
        return store.addFile(staging / name, folder.id, std::nullopt, true).at(0);
    };
    const Folder trips = store.addFolder("Trips", std::nullopt);
    const Folder beach = store.addFolder("Beach", trips.id);
    const Folder empty = store.addFolder("Empty", trips.id);
    const Folder odd = store.addFolder("Tom & \"Jerry's\" <3", trips.id);
    const std::pair<const char*, Item> items[] = {
        {"image", file("shell.png", png, beach)},
        {"packing", file("packing list.txt", "towel\nsunscreen\nbook\n", beach)},
        {"note", store.addText("Meet at the pier at 9 & bring <snacks>", beach.id).value()},
        {"link", store.addText("https://example.com/tides?day=1&place=pier", beach.id).value()},
        {"itinerary", file("itinerary.txt", "Day 1: fly\nDay 2: beach\n", trips)},
        {"marked", file("<img src=x onerror=\"window.injected=1\"> & 'quoted'.txt", "odd name\n", trips)},
        {"oddInside", file("inside.txt", "inside the odd folder\n", odd)},
    };
    fs::remove_all(staging);
    const Item& packing = items[1].second;
    json info{{"port", port}, {"root", store.root.string()}, {"mac", "Test Mac"}};
    info["shares"] = {{"folder", store.share(ShareTarget::folder(trips.id), ShareDuration::day, true).token},
                      {"item", store.share(ShareTarget::item(packing.id), ShareDuration::hour, false).token},
                      {"inbox", store.share(ShareTarget::inbox(), ShareDuration::untilStopped, true).token}};
    const std::pair<const char*, Folder> folders[] = {
        {"trips", trips}, {"beach", beach}, {"empty", empty}, {"odd", odd}};
    for (const auto& [key, folder] : folders) {
        info["folders"][key] = {{"id", folder.id}, {"name", folder.name}};
    }
    for (const auto& [key, item] : items) {
        info["items"][key] = {{"id", item.id}, {"name", item.name}, {"size", item.size}};
    }
    return info;
}

json snapshot(const LibraryStore& store) {
    const Library library = store.snapshot();
    json snapshot{{"items", json::array()}, {"folders", json::array()}, {"devices", json::array()}};
    for (const Item& item : library.items) {
        const auto folder = library.folder(item.folderID);
        snapshot["items"].push_back({{"id", item.id},
                                     {"name", item.name},
                                     {"folder", orNull(folder ? std::optional(folder->name) : std::nullopt)},
                                     {"folderID", orNull(item.folderID)},
                                     {"receivedFrom", orNull(item.receivedFrom)},
                                     {"content", orNull(item.content)},
                                     {"size", item.size}});
    }
    for (const Folder& folder : library.folders) {
        snapshot["folders"].push_back(
            {{"id", folder.id}, {"name", folder.name}, {"parentID", orNull(folder.parentID)}});
    }
    for (const PairedDevice& device : library.devices) {
        snapshot["devices"].push_back({{"id", device.id}, {"name", device.name}, {"token", device.token}});
    }
    return snapshot;
}

} // namespace

int main(int argc, char** argv) {
    // An exception ends the process through std::terminate, which prints its message.
    LibraryStore store{argc == 2 ? fs::path(argv[1])
                                 : throw std::invalid_argument("usage: e2e_server LIBRARY_DIR")};
    TeskServer server(store, "Test Mac");
    // A computer with a shortcut signer, so the phone page shows everything it can; without one the
    // share-sheet card is left out, which the page builder's own tests cover.
    server.setOffersShareSheet(true);
    server.start({0});
    std::cout << prepare(store, server.port()).dump() << std::endl;

    // The tests drive the rest; a closed stdin means the test process is gone.
    for (std::string line; std::getline(std::cin, line) && line != "quit";) {
        json answer = "ok";
        if (line == "snapshot") {
            answer = snapshot(store);
        } else if (line.starts_with("stop ")) {
            store.stopSharing(line.substr(5));
        } else if (line == "pair") {
            answer = {{"code", store.newPairingCode().code}};
        } else if (line.starts_with("remove ")) {
            store.removeDevice(line.substr(7));
        } else {
            answer = {{"error", "unknown command: " + line}};
        }
        std::cout << (answer.is_string() ? answer.get<std::string>() : answer.dump()) << std::endl;
    }
    server.stop();
}
