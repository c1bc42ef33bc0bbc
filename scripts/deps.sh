#!/usr/bin/env bash
# Installs the system packages the build, the tests and the peers need, when any is missing.
set -euo pipefail
packages=(cmake make ninja-build ccache g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          pkg-config libmodbus-dev python3-pymodbus python3-serial python3-serial-asyncio mbpoll nlohmann-json3-dev
          libreadline-dev socat qt6-base-dev xvfb xauth
          libsqlite3-dev sqlite3 libmosquitto-dev mosquitto mosquitto-clients)
# "screenshots": also the fonts the pictures show.
if [ "${1:-}" = screenshots ]; then
  packages+=(fonts-dejavu-core)
fi
# "fuzz": also clang and its libFuzzer runtime.
if [ "${1:-}" = fuzz ]; then
  packages+=(clang libclang-rt-14-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
