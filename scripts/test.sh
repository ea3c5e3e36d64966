#!/usr/bin/env bash
# Builds everything and runs every test, the browser tests included; then the core, server and app tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer; fuzzes the HTTP codec; and runs the store tests under
# ThreadSanitizer. Each build has a directory of its own. The relay's tests run on both of its engines: ctest starts a
# private PostgreSQL server for them (scripts/postgresql.sh) and removes it after.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The share page in Debian's Chromium against the real server (playwright-core from npm).
bash tests/e2e/run.sh build

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESK_BUILD_BENCH=OFF \
    -DTESK_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
# The stress test is cut down here too: the Debug sanitizer build is several times slower.
TESK_STRESS_OPS=200 ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

# The fuzz targets (request heads, ranges, the index reader, the claim and text bodies), 30 seconds each
# (clang, libFuzzer, ASan + UBSan).
bash tests/fuzz/run.sh 30

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESK_BUILD_BENCH=OFF \
    -DTESK_SANITIZE=thread
cmake --build build-tsan -j"$jobs" --target core_tests resilience_tests
# The stress tests' operation counts are cut down: ThreadSanitizer makes every access several times slower.
# The store's own tests, then 32 clients against the server while the library changes under them.
TESK_STRESS_OPS=150 TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R 'LibraryStore|ConcurrencyTest'
