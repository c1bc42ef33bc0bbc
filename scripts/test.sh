#!/usr/bin/env bash
# The whole test suite: a normal build and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, each configured, built and run with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== build and test"
run_suite build -DPLC_SANITIZE=OFF
echo "== build and test under the sanitizers"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-sanitize -DPLC_SANITIZE=ON
echo "== fuzz targets, a short smoke run each"
bash scripts/fuzz.sh "${PLC_FUZZ_SECONDS:-10}"
