// A real TeskServer over a prepared library, for the browser tests in this directory.
//
//   e2e_server LIBRARY_DIR
//
// Builds the library through the store's own operations, listens on a free port and prints one JSON
// line with the port and the ids and tokens the tests need. Then reads commands from stdin, one a line:
//   stop TOKEN   stops that share, answers "ok"
//   snapshot     answers one JSON line with every folder and item (folder name, sender, text)
//   pair         opens a new pairing code, answers {"code": ...}
//   devices      answers one JSON line with the paired phones (id, name, token)
//   remove ID    removes that paired phone, answers "ok"
//   quit         exits 0 (so does the end of stdin)
#include "core/library_store.h"
#include "server/tesk_server.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace fs = std::filesystem;

namespace {

// An 8 by 8 orange PNG: small, but a real image the browser must decode.
constexpr std::array<unsigned char, 74> pngBytes{
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x02, 0x00, 0x00, 0x00, 0x4b,
    0x6d, 0x29, 0xdc, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0xda, 0x63, 0xf8,
    0xdf, 0xc3, 0x80, 0x15, 0x31, 0x0c, 0x2d, 0x09, 0x00, 0xd5, 0xc2, 0x62, 0xc1, 0x5a, 0x44,
    0x27, 0xc5, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

constexpr std::string_view macName = "Test Mac";

// Files are staged outside the library and moved in, so the store does all the filing itself.
class Preparer {
public:
    Preparer(LibraryStore& store, fs::path staging)
        : store_(store)
        , staging_(std::move(staging)) {
        fs::create_directories(staging_);
    }
    ~Preparer() {
        std::error_code ignored;
        fs::remove_all(staging_, ignored);
    }
    Preparer(const Preparer&) = delete;
    Preparer& operator=(const Preparer&) = delete;

    Item file(const std::string& name, std::string_view bytes, const std::string& folderID) {
        const fs::path source = staging_ / name;
        {
            std::ofstream out(source, std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                throw std::runtime_error("cannot write " + source.string());
            }
        }
        const auto items = store_.addFile(source, folderID, std::nullopt, true);
        if (items.size() != 1) {
            throw std::runtime_error("addFile did not make one item for " + name);
        }
        return items.front();
    }

    Item text(std::string_view text, const std::string& folderID) {
        const auto item = store_.addText(text, folderID);
        if (!item) {
            throw std::runtime_error("addText made nothing");
        }
        return *item;
    }

private:
    LibraryStore& store_;
    fs::path staging_;
};

nlohmann::json describe(const Item& item) {
    return {{"id", item.id}, {"name", item.name}, {"size", item.size}};
}

nlohmann::json describe(const Folder& folder) {
    return {{"id", folder.id}, {"name", folder.name}};
}

nlohmann::json prepare(LibraryStore& store, std::uint16_t port) {
    Preparer add(store, store.root / "staging");
    const Folder trips = store.addFolder("Trips", std::nullopt);
    const Folder beach = store.addFolder("Beach", trips.id);
    const Folder empty = store.addFolder("Empty", trips.id);
    const Folder odd = store.addFolder("Tom & \"Jerry's\" <3", trips.id);

    const std::string png(reinterpret_cast<const char*>(pngBytes.data()), pngBytes.size());
    const Item image = add.file("shell.png", png, beach.id);
    const Item packing = add.file("packing list.txt", "towel\nsunscreen\nbook\n", beach.id);
    const Item note = add.text("Meet at the pier at 9 & bring <snacks>", beach.id);
    const Item link = add.text("https://example.com/tides?day=1&place=pier", beach.id);
    const Item itinerary = add.file("itinerary.txt", "Day 1: fly\nDay 2: beach\n", trips.id);
    const Item marked =
        add.file("<img src=x onerror=\"window.injected=1\"> & 'quoted'.txt", "odd name\n", trips.id);
    const Item oddInside = add.file("inside.txt", "inside the odd folder\n", odd.id);

    const Share folderShare = store.share(ShareTarget::folder(trips.id), ShareDuration::day, true);
    const Share itemShare = store.share(ShareTarget::item(packing.id), ShareDuration::hour, false);
    const Share inboxShare = store.share(ShareTarget::inbox(), ShareDuration::untilStopped, true);

    return {
        {"port", port},
        {"root", store.root.string()},
        {"mac", macName},
        {"shares", {{"folder", folderShare.token}, {"item", itemShare.token}, {"inbox", inboxShare.token}}},
        {"folders",
         {{"trips", describe(trips)},
          {"beach", describe(beach)},
          {"empty", describe(empty)},
          {"odd", describe(odd)}}},
        {"items",
         {{"image", describe(image)},
          {"packing", describe(packing)},
          {"note", describe(note)},
          {"link", describe(link)},
          {"itinerary", describe(itinerary)},
          {"marked", describe(marked)},
          {"oddInside", describe(oddInside)}}},
    };
}

nlohmann::json snapshot(const LibraryStore& store) {
    const Library library = store.snapshot();
    auto items = nlohmann::json::array();
    for (const Item& item : library.items) {
        const auto folder = library.folder(item.folderID);
        items.push_back({
            {"id", item.id},
            {"name", item.name},
            {"folder", folder ? nlohmann::json(folder->name) : nlohmann::json()},
            {"folderID", item.folderID ? nlohmann::json(*item.folderID) : nlohmann::json()},
            {"receivedFrom", item.receivedFrom ? nlohmann::json(*item.receivedFrom) : nlohmann::json()},
            {"content", item.content ? nlohmann::json(*item.content) : nlohmann::json()},
            {"size", item.size},
        });
    }
    auto folders = nlohmann::json::array();
    for (const Folder& folder : library.folders) {
        folders.push_back({
            {"id", folder.id},
            {"name", folder.name},
            {"parentID", folder.parentID ? nlohmann::json(*folder.parentID) : nlohmann::json()},
        });
    }
    return {{"items", items}, {"folders", folders}};
}

nlohmann::json devices(const LibraryStore& store) {
    auto list = nlohmann::json::array();
    for (const PairedDevice& device : store.snapshot().devices) {
        list.push_back({{"id", device.id}, {"name", device.name}, {"token", device.token}});
    }
    return {{"devices", list}};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: e2e_server LIBRARY_DIR\n";
        return 2;
    }
    try {
        LibraryStore store{fs::path(argv[1])};
        TeskServer server(store, std::string(macName));
        // A computer with a shortcut signer, so the phone page shows everything it can; without one the
        // share-sheet card is left out, which the page builder's own tests cover.
        server.setOffersShareSheet(true);
        server.start({0});
        std::cout << prepare(store, server.port()).dump() << std::endl;

        // The tests drive the rest; a closed stdin means the test process is gone.
        for (std::string line; std::getline(std::cin, line);) {
            if (line == "quit") {
                break;
            }
            if (line == "snapshot") {
                std::cout << snapshot(store).dump() << std::endl;
            } else if (line.starts_with("stop ")) {
                store.stopSharing(line.substr(5));
                std::cout << "ok" << std::endl;
            } else if (line == "pair") {
                std::cout << nlohmann::json{{"code", store.newPairingCode().code}}.dump() << std::endl;
            } else if (line == "devices") {
                std::cout << devices(store).dump() << std::endl;
            } else if (line.starts_with("remove ")) {
                store.removeDevice(line.substr(7));
                std::cout << "ok" << std::endl;
            } else {
                std::cout << nlohmann::json{{"error", "unknown command: " + line}}.dump() << std::endl;
            }
        }
        server.stop();
    } catch (const std::exception& error) {
        std::cerr << "e2e_server: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
