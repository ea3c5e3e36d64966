#!/usr/bin/env bash
# Builds Tesk and starts it: the tray application on a desktop, the headless server elsewhere.
# Arguments go to tesk, e.g. `bash scripts/run.sh --port 8080`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tesk
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [[ " $* " != *" --headless "* ]]; then
    exec ./build/ui/tesk "$@"
fi
exec ./build/ui/tesk --headless "$@"
