#!/usr/bin/env bash
# Runs every test: installs what is needed, builds both targets, runs the
# native tests and the Windows tests under Wine, compares a rendering of both
# builds bit for bit and carries saved states between them, runs the tests
# again with AddressSanitizer and UndefinedBehaviorSanitizer and the
# concurrency tests with ThreadSanitizer, and fuzzes the state decoders
# (FUZZ_SECONDS per target, default 60). Exits non-zero when anything fails.
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

# A state saved by one build restores in the other.
cross_state() {
  local dir linux_mod windows_mod out
  dir=$(mktemp -d)
  linux_mod=build/linux/bundles/brume-vexo.lv2/brume-vexo.so
  windows_mod=build/windows/bundles/brume-vexo.lv2/brume-vexo.dll
  build/linux/tests/state_tool save $linux_mod "$dir/linux.state" 3 9 12 >/dev/null &&
    wine build/windows/tests/state_tool.exe save $windows_mod "$dir/windows.state" 11 4 1 >/dev/null || return 1
  out=$(wine build/windows/tests/state_tool.exe load $windows_mod "$dir/linux.state" | tr -d '\r')
  echo "Linux state in the Windows build: $out"
  [ "$out" = "values 3 9 12" ] || return 1
  out=$(build/linux/tests/state_tool load $linux_mod "$dir/windows.state")
  echo "Windows state in the Linux build: $out"
  [ "$out" = "values 11 4 1" ] || return 1
  rm -rf "$dir"
}
step "A saved state crosses between the builds" cross_state

sanitized() {
  cmake -G Ninja -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_SANITIZE=address,undefined,float-cast-overflow &&
    cmake --build build/asan &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build/asan --output-on-failure -j2
}
step "AddressSanitizer and UndefinedBehaviorSanitizer" sanitized

# The concurrency tests under ThreadSanitizer.
threads() {
  cmake -G Ninja -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_SANITIZE=thread &&
    cmake --build build/tsan --target stress_tests vexo_lv2 vexo_vst3_module &&
    TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -R stress_tests
}
step "ThreadSanitizer" threads

step "Fuzzing the state decoders" scripts/fuzz.sh

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
