#!/usr/bin/env bash
# Configures and builds the given presets.
# Usage: scripts/build.sh [preset...]   (default: win64 host)
#        e.g. scripts/build.sh dos16 uefi   (the DOS and the UEFI programs)
#
# win64 is built last: when the dos16 build's DOS program and the host
# build's fwpack are there, its configure puts that program in front of
# updater.exe as its DOS stub (cmake/dual_mode_updater.cmake), so that every
# package is dual-mode; without them it warns.
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 host)
ordered=()
for p in "${presets[@]}"; do [ "$p" = win64 ] || ordered+=("$p"); done
for p in "${presets[@]}"; do [ "$p" != win64 ] || { ordered+=(win64); break; }; done

for p in "${ordered[@]}"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
done
