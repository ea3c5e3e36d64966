#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Safe to run again: when everything is
# already installed it does nothing; otherwise it updates the package lists once and installs.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    libasio-dev libqrencode-dev libplist-dev qt6-base-dev qt6-svg-dev iproute2 dbus-daemon
    libxcb1-dev zbar-tools fonts-dejavu-core
    libssl-dev zlib1g-dev libdeflate-dev unzip python3 libsqlite3-dev libpq-dev postgresql libcurl4-openssl-dev
    nlohmann-json3-dev libicu-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
