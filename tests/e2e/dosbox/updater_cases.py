#!/usr/bin/env python3
"""The DOS updater (DOSUPD.EXE) under DOSBox, started as a package .exe: the
DOS program in front of updater.exe's PE headers finds the package's
resources in its own file, unpacks them, checks the firmware identification
from a dump file (DOSBox has no flash at the top of memory), runs the
stand-in DOS tools of tests/dosprog and ends with its exit code.

Usage: updater_cases.py --dos16 BUILD_DIR --work DIR --fwpack PATH --win64 DIR
                        [unittest names...]
Exits 77 (skipped) when DOSBox, the dos16 programs, fwpack or updater.exe
is missing.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dosboxrun  # noqa: E402

TOOLS = ["DOSFLASH.EXE", "MEINFO.EXE", "MEUPD.EXE"]
DOSUPD = TOOLS_DIR = WORK = FWPACK = UPDATER = None
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "examples", "sample")

ID_STRING = "$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001"
HELP_LINE = " 1) /Factory    A combination of no pause, no reboot, and no overwrite"
# The dump stands for the top of the 4 GiB space and reaches down to the
# first range searched for the "$FB" block (0xFFEB0000).
DUMP_SIZE = 0x100000000 - 0xFFEB0000


def id_block(system="BOARD-X", version="A04"):
    """The running firmware's identification block, as it stands in flash."""
    return f"$FB$SAMPLE${version}$20261207$R01${system}$".encode() + b"\x01\x00"


def dump(system="BOARD-X", version="A04"):
    block = id_block(system, version)
    data = bytearray(b"\xff" * DUMP_SIZE)
    data[0x100:0x100 + len(block)] = block
    return bytes(data)


def manifest(folder, flags, id_string=ID_STRING, me_image=None):
    """A package manifest in folder: the sample's images (or me_image's
    bytes as the ME image) and Windows tools, the stand-in DOS tools, the
    given option flags and identification."""
    shutil.copytree(os.path.join(SAMPLE, "win"), os.path.join(folder, "win"))
    os.makedirs(os.path.join(folder, "dos"))
    for name in TOOLS:
        shutil.copy(os.path.join(TOOLS_DIR, name), os.path.join(folder, "dos", name.lower()))
    for name in ("bios.bin", "me.bin"):
        shutil.copy(os.path.join(SAMPLE, name), os.path.join(folder, name))
    if me_image is not None:
        with open(os.path.join(folder, "me.bin"), "wb") as f:
            f.write(me_image)
    quoted = ", ".join(f'"{f}"' for f in flags)
    text = f"""[options]
flags = [{quoted}]
id_string = "{id_string}"
[windows]
tools = "win"
flash_program = "flash.exe"
me_flash_program = "meflash.exe"
[dos]
tools = "dos"
flash_program = "dosflash.exe"
me_query_tool = "meinfo.exe"
me_update_tool = "meupd.exe"
[bios]
image = "bios.bin"
[me]
image = "me.bin"
"""
    path = os.path.join(folder, "package.toml")
    with open(path, "w") as f:
        f.write(text)
    return path


class UpdaterCase(unittest.TestCase):
    def setUp(self):
        self.box = dosboxrun.DosBox(tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "-", dir=WORK))
        self.package()
        self.box.put("FW.BIN", dump())

    def tearDown(self):
        if not os.environ.get("KEEP_DOSBOX_RUNS"):  # set it to look at a run's files
            shutil.rmtree(self.box.folder, ignore_errors=True)

    def package(self, flags=(), program=None, **contents):
        """PKG.EXE: updater.exe with DOSUPD.EXE (or program) in front and the
        package's resources, built and verified by fwpack."""
        source = tempfile.mkdtemp(prefix="manifest-", dir=self.box.folder)
        out = self.box.path("PKG.EXE")
        r = subprocess.run([FWPACK, "build", manifest(source, flags, **contents), "--stub", UPDATER,
                            "--dos-program", program or DOSUPD, "-o", out], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        r = subprocess.run([FWPACK, "verify", out], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def run_updater(self, tail, keys=None, environment=None):
        """One run of PKG with the firmware dump; its exit code, console text and DOSBox log."""
        steps = [dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "FW.BIN")]
        steps += [dosboxrun.Set(k, v) for k, v in (environment or {}).items()]
        line = f"PKG {tail}".rstrip()
        if keys is not None:
            self.box.put("KEYS.TXT", keys)
            line += " < KEYS.TXT"
        run = self.box.run(steps + [line + " > OUT.TXT"])
        return run.exit_codes[0], self.box.read("OUT.TXT", ""), run.log

    def calls(self):
        return self.box.read("CALLS.LOG", "").splitlines()

    def left(self):
        """The files in C:\ besides the harness's own (RUN.BAT, EXITn.TXT)."""
        names = (n.upper() for n in os.listdir(self.box.drive) if os.path.isfile(self.box.path(n)))
        return sorted(n for n in names if n != "RUN.BAT" and not n.startswith("EXIT"))


class Switches(UpdaterCase):
    def test_help_and_a_bad_switch(self):
        code, out, _ = self.run_updater("/?")
        self.assertEqual(code, 0)
        self.assertIn(HELP_LINE + "\r\n", out)
        code, out, _ = self.run_updater("/nopause /bogus")
        self.assertEqual(code, 1)
        self.assertEqual(out, "\r\nThe command line parameter is not correct.")
        self.assertEqual(self.calls(), [])


class Questions(UpdaterCase):
    def test_no_to_the_update_and_the_end_of_the_keys(self):
        code, out, _ = self.run_updater("", keys="xn")
        self.assertEqual(code, 12, out)
        self.assertIn("\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05", out)
        self.assertIn("\r\nUpdate BIOS(Yes/No)?n", out)
        self.assertEqual(self.calls(), [])
        # The unpacked files and every scratch file are gone again.
        self.assertEqual(self.left(), ["FW.BIN", "KEYS.TXT", "OUT.TXT", "PKG.EXE"])
        # An empty key file: the end of the input answers no.
        code, out, _ = self.run_updater("", keys="")
        self.assertEqual(code, 12, out)
        self.assertIn("Update BIOS(Yes/No)?n", out)

    def test_yes_flashes_both_and_no_to_the_restart(self):
        code, out, _ = self.run_updater("", keys="yn")
        self.assertEqual(code, 20, out)
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B", "meinfo.exe",
                                        "meupd.exe -F me.bin"])
        self.assertIn("\r\nCurrent ME version: 11.8.50.3400\r\nThe New ME version: 11.8.50.3425", out)
        self.assertTrue(out.endswith("\r\nRestart System(Yes/No)?n"), out[-200:])
        # Delete-at-end is off: the tools and images stay, the filler goes.
        for name in ["BIOS.BIN", "DOSFLASH.EXE", "ME.BIN", "ME.LOG", "MEINFO.EXE", "MEUPD.EXE"]:
            self.assertIn(name, self.left())
        self.assertNotIn("WASTE.DAT", self.left())


class Outcomes(UpdaterCase):
    def test_a_failing_flash_program_fails_the_run(self):
        code, out, _ = self.run_updater("/nopause", environment={"DOSFLASH_EXIT": "5"})
        self.assertEqual(code, 13, out)
        self.assertIn("\r\ndosflash.exe bios.bin  /P /B run fail\r\n", out)
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B"])

    def test_a_failing_me_update_and_an_older_me_image(self):
        code, out, _ = self.run_updater("/factory", environment={"MEUPD_ERROR": "1"})
        self.assertEqual(code, 19, out)
        self.assertTrue(out.endswith("Flash ME fail"), out[-100:])
        os.remove(self.box.path("CALLS.LOG"))
        code, out, _ = self.run_updater("/factory", environment={"ME_CURRENT": "12.0.0.1"})
        self.assertEqual(code, 0, out)
        self.assertIn("\r\nME Version is less or same to Current Version.", out)
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B", "meinfo.exe"])

    def test_another_system_or_no_firmware_block(self):
        self.box.put("FW.BIN", dump(system="BOARD-Y"))
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 9, out)
        self.assertIn("\r\nThe Current System:BOARD-Y\r\nThe File System:BOARD-X", out)
        os.remove(self.box.path("FW.BIN"))   # nothing at the top of memory: no block
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 9, out)
        self.assertIn("\r\nThe Current System:\r\nThe File System:BOARD-X", out)
        self.box.put("FW.BIN", dump(version="A05"))
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 10, out)
        self.assertEqual(self.calls(), [])

    def test_option_bit_one_removes_what_was_unpacked(self):
        self.package(flags=["delete-at-end", "factory"])
        code, out, _ = self.run_updater("")
        self.assertEqual(code, 0, out)
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B", "meinfo.exe",
                                        "meupd.exe -F me.bin"])
        self.assertEqual(self.left(), ["CALLS.LOG", "FW.BIN", "OUT.TXT", "PKG.EXE"])


class ToolEnds(UpdaterCase):
    """How a flash program ended, as EXEC reports it: one that stays
    resident has not flashed, and no ME step and no restart follow. (A tool
    ended by a break needs a keyboard: DOSBox hangs in a program that calls
    its INT 23h itself.) The tool sees its own first argument in its file
    control block."""

    def test_a_flash_program_that_stays_resident(self):
        code, out, _ = self.run_updater("/nopause", environment={"DOSFLASH_END": "resident"})
        self.assertEqual(code, 13, out)
        self.assertTrue(out.endswith("\r\ndosflash.exe bios.bin  /P /B run fail\r\n"), out[-200:])
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B"])
        self.assertEqual(self.left(), ["CALLS.LOG", "FW.BIN", "OUT.TXT", "PKG.EXE"])

    def test_the_tool_gets_its_own_first_argument_as_its_file_control_block(self):
        code, out, _ = self.run_updater("/factory", environment={"DOSFLASH_FCB": "1"})
        self.assertEqual(code, 0, out)
        self.assertEqual(self.box.read("FCB.LOG", ""), "BIOS    BIN")


class DamagedStreams(UpdaterCase):
    """A package whose compressed stream is damaged after fwpack wrote it:
    the DOS updater's inflate reports zlib's code and the step's exit."""

    def damage(self, tag):
        with open(self.box.path("PKG.EXE"), "rb") as f:
            data = bytearray(f.read())
        at = data.find(tag)
        self.assertGreater(at, 0)
        data[at + 16] ^= 0xFF   # the stream's first header byte
        self.box.put("PKG.EXE", bytes(data))

    def test_a_damaged_tool_stream(self):
        self.damage(b"$_DOS__EXE_$")
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 4, out)
        self.assertTrue(out.endswith("\r\nDecompress the exe file.\r\nError! udosexe = -3\r\n"), out[-100:])
        self.assertEqual(self.left(), ["FW.BIN", "OUT.TXT", "PKG.EXE"])

    def test_a_damaged_me_stream(self):
        self.damage(b"$_ME__FILE_$")
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 6, out)
        self.assertTrue(out.endswith("\r\nError! unMEbin = -3\r\n"), out[-100:])
        # What the steps before unpacked is removed with the scratch files.
        self.assertEqual(self.left(), ["FW.BIN", "OUT.TXT", "PKG.EXE"])


class PackageBytes:
    """A built package file, changed in place the way a damaged copy would
    be: each resource is found as the DOS updater's scan finds it, at the
    first place its tag occurs, with its body length 12 bytes in and its
    body 16 bytes in."""

    def __init__(self, case, name="PKG.EXE"):
        self.case, self.name = case, name
        with open(case.box.path(name), "rb") as f:
            self.data = bytearray(f.read())

    def save(self):
        self.case.box.put(self.name, bytes(self.data))

    def body(self, tag):
        at = self.data.find(tag)
        self.case.assertGreater(at, 0, tag)
        length = struct.unpack_from("<I", self.data, at + 12)[0]
        return at + 16, length

    @staticmethod
    def file_in(package, name):
        """Where the file called name lies in a package's bytes (a u32
        count, 300-byte records with the size at 36 and the name at 40,
        then the files in record order): its offset and size."""
        count = struct.unpack_from("<I", package, 0)[0]
        cursor = 4 + 300 * count
        for i in range(count):
            record = 4 + 300 * i
            size = struct.unpack_from("<I", package, record + 36)[0]
            if package[record + 40:record + 300].split(b"\0", 1)[0] == name:
                return cursor, size
            cursor += size
        raise AssertionError(f"no {name!r} in the package")

    def flip_plain_file(self, tag, name):
        """Changes one byte in the middle of a file of a plain (stored) package."""
        start, length = self.body(tag)
        at, size = self.file_in(self.data[start:start + length], name)
        self.data[start + at + size // 2] ^= 0xFF

    def flip_packed_file(self, tag, name):
        """Clears the first byte of a file of a compressed package (bytes
        before the ME image's marker) and deflates the package again with
        the window the DOS updater inflates; the new stream must be no
        longer than the old one, whose room it takes with zeros after it
        (the bytes after a stream's end are not read)."""
        start, length = self.body(tag)
        package = bytearray(zlib.decompressobj().decompress(bytes(self.data[start:start + length])))
        at, _ = self.file_in(package, name)
        self.case.assertNotEqual(package[at], 0)
        package[at] = 0
        packer = zlib.compressobj(9, zlib.DEFLATED, 10)
        stream = packer.compress(bytes(package)) + packer.flush()
        self.case.assertLessEqual(len(stream), length)
        self.data[start:start + length] = stream + bytes(length - len(stream))

    def rename_in_options(self, old, new):
        """Gives an option block name field another name of the same length."""
        start, _ = self.body(b"$__OPTION__$")
        self.case.assertEqual(len(old), len(new))
        at = self.data.find(b"\0" + old + b"\0", start)
        self.case.assertGreater(at, 0, old)
        self.data[at + 1:at + 1 + len(new)] = new


class DamagedImages(UpdaterCase):
    """Package files changed after fwpack built them: the images' sums no
    longer match their records, or the option block names an image that
    the packages do not hold."""

    FLASHED = ["dosflash.exe bios.bin /P /B"]

    # What the packages unpack; a damaged image removes it all, an image that
    # cannot be opened leaves it (only the filler goes at exits 7 and 14).
    UNPACKED = ["BIOS.BIN", "DOSFLASH.EXE", "ME.BIN", "MEINFO.EXE", "MEUPD.EXE"]

    def refused(self, edit, args, code, ending, calls, kept=()):
        """The package changed by edit(args) ends a /nopause run with code
        and the text ending; calls are the tools run before; of what the
        packages unpacked only kept is left."""
        package = PackageBytes(self)
        edit(package, *args)
        package.save()
        got, out, _ = self.run_updater("/nopause")
        self.assertEqual(got, code, out)
        self.assertTrue(out.endswith(ending), out[-200:])
        self.assertEqual(self.calls(), calls)
        self.assertEqual(self.left(), sorted((["CALLS.LOG"] if calls else []) + list(kept)
                                             + ["FW.BIN", "OUT.TXT", "PKG.EXE"]))

    def test_a_changed_bios_image(self):
        self.refused(PackageBytes.flip_plain_file, (b"$_BIN_FILE_$", b"bios.bin"), 8,
                     "\r\nDecompress the ME bin file OK.\r\nBegin to check bin file."
                     "\r\nThe BIOS bin file has destroyed, checksum error", [])

    def test_a_changed_me_image(self):
        self.refused(PackageBytes.flip_packed_file, (b"$_ME__FILE_$", b"me.bin"), 15,
                     "\r\nInvoke the exe file!\r\n\r\nBegin to check ME bin file."
                     "\r\nThe ME bin file has destroyed, checksum error", self.FLASHED)

    def test_a_bios_image_the_packages_do_not_hold(self):
        self.refused(PackageBytes.rename_in_options, (b"bios.bin", b"bios.bix"), 7,
                     "\r\nBegin to check bin file.\r\nFail to open BIOS bin file, can't get checksum", [],
                     kept=self.UNPACKED)

    def test_an_me_image_the_packages_do_not_hold(self):
        self.refused(PackageBytes.rename_in_options, (b"me.bin", b"me.bix"), 14,
                     "\r\nBegin to check ME bin file.\r\nFail to open ME bin file, can't get checksum",
                     self.FLASHED, kept=self.UNPACKED)


class MissingResources(UpdaterCase):
    START = "\r\nDON'T POWER OFF the system during the update process."
    NOT_FOUND = "\r\nCan not find useful file to flash BIOS or ME."

    def test_the_dos_program_on_its_own(self):
        shutil.copy(DOSUPD, self.box.path("PKG.EXE"))
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 3, out)
        self.assertEqual(out, self.START + self.NOT_FOUND)
        self.assertEqual(self.left(), ["FW.BIN", "OUT.TXT", "PKG.EXE"])

    def test_a_package_without_its_option_block(self):
        """The three packages are unpacked before the scan runs out."""
        package = PackageBytes(self)
        start, _ = package.body(b"$__OPTION__$")
        package.data[start - 16] ^= 0xFF
        package.save()
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 3, out)
        self.assertTrue(out.endswith("\r\nDecompress the ME bin file OK." + self.NOT_FOUND), out[-200:])
        # Nothing of the packages is written before all four resources are
        # known: only the filler was there, and it goes.
        self.assertEqual(self.left(), ["FW.BIN", "OUT.TXT", "PKG.EXE"])


class Filler(UpdaterCase):
    def test_a_folder_where_the_filler_goes(self):
        os.mkdir(self.box.path("WASTE.DAT"))
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 1, out)
        self.assertEqual(out, MissingResources.START + "\r\nfail to open waste.dat")
        self.assertTrue(os.path.isdir(self.box.path("WASTE.DAT")))

    def test_a_drive_too_small_for_the_filler(self):
        """The filler takes 7,680,000 bytes; drive C: has 1 MiB. The
        program on its own stops there, before any scan."""
        self.box = dosboxrun.DosBox(self.box.folder, drive_room=1 << 20)
        shutil.copy(DOSUPD, self.box.path("PKG.EXE"))
        os.remove(self.box.path("FW.BIN"))
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 1, out)
        self.assertEqual(out, MissingResources.START + "\r\nfail to write waste.dat: the disk is full")
        self.assertEqual(self.left(), ["OUT.TXT", "PKG.EXE"])


class OwnFile(UpdaterCase):
    def test_a_package_started_by_a_long_path(self):
        """DOS starts a program found through PATH by a full path of 80
        characters: the package still finds its own file. The run's work
        files go to the current folder, C:\\."""
        folders = ["DEEPPATH"] * 7 + ["TOTAL8"]
        folder = "C:\\" + "\\".join(folders)
        self.assertEqual(len(folder + "\\PKG.EXE"), 80)
        os.makedirs(os.path.join(self.box.drive, *folders))
        os.replace(self.box.path("PKG.EXE"), os.path.join(self.box.drive, *folders, "PKG.EXE"))
        code, out, _ = self.run_updater("", keys="n", environment={"PATH": folder})
        self.assertEqual(code, 12, out)
        self.assertTrue(out.endswith("\r\nUpdate BIOS(Yes/No)?n"), out[-200:])
        self.assertEqual(self.left(), ["FW.BIN", "KEYS.TXT", "OUT.TXT"])


class MeOutcomes(UpdaterCase):
    def test_a_log_without_the_version_line(self):
        code, out, _ = self.run_updater("/nopause", environment={"MEINFO_MODE": "nofw"})
        self.assertEqual(code, 16, out)
        self.assertTrue(out.endswith("There is not FW version in log file.\r\n\r\n"
                                     "Can not get current ME version from log!"), out[-120:])

    def test_an_me_image_without_its_marker(self):
        self.package(me_image=b"\x00" * 4096)
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 17, out)
        self.assertIn("\r\nCan't find the flag '$MN2' in bin file!\r\nCan not get the new ME version!", out)

    def test_no_restart_after_a_skipped_me_update(self):
        code, out, _ = self.run_updater("", keys="yn", environment={"ME_CURRENT": "12.0.0.1"})
        self.assertEqual(code, 18, out)
        self.assertEqual(self.calls(), ["dosflash.exe bios.bin /P /B", "meinfo.exe"])

    def test_a_package_version_of_unknown_form(self):
        self.package(id_string=ID_STRING.replace("$A05$", "$B05$"))
        code, out, _ = self.run_updater("/nopause")
        self.assertEqual(code, 11, out)
        self.assertIn("\r\nThe Bios verison format is wrong!\r\n", out)


class Restart(UpdaterCase):
    def test_no_pause_ends_with_the_restart(self):
        code, out, log = self.run_updater("/nopause")
        self.assertIn("Reboot requested, quitting now.", log)
        self.assertIsNone(code)   # DOSBox ended with the reset: the batch went no further
        self.assertEqual(len(self.calls()), 3)


class Stack(UpdaterCase):
    # What a run must leave of the stack: room for interrupt handlers (a
    # Ctrl-C handler runs on it) and for DOS's own use of the caller's stack
    # that the start-up's marks cannot see.
    MARGIN = 1024
    # Conventional memory the program may take while its tools run.
    MEMORY_GOAL = 160 * 1024

    def test_the_deepest_run_leaves_part_of_the_stack(self):
        """UPDSTACK.EXE is DOSUPD.EXE with the same stack, reporting what the
        run left untouched and the memory its blocks take: the flash step's
        EXEC of each tool and the ME log's read are the deepest calls."""
        self.package(program=os.path.join(TOOLS_DIR, "UPDSTACK.EXE"))
        code, out, _ = self.run_updater("/debug", keys="yn")
        self.assertEqual(code, 20, out)
        unused = int(out.rsplit("stack_unused=", 1)[1].split()[0])
        memory = int(out.rsplit("memory_in_use=", 1)[1].split()[0])
        print(f"stack_unused={unused} memory_in_use={memory}")
        self.assertGreaterEqual(unused, self.MARGIN)
        # The program's block and the transfer buffer at least.
        self.assertGreater(memory, 51200)
        self.assertLessEqual(memory, self.MEMORY_GOAL)


def main():
    global DOSUPD, TOOLS_DIR, WORK, FWPACK, UPDATER
    parser = argparse.ArgumentParser()
    parser.add_argument("--dos16", required=True, help="the dos16 build folder")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fwpack")
    parser.add_argument("--win64", help="the win64 build folder")
    args, rest = parser.parse_known_args()
    dos16 = os.path.abspath(args.dos16)
    DOSUPD = os.path.join(dos16, "app", "dosupd", "DOSUPD.EXE")
    TOOLS_DIR = os.path.join(dos16, "tests", "dosprog")
    FWPACK = args.fwpack
    UPDATER = os.path.join(args.win64, "updater.exe") if args.win64 else None
    needed = [DOSUPD, FWPACK, UPDATER] + [os.path.join(TOOLS_DIR, t) for t in TOOLS + ["UPDSTACK.EXE"]]
    missing = [p for p in needed if not p or not os.path.exists(p)]
    if missing or not dosboxrun.DOSBOX:
        print(f"skipped: {'no ' + ', '.join(map(str, missing)) if missing else 'no dosbox'}")
        return 77
    WORK = os.path.join(os.path.abspath(args.work), "dosbox-updater-runs")
    os.makedirs(WORK, exist_ok=True)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
