#!/usr/bin/env bash
# Installs what building and testing AVI Vantrel needs, from Debian's packages. Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev clang-format
    libgtest-dev libgmock-dev googletest
    mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth
    ffmpeg mencoder python3 time
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    if [ "$(id -u)" -ne 0 ]; then
        echo "install-deps: missing packages: ${missing[*]} (run as root or install them)" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
