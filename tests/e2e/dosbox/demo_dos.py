#!/usr/bin/env python3
"""Shows the DOS half of a dual-mode sample package under DOSBox: the
package is built with a DOS program in front of its PE headers, and DOSBox
runs it as C:\\SAMPLE.EXE. Prints each command, its console output and its
exit code.

Usage: demo_dos.py --fwpack PATH --updater updater.exe --dos-program MZ --sample DIR --out DIR
"""
import argparse
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dosboxrun  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    for name in ("--fwpack", "--updater", "--dos-program", "--sample", "--out"):
        ap.add_argument(name, required=True)
    a = ap.parse_args()
    folder = os.path.join(os.path.abspath(a.out), "dosbox")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    box = dosboxrun.DosBox(folder)
    package = box.path("SAMPLE.EXE")
    subprocess.run([a.fwpack, "build", os.path.join(a.sample, "package.toml"), "--stub", a.updater,
                    "--dos-program", a.dos_program, "-o", package], check=True,
                   stdout=subprocess.DEVNULL)
    commands = ["SAMPLE switches /?", "SAMPLE switches /nopause /bogus", "SAMPLE scan"]
    run = box.run([f"{c} > OUT{i}.TXT" for i, c in enumerate(commands)])
    for i, (command, code) in enumerate(zip(commands, run.exit_codes)):
        print(f"C:\\>{command}")
        print((box.read(f"OUT{i}.TXT") or "").replace("\r\n", "\n").rstrip("\n"))
        print(f"exit code {code}\n")
    return 0 if all(c is not None for c in run.exit_codes) else 1


if __name__ == "__main__":
    sys.exit(main())
