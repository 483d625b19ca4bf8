#!/usr/bin/env python3
"""A picture of a DOS program's screen on an emulated PC: boots FreeDOS in
QEMU with PACKAGE as C:\\PKG.EXE, runs "PKG ARGS", waits until TEXT is on
the screen, saves the screen as a picture (PNG, or PPM for any other ending),
prints the screen's text and switches the machine off.

Usage: pc_picture.py PACKAGE --wait TEXT -o PICTURE [--args ARGS]
                     [--id-block TEXT [--at ADDRESS]] [--keep DIR]
--id-block puts TEXT's bytes (the firmware's identification block, "$FB$...",
with "\\x01\\x00"-style escapes for the word after it) into the machine's
flash at ADDRESS (0xFFF10000 unless told). The FreeDOS boot floppy comes from
FWPACK_FREEDOS_IMAGE or ../shared/freedos beside the checkout; ENDPC.COM from
the dos16 build.
"""
import argparse
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pcrun  # noqa: E402

ENDPC = os.path.join(pcrun.REPO, "build", "dos16", "tests", "dosprog", "ENDPC.COM")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("package")
    parser.add_argument("--wait", required=True, help="the text to wait for on the screen")
    parser.add_argument("-o", "--output", required=True, help="the picture file (.png or .ppm)")
    parser.add_argument("--args", default="", help="the package's command line")
    parser.add_argument("--id-block", help="identification block text to put into flash")
    parser.add_argument("--at", default="0xFFF10000", help="where the block goes")
    parser.add_argument("--keep", help="make the machine's disks in this folder and keep them")
    args = parser.parse_args()
    missing = pcrun.missing_prerequisites("qemu", [args.package, ENDPC])
    if missing:
        print(f"pc_picture: missing {', '.join(missing)}", file=sys.stderr)
        return 2
    folder = args.keep or tempfile.mkdtemp(prefix="pc-picture-")
    try:
        pc = pcrun.PC(folder, "qemu", ENDPC)
        with open(args.package, "rb") as f:
            pc.disk.put("PKG.EXE", f.read())
        if args.id_block:
            block = args.id_block.encode("latin-1").decode("unicode_escape").encode("latin-1")
            pc.set_firmware([(int(args.at, 0), block)])
        with pc.start([f"PKG {args.args}".rstrip()]) as session:
            rows = session.wait_for_text(args.wait)
            session.picture(os.path.abspath(args.output))
        print("\n".join(rows).rstrip())
        return 0
    except pcrun.HarnessError as e:
        print(f"pc_picture: {e}", file=sys.stderr)
        return 1
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
