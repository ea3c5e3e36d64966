// Many phones at once against the real server while the owner changes the library: uploads through a
// share and from a paired phone, texts, whole and ranged downloads, all racing renames, moves, deletes
// and shares made and stopped through the store-> Nothing accepted may be lost, nothing counted twice.
#include "core/index_file.h"
#include "resilience.h"
#include "server_fixture.h"
#include "support/file_contents.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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
    /// Accepted uploads (name to contents) and texts (the text to itself).
    std::map<std::string, std::string> accepted;
    /// When each accepted phone send (a file's name or a text) started.
    std::map<std::string, Clock::time_point> phoneSends;
    /// Downloads from the first byte, which each share must have counted.
    std::map<std::string, int> counted;
    std::vector<std::string> unexpected;
};

} // namespace

// On memory: the subject is the interleaving, and thousands of synced index writes would only slow it.
class ConcurrencyTest : public StoreFixture {
protected:
    ConcurrencyTest()
        : StoreFixture(TempDir::memoryBackedBase()) {
        server.start({});
    }

    Item addFile(const std::string& name, const std::string& contents,
                 const std::optional<std::string>& folder) {
        return store->addFile(makeFile(name, contents), folder).front();
    }
    std::string uploadShareToken() {
        std::lock_guard guard(tokenLock);
        return uploadToken;
    }

    TeskServer server{*store, "Ana's Mac"};
    std::mutex tokenLock;
    std::string uploadToken;
};

TEST_F(ConcurrencyTest, ClientsAndOwnerChangingTheLibraryAtOnceLoseAndMiscountNothing) {
    const Folder folderA = store->addFolder("A", std::nullopt);
    const Folder folderB = store->addFolder("B", std::nullopt);
    const Folder drop = store->addFolder("Drop", std::nullopt);
    const Folder dropInner = store->addFolder("Inner", drop.id);
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
            {item, contents, store->share(ShareTarget::item(item.id), ShareDuration::untilStopped, false)});
    }
    const Share whole = store->share(ShareTarget::folder(), ShareDuration::untilStopped, false);
    uploadToken = store->share(ShareTarget::folder(drop.id), ShareDuration::untilStopped, true).token;
    const PairedDevice phone = store->claimPairing(store->newPairingCode().code, "Ana's iPhone").value();

    // The sanitizer runs cut stress tests down with TESK_STRESS_OPS (a few hundred): a tenth of it here,
    // since every request costs an index write under the store's single lock.
    const int requests = std::clamp(static_cast<int>(fromEnvironment("TESK_STRESS_OPS", 400)) / 10, 5, 40);
    Tally tally;
    std::atomic<int> clientsDone{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < clientCount; ++c) {
        clients.emplace_back([&, c] {
            std::mt19937 random(static_cast<unsigned>(c) * 7919u + 17u);
            for (int r = 0; r < requests; ++r) {
                const std::string tag = std::to_string(c) + "-" + std::to_string(r);
                const auto sentAt = Clock::now();
                const auto pick = random() % 100;
                // An upload through the share (20 %) or from the phone (15 %), a text (15 %), the share's
                // document (5 %), a whole download (25 %) or a ranged one (20 %).
                const bool share = pick < 20, upload = pick < 35, text = !upload && pick < 50;
                const bool download = pick >= 55, ranged = pick >= 80;
                const std::string name = (share ? "s-" : "d-") + tag + ".bin";
                const Stable& file = stable[random() % stable.size()];
                const std::string token = random() % 3 == 0 ? whole.token : file.share.token;
                const std::size_t size = file.contents.size();
                const std::size_t first = ranged && random() % 3 ? random() % size : 0;
                const std::size_t last = ranged ? first + random() % (size - first) : size - 1;
                const std::string body = text     ? "note from client " + tag
                                         : upload ? pattern(1 + random() % 65536, random())
                                                  : "";
                const std::string head =
                    share ? "POST /s/" + uploadShareToken() +
                                "/upload?folder=" + (random() % 2 ? drop.id : dropInner.id) +
                                " HTTP/1.1\r\nX-Tesk-Name: " + name + "\r\n"
                    : upload ? "POST /d/" + phone.token + "/upload HTTP/1.1\r\nX-Tesk-Name: " + name + "\r\n"
                    : text   ? "POST /d/" + phone.token + "/text HTTP/1.1\r\n"
                    : !download ? "GET /s/" + whole.token + "/api HTTP/1.1\r\n"
                                : "GET /s/" + token + "/f/" + file.item.id + " HTTP/1.1\r\n" +
                                      (ranged ? "Range: bytes=" + std::to_string(first) + "-" +
                                                    std::to_string(last) + "\r\n"
                                              : "");
                try {
                    const HttpReply response = parseHttpReply(request(
                        server.port(), head + "Host: test\r\nContent-Length: " + std::to_string(body.size()) +
                                           "\r\n\r\n" + body));
                    std::lock_guard guard(tally.lock);
                    if (download ? response.status == (ranged ? 206 : 200) &&
                                       response.body == file.contents.substr(first, last - first + 1)
                        : pick < 50 ? response.status == 201
                                    : response.status == 200 && response.body.starts_with("{")) {
                        if (upload || text) {
                            tally.accepted[text ? body : name] = body;
                        }
                        if (!share && (upload || text)) {
                            tally.phoneSends[text ? body : name] = sentAt;
                        }
                        // Only downloads from the first byte count; a resumed one does not.
                        tally.counted[token] += download && first == 0;
                    } else if (!(response.status == 410 && share) && !(response.status == 404 && download)) {
                        // Refusals the owner's changes explain: a stopped upload link, a download racing
                        // a rename.
                        tally.unexpected.push_back(head.substr(0, head.find(" HTTP")) + ": " +
                                                   std::to_string(response.status));
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
    std::mt19937 random(4242);
    const auto anyStable = [&] { return stable[random() % stable.size()].item.id; };
    const auto anyPlace = [&] { return places[random() % places.size()]; };
    int rounds = 0;
    for (; clientsDone.load() < clientCount; ++rounds, std::this_thread::sleep_for(2ms)) {
        const Library library = store->snapshot();
        const auto received = library.receivedItems();
        const auto doomed = std::find_if(library.items.begin(), library.items.end(),
                                         [](const Item& item) { return item.name.starts_with("doomed-"); });
        const auto phoneFolder = library.deviceFolders.find(phone.id);
        // One change a round, in turn: a rename, moves of the owner's files and of what the phones sent,
        // a new file with a share of its own that the next change deletes, deletes of what arrived (now
        // and then the phone's whole receiving folder, while the phone keeps sending), a renewed download
        // link (the same token, a fresh expiry; now and then the upload link turned off and a new one
        // handed out), and a folder moved and renamed.
        const std::function<void()> changes[] = {
            [&] { store->renameItem(anyStable(), "stable-" + std::to_string(rounds) + ".bin"); },
            [&] { store->moveItem(anyStable(), anyPlace()); },
            [&] {
                if (!received.empty()) {
                    store->moveItem(received[random() % received.size()].id, anyPlace());
                }
            },
            [&] {
                store->share(
                    ShareTarget::item(addFile("doomed-" + std::to_string(rounds), "x", folderA.id).id),
                    ShareDuration::hour, false);
            },
            [&] {
                if (doomed != library.items.end()) {
                    store->deleteItem(doomed->id);
                }
            },
            [&] {
                if (rounds % 32 == 13 && phoneFolder != library.deviceFolders.end()) {
                    phoneFolderDeleted.push_back(Clock::now());
                    store->deleteFolder(phoneFolder->second);
                } else if (!received.empty() && random() % 3 == 0) {
                    const Item& victim = received[random() % received.size()];
                    deletedByOwner.insert(victim.kind == ItemKind::file ? victim.name
                                                                        : victim.content.value_or(""));
                    store->deleteItem(victim.id);
                }
            },
            [&] {
                if (rounds % 64 != 6) {
                    store->share(ShareTarget::item(anyStable()), ShareDuration::untilStopped, false);
                    return;
                }
                store->stopSharing(uploadShareToken());
                const Share fresh =
                    store->share(ShareTarget::folder(drop.id), ShareDuration::untilStopped, true);
                std::lock_guard guard(tokenLock);
                uploadToken = fresh.token;
            },
            [&] {
                store->moveFolder(folderB.id, rounds % 16 == 7 ? std::optional(folderA.id) : std::nullopt);
                store->renameFolder(folderB.id, "B " + std::to_string(rounds));
            },
        };
        changes[rounds % 8]();
    }
    for (auto& client : clients) {
        client.join();
    }
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }, 10s));
    EXPECT_TRUE(tally.unexpected.empty())
        << tally.unexpected.size() << " unexpected answers, the first: " << tally.unexpected.front();

    // Every accepted upload and text is in the library with its bytes, unless the owner deleted it; nothing
    // else arrived, and nothing was filed out of sight under a folder that no longer exists.
    const Library library = store->snapshot();
    std::map<std::string, std::string> kept; // what the phones and the upload link sent, as for `accepted`
    for (const Item& item : library.items) {
        EXPECT_TRUE(!item.folderID || library.folder(item.folderID))
            << item.name << " was filed into a folder deleted before it arrived";
        if (item.kind == ItemKind::file && (item.name.starts_with("s-") || item.name.starts_with("d-"))) {
            kept[item.name] = readFile(store->filePath(item));
        } else if (item.receivedFrom && item.kind != ItemKind::file) {
            kept[*item.content] = *item.content;
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
    for (const auto& [sent, contents] : tally.accepted) {
        EXPECT_TRUE(kept.contains(sent) ? kept[sent] == contents : deleted(sent))
            << "accepted " << sent << " is missing or holds other bytes";
    }
    for (const auto& [sent, contents] : kept) {
        EXPECT_TRUE(tally.accepted.contains(sent)) << sent << " was filed but not accepted";
    }
    EXPECT_TRUE(fs::is_empty(server.uploadsDir())) << "something was left under incoming/";
    EXPECT_EQ(library.devices.front().sentCount, static_cast<int>(tally.phoneSends.size()));

    // Each share counted exactly the downloads that reached the client from the first byte.
    const auto miscounted = [&] {
        std::string wrong;
        for (const Share& share : store->snapshot().shares) {
            wrong += share.downloads == tally.counted[share.token] ? "" : share.title + " ";
        }
        return wrong;
    };
    EXPECT_TRUE(eventually([&] { return miscounted().empty(); })) << "miscounted: " << miscounted();
    // The index is whole and says what the store says.
    EXPECT_EQ(IndexFile::decode(readFile(store->indexURL)), store->snapshot());

    std::printf("[concurrency] %d clients x %d requests, %d rounds of changes by the owner\n", clientCount,
                requests, rounds);
}
