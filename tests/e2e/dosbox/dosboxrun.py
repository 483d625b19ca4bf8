"""Runs real-mode DOS programs under DOSBox for the end-to-end tests.

Each run gets a fresh folder mounted as drive C:, a batch file RUN.BAT with
the steps, and a DOSBox started headless (SDL's dummy drivers) under
`timeout -k`: a DOSBox wedged by a triple fault ignores SIGTERM. DOSBox's own
exit status is always 0, so the batch file records each step's exit code
with an "if errorlevel" ladder from 255 down in EXITn.TXT.
"""

import os
import shutil
import subprocess
from dataclasses import dataclass, field

DOSBOX = shutil.which("dosbox")
# The same emulator with a log of port writes (and a curses debugger that
# needs a terminal type, though nothing reads its screen).
DOSBOX_DEBUG = shutil.which("dosbox-debug")
# A safety net only: a run that takes this long is hung.
RUN_BOUND = 120

CONFIG = """[sdl]
output=surface
[dosbox]
memsize=16
[cpu]
core=auto
cycles=max
[mixer]
nosound=true
[speaker]
pcspeaker=false
[midi]
mpu401=none
"""


class HarnessError(Exception):
    """DOSBox could not be driven: the test fails."""


@dataclass
class Step:
    """One batch line; its exit code is recorded unless record is False."""
    line: str
    record: bool = True


def Set(name, value=""):
    """A batch line that sets (or with no value removes) a DOS variable."""
    return Step(f"set {name}={value}", record=False)


@dataclass
class Run:
    exit_codes: list = field(default_factory=list)  # one per recorded step; None if not reached
    log: str = ""  # DOSBox's own output (its reboot line, its errors)
    debug_log: str = ""  # dosbox-debug's log, when asked for


def ladder(index):
    """Batch lines that write the last exit code to EXIT<index>.TXT."""
    label = f"x{index}_"
    lines = [f"if errorlevel {n} goto {label}{n}" for n in range(255, 0, -1)]
    lines += [f"echo 0 >EXIT{index}.TXT", f"goto {label}end"]
    for n in range(255, 0, -1):
        lines += [f":{label}{n}", f"echo {n} >EXIT{index}.TXT", f"goto {label}end"]
    return lines + [f":{label}end"]


# Runs a command with drive C: on a file system of a given size: a tmpfs in
# a mount namespace of its own, filled from the drive folder before and
# copied back after. Arguments: size, tmpfs folder, drive folder, command.
SMALL_DRIVE = """size=$1 room=$2 drive=$3; shift 3
mount -t tmpfs -o size="$size" tmpfs "$room" && cp -a "$drive"/. "$room"/ || exit 99
"$@"; status=$?
find "$drive" -mindepth 1 -delete && cp -a "$room"/. "$drive"/ || exit 99
exit $status"""


class DosBox:
    """A drive C: folder and the DOSBox runs made in it; with drive_room,
    drive C: holds only that many bytes (a full disk)."""

    def __init__(self, folder, drive_room=None):
        self.folder = os.path.abspath(folder)
        self.drive = os.path.join(self.folder, "c")
        self.drive_room = drive_room
        os.makedirs(self.drive, exist_ok=True)

    def path(self, name):
        return os.path.join(self.drive, name)

    def put(self, name, data):
        mode = "wb" if isinstance(data, bytes) else "w"
        with open(self.path(name), mode, newline="" if mode == "w" else None) as f:
            f.write(data)

    def read(self, name, missing=None):
        try:
            with open(self.path(name), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return missing

    def run(self, steps, environment=None, debug_log=False):
        """Runs the steps (Step or plain batch lines) in one DOSBox session;
        with debug_log, under dosbox-debug, whose log the result carries."""
        steps = [s if isinstance(s, Step) else Step(s) for s in steps]
        lines = ["@echo off"] + [f"set {k}={v}" for k, v in (environment or {}).items()]
        recorded = 0
        for step in steps:
            lines.append(step.line)
            if step.record:
                lines += ladder(recorded)
                recorded += 1
        for i in range(recorded):
            if os.path.exists(self.path(f"EXIT{i}.TXT")):
                os.remove(self.path(f"EXIT{i}.TXT"))
        self.put("RUN.BAT", "\r\n".join(lines) + "\r\n")
        debug_path = os.path.join(self.folder, "debug.log")
        if os.path.exists(debug_path):
            os.remove(debug_path)
        with open(os.path.join(self.folder, "dosbox.conf"), "w") as f:
            f.write(CONFIG + (f"[log]\nlogfile={debug_path}\n" if debug_log else ""))
        log = self._start(DOSBOX_DEBUG if debug_log else DOSBOX)
        debug = ""
        if debug_log and os.path.exists(debug_path):
            with open(debug_path, "rb") as f:
                debug = f.read().decode("latin-1")
        codes = []
        for i in range(recorded):
            text = self.read(f"EXIT{i}.TXT")
            codes.append(int(text.split()[0]) if text and text.split() else None)
        return Run(codes, log, debug)

    def _start(self, program):
        if not program:
            raise HarnessError("dosbox or dosbox-debug is not installed (scripts/setup.sh installs them)")
        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", TERM="xterm",
                   HOME=self.folder)  # DOSBox writes its default configuration there
        drive = self.drive
        if self.drive_room:
            drive = os.path.join(self.folder, "small")
            os.makedirs(drive, exist_ok=True)
        command = ["timeout", "-k", "5", str(RUN_BOUND), program,
                   "-conf", os.path.join(self.folder, "dosbox.conf"),
                   "-c", f"mount c {drive}", "-c", "c:", "-c", "call RUN.BAT", "-c", "exit"]
        if self.drive_room:
            command = ["unshare", "-Urm", "sh", "-c", SMALL_DRIVE, "sh", str(self.drive_room), drive,
                       self.drive] + command
        proc = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              cwd=self.folder)
        log = (proc.stdout + proc.stderr).decode("latin-1")
        if proc.returncode in (124, 137):
            raise HarnessError(f"DOSBox still running after {RUN_BOUND} s")
        if proc.returncode == 99:
            raise HarnessError(f"drive C: of {self.drive_room} bytes could not be made: {log[-500:]}")
        if proc.returncode != 0:
            raise HarnessError(f"DOSBox failed with status {proc.returncode}: {log[-500:]}")
        return log


def run_cases(argv):
    """Runs the unittest cases named in argv (all when empty): 0 when they
    passed, 77 (ctest's skip) when every one that ran was skipped, else 1."""
    import sys
    import unittest
    result = unittest.main(argv=[sys.argv[0]] + argv, exit=False, verbosity=2).result
    if result.wasSuccessful() and result.testsRun and len(result.skipped) == result.testsRun:
        return 77
    return 0 if result.wasSuccessful() else 1
