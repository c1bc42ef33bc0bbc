#!/usr/bin/env bash
# Pictures of the windowed host for the documentation: plcpanel and its dialogs on a virtual
# display (Xvfb), each against a simulated PLC (plcsim df1 and plcsim ecom, plclink rtulink
# serve) on pseudo-terminal pairs made by socat. The pictures land in docs/screenshots/.
# PLC_BUILD_DIR names another build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-tools.sh
bash scripts/deps.sh screenshots
build_dir=${PLC_BUILD_DIR:-build}
plc_configure "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target plcpanel plclink plcsim rtulink DfLink udplink hei_pas
bin=$build_dir/bin
out=docs/screenshots
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A linked pair of pseudo-terminals: $work/NAME-a for the panel, $work/NAME-b for the PLC.
line() {
  socat "pty,raw,echo=0,link=$work/$1-a" "pty,raw,echo=0,link=$work/$1-b" &
  pids+=($!)
  for _ in $(seq 50); do [ -e "$work/$1-a" ] && [ -e "$work/$1-b" ] && return 0; sleep 0.1; done
  echo "screenshots: socat made no pseudo-terminals for $1" >&2
  return 1
}
# Runs the panel on the virtual display until it has taken its pictures.
panel() {
  xvfb-run -a -s "-screen 0 1280x800x24" env QT_QPA_PLATFORM=xcb "$bin/plcpanel" "$@" --screenshots "$work/shots"
}

# DfLink against the simulated SLC: a few values written first with plclink.
line df1
"$bin/plcsim" df1 --port "$work/df1-b" &
pids+=($!)
sleep 0.5
df1=(--port "$work/df1-a" --settings 19200,n,8,1 --node 0)
"$bin/plclink" DfLink "${df1[@]}" write N7:0 1234 -345 77 >/dev/null
panel DfLink "${df1[@]}" --interval 500 N7:0 N7:1 N7:2 N7:3 N99:0

# RtuLink against plclink serve as the Modbus slave.
line mb
"$bin/plclink" rtulink --port "$work/mb-b" --settings 19200,n,8,1 serve --set 40001=1500 --set 40002=230 \
  --set 40003=65535 --set 00001=1 >/dev/null &
pids+=($!)
sleep 0.5
panel rtulink --port "$work/mb-a" --settings 19200,n,8,1 --interval 500 40001 40002 40003 00001

# UdpLink over ECOM against a simulated module; the CCM window reads V2000 from it.
port=$((30000 + RANDOM % 20000))
"$bin/plcsim" ecom --module "1:PRESS@$port" >/dev/null &
pids+=($!)
sleep 0.5
export HEI_PAS_MODULES=127.0.0.1:$port HEI_PAS_LIBRARY=$PWD/$build_dir/lib/libhei_pas.so
"$bin/plclink" udplink --mode ECOM write V,2000 4660 22136 43981 >/dev/null
panel udplink --mode ECOM --interval 500 V,2000 V,2001 V,2002

mkdir -p "$out"
cp "$work"/shots/*.png "$out"/
ls -l "$out"
