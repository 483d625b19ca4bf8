#!/usr/bin/env python3
"""The UEFI package in the UEFI shell of an emulated PC: UPDATE.EFI with
its resources appended, the stand-in UEFI tools (EFI applications and shell
scripts), the firmware's identification block in the machine's flash. The
shell runs the package from startup.nsh; keys come from a file through the
shell's input redirection or are typed at the serial console.

Usage: uefi_cases.py --uefi BUILD_DIR --work DIR --fwpack PATH [unittest names...]
Exits 77 (skipped) with one line naming what is missing: the firmware, QEMU,
mtools, dosfstools, the uefi build's programs or fwpack.
"""
import argparse
import os
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
import updater_cases as dos_cases  # noqa: E402  (the identification block, the dump, a package's bytes)
import uefirun  # noqa: E402

UPDATE = TOOLS_DIR = WORK = FWPACK = None
TOOLS = ["EFIFLASH.EFI", "MEINFO.EFI", "MEUPD.EFI"]
SAMPLE = os.path.join(HERE, "..", "..", "..", "examples", "sample")

# The block's place: in the first range the updater searches, in the
# firmware's erased space.
BLOCK_ADDRESS = 0xFFF10000
WHOLE_UPDATE = ["efiflash.efi bios.bin /P /B", "meinfo.efi", "meupd.efi -F me.bin"]
VERSIONS = "\r\nThe Old Bios Version:A04\r\nThe New Bios Version:A05"
# What the harness puts on the volume; everything else a run left.
TEST_KEY_PASSWORD = "snakeoil"   # the firmware's test key's, as its package documents it
HARNESS_FILES = {"STARTUP.NSH", "KEYS.TXT", "KEYS16.TXT", "FW.BIN", "OLD.BIN"}


def uefi_manifest(folder, flags=(), id_string=dos_cases.ID_STRING, programs=None, scripts=None):
    """A package manifest in folder: the sample's images and Windows tools,
    the stand-in UEFI tools and scripts (name: text) in its UEFI tools,
    programs (flash program, ME query tool, ME update tool) named in [uefi]."""
    shutil.copytree(os.path.join(SAMPLE, "win"), os.path.join(folder, "win"))
    tools = os.path.join(folder, "efi")
    os.makedirs(tools)
    for name in TOOLS:
        shutil.copy(os.path.join(TOOLS_DIR, name), os.path.join(tools, name.lower()))
    for name, text in (scripts or {}).items():
        with open(os.path.join(tools, name), "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("ascii"))
    for name in ("bios.bin", "me.bin"):
        shutil.copy(os.path.join(SAMPLE, name), os.path.join(folder, name))
    flash, query, update = programs or [t.lower() for t in TOOLS]
    quoted = ", ".join(f'"{f}"' for f in flags)
    path = os.path.join(folder, "package.toml")
    with open(path, "w") as f:
        f.write(f"""[options]
flags = [{quoted}]
id_string = "{id_string}"
[windows]
tools = "win"
flash_program = "flash.exe"
me_flash_program = "meflash.exe"
[uefi]
tools = "efi"
flash_program = "{flash}"
me_query_tool = "{query}"
me_update_tool = "{update}"
[bios]
image = "bios.bin"
[me]
image = "me.bin"
""")
    return path


class VolumeBytes(dos_cases.PackageBytes):
    """A package file on the harness's side, changed before it goes on the volume."""

    def __init__(self, case, path):
        self.case, self.path = case, path
        with open(path, "rb") as f:
            self.data = bytearray(f.read())

    def save(self):
        with open(self.path, "wb") as f:
            f.write(self.data)


class UefiCase(unittest.TestCase):
    SECURE = False

    def setUp(self):
        self.started = time.monotonic()
        name = self.id().split(".")[-1]
        self.pc = uefirun.UefiPC(tempfile.mkdtemp(prefix=f"uefi-{name}-", dir=WORK), self.SECURE)
        self.flash()

    def tearDown(self):
        print(f"{self.id().split('.', 1)[1]}: {time.monotonic() - self.started:.1f} s", file=sys.stderr)
        if not os.environ.get("KEEP_UEFI_RUNS"):  # set it to look at a run's volume and console
            shutil.rmtree(self.pc.folder, ignore_errors=True)

    def flash(self, **fields):
        """The machine's flash holds an identification block (A04 on
        BOARD-X unless told); system=None: no block at all."""
        block = [] if fields.get("system", "") is None else [(BLOCK_ADDRESS, dos_cases.id_block(**fields))]
        self.pc.set_firmware(block)

    def build(self, name="PKG.EFI", flags=(), sign=False, put=True, **manifest):
        """Builds a UEFI package (signed with the firmware's test key when
        sign); puts it on the volume as name unless put is False; its path
        on the harness's side."""
        source = tempfile.mkdtemp(prefix="manifest-", dir=self.pc.folder)
        out = os.path.join(self.pc.folder, name)
        command = [FWPACK, "build", uefi_manifest(source, flags, **manifest), "--efi-stub", UPDATE, "-o", out]
        if sign:
            key = uefirun.TEST_KEY_FOLDER
            command += ["--sign-cert", os.path.join(key, "PkKek-1-snakeoil.pem"),
                        "--sign-key", os.path.join(key, "PkKek-1-snakeoil.key")]
        r = subprocess.run(command, capture_output=True, text=True,
                           env=dict(os.environ, FWPACK_SIGN_PASSWORD=TEST_KEY_PASSWORD))
        self.assertEqual(r.returncode, 0, r.stderr)
        if put:
            self.put_file(name, out)
        return out

    def put_file(self, name, path):
        with open(path, "rb") as f:
            self.pc.volume.put(name, f.read())

    def calls(self, name="CALLS.LOG"):
        return [line.rstrip() for line in self.pc.read(name, "").splitlines()]

    def out(self, name="OUT.TXT"):
        """The package's console, written by the shell's redirection (UCS-2)."""
        return self.pc.read(name, "")

    def left(self, *harness):
        """What the runs left on the volume besides the harness's own files."""
        return sorted(set(self.pc.volume.names()) - HARNESS_FILES - {n.upper() for n in harness}
                      - {n for n in self.pc.volume.names() if n.startswith("EXIT")})


class Update(UefiCase):
    def test_a_whole_update_with_the_block_in_flash(self):
        self.build()
        result = self.pc.run([("PKG.EFI /factory > OUT.TXT", 1)])
        out = self.out()
        self.assertEqual(result.code, 0, out)
        self.assertIn(VERSIONS, out)
        self.assertIn("\r\nCurrent ME version: 11.8.50.3400\r\nThe New ME version: 11.8.50.3425", out)
        self.assertEqual(self.calls(), WHOLE_UPDATE)


class Outcomes(UefiCase):
    """Packages refused before any tool runs, in one boot; each leaves
    nothing but its console."""

    def test_the_same_version_another_system_and_a_damaged_image(self):
        self.build("SAME.EFI", id_string="$FB$SAMPLE$A04$20261207$R01$BOARD-X$0001")
        self.build("OTHER.EFI", id_string="$FB$SAMPLE$A05$20261207$R01$BOARD-Y$0001")
        damaged = VolumeBytes(self, self.build("BAD.EFI", put=False))
        damaged.flip_plain_file(b"$_BIN_FILE_$", b"bios.bin")
        damaged.save()
        self.put_file("BAD.EFI", damaged.path)
        # More arguments than the updater keeps: /noreboot, the last, would
        # be lost, so the run does not start (the bad-switch exit).
        many = " ".join(["/nopause"] * 32 + ["/noreboot"])
        result = self.pc.run([("SAME.EFI /nopause > SAME.TXT", 1), ("OTHER.EFI /nopause > OTHER.TXT", 2),
                              ("BAD.EFI /nopause > BAD.TXT", 3), (f"SAME.EFI {many} > MANY.TXT", 4)])
        self.assertEqual(result.codes, {1: 10, 2: 9, 3: 8, 4: 1}, result.console[-1000:])
        self.assertEqual(self.out("MANY.TXT"), "The command line has too many or too long arguments.\r\n")
        self.assertIn("\r\nThe Current System:BOARD-X\r\nThe File System:BOARD-Y", self.out("OTHER.TXT"))
        self.assertTrue(self.out("BAD.TXT").endswith("\r\nThe BIOS bin file has destroyed, checksum error"),
                        self.out("BAD.TXT")[-200:])
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.left("SAME.EFI", "OTHER.EFI", "BAD.EFI", "SAME.TXT", "OTHER.TXT", "BAD.TXT", "MANY.TXT"), [])


class Keys(UefiCase):
    def test_no_typed_at_the_update_question(self):
        self.build()
        with self.pc.start([("PKG.EFI", 1)]) as session:
            at = session.wait_for_text("Update BIOS(Yes/No)?")
            session.send("n")
            result = session.wait()
        self.assertEqual(result.code, 12, result.console[at - 200:])
        self.assertIn(VERSIONS.replace("\r", "") + "\nUpdate BIOS(Yes/No)?", result.console)
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.left("PKG.EFI"), [])

    def test_answers_from_a_file(self):
        """Keys through the shell's input redirection, from a file of single
        bytes and from one in UCS-2 with a byte-order mark: "y" to the
        update, "n" to the restart, one run each in one boot."""
        self.build()
        self.pc.volume.put("KEYS.TXT", b"yn")
        self.pc.volume.put("KEYS16.TXT", "yn".encode("utf-16"))
        result = self.pc.run([("PKG.EFI < KEYS.TXT > OUT.TXT", 1), "del CALLS.LOG",
                              ("PKG.EFI < KEYS16.TXT > OUT16.TXT", 2)])
        for n, name in ((1, "OUT.TXT"), (2, "OUT16.TXT")):
            with self.subTest(name):
                out = self.out(name)
                self.assertEqual(result.codes.get(n), 20, out)
                self.assertIn("Update BIOS(Yes/No)?y", out)
        self.assertEqual(self.calls(), WHOLE_UPDATE)


class Restart(UefiCase):
    def test_no_pause_restarts_the_machine(self):
        """The restart ends QEMU (-no-reboot) before startup.nsh records
        the status: the updater restarted the machine itself."""
        self.build()
        result = self.pc.run([("PKG.EFI /nopause > OUT.TXT", 1)])
        self.assertTrue(result.reset, f"the script went on after the package: {result.codes}")
        self.assertEqual(self.calls(), WHOLE_UPDATE)
        self.assertIn(VERSIONS, self.out())


# Shell scripts as the package's tools. The shell's echo takes a word that
# begins with "/" or "-" as its own flag even when quoted, so the script
# records its arguments inside one quoted text; ">>a" appends single bytes,
# as the EFI stand-ins write CALLS.LOG.
FLASH_SCRIPT = 'echo "flash.nsh %1 %2 %3" >>a CALLS.LOG\nexit /b {status}\n'
# The version starts at index 40 of the line; the shell writes the script's
# output, with its echoed command lines, as UCS-2.
MEINFO_SCRIPT = ('echo "meinfo.nsh" >>a CALLS.LOG\n'
                 'echo "ME information script"\necho "FW Version:{pad}{{version}}"\nexit /b 0\n'.format(pad=" " * 29))


class Scripts(UefiCase):
    """Shell scripts as the package's tools, three packages in one boot,
    each run in a folder of its own (a tool of another package's name and
    other bytes would be refused): the ME query script beside the EFI
    flash program, and flash scripts ending with 0 and with 5."""

    RUNS = {  # package: (its programs, its flash script's status)
        "QUERY": (["efiflash.efi", "meinfo.nsh", "meupd.efi"], 0),
        "FLASH0": (["flash.nsh", "meinfo.efi", "meupd.efi"], 0),
        "FLASH5": (["flash.nsh", "meinfo.efi", "meupd.efi"], 5),
    }

    def test_script_tools(self):
        steps = []
        for n, (name, (programs, status)) in enumerate(self.RUNS.items(), 1):
            scripts = {"flash.nsh": FLASH_SCRIPT.format(status=status),
                       "meinfo.nsh": MEINFO_SCRIPT.format(version="11.8.50.3400")}
            self.build(f"{name}.EFI", programs=programs, scripts=scripts)
            steps += [f"mkdir {name}", f"cd {name}", (f"..\\{name}.EFI /factory > ..\\{name}.TXT", n), "cd \\"]
        result = self.pc.run(steps)
        outcomes = {"QUERY": (0, ["efiflash.efi bios.bin /P /B", "meinfo.nsh", "meupd.efi -F me.bin"]),
                    "FLASH0": (0, ["flash.nsh bios.bin /P /B", "meinfo.efi", "meupd.efi -F me.bin"]),
                    "FLASH5": (13, ["flash.nsh bios.bin /P /B"])}
        for n, (name, (code, calls)) in enumerate(outcomes.items(), 1):
            with self.subTest(name):
                out = self.out(f"{name}.TXT")
                self.assertEqual(result.codes.get(n), code, out[-600:])
                self.assertEqual(self.calls(f"{name}/CALLS.LOG"), calls)
                if code == 0:
                    self.assertIn("\r\nCurrent ME version: 11.8.50.3400\r\nThe New ME version: 11.8.50.3425", out)
                else:
                    self.assertTrue(out.endswith("\r\nflash.nsh bios.bin  /P /B run fail\r\n"), out[-200:])


class Dump(UefiCase):
    """FWPACK_FIRMWARE_DUMP, set in the shell, names the firmware the
    updater reads in place of the flash: another system's block in flash,
    the package's system in the dump."""

    def test_the_dump_named_by_a_shell_variable(self):
        self.flash(system="BOARD-Y")
        self.build()
        self.pc.volume.put("FW.BIN", dos_cases.dump(version="A05"))
        self.pc.volume.put("OLD.BIN", dos_cases.dump())
        result = self.pc.run([("PKG.EFI /nopause > FLASH.TXT", 1),
                              "set -v FWPACK_FIRMWARE_DUMP FW.BIN", ("PKG.EFI /nopause > SAME.TXT", 2),
                              "set -v FWPACK_FIRMWARE_DUMP FS0:\\OLD.BIN", ("PKG.EFI < KEYS.TXT > OLD.TXT", 3)])
        self.assertEqual(result.codes, {1: 9, 2: 10, 3: 12}, result.console[-1000:])
        self.assertIn("\r\nThe Current System:BOARD-Y\r\nThe File System:BOARD-X", self.out("FLASH.TXT"))
        self.assertIn(VERSIONS, self.out("OLD.TXT"))
        self.assertEqual(self.calls(), [])

    def setUp(self):
        super().setUp()
        self.pc.volume.put("KEYS.TXT", b"n")


# What the package says when it starts without the shell: its code ran.
NO_SHELL_LINE = "UPDATE.EFI runs in the UEFI shell."
# Where the firmware's boot manager looks for a program on a removable disk.
BOOT_FOLDER, BOOT_PROGRAM = "EFI/BOOT", "EFI/BOOT/BOOTX64.EFI"


class SecureBoot(UefiCase):
    """The firmware that checks signatures, with variables whose db trusts
    the test key. Its own shell is refused there (it is not signed with
    that key), so the package is the disk's boot program and runs with no
    shell: its line that it needs one shows that its code ran, the boot
    manager's "Access Denied" when it loads the program that the firmware
    refused it."""
    SECURE = True

    def boot(self, package):
        """Boots package as the disk's boot program; the console up to the
        boot manager's end."""
        self.pc.volume.delete(BOOT_PROGRAM)
        self.put_file(BOOT_PROGRAM, package)
        with self.pc.start() as session:
            session.wait_for_text(uefirun.NOTHING_TO_BOOT)
            return session.console()

    def test_only_the_signed_package_runs(self):
        self.pc.volume.make_folder("EFI")
        self.pc.volume.make_folder(BOOT_FOLDER)
        signed = self.build("SIGNED.EFI", sign=True, put=False)
        tampered = VolumeBytes(self, self.build("TAMPERED.EFI", sign=True, put=False))
        start, length = tampered.body(b"$_BIN_FILE_$")
        tampered.data[start + length // 2] ^= 0x01
        tampered.save()
        unsigned = self.build("UNSIGNED.EFI", put=False)
        console = self.boot(signed)
        self.assertIn(NO_SHELL_LINE, console)
        self.assertRegex(console, r'failed to start Boot\d+ "UEFI QEMU HARDDISK[^\n]*: Unsupported')
        for name, package in (("unsigned", unsigned), ("tampered", tampered.path)):
            with self.subTest(name):
                console = self.boot(package)
                self.assertNotIn(NO_SHELL_LINE, console)
                self.assertRegex(console, r'failed to load Boot\d+ "UEFI QEMU HARDDISK[^\n]*: Access Denied')


def main():
    global UPDATE, TOOLS_DIR, WORK, FWPACK
    parser = argparse.ArgumentParser()
    parser.add_argument("--uefi", required=True, help="the uefi build folder")
    parser.add_argument("--work", required=True)
    parser.add_argument("--fwpack", required=True)
    args, rest = parser.parse_known_args()
    build = os.path.abspath(args.uefi)
    UPDATE = os.path.join(build, "app", "efiupd", "UPDATE.EFI")
    TOOLS_DIR = os.path.join(build, "tests", "efiprog")
    FWPACK = args.fwpack
    missing = uefirun.missing_prerequisites([UPDATE, FWPACK] + [os.path.join(TOOLS_DIR, t) for t in TOOLS])
    if missing:
        print(f"skipped: missing {', '.join(missing)}")
        return 77
    WORK = os.path.join(os.path.abspath(args.work), "uefi-runs")
    os.makedirs(WORK, exist_ok=True)
    return dosboxrun.run_cases(rest)


if __name__ == "__main__":
    sys.exit(main())
