#!/usr/bin/env python3
"""Shows the DOS half of a dual-mode sample package under DOSBox: the
package is built with the DOS updater (DOSUPD.EXE) in front of its PE
headers and the stand-in DOS tools of tests/dosprog as its DOS tools (the
sample's own DOS tools are Linux scripts), and DOSBox runs it as
C:\\SAMPLE.EXE with a firmware dump at the top of memory. Prints each
command, its console output and its exit code.

Usage: demo_dos.py --fwpack PATH --updater updater.exe --dos-program DOSUPD.EXE
                   --dos-tools DIR --sample DIR --out DIR
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dosboxrun  # noqa: E402
import updater_cases  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    for name in ("--fwpack", "--updater", "--dos-program", "--dos-tools", "--sample", "--out"):
        ap.add_argument(name, required=True)
    a = ap.parse_args()
    folder = os.path.join(os.path.abspath(a.out), "dosbox")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    box = dosboxrun.DosBox(folder)
    updater_cases.TOOLS_DIR = os.path.abspath(a.dos_tools)
    updater_cases.SAMPLE = os.path.abspath(a.sample)
    manifest = updater_cases.manifest(os.path.join(folder, "manifest"), [])
    subprocess.run([a.fwpack, "build", manifest, "--stub", a.updater, "--dos-program", a.dos_program,
                    "-o", box.path("SAMPLE.EXE")], check=True, stdout=subprocess.DEVNULL)
    box.put("FW.BIN", updater_cases.dump())
    box.put("KEYS.TXT", "n")
    commands = ["SAMPLE /?", "SAMPLE /nopause /bogus", "SAMPLE < KEYS.TXT", "SAMPLE /factory"]
    run = box.run([dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "FW.BIN")] +
                  [f"{c} > OUT{i}.TXT" for i, c in enumerate(commands)])
    print("C:\\>set FWPACK_FIRMWARE_DUMP=FW.BIN   (DOSBox has no flash at the top of memory)\n")
    for i, (command, code) in enumerate(zip(commands, run.exit_codes)):
        print(f"C:\\>{command}")
        print((box.read(f"OUT{i}.TXT") or "").replace("\r\n", "\n").strip("\n"))
        print(f"exit code {code}\n")
    print("What the stand-in DOS tools were run with (CALLS.LOG):")
    print((box.read("CALLS.LOG") or "").replace("\r\n", "\n").rstrip("\n"))
    return 0 if all(c is not None for c in run.exit_codes) else 1


if __name__ == "__main__":
    sys.exit(main())
