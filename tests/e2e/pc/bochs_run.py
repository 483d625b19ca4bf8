"""Bochs, headless: its terminal display under `script`, its debugger told
to continue, until ENDPC switches it off."""

import os
import shutil
import subprocess

from pcimages import CYLINDERS, HEADS, SECTORS, firmware_base
from pcprocess import RUN_BOUND, HarnessError, Result, end_process

BOCHS = shutil.which("bochs")
SCRIPT = shutil.which("script")
BOCHS_VGABIOS = "/usr/share/bochs/VGABIOS-lgpl-latest"


BOCHSRC = """megs: 32
romimage: file={firmware}, address={base:#x}
vgaromimage: file={vgabios}
floppya: 1_44={floppy}, status=inserted
ata0: enabled=1, ioaddr1=0x1f0, ioaddr2=0x3f0, irq=14
ata0-master: type=disk, path={disk}, mode=flat, cylinders={c}, heads={h}, spt={s}
boot: floppy
clock: sync=none, time0=1
display_library: term
port_e9_hack: enabled=1
mouse: enabled=0
log: {log}
panic: action=fatal
error: action=report
info: action=ignore
debug: action=ignore
"""


def run_bochs(pc):
    """Runs Bochs headless (its terminal display under `script`, its
    debugger told to continue) until ENDPC switches it off."""
    with open(pc.path("bochsrc"), "w") as f:
        f.write(BOCHSRC.format(firmware=pc.path("fw.bin"), base=firmware_base(pc.machine), vgabios=BOCHS_VGABIOS,
                               floppy=pc.floppy_path, disk=pc.path("c.img"), c=CYLINDERS, h=HEADS, s=SECTORS,
                               log=pc.path("bochs.log")))
        if pc.bochs_cpu:
            f.write(f"cpu: model={pc.bochs_cpu}\n")
    with open(pc.path("commands"), "w") as f:
        f.write("c\n")
    inner = f"{BOCHS} -q -f {pc.path('bochsrc')} -rc {pc.path('commands')}"
    proc = subprocess.Popen([SCRIPT, "-qfc", inner, "/dev/null"], cwd=pc.folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True,
                            env=dict(os.environ, TERM="xterm"))
    try:
        out, _ = proc.communicate(timeout=RUN_BOUND)
    except subprocess.TimeoutExpired:
        end_process(proc)
        raise HarnessError(f"Bochs still running after {RUN_BOUND} s; its log: {_tail(pc.path('bochs.log'))}")
    output = out.decode("latin-1")
    code = pc.exit_code()
    if code is None:
        raise HarnessError(f"Bochs ended (status {proc.returncode}) before the steps did; "
                           f"its log: {_tail(pc.path('bochs.log'))}")
    return Result(code, False, output)


def _tail(path, size=600):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1")[-size:]
    except FileNotFoundError:
        return "(none)"
