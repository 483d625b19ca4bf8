#!/usr/bin/env python3
"""fwpack.exe under Wine beside the Linux fwpack on the same inputs.

Each group runs both builders on the same sources and checks that they agree:
the resources byte for byte once the three time fields of every record are
set aside, inspect (text and --json), verify and extract, Windows paths
(drive letters, backslashes, spaces, non-ASCII names, relative paths),
bad manifests and paths (the same line and exit code), source access
times left where they were, signing and checking signatures, and Ctrl-C
leaving no temporary behind.

Usage: fwpack_exe.py --win64 DIR --fwpack PATH --work DIR --prefix DIR GROUP...
Exit status: 0 pass, 1 fail, 77 skipped (fwpack.exe is not built).
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import traceback
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winerun  # noqa: E402
from winerun import Checks, HarnessError, win_path  # noqa: E402

SKIP = 77
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
RESOURCES = (2000, 2001, 2002, 2003, 2004)
TAGGED = {2000: True, 2001: False, 2002: True, 2003: True, 2004: True}
RECORD_SIZE, TIMES_AT, TIMES_END = 300, 8, 32
BASE_TIME = 1245069296  # 2009-06-15 12:34:56 UTC


class Result:
    def __init__(self, rc, out, err):
        self.rc = rc
        self.out = out.replace("\r\n", "\n")
        self.err = err.replace("\r\n", "\n")


class Group:
    def __init__(self, args, name):
        self.fwpack = os.path.abspath(args.fwpack)
        self.exe = os.path.join(os.path.abspath(args.win64), "fwpack.exe")
        self.win64 = os.path.abspath(args.win64)
        self.work = os.path.join(os.path.abspath(args.work), name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.check = Checks()
        self.session = None

    # ---- running both builders ----------------------------------------------

    def linux(self, *args, cwd=None):
        r = subprocess.run([self.fwpack] + list(args), capture_output=True, timeout=winerun.RUN_BOUND,
                           cwd=cwd or self.work)
        return Result(r.returncode, r.stdout.decode("utf-8"), r.stderr.decode("utf-8"))

    def windows(self, *args, cwd=None, env=None):
        # Files, not pipes: the Wine server inherits the program's handles and
        # outlives it, so a pipe would not end with the program.
        out, err = os.path.join(self.work, "exe.out"), os.path.join(self.work, "exe.err")
        with open(out, "wb") as o, open(err, "wb") as e:
            try:
                rc = subprocess.run(winerun.WINE_COMMAND + [self.exe] + list(args), env=self.session.env(extra=env),
                                    stdout=o, stderr=e, timeout=winerun.RUN_BOUND,
                                    cwd=cwd or self.work).returncode
            except subprocess.TimeoutExpired:
                self.session.end()
                raise HarnessError(f"fwpack.exe {' '.join(args)} still running after {winerun.RUN_BOUND} s")
        text = [open(p, "rb").read().decode("utf-8") for p in (out, err)]
        os.remove(out)
        os.remove(err)
        return Result(rc, *text)

    def ok(self, what, r):
        return self.check.eq(f"{what}: exit status (stderr {r.err.strip()!r})", r.rc, 0)

    # ---- sources ----------------------------------------------------------------

    def sources(self, folder="src", dos=True):
        """A manifest folder with tools, DOS tools and images, each file with its
        own last write and last access time (access before write, so that a
        read on a relatime mount would move it)."""
        src = os.path.join(self.work, folder)
        shutil.rmtree(src, ignore_errors=True)
        files = {
            "win/flash.exe": b"MZ stand-in flash program\r\n" * 7,
            "win/meflash.exe": b"MZ stand-in ME flash program\r\n" * 5,
            "win/readme.txt": b"Read me.\r\n",
            "win/data.bin": bytes(range(256)) * 300,
            "dos/dosflash.exe": b"MZ dos flash\r\n" * 3,
            "dos/meinfo.exe": b"MZ me info\r\n" * 4,
            "dos/meupd.exe": b"MZ me update\r\n" * 2,
            "bios.bin": bytes((i * 7) & 0xFF for i in range(65536)),
            "me.bin": bytes((i * 13) & 0xFF for i in range(20000)),
        }
        self.times = {}
        for i, (name, data) in enumerate(sorted(files.items())):
            path = os.path.join(src, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            written = BASE_TIME + 86400 * i + i
            os.utime(path, ns=((written - 3600) * 10**9 + 1234500, written * 10**9 + 7654300))
            self.times[os.path.basename(name)] = os.stat(path)
        lines = ['[options]', 'flags = ["show-window"]',
                 'id_string = "$FB$SAMPLE$A05$20261207$R01$BOARD-X$0001"', '',
                 '[windows]', 'tools = "win"', 'flash_program = "flash.exe"',
                 'me_flash_program = "meflash.exe"', '']
        if dos:
            lines += ['[dos]', 'tools = "dos"', 'flash_program = "dosflash.exe"',
                      'me_query_tool = "meinfo.exe"', 'me_update_tool = "meupd.exe"', '']
        lines += ['[bios]', 'image = "bios.bin"', '', '[me]', 'image = "me.bin"', '']
        manifest = os.path.join(src, "package.toml")
        with open(manifest, "w") as f:
            f.write("\n".join(lines))
        return manifest

    def expect_times_kept(self, what):
        """The sources' access and write times are where they were."""
        src = os.path.join(self.work, "src")
        for root, _, names in os.walk(src):
            for name in names:
                if name not in self.times:
                    continue
                now, before = os.stat(os.path.join(root, name)), self.times[name]
                self.check.eq(f"{what}: last access time of {name}", now.st_atime_ns, before.st_atime_ns)
                self.check.eq(f"{what}: last write time of {name}", now.st_mtime_ns, before.st_mtime_ns)

    # ---- comparing resources -----------------------------------------------------

    def expect_same_resources(self, linux_dir, windows_dir):
        """Byte for byte, apart from the three time fields of each record;
        the Windows records carry the sources' access and write times."""
        for rid in RESOURCES:
            a = open(os.path.join(linux_dir, f"{rid}.bin"), "rb").read()
            b = open(os.path.join(windows_dir, f"{rid}.bin"), "rb").read()
            pa, ta = split_resource(rid, a)
            pb, tb = split_resource(rid, b)
            self.check.true(f"resource {rid}: the same bytes apart from the time fields", pa == pb,
                            f"{len(pa)} and {len(pb)} bytes")
            self.check.eq(f"resource {rid}: access and write times", [t[1:] for t in tb], [t[1:] for t in ta])
            for name, t in zip(record_names(pb), tb):
                st = self.times.get(name)
                if st:
                    self.check.eq(f"{name}: stored last write time", t[2], filetime(st.st_mtime_ns))
                    self.check.eq(f"{name}: stored last access time", t[1], filetime(st.st_atime_ns))


def filetime(ns):
    return ns // 100 + 116444736000000000


def split_resource(rid, data):
    """The resource with its records' time fields zeroed (compressed ones
    decompressed first), and the (creation, access, write) of each record."""
    body = data[16:] if TAGGED[rid] else data
    if rid == 2003:
        return data, []
    if len(body) >= 2 and body[0] & 0x0F == 8 and (body[0] * 256 + body[1]) % 31 == 0:
        body = zlib.decompress(body)   # a zlib stream (a package starts with its count)
    out, times = bytearray(body), []
    count = int.from_bytes(body[:4], "little")
    if 4 + count * RECORD_SIZE > len(body):
        raise ValueError(f"resource {rid}: {count} records do not fit {len(body)} bytes")
    for i in range(count):
        at = 4 + i * RECORD_SIZE
        times.append(tuple(int.from_bytes(body[at + o:at + o + 8], "little") for o in (8, 16, 24)))
        out[at + TIMES_AT:at + TIMES_END] = bytes(TIMES_END - TIMES_AT)
    header = data[:12] if TAGGED[rid] else b""   # the tag; BodyLength follows the compressed size
    return header + bytes(out), times


def record_names(body):
    if body[:4] == b"$__O":
        return []
    count = int.from_bytes(body[12:16] if body[:1] == b"$" else body[:4], "little")
    start = 12 if body[:1] == b"$" else 0
    names = []
    for i in range(count):
        at = start + 4 + i * RECORD_SIZE + 40
        names.append(body[at:at + 260].split(b"\0")[0].decode("latin-1"))
    return names


def masked_json(text):
    """inspect --json without what differs by host or by the stored times:
    the path, compressed sizes and the times."""
    doc = json.loads(text)
    doc.pop("path", None)
    for r in doc.get("resources", []):
        r.pop("size", None)
        if r.get("zlib"):
            r["zlib"].pop("level_hint", None)
        if r.get("header"):
            r["header"].pop("body_length", None)
            r["header"].pop("real_body_length", None)
        for rec in (r.get("package") or {}).get("records", []):
            for key in ("creation_time", "last_access_time", "last_write_time", "filetimes"):
                rec.pop(key, None)
    return doc


def masked_text(text, path):
    """inspect's text without the path, the sizes that follow compression and
    the time lines."""
    keep = []
    for line in text.replace(path, "PATH").splitlines():
        s = line.strip()
        if s.startswith("created ") or s.startswith("BodyLength"):
            continue
        if line and line[0].isdigit() and line.endswith(" bytes)"):
            line = line[:line.rindex("(")]
        keep.append(line)
    return keep


def listing(root):
    """[(relative path, size or None for a folder)] of everything under root."""
    out = []
    for folder, dirs, names in os.walk(root):
        out += [(os.path.relpath(os.path.join(folder, d), root), None) for d in dirs]
        out += [(os.path.relpath(os.path.join(folder, n), root), os.path.getsize(os.path.join(folder, n)))
                for n in names]
    return sorted(out)


def tree(root):
    """{relative path: bytes} of every file under root."""
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            p = os.path.join(folder, name)
            out[os.path.relpath(p, root)] = open(p, "rb").read()
    return out


# ---- the groups ----------------------------------------------------------------------


def group_sample(g):
    """The bundled sample: resources, inspect (text and --json), verify, extract."""
    sample = os.path.join(SOURCE_DIR, "examples", "sample", "package.toml")
    lin, win = os.path.join(g.work, "linux"), os.path.join(g.work, "windows")
    r = g.linux("build", sample, "--resources-dir", lin)
    g.ok("Linux build of the sample", r)
    r = g.windows("build", win_path(sample), "--resources-dir", win_path(win))
    g.ok("fwpack.exe build of the sample", r)
    g.check.eq("fwpack.exe build: the line it prints", r.out,
               f"wrote {win_path(win)}:" + r.out.split(":", 2)[-1])
    g.times = {}
    g.expect_same_resources(lin, win)
    for flag in ((), ("--json",)):
        a = g.linux("inspect", *flag, win)
        b = g.windows("inspect", *flag, win_path(win))
        g.ok(f"fwpack.exe inspect {' '.join(flag)}", b)
        g.check.eq(f"inspect {' '.join(flag)}: the same report from both hosts",
                   b.out.replace(win_path(win).replace("\\", "\\\\") if flag else win_path(win), win),
                   a.out)
    a, b = g.linux("inspect", "--json", lin), g.windows("inspect", "--json", win_path(win))
    g.check.eq("inspect --json of the two builds apart from times and sizes",
               masked_json(b.out), masked_json(a.out))
    a, b = g.linux("inspect", lin), g.windows("inspect", win_path(win))
    g.check.eq("inspect text of the two builds apart from times and sizes",
               masked_text(b.out, win_path(win)), masked_text(a.out, lin))
    b = g.windows("verify", win_path(win))
    g.check.eq("fwpack.exe verify", (b.rc, b.out), (0, win_path(win) + ": consistent\n"))
    xl, xw = os.path.join(g.work, "x-linux"), os.path.join(g.work, "x-windows")
    a = g.linux("extract", win, xl)
    g.ok("Linux extract", a)
    b = g.windows("extract", win_path(win), win_path(xw))
    g.ok("fwpack.exe extract", b)
    # The times first: reading the files moves their access times.
    records = json.loads(g.linux("inspect", "--json", win).out)
    stored = {rec["file_name"]: rec["filetimes"] for res in records["resources"]
              for rec in (res.get("package") or {}).get("records", [])}
    for rel in sorted(os.path.relpath(os.path.join(d, n), xw) for d, _, ns in os.walk(xw) for n in ns):
        name = os.path.basename(rel)
        if name in stored:
            st = os.stat(os.path.join(xw, rel))
            g.check.eq(f"extracted {rel}: last write time", filetime(st.st_mtime_ns), stored[name][2])
            g.check.eq(f"extracted {rel}: last access time", filetime(st.st_atime_ns), stored[name][1])

    g.check.eq("extracted files", tree(xw), tree(xl))
    g.check.eq("fwpack.exe extract: the files it names",
               sorted(line.replace(win_path(xw), "X").replace("\\", "/") for line in b.out.splitlines()),
               sorted(line.replace(xl, "X") for line in a.out.splitlines()))
    a, b = g.linux("--version"), g.windows("--version")
    g.check.eq("fwpack.exe --version: the Linux fwpack's", (b.rc, b.out), (0, a.out))
    zip_layout_case(g, sample)


def zip_layout_case(g, sample):
    """As the release zip lays them out, fwpack.exe --stub without a file takes
    the updater.exe beside it."""
    folder = os.path.join(g.work, "zip")
    os.makedirs(folder)
    shutil.copy2(g.exe, folder)
    shutil.copy2(os.path.join(g.win64, "updater.exe"), folder)
    exe, g.exe = g.exe, os.path.join(folder, "fwpack.exe")
    try:
        b = g.windows("build", win_path(sample), "-o", win_path(os.path.join(folder, "p.exe")), "--stub")
    finally:
        g.exe = exe
    g.ok("fwpack.exe build --stub without a file", b)
    g.check.true("it names the updater.exe beside it",
                 f"--stub: using the installed {win_path(os.path.join(folder, 'updater.exe'))}" in b.err,
                 b.err)

def group_packages(g):
    """Whole packages (--stub updater.exe, --dos-stub dosupdater) from both hosts:
    the same resources, both verify on either host, extracts agree; a failed
    package build leaves the target as it was."""
    manifest = g.sources()
    stub = os.path.join(g.win64, "updater.exe")
    dos_stub = os.path.join(os.path.dirname(g.fwpack), "dosupdater")
    for kind, flag, path in (("exe", "--stub", stub), ("run", "--dos-stub", dos_stub)):
        if not os.path.exists(path):
            g.check.failures.append(f"not built: {path}")
            continue
        lin, win = os.path.join(g.work, f"linux.{kind}"), os.path.join(g.work, f"windows.{kind}")
        g.ok(f"Linux build of the .{kind}", g.linux("build", manifest, flag, path, "-o", lin))
        r = g.windows("build", win_path(manifest), flag, win_path(path), "-o", win_path(win))
        g.ok(f"fwpack.exe build of the .{kind}", r)
        g.expect_times_kept(f"fwpack.exe build of the .{kind}")
        for who, pkg in (("Linux", lin), ("Windows", win)):
            b = g.windows("verify", win_path(pkg))
            g.check.eq(f"fwpack.exe verify of the {who} .{kind}", (b.rc, b.err), (0, ""))
            a = g.linux("verify", pkg)
            g.check.eq(f"Linux verify of the {who} .{kind}", (a.rc, a.err), (0, ""))
        a, b = g.linux("inspect", "--json", lin), g.windows("inspect", "--json", win_path(win))
        g.check.eq(f".{kind}: inspect --json apart from times and sizes", masked_json(b.out),
                   masked_json(a.out))
        xl, xw = os.path.join(g.work, f"x-{kind}-linux"), os.path.join(g.work, f"x-{kind}-windows")
        g.ok("Linux extract", g.linux("extract", lin, xl))
        g.ok("fwpack.exe extract", g.windows("extract", win_path(win), win_path(xw)))
        g.check.eq(f".{kind}: extracted files", tree(xw), tree(xl))
    # A build that fails leaves the existing package as it was, and no temporary beside it.
    win = os.path.join(g.work, "windows.exe")
    if os.path.exists(win):
        before = open(win, "rb").read()
        os.remove(os.path.join(g.work, "src", "me.bin"))
        r = g.windows("build", win_path(manifest), "--stub", win_path(stub), "-o", win_path(win))
        g.check.eq("failed build: exit status", r.rc, 2)
        g.check.true("failed build: the package is unchanged", open(win, "rb").read() == before)
        g.check.eq("failed build: nothing new beside it",
                   sorted(n for n in os.listdir(g.work) if n.startswith(".fwpack-")), [])


def group_paths(g):
    """Windows paths: drive letter, backslashes, a folder with spaces and
    non-ASCII letters, relative paths from a working
    folder; the records are those of the Linux build."""
    g.sources()
    odd = os.path.join(g.work, "Prüfung Ünïcødé ç")
    shutil.copytree(os.path.join(g.work, "src"), odd, copy_function=shutil.copy2)
    manifest = os.path.join(odd, "package.toml")
    lin = os.path.join(g.work, "linux")
    g.ok("Linux build", g.linux("build", manifest, "--resources-dir", lin))
    forms = {
        "drive letter and backslashes": (win_path(manifest), win_path(os.path.join(odd, "out 1")), None),
        # Two separators first, as a network path starts: the manifest's
        # folders resolve under the same prefix.
        "long-path prefix": ("\\\\?\\" + win_path(manifest), "\\\\?\\" + win_path(os.path.join(odd, "out 2")), None),
        "relative with backslashes": (os.path.basename(odd) + "\\package.toml", "out 3", g.work),
        "relative with slashes": ("package.toml", "./out 4", odd),
    }
    for what, (m, out, cwd) in forms.items():
        r = g.windows("build", m, "--resources-dir", out, cwd=cwd)
        if not g.ok(f"{what}: fwpack.exe build", r):
            continue
        g.check.eq(f"{what}: the line it prints", r.out, f"wrote {out}: " + r.out.split(": ", 1)[-1])
        target = os.path.join(cwd or "/", out.replace("\\\\?\\", "").replace("Z:", "").replace("\\", "/"))
        g.expect_same_resources(lin, os.path.normpath(target))
    b = g.windows("inspect", win_path(os.path.join(odd, "out 1")))
    g.check.true("inspect names the non-ASCII folder in UTF-8", win_path(odd) in b.out, b.out[:200])


BAD = [
    # (what, manifest text or None for the folder as it is, extra files, arguments after "build")
    ("missing manifest", None, {}, ["nothere.toml", "--resources-dir", "out"]),
    ("TOML syntax", "[windows\n", {}, ["m.toml", "--resources-dir", "out"]),
    ("unknown key", '[windows]\ntools = "win"\ncolour = 1\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "b.bin": b"b", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("missing tool folder", '[windows]\ntools = "nowin"\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"b.bin": b"b", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("empty image", '[windows]\ntools = "win"\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "b.bin": b"", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("image is a folder", '[windows]\ntools = "win"\n[bios]\nimage="win"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("flash program not in the folder",
     '[windows]\ntools = "win"\nflash_program = "x.exe"\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "b.bin": b"b", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("unknown flag name", '[options]\nflags = ["nope"]\n[windows]\ntools = "win"\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "b.bin": b"b", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("image named like a device", '[windows]\ntools = "win"\n[bios]\nimage="aux.txt"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "aux.txt": b"b", "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("image named like a device, upper case", '[windows]\ntools = "win"\n[bios]\nimage="b.bin"\n[me]\nimage="CON"\n',
     {"win/a.exe": b"a", "b.bin": b"b", "CON": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("image of 4 GiB and a byte (sparse)", '[windows]\ntools = "win"\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "b.bin": (4 << 30) + 1, "m.bin": b"m"}, ["m.toml", "--resources-dir", "out"]),
    ("a resource's name taken by a folder", '[windows]\ntools = "win"\n[bios]\nimage="b.bin"\n[me]\nimage="m.bin"\n',
     {"win/a.exe": b"a", "b.bin": b"b", "m.bin": b"m", "out/2002.bin/x": b""},
     ["m.toml", "--resources-dir", "out"]),
    ("both outputs", None, {}, ["m.toml", "--resources-dir", "out", "-o", "x.exe"]),
    ("level out of range", None, {}, ["m.toml", "--resources-dir", "out", "--level", "12"]),
]


def group_errors(g):
    """Bad manifests, paths and usage: the same line and exit code from both
    hosts (relative paths, so the lines can be compared whole), nothing written."""
    for i, (what, text, files, args) in enumerate(BAD):
        case = os.path.join(g.work, f"bad{i}")
        os.makedirs(case)
        if text is not None:
            open(os.path.join(case, "m.toml"), "w").write(text)
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(case, name)), exist_ok=True)
            with open(os.path.join(case, name), "wb") as f:
                f.truncate(data) if isinstance(data, int) else f.write(data)
        before = listing(case)
        a = g.linux("build", *args, cwd=case)
        b = g.windows("build", *args, cwd=case)
        g.check.true(f"{what}: Linux refuses it", a.rc != 0, a.err)
        # A path the tool joins shows the host's own separator.
        g.check.eq(f"{what}: exit status and line", (b.rc, b.err.replace("\\", "/")),
                   (a.rc, a.err.replace("\\", "/")))
        g.check.eq(f"{what}: nothing written", listing(case), before)
    # A record name that is not UTF-8 can be written on Linux, not on Windows.
    case = os.path.join(g.work, "latin1")
    os.makedirs(os.path.join(case, "win"))
    for name, data in ((b"win/caf\xe9.exe", b"a"), (b"b.bin", b"b"), (b"m.bin", b"m")):
        open(os.path.join(case.encode(), name), "wb").write(data)
    open(os.path.join(case, "m.toml"), "w").write(BAD[2][1].replace("colour = 1\n", ""))
    a = g.linux("build", "m.toml", "--resources-dir", "res", cwd=case)
    g.check.eq("Linux build with a Latin-1 tool name", (a.rc, a.err),
               (2, 'fwpack: m.toml: windows.tools: file name "caf\\xE9.exe" is not UTF-8; '
                   "the Windows updater could not create it\n"))
    # No build writes such a name any more: the record is renamed in place.
    os.rename(os.path.join(case.encode(), b"win/caf\xe9.exe"), os.path.join(case, "win", "cafe.exe"))
    g.ok("Linux build with its UTF-8 twin", g.linux("build", "m.toml", "--resources-dir", "res", cwd=case))
    rename_record(os.path.join(case, "res", "2001.bin"), b"cafe.exe", b"caf\xe9.exe")
    g.ok("Linux extract of it", g.linux("extract", "res", "x-linux", cwd=case))
    b = g.windows("extract", "res", "x", cwd=case)
    g.check.eq("fwpack.exe extract of a Latin-1 record name",
               (b.rc, b.err), (2, 'fwpack: 2001 ToolPackage: refusing file name "caf\\xE9.exe": '
                                  "not UTF-8, which Windows needs\n"))
    g.check.true("fwpack.exe extract of a Latin-1 record name: nothing written",
                 not os.path.exists(os.path.join(case, "x")))

    for what, args in (("no command", []), ("unknown command", ["pack"]),
                       ("inspect a missing file", ["inspect", "nothere.exe"]),
                       ("verify a folder without resources", ["verify", "."]),
                       ("extract without a folder", ["extract", "x.exe"]),
                       ("unknown option", ["inspect", "--yaml", "x"])):
        empty = os.path.join(g.work, "empty")
        os.makedirs(empty, exist_ok=True)
        a, b = g.linux(*args, cwd=empty), g.windows(*args, cwd=empty)
        g.check.true(f"{what}: Linux refuses it", a.rc != 0, a.err)
        g.check.eq(f"{what}: exit status", b.rc, a.rc)
        # The usage text names the program as it was started.
        g.check.eq(f"{what}: first line", b.err.split("\n")[0], a.err.split("\n")[0])


def rename_record(path, old, new):
    """Renames a record of a resources folder's tool package (a bare zlib
    stream) in place; old and new are names of the same length."""
    with open(path, "rb") as f:
        package = zlib.decompress(f.read())
    if package.count(old) != 1:
        raise ValueError(f"{path}: {old!r} is not one record's name")
    packer = zlib.compressobj(6, zlib.DEFLATED, 10)
    with open(path, "wb") as f:
        f.write(packer.compress(package.replace(old, new)) + packer.flush())


def tiny_mz():
    """A real-mode program that ends at once (mov ax, 4C00h; int 21h) behind
    a 64-byte MZ header."""
    code = bytes([0xB8, 0x00, 0x4C, 0xCD, 0x21])
    size = 64 + len(code)
    words = [0x5A4D, size % 512, (size + 511) // 512, 0, 4, 0, 0xFFFF, 0, 0x100, 0, 0, 0, 0x40, 0]
    header = b"".join(w.to_bytes(2, "little") for w in words)
    return header + bytes(64 - len(header)) + code


def group_dos_program(g):
    """A DOS program in front of the PE headers: dos-program writes the same
    bytes on both hosts, and a dual-mode package from fwpack.exe shows and
    verifies its DOS program as the Linux one does."""
    stub = os.path.join(g.win64, "updater.exe")
    mz = os.path.join(g.work, "TINY.EXE")
    open(mz, "wb").write(tiny_mz())
    lin, win = os.path.join(g.work, "linux.exe"), os.path.join(g.work, "windows.exe")
    g.ok("Linux dos-program", g.linux("dos-program", stub, mz, "-o", lin))
    r = g.windows("dos-program", win_path(stub), win_path(mz), "-o", win_path(win))
    g.ok("fwpack.exe dos-program", r)
    g.check.true("dos-program: the same bytes from both hosts",
                 os.path.exists(win) and open(win, "rb").read() == open(lin, "rb").read())
    manifest = g.sources()
    lin, win = os.path.join(g.work, "dual-linux.exe"), os.path.join(g.work, "dual-windows.exe")
    g.ok("Linux dual-mode build", g.linux("build", manifest, "--stub", stub, "--dos-program", mz, "-o", lin))
    g.ok("fwpack.exe dual-mode build", g.windows("build", win_path(manifest), "--stub", win_path(stub),
                                                  "--dos-program", win_path(mz), "-o", win_path(win)))
    a, b = g.linux("inspect", lin), g.windows("inspect", win_path(win))
    dos_line = [line for line in a.out.splitlines() if line.startswith("DOS program:")]
    g.check.eq("inspect: the DOS program line", [line for line in b.out.splitlines()
                                                 if line.startswith("DOS program:")], dos_line)
    g.check.true("inspect: the Linux fwpack shows the DOS program", dos_line, a.out[-300:])
    for who, pkg in (("Linux", lin), ("Windows", win)):
        b = g.windows("verify", win_path(pkg))
        g.check.eq(f"fwpack.exe verify of the {who} dual-mode package", (b.rc, b.err), (0, ""))


def group_signing(g):
    """fwpack.exe signs with a key file and a PKCS#12 file, and checks
    signatures as the Linux fwpack does: each verifies what the other signed
    against the test root (and refuses another root with the same line), and
    inspect shows the same signature; --sign-pkcs11 fails with one line, as
    no token module is there."""
    manifest = g.sources()
    stub = os.path.join(g.win64, "updater.exe")
    pki = os.path.join(g.work, "pki")
    subprocess.run([os.path.join(SOURCE_DIR, "tests", "signing", "make_pki.sh"), pki], check=True,
                   capture_output=True)
    cert, key = os.path.join(pki, "chain.pem"), os.path.join(pki, "leaf.key")
    root, other = os.path.join(pki, "root.pem"), os.path.join(pki, "other-root.pem")
    by_exe, by_p12, by_linux = (os.path.join(g.work, n) for n in ("exe.exe", "p12.exe", "linux.exe"))
    g.ok("fwpack.exe build --sign-cert --sign-key",
         g.windows("build", win_path(manifest), "--stub", win_path(stub), "-o", win_path(by_exe),
                   "--sign-cert", win_path(cert), "--sign-key", win_path(key)))
    g.ok("fwpack.exe build --sign-pkcs12",
         g.windows("build", win_path(manifest), "--stub", win_path(stub), "-o", win_path(by_p12),
                   "--sign-pkcs12", win_path(os.path.join(pki, "leaf.p12")),
                   env={"FWPACK_SIGN_PASSWORD": "pki-pass"}))
    g.ok("Linux build of a signed package",
         g.linux("build", manifest, "--stub", stub, "-o", by_linux, "--sign-cert", cert, "--sign-key", key))
    for made in (by_exe, by_p12):
        r = g.linux("verify", "--trust", root, made)
        g.check.eq(f"Linux verify --trust of {os.path.basename(made)}", (r.rc, r.out), (0, made + ": consistent\n"))
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", root, "-in", by_exe], capture_output=True)
    g.check.eq("osslsigncode verify of fwpack.exe's signature", r.returncode, 0)
    for made in (by_exe, by_linux):
        r = g.windows("verify", "--trust", win_path(root), win_path(made))
        g.check.eq(f"fwpack.exe verify --trust of {os.path.basename(made)}", (r.rc, r.err, r.out),
                   (0, "", win_path(made) + ": consistent\n"))
    a, b = g.linux("verify", "--trust", other, by_linux), g.windows("verify", "--trust", win_path(other), win_path(by_linux))
    g.check.eq("verify --trust of another root: the Linux fwpack's exit status and lines",
               (b.rc, b.out.replace(win_path(by_linux), by_linux).replace(win_path(other), other)), (1, a.out))
    g.check.true("verify --trust of another root fails", a.rc == 1 and a.out != "")

    a, b = g.linux("inspect", by_linux), g.windows("inspect", win_path(by_linux))
    g.ok("fwpack.exe inspect of the signed package", b)
    g.check.eq("inspect: as the Linux fwpack shows it", b.out.replace(win_path(by_linux), by_linux), a.out)
    g.check.true("inspect: the signer is shown", "fwpack Test Leaf" in b.out or "CN=" in b.out)
    a, b = g.linux("inspect", "--json", by_linux), g.windows("inspect", "--json", win_path(by_linux))
    ja, jb = json.loads(a.out), json.loads(b.out)
    jb["path"] = ja["path"]
    g.check.eq("inspect --json: as the Linux fwpack shows it", jb, ja)

    r = g.windows("build", win_path(manifest), "--stub", win_path(stub), "-o", win_path(os.path.join(g.work, "t.exe")),
                  "--sign-cert", win_path(cert), "--sign-pkcs11", "pkcs11:token=none;object=none",
                  "--pkcs11-module", "C:\\absent\\vendor-pkcs11.dll")
    g.check.eq("fwpack.exe build --sign-pkcs11 with a module that is not there: exit status",
               (r.rc, r.out, r.err.count("\n")), (2, "", 1))
    g.check.true("... the line names the module", "C:\\absent\\vendor-pkcs11.dll" in r.err)
    g.check.true("... nothing written", not os.path.exists(os.path.join(g.work, "t.exe")))

    # A stand-in vendor module (tests/winprog/tokenstub): one token, PIN 4711, no objects.
    module = win_path(os.path.join(g.win64, "tokenstub.dll"))
    token = f"token 'stand-in token' (module {module})"
    for pin, says in (("1234", f"{token} refused the PIN (wrong PIN)"),
                      ("4711", f"no private key matches it on {token}")):
        r = g.windows("build", win_path(manifest), "--stub", win_path(stub), "-o", win_path(os.path.join(g.work, "t.exe")),
                      "--sign-cert", win_path(cert), "--sign-pkcs11", "pkcs11:token=stand-in%20token;object=signer",
                      "--pkcs11-module", module, env={"FWPACK_SIGN_PIN": pin})
        g.check.eq(f"fwpack.exe --sign-pkcs11 through a vendor DLL, PIN {pin}: exit status and line",
                   (r.rc, r.out, r.err),
                   (2, "", f"fwpack: --sign-pkcs11 pkcs11:token=stand-in%20token;object=signer: {says}\n"))
        g.check.true("... nothing written", not os.path.exists(os.path.join(g.work, "t.exe")))


def group_interrupt(g):
    """Ctrl-C in the middle of an extraction: the temporaries go, nothing is
    renamed into place."""
    src = os.path.join(g.work, "big")
    os.makedirs(os.path.join(src, "win"))
    with open(os.path.join(src, "win", "zeros.bin"), "wb") as f:
        f.truncate(160 << 20)
    for name in ("b.bin", "m.bin"):
        open(os.path.join(src, name), "wb").write(name.encode())
    open(os.path.join(src, "m.toml"), "w").write(
        '[windows]\ntools = "win"\n[bios]\nimage = "b.bin"\n[me]\nimage = "m.bin"\n')
    g.ok("Linux build", g.linux("build", "m.toml", "--resources-dir", "res", "--level", "1", cwd=src))
    target = os.path.join(src, "x")
    log = os.path.join(g.work, "exe.log")
    with open(log, "wb") as o:
        p = subprocess.Popen(winerun.WINE_COMMAND + [g.exe, "extract", "res", "x"], cwd=src,
                             env=g.session.env(), stdout=o, stderr=subprocess.STDOUT)
        seen = []
        while p.poll() is None and not seen:
            seen = temporaries(target)
        if seen:
            os.kill(p.pid, signal.SIGINT)
        p.wait()
    if not g.check.true("a temporary seen while fwpack.exe extracted", seen, open(log, "rb").read()[-300:]):
        return
    # STATUS_CONTROL_C_EXIT, of which Wine passes on the low byte: not 0,
    # which would say the extraction succeeded.
    g.check.eq("after Ctrl-C: the exit status", p.returncode, 0xC000013A & 0xFF)
    g.check.eq("after Ctrl-C: temporaries left", temporaries(target), [])
    g.check.eq("after Ctrl-C: files renamed into place",
               [n for _, _, ns in os.walk(target) for n in ns if not n.startswith(".fwpack-")], [])
    g.check.true("after Ctrl-C: the files were not listed as written",
                 b"zeros.bin" not in open(log, "rb").read())


def temporaries(folder):
    return sorted(n for _, _, ns in os.walk(folder) for n in ns if n.startswith(".fwpack-"))


GROUPS = {name[6:]: fn for name, fn in globals().items() if name.startswith("group_")}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--win64")
    ap.add_argument("--fwpack")
    ap.add_argument("--work")
    ap.add_argument("--prefix")
    ap.add_argument("--list", action="store_true")
    ap.add_argument("groups", nargs="*")
    args = ap.parse_args()
    if args.list:
        print("\n".join(GROUPS))
        return 0
    if not os.path.exists(os.path.join(args.win64, "fwpack.exe")):
        print(f"skipped: not built: {args.win64}/fwpack.exe (scripts/build.sh win64)")
        return SKIP
    status = 0
    for name in args.groups or list(GROUPS):
        fn = GROUPS[name]
        print(f"== {name}: {fn.__doc__.splitlines()[0]}")
        g = Group(args, name)
        try:
            with winerun.wine_session(args.prefix) as session:
                g.session = session
                fn(g)
        except Exception:  # noqa: BLE001 - any harness fault fails the group, with its trace
            g.check.failures.append("harness: " + traceback.format_exc())
        for f in g.check.failures:
            print(f"  FAIL {f}")
        print(f"== {name}: {'FAIL' if g.check.failures else 'pass'}")
        status |= bool(g.check.failures)
    return status


if __name__ == "__main__":
    sys.exit(main())
