"""Runs UEFI applications in the UEFI shell of an emulated PC for the
end-to-end tests.

A run is one boot of QEMU (q35, software CPU) with the firmware in two
flash devices: a copy of the firmware's code with the identification blocks
the case chose written into its erased space, and a fresh copy of its
variables. The first disk is a FAT volume (no partition table) that holds
startup.nsh, the package and the tools; the shell runs startup.nsh from it,
and the harness reads what the run left with mtools. The shell's console is
the machine's serial port on QEMU's standard input and output: the harness
reads it while the machine runs and types keys into it.

startup.nsh writes each recorded step's %lasterror% (hex, as the shell
prints it) to EXITn.TXT and ends the machine with `reset -s`. QEMU runs with
-no-reboot, so a reset by the program ends it too: QEMU ended with no
EXITn.TXT for the step that ran means the program restarted the machine.
"""

import os
import re
import shutil
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "pc"))
from pcimages import MKFS_FAT, FatImage  # noqa: E402
from pcprocess import RUN_BOUND, HarnessError, end_process  # noqa: E402

QEMU = shutil.which("qemu-system-x86_64")
FIRMWARE_FOLDER = "/usr/share/OVMF"
CODE, VARIABLES = "OVMF_CODE_4M.fd", "OVMF_VARS_4M.fd"
# The firmware that checks image signatures, and variables whose db trusts
# the test key beside them (its certificate is in PK, KEK and db).
SECURE_CODE, SECURE_VARIABLES = "OVMF_CODE_4M.secboot.fd", "OVMF_VARS_4M.snakeoil.fd"
TEST_KEY_FOLDER = "/usr/share/ovmf"

# The firmware's code ends at 4 GiB; this part of it is erased (0xFF) and
# may hold a case's blocks without touching code the machine runs.
ERASED_START, ERASED_END = 0xFFEB0000, 0xFFF50000

VOLUME_BYTES = 32 << 20
# The shell waits five seconds before startup.nsh unless a key is typed.
COUNTDOWN = "any other key to continue"
# The terminal's control sequences (cursor, colours) in the console's text.
CONTROL = re.compile(r"\x1b\[[0-9;=?]*[A-Za-z]")
# What the firmware's boot manager prints when it has nothing left to boot.
NOTHING_TO_BOOT = "No bootable option or device was found."
# The shell stops a script at a line it cannot run (a redirection it cannot
# open, a bad flag) and waits at its prompt.
SCRIPT_ERROR = "Script Error Status"


def firmware_path(name):
    return os.path.join(FIRMWARE_FOLDER, name)


def missing_prerequisites(programs):
    """One line per thing a run needs and this computer lacks; programs are
    the files the runs copy in."""
    tools = {"qemu-system-x86_64 (package qemu-system-x86)": QEMU, "mcopy (package mtools)": shutil.which("mcopy"),
             "mkfs.fat (package dosfstools)": MKFS_FAT}
    missing = [tool for tool, found in tools.items() if not found]
    firmware = [firmware_path(n) for n in (CODE, VARIABLES, SECURE_CODE, SECURE_VARIABLES)]
    firmware += [os.path.join(TEST_KEY_FOLDER, n) for n in ("PkKek-1-snakeoil.key", "PkKek-1-snakeoil.pem")]
    missing += [f"{path} (package ovmf)" for path in firmware if not os.path.exists(path)]
    return missing + [path for path in programs if not os.path.exists(path)]


def shell_text(data):
    """A file the shell or a program wrote: UCS-2 after a byte-order mark
    (the shell's redirected output), else single bytes."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    return data.decode("latin-1")


def firmware_code(source, blocks):
    """The firmware's code with each (physical address, bytes) of blocks
    written in its erased space."""
    with open(source, "rb") as f:
        image = bytearray(f.read())
    base = (1 << 32) - len(image)
    for address, data in blocks:
        if address < ERASED_START or address + len(data) > ERASED_END:
            raise HarnessError(f"address {address:#x} is outside the erased flash "
                               f"{ERASED_START:#x}-{ERASED_END - 1:#x}")
        at = address - base
        if set(image[at:at + len(data)]) != {0xFF}:
            raise HarnessError(f"the flash at {address:#x} is not erased in {source}")
        image[at:at + len(data)] = data
    return bytes(image)


def make_volume(path):
    """A blank FAT volume without a partition table; its file system."""
    with open(path, "wb") as f:
        f.truncate(VOLUME_BYTES)
    proc = subprocess.run([MKFS_FAT, "-F", "16", "-i", "20261208", "-n", "UEFIRIG", path],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise HarnessError(f"mkfs.fat: {proc.stderr.strip()}")
    return FatImage(path)


def startup_script(steps, environment):
    """startup.nsh: the first volume as the current folder, the variables
    (volatile, so none outlives the boot), the steps, and the end. A step is
    a line, or (line, n) to record its status in EXITn.TXT."""
    lines = ["fs0:", "cd \\"] + [f"set -v {k} {v}" for k, v in environment.items()]
    for step in steps:
        line, record = step if isinstance(step, tuple) else (step, None)
        lines.append(line)
        if record is not None:
            lines.append(f"echo %lasterror% > \\EXIT{record}.TXT")
    return "\r\n".join(lines + ["reset -s"]) + "\r\n"


@dataclass
class Result:
    codes: dict = field(default_factory=dict)   # recorded step -> its status; absent when not reached
    reset: bool = False                          # the machine ended before the script's end
    console: str = ""                            # the serial console's text, control sequences removed

    @property
    def code(self):
        """The status of the last recorded step that ran."""
        return self.codes[max(self.codes)] if self.codes else None


class UefiPC:
    """An emulated PC with UEFI firmware, in a folder of its own. secure:
    the firmware that checks signatures, with variables that trust the test
    key."""

    def __init__(self, folder, secure=False):
        self.folder = os.path.abspath(folder)
        self.secure = secure
        os.makedirs(self.folder, exist_ok=True)
        self.volume = make_volume(self.path("disk.img"))
        shutil.copyfile(firmware_path(SECURE_VARIABLES if secure else VARIABLES), self.path("vars.fd"))
        self.recorded = []
        self.set_firmware()

    def path(self, name):
        return os.path.join(self.folder, name)

    def set_firmware(self, blocks=()):
        """The flash holds blocks, a list of (physical address, bytes)."""
        with open(self.path("code.fd"), "wb") as f:
            f.write(firmware_code(firmware_path(SECURE_CODE if self.secure else CODE), blocks))

    def read(self, name, missing=None):
        """A file on the volume as text, UCS-2 or not; missing when there is none."""
        data = self.volume.read(name)
        return missing if data is None else shell_text(data)

    def start(self, steps=(), environment=None):
        """Boots with startup.nsh running the steps; the session drives the
        machine while it runs."""
        self.recorded = [s[1] for s in steps if isinstance(s, tuple) and s[1] is not None]
        for n in self.recorded:
            self.volume.delete(f"EXIT{n}.TXT")
        self.volume.put("startup.nsh", startup_script(steps, environment or {}))
        return UefiSession(self)

    def run(self, steps, environment=None):
        """Boots, runs the steps and waits for the machine to end."""
        with self.start(steps, environment) as session:
            return session.wait()

    def codes(self):
        """The recorded steps' statuses that were written."""
        found = {}
        for n in self.recorded:
            text = self.read(f"EXIT{n}.TXT")
            if text is not None:
                found[n] = int(text.strip(), 16)
        return found


class UefiSession:
    """A QEMU run with the shell's console on its standard input and output."""

    def __init__(self, pc):
        self.pc = pc
        machine = "q35,smm=on" if pc.secure else "q35"
        command = [QEMU, "-machine", machine, "-accel", "tcg", "-m", "256", "-nographic", "-no-reboot",
                   "-net", "none",
                   "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={pc.path('code.fd')}",
                   "-drive", f"if=pflash,format=raw,unit=1,file={pc.path('vars.fd')}",
                   "-drive", f"file={pc.path('disk.img')},format=raw,if=ide,index=0"]
        if pc.secure:   # the variables' flash is reachable only from system management mode
            command += ["-global", "driver=cfi.pflash01,property=secure,value=on"]
        self.started = time.monotonic()
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, start_new_session=True)
        self.raw = bytearray()
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        end_process(self.proc)
        self.reader.join()
        self.proc.stdin.close()
        self.proc.stdout.close()
        with open(self.pc.path("console.raw"), "wb") as f:
            f.write(self.raw)

    def _read(self):
        """Collects the console; types a key at the shell's countdown so
        that startup.nsh starts at once."""
        skipped = False
        while True:
            piece = self.proc.stdout.read1(4096)
            if not piece:
                return
            with self.lock:
                self.raw.extend(piece)
            if not skipped and COUNTDOWN in self.console():
                skipped = True
                self.send("\r")

    def console(self):
        """The console's text so far, without control sequences and carriage returns."""
        with self.lock:
            text = self.raw.decode("latin-1")
        return CONTROL.sub("", text).replace("\r", "")

    def send(self, text):
        """Types text at the console."""
        try:
            self.proc.stdin.write(text.encode("latin-1"))
            self.proc.stdin.flush()
        except (BrokenPipeError, ValueError):
            raise HarnessError("the machine ended before the keys were typed") from None

    def left(self):
        return RUN_BOUND - (time.monotonic() - self.started)

    def _guard(self, waiting_for):
        if self.left() <= 0:
            end_process(self.proc)
            raise HarnessError(f"QEMU still running after {RUN_BOUND} s, waiting for {waiting_for}; "
                               f"the console's end:\n{self.console()[-1500:]}")

    def wait_for_text(self, text, after=0):
        """Polls the console until text shows after position after; the
        position just past it."""
        return self.wait_for_any([text], after)[1]

    def wait_for_any(self, texts, after=0):
        """Polls the console until one of texts shows after position after;
        that text and the position just past it."""
        while True:
            self._guard(" or ".join(map(repr, texts)))
            ended = self.proc.poll() is not None
            if ended:
                self.reader.join()
            console = self.console()
            found = [(console.find(t, after), t) for t in texts if console.find(t, after) >= 0]
            if found:
                at, text = min(found)
                return text, at + len(text)
            if ended:
                raise HarnessError(f"QEMU ended (status {self.proc.returncode}) before {texts} showed; "
                                   f"the console's end:\n{console[-1500:]}")
            time.sleep(0.1)

    def wait(self):
        """Waits for the machine to end; the run's result."""
        while self.proc.poll() is None:
            self._guard("the machine's end")
            if SCRIPT_ERROR in self.console():
                end_process(self.proc)
                raise HarnessError(f"the shell stopped startup.nsh: {self.console()[-500:]}")
            time.sleep(0.1)
        self.reader.join()
        if self.proc.returncode != 0:
            raise HarnessError(f"QEMU ended with status {self.proc.returncode}: {self.console()[-500:]}")
        codes = self.pc.codes()
        reset = len(codes) < len(self.pc.recorded)
        return Result(codes, reset, self.console())
