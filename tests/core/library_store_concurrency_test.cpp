#include "core/index_file.h"
#include "core/library_store.h"
#include "support/file_contents.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <thread>

namespace fs = std::filesystem;

// The subject is the locking, not the disk: on memory the thousands of synced writes cost nothing.
class LibraryStoreConcurrencyTest : public StoreFixture {
protected:
    LibraryStoreConcurrencyTest()
        : StoreFixture(TempDir::memoryBackedBase()) {}
};

TEST_F(LibraryStoreConcurrencyTest, MixedOperationsFromManyThreadsKeepTheIndexWhole) {
    constexpr int threadCount = 8;
    // Operations per thread; TESK_STRESS_OPS overrides it for slow builds (the ThreadSanitizer run).
    const char* stressOps = std::getenv("TESK_STRESS_OPS");
    const int operations = stressOps ? std::max(1, std::atoi(stressOps)) : 500;
    std::vector<std::string> folders;
    for (int i = 0; i < 4; ++i) {
        folders.push_back(store->addFolder("Folder " + std::to_string(i), std::nullopt).id);
    }
    const PairedDevice phone = store->claimPairing(store->newPairingCode().code, "Phone").value();
    const Share counted = store->share(ShareTarget::folder(), ShareDuration::untilStopped, true);
    const auto source = makeFile("source.txt", "some bytes");

    std::atomic<bool> done{false};
    std::atomic<int> snapshots{0}, badSnapshots{0}, added{0}, downloads{0}, phoneSends{0};
    std::thread reader([&] {
        std::int64_t lastDownloads = 0;
        while (!done.load()) {
            const Library library = store->snapshot();
            const auto share = library.share(counted.token);
            std::set<std::string> ids;
            for (const Item& item : library.items) {
                ids.insert(item.id);
            }
            badSnapshots += !share || share->downloads < lastDownloads || ids.size() != library.items.size();
            lastDownloads = share ? share->downloads : lastDownloads;
            ++snapshots;
        }
    });
    std::vector<std::thread> workers;
    for (int t = 0; t < threadCount; ++t) {
        workers.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1);
            const fs::path temporary = dir.path() / ("incoming-" + std::to_string(t)) / "upload.part";
            fs::create_directories(temporary.parent_path());
            std::vector<std::string> mine{store->addText("first", std::nullopt)->id};
            for (int i = 0; i < operations; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                const std::string& folder = folders[random() % folders.size()];
                const std::string own = mine[random() % mine.size()];
                switch (random() % 8) {
                case 0:
                    mine.push_back(store->addFile(source, folder).front().id);
                    break;
                case 1:
                    mine.push_back(store->addText("note " + tag, folder)->id);
                    break;
                case 2:
                    store->renameItem(own, "renamed " + tag + ".txt");
                    break;
                case 3:
                    store->moveItem(own, folder);
                    break;
                case 4:
                    store->share(ShareTarget::item(own), ShareDuration::hour, true);
                    break;
                case 5:
                    store->recordDownload(counted.token);
                    ++downloads;
                    break;
                case 6:
                    std::ofstream(temporary) << tag;
                    mine.push_back(
                        store->receiveFromDevice(temporary, "photo " + tag + ".jpg", phone.token).id);
                    ++phoneSends;
                    break;
                default:
                    mine.push_back(store->receiveText("hello " + tag, phone.token)->id);
                    ++phoneSends;
                }
            }
            added += static_cast<int>(mine.size());
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    done = true;
    reader.join();

    const Library library = store->snapshot();
    EXPECT_EQ(IndexFile::decode(readFile(store->indexURL)), library);
    EXPECT_EQ(library.items.size(), static_cast<std::size_t>(added.load()));
    EXPECT_EQ(library.share(counted.token)->downloads, downloads.load());
    EXPECT_EQ(library.devices.at(0).sentCount, phoneSends.load());
    // Every stored file is where its item says, and nothing else is in "files".
    std::size_t fileItems = 0;
    for (const Item& item : library.items) {
        fileItems += item.kind == ItemKind::file;
        EXPECT_TRUE(item.kind != ItemKind::file || fs::exists(store->filePath(item))) << item.name;
    }
    EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(store->filesDir), {})),
              fileItems);
    // One receiving folder for the phone despite all the concurrent sends.
    EXPECT_EQ(library.folders.size(), folders.size() + 1);
    EXPECT_EQ(static_cast<std::uint64_t>(changes.load()), writes());
    EXPECT_GT(snapshots.load(), 0);
    EXPECT_EQ(badSnapshots.load(), 0);
}
