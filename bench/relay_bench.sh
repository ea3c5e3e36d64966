#!/usr/bin/env bash
# tesk-relay check-ins with real clients (bench/relay_bench.cpp): computers sign up one at a time, each
# checks in once, then check-ins are timed round robin over all of them, each with three shares and one
# phone, one request per connection. Every run starts from an empty state:
#   old         the relay of e5126a0, which rewrote one JSON file per change, at 100 and 1,000 computers;
#   sqlite      the SQLite store at 1,000 and 20,000 computers;
#   postgresql  two relays on one PostgreSQL database, sign-ups through the first and check-ins through the
#               second, at 1,000 and 20,000 computers.
# Usage: bash bench/relay_bench.sh [old] [sqlite] [postgresql]   (all three when none is named)
# Environment: OLD_RELAY  a tesk-relay built from e5126a0 (else built once from a worktree of it);
#              CHECKINS   timed check-ins per run (default: 20,000 for the new relay, whose check-ins
#                         take well under a millisecond, so that each figure spans seconds; 1,000 for the
#                         old one);
#              BUILD_DIR  (default build-release), JOBS (build jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-release}
jobs=${JOBS:-2}
old_commit=e5126a0
cases=("$@")
[ ${#cases[@]} -eq 0 ] && cases=(old sqlite postgresql)
for name in "${cases[@]}"; do
    case $name in old | sqlite | postgresql) ;; *) echo "unknown configuration: $name" >&2; exit 2 ;; esac
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target tesk-relay relay_bench >/dev/null
relay=$build/relay/tesk-relay
client=$build/bench/relay_bench

# /var/tmp rather than /tmp, which may be memory: the relays' writes should reach a disk.
work=$(mktemp -d /var/tmp/tesk-relay-bench-XXXXXX)
pids=()
postgresql_started=
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ -n "$postgresql_started" ]; then bash scripts/postgresql.sh stop "$work/postgresql" >/dev/null 2>&1 || true; fi
    if [ -d "$work/old-source" ]; then git worktree remove --force "$work/old-source" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The relay to compare with; built once into the build directory when OLD_RELAY does not name one.
old_relay() {
    if [ -n "${OLD_RELAY:-}" ]; then
        old=$OLD_RELAY
        return
    fi
    old=$build/tesk-relay-$old_commit
    [ -x "$old" ] && return
    echo "building tesk-relay of $old_commit" >&2
    git worktree add --detach "$work/old-source" "$old_commit" >/dev/null 2>&1
    cmake -S "$work/old-source" -B "$work/old-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DTESK_BUILD_TESTS=OFF -DTESK_BUILD_BENCH=OFF >/dev/null
    cmake --build "$work/old-build" -j"$jobs" --target tesk-relay >/dev/null
    cp "$work/old-build/relay/tesk-relay" "$old"
    git worktree remove --force "$work/old-source"
}

# start_relay LOG COMMAND...: starts a relay and waits until it listens; sets relay_pid and relay_port.
start_relay() {
    local log=$1
    shift
    "$@" >"$log.out" 2>"$log.err" &
    relay_pid=$!
    pids+=("$relay_pid")
    for _ in $(seq 100); do
        grep -q 'listening on port' "$log.out" && break
        kill -0 "$relay_pid" 2>/dev/null || break
        sleep 0.1
    done
    relay_port=$(sed -n 's/^tesk-relay listening on port \([0-9]*\)$/\1/p' "$log.out")
    if [ -z "$relay_port" ]; then
        echo "tesk-relay did not start: $*" >&2
        cat "$log.err" >&2
        exit 1
    fi
}

# stop_relays PID...: SIGTERM, as systemd stops it; the relay should end with status 0.
stop_relays() {
    local pid status keep other
    for pid in "$@"; do
        kill "$pid"
        status=0
        wait "$pid" || status=$?
        # Its number may go to another process now; cleanup must not signal that one.
        keep=()
        for other in "${pids[@]}"; do [ "$other" = "$pid" ] || keep+=("$other"); done
        pids=("${keep[@]}")
        if [ "$status" -ne 0 ]; then
            echo "tesk-relay (pid $pid) ended with status $status on SIGTERM" >&2
            exit 1
        fi
    done
}

peak_memory() { awk '/^VmHWM:/ { printf "%.0f MB", $2 / 1024 }' "/proc/$1/status"; }
field() { sed -n "s/^$1 .* $2=\([^ ]*\).*/\1/p" "$3"; }

rows=()
# measure LABEL COMPUTERS CHECKINS SIGNUP_PORT CHECKIN_PORT PID...: runs the client, then notes its figures
# and the relays' peak resident memory.
measure() {
    local label=$1 computers=$2 count=${CHECKINS:-$3} signup_port=$4 checkin_port=$5
    shift 5
    local out=$case_dir/bench.out memory=() pid
    # Other work on the machine shows in every figure; the load says how much there was.
    echo "== $label, $computers computers (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    "$client" --signup-port "$signup_port" --checkin-port "$checkin_port" --computers "$computers" \
        --checkins "$count" | tee "$out"
    for pid in "$@"; do memory+=("$(peak_memory "$pid")"); done
    rows+=("$(printf '%-22s %9s %11s %7s %12s %8s %8s  %s' "$label" "$computers" \
        "$(field signups per_second "$out")" "$count" "$(field checkins per_second "$out")" \
        "$(field checkins p50_ms "$out")" "$(field checkins p99_ms "$out")" "${memory[*]}")")
}

new_case() { case_dir=$(mktemp -d "$work/case-XXXXXX"); }

for name in "${cases[@]}"; do
    case $name in
    old)
        old_relay
        for computers in 100 1000; do
            new_case
            start_relay "$case_dir/relay" "$old" --port 0 --data "$case_dir/relay.json"
            measure "json file ($old_commit)" "$computers" 1000 "$relay_port" "$relay_port" "$relay_pid"
            stop_relays "$relay_pid"
        done
        ;;
    sqlite)
        for computers in 1000 20000; do
            new_case
            start_relay "$case_dir/relay" "$relay" --port 0 --store "sqlite:$case_dir/relay.sqlite" \
                --signups-per-hour 0
            measure "sqlite" "$computers" 20000 "$relay_port" "$relay_port" "$relay_pid"
            stop_relays "$relay_pid"
        done
        ;;
    postgresql)
        if [ -z "$postgresql_started" ]; then
            bash scripts/postgresql.sh start "$work/postgresql" >/dev/null
            postgresql_started=1
        fi
        base_url=$(cat "$work/postgresql/url")
        for computers in 1000 20000; do
            new_case
            database=relay_bench_$computers
            psql -q "$base_url" -c "CREATE DATABASE $database"
            store=${base_url%/*}/$database
            # One at a time: the first creates the schema, the second finds it made.
            start_relay "$case_dir/first" "$relay" --port 0 --store "$store" --signups-per-hour 0
            first_pid=$relay_pid first_port=$relay_port
            start_relay "$case_dir/second" "$relay" --port 0 --store "$store" --signups-per-hour 0
            measure "postgresql, 2 relays" "$computers" 20000 "$first_port" "$relay_port" "$first_pid" "$relay_pid"
            stop_relays "$first_pid" "$relay_pid"
        done
        ;;
    esac
done

echo
echo "== check-ins, one request per connection (per second; latency of the timed ones in ms)"
printf '%-22s %9s %11s %7s %12s %8s %8s  %s\n' store computers sign-ups/s timed check-ins/s p50 p99 \
    "peak memory"
printf '%s\n' "${rows[@]}"
