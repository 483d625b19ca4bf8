#!/usr/bin/env bash
# Sets up the machine, builds fwpack and runs the main job on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win64 host
out=build/demo
rm -rf "$out" && mkdir -p "$out/resources"
build/host/fwpack build examples/sample/package.toml --resources-dir "$out/resources"
build/host/fwpack inspect "$out/resources"
