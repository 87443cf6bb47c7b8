#!/usr/bin/env bash
# Builds both trees: the Windows program and its tests with mingw-w64 into
# build/win, and the native core, tests, simulator and harness into
# build/native (which finds the Windows build beside it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win -j"$jobs"

cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug \
      -DELQ_WINDOWS_BUILD_DIR="$root/build/win" >/dev/null
cmake --build build/native -j"$jobs"
