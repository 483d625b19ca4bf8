#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan/UBSan and runs each one
# for the given number of seconds (default 20) on a seed corpus made by the
# builder. Any crash or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
scripts/build.sh fuzz
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  [ -d build/fuzz/seeds/$name ] && cp -n build/fuzz/seeds/$name/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2> build/fuzz/$name.log \
    || { tail -n 40 build/fuzz/$name.log; echo "fuzz: $name failed"; exit 1; }
done
