"""QEMU driven through its monitor while it runs: the text screen read from
VGA memory, pictures of it, keys typed, the command interpreter's own
questions answered, the end waited for."""

import os
import shutil
import socket
import subprocess
import tempfile
import time

from pcprocess import RUN_BOUND, HarnessError, Result, end_process

QEMU = shutil.which("qemu-system-i386")

# The command interpreter's own questions, as their ends stand on the screen,
# and the answer that lets a run go on to ENDPC: FreeCOM asks the first
# ("Terminate batch file '...' (Yes/No/All) ?") when a break reached it
# during a batch file, and the second when a program met a critical error
# without a handler of its own; Fail hands the error back to the program.
INTERPRETER_PROMPTS = {"(Yes/No/All) ?": "n", "(R)etry, (F)ail?": "f"}



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
        # QEMU's trace of the keyboard controller's commands tells which way a reset came.
        self.trace_path = pc.path("qemu.trace")
        command += ["-d", "trace:pckbd_kbd_write_command", "-D", self.trace_path]
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
        end_process(self.proc)
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
        """Connects to the monitor once QEMU listens: its socket file
        appears when it is bound, a moment before it is listened on."""
        while True:
            self._check_alive("its monitor came up")
            monitor = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                monitor.connect(self.socket_path)
                break
            except (FileNotFoundError, ConnectionRefusedError):
                monitor.close()
                time.sleep(0.05)
        self.monitor = monitor
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
            end_process(self.proc)
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
        met, answered = [], None
        while self.running():
            if self.left() <= 0:
                screen = self._last_screen()
                end_process(self.proc)
                raise HarnessError(f"QEMU still running after {RUN_BOUND} s; the screen:\n{screen}")
            rows = self._screen_unless_ended()
            prompt = self._prompt_at_end(rows, prompts)
            # A screen already answered waits for the interpreter to take the key.
            if prompt and rows != answered:
                met.append(prompt)
                self.send_keys(prompts[prompt])
                answered = rows
            time.sleep(0.25)
        return self._result(met)

    @staticmethod
    def _prompt_at_end(rows, prompts):
        """The prompt the last written row ends with, if any."""
        written = [row.rstrip() for row in rows or [] if row.strip()]
        return next((p for p in prompts if written and written[-1].endswith(p)), None)

    def _result(self, prompts):
        self.proc.wait()
        status = self.proc.returncode
        output = self._log_text()
        commands = self._controller_commands()
        if status == 0:      # -no-reboot: the guest reset the machine
            return Result(None, True, output, prompts, commands)
        code = self.pc.exit_code()
        if status % 2 == 0 or code is None or status != code * 2 + 1:
            raise HarnessError(f"QEMU ended with status {status} (errorlevel file: {code}): {output[-300:]}")
        return Result(code, False, output, prompts, commands)

    def _controller_commands(self):
        try:
            with open(self.trace_path) as f:
                return [int(line.split()[1], 16) for line in f if line.startswith("pckbd_kbd_write_command ")]
        except OSError:
            return []

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
