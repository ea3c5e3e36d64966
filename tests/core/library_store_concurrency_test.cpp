#include "core/index_file.h"
#include "core/library_store.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

/// Operations per thread; TESK_STRESS_OPS overrides it for slow builds (the ThreadSanitizer run).
int operationsPerThread() {
    const char* text = std::getenv("TESK_STRESS_OPS");
    return text ? std::max(1, std::atoi(text)) : 500;
}

struct Tally {
    int filesAdded = 0;
    int textsAdded = 0;
    int downloads = 0;
    int deviceFiles = 0;
    int deviceTexts = 0;
};

} // namespace

// The subject is the locking, not the disk: on memory the thousands of synced writes cost nothing.
class LibraryStoreConcurrencyTest : public StoreFixture {
protected:
    LibraryStoreConcurrencyTest()
        : StoreFixture(TempDir::memoryBackedBase()) {}
};

TEST_F(LibraryStoreConcurrencyTest, MixedOperationsFromManyThreadsKeepTheIndexWhole) {
    constexpr int threadCount = 8;
    const int operations = operationsPerThread();

    std::vector<std::string> folders;
    for (int i = 0; i < 4; ++i) {
        folders.push_back(store->addFolder("Folder " + std::to_string(i), std::nullopt).id);
    }
    const auto code = store->newPairingCode();
    const PairedDevice phone = store->claimPairing(code.code, "Phone").value();
    const Share counted = store->share(ShareTarget::folder(), ShareDuration::untilStopped, true);
    const auto source = makeFile("source.txt", "some bytes");

    std::atomic<bool> done{false};
    std::atomic<int> snapshots{0};
    std::atomic<int> badSnapshots{0};
    std::thread reader([&] {
        std::int64_t lastDownloads = 0;
        while (!done.load()) {
            const Library library = store->snapshot();
            const auto share = library.share(counted.token);
            std::set<std::string> ids;
            for (const Item& item : library.items) {
                ids.insert(item.id);
            }
            if (!share || share->downloads < lastDownloads || ids.size() != library.items.size()) {
                ++badSnapshots;
            }
            lastDownloads = share ? share->downloads : lastDownloads;
            ++snapshots;
        }
    });

    std::vector<Tally> tallies(threadCount);
    std::vector<std::thread> workers;
    for (int t = 0; t < threadCount; ++t) {
        workers.emplace_back([&, t] {
            Tally& tally = tallies[t];
            std::mt19937 random(static_cast<unsigned>(t) * 7919u + 1);
            std::vector<std::string> mine;
            const fs::path incoming = dir.path() / ("incoming-" + std::to_string(t));
            fs::create_directories(incoming);
            for (int i = 0; i < operations; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                const std::string& folder = folders[random() % folders.size()];
                const std::string* own = mine.empty() ? nullptr : &mine[random() % mine.size()];
                switch (random() % 8) {
                case 0:
                    mine.push_back(store->addFile(source, folder).front().id);
                    ++tally.filesAdded;
                    break;
                case 1:
                    mine.push_back(store->addText("note " + tag, folder)->id);
                    ++tally.textsAdded;
                    break;
                case 2:
                    if (own) {
                        store->renameItem(*own, "renamed " + tag + ".txt");
                    }
                    break;
                case 3:
                    if (own) {
                        store->moveItem(*own, folder);
                    }
                    break;
                case 4:
                    if (own) {
                        store->share(ShareTarget::item(*own), ShareDuration::hour, true);
                    }
                    break;
                case 5:
                    store->recordDownload(counted.token);
                    ++tally.downloads;
                    break;
                case 6: {
                    const fs::path temporary = incoming / "upload.part";
                    std::ofstream(temporary) << tag;
                    mine.push_back(
                        store->receiveFromDevice(temporary, "photo " + tag + ".jpg", phone.token).id);
                    ++tally.deviceFiles;
                    break;
                }
                default:
                    mine.push_back(store->receiveText("hello " + tag, phone.token)->id);
                    ++tally.deviceTexts;
                    break;
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    done = true;
    reader.join();

    Tally total;
    for (const Tally& t : tallies) {
        total.filesAdded += t.filesAdded;
        total.textsAdded += t.textsAdded;
        total.downloads += t.downloads;
        total.deviceFiles += t.deviceFiles;
        total.deviceTexts += t.deviceTexts;
    }
    const Library library = store->snapshot();
    std::ifstream in(store->indexURL);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(IndexFile::decode(text.str()), library);

    EXPECT_EQ(library.items.size(), static_cast<std::size_t>(total.filesAdded + total.textsAdded +
                                                             total.deviceFiles + total.deviceTexts));
    EXPECT_EQ(library.share(counted.token)->downloads, total.downloads);
    EXPECT_EQ(library.devices.at(0).sentCount, total.deviceFiles + total.deviceTexts);
    // Every stored file is where its item says, and nothing else is in "files".
    std::size_t fileItems = 0;
    for (const Item& item : library.items) {
        if (item.kind == ItemKind::file) {
            ++fileItems;
            EXPECT_TRUE(fs::exists(store->filePath(item))) << item.name;
        }
    }
    EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(store->filesDir), {})),
              fileItems);
    // One receiving folder for the phone despite all the concurrent sends.
    EXPECT_EQ(library.folders.size(), folders.size() + 1);
    EXPECT_EQ(static_cast<std::uint64_t>(changes.load()), writes());
    EXPECT_GT(snapshots.load(), 0);
    EXPECT_EQ(badSnapshots.load(), 0);
}
