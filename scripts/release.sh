#!/usr/bin/env bash
# Makes the release artifacts in build/release (or OUT):
#   fwpack_VERSION_ARCH.deb      fwpack, its man page and completion, and the
#                                updaters packages are built from (cpack)
#   fwpack-VERSION-win64.zip     fwpack.exe, updater.exe, DOSUPD.EXE, UPDATE.EFI, the README
#                                and the licence
#   SHA256SUMS                   the two above
# Usage: scripts/release.sh [--no-build] [OUT]
#   --no-build: package what build/ holds (the presets must have been built)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

build=yes
if [ "${1:-}" = --no-build ]; then build=no; shift; fi
out=$(realpath -m "${1:-build/release}")

if [ "$build" = yes ]; then
  scripts/setup.sh
  scripts/build.sh dos16 uefi host win64
fi
host=build/host win64=build/win64 dos16=build/dos16 uefi=build/uefi
for f in "$host/fwpack" "$win64/fwpack.exe" "$win64/updater.exe" "$dos16/app/dosupd/DOSUPD.EXE" \
         "$uefi/app/efiupd/UPDATE.EFI"; do
  [ -f "$f" ] || { echo "release.sh: $f is missing; build the presets first" >&2; exit 1; }
done
version=$("$host/fwpack" --version | awk '{print $2}')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A single-mode updater.exe would make packages that fail on DOS: the
# sample built from it must come without the builder's warning.
"$host/fwpack" build examples/sample/package.toml --stub "$win64/updater.exe" \
  -o "$work/probe.exe" >/dev/null 2>"$work/probe.err"
if grep -q "warning:" "$work/probe.err"; then
  cat "$work/probe.err" >&2
  echo "release.sh: $win64/updater.exe is single-mode; configure win64 again after dos16 and host" >&2
  exit 1
fi

rm -rf "$out"
mkdir -p "$out"

# The Debian package: cpack installs the host tree (with the other presets'
# programs) under /usr and declares the libraries it links against.
cpack --config "$host/CPackConfig.cmake" -B "$work/deb" >/dev/null
mv "$work"/deb/*.deb "$out/"

# The Windows zip: one folder, so that fwpack.exe finds updater.exe beside it.
zip_dir=fwpack-$version-win64
mkdir "$work/$zip_dir"
cp "$win64/fwpack.exe" "$win64/updater.exe" "$dos16/app/dosupd/DOSUPD.EXE" "$uefi/app/efiupd/UPDATE.EFI" README.md \
   "$work/$zip_dir/"
licence=$(ls LICENSE LICENSE.* LICENCE COPYING 2>/dev/null | head -n1 || true)
if [ -n "$licence" ]; then
  cp "$licence" "$work/$zip_dir/"
else
  echo "release.sh: warning: the source tree has no LICENSE file; the zip goes out without one" >&2
fi
(cd "$work" && cmake -E tar cf "$out/$zip_dir.zip" --format=zip "$zip_dir")

(cd "$out" && sha256sum -- *.deb *.zip > SHA256SUMS)
echo "release.sh: in $out:"
(cd "$out" && ls -l)
