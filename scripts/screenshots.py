#!/usr/bin/env python3
"""Takes the README's pictures, each from a real run:

  docs/windows-dialog.png  the sample package's dialog under Wine, in a Wine
                           virtual desktop (so the window has its frame),
                           while it unpacks
  docs/dos-updater.png     the DOS updater's screen on an emulated PC (QEMU,
                           FreeDOS), at the restart question after a whole
                           update; QEMU draws the VGA text screen itself

Needs the dos16, host and win64 builds (scripts/build.sh dos16 host win64)
and, for the DOS picture, the FreeDOS boot floppy the PC tests use.
Usage: scripts/screenshots.py [windows] [dos]   (default: both)
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "wine"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "pc"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e", "dosbox"))
import winerun  # noqa: E402
from winerun import win_path  # noqa: E402

BUILD = os.path.join(SOURCE, "build")
FWPACK = os.path.join(BUILD, "host", "fwpack")
WIN64 = os.path.join(BUILD, "win64")
DOS16 = os.path.join(BUILD, "dos16")
DOCS = os.path.join(SOURCE, "docs")
WORK = os.path.join(BUILD, "screenshots")
DESKTOP = "640x420"
FILLER_BYTES = 96 << 20


def sample_with_stand_in_flash(folder):
    """The sample with flashstub.exe as its Windows flash programs."""
    src = os.path.join(folder, "sample")
    shutil.copytree(os.path.join(SOURCE, "examples", "sample"), src)
    for name in ("flash.exe", "meflash.exe"):
        target = os.path.join(src, "win", name)
        if os.path.exists(target):
            shutil.copy2(os.path.join(WIN64, "flashstub.exe"), target)
    # Incompressible bytes, so that unpacking takes long enough to be seen:
    # the dialog shows its progress while it unpacks.
    with open(os.path.join(src, "win", "filler.bin"), "wb") as f:
        f.write(os.urandom(FILLER_BYTES))
    return os.path.join(src, "package.toml")


def windows_picture():
    folder = os.path.join(WORK, "windows")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    package = os.path.join(folder, "SAMPLE.exe")
    subprocess.run([FWPACK, "build", sample_with_stand_in_flash(folder), "--stub",
                    os.path.join(WIN64, "updater.exe"), "-o", package], check=True)
    ini = os.path.join(folder, "flashstub.ini")
    with open(ini, "w") as f:
        f.write("[flash.exe]\r\nRtnStatus=1\r\nRtnReboot=0\r\n")
    env = {"FLASHSTUB_CONFIG": win_path(ini), "FLASHSTUB_LOG": win_path(os.path.join(folder, "stub.log"))}
    shot = os.path.join(folder, "desktop.png")
    with winerun.wine_session(os.path.join(WORK, "wineprefix")) as session:
        proc = session.start(["explorer", f"/desktop=fwpack,{DESKTOP}", package], extra_env=env)
        try:
            photograph_dialog(session, shot)
        finally:
            session.end()
            proc.wait(30)
    save(shot, "windows-dialog.png")


def photograph_dialog(session, shot):
    """Pictures of the Wine desktop until the dialog is on it (many colours
    rather than the empty desktop's one)."""
    display_env = dict(os.environ, DISPLAY=session.display)
    deadline = time.monotonic() + winerun.START_BOUND
    while time.monotonic() < deadline:
        window = subprocess.run(["xdotool", "search", "--name", "Wine desktop"], capture_output=True,
                                text=True, env=display_env).stdout.split()
        if window:
            subprocess.run(["import", "-display", session.display, "-window", window[0], shot], check=True)
            colours = subprocess.run(["identify", "-format", "%k", shot], capture_output=True, text=True)
            if colours.stdout.strip().isdigit() and int(colours.stdout) > 8:
                return
        time.sleep(0.2)
    raise SystemExit("screenshots.py: the dialog did not show on the Wine desktop")


def dos_picture():
    import pcrun
    import updater_cases as cases
    programs = os.path.join(DOS16, "tests", "dosprog")
    cases.TOOLS_DIR = programs
    folder = os.path.join(WORK, "dos")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    pc = pcrun.PC(folder, "qemu", os.path.join(programs, "ENDPC.COM"))
    source = tempfile.mkdtemp(prefix="manifest-", dir=folder)
    package = os.path.join(folder, "PKG.EXE")
    subprocess.run([FWPACK, "build", cases.manifest(source, ()), "--stub", os.path.join(WIN64, "updater.exe"),
                    "-o", package], check=True)
    with open(package, "rb") as f:
        pc.disk.put("PKG.EXE", f.read())
    pc.set_firmware([(0xFFF10000, cases.id_block())])
    ppm = os.path.join(folder, "screen.ppm")
    with pc.start(["PKG"]) as session:
        session.wait_for_text("Update BIOS(Yes/No)?")
        session.send_keys("y")
        session.wait_for_text("Restart System(Yes/No)?")
        session.picture(ppm)
        session.send_keys("n")
        session.wait()
    save(ppm, "dos-updater.png")


def save(picture, name):
    """The picture as a PNG under docs/."""
    os.makedirs(DOCS, exist_ok=True)
    out = os.path.join(DOCS, name)
    subprocess.run(["convert", picture, "-strip", out], check=True)
    print(f"screenshots.py: wrote {os.path.relpath(out, SOURCE)}")


def main():
    wanted = sys.argv[1:] or ["windows", "dos"]
    for name in wanted:
        {"windows": windows_picture, "dos": dos_picture}[name]()
    return 0


if __name__ == "__main__":
    sys.exit(main())
