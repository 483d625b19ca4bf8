#!/usr/bin/env python3
"""Builds the sample package .exe and runs it under Wine, then tells what
happened: the boxes and their answers, the files unpacked, the flash
programs' command lines, their verdicts and the restart decision.

The sample's flash programs are replaced by flashstub.exe, which records its
command line and reports the verdicts given below (success, restart wanted),
so the run goes through both flash stages to the restart question.

Usage: demo.py --win64 DIR --fwpack PATH --sample DIR --out DIR [--answer Yes|No]
"""

import argparse
import datetime
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winerun  # noqa: E402
from winerun import Robot, win_path  # noqa: E402

# Both flash programs report success and ask for a restart.
BIOS_VERDICTS = {"RtnStatus": 1, "RtnReboot": 1}
ME_VERDICTS = {"MERtnStatus": 1, "MERtnReboot": 1}


def manifest_value(text, section, key):
    m = re.search(rf"^\[{section}\][^\[]*?^{key}\s*=\s*\"([^\"]*)\"", text, re.M | re.S)
    return m.group(1) if m else None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--win64", required=True)
    ap.add_argument("--fwpack", required=True)
    ap.add_argument("--sample", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--answer", default="No", choices=["Yes", "No"])
    ap.add_argument("--sign-cert", help="sign the package with this PEM certificate (chain)")
    ap.add_argument("--sign-key", help="and this PEM key")
    a = ap.parse_args()

    out = os.path.abspath(a.out)
    src = os.path.join(out, "sample")
    shutil.rmtree(src, ignore_errors=True)
    shutil.copytree(a.sample, src)
    manifest = os.path.join(src, "package.toml")
    text = open(manifest).read()
    tools = manifest_value(text, "windows", "tools") or "win"
    flash = manifest_value(text, "windows", "flash_program")
    me_flash = manifest_value(text, "windows", "me_flash_program")
    stub = os.path.join(a.win64, "flashstub.exe")
    for name in filter(None, (flash, me_flash)):
        shutil.copy2(stub, os.path.join(src, tools, name))

    run_dir = os.path.join(out, "run")
    os.makedirs(run_dir, exist_ok=True)
    package = os.path.join(run_dir, "SAMPLE.exe")
    signing = ["--sign-cert", a.sign_cert, "--sign-key", a.sign_key] if a.sign_cert else []
    subprocess.run([a.fwpack, "build", manifest, "--stub", os.path.join(a.win64, "updater.exe"),
                    "-o", package, *signing], check=True)

    ini = os.path.join(out, "flashstub.ini")
    with open(ini, "w") as f:
        for name, verdicts in ((flash, BIOS_VERDICTS), (me_flash, ME_VERDICTS)):
            if name:
                f.write(f"[{name}]\r\n" + "".join(f"{k}={v}\r\n" for k, v in verdicts.items()))
    stub_log = os.path.join(out, "flashstub.log")
    if os.path.exists(stub_log):
        os.remove(stub_log)
    env = {"FLASHSTUB_CONFIG": win_path(ini), "FLASHSTUB_LOG": win_path(stub_log)}

    print(f"\nRunning {package} under Wine (prefix {out}/wineprefix, private Xvfb display);"
          f" the box robot answers the restart question with {a.answer}.")
    with winerun.wine_session(os.path.join(out, "wineprefix")) as session:
        robot = Robot(session, os.path.join(a.win64, "boxrobot.exe"), os.path.join(out, "robot"),
                      answers=[a.answer])
        trace = os.path.join(out, "trace.txt")
        rc = session.run([package], debug="+process", extra_env=env, stderr_path=trace)
        restarted = "wineboot.exe --kill" in open(trace, "rb").read().decode("latin-1")
        if restarted:
            try:
                winerun.wait_for(lambda: robot.proc.poll() is not None, 20, "the restart")
            except winerun.HarnessError:
                pass
        robot.stop()
        boxes = robot.boxes()
        records = winerun.read_json_lines(stub_log)
        dest = session.host_path(records[0]["cwd"]) if records else None

        print(f"\nExit status: {rc}")
        print("Message boxes:" if boxes else "Message boxes: none")
        for b in boxes:
            text = b["text"].replace("\r\n", " / ")
            print(f"  [{b['caption']}] {text}  ({b['icon']} icon, buttons {b['buttons']}) -> {b['answer']}")
        if dest and os.path.isdir(dest):
            print(f"Files unpacked into {records[0]['cwd']}:")
            for name in sorted(os.listdir(dest)):
                st = os.stat(os.path.join(dest, name))
                when = datetime.datetime.fromtimestamp(st.st_mtime, datetime.timezone.utc)
                print(f"  {name:<14} {st.st_size:>8} bytes  last written {when:%Y-%m-%d %H:%M:%S} UTC")
        print("Flash programs:" if records else "Flash programs: none started")
        for r in records:
            print(f"  {r['program']}: {r['cmdline']}")
            print(f"    working folder {r['cwd']}; image {r['image_size']} bytes, "
                  f"byte sum {r['image_sum16']:#06x}; verdicts written {r['wrote']}")
        if restarted:
            print("Restart decision: restart (ExitWindowsEx started wineboot --kill, "
                  "which ended the Wine session)")
        elif any(b["caption"] == "DadErive" for b in boxes):
            print("Restart decision: asked, answered No: no restart")
        else:
            print("Restart decision: no restart")
    return 0


if __name__ == "__main__":
    sys.exit(main())
