#!/usr/bin/env bash
# Installs every Debian package that building and testing fwpack needs.
# Quiet and quick when everything is there; runs apt-get update only when
# something is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config git python3
  zlib1g-dev libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  libcli11-dev libtomlplusplus-dev
  libssl-dev openssl osslsigncode
  softhsm2 opensc libp11-dev libengine-pkcs11-openssl p11-kit-modules
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 xvfb x11-utils xdotool imagemagick icoutils
  util-linux man-db groff-base dpkg-dev
  dosbox dosbox-debug
  qemu-system-x86 seabios bochs bochsbios vgabios bochs-term mtools dosfstools nasm
  ovmf
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

# zlib for the real-mode DOS build comes from Debian's zlib source package.
. scripts/source_package.sh
zlib_dir=build/zlib-src
if ! compgen -G "$zlib_dir/zlib-*/inflate.c" >/dev/null; then
  fetch_source_package zlib "$zlib_dir"
  tar -xf "$zlib_dir"/zlib_*.orig.tar.* -C "$zlib_dir"
  compgen -G "$zlib_dir/zlib-*/inflate.c" >/dev/null || { echo "setup: no zlib sources in $zlib_dir" >&2; exit 1; }
fi

# libcrypto for fwpack.exe, from Debian's openssl source package; built once
# per version and kept under build/mingw-libcrypto.
scripts/mingw_libcrypto.sh
