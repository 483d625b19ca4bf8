#!/usr/bin/env bash
# Installs every Debian package that building and testing fwpack needs.
# Quiet and quick when everything is there; runs apt-get update only when
# something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git python3
  zlib1g-dev libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  libcli11-dev libtomlplusplus-dev
  libssl-dev openssl osslsigncode
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 xvfb x11-utils xdotool imagemagick icoutils
  util-linux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

# Recommended packages come too: Wine loads several of its X11 and font
# libraries only as recommendations, and the Windows runs need them.
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
