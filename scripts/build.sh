#!/usr/bin/env bash
# Builds the plug-ins for Linux x86-64 (build/linux) and Windows x64
# (build/windows). Extra arguments go to both CMake configurations.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake -G Ninja -S . -B build/linux -DCMAKE_BUILD_TYPE=Release -DVEXO_BENCH=ON "$@"
cmake --build build/linux
cmake -G Ninja -S . -B build/windows -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "$@"
cmake --build build/windows
