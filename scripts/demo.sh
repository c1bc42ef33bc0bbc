#!/usr/bin/env bash
# The main job: build, then run the demo of every control on the built-in simulated PLCs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target plclink
exec build/bin/plclink demo "$@"
