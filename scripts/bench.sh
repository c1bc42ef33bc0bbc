#!/usr/bin/env bash
# The benchmarks: RtuLink against libmodbus as master and as slave, SeqLink and DfLink against
# their simulated PLCs next to a bare client on the same linked pseudo-terminals, UdpLink
# through hei_pas against a simulated ECOM module next to bare UDP; then sixteen lines (four of
# each control) polled at once by one thread, and the plant gateway scanning 1000 tags over 16
# lines next to the floor of those lines. Installs what is missing, builds in build-bench-run
# and runs them.
#
#   bash scripts/bench.sh [--before REV] [modbus benchmark arguments, e.g. --benchmark_filter=MasterRead]
#
# --before REV also builds the project as it was at REV (a git revision) in build-bench-before
# and runs the same per-read benchmarks of the four controls on it, after this tree's: the CPU
# and time of a read before and after a change, from one run on one machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
before=""
if [ "${1:-}" = "--before" ]; then
  [ $# -ge 2 ] || { echo "bench.sh: --before wants a git revision" >&2; exit 2; }
  before=$2
  shift 2
  git rev-parse --verify --quiet "$before^{commit}" >/dev/null ||
    { echo "bench.sh: '$before' is no revision of this repository" >&2; exit 2; }
fi
bash scripts/deps.sh
per_read=(modbus_bench seqlink_bench df1_bench ecom_bench)

# build FOLDER SOURCE TARGET...: a benchmark build of the tree at SOURCE.
build() {
  local dir=$1 source=$2
  shift 2
  PLC_SOURCE_DIR=$source plc_configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLC_SANITIZE=OFF \
    -DPLC_BUILD_TESTS=ON -DPLC_BUILD_BENCH=ON >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target "$@"
}

# per_read_benchmarks FOLDER: each control's waiting reads next to its peer or bare client.
per_read_benchmarks() {
  local dir=$1
  shift
  echo "== RtuLink against libmodbus"
  "$dir/bin/modbus_bench" --benchmark_color=false "$@"
  echo "== SeqLink against the simulated DirectNET station"
  "$dir/bin/seqlink_bench" --benchmark_color=false
  echo "== DfLink against the simulated DF1 PLC"
  "$dir/bin/df1_bench"
  echo "== UdpLink (ECOM) against a simulated module"
  "$dir/bin/ecom_bench" --benchmark_color=false
}

dir=build-bench-run
build "$dir" . "${per_read[@]}" sixteen_lines gateway_bench
if [ -n "$before" ]; then
  # The old tree is checked out inside the build folder it is built in, ignored like the builds.
  tree=$PWD/build-bench-before/source
  rm -rf build-bench-before
  git worktree prune
  git worktree add --detach "$tree" "$before" >/dev/null
  trap 'git worktree remove --force "$tree" >/dev/null 2>&1 || true' EXIT
  build build-bench-before/build "$tree" "${per_read[@]}"
fi

echo "#### this tree ($(git rev-parse --short HEAD))"
per_read_benchmarks "$dir" "$@"
echo "== Sixteen lines on one thread: four of each control against their simulated PLCs"
"$dir/bin/sixteen_lines"
echo "== plclink gateway: 1000 tags over 16 Modbus lines, next to the line floor"
"$dir/bin/gateway_bench"
if [ -n "$before" ]; then
  echo "#### before: $before ($(git rev-parse --short "$before"))"
  per_read_benchmarks build-bench-before/build "$@"
fi
