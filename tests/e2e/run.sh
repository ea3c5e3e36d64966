#!/usr/bin/env bash
# Browser end-to-end tests: builds e2e_server in the build directory (argument 1, default "build") and
# runs tests/e2e/*.e2e.test.mjs in Debian's Chromium through playwright-core. Screenshots go to
# $TESK_E2E_ARTIFACTS (default BUILD/e2e-artifacts).
set -euo pipefail
cd "$(dirname "$0")/../.."
repo="$(pwd)"
build="${1:-build}"
case "$build" in
/*) ;;
*) build="$repo/$build" ;;
esac

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

# Chromium, and for the relay's launcher test a TLS terminator, a certificate maker and network namespaces.
missing=()
for p in chromium nginx-light openssl iproute2; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    # A fresh machine may have no package lists yet: update only when the plain install fails.
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" ||
        { "${sudo[@]}" apt-get update && "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; }
fi

for tool in node npm; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool (Node.js 20 or later) is required" >&2; exit 1; }
done

# npm ci records what it installed in node_modules/.package-lock.json; older than the lock means stale.
e2e="$repo/tests/e2e"
installed="$e2e/node_modules/.package-lock.json"
if [ ! -f "$installed" ] || [ "$e2e/package-lock.json" -nt "$installed" ] || [ "$e2e/package.json" -nt "$installed" ]; then
    (cd "$e2e" && npm ci --no-audit --no-fund)
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S "$repo" -B "$build" -G Ninja
cmake --build "$build" -j2 --target e2e_server tesk tesk-relay

export TESK_E2E_SERVER="$build/tests/e2e/e2e_server"
export TESK_EXECUTABLE="$build/ui/tesk"
export TESK_RELAY="$build/relay/tesk-relay"
export TESK_E2E_ARTIFACTS="${TESK_E2E_ARTIFACTS:-$build/e2e-artifacts}"
node --test --test-reporter=spec $(ls tests/e2e/*.e2e.test.mjs | grep -v relay_launcher)
# Network namespaces need root.
"${sudo[@]}" env TESK_E2E_SERVER="$TESK_E2E_SERVER" TESK_RELAY="$TESK_RELAY" TESK_E2E_ARTIFACTS="$TESK_E2E_ARTIFACTS" \
    node --test --test-reporter=spec tests/e2e/relay_launcher.e2e.test.mjs
