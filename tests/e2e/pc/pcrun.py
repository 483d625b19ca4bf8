"""Runs DOS programs on FreeDOS in emulated PCs for the end-to-end tests.

A run is one boot: a copy of the FreeDOS boot floppy (drive A:) whose
AUTOEXEC.BAT holds the steps, a FAT16 hard disk (drive C:) with the files the
steps use, and a firmware image at the top of the 4 GiB space with whatever
the case put into it (pcimages). The last step's errorlevel goes to ENDPC.COM
(tests/dosprog), which writes it to A:\\EXIT.TXT, flushes DOS's buffers and
switches the machine off; the harness then reads the disks with mtools.

QEMU (software CPU) is the fast machine and can be driven while it runs
(qemu_session): its monitor reads the text screen and types keys. Bochs is
the strict one (bochs_run): it checks real-mode segment limits. Every run is
bounded (pcprocess): a machine still running after RUN_BOUND seconds is
killed and the run fails as a harness failure.
"""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bochs_run import BOCHS, BOCHS_VGABIOS, SCRIPT, run_bochs  # noqa: E402
from pcimages import (FREEDOS_VARIABLE, MACHINE_BIOS, MKFS_FAT, REPO, FatImage, firmware_image,  # noqa: E402,F401
                      freedos_image, make_floppy, make_hard_disk)
from pcprocess import HarnessError, Result  # noqa: E402,F401
from qemu_session import QEMU, QemuSession  # noqa: E402


def missing_prerequisites(machine, programs):
    """One line per thing a run on machine ("qemu" or "bochs") needs and
    this computer lacks; programs are the DOS files the run copies in."""
    image = freedos_image()
    missing = [] if os.path.exists(image) else [f"the FreeDOS boot floppy {image} (set {FREEDOS_VARIABLE})"]
    tools = {"mcopy (package mtools)": shutil.which("mcopy"), "mkfs.fat (package dosfstools)": MKFS_FAT}
    tools.update({"qemu-system-i386 (package qemu-system-x86)": QEMU} if machine == "qemu" else
                 {"bochs (package bochs)": BOCHS, "script (package bsdutils)": SCRIPT})
    missing += [tool for tool, found in tools.items() if not found]
    bios = [MACHINE_BIOS[machine]] + ([BOCHS_VGABIOS] if machine == "bochs" else [])
    missing += [path for path in bios + list(programs) if not os.path.exists(path)]
    return missing


def autoexec(steps, environment):
    """AUTOEXEC.BAT: the variables, the steps on C:\\, and ENDPC with the
    last step's errorlevel. FreeCOM expands %ERRORLEVEL%; an "if errorlevel"
    ladder would do the same but costs FreeCOM a second or more of reading
    the batch file line by line."""
    lines = ["@ECHO OFF"] + [f"SET {k}={v}" for k, v in environment.items()] + ["C:", "CD \\"]
    return "\r\n".join(lines + list(steps) + ["A:\\ENDPC %ERRORLEVEL%"]) + "\r\n"


class PC:
    """An emulated PC's disks and firmware in a folder of its own. machine is
    "qemu" or "bochs"; programs are files copied to A: (ENDPC.COM among them)."""

    def __init__(self, folder, machine, endpc):
        self.folder = os.path.abspath(folder)
        self.machine = machine
        os.makedirs(self.folder, exist_ok=True)
        self.floppy_path = self.path("a.img")
        shutil.copyfile(freedos_image(), self.floppy_path)
        os.chmod(self.floppy_path, 0o644)
        self.floppy = FatImage(self.floppy_path)
        with open(endpc, "rb") as f:
            self.floppy.put("ENDPC.COM", f.read())
        self.disk = make_hard_disk(self.path("c.img"))
        self.write_protected = None   # a floppy image for drive B:, write-protected
        self.bochs_cpu = None         # a Bochs processor model other than its default
        self.set_firmware()

    def path(self, name):
        return os.path.join(self.folder, name)

    def set_firmware(self, blocks=()):
        """The flash holds blocks, a list of (physical address, bytes)."""
        with open(self.path("fw.bin"), "wb") as f:
            f.write(firmware_image(self.machine, blocks))

    def add_write_protected_floppy(self, files):
        """Drive B:, a write-protected 1.44 MB floppy holding files (name: bytes)."""
        self.write_protected = self.path("b.img")
        drive = make_floppy(self.write_protected, "LOCKED")
        for name, data in files.items():
            drive.put(name, data)
        return drive

    def prepare(self, steps, environment=None):
        self.floppy.put("AUTOEXEC.BAT", autoexec(steps, environment or {}))
        self.floppy.delete("EXIT.TXT")

    def run(self, steps, environment=None):
        """Boots, runs the steps and waits for the machine to end."""
        if self.machine == "qemu":
            with self.start(steps, environment) as session:
                return session.wait()
        self.prepare(steps, environment)
        return run_bochs(self)

    def start(self, steps, environment=None):
        """Boots QEMU with the steps; the session drives it while it runs."""
        if self.machine != "qemu":
            raise HarnessError("only QEMU can be driven while it runs")
        self.prepare(steps, environment)
        return QemuSession(self)

    def exit_code(self):
        """The errorlevel ENDPC wrote to A:\\EXIT.TXT, or None."""
        text = self.floppy.read("EXIT.TXT")
        return int(text.split()[0]) if text and text.split() else None
