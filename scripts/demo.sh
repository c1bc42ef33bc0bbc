#!/usr/bin/env bash
# The main job: build, then run the demo of every control on the built-in simulated PLCs.
# PLC_BUILD_DIR names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build_dir=${PLC_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The demo loads the controls' plug-ins by name, so they are built with it.
cmake --build "$build_dir" -j "$(nproc)" --target plclink rtulink seqlink DfLink udplink
exec "$build_dir/bin/plclink" demo "$@"
