// Encoding and decoding the index of a large library: what every store mutation pays once (encode)
// and start-up pays once (decode).
#include "core/index_file.h"
#include "sample_library.h"

#include <benchmark/benchmark.h>

namespace {

const Library& largeLibrary() {
    static const Library library = sampleLibrary(10'000, 1'000, 1'000, 20);
    return library;
}

void BM_EncodeIndex(benchmark::State& state) {
    const Library& library = largeLibrary();
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string text = IndexFile::encode(library);
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["index_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_EncodeIndex)->Unit(benchmark::kMillisecond);

void BM_DecodeIndex(benchmark::State& state) {
    const std::string text = IndexFile::encode(largeLibrary());
    for (auto _ : state) {
        Library decoded = IndexFile::decode(text);
        benchmark::DoNotOptimize(decoded);
    }
    state.counters["index_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_DecodeIndex)->Unit(benchmark::kMillisecond);

} // namespace
