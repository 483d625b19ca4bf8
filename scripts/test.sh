#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test:
# the host tests, the same tests under ASan/UBSan, the fuzz targets briefly,
# and the end-to-end runs (Wine, Linux packages, real-mode DOS programs under
# DOSBox).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
scripts/build.sh win64 dos16 host
(cd build/host && ctest --output-on-failure -j2)

# The sanitizer pass covers the host code; the end-to-end runs drive the same
# code through real packages and are not repeated there.
scripts/build.sh asan
(cd build/asan && ctest --output-on-failure -j2 -LE e2e)

scripts/fuzz.sh 20
