#!/usr/bin/env bash
# Builds the state decoders' fuzz targets with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, makes a seed corpus with
# the encoders and runs each target for FUZZ_SECONDS (default 60). Any crash,
# sanitizer report or leak makes it fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz

CC=clang CXX=clang++ cmake -G Ninja -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXO_TESTS=OFF -DVEXO_FUZZ=ON -DVEXO_SANITIZE=address,undefined
cmake --build $build --target fuzz_tar_decode fuzz_state_map_decode fuzz_state_archive_decode \
  fuzz_plugin_state_load fuzz_seeds

rm -rf $build/seeds && $build/tests/fuzz/fuzz_seeds $build/seeds
run() {  # target seed-folder
  local corpus=$build/corpus/$1 log=$build/fuzz_$1.log rc=0
  mkdir -p "$corpus"
  echo "--- fuzz_$1 for ${seconds}s"
  $build/tests/fuzz/fuzz_$1 -max_total_time="$seconds" -print_final_stats=1 -detect_leaks=1 \
    -artifact_prefix=$build/ "$corpus" "$build/seeds/$2" >"$log" 2>&1 || rc=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added|Done|SUMMARY)' "$log" || true
  if [ $rc -ne 0 ]; then
    echo "fuzz_$1 failed (exit $rc); the input is in $build/ (crash-*, leak-*, oom-*)"
    tail -40 "$log"
  fi
  return $rc
}
status=0
run tar_decode tar || status=1
run state_map_decode map || status=1
run state_archive_decode archive || status=1
run plugin_state_load state || status=1
exit $status
