#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test:
# the host tests, the same tests under ASan/UBSan, the fuzz targets briefly,
# and the end-to-end runs (Wine, Linux packages, real-mode DOS programs under
# DOSBox and on FreeDOS in emulated PCs). A failing stage does not stop the
# others; the script fails at the end when any of them failed.
set -uo pipefail
cd "$(dirname "$0")/.."

failed=()
stage() {
  local name=$1
  shift
  echo "== test.sh: $name"
  if ! "$@"; then
    echo "== test.sh: $name FAILED"
    failed+=("$name")
  fi
}

scripts/setup.sh || exit 1
scripts/build.sh win64 dos16 uefi host || exit 1
stage "host tests" bash -c 'cd build/host && ctest --output-on-failure -j2 -E "^(wine|fwpack_exe|pc|uefi)\\."'
# The DOS updater on FreeDOS in emulated PCs: at most two machines at once.
# Without the FreeDOS boot floppy (../shared/freedos) the cases say so and
# are skipped.
stage "PC rig (FreeDOS under QEMU and Bochs)" bash -c 'cd build/host && ctest --output-on-failure -j2 -R "^pc\\."'
# The UEFI package in the UEFI shell of emulated PCs (QEMU with the ovmf
# firmware): at most two machines at once.
stage "UEFI rig (the UEFI shell under QEMU)" bash -c 'cd build/host && ctest --output-on-failure -j2 -R "^uefi\\."'
# The Wine cases share one Wine prefix: they run one at a time, after the
# other host tests, so that a loaded machine does not stretch their waits.
stage "Wine cases" bash -c 'cd build/host && ctest --output-on-failure -j1 -R "^wine\\."'
# fwpack.exe under Wine beside the Linux fwpack, in the same Wine prefix.
stage "fwpack.exe under Wine" bash -c 'cd build/host && ctest --output-on-failure -j1 -R "^fwpack_exe\\."'

# The sanitizer pass covers the host code; the end-to-end runs drive the same
# code through real packages and are not repeated there.
stage "ASan/UBSan build and tests" bash -c \
  'scripts/build.sh asan && cd build/asan && ctest --output-on-failure -j2 -LE e2e'

stage "fuzzing" scripts/fuzz.sh 20

if [ ${#failed[@]} -gt 0 ]; then
  echo "== test.sh: failed: ${failed[*]}"
  exit 1
fi
echo "== test.sh: all passed"
