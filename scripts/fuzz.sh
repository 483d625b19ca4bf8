#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan/UBSan (the libraries
# they exercise carry the fuzzer's coverage instrumentation too) and runs
# each one for the given number of seconds (default 20) on a seed corpus
# made by the builder. Every target runs; any crash or sanitizer report
# fails the script at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
targets=()
for src in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build --preset fuzz --target "${targets[@]}" fwpack

# Seeds: the resources the builder makes from the bundled sample, the four
# tagged ones back to back as a Linux package carries them (the updater and
# the extract path find them anywhere in a file), and whole packages when
# their stubs are built.
seeds=build/fuzz/seeds
rm -rf "$seeds" && mkdir -p "$seeds"
build/fuzz/fwpack build examples/sample/package.toml --resources-dir "$seeds" >/dev/null
{ cat "$seeds"/2000.bin "$seeds"/2002.bin "$seeds"/2003.bin "$seeds"/2004.bin
  head -c 32 /dev/zero; } > "$seeds/tagged.bin"
if [ -f build/win64/updater.exe ]; then
  build/fuzz/fwpack build examples/sample/package.toml \
    --stub build/win64/updater.exe -o "$seeds/package.exe" >/dev/null
fi

failed=()
for name in "${targets[@]}"; do
  target=build/fuzz/tests/fuzz/$name
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  log=build/fuzz/$name.log
  if "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" 2> "$log"; then
    echo "fuzz: $name ${seconds}s: $(grep -m1 -o 'INITED cov: [0-9]* ft: [0-9]*' "$log"), $(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | cut -d' ' -f2) runs"
  else
    tail -n 40 "$log"
    echo "fuzz: $name failed (log: $log)"
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
