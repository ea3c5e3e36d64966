// A process changing a library is killed with SIGKILL at random moments; after every kill the index must
// hold a state the store had committed, every item's stored file must be whole, and the next start must
// clear what the killed process left half-written.
#include "core/index_file.h"
#include "crash_sequence.h"
#include "resilience.h"
#include "support/child_process.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>
#include <sys/wait.h>

namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

constexpr int killCount = 50;
constexpr int longestLifeMs = 250;

/// What a killed process may leave besides what the index records: temporary indexes beside
/// library.json, hidden staged copies under files/, and files not whole under a directory of files/ no
/// item refers to.
std::array<int, 3> leftovers(const fs::path& library, const Library& recorded) {
    std::array<int, 3> found{};
    for (const auto& entry : fs::directory_iterator(library)) {
        found[0] += entry.path().filename().string().starts_with(".library.json.");
    }
    for (const auto& entry : fs::directory_iterator(library / "files")) {
        const std::string id = entry.path().filename().string();
        found[1] += id.starts_with(".");
        for (const auto& file : id.starts_with(".") || recorded.item(id)
                                    ? fs::directory_iterator()
                                    : fs::directory_iterator(entry.path())) {
            const int cycle = CrashSequence::cycleOfFile(file.path().filename().string());
            found[2] += cycle < 0 || readFile(file.path()) != CrashSequence::fileContents(cycle);
        }
    }
    return found;
}

/// The crash sequence on a library of its own that nobody kills: the state after `count` operations.
struct Reference {
    const std::vector<std::string>& after(int count) {
        for (; applied < count; ++applied) {
            CrashSequence::apply(store, applied, dir.path());
            states[applied + 1] = CrashSequence::stateOf(store.snapshot());
        }
        // The test only ever asks again from the last count it asked for minus one.
        states.erase(states.begin(), states.lower_bound(count - 1));
        return states.at(count);
    }

    const TempDir dir{TempDir::memoryBackedBase()};
    LibraryStore store{dir.path() / "Tesk"};
    int applied = 0;
    std::map<int, std::vector<std::string>> states{{0, CrashSequence::stateOf(store.snapshot())}};
};

} // namespace

TEST(CrashSafetyTest, KilledAtRandomMomentsTheIndexHoldsWhatWasCommitted) {
    const TempDir dir;
    const fs::path library = dir.path() / "Tesk";
    const fs::path scratch = dir.path() / "scratch";
    fs::create_directories(scratch);
    const auto seed = static_cast<std::uint32_t>(fromEnvironment("TESK_CRASH_SEED", 20240611));
    std::mt19937 random(seed);
    Reference reference;
    int committed = 0;

    for (int round = 0; round < killCount; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round + 1) + " (seed " + std::to_string(seed) + ")");
        int last = committed;
        {
            ChildProcess child(
                {TESK_CRASH_CHILD, library.string(), scratch.string(), std::to_string(committed)});
            const auto until = steady_clock::now() + milliseconds(random() % (longestLifeMs + 1));
            const auto left = [&] {
                return std::max(0ms, duration_cast<milliseconds>(until - steady_clock::now()));
            };
            while (const auto line = child.readLine(left())) {
                last = std::stoi(*line);
            }
            const int status = child.kill();
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "the child ended before it was killed: " << child.readError();
            // Its end of the pipe closed with it: what it reported before dying arrives at once.
            while (const auto line = child.readLine(0ms)) {
                last = std::stoi(*line);
            }
        }

        // The index decodes and holds the reported count of operations, or one more.
        Library onDisk;
        if (fs::exists(library / "library.json")) {
            ASSERT_NO_THROW(onDisk = IndexFile::decode(readFile(library / "library.json")));
        }
        const auto state = CrashSequence::stateOf(onDisk);
        const auto& atLast = reference.after(last);
        const auto& oneMore = reference.after(last + 1);
        ASSERT_NE(atLast, oneMore) << "operation " << last << " leaves no trace: the test cannot tell";
        ASSERT_TRUE(state == atLast || state == oneMore)
            << "the index holds neither " << last << " nor " << last + 1
            << " operations: " << testing::PrintToString(state);
        committed = state == oneMore ? last + 1 : last;

        // Every recorded file is there, whole.
        for (const Item& item : onDisk.items) {
            if (item.kind == ItemKind::file) {
                const int cycle = CrashSequence::cycleOfFile(item.name);
                ASSERT_TRUE(cycle >= 0 && readFile(library / "files" / item.id / item.name) ==
                                              CrashSequence::fileContents(cycle))
                    << item.name << " is missing from files/" << item.id << " or not whole";
            }
        }

        // The next start clears what the kill left half-written, and reads the same library.
        const LibraryStore reopened(library);
        EXPECT_EQ(reopened.snapshot(), onDisk);
        ASSERT_EQ(leftovers(library, onDisk), (std::array<int, 3>{}))
            << "temporary indexes, staged copies and cut-short copies that survived the next start";
    }
    std::printf("[crash safety] %d SIGKILLs (seed %u) over %d operations\n", killCount, seed, committed);
}
