# Sourced by the scripts: the CMake generator and compiler launcher to configure a build folder
# with. Ninja when it is installed (unless the folder was configured with another generator,
# which CMake cannot change), ccache when it is installed.
# ccache caches the files compiled with a precompiled header (the tests') only when allowed to
# trust the header's macros and time stamps.
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:+$CCACHE_SLOPPINESS,}pch_defines,time_macros"
plc_configure_args() {
  local dir=$1
  local args=()
  if command -v ninja >/dev/null 2>&1; then
    if [ ! -f "$dir/CMakeCache.txt" ] || grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
      args+=(-G Ninja)
    fi
  fi
  if command -v ccache >/dev/null 2>&1; then
    args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  if [ ${#args[@]} -gt 0 ]; then printf '%s\n' "${args[@]}"; fi
}
# plc_configure DIR ARGS...: configures the build folder DIR with the generator and launcher
# above, then ARGS, from the sources here (PLC_SOURCE_DIR names other sources).
plc_configure() {
  local dir=$1
  shift
  local configure
  mapfile -t configure < <(plc_configure_args "$dir")
  cmake -S "${PLC_SOURCE_DIR:-.}" -B "$dir" "${configure[@]}" "$@"
}
