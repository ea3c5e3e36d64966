#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/ and runs each one for a bounded
# time on a scratch copy of its seed corpus. Exits non-zero when any target finds a crash, a leak,
# undefined behaviour or a broken property; the reproducer lands in build-fuzz/artifacts/<target>/.
#
#   bash tests/fuzz/run.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

build=build-fuzz
cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2

# target, longest input, dictionary.
#   http_parse: past the head limit. http_range: a few dozen bytes say all a range value can.
#   index_decode: room for a small library of several records of each kind.
#   device_claim: claim bodies are small; past the name bound many times over.
#   device_text: the target pads bodies marked for it to the byte limit and past it itself.
targets=(
    "http_parse 20000 http.dict"
    "http_range 64 http.dict"
    "index_decode 16384 json.dict"
    "device_claim 4096 json.dict"
    "device_text 4096 json.dict"
)
failed=()
for entry in "${targets[@]}"; do
    read -r name max_len dict <<<"$entry"
    # The committed seeds stay as they are; the fuzzer grows a scratch copy.
    work="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    rm -rf "$work"
    mkdir -p "$work" "$artifacts"
    cp -R "tests/fuzz/corpus/$name/." "$work/"
    echo "== $name: ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1 "$build/${name}_fuzz" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -dict="tests/fuzz/$dict" \
        -artifact_prefix="$artifacts/" "$work"; then
        failed+=("$name")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzzing found problems in: ${failed[*]} (reproducers in $build/artifacts/)" >&2
    exit 1
fi
echo "fuzzing found nothing"
