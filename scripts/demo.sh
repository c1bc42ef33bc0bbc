#!/usr/bin/env bash
# The main job: build, then run the demo of every control on the built-in simulated PLCs.
# PLC_BUILD_DIR names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
bash scripts/deps.sh
build_dir=${PLC_BUILD_DIR:-build}
plc_configure "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The demo loads the controls' plug-ins by name, so they are built with it.
cmake --build "$build_dir" -j "$(nproc)" --target plclink rtulink seqlink DfLink udplink
status=0
"$build_dir/bin/plclink" demo "$@" || status=$?
if [ "$status" -eq 0 ]; then
  echo "demo: passed in ${SECONDS} s (build and run)"
else
  echo "demo: FAILED (status $status) after ${SECONDS} s"
fi
exit "$status"
