#!/usr/bin/env python3
"""The real-mode DOS programs: their code segment, their data segment (data,
bss and stack), the conventional memory they take and the room their data
segment has left (for the test programs, also beside a 51,200-byte buffer
like the DOS updater's transfer buffer, which the updater keeps in memory of
its own outside the data segment); the DOS updater's goals; and DOSBox runs
timed side by side with a bare DOSBox start and exit.

With the host and win64 builds there, also the sample package's size with
the DOS program updater.exe carries and with RTTEST or MODELTST in front.

Usage: bench/bench_dos16.py [DOS16_BUILD_DIR]   (default build/dos16)
"""
import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e", "dosbox"))
import dosboxrun  # noqa: E402
import updater_cases  # noqa: E402

ROUNDS = 5
TRANSFER_SIZE = 51200  # kDosTransferSize (payload/dos_limits.h)


PSP_BYTES = 256
DATA_SEGMENT_LIMIT = 0xFFF0  # the highest stack top the linker script allows
CODE_GOAL = 48 * 1024
DATA_ROOM_GOAL = 16 * 1024      # free in the updater's data segment
MEMORY_GOAL = 160 * 1024        # conventional memory the updater takes
STACK_MARGIN_GOAL = 1024        # stack the deepest run leaves untouched


def layout(elf):
    """The small model's figures from the linker's own symbols."""
    out = subprocess.run(["nm", elf], capture_output=True, text=True, check=True).stdout
    symbols = {}
    for line in out.splitlines():
        value, _, name = line.split()
        symbols[name] = int(value, 16)
    return {
        "code": symbols["__code_size"],
        "data": symbols["__stack_top"],  # null guard, rodata, data, bss and stack
        "stack": symbols["__stack_size"],
        "memory": PSP_BYTES + 16 * (symbols["__code_paragraphs"] + symbols["__data_paragraphs"]),
        "left": DATA_SEGMENT_LIMIT - symbols["__stack_top"],
    }


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
    dosupd_dir = os.path.join(build, "app", "dosupd")
    print("Sizes in bytes. memory: PSP, code and data segment (conventional memory);")
    print(f"left: the data segment's room, alone and beside a {TRANSFER_SIZE}-byte transfer buffer")
    print("DOS program        code  data+bss+stack  (stack)  memory    file    left  with buffer")
    elves = [(programs, n) for n in sorted(os.listdir(programs)) if n.endswith(".elf")]
    elves += [(dosupd_dir, "dos16_dosupd.elf")]
    for folder, name in elves:
        m = layout(os.path.join(folder, name))
        exe = os.path.join(folder, name[len("dos16_"):-4].upper() + ".EXE")
        # MODELTST holds the buffer already and the updater keeps it outside
        # the segment; the others would have to add it.
        holds = name in ("dos16_modeltst.elf", "dos16_dosupd.elf", "dos16_updstack.elf")
        beside = m["left"] if holds else m["left"] - TRANSFER_SIZE
        print(f"{name[:-4]:<17} {m['code']:6} {m['data']:15} ({m['stack']:6}) {m['memory']:7} "
              f"{os.path.getsize(exe):7} {m['left']:7} {beside:12}")
    rttest = os.path.join(programs, "dos16_rttest.elf")
    print(f"zlib's inflate and checksums in RTTEST: {zlib_share(rttest)} bytes of code")
    model = layout(os.path.join(programs, "dos16_modeltst.elf"))
    print(f"MODELTST (transfer buffer, zlib, 8 KiB arena): code {model['code']} bytes "
          f"(goal <= {CODE_GOAL}), conventional memory {model['memory']} bytes "
          f"(goal <= {160 * 1024}), data segment left {model['left']} bytes beside "
          f"its {model['stack']}-byte stack")
    dosupd = layout(os.path.join(dosupd_dir, "dos16_dosupd.elf"))
    # The transfer buffer: a block of DOS's own, with its 16-byte header.
    with_buffer = dosupd["memory"] + 16 + (TRANSFER_SIZE + 15) // 16 * 16
    print(f"DOSUPD (the DOS updater): code {dosupd['code']} bytes (goal <= {CODE_GOAL}), "
          f"data segment {dosupd['data']} bytes with its {dosupd['stack']}-byte stack, "
          f"{dosupd['left']} left (goal >= {DATA_ROOM_GOAL}); conventional memory "
          f"{dosupd['memory']} bytes, {with_buffer} with its {TRANSFER_SIZE}-byte transfer "
          f"buffer (goal <= {MEMORY_GOAL})")

    fwpack = os.path.join(ROOT, "build", "host", "fwpack")
    updater = os.path.join(ROOT, "build", "win64", "updater.exe")
    if os.path.exists(fwpack) and os.path.exists(updater):
        # updater.exe may carry a DOS program already (the win64 build's
        # FWPACK_DOS_STUB_PROGRAM): each package's DOS part is read back.
        with tempfile.TemporaryDirectory(prefix="bench-dos16-") as folder:
            sample = os.path.join(ROOT, "examples", "sample", "package.toml")
            for label, extra in (("as updater.exe carries it", []),
                                 ("RTTEST", ["--dos-program", os.path.join(programs, "RTTEST.EXE")]),
                                 ("MODELTST", ["--dos-program", os.path.join(programs, "MODELTST.EXE")]),
                                 ("DOSUPD", ["--dos-program", os.path.join(dosupd_dir, "DOSUPD.EXE")])):
                out = os.path.join(folder, "pkg.exe")
                subprocess.run([fwpack, "build", sample, "--stub", updater, *extra, "-o", out],
                               check=True, capture_output=True)
                inspect = subprocess.run([fwpack, "inspect", out], capture_output=True, text=True).stdout
                dos = re.search(r"DOS program: (\d+) bytes", inspect)
                print(f"sample package, DOS program {label}: {os.path.getsize(out)} bytes, "
                      f"{dos.group(1) if dos else 'no'} of them the DOS program")

    with tempfile.TemporaryDirectory(prefix="bench-dos16-") as folder:
        box = dosboxrun.DosBox(folder)
        box.put("RTTEST.EXE", open(os.path.join(programs, "RTTEST.EXE"), "rb").read())
        rng = random.Random(5)
        data = bytes(rng.choice(b"abcdefgh ") for _ in range(138465))
        packer = zlib.compressobj(9, zlib.DEFLATED, 10)
        box.put("DATA.Z", packer.compress(data) + packer.flush())
        box.put("MODELTST.EXE", open(os.path.join(programs, "MODELTST.EXE"), "rb").read())
        box.put("DOSFLASH.EXE", open(os.path.join(programs, "DOSFLASH.EXE"), "rb").read())
        box.run(["MODELTST DOSFLASH.EXE DATA.Z MODEL.OUT > MODEL.TXT"])
        unused = re.search(r"stack_unused=(\d+)", box.read("MODEL.TXT") or "")
        if unused:
            print(f"MODELTST's deepest stack in DOSBox: {model['stack'] - int(unused.group(1))} of "
                  f"{model['stack']} bytes")
        bare = timed(box, [])
        inflate = timed(box, ["RTTEST inflate DATA.Z DATA.OUT > OUT.TXT"])
        print(f"DOSBox start, empty batch and exit:     {bare:.2f} s (median of {ROUNDS})")
        print(f"DOSBox run inflating {len(data)} bytes: {inflate:.2f} s, {inflate / bare:.2f}x bare")
        if os.path.exists(fwpack) and os.path.exists(updater):
            update = timed_package_run(box, fwpack, updater, programs, dosupd_dir)
            print(f"DOSBox run of a package (DOSUPD /factory, tools flashed): {update:.2f} s, "
                  f"{update / bare:.2f}x bare")
            deepest_run(box, fwpack, updater, programs)


def deepest_run(box, fwpack, updater, programs):
    """UPDSTACK (DOSUPD with the same stack) through the deepest run the
    DOSBox cases know: both flash steps and the restart question."""
    source = tempfile.mkdtemp(prefix="manifest-", dir=box.folder)
    subprocess.run([fwpack, "build", updater_cases.manifest(source, []), "--stub", updater,
                    "--dos-program", os.path.join(programs, "UPDSTACK.EXE"), "-o", box.path("PKG.EXE")],
                   check=True, capture_output=True)
    box.put("KEYS.TXT", "yn")
    box.run([dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "FW.BIN"), "PKG /debug < KEYS.TXT > UPD.TXT"])
    out = box.read("UPD.TXT") or ""
    unused = re.search(r"stack_unused=(\d+)", out)
    memory = re.search(r"memory_in_use=(\d+)", out)
    if unused and memory:
        print(f"DOSUPD's deepest run in DOSBox: stack margin {unused.group(1)} bytes "
              f"(goal >= {STACK_MARGIN_GOAL}), conventional memory in use {memory.group(1)} bytes "
              f"(goal <= {MEMORY_GOAL})")


def timed_package_run(box, fwpack, updater, programs, dosupd_dir):
    """A package built like the DOSBox updater cases' (stand-in DOS tools,
    a firmware dump), run through its whole update in factory mode."""
    updater_cases.TOOLS_DIR = programs
    for name in updater_cases.TOOLS:
        box.put(name, open(os.path.join(programs, name), "rb").read())
    source = tempfile.mkdtemp(prefix="manifest-", dir=box.folder)
    subprocess.run([fwpack, "build", updater_cases.manifest(source, []), "--stub", updater,
                    "--dos-program", os.path.join(dosupd_dir, "DOSUPD.EXE"), "-o", box.path("PKG.EXE")],
                   check=True, capture_output=True)
    box.put("FW.BIN", updater_cases.dump())
    return timed(box, [dosboxrun.Set("FWPACK_FIRMWARE_DUMP", "FW.BIN"), "PKG /factory > UPD.TXT"])


if __name__ == "__main__":
    main()
