#!/usr/bin/env bash
# Builds everything and runs every test, then the core tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the store tests under ThreadSanitizer, each in a build directory of
# its own.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESK_CORE_ONLY=ON \
    -DTESK_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESK_CORE_ONLY=ON \
    -DTESK_SANITIZE=thread
cmake --build build-tsan -j"$jobs"
# The stress test's operation count is cut down: ThreadSanitizer makes every access several times slower.
TESK_STRESS_OPS=150 TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R 'LibraryStore'
