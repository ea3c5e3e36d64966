#!/usr/bin/env bash
# Requests per second for GET "/" with a new connection per request, tesk against nginx serving the
# same bytes from a file, in the same run. Usage: bash bench/http_root_bench.sh [seconds] [connections]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
connections=${2:-32}

for tool in wrk nginx; do
    command -v "$tool" >/dev/null || { export DEBIAN_FRONTEND=noninteractive; apt-get install -y --no-install-recommends wrk nginx-light >/dev/null; }
done
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESK_BUILD_TESTS=OFF >/dev/null
cmake --build build-release -j2 --target tesk >/dev/null

work=$(mktemp -d)
cleanup() {
    [ -n "${tesk_pid:-}" ] && kill "$tesk_pid" 2>/dev/null || true
    [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

XDG_DATA_HOME="$work/data" ./build-release/ui/tesk --headless --port 0 >"$work/tesk.out" &
tesk_pid=$!
for _ in $(seq 50); do grep -q sharing "$work/tesk.out" 2>/dev/null && break; sleep 0.1; done
tesk_port=$(sed -n 's/.*:\([0-9]*\)$/\1/p' "$work/tesk.out" | head -1)

mkdir -p "$work/www"
exec 3<>/dev/tcp/127.0.0.1/"$tesk_port"
printf 'GET / HTTP/1.1\r\nHost: x\r\n\r\n' >&3
sed '1,/^\r$/d' <&3 >"$work/www/index.html"
exec 3<&-

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
nginx_port=$(free_port)
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_timeout 0;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
        default_type text/html;
    }
}
CONF
nginx -c "$work/nginx.conf" -p "$work"
sleep 0.5

measure() { wrk -t2 -c"$connections" -d"${seconds}s" -H "Connection: close" "$1" | awk '/Requests\/sec/ {print $2}'; }
tesk_rps=$(measure "http://127.0.0.1:$tesk_port/")
nginx_rps=$(measure "http://127.0.0.1:$nginx_port/index.html")
echo "body bytes: $(wc -c <"$work/www/index.html")"
echo "tesk:  $tesk_rps requests/s"
echo "nginx: $nginx_rps requests/s"
awk -v t="$tesk_rps" -v n="$nginx_rps" 'BEGIN { printf "ratio: %.2f\n", t / n }'
