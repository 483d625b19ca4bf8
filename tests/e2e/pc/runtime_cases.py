#!/usr/bin/env python3
"""The DOS runtime on FreeDOS in emulated PCs, where DOSBox cannot show it:
the firmware read from real flash through flat real mode and through the
BIOS block move, A20 turned on without an XMS driver, the deepest updater
run's stack and memory under FreeDOS, flat real mode under Bochs's segment
limit checks, and the restart clearing the CMOS shutdown byte.

Usage and skipping as pc_cases.py, whose harness runs these cases.
"""
import os
import re
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "dosbox"))
import pc_cases  # noqa: E402  (the machines, the package, the harness's main)
import pcrun  # noqa: E402
import updater_cases as dosbox_cases  # noqa: E402  (the identification block)


def words(text):
    return dict(w.split("=", 1) for w in text.split() if "=" in w)


class RuntimePc(pc_cases.PcCase):
    """A PC whose flash holds the identification block at 0xFFF10000 (above
    0xFFF00000: with A20 off a read lands 1 MiB lower), with RTTEST.EXE and
    SHUTJMP.COM on C: beside the package."""

    def setUp(self):
        super().setUp()
        for program in ("RTTEST.EXE", "SHUTJMP.COM"):
            with open(os.path.join(pc_cases.PROGRAMS, program), "rb") as f:
                self.pc.disk.put(program, f.read())

    def rttest(self, *commands):
        """One boot running RTTEST with each command, output to OUTn.TXT;
        the result and each output."""
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
        self.package(program=os.path.join(pc_cases.PROGRAMS, "UPDSTACK.EXE"))
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
        self.pc.bochs_cpu = "pentium"
        try:
            result = self.pc.run(steps)
        except pcrun.HarnessError as e:
            self.fail(f"the machine did not boot again after the restart: {e}")
        self.assertEqual(result.code, 77, result.output)


if __name__ == "__main__":
    sys.exit(pc_cases.main())
