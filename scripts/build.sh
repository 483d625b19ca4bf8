#!/usr/bin/env bash
# Configures and builds the Windows cross-build and the host build.
# Usage: scripts/build.sh [preset...]   (default: win64 host)
#
# win64 is built last: when the dos16 build's DOS program and the host
# build's fwpack are there, updater.exe gets that program as its DOS stub.
set -euo pipefail
cd "$(dirname "$0")/.."

# The DOS program in front of updater.exe's PE headers: the DOS updater
# itself, so that every package is dual-mode.
dos_stub_program=build/dos16/app/dosupd/DOSUPD.EXE
host_fwpack=build/host/fwpack

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 host)
ordered=()
for p in "${presets[@]}"; do [ "$p" = win64 ] || ordered+=("$p"); done
for p in "${presets[@]}"; do [ "$p" != win64 ] || { ordered+=(win64); break; }; done

for p in "${ordered[@]}"; do
  options=()
  if [ "$p" = win64 ]; then
    if [ -f "$dos_stub_program" ] && [ -x "$host_fwpack" ]; then
      options=(-DFWPACK_DOS_STUB_PROGRAM="$PWD/$dos_stub_program"
               -DFWPACK_HOST_FWPACK="$PWD/$host_fwpack")
    else
      echo "build.sh: no $dos_stub_program or $host_fwpack: updater.exe keeps the linker's DOS stub"
      options=(-DFWPACK_DOS_STUB_PROGRAM=)
    fi
  fi
  cmake --preset "$p" "${options[@]}" >/dev/null
  cmake --build --preset "$p"
done
