#!/usr/bin/env bash
# Builds Tesk and starts it. Arguments go to tesk, e.g. `bash scripts/run.sh --port 8080`.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target tesk
exec ./build/app/tesk --headless "$@"
