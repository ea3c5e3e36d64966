// Many phones at once against the real server while the owner changes the library: uploads through a
// share and from a paired phone, texts, whole and ranged downloads, all racing renames, moves, deletes
// and shares made and stopped through the store. Nothing accepted may be lost, nothing counted twice.
#include "core/index_file.h"
#include "server_fixture.h"
#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int clientCount = 32;

/// Requests per client. The sanitizer runs set TESK_STRESS_OPS (a few hundred) to cut stress tests down:
/// a tenth of it here, since every request costs an index write under the store's single lock.
int requestsPerClient() {
    const char* text = std::getenv("TESK_STRESS_OPS");
    return text ? std::clamp(std::atoi(text) / 10, 5, 40) : 40;
}

std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 7;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

/// A file the clients download and the test renames and moves, but never deletes.
struct Stable {
    Item item;
    std::string contents;
    Share share;
};

/// What one client saw.
struct Tally {
    /// Accepted uploads: name to contents.
    std::map<std::string, std::string> uploads;
    std::set<std::string> texts;
    int deviceSends = 0;
    /// When each accepted phone send (a file's name or a text) was started.
    std::map<std::string, std::chrono::steady_clock::time_point> deviceSendStarted;
    /// Downloads the server must have counted, by share token.
    std::map<std::string, int> counted;
    int wholeDownloads = 0;
    int rangedFromStart = 0;
    int rangedElsewhere = 0;
    int documents = 0;
    /// Refusals the test's own changes explain: an upload share stopped under the client, a file renamed
    /// between the server's lookup and its open.
    int uploadsToStoppedShare = 0;
    int downloadsRacingARename = 0;
    std::vector<std::string> unexpected;
};

} // namespace

// On memory: the subject is the interleaving, and thousands of synced index writes would only slow it.
class ConcurrencyTest : public ::testing::Test {
protected:
    ConcurrencyTest()
        : dir(TempDir::memoryBackedBase())
        , store(dir.path() / "Tesk", clock.function())
        , server(store, "Ana's Mac") {
        server.start({});
    }

    Response send(const std::string& raw) { return parseResponse(request(server.port(), raw)); }

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

    TempDir dir;
    FakeClock clock;
    LibraryStore store;
    TeskServer server;
    std::mutex tokenLock;
    std::string uploadToken;
};

TEST_F(ConcurrencyTest, ClientsAndOwnerChangingTheLibraryAtOnceLoseAndMiscountNothing) {
    const Folder folderA = store.addFolder("A", std::nullopt);
    const Folder folderB = store.addFolder("B", std::nullopt);
    const Folder drop = store.addFolder("Drop", std::nullopt);
    const Folder dropInner = store.addFolder("Inner", drop.id);
    const std::vector<std::optional<std::string>> places{std::nullopt, folderA.id, folderB.id};

    std::vector<Stable> stable;
    for (unsigned i = 0; i < 6; ++i) {
        const std::string contents = pattern(20000 + i * 50000, 100 + i);
        const Item item = addFile("stable-" + std::to_string(i) + ".bin", contents, places[i % 3]);
        stable.push_back(
            {item, contents, store.share(ShareTarget::item(item.id), ShareDuration::untilStopped, false)});
    }
    const Share whole = store.share(ShareTarget::folder(), ShareDuration::untilStopped, false);
    uploadToken = store.share(ShareTarget::folder(drop.id), ShareDuration::untilStopped, true).token;
    const auto code = store.newPairingCode();
    const PairedDevice phone = store.claimPairing(code.code, "Ana's iPhone").value();

    const int requests = requestsPerClient();
    std::atomic<int> clientsDone{0};
    std::vector<Tally> tallies(clientCount);
    std::vector<std::thread> clients;
    const auto started = std::chrono::steady_clock::now();
    for (int c = 0; c < clientCount; ++c) {
        clients.emplace_back([&, c] {
            Tally& tally = tallies[static_cast<std::size_t>(c)];
            std::mt19937 random(static_cast<unsigned>(c) * 7919u + 17u);
            for (int r = 0; r < requests; ++r) {
                const std::string tag = std::to_string(c) + "-" + std::to_string(r);
                const auto sentAt = std::chrono::steady_clock::now();
                const int pick = static_cast<int>(random() % 100);
                try {
                    if (pick < 20) {
                        const std::string name = "s-" + tag + ".bin";
                        const std::string body = pattern(1 + random() % 65536, random());
                        const std::string folder = random() % 2 ? drop.id : dropInner.id;
                        const Response response =
                            send("POST /s/" + uploadShareToken() + "/upload?folder=" + folder +
                                 " HTTP/1.1\r\nHost: test\r\nX-Tesk-Name: " + name +
                                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
                        if (response.status == 201) {
                            tally.uploads[name] = body;
                        } else if (response.status == 410) {
                            ++tally.uploadsToStoppedShare;
                        } else {
                            tally.unexpected.push_back("share upload: " + std::to_string(response.status));
                        }
                    } else if (pick < 35) {
                        const std::string name = "d-" + tag + ".bin";
                        const std::string body = pattern(1 + random() % 65536, random());
                        const Response response =
                            send("POST /d/" + phone.token +
                                 "/upload HTTP/1.1\r\nHost: test\r\nX-Tesk-Name: " + name +
                                 "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
                        if (response.status == 201) {
                            tally.uploads[name] = body;
                            tally.deviceSendStarted[name] = sentAt;
                            ++tally.deviceSends;
                        } else {
                            tally.unexpected.push_back("device upload: " + std::to_string(response.status));
                        }
                    } else if (pick < 50) {
                        const std::string text = "note from client " + tag;
                        const Response response = send("POST /d/" + phone.token +
                                                       "/text HTTP/1.1\r\nHost: test\r\nContent-Length: " +
                                                       std::to_string(text.size()) + "\r\n\r\n" + text);
                        if (response.status == 201) {
                            tally.texts.insert(text);
                            tally.deviceSendStarted[text] = sentAt;
                            ++tally.deviceSends;
                        } else {
                            tally.unexpected.push_back("text: " + std::to_string(response.status));
                        }
                    } else if (pick < 55) {
                        const Response response =
                            send("GET /s/" + whole.token + "/api HTTP/1.1\r\nHost: test\r\n\r\n");
                        if (response.status == 200 && response.body.starts_with("{")) {
                            ++tally.documents;
                        } else {
                            tally.unexpected.push_back("document: " + std::to_string(response.status));
                        }
                    } else {
                        const Stable& file = stable[random() % stable.size()];
                        const std::string token = random() % 3 == 0 ? whole.token : file.share.token;
                        const std::int64_t size = static_cast<std::int64_t>(file.contents.size());
                        std::string range;
                        std::int64_t first = 0;
                        std::int64_t last = size - 1;
                        if (pick >= 80) {
                            first = random() % 3 == 0 ? 0 : static_cast<std::int64_t>(random() % size);
                            last = first + static_cast<std::int64_t>(random() % (size - first));
                            range =
                                "Range: bytes=" + std::to_string(first) + "-" + std::to_string(last) + "\r\n";
                        }
                        const Response response = send("GET /s/" + token + "/f/" + file.item.id +
                                                       " HTTP/1.1\r\nHost: test\r\n" + range + "\r\n");
                        const std::string expected = file.contents.substr(
                            static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1));
                        if (response.status == (range.empty() ? 200 : 206) && response.body == expected) {
                            // Only downloads from the first byte count; a resumed one does not.
                            if (first == 0) {
                                ++tally.counted[token];
                            }
                            ++(range.empty() ? tally.wholeDownloads
                               : first == 0  ? tally.rangedFromStart
                                             : tally.rangedElsewhere);
                        } else if (response.status == 404) {
                            ++tally.downloadsRacingARename;
                        } else {
                            tally.unexpected.push_back("download: " + std::to_string(response.status) +
                                                       " with " + std::to_string(response.body.size()) +
                                                       " bytes");
                        }
                    }
                } catch (const std::exception& error) {
                    tally.unexpected.push_back(std::string("request failed: ") + error.what());
                }
            }
            ++clientsDone;
        });
    }

    // The owner, meanwhile: renames, moves, deletes, new and stopped shares.
    std::set<std::string> deletedByTest;
    // When the phone's receiving folder was deleted, with whatever had arrived in it.
    std::vector<std::chrono::steady_clock::time_point> phoneFolderDeleted;
    std::map<std::string, int> changes;
    std::mt19937 random(4242);
    for (int round = 0; clientsDone.load() < clientCount; ++round) {
        const Library library = store.snapshot();
        switch (round % 8) {
        case 0: {
            const Stable& file = stable[random() % stable.size()];
            store.renameItem(file.item.id, "stable-" + std::to_string(round) + ".bin");
            ++changes["renames"];
            break;
        }
        case 1: {
            const Stable& file = stable[random() % stable.size()];
            store.moveItem(file.item.id, places[random() % places.size()]);
            ++changes["moves"];
            break;
        }
        case 2: {
            // Moving what the phones sent out of where it arrived.
            for (const Item& item : library.receivedItems()) {
                if (random() % 4 == 0) {
                    store.moveItem(item.id, places[random() % places.size()]);
                    ++changes["moves"];
                    break;
                }
            }
            break;
        }
        case 3: {
            const Item doomed =
                addFile("doomed-" + std::to_string(round) + ".bin", pattern(5000, round), folderA.id);
            store.share(ShareTarget::item(doomed.id), ShareDuration::hour, false);
            ++changes["new shares"];
            break;
        }
        case 4: {
            for (const Item& item : library.items) {
                if (item.name.starts_with("doomed-")) {
                    store.deleteItem(item.id);
                    ++changes["deletes"];
                    break;
                }
            }
            break;
        }
        case 5: {
            if (round % 32 == 13) {
                // The phone's receiving folder goes, with whatever it holds, while the phone keeps sending.
                if (const auto folder = library.deviceFolders.find(phone.id);
                    folder != library.deviceFolders.end()) {
                    phoneFolderDeleted.push_back(std::chrono::steady_clock::now());
                    store.deleteFolder(folder->second);
                    ++changes["deleted folders"];
                }
                break;
            }
            // Deleting something a phone sent, now and then.
            const auto received = library.receivedItems();
            if (!received.empty() && random() % 3 == 0) {
                const Item& victim = received[random() % received.size()];
                deletedByTest.insert(victim.kind == ItemKind::file ? victim.name
                                                                   : victim.content.value_or(""));
                store.deleteItem(victim.id);
                ++changes["deletes"];
            }
            break;
        }
        case 6: {
            if (round % 64 != 6) {
                // Renewing a download link: the same token, a fresh expiry.
                store.share(ShareTarget::item(stable[random() % stable.size()].item.id),
                            ShareDuration::untilStopped, false);
                ++changes["renewed shares"];
                break;
            }
            // The upload link is turned off and a new one handed out.
            store.stopSharing(uploadShareToken());
            const Share fresh = store.share(ShareTarget::folder(drop.id), ShareDuration::untilStopped, true);
            {
                std::lock_guard guard(tokenLock);
                uploadToken = fresh.token;
            }
            ++changes["stopped shares"];
            ++changes["new shares"];
            break;
        }
        case 7:
            store.moveFolder(folderB.id, round % 16 == 7 ? std::optional(folderA.id) : std::nullopt);
            store.renameFolder(folderB.id, "B " + std::to_string(round));
            ++changes["moves"];
            ++changes["renames"];
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    for (auto& client : clients) {
        client.join();
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }, 10s));

    Tally all;
    for (const Tally& tally : tallies) {
        all.uploads.insert(tally.uploads.begin(), tally.uploads.end());
        all.texts.insert(tally.texts.begin(), tally.texts.end());
        all.deviceSends += tally.deviceSends;
        all.deviceSendStarted.insert(tally.deviceSendStarted.begin(), tally.deviceSendStarted.end());
        for (const auto& [token, count] : tally.counted) {
            all.counted[token] += count;
        }
        all.wholeDownloads += tally.wholeDownloads;
        all.rangedFromStart += tally.rangedFromStart;
        all.rangedElsewhere += tally.rangedElsewhere;
        all.documents += tally.documents;
        all.uploadsToStoppedShare += tally.uploadsToStoppedShare;
        all.downloadsRacingARename += tally.downloadsRacingARename;
        all.unexpected.insert(all.unexpected.end(), tally.unexpected.begin(), tally.unexpected.end());
    }
    EXPECT_TRUE(all.unexpected.empty())
        << all.unexpected.size() << " unexpected answers, the first: " << all.unexpected.front();

    // Every accepted upload and text is in the library with its bytes, unless the test deleted it; nothing
    // else arrived.
    const Library library = store.snapshot();
    std::map<std::string, Item> byName;
    std::set<std::string> textsFound;
    for (const Item& item : library.items) {
        if (item.kind == ItemKind::file) {
            byName.emplace(item.name, item);
        } else if (item.receivedFrom) {
            textsFound.insert(item.content.value_or(""));
        }
    }
    // A phone send can have gone with its folder only if that folder was deleted after the send began.
    const auto deletedWithPhoneFolder = [&](const std::string& sent) {
        const auto started = all.deviceSendStarted.find(sent);
        return started != all.deviceSendStarted.end() &&
               std::any_of(phoneFolderDeleted.begin(), phoneFolderDeleted.end(),
                           [&](auto deleted) { return deleted > started->second; });
    };
    // Nothing may be filed where nobody can see it: under a folder that no longer exists.
    for (const Item& item : library.items) {
        EXPECT_TRUE(!item.folderID || library.folder(item.folderID))
            << item.name << " was filed into a folder deleted before it arrived";
    }
    int uploadsFound = 0;
    for (const auto& [name, contents] : all.uploads) {
        const auto found = byName.find(name);
        if (found == byName.end()) {
            EXPECT_TRUE(deletedByTest.contains(name) || deletedWithPhoneFolder(name))
                << "accepted upload " << name << " is missing";
            continue;
        }
        ++uploadsFound;
        EXPECT_EQ(found->second.size, static_cast<std::int64_t>(contents.size())) << name;
        EXPECT_TRUE(readFile(store.filePath(found->second)) == contents) << name << " holds other bytes";
    }
    for (const std::string& text : all.texts) {
        EXPECT_TRUE(textsFound.contains(text) || deletedByTest.contains(text) || deletedWithPhoneFolder(text))
            << "accepted text lost: " << text;
    }
    for (const auto& [name, item] : byName) {
        if (name.starts_with("s-") || name.starts_with("d-")) {
            EXPECT_TRUE(all.uploads.contains(name)) << name << " was filed but its upload was not accepted";
        }
    }
    for (const std::string& text : textsFound) {
        EXPECT_TRUE(all.texts.contains(text)) << "filed but not accepted: " << text;
    }
    EXPECT_TRUE(fs::is_empty(server.uploadsDir())) << "something was left under incoming/";
    EXPECT_EQ(library.devices.front().sentCount, all.deviceSends);

    // Each share counted exactly the downloads that reached the client from the first byte.
    EXPECT_TRUE(eventually([&] {
        const Library now = store.snapshot();
        for (const Share& share : now.shares) {
            const auto counted = all.counted.find(share.token);
            if (share.downloads != (counted == all.counted.end() ? 0 : counted->second)) {
                return false;
            }
        }
        return true;
    }));
    const Library final = store.snapshot();
    int countedByServer = 0;
    for (const Share& share : final.shares) {
        const auto counted = all.counted.find(share.token);
        const int completed = counted == all.counted.end() ? 0 : counted->second;
        EXPECT_LE(share.downloads, completed)
            << "share " << share.title << " counted downloads nobody finished";
        EXPECT_EQ(share.downloads, completed) << "share " << share.title;
        countedByServer += static_cast<int>(share.downloads);
    }

    // The index is whole and says what the store says.
    EXPECT_EQ(IndexFile::decode(readFile(store.indexURL)), final);

    std::string changed;
    for (const auto& [what, count] : changes) {
        changed += (changed.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    }
    std::printf(
        "[concurrency] %d clients x %d requests in %.1f s against the owner's %s: %zu uploads and %zu "
        "texts accepted (%d uploads found with their bytes, %zu deleted by the owner, %d refused by a "
        "stopped upload link); %d whole and %d ranged-from-0 downloads counted exactly (%d by the "
        "server), %d ranged elsewhere not counted, %d 404s racing a rename; %d share documents; "
        "incoming/ empty, index equal to the store\n",
        clientCount, requests, std::chrono::duration<double>(elapsed).count(), changed.c_str(),
        all.uploads.size(), all.texts.size(), uploadsFound, deletedByTest.size(), all.uploadsToStoppedShare,
        all.wholeDownloads, all.rangedFromStart, countedByServer, all.rangedElsewhere,
        all.downloadsRacingARename, all.documents);
}
