#!/usr/bin/env python3
"""The real-mode DOS programs: their code and data sizes, and DOSBox runs
timed side by side with a bare DOSBox start and exit.

With the host and win64 builds there, also what a DOS program in front of
the sample package adds to its size.

Usage: bench/bench_dos16.py [DOS16_BUILD_DIR]   (default build/dos16)
"""
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "dosbox"))
import dosboxrun  # noqa: E402

ROUNDS = 5
TRANSFER_SIZE = 51200  # kDosTransferSize (payload/dos_limits.h)


def section_sizes(elf):
    """Bytes of code, read-only data, data and bss, and the stack top."""
    out = subprocess.run(["objdump", "-h", elf], capture_output=True, text=True, check=True).stdout
    sizes = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[1] in (".text", ".rodata", ".data", ".bss"):
            sizes[parts[1]] = int(parts[2], 16)
    symbols = subprocess.run(["nm", elf], capture_output=True, text=True, check=True).stdout
    for line in symbols.splitlines():
        value, _, name = line.split()
        if name == "__stack_top":
            sizes["stack top"] = int(value, 16)
    return sizes


def zlib_share(elf):
    """Code bytes of the functions linked from zlib's sources."""
    out = subprocess.run(["nm", "--size-sort", "-S", elf], capture_output=True, text=True).stdout
    zlib_functions = ("inflate", "inflate_fast", "inflate_table", "adler32", "crc32", "zmem",
                      "zcalloc", "zError", "zlibVersion", "updatewindow", "fixedtables")
    total = 0
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[2] in "tT" and parts[3].startswith(zlib_functions):
            total += int(parts[1], 16)
    return total


def timed(box, steps):
    times = []
    for _ in range(ROUNDS):
        start = time.monotonic()
        box.run(steps)
        times.append(time.monotonic() - start)
    return statistics.median(times)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "dos16"))
    programs = os.path.join(build, "tests", "dosprog")
    print("DOS program        code  rodata   data    bss  stack top  file")
    for name in sorted(os.listdir(programs)):
        if not name.endswith(".elf"):
            continue
        s = section_sizes(os.path.join(programs, name))
        exe = os.path.join(programs, name[len("dos16_"):-4].upper() + ".EXE")
        print(f"{name[:-4]:<17} {s.get('.text', 0):6} {s.get('.rodata', 0):7} {s.get('.data', 0):6} "
              f"{s.get('.bss', 0):6} {s.get('stack top', 0):#10x} {os.path.getsize(exe):6}")
    rttest = os.path.join(programs, "dos16_rttest.elf")
    print(f"zlib's inflate and checksums in RTTEST: {zlib_share(rttest)} bytes of code")
    # The tiny model: code, data, bss and stack share one 64 KiB segment.
    top = section_sizes(rttest).get("stack top", 0)
    print(f"room left in RTTEST's one 64 KiB segment: {0x10000 - top} bytes; the DOS updater's "
          f"transfer buffer alone needs {TRANSFER_SIZE}")

    fwpack = os.path.join(ROOT, "build", "host", "fwpack")
    updater = os.path.join(ROOT, "build", "win64", "updater.exe")
    if os.path.exists(fwpack) and os.path.exists(updater):
        with tempfile.TemporaryDirectory(prefix="bench-dos16-") as folder:
            sample = os.path.join(ROOT, "examples", "sample", "package.toml")
            sizes = []
            for extra in ([], ["--dos-program", os.path.join(programs, "RTTEST.EXE")]):
                out = os.path.join(folder, f"pkg{len(extra)}.exe")
                subprocess.run([fwpack, "build", sample, "--stub", updater, *extra, "-o", out],
                               check=True, capture_output=True)
                sizes.append(os.path.getsize(out))
            print(f"sample package: {sizes[0]} bytes; with RTTEST in front: {sizes[1]} bytes "
                  f"(+{sizes[1] - sizes[0]})")

    with tempfile.TemporaryDirectory(prefix="bench-dos16-") as folder:
        box = dosboxrun.DosBox(folder)
        box.put("RTTEST.EXE", open(os.path.join(programs, "RTTEST.EXE"), "rb").read())
        rng = random.Random(5)
        data = bytes(rng.choice(b"abcdefgh ") for _ in range(138465))
        packer = zlib.compressobj(9, zlib.DEFLATED, 10)
        box.put("DATA.Z", packer.compress(data) + packer.flush())
        bare = timed(box, [])
        inflate = timed(box, ["RTTEST inflate DATA.Z DATA.OUT > OUT.TXT"])
        print(f"DOSBox start, empty batch and exit:     {bare:.2f} s (median of {ROUNDS})")
        print(f"DOSBox run inflating {len(data)} bytes: {inflate:.2f} s, {inflate / bare:.2f}x bare")


if __name__ == "__main__":
    main()
