#!/usr/bin/env bash
# The whole test suite: a normal build and a build under AddressSanitizer and
# UndefinedBehaviorSanitizer, each configured, built and run with CTest, then a short run of
# every fuzz target; between the builds, the main job (scripts/demo.sh) runs once on the normal
# build. The sanitizer build is clang's and also holds the fuzz targets, so the
# project is compiled twice, not three times. Ends with the tests passed and failed in each
# build, then in all.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
bash scripts/deps.sh fuzz || exit 1
jobs=$(nproc)
summary=()
failed=0
all_passed=0 all_failed=0
failed_names=()

run_suite() {
  local name=$1 dir=$2; shift 2
  local log
  if ! plc_configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null ||
     ! cmake --build "$dir" -j "$jobs"; then
    summary+=("$name: build FAILED")
    failed=1
    return
  fi
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure -j "$jobs") | tee "$log"
  local total nfailed
  total=$(grep -Eo 'out of [0-9]+' "$log" | grep -Eo '[0-9]+' | tail -1)
  nfailed=$(grep -Eo '[0-9]+ tests failed' "$log" | grep -Eo '[0-9]+' | tail -1)
  # CTest names the failed tests only far above the last lines; keep them for the summary.
  local names
  mapfile -t names < <(sed -n '/The following tests FAILED:/,$p' "$log" |
    sed -nE "s/^[[:space:]]*[0-9]+ - ([^ ]+) .*/$name: \1/p")
  failed_names+=("${names[@]}")
  rm -f "$log"
  if [ -z "$total" ] || [ -z "$nfailed" ]; then
    summary+=("$name: no tests ran")
    failed=1
    return
  fi
  summary+=("$name: $((total - nfailed)) passed, $nfailed failed")
  all_passed=$((all_passed + total - nfailed))
  all_failed=$((all_failed + nfailed))
  [ "$nfailed" -eq 0 ] || failed=1
}

echo "== build and test"
run_suite build build -DPLC_SANITIZE=OFF
# The main job on the normal build, so that a change that breaks it fails here too.
echo "== the main job: scripts/demo.sh"
if bash scripts/demo.sh; then summary+=("demo: passed"); else summary+=("demo: FAILED"); failed=1; fi
echo "== build and test under the sanitizers"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# CMake cannot switch a folder to another compiler: a sanitizer build made by gcc starts anew.
if [ -f build-sanitize/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' build-sanitize/CMakeCache.txt; then
  rm -rf build-sanitize
fi
run_suite sanitizers build-sanitize -DPLC_SANITIZE=ON -DPLC_FUZZ=ON -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++
echo "== fuzz targets, a short smoke run each"
fuzz_log=$(mktemp)
if PLC_FUZZ_DIR=build-sanitize bash scripts/fuzz.sh "${PLC_FUZZ_SECONDS:-10}" | tee "$fuzz_log"; then :
else failed=1; fi
fuzz_line=$(grep -E '^fuzz: ' "$fuzz_log" | tail -1)
rm -f "$fuzz_log"
summary+=("${fuzz_line:-fuzz: FAILED before running}")
[ -n "$fuzz_line" ] || failed=1

if [[ $fuzz_line =~ ([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
  all_passed=$((all_passed + BASH_REMATCH[1]))
  all_failed=$((all_failed + BASH_REMATCH[2]))
fi

for failed_name in "${failed_names[@]}"; do echo "FAILED $failed_name"; done
joined=$(printf '%s; ' "${summary[@]}")
echo "${joined%; } (${SECONDS} s)"
# The last line, in the one form every reader of test logs understands.
echo "tests: $all_passed passed, $all_failed failed"
exit "$failed"
