#!/usr/bin/env bash
# The benchmarks: RtuLink against libmodbus as master and as slave, SeqLink and DfLink against
# their simulated PLCs next to a bare client on the same linked pseudo-terminals, UdpLink
# through hei_pas against a simulated ECOM module next to bare UDP; then sixteen lines (four of
# each control) polled at once by one thread, and the plant gateway scanning 1000 tags over 16
# lines next to the floor of those lines. Installs what is missing,
# builds in build-bench-run and runs them; extra arguments go to the Modbus benchmark (e.g.
# --benchmark_filter=MasterRead).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
bash scripts/deps.sh
dir=build-bench-run
plc_configure "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLC_SANITIZE=OFF -DPLC_BUILD_TESTS=ON \
  -DPLC_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target modbus_bench seqlink_bench df1_bench ecom_bench \
  sixteen_lines gateway_bench
echo "== RtuLink against libmodbus"
"$dir/bin/modbus_bench" --benchmark_color=false "$@"
echo "== SeqLink against the simulated DirectNET station"
"$dir/bin/seqlink_bench" --benchmark_color=false
echo "== DfLink against the simulated DF1 PLC"
"$dir/bin/df1_bench"
echo "== UdpLink (ECOM) against a simulated module"
"$dir/bin/ecom_bench" --benchmark_color=false
echo "== Sixteen lines on one thread: four of each control against their simulated PLCs"
"$dir/bin/sixteen_lines"
echo "== plclink gateway: 1000 tags over 16 Modbus lines, next to the line floor"
"$dir/bin/gateway_bench"
