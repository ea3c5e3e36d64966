#!/usr/bin/env bash
# Share links under load, each figure next to nginx (sendfile on) and Python's http.server serving the
# same bytes in the same run:
#   1. one 1 GiB download and 32 concurrent 64 MiB downloads over loopback (and tesk's peak memory);
#   2. GET of a share's "api" for a folder of 200 items, a new connection per request (wrk);
#   3. a 1 GiB upload, against dd writing the same bytes to the same file system.
# Usage: bash bench/share_bench.sh [wrk seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}

export DEBIAN_FRONTEND=noninteractive
for tool in wrk nginx curl python3; do
    command -v "$tool" >/dev/null || apt-get install -y --no-install-recommends wrk nginx-light curl python3 >/dev/null
done
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESK_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target tesk >/dev/null

work=$(mktemp -d /var/tmp/tesk-bench-XXXXXX)
chmod 755 "$work"  # nginx workers read the files as an unprivileged user
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A library with a 1 GiB file, a 64 MiB file, a folder of 200 items and a share of everything.
python3 - "$work" <<'PY'
import json, os, sys, uuid
work = sys.argv[1]
root = os.path.join(work, "data", "Tesk")
os.makedirs(os.path.join(root, "files"))
def stored(name, size):
    item_id = str(uuid.uuid4())
    os.makedirs(os.path.join(root, "files", item_id))
    with open(os.path.join(root, "files", item_id, name), "wb") as f:
        f.truncate(size)
    return item_id
folder = str(uuid.uuid4())
items = [{"id": stored("big.bin", 1 << 30), "kind": "file", "name": "big.bin", "size": 1 << 30, "created": 1},
         {"id": stored("mid.bin", 64 << 20), "kind": "file", "name": "mid.bin", "size": 64 << 20, "created": 2}]
for i in range(200):
    items.append({"id": str(uuid.uuid4()), "folderID": folder, "kind": "text", "name": "Note %d" % i,
                  "size": 12, "created": 10 + i, "content": "Note %d text" % i})
share = {"token": "benchtoken", "target": {"folder": {}}, "created": 0, "duration": "untilStopped",
         "downloads": 0, "allowsUploads": True}
library = {"folders": [{"id": folder, "name": "Two hundred", "created": 0}], "items": items, "shares": [share]}
with open(os.path.join(root, "library.json"), "w") as f:
    json.dump(library, f)
with open(os.path.join(work, "ids"), "w") as f:
    f.write("%s %s %s\n" % (items[0]["id"], items[1]["id"], folder))
PY
read -r big_id mid_id folder_id <"$work/ids"

XDG_DATA_HOME="$work/data" ./build-release/ui/tesk --headless --port 0 >"$work/tesk.out" &
tesk_pid=$!
pids+=("$tesk_pid")
for _ in $(seq 50); do grep -q sharing "$work/tesk.out" 2>/dev/null && break; sleep 0.1; done
tesk_port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/tesk.out" | head -1)
tesk="http://127.0.0.1:$tesk_port/s/benchtoken"

# The same bytes for nginx and Python.
mkdir -p "$work/www"
ln "$work/data/Tesk/files/$big_id/big.bin" "$work/www/big.bin"
ln "$work/data/Tesk/files/$mid_id/mid.bin" "$work/www/mid.bin"
curl -s "$tesk/api?folder=$folder_id" >"$work/www/api.json"
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
nginx_port=$(free_port)
python_port=$(free_port)
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    keepalive_timeout 0;
    server { listen 127.0.0.1:$nginx_port; root $work/www; default_type application/json; }
}
CONF
nginx -c "$work/nginx.conf" -p "$work"
python3 -m http.server --bind 127.0.0.1 "$python_port" --directory "$work/www" >/dev/null 2>&1 &
pids+=("$!")
sleep 1

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
one_download() { curl -s -o /dev/null -w '%{speed_download}' "$1"; }
many_downloads() {
    local start end clients=()
    start=$(date +%s.%N)
    for _ in $(seq 32); do
        curl -s -o /dev/null "$1" &
        clients+=("$!")
    done
    wait "${clients[@]}"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.0f", 32 * 64 * 1048576 / (e - s) }'
}

# Warm the page cache once so that no server pays for the first read alone.
curl -s -o /dev/null "http://127.0.0.1:$python_port/big.bin"
curl -s -o /dev/null "http://127.0.0.1:$python_port/mid.bin"

echo "== 1 GiB download (bytes/s)"
t=$(one_download "$tesk/f/$big_id"); n=$(one_download "http://127.0.0.1:$nginx_port/big.bin")
p=$(one_download "http://127.0.0.1:$python_port/big.bin")
echo "tesk $t  nginx $n  python $p  tesk/nginx $(ratio "$t" "$n")"

echo "== 32 concurrent 64 MiB downloads (bytes/s)"
t=$(many_downloads "$tesk/f/$mid_id"); n=$(many_downloads "http://127.0.0.1:$nginx_port/mid.bin")
echo "tesk $t  nginx $n  tesk/nginx $(ratio "$t" "$n")"
echo "tesk peak resident memory: $(awk '/VmHWM/ {print $2, $3}' /proc/"$tesk_pid"/status)"

echo "== api of a 200-item folder, new connection per request (requests/s)"
measure() { wrk -t2 -c32 -d"${seconds}s" -H "Connection: close" "$1" | awk '/Requests\/sec/ {print $2}'; }
t=$(measure "$tesk/api?folder=$folder_id"); n=$(measure "http://127.0.0.1:$nginx_port/api.json")
p=$(measure "http://127.0.0.1:$python_port/api.json")
echo "tesk $t  nginx $n  python $p  tesk/nginx $(ratio "$t" "$n")  tesk/python $(ratio "$t" "$p")"

echo "== 1 GiB upload (seconds)"
head -c $((1 << 30)) /dev/urandom >"$work/upload.bin"
start=$(date +%s.%N)
dd if="$work/upload.bin" of="$work/data/dd-copy.bin" bs=1M status=none
dd_time=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { print e - s }')
rm -f "$work/data/dd-copy.bin"
start=$(date +%s.%N)
curl -s -o /dev/null -X POST -H "Expect:" -H "X-Tesk-Name: upload.bin" -T "$work/upload.bin" "$tesk/upload"
upload_time=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { print e - s }')
echo "tesk $upload_time  dd $dd_time  dd/tesk (speed ratio) $(ratio "$dd_time" "$upload_time")"
