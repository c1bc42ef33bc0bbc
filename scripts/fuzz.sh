#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 600), from its checked-in seed corpus,
# as many at once as there are cores (PLC_FUZZ_JOBS).
# New inputs go to a scratch folder; a crash leaves its input in build-fuzz/findings/ and makes
# the script fail. Builds with clang under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
bash scripts/deps.sh fuzz
dir=${PLC_FUZZ_DIR:-build-fuzz}
source scripts/build-tools.sh
# A folder already configured for fuzzing (the test command's sanitizer build) is used as it is.
if ! grep -q '^PLC_FUZZ:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null; then
  plc_configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DPLC_FUZZ=ON -DPLC_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" --target fuzz_targets
mkdir -p "$dir/findings" "$dir/scratch"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# One target a core at a time: each still gets its full time.
fuzz_one() {
  local target=$1 name seeds log runs
  name=$(basename "$target")
  seeds=tests/fuzz/corpus/$name
  mkdir -p "$dir/scratch/$name"
  local corpora=("$dir/scratch/$name")
  [ -d "$seeds" ] && corpora+=("$seeds")
  log="$dir/findings/$name.log"
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$dir/findings/$name-" \
       "${corpora[@]}" >"$log" 2>&1; then
    runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' || echo '?')
    echo "fuzz $name: ${runs} executions, no finding"
  else
    echo "fuzz $name: FAILED (see $log)"
    tail -n 30 "$log"
    return 1
  fi
}
jobs=${PLC_FUZZ_JOBS:-$(nproc)}
failed=0 ran=0 running=0
for target in "$dir"/fuzz/*; do
  [ -x "$target" ] || continue
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
  fi
  fuzz_one "$target" &
  running=$((running + 1))
  ran=$((ran + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
done
[ "$ran" -gt 0 ] || { echo "fuzz: no targets were built"; exit 1; }
echo "fuzz: $((ran - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
