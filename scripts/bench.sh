#!/usr/bin/env bash
# The Modbus benchmark: RtuLink against libmodbus as master and as slave on linked
# pseudo-terminals. Installs what is missing, builds the benchmark in build-bench-run and runs
# it; extra arguments go to the benchmark program (e.g. --benchmark_filter=MasterRead).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dir=build-bench-run
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLC_SANITIZE=OFF -DPLC_BUILD_TESTS=ON \
      -DPLC_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target modbus_bench
"$dir/bin/modbus_bench" --benchmark_color=false "$@"
# The ECOM benchmark: UdpLink through hei_pas against a simulated module, next to bare UDP.
cmake --build "$dir" -j "$(nproc)" --target ecom_bench
"$dir/bin/ecom_bench" --benchmark_color=false
