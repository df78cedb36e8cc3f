#!/usr/bin/env bash
# Builds and runs every test: the native build, the sanitizer build, the Windows build under Wine
# and a bounded fuzzing run of the AVI reader. Build trees go to build/ (or $VANTREL_BUILD_ROOT).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${VANTREL_BUILD_ROOT:-$root/build}
jobs=$(nproc)

bash scripts/install-deps.sh

stage() { printf '\n=== %s\n' "$*"; }

stage "native build and tests"
cmake -S . -B "$out/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_WERROR=ON >/dev/null
ninja -C "$out/native" -j"$jobs"
ctest --test-dir "$out/native" -j"$jobs" --output-on-failure

stage "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
CC=clang CXX=clang++ cmake -S . -B "$out/sanitize" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVANTREL_SANITIZE=ON -DVANTREL_FUZZ=ON -DVANTREL_WERROR=ON >/dev/null
ninja -C "$out/sanitize" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$out/sanitize" -j"$jobs" --output-on-failure

stage "Windows build, tests under Wine"
cmake -S . -B "$out/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
ninja -C "$out/windows" -j"$jobs"
export WINEPREFIX="$out/windows/wineprefix" WINEDEBUG=-all
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1 || true
ctest --test-dir "$out/windows" --output-on-failure

stage "all tests passed"
