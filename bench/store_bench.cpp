// One store mutation on a large library, index write and sync included, and taking a snapshot of it.
#include "core/atomic_file.h"
#include "core/index_file.h"
#include "core/library_store.h"
#include "sample_library.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

/// A store opened on a large library in a fresh directory under TMPDIR (or /tmp), removed at exit.
class LargeStore {
public:
    LargeStore() {
        std::string pattern = (fs::temp_directory_path() / "tesk-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        dir_ = pattern;
        library_ = sampleLibrary(10'000, 1'000, 1'000, 20);
        AtomicFile::write(dir_ / "library.json", IndexFile::encode(library_));
        store_ = std::make_unique<LibraryStore>(dir_);
    }
    ~LargeStore() {
        store_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    LibraryStore& store() { return *store_; }
    const Library& library() const { return library_; }
    std::uintmax_t indexBytes() const { return fs::file_size(store_->indexURL); }

private:
    fs::path dir_;
    Library library_;
    std::unique_ptr<LibraryStore> store_;
};

LargeStore& largeStore() {
    static LargeStore store;
    return store;
}

void BM_RecordDownload(benchmark::State& state) {
    LargeStore& large = largeStore();
    const std::string token = large.library().shares.front().token;
    for (auto _ : state) {
        large.store().recordDownload(token);
    }
    state.counters["index_bytes"] = static_cast<double>(large.indexBytes());
}
BENCHMARK(BM_RecordDownload)->Unit(benchmark::kMillisecond);

void BM_Snapshot(benchmark::State& state) {
    LargeStore& large = largeStore();
    for (auto _ : state) {
        Library copy = large.store().snapshot();
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond);

} // namespace
