#!/usr/bin/env bash
# Configures and builds the Windows cross-build and the host build.
# Usage: scripts/build.sh [preset...]   (default: win64 host)
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 host)
for p in "${presets[@]}"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
done
