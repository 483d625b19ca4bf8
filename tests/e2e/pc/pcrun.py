"""Runs DOS programs on FreeDOS in emulated PCs for the end-to-end tests.

A run is one boot: a copy of the FreeDOS boot floppy (drive A:) whose
AUTOEXEC.BAT holds the steps, a FAT16 hard disk (drive C:) with the files the
steps use, and a firmware image at the top of the 4 GiB space with whatever
the case put into it. The last step's errorlevel goes to ENDPC.COM
(tests/dosprog), which writes it to A:\\EXIT.TXT, flushes DOS's buffers and switches the machine off. The harness
then reads the disks with mtools.

QEMU (software CPU) is the fast machine and can be driven while it runs: its
monitor reads the text screen and types keys (`QemuSession`). Bochs is the
strict one: it checks real-mode segment limits. Every run is bounded: a
machine still running after RUN_BOUND seconds is killed and the run fails
as a harness failure.
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
# The FreeDOS boot floppy; the variable names another copy.
FREEDOS_VARIABLE = "FWPACK_FREEDOS_IMAGE"
FREEDOS_RELATIVE = os.path.join("..", "shared", "freedos", "fdboot.img")

QEMU = shutil.which("qemu-system-i386")
BOCHS = shutil.which("bochs")
SCRIPT = shutil.which("script")
SEABIOS = "/usr/share/seabios/bios.bin"
BOCHS_BIOS = "/usr/share/bochs/BIOS-bochs-latest"
BOCHS_VGABIOS = "/usr/share/bochs/VGABIOS-lgpl-latest"

# A safety net only: a machine still running after this long is hung.
RUN_BOUND = 120

# The hard disk: 65 cylinders, 16 heads, 63 sectors (32 MiB as QEMU counts
# it, and the geometry it reports for an image of this size), one FAT16
# partition from sector 63 to the end. The CHS values in the partition table
# must match the geometry or FreeDOS will not read the partition.
CYLINDERS, HEADS, SECTORS = 65, 16, 63
DISK_SECTORS = CYLINDERS * HEADS * SECTORS
PARTITION_START = SECTORS
DISK_OFFSET = PARTITION_START * 512

# The firmware image ends at 4 GiB with the machine's own BIOS in its last
# 128 KiB (both machines also map that part at 0xE0000); flash that holds
# nothing reads as 0xFF. QEMU takes 4 MiB, down to 0xFFC00000; Bochs refuses
# a ROM image larger than 2 MiB, so its flash starts at 0xFFE00000.
FIRMWARE_SIZES = {"qemu": 4 << 20, "bochs": 2 << 20}
MACHINE_BIOS = {"qemu": SEABIOS, "bochs": BOCHS_BIOS}
BIOS_ROOM = 128 << 10


def firmware_base(machine):
    return (1 << 32) - FIRMWARE_SIZES[machine]


class HarnessError(Exception):
    """The machine could not be driven: the test fails."""


def missing_prerequisites(machine, programs):
    """One line per thing a run on machine ("qemu" or "bochs") needs and
    this computer lacks; programs are the DOS files the run copies in."""
    image = freedos_image()
    missing = [] if os.path.exists(image) else [f"the FreeDOS boot floppy {image} (set {FREEDOS_VARIABLE})"]
    tools = {"mcopy": "mtools", "mkfs.fat": "dosfstools"}
    tools.update({"qemu-system-i386": "qemu-system-x86"} if machine == "qemu" else
                 {"bochs": "bochs", "script": "bsdutils"})
    missing += [f"{tool} (package {package})" for tool, package in tools.items() if not shutil.which(tool)]
    bios = [MACHINE_BIOS[machine]] + ([BOCHS_VGABIOS] if machine == "bochs" else [])
    missing += [path for path in bios + list(programs) if not os.path.exists(path)]
    return missing


def freedos_image():
    """The variable's path; else ../shared beside the checkout, or beside the
    main checkout when this one is a git worktree (whose .git is a file
    naming the main checkout's .git/worktrees/NAME)."""
    if os.environ.get(FREEDOS_VARIABLE):
        return os.environ[FREEDOS_VARIABLE]
    checkouts = [REPO]
    try:
        with open(os.path.join(REPO, ".git")) as f:
            gitdir = f.read().split("gitdir:", 1)[1].strip()
        checkouts.append(os.path.dirname(os.path.dirname(os.path.dirname(gitdir))))
    except (OSError, IndexError):
        pass
    candidates = [os.path.normpath(os.path.join(c, FREEDOS_RELATIVE)) for c in checkouts]
    return next((c for c in candidates if os.path.exists(c)), candidates[0])


def firmware_image(machine, blocks=()):
    """The machine's flash: erased (0xFF), its BIOS at the end and each
    (physical address, bytes) of blocks in place."""
    bios, size = MACHINE_BIOS[machine], FIRMWARE_SIZES[machine]
    with open(bios, "rb") as f:
        rom = f.read()
    if len(rom) > BIOS_ROOM:
        raise HarnessError(f"{bios} holds {len(rom)} bytes, more than the {BIOS_ROOM} at the top")
    image = bytearray(b"\xff" * (size - len(rom))) + rom
    for address, data in blocks:
        at = address - firmware_base(machine)
        if at < 0 or at + len(data) > size - BIOS_ROOM:
            raise HarnessError(f"address {address:#x} is outside the flash below the BIOS")
        image[at:at + len(data)] = data
    return bytes(image)


def _mtools(command, *args):
    proc = subprocess.run([command, *args], capture_output=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if proc.returncode != 0:
        raise HarnessError(f"{command} {' '.join(args)}: {proc.stderr.decode(errors='replace').strip()}")
    return proc.stdout


class FatImage:
    """A FAT file system in an image file, at a byte offset, reached through mtools."""

    def __init__(self, path, offset=0):
        self.path = path
        self.target = f"{path}@@{offset}" if offset else path

    def put(self, name, data):
        """Writes data (bytes, or text written with DOS line ends) as \\name."""
        if isinstance(data, str):
            data = data.replace("\r\n", "\n").replace("\n", "\r\n").encode("latin-1")
        local = self.path + ".put"
        with open(local, "wb") as f:
            f.write(data)
        _mtools("mcopy", "-o", "-i", self.target, local, "::" + name)
        os.remove(local)

    def read(self, name, missing=None):
        """The file's bytes as latin-1 text, or missing when there is none."""
        if name.upper() not in self.names(os.path.dirname(name.replace("\\", "/"))):
            return missing
        return _mtools("mtype", "-i", self.target, "::" + name).decode("latin-1")

    def delete(self, name):
        """Removes the file, if there is one."""
        if name.upper() in self.names(os.path.dirname(name.replace("\\", "/"))):
            _mtools("mdel", "-i", self.target, "::" + name)

    def names(self, folder=""):
        """The names in a folder, upper case, folders included."""
        out = _mtools("mdir", "-b", "-i", self.target, "::" + folder.strip("/") + "/").decode("latin-1")
        return sorted(os.path.basename(line.rstrip("/")).upper() for line in out.splitlines() if line.strip())


def make_hard_disk(path):
    """A blank hard disk image with one FAT16 partition; its file system."""
    size = DISK_SECTORS * 512
    with open(path, "wb") as f:
        f.truncate(size)
        f.seek(446)
        f.write(_partition_entry(PARTITION_START, DISK_SECTORS - PARTITION_START))
        f.seek(510)
        f.write(b"\x55\xaa")
    blocks = (DISK_SECTORS - PARTITION_START) // 2
    proc = subprocess.run(["mkfs.fat", "-F", "16", "--offset", str(PARTITION_START), "-g", f"{HEADS}/{SECTORS}",
                           "-h", str(PARTITION_START), "-i", "20261208", "-n", "PCRIG", path, str(blocks)],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise HarnessError(f"mkfs.fat: {proc.stderr.strip()}")
    return FatImage(path, DISK_OFFSET)


def _chs(lba):
    cylinder, rest = divmod(lba, HEADS * SECTORS)
    head, sector = divmod(rest, SECTORS)
    return bytes([head, (sector + 1) | ((cylinder >> 8) << 6), cylinder & 0xFF])


def _partition_entry(start, count):
    """An active FAT16 (type 06h) partition entry."""
    return (b"\x80" + _chs(start) + b"\x06" + _chs(start + count - 1)
            + start.to_bytes(4, "little") + count.to_bytes(4, "little"))


def autoexec(steps, environment):
    """AUTOEXEC.BAT: the variables, the steps on C:\\, and ENDPC with the
    last step's errorlevel. FreeCOM expands %ERRORLEVEL%; an "if errorlevel"
    ladder would do the same but costs FreeCOM a second or more of reading
    the batch file line by line."""
    lines = ["@ECHO OFF"] + [f"SET {k}={v}" for k, v in environment.items()] + ["C:", "CD \\"]
    return "\r\n".join(lines + list(steps) + ["A:\\ENDPC %ERRORLEVEL%"]) + "\r\n"


@dataclass
class Result:
    code: int = None      # the last step's errorlevel; None when the steps did not end
    reset: bool = False   # the machine was reset (QEMU ends on a reset with -no-reboot)
    output: str = ""      # what the emulator itself printed
    prompts: list = field(default_factory=list)   # the interpreter's questions the harness answered


# The command interpreter's own questions, as their ends stand on the screen,
# and the answer that lets a run go on to ENDPC: FreeCOM asks the first
# ("Terminate batch file '...' (Yes/No/All) ?") when a break reached it
# during a batch file, and the second when a program met a critical error
# without a handler of its own; Fail hands the error back to the program.
INTERPRETER_PROMPTS = {"(Yes/No/All) ?": "n", "(R)etry, (F)ail?": "f"}


class PC:
    """An emulated PC's disks and firmware in a folder of its own. machine is
    "qemu" or "bochs"; programs are files copied to A: (ENDPC.COM among them)."""

    def __init__(self, folder, machine, endpc):
        self.folder = os.path.abspath(folder)
        self.machine = machine
        os.makedirs(self.folder, exist_ok=True)
        self.floppy_path = self.path("a.img")
        shutil.copyfile(freedos_image(), self.floppy_path)
        os.chmod(self.floppy_path, 0o644)
        self.floppy = FatImage(self.floppy_path)
        with open(endpc, "rb") as f:
            self.floppy.put("ENDPC.COM", f.read())
        self.disk = make_hard_disk(self.path("c.img"))
        self.write_protected = None   # a floppy image for drive B:, write-protected
        self.set_firmware()

    def path(self, name):
        return os.path.join(self.folder, name)

    def set_firmware(self, blocks=()):
        """The flash holds blocks, a list of (physical address, bytes)."""
        with open(self.path("fw.bin"), "wb") as f:
            f.write(firmware_image(self.machine, blocks))

    def add_write_protected_floppy(self, files):
        """Drive B:, a write-protected 1.44 MB floppy holding files (name: bytes)."""
        self.write_protected = self.path("b.img")
        with open(self.write_protected, "wb") as f:
            f.truncate(1474560)
        proc = subprocess.run(["mkfs.fat", "-F", "12", "-i", "20261209", "-n", "LOCKED", self.write_protected],
                              capture_output=True, text=True)
        if proc.returncode != 0:
            raise HarnessError(f"mkfs.fat: {proc.stderr.strip()}")
        drive = FatImage(self.write_protected)
        for name, data in files.items():
            drive.put(name, data)
        return drive

    def prepare(self, steps, environment=None):
        self.floppy.put("AUTOEXEC.BAT", autoexec(steps, environment or {}))
        self.floppy.delete("EXIT.TXT")

    def run(self, steps, environment=None):
        """Boots, runs the steps and waits for the machine to end."""
        if self.machine == "qemu":
            with self.start(steps, environment) as session:
                return session.wait()
        self.prepare(steps, environment)
        return run_bochs(self)

    def start(self, steps, environment=None):
        """Boots QEMU with the steps; the session drives it while it runs."""
        if self.machine != "qemu":
            raise HarnessError("only QEMU can be driven while it runs")
        self.prepare(steps, environment)
        return QemuSession(self)

    def exit_code(self):
        """The errorlevel ENDPC wrote to A:\\EXIT.TXT, or None."""
        text = self.floppy.read("EXIT.TXT")
        return int(text.split()[0]) if text and text.split() else None


def _end(proc):
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


class QemuSession:
    """A QEMU run with its monitor on a socket: the screen's text and
    picture, keys typed, the end waited for."""

    def __init__(self, pc):
        self.pc = pc
        # A socket's path has room for 107 characters: the monitor's lives
        # in a short folder of its own.
        self.socket_folder = tempfile.mkdtemp(prefix="pcmon-")
        self.socket_path = os.path.join(self.socket_folder, "monitor")
        command = [QEMU, "-machine", "pc", "-accel", "tcg", "-m", "32", "-bios", pc.path("fw.bin"),
                   "-drive", f"file={pc.floppy_path},if=floppy,index=0,format=raw",
                   "-drive", f"file={pc.path('c.img')},if=ide,index=0,format=raw",
                   "-boot", "a", "-display", "none", "-no-reboot", "-net", "none",
                   "-serial", "none", "-parallel", "none",
                   "-device", "isa-debug-exit,iobase=0xf4,iosize=4",
                   "-monitor", f"unix:{self.socket_path},server=on,wait=off"]
        if pc.write_protected:
            command += ["-drive", f"file={pc.write_protected},if=floppy,index=1,format=raw,readonly=on"]
        self.log_path = pc.path("qemu.log")
        self.log = open(self.log_path, "wb")
        self.started = time.monotonic()
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        self.monitor = None
        self.result = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _end(self.proc)
        if self.monitor:
            self.monitor.close()
        shutil.rmtree(self.socket_folder, ignore_errors=True)
        self.log.close()

    def left(self):
        """Seconds left before the bound."""
        return RUN_BOUND - (time.monotonic() - self.started)

    def running(self):
        return self.proc.poll() is None

    def command(self, line):
        """One monitor command; its reply."""
        if not self.monitor:
            self._connect()
        try:
            self.monitor.sendall(line.encode() + b"\n")
        except OSError as e:
            raise HarnessError(f"QEMU's monitor is gone ({e}): the machine ended")
        return self._reply()

    def _connect(self):
        while not os.path.exists(self.socket_path):
            self._check_alive("its monitor came up")
            time.sleep(0.05)
        self.monitor = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.monitor.connect(self.socket_path)
        self.monitor.settimeout(max(self.left(), 1))
        self._reply()   # the banner and the first prompt

    def _reply(self):
        data = b""
        while not data.endswith(b"(qemu) "):
            try:
                piece = self.monitor.recv(4096)
            except (socket.timeout, OSError) as e:
                raise HarnessError(f"QEMU's monitor did not answer: {e}")
            if not piece:
                raise HarnessError("QEMU's monitor closed (the machine ended)")
            data += piece
        return data.decode("latin-1")

    def _check_alive(self, waiting_for):
        if self.left() <= 0:
            screen = self._last_screen()
            _end(self.proc)
            raise HarnessError(f"QEMU still running after {RUN_BOUND} s, waiting until {waiting_for}; "
                               f"the screen:\n{screen}")
        if not self.running():
            raise HarnessError(f"QEMU ended (status {self.proc.returncode}) before {waiting_for}; "
                               f"log: {self._log_text()[-300:]}")

    def _log_text(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def screen(self):
        """The text screen (80 x 25, from VGA memory at 0xB8000), one string per row."""
        return text_screen(self)

    def picture(self, path):
        """Saves the screen as a picture: PNG when path ends in .png, else PPM."""
        if os.path.exists(path):
            os.remove(path)
        form = "png" if path.lower().endswith(".png") else "ppm"
        reply = self.command(f'screendump "{path}" -f {form}')
        if not os.path.exists(path):
            raise HarnessError(f"QEMU wrote no picture {path}: {reply.strip()[-200:]}")

    def wait_for_text(self, text):
        """Polls the screen until text is on it; the screen's rows."""
        while True:
            self._check_alive(f"the screen showed {text!r}")
            rows = self._screen_unless_ended()
            if rows is not None and (any(text in row for row in rows) or text in "".join(rows)):
                return rows
            time.sleep(0.1)

    def _screen_unless_ended(self):
        """The screen's rows, or None when the machine ended while they were
        read (the monitor goes away with the machine)."""
        try:
            return self.screen()
        except HarnessError:
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                raise HarnessError("QEMU's monitor failed while the machine went on running") from None
            return None

    def send_keys(self, *keys):
        """Types keys, each a QEMU key name ("y", "ret", "ctrl-c")."""
        for key in keys:
            self.command(f"sendkey {key}")

    def ctrl_c(self):
        self.send_keys("ctrl-c")

    def ctrl_break(self):
        """Ctrl-Break: Pause with Ctrl held, which the keyboard sends as Break."""
        self.send_keys("ctrl-pause")

    def wait(self, prompts=None):
        """Waits for the machine to end; its result. While it runs, a
        question of the command interpreter's own that stands at the end of
        the screen (see INTERPRETER_PROMPTS, or prompts) is answered so that
        the run goes on to its end, and noted in the result."""
        prompts = INTERPRETER_PROMPTS if prompts is None else prompts
        met = []
        while self.running():
            if self.left() <= 0:
                screen = self._last_screen()
                _end(self.proc)
                raise HarnessError(f"QEMU still running after {RUN_BOUND} s; the screen:\n{screen}")
            prompt = self._prompt_at_end(prompts)
            if prompt:
                met.append(prompt)
                self.send_keys(prompts[prompt])
            time.sleep(0.25)
        return self._result(met)

    def _prompt_at_end(self, prompts):
        """The prompt the last written row ends with, if any."""
        rows = [row for row in self._screen_unless_ended() or [] if row.strip()]
        last = rows[-1].rstrip() if rows else ""
        return next((p for p in prompts if last.endswith(p)), None)

    def _result(self, prompts):
        self.proc.wait()
        status = self.proc.returncode
        output = self._log_text()
        if status == 0:      # -no-reboot: the guest reset the machine
            return Result(None, True, output, prompts)
        code = self.pc.exit_code()
        if status % 2 == 0 or code is None or status != code * 2 + 1:
            raise HarnessError(f"QEMU ended with status {status} (errorlevel file: {code}): {output[-300:]}")
        return Result(code, False, output, prompts)

    def _last_screen(self):
        try:
            return "\n".join(r for r in self.screen() if r.strip())
        except HarnessError as e:
            return f"(unreadable: {e})"


def text_screen(session):
    """Reads the 80 x 25 text page from VGA memory through QEMU's monitor."""
    dump = session.pc.path("screen.bin")
    if os.path.exists(dump):
        os.remove(dump)
    session.command(f'pmemsave 0xb8000 4000 "{dump}"')
    with open(dump, "rb") as f:
        cells = f.read()
    if len(cells) != 4000:
        raise HarnessError(f"the screen dump holds {len(cells)} bytes, not 4000")
    characters = cells[0::2].decode("cp437")
    return [characters[row * 80:(row + 1) * 80].rstrip() for row in range(25)]


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
    with open(pc.path("commands"), "w") as f:
        f.write("c\n")
    inner = f"{BOCHS} -q -f {pc.path('bochsrc')} -rc {pc.path('commands')}"
    proc = subprocess.Popen([SCRIPT, "-qfc", inner, "/dev/null"], cwd=pc.folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True,
                            env=dict(os.environ, TERM="xterm"))
    try:
        out, _ = proc.communicate(timeout=RUN_BOUND)
    except subprocess.TimeoutExpired:
        _end(proc)
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
