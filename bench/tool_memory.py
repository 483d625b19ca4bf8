#!/usr/bin/env python3
"""Peak memory of fwpack inspect, verify and extract on a package whose ME
stream inflates to 1 MiB and on one whose stream inflates to 1 GiB, printed
side by side. Streaming readers should show the same peak for both.

Usage: bench/tool_memory.py [BUILD_DIR]   (default build/host)
Scratch files go to $FWPACK_BENCH_DIR or /tmp; the 1 GiB extract writes 1 GiB.
"""
import os, shutil, struct, subprocess, sys, tempfile, zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "host"))
FWPACK = os.path.join(BUILD, "fwpack")
MIB = 1 << 20
TIME = "/usr/bin/time"


def zero_package_stream(name, size):
    """A one-file package of `size` zero bytes as a zlib stream with a 1 KiB
    window. One megabyte of zeros is deflated once, ending in a full flush
    so that it stands alone, and repeated; compressing 1 GiB would take
    minutes on a busy machine."""
    record = struct.pack("<IIQQQII", 0, 0, 0, 0, 0, 0, size) + name.encode().ljust(260, b"\0")
    head = struct.pack("<I", 1) + record
    c = zlib.compressobj(6, zlib.DEFLATED, 10)
    parts = [c.compress(head) + c.flush(zlib.Z_FULL_FLUSH)]
    block = bytes(MIB)
    packed = c.compress(block) + c.flush(zlib.Z_FULL_FLUSH)
    adler = zlib.adler32(head)
    for _ in range(size // MIB):
        parts.append(packed)
        adler = zlib.adler32(block, adler)
    rest = bytes(size % MIB)
    parts.append(c.compress(rest) + c.flush(zlib.Z_FULL_FLUSH))
    adler = zlib.adler32(rest, adler)
    parts.append(b"\x03\x00" + struct.pack(">I", adler))   # empty final block, Adler-32
    return b"".join(parts)


def peak_kib(args, work):
    """fwpack's own peak, as /usr/bin/time sees it: measured on a process
    forked from that small program, not from this interpreter, whose size a
    forked child would otherwise carry as its high-water mark."""
    report = os.path.join(work, "peak")
    with open(os.devnull, "wb") as null:
        subprocess.run([TIME, "-f", "%M", "-o", report, FWPACK] + args, stdout=null, check=True)
    with open(report) as f:
        return int(f.read().split()[-1])


def measure(work, size):
    res = os.path.join(work, f"res-{size}")
    subprocess.run([FWPACK, "build", os.path.join(ROOT, "examples/sample/package.toml"),
                    "--resources-dir", res], check=True, stdout=subprocess.DEVNULL)
    stream = zero_package_stream("me.bin", size)
    with open(os.path.join(res, "2004.bin"), "wb") as f:
        f.write(b"$_ME__FILE_$" + struct.pack("<I", len(stream)) + stream)
    out = os.path.join(work, f"out-{size}")
    peaks = {cmd: peak_kib([cmd, res] + ([out] if cmd == "extract" else []), work)
             for cmd in ("inspect", "verify", "extract")}
    shutil.rmtree(out)
    return len(stream), peaks


def main():
    if not os.path.exists(FWPACK):
        sys.exit(f"{FWPACK} is missing: build the host preset first")
    if not os.path.exists(TIME):
        sys.exit(f"{TIME} is missing: apt-get install time")
    work = tempfile.mkdtemp(prefix="fwpack-bench-", dir=os.environ.get("FWPACK_BENCH_DIR"))
    try:
        small_len, small = measure(work, MIB)
        large_len, large = measure(work, 1 << 30)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"ME stream: {small_len} bytes -> 1 MiB, {large_len} bytes -> 1 GiB")
    print(f"{'command':<10}{'1 MiB peak':>14}{'1 GiB peak':>14}{'difference':>14}")
    for cmd in small:
        print(f"{cmd:<10}{small[cmd]:>10} KiB{large[cmd]:>10} KiB{large[cmd] - small[cmd]:>10} KiB")


if __name__ == "__main__":
    main()
