#!/usr/bin/env bash
# Runs every test: installs what is needed, builds both targets, runs the
# native tests, the Windows tests under Wine, compares a rendering of both
# builds bit for bit, and runs the tests again built with AddressSanitizer
# and UndefinedBehaviorSanitizer. Exits non-zero when anything fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

passed=0
failed=0
failures=()
step() {  # name command...
  local name=$1
  shift
  echo
  echo "=== $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
  fi
}

scripts/install-deps.sh || exit 1
scripts/build.sh || exit 1

export WINEDEBUG=-all
wineboot -i >/dev/null 2>&1 || true

step "Linux tests" ctest --test-dir build/linux --output-on-failure -j2
step "Windows tests (Wine)" ctest --test-dir build/windows --output-on-failure

# The same test signal through the Linux and the Windows module must give the
# same bits.
compare_builds() {
  local linux windows
  linux=$(build/linux/tests/render_checksum build/linux/bundles/brume-vexo.lv2/brume-vexo.so) || return 1
  windows=$(wine build/windows/tests/render_checksum.exe build/windows/bundles/brume-vexo.lv2/brume-vexo.dll | tr -d '\r') || return 1
  echo "linux:   $linux"
  echo "windows: $windows"
  [ -n "$linux" ] && [ "$linux" = "$windows" ]
}
step "Linux and Windows render the same bits" compare_builds

sanitized() {
  cmake -G Ninja -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_SANITIZE=address,undefined,float-cast-overflow &&
    cmake --build build/asan &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build/asan --output-on-failure -j2
}
step "AddressSanitizer and UndefinedBehaviorSanitizer" sanitized

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
