#!/usr/bin/env bash
# Builds the libFuzzer targets with clang under ASan/UBSan and runs each one
# for the given number of seconds (default 20) on a seed corpus made by the
# builder. Any crash or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake --preset fuzz >/dev/null
targets=()
for src in tests/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
cmake --build --preset fuzz --target "${targets[@]}" $( [ -f tools/fwpack/main.cpp ] && echo fwpack )

# Seeds: the resources the builder makes from the bundled sample.
seeds=build/fuzz/seeds
rm -rf "$seeds" && mkdir -p "$seeds"
if [ -x build/fuzz/fwpack ] && [ -f examples/sample/package.toml ]; then
  build/fuzz/fwpack build examples/sample/package.toml --resources-dir "$seeds" >/dev/null
  # Whole packages too, for the container readers, when their stubs are built.
  [ -f build/win64/updater.exe ] && build/fuzz/fwpack build examples/sample/package.toml \
      --stub build/win64/updater.exe -o "$seeds/package.exe" >/dev/null || true
  [ -x build/host/dosupdater ] && build/fuzz/fwpack build examples/sample/package.toml \
      --dos-stub build/host/dosupdater -o "$seeds/package.run" >/dev/null || true
fi
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2> build/fuzz/$name.log \
    || { tail -n 40 build/fuzz/$name.log; echo "fuzz: $name failed"; exit 1; }
done
