#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
# Runs apt-get update once, and only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config            # native build
  g++-mingw-w64-x86-64-posix                  # Windows x64 cross build
  wine wine64                                 # runs the Windows tests
  libgtest-dev googletest libbenchmark-dev    # tests (GoogleTest source for the cross build) and benchmarks
  lv2-dev liblilv-dev lilv-utils sordi        # LV2 headers, a real host, lv2apply, lv2_validate
  sox libsox-fmt-all                          # demo and render tests
  clang libclang-rt-14-dev                    # fuzzers (libFuzzer and sanitizer runtimes)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
