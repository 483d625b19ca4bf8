#!/usr/bin/env python3
"""End-to-end runs of Linux packages.

fwpack builds each package around the real dosupdater program from a manifest
with stand-in DOS tools (sh scripts that record their command line in
calls.log and answer as the environment tells them) and a firmware dump that
holds the "$FB" identification block. Packages the builder would refuse
(wrong checksums, names that do not match) are made from its resources with
the same layout as `fwpack build --dos-stub`; a test checks that layout
against the builder's own output.

Every run of a package happens inside a user and PID namespace
(unshare -Urpf): there a restart (reboot(2)) ends only the namespace's first
process, which its parent sees killed by SIGHUP.

Usage: dos_e2e.py --fwpack PATH --dosupdater PATH [unittest names...]
"""
import argparse
import fcntl
import os
import re
import select
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import termios
import unittest
import zlib

FWPACK = DOSUPDATER = None
ROOT = None

TAGS = {2000: b"$_DOS__EXE_$", 2002: b"$_BIN_FILE_$", 2003: b"$__OPTION__$", 2004: b"$_ME__FILE_$"}
OPTION_FIELDS = {"DosFlashProgram": 524, "BiosImageName": 1044, "IdString": 1304,
                 "MeImageName": 1692, "DosMeQueryTool": 1952}

PACKAGE_ID = "$FB$VENDOR$A05$20261207$R01$BOARD-X$0001"
ME_NEW = (11, 8, 50, 3425)

TOOLS = {
    "dosflash.exe": """#!/bin/sh
# Stand-in DOS flash program: records its command line; DOSFLASH_EXIT is its result.
echo "dosflash.exe $*" >> calls.log
if [ -n "$DOSFLASH_SIGNAL" ]; then kill -s "$DOSFLASH_SIGNAL" $$; fi
exit "${DOSFLASH_EXIT:-0}"
""",
    "meinfo.exe": """#!/bin/sh
# Stand-in ME information tool: its output is the updater's me.log.
echo "meinfo.exe $*" >> calls.log
case "${MEINFO_MODE:-version}" in
  nolog) rm -f me.log ;;
  nofw) echo "ME information: no firmware version found" ;;
  *) echo "ME information tool"
     printf 'FW Version:%29s%s\\n' '' "${ME_CURRENT:-11.8.50.3400}" ;;
esac
""",
    "meupd.exe": """#!/bin/sh
# Stand-in ME update tool: records its command line; MEUPD_ERROR leaves an error.log.
echo "meupd.exe $*" >> calls.log
if [ -n "$MEUPD_ERROR" ]; then echo "update failed" > error.log; fi
exit 0
""",
}

MANIFEST = """[options]
flags = {flags}
id_string = "{id}"

[windows]
tools = "win"
flash_program = "flash.exe"

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

UNPACKED = ["bios.bin", "dosflash.exe", "me.bin", "meinfo.exe", "meupd.exe"]


def me_image(version=ME_NEW, marker=True):
    data = bytearray((i * 37 + 11) % 251 for i in range(8192))
    data = bytearray(b if b != ord("$") else 0 for b in data)
    if marker:
        data[4096:4100] = b"$MN2"
        data[4104:4112] = struct.pack("<4H", *version)
    return bytes(data)


def new_dir(prefix):
    path = tempfile.mkdtemp(prefix=prefix, dir=ROOT)
    os.chmod(path, 0o777)
    return path


def source(name, flags=0, id_string=PACKAGE_ID, me=None):
    """A manifest with its tools and images; returns the manifest's path."""
    src = new_dir(name + "-src-")
    os.makedirs(os.path.join(src, "dos"))
    os.makedirs(os.path.join(src, "win"))
    for tool, text in TOOLS.items():
        with open(os.path.join(src, "dos", tool), "w") as f:
            f.write(text)
    with open(os.path.join(src, "win", "flash.exe"), "wb") as f:
        f.write(b"MZ stand-in")
    with open(os.path.join(src, "bios.bin"), "wb") as f:
        f.write(bytes((i * 7 + 3) % 256 for i in range(65536)))
    with open(os.path.join(src, "me.bin"), "wb") as f:
        f.write(me if me is not None else me_image())
    manifest = os.path.join(src, "package.toml")
    with open(manifest, "w") as f:
        f.write(MANIFEST.format(flags=flags, id=id_string))
    return manifest


def package_of(manifest):
    """`fwpack build MANIFEST --dos-stub dosupdater -o package.run`"""
    out = os.path.join(os.path.dirname(manifest), "package.run")
    subprocess.run([FWPACK, "build", manifest, "--dos-stub", DOSUPDATER, "-o", out],
                   check=True, stdout=subprocess.DEVNULL)
    return out


def resources_of(manifest):
    out = os.path.join(os.path.dirname(manifest), "resources")
    subprocess.run([FWPACK, "build", manifest, "--resources-dir", out], check=True,
                   stdout=subprocess.DEVNULL)
    res = {}
    for rid in (2000, 2001, 2002, 2003, 2004):
        with open(os.path.join(out, "%d.bin" % rid), "rb") as f:
            res[rid] = f.read()
    return res


def build(name, to_resources=False, **options):
    manifest = source(name, **options)
    return resources_of(manifest) if to_resources else package_of(manifest)


def assemble(resources, name):
    """The Linux package layout: the updater, then 2000, 2002, 2003, 2004,
    each followed by 1..16 zero bytes up to a multiple of 16."""
    with open(DOSUPDATER, "rb") as f:
        data = bytearray(f.read())

    def pad():
        data.append(0)
        while len(data) % 16:
            data.append(0)

    pad()
    for rid in (2000, 2002, 2003, 2004):
        last = len(data)
        data += resources[rid]
        pad()
    while len(data) - last <= 20:
        data.append(0)
    path = os.path.join(new_dir(name + "-"), name + ".run")
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o755)
    return path


def tagged(rid, body):
    return TAGS[rid] + struct.pack("<I", len(body)) + body


def set_option(resources, field, text):
    block = bytearray(resources[2003][16:])
    at = OPTION_FIELDS[field]
    width = 128 if field == "IdString" else 260
    block[at:at + width] = text.encode().ljust(width, b"\0")
    resources[2003] = tagged(2003, bytes(block))


def edit_package(resources, rid, edit):
    """Unpacks a package resource, lets edit change its bytes, packs it again
    with a 1 KiB window as the payload streams are."""
    body = resources[rid][16:]
    compressed = rid != 2002
    package = bytearray(zlib.decompress(body) if compressed else body)
    edit(package)
    if compressed:
        c = zlib.compressobj(6, zlib.DEFLATED, 10)
        body = c.compress(bytes(package)) + c.flush()
    else:
        body = bytes(package)
    resources[rid] = tagged(rid, body)


def add_files(package, files):
    """Appends (name, bytes) files to a FilePackage in place."""
    count = struct.unpack_from("<I", package)[0]
    table, data = package[4:4 + 300 * count], package[4 + 300 * count:]
    for i, (name, content) in enumerate(files):
        record = bytearray(300)
        struct.pack_into("<II", record, 0, count + i, sum(content) % 65536)
        struct.pack_into("<I", record, 36, len(content))
        record[40:40 + len(name)] = name.encode()
        table += record
        data += content
    package[:] = struct.pack("<I", count + len(files)) + table + data


def rename_file(package, old, new):
    """Renames the FilePackage record named old in place."""
    count = struct.unpack_from("<I", package)[0]
    for i in range(count):
        at = 4 + 300 * i + 40
        if bytes(package[at:at + 260]).split(b"\0")[0] == old.encode():
            package[at:at + 260] = new.encode().ljust(260, b"\0")
            return
    raise KeyError(old)


def resources_in(package_path):
    """The tagged resources of a package, found after the updater's bytes."""
    with open(package_path, "rb") as f:
        data = f.read()
    with open(DOSUPDATER, "rb") as f:
        stub_size = len(f.read())
    res = {}
    for rid, tag in TAGS.items():
        at = data.index(tag, stub_size)
        length = struct.unpack_from("<I", data, at + 12)[0]
        res[rid] = data[at:at + 16 + length]
    return res


def set_record_checksum(package, index, value):
    struct.pack_into("<I", package, 4 + 300 * index + 4, value)


def make_dump(system="BOARD-X", version="A04", size=1 << 20):
    """A firmware dump whose last byte sits at 0xFFFFFFFF, with the block at
    0xFFF00000 (inside the first range searched)."""
    data = bytearray(b"\xff" * size)
    block = ("$FB$VENDOR$%s$20261207$R01$%s$" % (version, system)).encode() + b"\x01\x00"
    at = 0xFFF00000 - (2 ** 32 - size)
    data[at:at + len(block)] = block
    path = os.path.join(new_dir("dump-"), "fw.bin")
    with open(path, "wb") as f:
        f.write(data)
    return path


class Result:
    def __init__(self, code, out, work):
        self.code, self.out, self.work = code, out, work

    def files(self):
        return sorted(os.listdir(self.work))

    def calls(self):
        path = os.path.join(self.work, "calls.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().splitlines()


def environment(dump, extra):
    env = dict(os.environ)
    env["FWPACK_FIRMWARE_DUMP"] = dump
    for key in ("DOSFLASH_EXIT", "DOSFLASH_SIGNAL", "MEINFO_MODE", "ME_CURRENT", "MEUPD_ERROR"):
        env.pop(key, None)
    env.update(extra or {})
    return env


def run(package, *args, keys=b"", env=None, dump=None, work=None, prefix=()):
    """Runs the package in a fresh folder inside a user and PID namespace,
    stdin a pipe holding keys."""
    work = work or new_dir("run-")
    cmd = list(prefix) + ["unshare", "-Urpf", package] + list(args)
    p = subprocess.run(cmd, cwd=work, input=keys, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, env=environment(dump or DUMP, env))
    return Result(p.returncode, p.stdout.decode("latin-1"), work)


def run_terminal(package, *args, steps, env=None, typed_ahead=b""):
    """Runs the package on a pseudo-terminal. steps: (text, key) pairs; once
    text has appeared (after the previous step's output) and the terminal no
    longer echoes, key is typed (or, when it is a function, called with the
    unshare process). typed_ahead is typed before the package starts."""
    work = new_dir("tty-")
    master, slave = os.openpty()
    os.write(master, typed_ahead)
    # The terminal is the run's controlling terminal, so Ctrl-C is a signal.
    p = subprocess.Popen(["unshare", "-Urpf", package] + list(args), cwd=work, stdin=slave,
                         stdout=slave, stderr=slave, env=environment(DUMP, env),
                         start_new_session=True,
                         preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
    os.close(slave)
    out, seen, pending = b"", 0, list(steps)
    while True:
        ready, _, _ = select.select([master], [], [], 0.02)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                data = b""
            if not data:
                break
            out += data
        if pending:
            text, key = pending[0]
            at = out.find(text, seen)
            if at >= 0 and not (termios.tcgetattr(master)[3] & termios.ECHO):
                if callable(key):
                    key(p)
                else:
                    os.write(master, key)
                seen = at + len(text)
                pending.pop(0)
    echo = bool(termios.tcgetattr(master)[3] & termios.ECHO)
    os.close(master)
    code = p.wait()
    result = Result(code, out.decode("latin-1"), work)
    result.echo_at_end = echo
    return result, pending


def updater_of(unshare, depth=1):
    """The package's process: the only child of `unshare -Urpf` (depth 1),
    or that child's only child (depth 2)."""
    pid = unshare.pid
    for _ in range(depth):
        while True:
            try:
                with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                    children = f.read().split()
            except FileNotFoundError:
                children = []
            if children:
                pid = int(children[0])
                break
            select.select([], [], [], 0.01)
    return pid


def ends_with_restart(test, result):
    test.assertEqual(result.code, -signal.SIGHUP, result.out)


# --------------------------------------------------------------------------
class Basics(unittest.TestCase):
    def test_the_updater_binary_holds_no_tag_text(self):
        with open(DOSUPDATER, "rb") as f:
            binary = f.read()
        for tag in TAGS.values():
            self.assertNotIn(tag, binary)
        # So the bare program finds nothing in itself: exit 3.
        r = run(DOSUPDATER)
        self.assertEqual(r.code, 3)
        self.assertEqual(r.out, "\nDON'T POWER OFF the system during the update process."
                                "\nCan not find useful file to flash BIOS or ME.")
        self.assertEqual(r.files(), [])

    def test_the_builders_package_has_the_documented_layout(self):
        built = build("layout")
        assembled = assemble(resources_in(built), "layout")
        with open(built, "rb") as a, open(assembled, "rb") as b:
            self.assertEqual(a.read(), b.read())
        self.assertTrue(os.stat(built).st_mode & stat.S_IXUSR)
        inspect = subprocess.run([FWPACK, "inspect", built], stdout=subprocess.PIPE, check=True)
        self.assertIn(b"Linux package", inspect.stdout)
        self.assertIn(b'"dosflash.exe"', inspect.stdout)
        verify = subprocess.run([FWPACK, "verify", built], stdout=subprocess.PIPE)
        self.assertEqual(verify.returncode, 0, verify.stdout)

    def test_help_and_bad_switches(self):
        for switch in ("/help", "/?", "/HELP", "/?x"):
            r = run(PACKAGE, switch)
            self.assertEqual(r.code, 0, switch)
            self.assertEqual(r.out.splitlines()[1:], [
                " 1) /Factory    A combination of no pause, no reboot, and no overwrite",
                " 2) /ForceIt    Will ignore the block that halts flashing the same version",
                " 3) /ForceType  Will ignore the block that halts flashing an incorrect system",
                " 4) /NoPause    Will not pause for user interaction",
                " 5) /NoReboot   Will update the NVRAM but will not reboot the system"])
            self.assertEqual(r.files(), [])
        for switch in ("/forceit2", "-factory", "factory"):
            r = run(PACKAGE, "/nopause", switch)
            self.assertEqual(r.code, 1, switch)
            self.assertEqual(r.out, "\nThe command line parameter is not correct.")

    def test_exit_1_when_the_filler_cannot_be_written(self):
        work = new_dir("waste-")
        os.makedirs(os.path.join(work, "waste.dat", "inside"))
        r = run(PACKAGE, work=work)
        self.assertEqual(r.code, 1)
        self.assertEqual(r.out, "\nDON'T POWER OFF the system during the update process."
                                "\nfail to open waste.dat")

    def test_exit_2_when_the_own_file_cannot_be_read(self):
        # Executable but unreadable for the user that runs it.
        package = os.path.join(new_dir("noread-"), "package.run")
        shutil.copy(PACKAGE, package)
        os.chmod(package, 0o711)
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        r = run(package, prefix=nobody)
        self.assertEqual(r.code, 2, r.out)
        self.assertTrue(r.out.endswith("\nOpen selffile fail!"))
        self.assertEqual(r.files(), [])   # the filler is gone again

    def test_exit_3_when_a_tag_is_missing(self):
        res = build("notag", to_resources=True)
        res[2004] = b"$_ME__FILE_X" + res[2004][12:]
        r = run(assemble(res, "notag"), "/nopause")
        self.assertEqual(r.code, 3)
        self.assertTrue(r.out.endswith("Decompress the bin file OK."
                                       "\nCan not find useful file to flash BIOS or ME."))
        # Nothing is written before every package is known; the filler goes.
        self.assertEqual(r.files(), [])


class Unpacking(unittest.TestCase):
    def test_a_full_run_unpacks_checks_and_flashes(self):
        r = run(PACKAGE, "/factory")
        self.assertEqual(r.code, 0, r.out)
        out = re.sub(r"\nzlib version [0-9.]+", "\nzlib version <v>", r.out)
        self.assertEqual(out, (
            "\nDON'T POWER OFF the system during the update process."
            "\nSeparate the compress exe file.\nUsing the zlib data compression library"
            "\nzlib version <v>\nDecompress the exe file.\nDecompress the EXE file OK."
            "\nSeparate the compress bin file\nUsing the zlib data compression library"
            "\nzlib version <v>\nDecompress the bin file.\nDecompress the bin file OK."
            "\nReady to read ME bin file"
            "\nSeparate the compress bin file\nUsing the zlib data compression library"
            "\nzlib version <v>\nDecompress the ME bin file.\nDecompress the ME bin file OK."
            "\nBegin to check bin file."
            "\nThe Old Bios Version:A04\nThe New Bios Version:A05"
            "\nInvoke the exe file!\n"
            "\nBegin to check ME bin file."
            "\nCurrent ME version: 11.8.50.3400\nThe New ME version: 11.8.50.3425"
            "\nmeupd.exe -F me.bin"))
        self.assertEqual(r.calls(), ["dosflash.exe bios.bin /P /B", "meinfo.exe ",
                                     "meupd.exe -F me.bin"])
        self.assertEqual(r.files(), sorted(UNPACKED + ["calls.log", "me.log"]))
        for tool in TOOLS:
            self.assertTrue(os.stat(os.path.join(r.work, tool)).st_mode & stat.S_IXUSR)
        with open(os.path.join(r.work, "bios.bin"), "rb") as f:
            self.assertEqual(len(f.read()), 65536)

    def test_exit_4_for_the_dos_and_bios_packages(self):
        work = new_dir("scratch-")
        os.makedirs(os.path.join(work, "dosexe.dat", "inside"))
        r = run(PACKAGE, work=work)
        self.assertEqual(r.code, 4)
        self.assertTrue(r.out.endswith("\nFail to open compress flash file."), r.out)

        work = new_dir("scratch-")
        os.makedirs(os.path.join(work, "bin.dat", "inside"))
        r = run(PACKAGE, work=work)
        self.assertEqual(r.code, 4)
        self.assertTrue(r.out.endswith("\nFail to open compress bin file."), r.out)
        self.assertEqual(r.files(), ["bin.dat"])   # the tools unpacked before are removed

        res = build("baddos", to_resources=True)
        body = bytearray(res[2000])
        for i in range(24, len(body)):
            body[i] ^= 0x5A
        res[2000] = bytes(body)
        r = run(assemble(res, "baddos"))
        self.assertEqual(r.code, 4)
        self.assertTrue(r.out.endswith("\nDecompress the exe file.\nError! udosexe = -3\n"), r.out)
        self.assertEqual(r.files(), [])

        # The builder refuses a sixth DOS file; the package is made by hand.
        res = build("sixtools", to_resources=True)
        edit_package(res, 2000, lambda p: add_files(p, [("extra%d.txt" % i, b"x") for i in range(3)]))
        r = run(assemble(res, "sixtools"))
        self.assertEqual(r.code, 4)
        self.assertTrue(r.out.endswith("\nThe package holds 6 files, more than the 5 this "
                                       "program can hold. Exit the Flash!"), r.out)
        self.assertEqual(r.files(), [])

    def test_exit_6_for_the_me_package(self):
        work = new_dir("scratch-")
        os.makedirs(os.path.join(work, "MEbin.dat", "inside"))
        r = run(PACKAGE, work=work)
        self.assertEqual(r.code, 6)
        self.assertTrue(r.out.endswith("\nReady to read ME bin file"
                                       "\nFail to open compress ME bin file."), r.out)
        self.assertEqual(r.files(), ["MEbin.dat"])

        res = build("badme", to_resources=True)
        res[2004] = res[2004][:-6]   # the stream is cut short
        res[2004] = tagged(2004, res[2004][16:])
        r = run(assemble(res, "badme"))
        self.assertEqual(r.code, 6)
        self.assertTrue(r.out.endswith("\nDecompress the ME bin file.\nError! unMEbin = -5\n"),
                        r.out)
        self.assertEqual(r.files(), [])

    def test_exit_7_and_8_for_the_bios_image(self):
        res = build("biosname", to_resources=True)
        set_option(res, "BiosImageName", "bios.rom")
        r = run(assemble(res, "biosname"))
        self.assertEqual(r.code, 7)
        self.assertTrue(r.out.endswith("\nBegin to check bin file."
                                       "\nFail to open BIOS bin file, can't get checksum"))
        self.assertEqual(r.files(), UNPACKED)   # only the filler is removed at this exit

        long_name = "b" * 20
        res = build("longname", to_resources=True)
        set_option(res, "BiosImageName", long_name)   # a record's name is at most 8.3
        r = run(assemble(res, "longname"))
        self.assertEqual(r.code, 7)
        self.assertTrue(r.out.endswith("\nThe BIOS bin file name is too long "
                                       "(at most 19 characters): " + long_name), r.out)

        res = build("bioscheck", to_resources=True)
        edit_package(res, 2002, lambda p: set_record_checksum(p, 0, 0x1234))
        r = run(assemble(res, "bioscheck"))
        self.assertEqual(r.code, 8)
        self.assertTrue(r.out.endswith("\nThe BIOS bin file has destroyed, checksum error"))
        self.assertEqual(r.files(), [])


class Identity(unittest.TestCase):
    def test_exit_9_when_the_system_differs(self):
        r = run(PACKAGE, dump=make_dump(system="BOARD-Y"))
        self.assertEqual(r.code, 9)
        self.assertTrue(r.out.endswith("\nThe Current System:BOARD-Y\nThe File System:BOARD-X"
                                       "\nThe System Different. Exit the Flash!"))
        self.assertEqual(r.files(), [])
        r = run(PACKAGE, "/forcetype", "/factory", dump=make_dump(system="BOARD-Y"))
        self.assertEqual(r.code, 0, r.out)
        self.assertEqual(len(r.calls()), 3)

    def test_no_block_in_memory_is_an_empty_identification(self):
        r = run(PACKAGE, "/forcetype", dump=make_dump(system="X").replace("fw.bin", "none.bin"))
        self.assertEqual(r.code, 10)
        self.assertTrue(r.out.endswith("\nThe Old Bios Version:\nThe New Bios Version:A05"
                                       "\nThe BIOS version is same or lower than current BIOS version.\n"))

    def test_without_a_dump_physical_memory_is_read(self):
        # Inside a user namespace /dev/mem cannot be opened (that needs
        # CAP_SYS_RAWIO in the first namespace): nothing is found.
        env = dict(os.environ)
        env.pop("FWPACK_FIRMWARE_DUMP", None)
        work = new_dir("devmem-")
        p = subprocess.run(["unshare", "-Urpf", PACKAGE], cwd=work, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=env, stdin=subprocess.DEVNULL)
        self.assertEqual(p.returncode, 9)
        self.assertTrue(p.stdout.decode().endswith("\nThe Current System:\nThe File System:BOARD-X"
                                                   "\nThe System Different. Exit the Flash!"))

    def test_exit_10_when_the_version_is_not_newer(self):
        for old in ("A05", "A06"):
            r = run(PACKAGE, dump=make_dump(version=old))
            self.assertEqual(r.code, 10, old)
            self.assertTrue(r.out.endswith(
                "\nThe Old Bios Version:%s\nThe New Bios Version:A05"
                "\nThe BIOS version is same or lower than current BIOS version.\n" % old))
            self.assertEqual(r.files(), [])
        r = run(PACKAGE, "/forceit", "/factory", dump=make_dump(version="A05"))
        self.assertEqual(r.code, 0, r.out)
        self.assertIn("same or lower than current BIOS version.\n\nInvoke the exe file!", r.out)

    def test_exit_11_when_the_version_format_is_wrong(self):
        package = build("badversion", id_string="$FB$VENDOR$A5$20261207$R01$BOARD-X$0001")
        r = run(package)
        self.assertEqual(r.code, 11)
        self.assertTrue(r.out.endswith("\nThe Bios verison format is wrong!\n"))
        self.assertEqual(r.files(), [])
        r = run(package, "/ForceIt", "/Factory")
        self.assertEqual(r.code, 0)
        self.assertIn("\nFORCEIT Is Checked, The New Bios Version Will be Flashed.", r.out)


class Flashing(unittest.TestCase):
    def test_exit_13_when_the_flash_program_fails(self):
        r = run(PACKAGE, "/nopause", "/debug", env={"DOSFLASH_EXIT": "5"})
        self.assertEqual(r.code, 13)
        command = "dosflash.exe bios.bin  /P /B"
        self.assertTrue(r.out.endswith("\nsetinfo.szAutoExecFileDOS :\n" + command +
                                       "\nInvoke the exe file!\n\n" + command + " run fail\n"))
        self.assertEqual(r.files(), ["calls.log"])

    def test_exit_14_and_15_for_the_me_image(self):
        res = build("mename", to_resources=True)
        set_option(res, "MeImageName", "me.rom")
        r = run(assemble(res, "mename"), "/nopause")
        self.assertEqual(r.code, 14)
        self.assertTrue(r.out.endswith("\nBegin to check ME bin file."
                                       "\nFail to open ME bin file, can't get checksum"))
        self.assertEqual(r.files(), sorted(UNPACKED + ["calls.log"]))

        # 0x8001 against a real sum of 0x7FFF: different 16-bit values.
        image = me_image()
        delta = (0x7FFF - sum(image)) % 65536
        image += b"\xff" * (delta // 255) + bytes([delta % 255])
        self.assertEqual(sum(image) % 65536, 0x7FFF)
        res = build("mesum", me=bytes(image), to_resources=True)
        edit_package(res, 2004, lambda p: set_record_checksum(p, 0, 0x8001))
        r = run(assemble(res, "mesum"), "/nopause")
        self.assertEqual(r.code, 15)
        self.assertTrue(r.out.endswith("\nThe ME bin file has destroyed, checksum error"))
        self.assertEqual(r.files(), ["calls.log"])

    def test_exit_16_and_17_for_the_me_versions(self):
        r = run(PACKAGE, "/nopause", env={"MEINFO_MODE": "nofw"})
        self.assertEqual(r.code, 16)
        self.assertTrue(r.out.endswith("There is not FW version in log file.\n"
                                       "\nCan not get current ME version from log!"))
        self.assertEqual(r.files(), ["calls.log"])

        r = run(build("nomarker", me=me_image(marker=False)), "/nopause")
        self.assertEqual(r.code, 17)
        self.assertTrue(r.out.endswith("\nCurrent ME version: 11.8.50.3400"
                                       "\nCan't find the flag '$MN2' in bin file!"
                                       "\nCan not get the new ME version!"))
        r = run(build("zerome", me=me_image(version=(0, 0, 0, 0))), "/nopause")
        self.assertEqual(r.code, 17)
        self.assertTrue(r.out.endswith("\nCan not get the new ME version!"))

    def test_exit_19_when_the_me_update_leaves_an_error_log(self):
        r = run(PACKAGE, "/nopause", env={"MEUPD_ERROR": "1"})
        self.assertEqual(r.code, 19)
        self.assertTrue(r.out.endswith("\nmeupd.exe -F me.bin" "Flash ME fail"))
        self.assertEqual(r.files(), ["calls.log"])

    def test_names_with_shell_characters_are_not_interpreted(self):
        # The builder refuses such names for Linux packages; made by hand.
        # Each character is one DOS allows in a file name.
        flash, image, query = "f&$x`.exe", "b'i`(1).bin", "me$(i).exe"
        res = build("shellchars", to_resources=True)

        def rename_tools(package):
            rename_file(package, "dosflash.exe", flash)
            rename_file(package, "meinfo.exe", query)
        edit_package(res, 2000, rename_tools)
        edit_package(res, 2002, lambda p: rename_file(p, "bios.bin", image))
        set_option(res, "DosFlashProgram", flash)
        set_option(res, "BiosImageName", image)
        set_option(res, "DosMeQueryTool", query)
        r = run(assemble(res, "shellchars"), "/factory")
        self.assertEqual(r.code, 0, r.out)
        self.assertEqual(r.calls(), ["dosflash.exe %s /P /B" % image, "meinfo.exe ",
                                     "meupd.exe -F me.bin"])
        self.assertIn("\nCurrent ME version: 11.8.50.3400", r.out)
        self.assertEqual(r.files(), sorted([flash, image, query, "me.bin", "meupd.exe",
                                            "calls.log", "me.log"]))

    def test_without_a_log_the_current_me_version_is_zero(self):
        r = run(PACKAGE, "/factory", env={"MEINFO_MODE": "nolog"})
        self.assertEqual(r.code, 0)
        self.assertNotIn("Current ME version", r.out)
        self.assertIn("\nThe New ME version: 11.8.50.3425\nmeupd.exe -F me.bin", r.out)
        self.assertEqual(r.calls()[-1], "meupd.exe -F me.bin")


class Hostile(unittest.TestCase):
    """Crafted packages and tools that misbehave: refused before anything is
    written, or failed without a flash or restart after them."""

    def refused(self, res, name, line, code=4, work=None):
        r = run(assemble(res, name), "/nopause", work=work)
        self.assertEqual(r.code, code, r.out)
        self.assertTrue(r.out.endswith(line + " Exit the Flash!"), r.out)
        self.assertEqual(r.calls(), [])
        return r

    def test_a_package_without_dos_tools_runs_nothing(self):
        res = build("nodos", to_resources=True)
        set_option(res, "DosFlashProgram", "")
        r = self.refused(res, "nodos", "\nThe package holds no DOS flash tools.")
        self.assertEqual(r.files(), [])
        res = build("imageasprogram", to_resources=True)
        set_option(res, "DosFlashProgram", "bios.bin")
        self.refused(res, "imageasprogram",
                     "\nThe DOS flash program is not a program among the package's DOS tools: bios.bin.")
        res = build("noquery", to_resources=True)
        set_option(res, "DosMeQueryTool", "")
        self.refused(res, "noquery", "\nThe package names no DOS ME information tool.")

    def test_names_dos_cannot_create_and_names_that_meet(self):
        res = build("semicolon", to_resources=True)
        edit_package(res, 2002, lambda p: rename_file(p, "bios.bin", "b;os|x.bin"))
        r = self.refused(res, "semicolon", "\nThe package holds a file whose name DOS cannot create as it "
                         "stands (8.3 letters, digits and !#$%&'()-@^_`{}~ only): b;os|x.bin.")
        self.assertEqual(r.files(), [])
        # An image named like a tool would be written over it and then run.
        res = build("collide", to_resources=True)
        edit_package(res, 2002, lambda p: rename_file(p, "bios.bin", "DOSFLASH.EXE"))
        set_option(res, "BiosImageName", "DOSFLASH.EXE")
        r = self.refused(res, "collide", "\nThe package holds two files that DOS would keep as one: "
                         "dosflash.exe and DOSFLASH.EXE.")
        self.assertEqual(r.files(), [])
        res = build("device", to_resources=True)
        edit_package(res, 2004, lambda p: add_files(p, [("nul.txt", b"x")]))
        self.refused(res, "device", "\nThe package holds a file named like a DOS device: nul.txt.", code=6)

    def test_a_file_already_there_is_never_overwritten(self):
        work = new_dir("mine-")
        with open(os.path.join(work, "me.bin"), "wb") as f:
            f.write(b"my own notes")
        res = build("mine", to_resources=True)
        r = self.refused(res, "mine", "\nA file named me.bin is already here and differs from the "
                         "packaged one.", code=6, work=work)
        self.assertEqual(r.files(), ["me.bin"])
        with open(os.path.join(work, "me.bin"), "rb") as f:
            self.assertEqual(f.read(), b"my own notes")

    def test_a_flash_program_killed_by_a_signal_has_failed(self):
        r = run(PACKAGE, "/nopause", env={"DOSFLASH_SIGNAL": "INT"})
        self.assertEqual(r.code, 13, r.out)
        self.assertTrue(r.out.endswith("\ndosflash.exe bios.bin  /P /B run fail\n"), r.out)
        self.assertEqual(r.calls(), ["dosflash.exe bios.bin /P /B"])   # no ME step, no restart
        self.assertEqual(r.files(), ["calls.log"])


class Answers(unittest.TestCase):
    def test_exit_12_when_the_update_is_declined(self):
        r, pending = run_terminal(PACKAGE, steps=[(b"Update BIOS(Yes/No)?", b"n")])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 12)
        self.assertTrue(r.out.replace("\r\n", "\n").endswith("\nUpdate BIOS(Yes/No)?n"), r.out)
        self.assertEqual(r.files(), [])

    def test_other_keys_beep_without_echo_then_exit_20(self):
        r, pending = run_terminal(PACKAGE, steps=[
            (b"Update BIOS(Yes/No)?", b"x"), (b"\a", b"Y"),
            (b"Restart System(Yes/No)?", b"q"), (b"\a", b"N")])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 20, r.out)
        out = r.out.replace("\r\n", "\n")
        self.assertIn("\nUpdate BIOS(Yes/No)?\aY\nInvoke the exe file!\n", out)
        self.assertTrue(out.endswith("\nRestart System(Yes/No)?\aN"), out)
        self.assertEqual(r.calls()[-1], "meupd.exe -F me.bin")

    def test_exit_18_when_the_me_step_was_skipped(self):
        r, pending = run_terminal(PACKAGE, env={"ME_CURRENT": "11.8.50.3425"}, steps=[
            (b"Update BIOS(Yes/No)?", b"y"), (b"Restart System(Yes/No)?", b"n")])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 18, r.out)
        self.assertIn("\nME Version is less or same to Current Version.", r.out)
        self.assertEqual(len(r.calls()), 2)

    def test_yes_to_the_restart_question_restarts(self):
        r, pending = run_terminal(PACKAGE, steps=[
            (b"Update BIOS(Yes/No)?", b"y"), (b"Restart System(Yes/No)?", b"y")])
        self.assertEqual(pending, [])
        ends_with_restart(self, r)
        self.assertTrue(r.out.replace("\r\n", "\n").endswith("\nRestart System(Yes/No)?y"), r.out)

    def test_ctrl_c_at_a_question_gives_the_terminal_back(self):
        r, pending = run_terminal(PACKAGE, steps=[(b"Update BIOS(Yes/No)?", b"\x03")])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 128 + signal.SIGINT, r.out)
        self.assertTrue(r.echo_at_end)
        self.assertEqual(r.calls(), [])

    def test_ctrl_c_and_sigterm_at_a_question_clean_up(self):
        r, pending = run_terminal(PACKAGE, steps=[(b"Update BIOS(Yes/No)?", b"x"),
                                                  (b"\a", b"\x03")])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 128 + signal.SIGINT, r.out)
        self.assertTrue(r.echo_at_end)
        self.assertEqual(r.files(), [])

        terminate = lambda p: os.kill(updater_of(p), signal.SIGTERM)
        r, pending = run_terminal(PACKAGE, steps=[(b"Update BIOS(Yes/No)?", b"y"),
                                                  (b"Restart System(Yes/No)?", terminate)])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 128 + signal.SIGTERM, r.out)
        self.assertTrue(r.echo_at_end)
        self.assertEqual(r.files(), sorted(UNPACKED + ["calls.log", "me.log"]))   # as after a no

    def test_sigterm_while_keys_come_from_a_pipe(self):
        work = new_dir("pipe-")
        p = subprocess.Popen(["unshare", "-Urpf", PACKAGE], cwd=work, stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, env=environment(DUMP, None))
        out = b""
        while not out.endswith(b"Update BIOS(Yes/No)?"):
            data = os.read(p.stdout.fileno(), 4096)
            self.assertTrue(data, out)
            out += data
        os.kill(updater_of(p), signal.SIGTERM)
        out += p.stdout.read()
        p.stdin.close()
        self.assertEqual(p.wait(), 128 + signal.SIGTERM, out)
        self.assertEqual(os.listdir(work), [])

    def test_sighup_and_a_closed_output_clean_up_as_ctrl_c_does(self):
        """The updater runs as a shell's child, not as the namespace's first
        process (which does not get signals it has no handler for)."""
        for sig in (signal.SIGHUP, signal.SIGPIPE):
            work = new_dir("hup-")
            p = subprocess.Popen(["unshare", "-Urpf", "/bin/sh", "-c", '"$0"; exit $?', PACKAGE],
                                 cwd=work, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 env=environment(DUMP, None))
            out = b""
            while not out.endswith(b"Update BIOS(Yes/No)?"):
                data = os.read(p.stdout.fileno(), 4096)
                self.assertTrue(data, out)
                out += data
            if sig == signal.SIGHUP:
                os.kill(updater_of(p, depth=2), sig)
            else:   # the answer's echo meets an output nobody reads
                p.stdout.close()
                p.stdin.write(b"y")
            p.stdin.close()
            self.assertEqual(p.wait(), 128 + sig, out)
            self.assertEqual(os.listdir(work), [])

    def test_keys_typed_ahead_and_alt_keys_do_not_answer(self):
        # "y" typed before the run starts, then Alt-y (ESC, y) at the question.
        r, pending = run_terminal(PACKAGE, typed_ahead=b"y", steps=[
            (b"Update BIOS(Yes/No)?", b"\x1by"), (b"\a", b"n")])
        self.assertEqual(pending, [])
        self.assertEqual(r.code, 12, r.out)
        self.assertEqual(r.calls(), [])

    def test_piped_keys_and_the_end_of_input(self):
        r = run(PACKAGE, keys=b"zy")
        self.assertEqual(r.code, 20)
        self.assertIn("\nUpdate BIOS(Yes/No)?\ay", r.out)
        self.assertTrue(r.out.endswith("\nRestart System(Yes/No)?n"))
        r = run(PACKAGE)
        self.assertEqual(r.code, 12)
        self.assertTrue(r.out.endswith("\nUpdate BIOS(Yes/No)?n"))


class Options(unittest.TestCase):
    def test_nopause_restarts_at_once(self):
        r = run(PACKAGE, "/NOPAUSE")
        ends_with_restart(self, r)
        self.assertNotIn("(Yes/No)", r.out)
        self.assertTrue(r.out.endswith("\nmeupd.exe -F me.bin"), r.out)
        self.assertNotIn("waste.dat", r.files())

    def test_option_bit_1_deletes_the_unpacked_files(self):
        r = run(build("delete", flags=0x1), "/noreboot", keys=b"y")
        self.assertEqual(r.code, 0, r.out)
        self.assertEqual(r.files(), ["calls.log"])
        self.assertEqual(r.calls(), ["dosflash.exe bios.bin /P /B /N", "meinfo.exe ",
                                     "meupd.exe -F me.bin"])
        r = run(PACKAGE, "/noreboot", keys=b"y")
        self.assertEqual(r.code, 0, r.out)
        self.assertEqual(r.files(), sorted(UNPACKED + ["calls.log", "me.log"]))

    def test_flags_add_switches_and_flash_program_modes(self):
        # factory, restart mode R, keep K1, K2; /debugging is a prefix of /debug.
        r = run(build("modes", flags=0x4 | 0x100 | 0x80 | 0x800 | 0x1000), "/debugging")
        self.assertEqual(r.code, 0, r.out)
        self.assertNotIn("(Yes/No)", r.out)
        self.assertEqual(r.calls()[0], "dosflash.exe bios.bin /P /B /R /K1 /K2")
        self.assertTrue(r.out.endswith("\nThe files not remove"), r.out)
        r = run(build("keepall", flags=0x20 | 0x40 | 0x80 | 0x200 | 0x400 | 0x1))
        ends_with_restart(self, r)   # no pause comes before no reboot
        self.assertEqual(r.calls()[0], "dosflash.exe bios.bin /P /B /N /N /K")
        self.assertEqual(r.files(), ["calls.log"])


def main():
    global FWPACK, DOSUPDATER, ROOT, PACKAGE, DUMP
    parser = argparse.ArgumentParser()
    parser.add_argument("--fwpack", required=True)
    parser.add_argument("--dosupdater", required=True)
    args, rest = parser.parse_known_args()
    FWPACK, DOSUPDATER = os.path.abspath(args.fwpack), os.path.abspath(args.dosupdater)
    ROOT = tempfile.mkdtemp(prefix="fwpack-dos-e2e-")
    os.chmod(ROOT, 0o755)
    try:
        PACKAGE = build("package")
        DUMP = make_dump()
        program = unittest.main(argv=[sys.argv[0], "-v"] + rest, exit=False)
        ok = program.result.wasSuccessful()
    finally:
        shutil.rmtree(ROOT, ignore_errors=True)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
