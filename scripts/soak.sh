#!/usr/bin/env bash
# The soak of each control (bench/soak/SoakMain.cpp): N transactions per control (default
# 100000) against its simulated PLC, about 1% of them with a fault injected at random by a relay
# on the line; then a shorter run of each (default N/10, at most 10000) built with
# AddressSanitizer, whose leak report fills the table's leaks column. Not part of the test run:
# at 100000 transactions a control takes from minutes to the better part of an hour, most of it
# in the time-outs of the injected faults.
#
#   bash scripts/soak.sh [N] [LEAK_N]
#
# Exits non-zero when a control returned a wrong value, lost a transaction no fault explains, left
# a failure without a cause, or leaked.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
n=${1:-100000}
leak_n=${2:-$(( n / 10 > 10000 ? 10000 : (n / 10 > 0 ? n / 10 : 1) ))}
bash scripts/deps.sh
for dir in build-soak build-soak-asan; do
  sanitize=OFF
  [ "$dir" = build-soak-asan ] && sanitize=ON
  plc_configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLC_SANITIZE=$sanitize -DPLC_BUILD_TESTS=ON \
    -DPLC_BUILD_BENCH=ON >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target soak
done

# The four controls run at once, each on its own simulated line: most of a soak is spent waiting
# out the time-outs of injected faults, so they share the machine's cores without slowing each
# other (the serial ones at their line speed).
controls=(RtuLink SeqLink DfLink UdpLink)
status=0
leaks=()
echo "== leaks: $leak_n transactions per control under AddressSanitizer"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pids=()
for control in "${controls[@]}"; do
  ASAN_OPTIONS=detect_leaks=1:exitcode=23 \
    build-soak-asan/bin/soak --control "${control,,}" --transactions "$leak_n" \
    >"$work/$control.asan.out" 2>"$work/$control.asan.err" &
  pids+=($!)
done
for i in "${!controls[@]}"; do
  control=${controls[$i]}
  set +e
  wait "${pids[$i]}"
  code=$?
  set -e
  log=$work/$control.asan.err
  summary=$(grep -m1 '^SUMMARY: AddressSanitizer' "$log" || true)
  if [[ $summary =~ ([0-9]+)\ byte\(s\)\ leaked\ in\ ([0-9]+)\ allocation ]]; then
    leaks+=("$control=${BASH_REMATCH[1]} B")
    status=1
  elif [ -n "$summary" ] || { [ $code -ne 0 ] && [ $code -ne 1 ]; }; then
    leaks+=("$control=error")
    echo "$control under AddressSanitizer (exit $code):"
    tail -n 40 "$log"
    status=1
  else
    leaks+=("$control=0 B")
  fi
  # The run's own table row: a sanitized run must meet the bar too.
  grep -A1 '^control' "$work/$control.asan.out" | tail -n 1
  [ $code -eq 0 ] || status=1
done

echo
echo "== $n transactions per control"
leak_list=$(IFS=,; echo "${leaks[*]}")
pids=()
for control in "${controls[@]}"; do
  build-soak/bin/soak --control "${control,,}" --transactions "$n" --leaks "$leak_list" \
    >"$work/$control.out" 2>"$work/$control.err" &
  pids+=($!)
done
for i in "${!controls[@]}"; do
  wait "${pids[$i]}" || status=1
done
# One table: the header once, then each control's row, its findings and its faults.
grep -m1 '^soak:' "$work/RtuLink.out"
echo
grep -m1 '^control' "$work/RtuLink.out"
for control in "${controls[@]}"; do grep -A1 '^control' "$work/$control.out" | tail -n 1; done
echo
for control in "${controls[@]}"; do
  grep -E '^  (WRONG|LOST|NO CAUSE)' "$work/$control.err" "$work/$control.out" | head -n 20 || true
done
echo "faults struck / failures they caused, and the failures' result codes:"
for control in "${controls[@]}"; do grep -A1 '^faults struck' "$work/$control.out" | tail -n 1; done
exit $status
