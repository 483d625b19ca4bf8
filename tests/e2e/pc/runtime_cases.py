#!/usr/bin/env python3
"""The DOS runtime on FreeDOS in emulated PCs, where DOSBox cannot show it:
the firmware read from real flash through flat real mode and through the
BIOS block move, A20 turned on without an XMS driver, the deepest updater
run's stack and memory under FreeDOS, flat real mode under Bochs's segment
limit checks, and the restart clearing the CMOS shutdown byte.

Usage: runtime_cases.py --dos16 BUILD_DIR --work DIR --fwpack PATH [--win64 DIR]
                        [unittest names...]
Exits 77 (skipped) with one line naming what is missing.
"""
import argparse
import os
import re
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

PROGRAMS = WORK = FWPACK = UPDATER = None
BLOCK_AT = 0xFFF10000   # above 0xFFF00000: with A20 off a read lands 1 MiB lower


def words(text):
    return dict(w.split("=", 1) for w in text.split() if "=" in w)


class RuntimePc(unittest.TestCase):
    MACHINE = "qemu"

    def setUp(self):
        name = self.id().split(".")[-1]
        folder = tempfile.mkdtemp(prefix=f"{self.MACHINE}-{name}-", dir=WORK)
        self.pc = pcrun.PC(folder, self.MACHINE, os.path.join(PROGRAMS, "ENDPC.COM"))
        self.pc.set_firmware([(BLOCK_AT, dosbox_cases.id_block())])
        for program in ("RTTEST.EXE", "SHUTJMP.COM"):
            with open(os.path.join(PROGRAMS, program), "rb") as f:
                self.pc.disk.put(program, f.read())

    def tearDown(self):
        if not os.environ.get("KEEP_PC_RUNS"):  # set it to look at a run's disks
            shutil.rmtree(self.pc.folder, ignore_errors=True)

    def rttest(self, *commands):
        """One boot running RTTEST with each command, output to OUTn.TXT;
        the result and each output's words."""
        result = self.pc.run([f"RTTEST {c} > OUT{i}.TXT" for i, c in enumerate(commands)])
        return result, [self.pc.disk.read(f"OUT{i}.TXT", "") for i in range(len(commands))]

    def expected_bytes(self, count):
        return dosbox_cases.id_block()[:count].hex().upper()


class Flash(RuntimePc):
    def test_the_block_in_flash_through_flat_mode_and_the_bios_block_move(self):
        """The BIOS block move, which memory managers provide, reads the same
        flash as flat real mode, at an address that needs A20."""
        result, (flat, bios, segment) = self.rttest("firmware FFF10000 17", "firmware FFF10000 17 bios", "bios")
        self.assertEqual(result.code, 0, result.output)
        flat, bios, segment = words(flat), words(bios), words(segment)
        self.assertEqual((flat["access"], bios["access"]), ("2", "3"), (flat, bios))   # Flat, BlockMove
        self.assertEqual(flat["bytes"], self.expected_bytes(17))
        self.assertEqual(bios["bytes"], self.expected_bytes(17))
        self.assertEqual((segment["differences"], segment["failures"]), ("0", "0"))

    def test_a20_turned_on_again_without_an_xms_driver(self):
        """The boot floppy loads no XMS driver: the BIOS or the keyboard
        controller turns A20 on again after the fast gate closed it."""
        result, (a20, after) = self.rttest("a20", "firmware FFF10000 17")
        self.assertEqual(result.code, 0, result.output)
        self.assertEqual(words(a20), {"off_found": "1", "enabled": "1", "on": "1"})
        self.assertEqual(words(after)["bytes"], self.expected_bytes(17))


class Stack(RuntimePc):
    # What the deepest run must leave of the stack, and the conventional
    # memory the program's blocks may take.
    MARGIN = 1024
    MEMORY_GOAL = 160 * 1024

    def test_the_deepest_update_under_freedos(self):
        """UPDSTACK.EXE (DOSUPD.EXE with the same stack, reporting its stack
        and memory) through both flash steps and the restart question."""
        source = tempfile.mkdtemp(prefix="manifest-", dir=self.pc.folder)
        out = os.path.join(self.pc.folder, "PKG.EXE")
        stub = ["--stub", UPDATER, "--dos-program"] if UPDATER else ["--dos-stub"]
        r = subprocess.run([FWPACK, "build", dosbox_cases.manifest(source, []), *stub,
                            os.path.join(PROGRAMS, "UPDSTACK.EXE"), "-o", out], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            self.pc.disk.put("PKG.EXE", f.read())
        self.pc.disk.put("KEYS.TXT", "yn")
        result = self.pc.run(["PKG /debug < KEYS.TXT > OUT.TXT"])
        text = self.pc.disk.read("OUT.TXT", "")
        self.assertEqual(result.code, 20, text)
        unused = int(re.search(r"stack_unused=(\d+)", text).group(1))
        memory = int(re.search(r"memory_in_use=(\d+)", text).group(1))
        print(f"stack_unused={unused} memory_in_use={memory}")
        self.assertGreaterEqual(unused, self.MARGIN)
        self.assertGreater(memory, 51200)
        self.assertLessEqual(memory, self.MEMORY_GOAL)


class Bochs(RuntimePc):
    """Bochs checks real-mode segment limits: a read through FS without its
    4 GiB limit faults there (FSLIMIT, the rig's negative control)."""
    MACHINE = "bochs"

    def test_flat_reads_hold_under_segment_limit_checks(self):
        result, (flat, firmware) = self.rttest("flat", "firmware FFF10000 17")
        self.assertEqual(result.code, 0, result.output)
        self.assertEqual(words(flat)["differences"], "0")
        self.assertEqual(words(firmware)["bytes"], self.expected_bytes(17))

    def test_the_restart_clears_the_cmos_shutdown_byte(self):
        """SHUTJMP leaves shutdown byte 0Ah and a jump to a routine that
        switches the machine off. The restart must clear it: the machine
        then boots DOS again, which finds BOOTED.TXT and ends with 77."""
        steps = ["IF EXIST BOOTED.TXT A:\\ENDPC 77", "ECHO booted> BOOTED.TXT", "SHUTJMP",
                 "RTTEST restart"]
        # Bochs's default processor keeps its feature-control register locked
        # across a reset, and its BIOS then faults while starting up again:
        # a Pentium has no such register.
        rc = pcrun.BOCHSRC
        pcrun.BOCHSRC = rc + "cpu: model=pentium\n"
        try:
            result = self.pc.run(steps)
        except pcrun.HarnessError as e:
            self.fail(f"the machine did not boot again after the restart: {e}")
        finally:
            pcrun.BOCHSRC = rc
        self.assertEqual(result.code, 77, result.output)


def main():
    global PROGRAMS, WORK, FWPACK, UPDATER
    parser = argparse.ArgumentParser()
    parser.add_argument("--dos16", required=True, help="the dos16 build folder")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fwpack", required=True)
    parser.add_argument("--win64", help="the win64 build folder")
    args, rest = parser.parse_known_args()
    PROGRAMS = os.path.join(os.path.abspath(args.dos16), "tests", "dosprog")
    dosbox_cases.TOOLS_DIR = PROGRAMS
    FWPACK = args.fwpack
    updater = os.path.join(args.win64, "updater.exe") if args.win64 else None
    UPDATER = updater if updater and os.path.exists(updater) else None
    programs = [FWPACK] + [os.path.join(PROGRAMS, p) for p in
                           dosbox_cases.TOOLS + ["ENDPC.COM", "SHUTJMP.COM", "RTTEST.EXE", "UPDSTACK.EXE"]]
    machines = ["bochs"] if rest and all("Bochs" in r for r in rest) else \
        ["qemu"] if rest else ["bochs", "qemu"]
    missing = sorted({m for machine in machines for m in pcrun.missing_prerequisites(machine, programs)})
    if missing:
        print(f"skipped: no {', '.join(missing)}")
        return 77
    WORK = os.path.join(os.path.abspath(args.work), "pc-runtime-runs")
    os.makedirs(WORK, exist_ok=True)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    result = program.result
    if result.wasSuccessful() and result.testsRun and len(result.skipped) == result.testsRun:
        return 77
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
