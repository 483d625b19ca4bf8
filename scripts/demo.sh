#!/usr/bin/env bash
# Sets up the machine, builds fwpack, builds the sample package .exe and runs
# it under Wine on a private virtual display; a robot answers its message
# boxes, and the script prints what happened: the boxes, the files unpacked,
# the flash programs' command lines, their verdicts and the restart decision.
# Set DEMO_ANSWER=Yes to answer the restart question with Yes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only what the demo runs: the builder, the Windows program and the two
# small Windows helpers that stand in for the user and the flash program.
cmake --preset win64 >/dev/null && cmake --build --preset win64 --target updater boxrobot flashstub
cmake --preset host >/dev/null && cmake --build --preset host --target fwpack
out=build/demo
mkdir -p "$out"
rm -rf "$out/resources"
build/host/fwpack build examples/sample/package.toml --resources-dir "$out/resources"
build/host/fwpack inspect "$out/resources"
if [ ! -f build/win64/updater.exe ]; then
  echo "demo: build/win64/updater.exe is not built yet; showing the resources only"
  exit 0
fi
# A throw-away signer (root, intermediate, code-signing leaf), made once.
[ -f "$out/pki/chain.pem" ] || tests/signing/make_pki.sh "$out/pki" >/dev/null
python3 tests/e2e/wine/demo.py --win64 build/win64 --fwpack build/host/fwpack \
  --sample examples/sample --out "$out" --answer "${DEMO_ANSWER:-No}" \
  --sign-cert "$out/pki/chain.pem" --sign-key "$out/pki/leaf.key"
echo
echo "The package is signed with a throw-away certificate; fwpack inspect shows the signature:"
build/host/fwpack inspect "$out/run/SAMPLE.exe" | sed -n '/^signature$/,$p'
build/host/fwpack verify "$out/run/SAMPLE.exe" --require-signature --trust "$out/pki/root.pem"
# The DOS half: the sample package is built dual-mode with the DOS updater
# in front, and DOSBox runs it with a firmware dump and the stand-in DOS tools.
cmake --preset dos16 >/dev/null && cmake --build --preset dos16 >/dev/null
if [ -f build/dos16/app/dosupd/DOSUPD.EXE ] && command -v dosbox >/dev/null; then
  echo
  echo "The sample package's DOS part under DOSBox:"
  python3 tests/e2e/dosbox/demo_dos.py --fwpack build/host/fwpack --updater build/win64/updater.exe \
    --dos-program build/dos16/app/dosupd/DOSUPD.EXE --dos-tools build/dos16/tests/dosprog \
    --sample examples/sample --out "$out"
fi
