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
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "dosbox"))
import dosboxrun  # noqa: E402  (how a case file runs its cases)
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
HARNESS_FILES = {"PKG.EXE", "OUT.TXT", "KEYS.TXT", "A20OFF.COM", "A20.TXT"}


def machine_seconds():
    """CPU time the harness's finished child processes took."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


class PcCase(unittest.TestCase):
    MACHINE = "qemu"

    def setUp(self):
        self.started, self.cpu_started = time.monotonic(), machine_seconds()
        name = self.id().split(".")[-1]
        folder = tempfile.mkdtemp(prefix=f"{self.MACHINE}-{name}-", dir=WORK)
        self.pc = pcrun.PC(folder, self.MACHINE, os.path.join(PROGRAMS, "ENDPC.COM"))
        self.package()
        self.flash(RANGE_ADDRESSES[0])

    def tearDown(self):
        cpu = machine_seconds() - self.cpu_started
        print(f"{self.id().split('.', 1)[1]}: {time.monotonic() - self.started:.1f} s, "
              f"{cpu:.1f} s of CPU in the machines and tools", file=sys.stderr)
        if not os.environ.get("KEEP_PC_RUNS"):  # set it to look at a run's disks
            shutil.rmtree(self.pc.folder, ignore_errors=True)

    def flash(self, address, **fields):
        """The machine's flash holds an identification block (A04 on
        BOARD-X unless told) at address; None: no block at all."""
        blocks = [] if address is None else [(address, dosbox_cases.id_block(**fields))]
        self.pc.set_firmware(blocks)

    def package(self, flags=(), program=None):
        """PKG.EXE on C:: a dual-mode package when the win64 build's
        updater.exe is there (what ships), else DOSUPD.EXE (or program)
        with the resources appended; the DOS side runs the same program
        either way."""
        source = tempfile.mkdtemp(prefix="manifest-", dir=self.pc.folder)
        out = os.path.join(self.pc.folder, "PKG.EXE")
        program = program or DOSUPD
        stub = ["--stub", UPDATER, "--dos-program", program] if UPDATER else ["--dos-stub", program]
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




class A20(PcCase):
    def test_a20_left_off_before_the_run(self):
        """A20 is off when the package starts (as a program before it may
        leave it): the updater must read the block above 0xFFF00000 itself,
        not the other system's block that stands where the read would land
        with A20 off, 1 MiB lower."""
        with open(os.path.join(PROGRAMS, "A20OFF.COM"), "rb") as f:
            self.pc.disk.put("A20OFF.COM", f.read())
        real, alias = RANGE_ADDRESSES[0], RANGE_ADDRESSES[0] - (1 << 20)
        self.pc.set_firmware([(real, dosbox_cases.id_block()), (alias, dosbox_cases.id_block(system="BOARD-Y"))])
        self.pc.disk.put("KEYS.TXT", "n")
        result = self.pc.run(["A20OFF > A20.TXT", "PKG < KEYS.TXT > OUT.TXT"])
        self.assertEqual(self.pc.disk.read("A20.TXT"), "A20 off\r\n")
        out = self.pc.disk.read("OUT.TXT", "")
        self.assertEqual(result.code, 12, out)
        self.assertIn("\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05", out)


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
        self.assertEqual(result.controller_commands[-1:], [0xFE], "not reset through the keyboard controller")
        self.assertIsNone(self.pc.exit_code())   # the batch went no further
        self.assertEqual(self.calls(), WHOLE_UPDATE)


class Keys(PcCase):
    """The questions answered from the keyboard, each once it is on the screen."""

    def test_yes_to_both_questions_flashes_and_resets_the_machine(self):
        with self.pc.start(["PKG"]) as session:
            screen = "\n".join(session.wait_for_text("Update BIOS(Yes/No)?"))
            self.assertIn("The Old Bios Version:A04\nThe New Bios Version:A05\nUpdate BIOS(Yes/No)?", screen)
            picture = os.path.join(self.pc.folder, "question.png")
            session.picture(picture)
            with open(picture, "rb") as f:
                self.assertEqual(f.read(24)[16:], (720).to_bytes(4, "big") + (400).to_bytes(4, "big"))
            session.send_keys("y")
            screen = "\n".join(session.wait_for_text("Restart System(Yes/No)?"))
            self.assertIn("Update BIOS(Yes/No)?y\nInvoke the exe file!", screen)
            self.assertIn("Current ME version: 11.8.50.3400\nThe New ME version: 11.8.50.3425", screen)
            session.send_keys("y")
            result = session.wait()
        self.assertTrue(result.reset, "the machine was not reset")
        self.assertEqual(self.calls(), WHOLE_UPDATE)

    def test_keys_typed_ahead_and_two_byte_keys_do_not_answer(self):
        """A "y" typed while the filler is written and the packages unpacked
        is dropped when the question comes; Alt-2 reads as 0 and 'y' and is
        no letter: only the "n" typed at the question answers it."""
        with self.pc.start(["PKG"]) as session:
            session.wait_for_text("DON'T POWER OFF the system")
            session.send_keys("y")
            session.wait_for_text("Update BIOS(Yes/No)?")
            session.send_keys("alt-2", "n")
            result = session.wait()
        self.assertEqual(result.code, 12)
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.left(), [])

    def test_no_to_the_update_removes_what_was_unpacked(self):
        with self.pc.start(["PKG"]) as session:
            session.wait_for_text("Update BIOS(Yes/No)?")
            session.send_keys("n")
            result = session.wait()
        self.assertEqual(result.code, 12)
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.left(), [])


# The exit code of a run ended by Ctrl-C or Ctrl-Break.
BREAK_EXIT = 22
# What a "no" at the restart question leaves (delete-at-end is off).
FLASHED_LEAVES = ["BIOS.BIN", "CALLS.LOG", "DOSFLASH.EXE", "ME.BIN", "ME.LOG", "MEINFO.EXE", "MEUPD.EXE"]


class BreakHandling(PcCase):
    """Ctrl-C, Ctrl-Break and a critical error: the updater's own handlers
    end the run through the step's cleanup, the command interpreter never
    sees them, and a break never leads to a flash or a restart."""

    def assertEndedByBreak(self, result, calls, left):
        self.assertEqual(result.prompts, [], "the break reached the command interpreter")
        self.assertFalse(result.reset, "a break led to a restart")
        self.assertEqual(result.code, BREAK_EXIT)
        self.assertEqual(self.calls(), calls)
        self.assertEqual(self.left(), left)

    def test_ctrl_c_at_the_update_question(self):
        with self.pc.start(["PKG"]) as session:
            session.wait_for_text("Update BIOS(Yes/No)?")
            session.ctrl_c()
            result = session.wait()
        self.assertEndedByBreak(result, [], [])

    def test_ctrl_c_at_the_restart_question(self):
        with self.pc.start(["PKG"]) as session:
            session.wait_for_text("Update BIOS(Yes/No)?")
            session.send_keys("y")
            session.wait_for_text("Restart System(Yes/No)?")
            session.ctrl_c()
            result = session.wait()
        self.assertEndedByBreak(result, WHOLE_UPDATE, FLASHED_LEAVES)

    def test_ctrl_c_during_unpacking(self):
        """Wherever the break lands, in the unpacking or at the question
        after it, nothing is flashed and nothing unpacked stays."""
        with self.pc.start(["PKG"]) as session:
            session.wait_for_text("Decompress the exe file.")
            session.ctrl_c()
            result = session.wait()
        self.assertEndedByBreak(result, [], [])

    def test_ctrl_break_inside_the_flash_program(self):
        """The flash program ended by the break has not flashed: the flash
        step fails, no ME step, no restart."""
        with self.pc.start(["PKG /nopause > OUT.TXT"], {"DOSFLASH_WAIT": "1"}) as session:
            session.wait_for_text("flashing, press a key")
            session.ctrl_break()
            result = session.wait()
        self.assertEqual(result.prompts, [])
        self.assertFalse(result.reset, "a failed flash led to a restart")
        self.assertEqual(result.code, 13)
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B"])
        self.assertTrue(self.pc.disk.read("OUT.TXT", "").endswith("\r\ndosflash.exe bios.bin  /P /B run fail\r\n"))
        self.assertEqual(self.left(), ["CALLS.LOG"])

    def test_a_critical_error_on_a_write_protected_drive(self):
        """The package on a write-protected floppy: the filler cannot be
        made there, and the updater's own handler fails the step."""
        with open(os.path.join(self.pc.folder, "PKG.EXE"), "rb") as f:
            self.pc.add_write_protected_floppy({"PKG.EXE": f.read()})
        result = self.pc.run(["B:", "PKG /nopause > C:\\OUT.TXT"])
        self.assertEqual(result.prompts, [], "the critical error met DOS's default handler")
        self.assertEqual(result.code, 1)
        self.assertTrue(self.pc.disk.read("OUT.TXT", "").endswith("\r\nfail to open waste.dat"))
        self.assertEqual(self.calls(), [])


class Helpers(PcCase):
    """The harness's own means, shown on a program that waits for a key
    (the stand-in flash program on its own): a key lets it go on, Ctrl-C and
    Ctrl-Break end it through DOS, which FreeCOM then reports with its own
    question; a write to the write-protected drive meets DOS's default
    critical-error handler."""

    def setUp(self):
        super().setUp()
        with open(os.path.join(PROGRAMS, "DOSFLASH.EXE"), "rb") as f:
            self.pc.disk.put("DOSFLASH.EXE", f.read())

    def wait_then(self, press):
        with self.pc.start(["DOSFLASH"], {"DOSFLASH_WAIT": "1"}) as session:
            session.wait_for_text("flashing, press a key")
            press(session)
            return session.wait()

    def test_a_key(self):
        result = self.wait_then(lambda session: session.send_keys("x"))
        self.assertEqual((result.code, result.prompts), (0, []))
        self.assertEqual(self.calls(), ["dosflash.exe", "dosflash.exe ended"])

    def test_ctrl_c_and_ctrl_break(self):
        for name, press in (("ctrl-c", pcrun.QemuSession.ctrl_c),
                            ("ctrl-break", pcrun.QemuSession.ctrl_break)):
            with self.subTest(name):
                self.pc.disk.delete("CALLS.LOG")
                result = self.wait_then(press)
                self.assertEqual(result.prompts, ["(Yes/No/All) ?"])
                self.assertEqual(self.calls(), ["dosflash.exe"])

    def test_a_write_protected_drive(self):
        locked = self.pc.add_write_protected_floppy({"KEEP.TXT": "kept\n"})
        result = self.pc.run(["ECHO written> B:\\NEW.TXT"])
        self.assertEqual(result.prompts, ["(R)etry, (F)ail?"])
        self.assertEqual(locked.names(), ["KEEP.TXT"])


class BochsUpdate(PcCase):
    """A whole update on the machine that checks real-mode segment limits:
    the firmware read in flat real mode holds there, in each range."""
    MACHINE = "bochs"

    def test_a_whole_update(self):
        result, out = self.run_updater("/factory")
        self.assertEqual(result.code, 0, out)
        self.assertIn("\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05", out)
        self.assertEqual(self.calls(), WHOLE_UPDATE)

    def test_the_block_in_the_second_and_third_ranges(self):
        for address in BOCHS_RANGE_ADDRESSES[1:]:
            with self.subTest(address=hex(address)):
                self.flash(address)
                result, out = self.run_updater("", keys="n")
                self.assertEqual(result.code, 12, out)
                self.assertIn("\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05", out)


class SegmentLimits(unittest.TestCase):
    """The negative control: a read through FS above 64 KiB without flat
    real mode faults on Bochs and goes through on QEMU, so a whole update
    on Bochs proves the updater's flat real mode."""

    def read_above_64k(self, machine):
        pc = pcrun.PC(tempfile.mkdtemp(prefix=f"{machine}-fslimit-", dir=WORK), machine,
                      os.path.join(PROGRAMS, "ENDPC.COM"))
        try:
            with open(os.path.join(PROGRAMS, "FSLIMIT.COM"), "rb") as f:
                pc.disk.put("FSLIMIT.COM", f.read())
            result = pc.run(["FSLIMIT > OUT.TXT"])
            return result.code, pc.disk.read("OUT.TXT", "")
        finally:
            if not os.environ.get("KEEP_PC_RUNS"):
                shutil.rmtree(pc.folder, ignore_errors=True)

    def test_bochs_faults(self):
        self.assertEqual(self.read_above_64k("bochs"), (1, "FS read above 64 KiB: fault\r\n"))

    def test_qemu_reads(self):
        self.assertEqual(self.read_above_64k("qemu"), (0, "FS read above 64 KiB: read\r\n"))


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
    # Every program a case of this file or of runtime_cases.py puts on C:.
    rig_programs = ["UPDSTACK.EXE", "RTTEST.EXE", "ENDPC.COM", "FSLIMIT.COM", "A20OFF.COM", "SHUTJMP.COM"]
    programs = [DOSUPD, FWPACK] + [os.path.join(PROGRAMS, p) for p in dosbox_cases.TOOLS + rig_programs]
    machines = ["bochs", "qemu"] if any("Bochs" in r or "SegmentLimits" in r for r in rest) or not rest else ["qemu"]
    missing = sorted({m for machine in machines for m in pcrun.missing_prerequisites(machine, programs)})
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return 77
    WORK = os.path.join(os.path.abspath(args.work), "pc-runs")
    os.makedirs(WORK, exist_ok=True)
    return dosboxrun.run_cases(rest)


if __name__ == "__main__":
    sys.exit(main())
