#!/usr/bin/env bash
# A private PostgreSQL server for tests and benchmarks, from Debian's postgresql package:
#   postgresql.sh start DIR   initdb in a new temporary directory (as the postgres user when run as root),
#                             listen on loopback at a free port, write the base URL to DIR/url
#   postgresql.sh stop DIR    stop it and remove its data
set -euo pipefail
action=${1:?usage: postgresql.sh start|stop DIR}
dir=${2:?usage: postgresql.sh start|stop DIR}
mkdir -p "$dir"
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ]; then
    echo "postgresql.sh: PostgreSQL is not installed (Debian package postgresql; scripts/setup.sh installs it)" >&2
    exit 1
fi
as_owner=()
[ "$(id -u)" -eq 0 ] && as_owner=(runuser -u postgres --)

stop() {
    [ -f "$dir/data" ] || return 0
    local data
    data=$(cat "$dir/data")
    "${as_owner[@]}" "$bin/pg_ctl" -D "$data/cluster" -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$data"
    rm -f "$dir/data" "$dir/url"
}

case "$action" in
start)
    stop
    data=$(mktemp -d /tmp/tesk-postgresql-XXXXXX)
    echo "$data" >"$dir/data"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$data"
    "${as_owner[@]}" "$bin/initdb" -D "$data/cluster" -U postgres --auth=trust --no-sync -E UTF8 \
        >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    # A port taken meanwhile by someone else makes the start fail: try a few.
    for attempt in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 30000))
        if "${as_owner[@]}" "$bin/pg_ctl" -D "$data/cluster" -l "$data/server.log" -w -t 30 \
            -o "-c listen_addresses=127.0.0.1 -p $port -k $data -c max_connections=200" start >/dev/null; then
            echo "postgresql://postgres@127.0.0.1:$port/postgres" >"$dir/url"
            exit 0
        fi
        echo "postgresql.sh: attempt $attempt on port $port failed:" >&2
        tail -n 3 "$data/server.log" >&2 || true
    done
    exit 1
    ;;
stop) stop ;;
*)
    echo "usage: postgresql.sh start|stop DIR" >&2
    exit 2
    ;;
esac
