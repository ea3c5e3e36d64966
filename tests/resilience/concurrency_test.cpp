// Many phones at once against the real server while the owner changes the library: uploads through a
// share and from a paired phone, texts, whole and ranged downloads, all racing renames, moves, deletes
// and shares made and stopped through the store. Nothing accepted may be lost, nothing counted twice.
#include "core/index_file.h"
#include "resilience.h"
#include "server_fixture.h"
#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int clientCount = 32;

/// What the clients saw, all of them together.
struct Tally {
    std::mutex lock;
    /// Accepted uploads (name to contents) and texts.
    std::map<std::string, std::string> uploads;
    std::set<std::string> texts;
    /// When each accepted phone send (a file's name or a text) started.
    std::map<std::string, Clock::time_point> phoneSends;
    /// Downloads from the first byte, which each share must have counted.
    std::map<std::string, int> counted;
    /// Answers by kind, for the report; refusals the owner's changes explain among them.
    std::map<std::string, int> seen;
    std::vector<std::string> unexpected;
};

} // namespace

// On memory: the subject is the interleaving, and thousands of synced index writes would only slow it.
class ConcurrencyTest : public ::testing::Test {
protected:
    ConcurrencyTest() { server.start({}); }

    Response send(const std::string& head, const std::string& body = "") {
        return parseResponse(request(server.port(), head + "Host: test\r\nContent-Length: " +
                                                        std::to_string(body.size()) + "\r\n\r\n" + body));
    }

    Item addFile(const std::string& name, const std::string& contents,
                 const std::optional<std::string>& folder) {
        const auto source = dir.path() / "sources" / name;
        fs::create_directories(source.parent_path());
        std::ofstream(source, std::ios::binary) << contents;
        return store.addFile(source, folder).front();
    }

    std::string uploadShareToken() {
        std::lock_guard guard(tokenLock);
        return uploadToken;
    }

    TempDir dir{TempDir::memoryBackedBase()};
    FakeClock clock;
    LibraryStore store{dir.path() / "Tesk", clock.function()};
    TeskServer server{store, "Ana's Mac"};
    std::mutex tokenLock;
    std::string uploadToken;
};

TEST_F(ConcurrencyTest, ClientsAndOwnerChangingTheLibraryAtOnceLoseAndMiscountNothing) {
    const Folder folderA = store.addFolder("A", std::nullopt);
    const Folder folderB = store.addFolder("B", std::nullopt);
    const Folder drop = store.addFolder("Drop", std::nullopt);
    const Folder dropInner = store.addFolder("Inner", drop.id);
    const std::vector<std::optional<std::string>> places{std::nullopt, folderA.id, folderB.id};
    // Files the clients download and the owner renames and moves, but never deletes.
    struct Stable {
        Item item;
        std::string contents;
        Share share;
    };
    std::vector<Stable> stable;
    for (unsigned i = 0; i < 6; ++i) {
        const std::string contents = pattern(20000 + i * 50000, 100 + i);
        const Item item = addFile("stable-" + std::to_string(i) + ".bin", contents, places[i % 3]);
        stable.push_back(
            {item, contents, store.share(ShareTarget::item(item.id), ShareDuration::untilStopped, false)});
    }
    const Share whole = store.share(ShareTarget::folder(), ShareDuration::untilStopped, false);
    uploadToken = store.share(ShareTarget::folder(drop.id), ShareDuration::untilStopped, true).token;
    const PairedDevice phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();

    // The sanitizer runs cut stress tests down with TESK_STRESS_OPS (a few hundred): a tenth of it here,
    // since every request costs an index write under the store's single lock.
    const int requests = std::clamp(static_cast<int>(fromEnvironment("TESK_STRESS_OPS", 400)) / 10, 5, 40);
    Tally tally;
    std::atomic<int> clientsDone{0};
    std::vector<std::thread> clients;
    const auto started = Clock::now();
    for (int c = 0; c < clientCount; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 random(static_cast<unsigned>(c) * 7919u + 17u);
            for (int r = 0; r < requests; ++r) {
                const std::string tag = std::to_string(c) + "-" + std::to_string(r);
                const auto sentAt = Clock::now();
                const auto pick = random() % 100;
                // What to send, the status that means success, and what success records.
                std::string head;
                std::string body;
                std::string kind;
                int want = 201;
                std::string expected; // the body a download must bring
                std::function<void()> record = [] {};
                if (pick < 50) { // an upload through the share or from the phone, or a text
                    const bool share = pick < 20;
                    const bool text = pick >= 35;
                    const std::string name = (share ? "s-" : "d-") + tag + ".bin";
                    body = text ? "note from client " + tag : pattern(1 + random() % 65536, random());
                    head = share ? "POST /s/" + uploadShareToken() +
                                       "/upload?folder=" + (random() % 2 ? drop.id : dropInner.id) +
                                       " HTTP/1.1\r\n"
                                 : "POST /d/" + phone.token + (text ? "/text" : "/upload") + " HTTP/1.1\r\n";
                    head += text ? "" : "X-Tesk-Name: " + name + "\r\n";
                    kind = share ? "share uploads" : text ? "texts" : "phone uploads";
                    record = [&, share, text, name, body] {
                        text ? void(tally.texts.insert(body)) : void(tally.uploads[name] = body);
                        if (!share) {
                            tally.phoneSends[text ? body : name] = sentAt;
                        }
                    };
                } else if (pick < 55) {
                    head = "GET /s/" + whole.token + "/api HTTP/1.1\r\n";
                    kind = "share documents";
                    want = 200;
                } else {
                    const Stable& file = stable[random() % stable.size()];
                    const std::string token = random() % 3 == 0 ? whole.token : file.share.token;
                    const auto size = static_cast<std::int64_t>(file.contents.size());
                    std::int64_t first = 0;
                    std::int64_t last = size - 1;
                    head = "GET /s/" + token + "/f/" + file.item.id + " HTTP/1.1\r\n";
                    if (pick >= 80) {
                        first = random() % 3 == 0 ? 0 : static_cast<std::int64_t>(random() % size);
                        last = first + static_cast<std::int64_t>(random() % (size - first));
                        head += "Range: bytes=" + std::to_string(first) + "-" + std::to_string(last) + "\r\n";
                    }
                    want = pick >= 80 ? 206 : 200;
                    kind = pick < 80    ? "whole downloads"
                           : first == 0 ? "ranged downloads from 0"
                                        : "ranged downloads elsewhere";
                    expected = file.contents.substr(first, last - first + 1);
                    // Only downloads from the first byte count; a resumed one does not.
                    record = [&, token, first] { tally.counted[token] += first == 0; };
                }
                try {
                    const Response response = send(head, body);
                    std::lock_guard guard(tally.lock);
                    if (response.status == want &&
                        (want == 201 ||
                         (expected.empty() ? response.body.starts_with("{") : response.body == expected))) {
                        ++tally.seen[kind];
                        record();
                    } else if (response.status == 410 && kind == "share uploads") {
                        ++tally.seen["share uploads refused by a stopped link"];
                    } else if (response.status == 404 && !expected.empty()) {
                        ++tally.seen["downloads racing a rename (404)"];
                    } else {
                        tally.unexpected.push_back(kind + ": " + std::to_string(response.status) + " with " +
                                                   std::to_string(response.body.size()) + " bytes");
                    }
                } catch (const std::exception& error) {
                    std::lock_guard guard(tally.lock);
                    tally.unexpected.push_back(std::string("request failed: ") + error.what());
                }
            }
            ++clientsDone;
        });
    }

    // The owner, meanwhile: renames, moves, deletes, new and stopped shares.
    std::set<std::string> deletedByOwner;
    // When the phone's receiving folder was deleted, with whatever had arrived in it.
    std::vector<Clock::time_point> phoneFolderDeleted;
    std::map<std::string, int> changes;
    std::mt19937 random(4242);
    const auto anyStable = [&]() -> const Item& { return stable[random() % stable.size()].item; };
    for (int round = 0; clientsDone.load() < clientCount; ++round, std::this_thread::sleep_for(2ms)) {
        const Library library = store.snapshot();
        const auto received = library.receivedItems();
        switch (round % 8) {
        case 0:
            store.renameItem(anyStable().id, "stable-" + std::to_string(round) + ".bin");
            ++changes["renames"];
            break;
        case 1:
            store.moveItem(anyStable().id, places[random() % places.size()]);
            ++changes["moves"];
            break;
        case 2: // what the phones sent, out of where it arrived
            if (!received.empty() && random() % 2 == 0) {
                store.moveItem(received[random() % received.size()].id, places[random() % places.size()]);
                ++changes["moves"];
            }
            break;
        case 3: {
            const Item doomed =
                addFile("doomed-" + std::to_string(round) + ".bin", pattern(5000, round), folderA.id);
            store.share(ShareTarget::item(doomed.id), ShareDuration::hour, false);
            ++changes["new shares"];
            break;
        }
        case 4:
            for (const Item& item : library.items) {
                if (item.name.starts_with("doomed-")) {
                    store.deleteItem(item.id);
                    ++changes["deletes"];
                    break;
                }
            }
            break;
        case 5:
            if (const auto folder = library.deviceFolders.find(phone.id);
                round % 32 == 13 && folder != library.deviceFolders.end()) {
                // The phone's receiving folder goes, with whatever it holds, while the phone keeps sending.
                phoneFolderDeleted.push_back(Clock::now());
                store.deleteFolder(folder->second);
                ++changes["folder deletes"];
            } else if (!received.empty() && random() % 3 == 0) {
                const Item& victim = received[random() % received.size()];
                deletedByOwner.insert(victim.kind == ItemKind::file ? victim.name
                                                                    : victim.content.value_or(""));
                store.deleteItem(victim.id);
                ++changes["deletes"];
            }
            break;
        case 6:
            if (round % 64 != 6) {
                // Renewing a download link: the same token, a fresh expiry.
                store.share(ShareTarget::item(anyStable().id), ShareDuration::untilStopped, false);
                ++changes["renewed shares"];
            } else { // the upload link is turned off and a new one handed out
                store.stopSharing(uploadShareToken());
                const Share fresh =
                    store.share(ShareTarget::folder(drop.id), ShareDuration::untilStopped, true);
                std::lock_guard guard(tokenLock);
                uploadToken = fresh.token;
                ++changes["stopped shares"];
            }
            break;
        case 7:
            store.moveFolder(folderB.id, round % 16 == 7 ? std::optional(folderA.id) : std::nullopt);
            store.renameFolder(folderB.id, "B " + std::to_string(round));
            ++changes["folder moves and renames"];
            break;
        }
    }
    for (auto& client : clients) {
        client.join();
    }
    const auto elapsed = Clock::now() - started;
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }, 10s));
    EXPECT_TRUE(tally.unexpected.empty())
        << tally.unexpected.size() << " unexpected answers, the first: " << tally.unexpected.front();

    // Every accepted upload and text is in the library with its bytes, unless the owner deleted it; nothing
    // else arrived, and nothing was filed out of sight under a folder that no longer exists.
    const Library library = store.snapshot();
    std::map<std::string, Item> files;
    std::set<std::string> texts;
    for (const Item& item : library.items) {
        EXPECT_TRUE(!item.folderID || library.folder(item.folderID))
            << item.name << " was filed into a folder deleted before it arrived";
        if (item.kind == ItemKind::file && !item.name.starts_with("stable-") &&
            !item.name.starts_with("doomed-")) {
            files.emplace(item.name, item);
        } else if (item.receivedFrom) {
            texts.insert(item.content.value_or(""));
        }
    }
    // A phone send can have gone with its folder only if that folder was deleted after the send began.
    const auto deleted = [&](const std::string& sent) {
        const auto at = tally.phoneSends.find(sent);
        return deletedByOwner.contains(sent) ||
               (at != tally.phoneSends.end() &&
                std::any_of(phoneFolderDeleted.begin(), phoneFolderDeleted.end(),
                            [&](auto when) { return when > at->second; }));
    };
    for (const auto& [name, contents] : tally.uploads) {
        const auto found = files.find(name);
        EXPECT_TRUE(found != files.end() ? readFile(store.fileURL(found->second)) == contents : deleted(name))
            << "accepted upload " << name << " is missing or holds other bytes";
    }
    for (const std::string& text : tally.texts) {
        EXPECT_TRUE(texts.contains(text) || deleted(text)) << "accepted text lost: " << text;
    }
    for (const auto& [name, item] : files) {
        EXPECT_TRUE(tally.uploads.contains(name)) << name << " was filed but its upload was not accepted";
    }
    for (const std::string& text : texts) {
        EXPECT_TRUE(tally.texts.contains(text)) << "filed but not accepted: " << text;
    }
    EXPECT_TRUE(fs::is_empty(server.uploadsDir())) << "something was left under incoming/";
    EXPECT_EQ(library.devices.front().sentCount, static_cast<int>(tally.phoneSends.size()));

    // Each share counted exactly the downloads that reached the client from the first byte.
    const auto countedRight = [&](const Share& share) {
        return share.downloads == tally.counted[share.token];
    };
    EXPECT_TRUE(eventually([&] {
        const auto shares = store.snapshot().shares;
        return std::all_of(shares.begin(), shares.end(), countedRight);
    }));
    const Library final = store.snapshot();
    for (const Share& share : final.shares) {
        EXPECT_TRUE(countedRight(share))
            << share.title << " counted " << share.downloads << ", not " << tally.counted[share.token];
    }
    // The index is whole and says what the store says.
    EXPECT_EQ(IndexFile::decode(readFile(store.indexURL)), final);

    std::string report;
    for (const auto& [what, count] : changes) {
        report += (report.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    }
    report += "; clients: ";
    for (const auto& [what, count] : tally.seen) {
        report += std::to_string(count) + " " + what + ", ";
    }
    std::printf(
        "[concurrency] %d clients x %d requests in %.1f s, the owner making %s%zu phone sends lost only "
        "with what the owner deleted; every share's count exact; incoming/ empty; index equal to the store\n",
        clientCount, requests, std::chrono::duration<double>(elapsed).count(), report.c_str(),
        tally.phoneSends.size());
}
