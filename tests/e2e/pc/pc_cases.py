#!/usr/bin/env python3
"""The DOS updater on FreeDOS in emulated PCs: a package (DOSUPD.EXE in
front of its resources) and the stand-in DOS tools on drive C:, the
firmware's identification block in the machine's flash below 4 GiB, no dump
file. QEMU runs most cases and types the answers; Bochs, which checks
real-mode segment limits, runs a whole update and the negative control of
flat real mode.

Usage: pc_cases.py --dos16 BUILD_DIR --work DIR --fwpack PATH [--win64 DIR]
                   [unittest names...]
Exits 77 (skipped) with one line naming what is missing: the FreeDOS boot
floppy, an emulator, mtools, the dos16 programs or fwpack.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "dosbox"))
import pcrun  # noqa: E402
import updater_cases as dosbox_cases  # noqa: E402  (the package manifest and the identification block)

DOSUPD = PROGRAMS = WORK = FWPACK = UPDATER = None

# One address in each range the updater searches for the block, in search
# order. The first lies above 0xFFF00000, where address line 20 is set: with
# A20 off the read would land 1 MiB lower. Bochs's flash reaches down to
# 0xFFE00000 only, inside the last range.
RANGE_ADDRESSES = [0xFFF10000, 0xFFE40000, 0xFFDB1230]
BOCHS_RANGE_ADDRESSES = [0xFFF10000, 0xFFE40000, 0xFFE01230]

WHOLE_UPDATE = ["dosflash.exe bios.bin /P /B", "meinfo.exe", "meupd.exe -F me.bin"]
# What the harness puts on C: before a run; everything else a run left.
HARNESS_FILES = {"PKG.EXE", "OUT.TXT", "KEYS.TXT"}


class PcCase(unittest.TestCase):
    MACHINE = "qemu"

    def setUp(self):
        name = self.id().split(".")[-1]
        folder = tempfile.mkdtemp(prefix=f"{self.MACHINE}-{name}-", dir=WORK)
        self.pc = pcrun.PC(folder, self.MACHINE, os.path.join(PROGRAMS, "ENDPC.COM"))
        self.package()
        self.flash(RANGE_ADDRESSES[0])

    def tearDown(self):
        if not os.environ.get("KEEP_PC_RUNS"):  # set it to look at a run's disks
            shutil.rmtree(self.pc.folder, ignore_errors=True)

    def flash(self, address, **fields):
        """The machine's flash holds an identification block (A04 on
        BOARD-X unless told) at address; None: no block at all."""
        blocks = [] if address is None else [(address, dosbox_cases.id_block(**fields))]
        self.pc.set_firmware(blocks)

    def package(self, flags=()):
        """PKG.EXE on C:: a dual-mode package when the win64 build's
        updater.exe is there (what ships), else DOSUPD.EXE with the
        resources appended; the DOS side runs the same program either way."""
        source = tempfile.mkdtemp(prefix="manifest-", dir=self.pc.folder)
        out = os.path.join(self.pc.folder, "PKG.EXE")
        stub = ["--stub", UPDATER, "--dos-program", DOSUPD] if UPDATER else ["--dos-stub", DOSUPD]
        r = subprocess.run([FWPACK, "build", dosbox_cases.manifest(source, flags), *stub, "-o", out],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            self.pc.disk.put("PKG.EXE", f.read())

    def run_updater(self, tail, keys=None, environment=None):
        """One boot running PKG with tail, its console redirected to
        OUT.TXT (and its input from KEYS.TXT when keys are given); the
        run's result and console text."""
        line = f"PKG {tail}".rstrip()
        if keys is not None:
            self.pc.disk.put("KEYS.TXT", keys)
            line += " < KEYS.TXT"
        result = self.pc.run([line + " > OUT.TXT"], environment)
        return result, self.pc.disk.read("OUT.TXT", "")

    def calls(self):
        return self.pc.disk.read("CALLS.LOG", "").splitlines()

    def left(self):
        """What the run left on C: besides the harness's own files."""
        return sorted(set(self.pc.disk.names()) - HARNESS_FILES)


class Firmware(PcCase):
    """The block read from flash in each range, no dump file."""

    def test_a_whole_update_with_the_block_in_the_first_range(self):
        result, out = self.run_updater("/factory")
        self.assertEqual(result.code, 0, out)
        self.assertIn("\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05", out)
        self.assertEqual(self.calls(), WHOLE_UPDATE)

    def test_the_block_in_the_second_and_third_ranges(self):
        for address in RANGE_ADDRESSES[1:]:
            with self.subTest(address=hex(address)):
                self.flash(address)
                result, out = self.run_updater("", keys="n")
                self.assertEqual(result.code, 12, out)
                self.assertIn("\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05", out)
                self.assertEqual(self.calls(), [])


class Outcomes(PcCase):
    def test_the_same_version_in_flash(self):
        self.flash(RANGE_ADDRESSES[0], version="A05")
        result, out = self.run_updater("/nopause")
        self.assertEqual(result.code, 10, out)
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.left(), [])

    def test_no_block_in_flash(self):
        self.flash(None)
        result, out = self.run_updater("/nopause")
        self.assertEqual(result.code, 9, out)
        self.assertIn("\r\nThe Current System:\r\nThe File System:BOARD-X", out)
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.left(), [])


class Restart(PcCase):
    def test_no_pause_ends_with_a_machine_reset(self):
        result, _ = self.run_updater("/nopause")
        self.assertTrue(result.reset, "the machine was not reset")
        self.assertIsNone(self.pc.exit_code())   # the batch went no further


def main():
    global DOSUPD, PROGRAMS, WORK, FWPACK, UPDATER
    parser = argparse.ArgumentParser()
    parser.add_argument("--dos16", required=True, help="the dos16 build folder")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fwpack", required=True)
    parser.add_argument("--win64", help="the win64 build folder")
    args, rest = parser.parse_known_args()
    dos16 = os.path.abspath(args.dos16)
    DOSUPD = os.path.join(dos16, "app", "dosupd", "DOSUPD.EXE")
    PROGRAMS = os.path.join(dos16, "tests", "dosprog")
    dosbox_cases.TOOLS_DIR = PROGRAMS
    FWPACK = args.fwpack
    updater = os.path.join(args.win64, "updater.exe") if args.win64 else None
    UPDATER = updater if updater and os.path.exists(updater) else None
    programs = [DOSUPD, FWPACK] + [os.path.join(PROGRAMS, p) for p in dosbox_cases.TOOLS + ["ENDPC.COM", "FSLIMIT.COM"]]
    machines = ["bochs", "qemu"] if any("Bochs" in r or "SegmentLimits" in r for r in rest) or not rest else ["qemu"]
    missing = sorted({m for machine in machines for m in pcrun.missing_prerequisites(machine, programs)})
    if missing:
        print(f"skipped: no {', '.join(missing)}")
        return 77
    WORK = os.path.join(os.path.abspath(args.work), "pc-runs")
    os.makedirs(WORK, exist_ok=True)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    result = program.result
    if result.wasSuccessful() and result.testsRun and len(result.skipped) == result.testsRun:
        return 77
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
