#!/usr/bin/env python3
"""The DOS runtime under DOSBox: files, zlib's inflate, keys from redirected
input, EXEC of the stand-in DOS tools, the environment, flat real mode and
the restart. RTTEST.EXE (tests/dosprog/rttest.cpp) does each job and prints
"name=value" words; these cases check them against what the host knows.

Usage: runtime_cases.py --dos16 BUILD_DIR --work DIR [--fwpack PATH --win64 DIR]
                        [unittest names...]
Exits 77 (skipped) when the dos16 build or DOSBox is missing; the dual-mode
case needs fwpack and the win64 build's updater.exe as well.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dosboxrun  # noqa: E402

PROGRAMS = ["RTTEST.EXE", "SEAMTEST.EXE", "MODELTST.EXE", "DOSFLASH.EXE", "MEINFO.EXE",
            "MEUPD.EXE"]
PROGRAM_DIR = WORK = FWPACK = UPDATER = None
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "examples",
                      "sample", "package.toml")


def words(text):
    """The name=value words of a program's output."""
    return dict(re.findall(r"(\w+)=(\S+)", text or ""))


def sample_data(size, seed):
    """Text-like bytes with repeats near and far, so inflate copies from all
    of its window, and runs of random bytes that it stores."""
    rng = random.Random(seed)
    vocabulary = [bytes(rng.choice(b"abcdefghijklmnop ") for _ in range(rng.randint(2, 9)))
                  for _ in range(300)]
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.05:
            out += bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 400)))
        else:
            out += rng.choice(vocabulary) + b" "
    return bytes(out[:size])


class RuntimeCase(unittest.TestCase):
    def setUp(self):
        self.box = dosboxrun.DosBox(tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "-", dir=WORK))
        for name in PROGRAMS:
            shutil.copy(os.path.join(PROGRAM_DIR, name), self.box.path(name))

    def tearDown(self):
        if not os.environ.get("KEEP_DOSBOX_RUNS"):  # set it to look at a run's files
            shutil.rmtree(self.box.folder, ignore_errors=True)


class Files(RuntimeCase):
    def test_copy_seek_and_delete_round_trip_beyond_64_kib(self):
        data = sample_data(70001, 1)
        self.box.put("IN.BIN", data)
        run = self.box.run(["RTTEST files IN.BIN OUT.BIN > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0], self.box.read("OUT.TXT"))
        with open(self.box.path("OUT.BIN"), "rb") as f:
            self.assertEqual(f.read(), data)
        got = words(self.box.read("OUT.TXT"))
        self.assertEqual(got, {"size": "70001", "byte1000": str(data[1000]), "exists": "1,0"})
        self.assertFalse(os.path.exists(self.box.path("SCRATCH.TMP")))

    def test_missing_input_is_a_dos_error(self):
        run = self.box.run(["RTTEST files NOFILE.BIN OUT.BIN > OUT.TXT"])
        self.assertEqual(run.exit_codes, [1])
        self.assertIn("open failed: -2", self.box.read("OUT.TXT"))  # file not found


    def test_copy_through_the_transfer_buffer_beyond_the_data_segment(self):
        """The updater's transfer buffer: a block DOS gives beyond the data
        segment, which DOS reads into and writes from with DS on it."""
        data = sample_data(120001, 9)
        self.box.put("IN.BIN", data)
        run = self.box.run(["RTTEST far IN.BIN OUT.BIN > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0], self.box.read("OUT.TXT"))
        with open(self.box.path("OUT.BIN"), "rb") as f:
            self.assertEqual(f.read(), data + b"\xA5" * 100)
        got = words(self.box.read("OUT.TXT"))
        self.assertEqual(got["copied"], str(len(data) + 100))
        self.assertGreaterEqual(int(got["segment"], 16), int(got["data_end"], 16))
        self.assertEqual(got["too_large_refused"], "1")


class Inflate(RuntimeCase):
    def test_inflates_a_host_stream_byte_for_byte(self):
        data = sample_data(138465, 2)
        packer = zlib.compressobj(9, zlib.DEFLATED, 10)
        self.box.put("DATA.Z", packer.compress(data) + packer.flush())
        run = self.box.run(["RTTEST inflate DATA.Z DATA.OUT > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0], self.box.read("OUT.TXT"))
        with open(self.box.path("DATA.OUT"), "rb") as f:
            self.assertEqual(f.read(), data)
        got = words(self.box.read("OUT.TXT"))
        self.assertEqual(int(got["adler"], 16), zlib.adler32(data))
        self.assertEqual(int(got["out"]), len(data))
        # The inflate state and its 1 KiB window come from the fixed arena.
        self.assertLess(int(got["arena"]), 12 * 1024)

    def test_stream_declaring_a_larger_window_is_a_data_error(self):
        packer = zlib.compressobj(9, zlib.DEFLATED, 15)
        self.box.put("DATA.Z", packer.compress(sample_data(5000, 3)) + packer.flush())
        run = self.box.run(["RTTEST inflate DATA.Z DATA.OUT > OUT.TXT"])
        self.assertEqual(run.exit_codes, [1])
        self.assertIn("inflate failed: -3", self.box.read("OUT.TXT"))  # Z_DATA_ERROR


class Keys(RuntimeCase):
    def test_redirected_keys_then_end_of_input(self):
        self.box.put("KEYS.TXT", b"yX")
        self.box.put("EMPTY.TXT", b"")
        run = self.box.run(["RTTEST keys < KEYS.TXT > OUT.TXT",
                            "RTTEST keys < EMPTY.TXT > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [0, 0])
        self.assertEqual(self.box.read("OUT.TXT").split(), ["key=121", "key=88", "end"])
        self.assertEqual(self.box.read("OUT2.TXT").split(), ["end"])


class Exec(RuntimeCase):
    def test_exit_codes_and_command_lines_of_the_stand_in_tools(self):
        run = self.box.run([
            dosboxrun.Set("DOSFLASH_EXIT", "13"),
            dosboxrun.Step("RTTEST exec DOSFLASH.EXE BIOS.BIN /P /B /N > OUT1.TXT"),
            dosboxrun.Set("DOSFLASH_EXIT"),
            dosboxrun.Step("RTTEST exec DOSFLASH.EXE BIOS.BIN /P /B > OUT2.TXT"),
            dosboxrun.Step("RTTEST exec NOSUCH.EXE > OUT3.TXT"),
            dosboxrun.Set("ME_CURRENT", "11.8.50.3400"),
            dosboxrun.Step("MEINFO.EXE -fwsts > ME.LOG"),
            dosboxrun.Set("MEUPD_ERROR", "1"),
            dosboxrun.Step("RTTEST exec MEUPD.EXE -F ME.BIN > OUT4.TXT"),
        ])
        self.assertEqual(run.exit_codes, [13, 0, 255, 0, 0])
        self.assertEqual(words(self.box.read("OUT1.TXT")), {"exit": "13"})
        self.assertEqual(words(self.box.read("OUT2.TXT")), {"exit": "0"})
        self.assertEqual(words(self.box.read("OUT3.TXT")), {"exit": "-2"})  # file not found
        self.assertEqual(self.box.read("CALLS.LOG").splitlines(), [
            "dosflash.exe BIOS.BIN /P /B /N", "dosflash.exe BIOS.BIN /P /B",
            "meinfo.exe -fwsts", "meupd.exe -F ME.BIN"])
        fw_line = [l for l in self.box.read("ME.LOG").splitlines() if l.startswith("FW Version:")]
        self.assertEqual(len(fw_line), 1)
        self.assertEqual(fw_line[0][40:], "11.8.50.3400")
        self.assertEqual(self.box.read("ERROR.LOG"), "update failed\r\n")


class Tools(RuntimeCase):
    def test_tool_output_goes_to_the_named_file_and_ours_comes_back(self):
        run = self.box.run([dosboxrun.Set("ME_CURRENT", "8.1.0.1057"),
                            "RTTEST run MEINFO.EXE ME.LOG -fwsts > OUT.TXT",
                            "RTTEST run MEINFO.EXE - -again > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [0, 0])
        me_log = self.box.read("ME.LOG").splitlines()
        self.assertEqual(me_log[0], "ME information tool")
        self.assertEqual(me_log[1][40:], "8.1.0.1057")
        self.assertEqual(self.box.read("OUT.TXT"), "exit=0\r\n")
        # Without a file the tool writes where we write.
        self.assertIn("FW Version:", self.box.read("OUT2.TXT"))
        self.assertTrue(self.box.read("OUT2.TXT").endswith("exit=0\r\n"))

    def test_program_result_is_kept_where_the_interpreter_would_lose_it(self):
        self.box.put("FLASH.BAT", "@DOSFLASH.EXE %1\r\n")
        run = self.box.run([dosboxrun.Set("DOSFLASH_EXIT", "5"),
                            "RTTEST run DOSFLASH.EXE - direct > OUT.TXT",
                            "RTTEST run FLASH.BAT - batch > OUT2.TXT",
                            "RTTEST run NOSUCH.EXE - x > OUT3.TXT"])
        self.assertEqual(run.exit_codes, [5, 0, 255])
        self.assertEqual(words(self.box.read("OUT.TXT")), {"exit": "5"})
        # A batch file ran (its program recorded the call), but the command
        # interpreter reports 0 whatever the program returned.
        self.assertEqual(words(self.box.read("OUT2.TXT")), {"exit": "0"})
        self.assertEqual(self.box.read("CALLS.LOG").splitlines(),
                         ["dosflash.exe direct", "dosflash.exe batch"])
        self.assertEqual(words(self.box.read("OUT3.TXT")), {"exit": "-2"})


class Seam(RuntimeCase):
    """The DOS updater's platform on DOS (SEAMTEST.EXE drives it)."""

    def test_command_lines_run_without_the_interpreter_and_keep_the_tools_result(self):
        self.box.put("L1.TXT", "DOSFLASH.EXE BIOS.BIN /P /B /N\r\n")
        self.box.put("L2.TXT", "  DOSFLASH   quiet  \r\n")          # extension looked up
        self.box.put("L3.TXT", "MEINFO.EXE -fwsts > me.log\r\n")    # output to me.log
        self.box.put("L4.TXT", "FLASH batch\r\n")                     # a batch file
        self.box.put("L5.TXT", "NOSUCH.EXE x\r\n")
        self.box.put("FLASH.BAT", "@DOSFLASH.EXE %1\r\n")
        run = self.box.run([
            dosboxrun.Set("DOSFLASH_EXIT", "13"),
            "SEAMTEST run L1.TXT > OUT1.TXT",
            "SEAMTEST run L2.TXT > OUT2.TXT",
            dosboxrun.Set("ME_CURRENT", "11.8.50.3400"),
            "SEAMTEST run L3.TXT > OUT3.TXT",
            "SEAMTEST run L4.TXT > OUT4.TXT",
            "SEAMTEST run L5.TXT > OUT6.TXT",
        ])
        self.assertEqual(run.exit_codes, [13, 13, 0, 0, 127])
        self.assertEqual(words(self.box.read("OUT1.TXT")), {"exit": "13"})
        self.assertEqual(words(self.box.read("OUT2.TXT")), {"exit": "13"})
        # The tool's output is in me.log, ours stays on our output.
        self.assertEqual(self.box.read("OUT3.TXT"), "exit=0\r\n")
        fw = [l for l in self.box.read("ME.LOG").splitlines() if l.startswith("FW Version:")]
        self.assertEqual([l[40:] for l in fw], ["11.8.50.3400"])
        # Through the interpreter a failing tool reads as 0.
        self.assertEqual(words(self.box.read("OUT4.TXT")), {"exit": "0"})
        self.assertEqual(self.box.read("CALLS.LOG").splitlines(), [
            "dosflash.exe BIOS.BIN /P /B /N", "dosflash.exe quiet", "meinfo.exe -fwsts",
            "dosflash.exe batch"])
        self.assertEqual(words(self.box.read("OUT6.TXT")), {"exit": "127"})

    def test_keys_end_with_the_input(self):
        self.box.put("KEYS.TXT", b"Yn")
        self.box.put("EMPTY.TXT", b"")
        run = self.box.run(["SEAMTEST keys < KEYS.TXT > OUT.TXT", "SEAMTEST keys < EMPTY.TXT > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [0, 0])
        self.assertEqual(self.box.read("OUT.TXT").split(), ["key=89", "key=110", "end"])
        self.assertEqual(self.box.read("OUT2.TXT").split(), ["end"])

    def test_files_past_one_dos_call_and_the_own_file(self):
        run = self.box.run(["SEAMTEST files > OUT.TXT", "SEAMTEST own > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [0, 0])
        self.assertEqual(words(self.box.read("OUT.TXT")), {
            "written": "34000", "closed": "1", "told": "1", "length": "34000", "read": "34000",
            "same": "34000", "sought": "1", "last": str((33999 * 7 + 33999 // 251) & 0xFF),
            "past": "0", "existed": "1", "removed": "1", "exists": "0", "missing": "1"})
        size = os.path.getsize(os.path.join(PROGRAM_DIR, "SEAMTEST.EXE"))
        self.assertEqual(words(self.box.read("OUT2.TXT")), {"own": "1", "length": str(size)})


class Logic(RuntimeCase):
    """dos/ sources that compile for DOS unchanged, run under DOSBox."""

    def test_switches_help_and_a_bad_switch(self):
        run = self.box.run(["SEAMTEST switches /factory /NOREBOOT /dbgx > OUT1.TXT",
                            "SEAMTEST switches /? > OUT2.TXT",
                            "SEAMTEST switches /nopause /forceitx > OUT3.TXT"])
        self.assertEqual(run.exit_codes, [0, 2, 1])
        self.assertEqual(words(self.box.read("OUT1.TXT")), {
            "factory": "1", "forceit": "0", "forcetype": "0", "nopause": "0", "noreboot": "1",
            "debug": "1"})
        self.assertIn(" 5) /NoReboot   Will update the NVRAM but will not reboot the system",
                      self.box.read("OUT2.TXT").splitlines())
        # The updater's '\n' reaches DOS as "\r\n".
        self.assertTrue(self.box.read("OUT3.TXT").startswith(
            "\r\nThe command line parameter is not correct.\r\nfactory="))
        self.assertEqual(words(self.box.read("OUT3.TXT"))["nopause"], "1")

    def test_tag_scan_of_its_own_file_through_a_small_buffer(self):
        if not FWPACK:
            self.skipTest("needs fwpack")
        stub = os.path.join(PROGRAM_DIR, "SEAMTEST.EXE")
        package = self.box.path("PKG.EXE")
        subprocess.run([FWPACK, "build", "--dos-stub", stub, "-o", package, SAMPLE], check=True,
                       stdout=subprocess.DEVNULL)
        run = self.box.run(["PKG scan > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0])
        found = words(self.box.read("OUT.TXT"))
        self.assertEqual(found.pop("count"), "4")
        hits = [tuple(int(x) for x in v.split("@")) for _, v in sorted(found.items())]
        with open(package, "rb") as f:
            data = f.read()
        # The resources follow the program (aligned, after at least one byte
        # of padding) in the order they were appended; each starts with the
        # tag's '$'.
        self.assertIn(hits[0][1] - os.path.getsize(stub), range(1, 17))
        self.assertEqual(sorted(i for i, _ in hits), [2000, 2002, 2003, 2004])
        self.assertEqual([o for _, o in hits], sorted(o for _, o in hits))
        self.assertTrue(all(data[o:o + 1] == b"$" for _, o in hits))


class DualMode(RuntimeCase):
    def test_dos_runs_the_program_in_front_of_the_windows_package(self):
        if not (FWPACK and UPDATER and os.path.exists(UPDATER)):
            self.skipTest("needs fwpack and the win64 build's updater.exe")
        package = self.box.path("PKG.EXE")
        r = subprocess.run([FWPACK, "build", SAMPLE, "--stub", UPDATER, "--dos-program",
                            self.box.path("RTTEST.EXE"), "-o", package], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = subprocess.run([FWPACK, "verify", package], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout)
        run = self.box.run(["PKG env COMSPEC > OUT.TXT", "PKG files PKG.EXE COPY.BIN > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [0, 0], self.box.read("OUT2.TXT"))
        self.assertEqual(words(self.box.read("OUT.TXT"))["path"], "C:\\PKG.EXE")
        # The DOS program reads the whole dual-mode file it was started from.
        with open(package, "rb") as f, open(self.box.path("COPY.BIN"), "rb") as g:
            whole = f.read()
            self.assertEqual(g.read(), whole)
        self.assertEqual(words(self.box.read("OUT2.TXT"))["size"], str(len(whole)))


def linker_symbols(elf):
    """The absolute symbols of a linked DOS program (sizes and paragraphs)."""
    out = subprocess.run(["nm", elf], capture_output=True, text=True, check=True).stdout
    return {name: int(value, 16) for value, kind, name in
            (line.split() for line in out.splitlines()) if kind in "aA"}


class Model(RuntimeCase):
    """MODELTST.EXE: code and data in segments of their own, the 51,200-byte
    transfer buffer in the data segment beside zlib and its arena."""
    TRANSFER_SIZE = 51200  # kDosTransferSize (payload/dos_limits.h)

    def setUp(self):
        super().setUp()
        self.symbols = linker_symbols(os.path.join(PROGRAM_DIR, "dos16_modeltst.elf"))
        self.data = sample_data(140000, 4)
        packer = zlib.compressobj(9, zlib.DEFLATED, 10)
        self.box.put("DATA.Z", packer.compress(self.data) + packer.flush())

    def run_model(self, program):
        run = self.box.run([dosboxrun.Set("DOSFLASH_EXIT", "7"),
                            f"{program} DOSFLASH.EXE DATA.Z DATA.OUT > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0], self.box.read("OUT.TXT"))
        return words(self.box.read("OUT.TXT"))

    def expected_block(self):
        """PSP, code and data segment up to the stack top, in paragraphs."""
        return 0x10 + self.symbols["__code_paragraphs"] + self.symbols["__data_paragraphs"]

    def test_data_segment_apart_from_code_through_buffer_exec_inflate_and_flat_mode(self):
        got = self.run_model("MODELTST")
        cs, ds = int(got["cs"], 16), int(got["ds"], 16)
        self.assertEqual(got["es"], got["ds"])
        self.assertEqual(got["ss"], got["ds"])
        self.assertEqual(ds - cs, self.symbols["__code_paragraphs"])
        self.assertEqual(int(got["code"]), self.symbols["__code_paragraphs"])
        self.assertEqual(cs - int(got["psp"], 16), 0x10)
        self.assertEqual(int(got["block"]), self.expected_block())

        # The buffer went to DOS in one call from the data segment, and the
        # child, loaded above the program's block, left it alone.
        pattern = bytes((i * 13 + i // 256) & 0xFF for i in range(self.TRANSFER_SIZE))
        with open(self.box.path("BUF.BIN"), "rb") as f:
            self.assertEqual(f.read(), pattern)
        total = 0
        for b in pattern:
            total = (total * 31 + b) & 0xFFFFFFFF
        self.assertEqual(int(got["sum"], 16), total)
        self.assertEqual(got["after"], got["sum"])
        self.assertEqual(got["child"], "7")
        self.assertEqual(self.box.read("CALLS.LOG").splitlines(), ["dosflash.exe BIOS.BIN /P"])

        # zlib inflated through the buffer, its state from the arena.
        with open(self.box.path("DATA.OUT"), "rb") as f:
            self.assertEqual(f.read(), self.data)
        self.assertEqual(int(got["adler"], 16), zlib.adler32(self.data))
        self.assertLessEqual(int(got["arena"]), 8 * 1024)

        self.assertEqual(got["differences"], "0")
        # The deepest call stayed inside the stack the linker gave it.
        self.assertGreater(int(got["stack_unused"]), 0)
        self.assertLess(int(got["stack_unused"]), self.symbols["__stack_size"])

    def test_block_is_shrunk_when_the_header_asks_for_all_memory(self):
        # DOS then hands the program every free paragraph; without giving
        # them back it could not load the child.
        with open(self.box.path("MODELTST.EXE"), "rb") as f:
            image = bytearray(f.read())
        image[0x0C:0x0E] = b"\xff\xff"
        self.box.put("MODELBIG.EXE", bytes(image))
        got = self.run_model("MODELBIG")
        self.assertEqual(int(got["block"]), self.expected_block())
        self.assertEqual(got["child"], "7")
        self.assertEqual(got["after"], got["sum"])


def updater_dos_stub():
    """The DOS program the win64 build put in front of updater.exe, or None:
    the build notes its choice (given or found) beside updater.exe's objects."""
    note = os.path.join(os.path.dirname(UPDATER), "app", "updater", "dos_stub_program.txt")
    if not os.path.exists(note):
        return None
    with open(note) as f:
        program = f.read().strip()
    return program if program and program != "OFF" else None


class UpdaterStub(RuntimeCase):
    def test_every_package_built_from_updater_exe_carries_its_dos_program(self):
        if not (FWPACK and UPDATER and os.path.exists(UPDATER)):
            self.skipTest("needs fwpack and the win64 build's updater.exe")
        stub = updater_dos_stub()
        if not stub:
            self.skipTest("the win64 build gives updater.exe no DOS program")
        package = self.box.path("PKG.EXE")
        r = subprocess.run([FWPACK, "build", SAMPLE, "--stub", UPDATER, "-o", package],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = subprocess.run([FWPACK, "verify", package], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout)
        # DOS loads the program byte for byte (e_lfanew aside).
        with open(stub, "rb") as f:
            program = f.read()
        with open(package, "rb") as f:
            front = bytearray(f.read(len(program)))
        front[0x3C:0x40] = bytes(4)
        self.assertEqual(bytes(front), program)
        if os.path.basename(stub) == "DOSUPD.EXE":
            # The DOS updater itself: its help from the package, exit 0.
            run = self.box.run(["PKG /? > OUT.TXT"])
            self.assertEqual(run.exit_codes, [0])
            self.assertIn(" 5) /NoReboot   Will update the NVRAM but will not reboot the system",
                          self.box.read("OUT.TXT").splitlines())
            return
        if os.path.basename(stub) != "SEAMTEST.EXE":
            return
        run = self.box.run(["PKG switches /? > OUT.TXT", "PKG own > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [2, 0])
        self.assertIn(" 5) /NoReboot   Will update the NVRAM but will not reboot the system",
                      self.box.read("OUT.TXT").splitlines())
        self.assertEqual(words(self.box.read("OUT2.TXT")),
                         {"own": "1", "length": str(os.path.getsize(package))})


class Environment(RuntimeCase):
    def test_variable_and_own_path(self):
        run = self.box.run(["RTTEST env FWPACK_FIRMWARE_DUMP > OUT.TXT",
                            dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "C:\\ROM.BIN"),
                            dosboxrun.Step("RTTEST env FWPACK_FIRMWARE_DUMP > OUT2.TXT")])
        self.assertEqual(run.exit_codes, [0, 0])
        self.assertEqual(words(self.box.read("OUT.TXT")), {"value": "(none)", "path": "C:\\RTTEST.EXE"})
        self.assertEqual(words(self.box.read("OUT2.TXT"))["value"], "C:\\ROM.BIN")


class FlatRealMode(RuntimeCase):
    def test_bios_reads_the_same_through_fs_and_through_f000(self):
        # DOSBox does not enforce real-mode limits, so the flat read is
        # checked against the same bytes read the real-mode way.
        run = self.box.run(["RTTEST flat > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0], self.box.read("OUT.TXT"))
        got = words(self.box.read("OUT.TXT"))
        self.assertEqual(got["differences"], "0")
        self.assertTrue(got["vector"].startswith("EA"), got)  # the reset vector's far jump


class Firmware(RuntimeCase):
    def test_dump_file_is_the_top_of_the_4_gib_space(self):
        dump = bytes((i * 7 + 3) % 256 for i in range(65536))
        self.box.put("ROM.BIN", dump)
        run = self.box.run([
            dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "C:\\ROM.BIN"),
            "RTTEST firmware FFFFFFF0 16 > OUT1.TXT",   # the last 16 bytes
            "RTTEST firmware FFFEFFF8 16 > OUT2.TXT",   # 8 below the dump, 8 of it
            "RTTEST firmware FFFFFFF8 16 > OUT3.TXT",   # 8 of it, 8 past 4 GiB
            dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "C:\\NONE.BIN"),
            "RTTEST firmware FFFFFFF0 4 > OUT4.TXT",
            dosboxrun.Set("FWPACK_FIRMWARE_DUMP"),
            "RTTEST firmware FFFF0 1 > OUT5.TXT",       # flat real mode: the reset vector
        ])
        self.assertEqual(run.exit_codes, [0] * 5)
        got = [words(self.box.read(f"OUT{i}.TXT"))["bytes"] for i in range(1, 6)]
        self.assertEqual(got[0], dump[-16:].hex().upper())
        self.assertEqual(got[1], "FF" * 8 + dump[:8].hex().upper())
        self.assertEqual(got[2], dump[-8:].hex().upper() + "FF" * 8)
        self.assertEqual(got[3], "FF" * 4)
        self.assertIn("FWPACK_FIRMWARE_DUMP: cannot open C:\\NONE.BIN", self.box.read("OUT4.TXT"))
        self.assertEqual(got[4], "EA")


class A20(RuntimeCase):
    def test_wrap_around_found_and_a20_turned_on_again(self):
        # DOSBox's XMS driver turns A20 on again after the fast gate closed it
        # (the PC rig shows the BIOS and keyboard-controller way, and the
        # BIOS block move, on real flash).
        run = self.box.run(["RTTEST a20 > OUT.TXT"])
        self.assertEqual(run.exit_codes, [0], self.box.read("OUT.TXT"))
        self.assertEqual(words(self.box.read("OUT.TXT")), {"off_found": "1", "enabled": "1", "on": "1"})


class StartUp(RuntimeCase):
    def test_dos_before_3_is_refused_with_one_line(self):
        run = self.box.run(["ver set 2 11", "RTTEST env PATH > OUT.TXT", "ver set 5 0",
                            "RTTEST env PATH > OUT2.TXT"])
        self.assertEqual(run.exit_codes[1::2], [255, 0])   # the ver steps leave the errorlevel
        self.assertEqual(self.box.read("OUT.TXT"), "This program needs DOS 3.0 or later.\r\n")
        self.assertIn("path=C:\\RTTEST.EXE", self.box.read("OUT2.TXT"))

    def test_a_stack_that_reached_its_guard_is_reported_at_the_end(self):
        size = linker_symbols(os.path.join(PROGRAM_DIR, "dos16_rttest.elf"))["__stack_size"]
        run = self.box.run([f"RTTEST stack {size - 1024} > OUT1.TXT",
                            f"RTTEST stack {size + 512} > OUT2.TXT"])
        self.assertEqual(run.exit_codes, [0, 255])
        self.assertEqual(self.box.read("OUT1.TXT"), "taken=1\r\n")
        self.assertIn(f"The program used more than its {size - 64} bytes of stack: its data may be "
                      "damaged.", self.box.read("OUT2.TXT"))


class Restart(RuntimeCase):
    def test_restart_request_ends_dosbox_with_its_reboot_line(self):
        run = self.box.run(["RTTEST restart > OUT.TXT"])
        self.assertEqual(self.box.read("OUT.TXT"), "restarting\r\n")
        self.assertIn("Reboot requested, quitting now.", run.log)
        self.assertEqual(run.exit_codes, [None])  # the batch file never went on

    def test_keyboard_controller_then_reset_port_then_reset_vector(self):
        # DOSBox ignores the first two; its debug log shows them in order.
        run = self.box.run(["RTTEST restart > OUT.TXT"], debug_log=True)
        log = run.debug_log
        marks = [log.find("KEYBOARD:Port 64 write with val 254"),
                 log.find("Writing 02 to port 0CF9"), log.find("Reboot requested, quitting now.")]
        self.assertTrue(all(m >= 0 for m in marks), log[-2000:])
        self.assertEqual(marks, sorted(marks))


def main():
    global PROGRAM_DIR, WORK, FWPACK, UPDATER
    parser = argparse.ArgumentParser()
    parser.add_argument("--dos16", required=True, help="the dos16 build folder")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fwpack")
    parser.add_argument("--win64", help="the win64 build folder")
    args, rest = parser.parse_known_args()
    FWPACK = args.fwpack
    UPDATER = os.path.join(args.win64, "updater.exe") if args.win64 else None
    PROGRAM_DIR = os.path.join(os.path.abspath(args.dos16), "tests", "dosprog")
    missing = [p for p in PROGRAMS if not os.path.exists(os.path.join(PROGRAM_DIR, p))]
    if missing or not dosboxrun.DOSBOX:
        print(f"skipped: {'no ' + ', '.join(missing) if missing else 'no dosbox'}")
        return 77
    WORK = os.path.join(os.path.abspath(args.work), "dosbox-runs")
    os.makedirs(WORK, exist_ok=True)
    return dosboxrun.run_cases(rest)


if __name__ == "__main__":
    sys.exit(main())
