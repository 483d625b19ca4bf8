"""Emulator processes, bounded: what a run gives back, and the end of a
machine that has run too long."""

import os
import signal
from dataclasses import dataclass, field

# A safety net only: a machine still running after this long is hung.
RUN_BOUND = 120


class HarnessError(Exception):
    """The machine could not be driven: the test fails."""


@dataclass
class Result:
    code: int = None      # the last step's errorlevel; None when the steps did not end
    reset: bool = False   # the machine was reset (QEMU ends on a reset with -no-reboot)
    output: str = ""      # what the emulator itself printed
    prompts: list = field(default_factory=list)   # the interpreter's questions the harness answered
    # The commands written to the keyboard controller, in order (QEMU only):
    # 0xFE, its last, is a reset through the controller.
    controller_commands: list = field(default_factory=list)


def end_process(proc):
    """Kills a machine that is still running and reaps it: the process we
    started, its group and every process below it, each by its pid (Bochs
    runs under `script`, in a session of its own)."""
    if proc.poll() is None:
        below = _descendants(proc.pid)
        os.killpg(proc.pid, signal.SIGKILL)
        for pid in below:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
    proc.wait()


def _descendants(pid):
    """The pids below pid, from /proc's lists of children."""
    found = []
    try:
        with open(f"/proc/{pid}/task/{pid}/children") as f:
            children = [int(c) for c in f.read().split()]
    except OSError:
        return found
    for child in children:
        found += [child] + _descendants(child)
    return found
