#!/usr/bin/env bash
# The main job: build, then run the plant gateway on a simulated plant. The four simulators
# start on pseudo-terminal lines (Modbus, DirectNET, DF1) and on loopback (ECOM); the gateway
# runs the plant of examples/plant for a few seconds into SQLite (the ECOM module goes away for
# two of them and comes back); then the trend picture is drawn. It ends with the gateway's
# summary and the paths of the database and the picture. PLC_BUILD_DIR names another build
# folder (default: build); PLC_DEMO_SECONDS the gateway's run (default 8).
# The protocol walk-through of each control stays `build/bin/plclink demo`.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
bash scripts/deps.sh
build_dir=${PLC_BUILD_DIR:-build}
seconds=${PLC_DEMO_SECONDS:-8}
plc_configure "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The gateway loads the controls' plug-ins and the ECOM transport by name, so they are built with it.
cmake --build "$build_dir" -j "$(nproc)" --target plclink plcsim rtulink seqlink DfLink udplink hei_pas
bin=$build_dir/bin
run=$(mktemp -d "${TMPDIR:-/tmp}/plclink-plant-XXXXXX")
pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap stop_all EXIT

# Waits up to 10 s for a line starting with $2 in the file $1.
await() {
  for _ in $(seq 100); do
    grep -q "^$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "demo: $1 never said $2:" >&2
  cat "$1" >&2
  return 1
}
await_path() {
  for _ in $(seq 100); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  echo "demo: $1 never appeared" >&2
  return 1
}

echo "== the simulated plant (in $run)"
for line in press line packer; do
  socat "pty,raw,echo=0,link=$run/$line-plc" "pty,raw,echo=0,link=$run/$line-host" &
  pids+=($!)
done
for line in press line packer; do await_path "$run/$line-host"; done
"$bin/plclink" rtulink --port "$run/press-plc" --settings 19200,n,8,1 --address 1 serve \
  --set 40001=215 --set 40002=1234 --set 40003=220 --set 40004=1500 --set 00001=1 --set 00002=1 >"$run/press.log" 2>&1 &
pids+=($!)
"$bin/plcsim" directnet --port "$run/line-plc" --station 1 --settings 9600,n,8,1 \
  --set 0400=288 --set 0401=5000 >"$run/line.log" 2>&1 &
pids+=($!)
"$bin/plcsim" df1 --port "$run/packer-plc" >"$run/packer.log" 2>&1 &
pids+=($!)
"$bin/plcsim" ecom --module 1:OVEN@0 >"$run/oven.log" 2>&1 &
oven=$!
pids+=($oven)
await "$run/press.log" READY
await "$run/line.log" READY
await "$run/packer.log" READY
await "$run/oven.log" READY
modules=$(sed -n 's/^READY HEI_PAS_MODULES=//p' "$run/oven.log")
export QVL_COM1=$run/press-host QVL_COM2=$run/line-host QVL_COM3=$run/packer-host HEI_PAS_MODULES=$modules
echo "Press  Modbus RTU unit 1      on $QVL_COM1 (plclink rtulink serve)"
echo "Line   DirectNET station 1    on $QVL_COM2 (plcsim directnet)"
echo "Packer DF1 SLC500 node 1      on $QVL_COM3 (plcsim df1)"
echo "Oven   ECOM module 1          at $modules (plcsim ecom)"
# The DF1 PLC and the ECOM module start empty: their values are written as a host writes them.
"$bin/plclink" DfLink --port 3 --node 0 write N7:0 42 17
"$bin/plclink" DfLink --port 3 --node 0 write F8:0 12.5
"$bin/plclink" udplink --mode ECOM write V,2000 1805 1800 65

echo
echo "== plclink gateway examples/plant/plant.ini for $seconds s (the Oven's module is away from 3 s to 5 s)"
status=0
"$bin/plclink" gateway examples/plant/plant.ini --db "$run/plant.db" --seconds "$seconds" &
gateway=$!
sleep 3
kill "$oven"
wait "$oven" 2>/dev/null || true
sleep 2
"$bin/plcsim" ecom --module "1:OVEN@${modules##*:}" >"$run/oven.log" 2>&1 &
pids+=($!)
wait "$gateway" || status=$?

echo
echo "== plclink trend"
"$bin/plclink" trend "$run/plant.db" Press.Pressure Line.Speed Packer.Boxes Oven.Temperature \
  --svg "$run/plant.svg" --title "examples/plant" || status=$?

echo
echo "history: $run/plant.db"
echo "trend:   $run/plant.svg"
if [ "$status" -eq 0 ]; then
  echo "demo: passed in ${SECONDS} s (build and run)"
else
  echo "demo: FAILED (status $status) after ${SECONDS} s"
fi
exit "$status"
