#!/usr/bin/env bash
# Every folder includes only from folders below it (or from itself), and no folder's build
# compiles another folder's sources. The layers, lowest first; folders on one line are siblings
# and do not include each other:
#
#   base                         ground types: Variant, errors, dispatch, conversions, checks
#   platform                     OS pieces and the control interface a host drives
#   frame                        what the controls share: serial line, scan, timers, keys
#   modbus directnet df1         the controls
#   ecom                         UdpLink (over the DirectNET engine too)
#   logger screens               the gateway's sinks; screens without a toolkit
#   qt                           the Qt event loop, host and views
#   package                      the installed headers
#   tools                        the programs
#
# <plclink/Version.h> is generated from base/Version.h.in, so it counts as base; the other
# <plclink/...> headers are the package's.
#
#   bash scripts/check-layers.sh      (exit 1 and a line per include that runs back up)
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A rank=([base]=0 [platform]=1 [frame]=2 [modbus]=3 [directnet]=3 [df1]=3 [ecom]=4
                 [logger]=5 [screens]=5 [qt]=6 [package]=7 [tools]=8)
status=0
for folder in "${!rank[@]}"; do
  [ -d "$folder" ] || { echo "layer $folder: no such folder"; status=1; continue; }
  while IFS=: read -r file line text; do
    [[ $text =~ \#include\ [\"\<]([a-z0-9_]+)/([A-Za-z0-9_./]+)[\"\>] ]] || continue
    to=${BASH_REMATCH[1]}
    header=${BASH_REMATCH[2]}
    if [ "$to" = plclink ]; then
      if [ "$header" = Version.h ]; then to=base; else to=package; fi
    fi
    [ -n "${rank[$to]+set}" ] || continue  # a system or third-party header
    [ "$to" = "$folder" ] && continue
    if (( rank[$to] >= rank[$folder] )); then
      echo "$file:$line: $folder (layer ${rank[$folder]}) includes $to/$header (layer ${rank[$to]})"
      status=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' '^[[:space:]]*#include' "$folder" || true)
  # A folder's build compiles its own sources only.
  if [ -f "$folder/CMakeLists.txt" ]; then
    while IFS=: read -r line text; do
      echo "$folder/CMakeLists.txt:$line: compiles another folder's source: $text"
      status=1
    done < <(grep -nE 'CMAKE_SOURCE_DIR\}/[a-z0-9_]+/[^ )]*\.cpp' "$folder/CMakeLists.txt" || true)
  fi
done
[ $status -eq 0 ] && echo "layers: every include runs down"
exit $status
