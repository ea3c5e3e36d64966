#!/usr/bin/env bash
# "Download all" against a plain download of the same bytes, in one run over loopback: a folder of 64 files
# of 32 MiB (2 GiB) as one .zip, and one 2 GiB file; each timed three times (the best kept), and tesk's
# peak resident memory after both.
# Usage: bash bench/archive_bench.sh   Environment: BUILD_DIR (default build-release).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-release}

export DEBIAN_FRONTEND=noninteractive
command -v curl >/dev/null || apt-get install -y --no-install-recommends curl >/dev/null
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tesk >/dev/null

work=$(mktemp -d /var/tmp/tesk-bench-XXXXXX)
cleanup() {
    [ -n "${tesk_pid:-}" ] && kill "$tesk_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/Photos" "$work/run"
chmod 700 "$work/run"
# Real bytes, not holes: a hole reads back faster than any file would.
head -c $((32 << 20)) /dev/urandom >"$work/Photos/0000.jpg"
for i in $(seq 1 63); do cp "$work/Photos/0000.jpg" "$work/Photos/$(printf %04d "$i").jpg"; done
for i in $(seq 0 63); do cat "$work/Photos/0000.jpg"; done >"$work/whole.mov"

export XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" HOME="$work"
unset DISPLAY WAYLAND_DISPLAY
"$build/ui/tesk" share "$work/Photos" "$work/whole.mov" --port 0 >"$work/tesk.out" 2>&1 &
tesk_pid=$!
for _ in $(seq 600); do grep -q '/s/' "$work/tesk.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^Tesk is sharing at .*:\([0-9]*\)$/\1/p' "$work/tesk.out")
token=$(grep -o '/s/[a-z0-9]*/' "$work/tesk.out" | head -1)
base="http://127.0.0.1:$port$token"
folder=$(curl -s "${base}api" | python3 -c 'import json,sys; print(next(f["id"] for f in json.load(sys.stdin)["folders"] if f["name"] == "Photos"))')
movie=$(curl -s "${base}api" | python3 -c 'import json,sys; print(next(i["id"] for i in json.load(sys.stdin)["items"] if i["name"] == "whole.mov"))')

best() {
    local best=0 speed
    for _ in 1 2 3; do
        speed=$(curl -s -o /dev/null -w '%{speed_download}' "$1")
        best=$(python3 -c "print(max($best, $speed))")
    done
    echo "$best"
}
plain=$(best "${base}f/$movie")
archive=$(best "${base}zip?folder=$folder")
peak=$(sed -n 's/^VmHWM:\s*//p' "/proc/$tesk_pid/status")
python3 - "$plain" "$archive" "$peak" <<'PY'
import sys
plain, archive, peak = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
print(f"plain download of 2 GiB:  {plain / 1e6:8.0f} MB/s")
print(f"Download all, 2 GiB .zip: {archive / 1e6:8.0f} MB/s ({archive / plain:.2f} of plain)")
print(f"tesk peak resident memory: {peak}")
PY
