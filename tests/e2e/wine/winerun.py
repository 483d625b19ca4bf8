"""Runs Windows programs under Wine for the end-to-end tests.

One Wine prefix is made once and reused by every test (making it takes
~15 s); each test holds a lock on it, starts its own Xvfb display, boots a
Wine session on it and ends that session (wineserver -k on that prefix) when
it is done. Every wait is bounded, so a hang fails the test instead of
blocking CI, and Wine's own log of a hung step is kept and shown.
"""

import contextlib
import fcntl
import json
import os
import platform
import shutil
import signal
import subprocess
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
# Every Wine program starts with the address-space randomisation of its
# process turned off (setarch -R). This Wine has no preloader to hold the
# fixed addresses it needs before the system lays the process out; one start
# in a clean-clone run ended at once with "failed to map the shared user
# data: c0000018" (conflicting addresses), exit status 1, before any of the
# program's own code ran.
WINE_COMMAND = ["setarch", platform.machine(), "-R", WINE]

# Safety nets only: a run that takes this long is hung.
RUN_BOUND = 120
START_BOUND = 90
# Booting a session (wineboot, services, device drivers) on a busy machine;
# Wine's own programs give up waiting for it after five minutes.
BOOT_BOUND = 300

# What Wine reports while the tests run: its errors and the programs each
# process starts; enough to tell a slow start-up from a hung one.
WINE_LOG_CHANNELS = "+timestamp,err+all,fixme-all,+process"
# Kept logs of failed starts and runs, one per failure.
FAILURE_LOGS = None


def tail(path, lines=60):
    try:
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
    except OSError as e:
        return f"(no log: {e})"
    return "\n".join(text.splitlines()[-lines:])


class Checks:
    """Collects every failed expectation of a case, so one run reports them all."""

    def __init__(self):
        self.failures = []

    def eq(self, what, got, want):
        if got != want:
            self.failures.append(f"{what}: got {got!r}, want {want!r}")
        return got == want

    def true(self, what, cond, detail=""):
        if not cond:
            self.failures.append(f"{what}" + (f" ({detail})" if detail else ""))
        return bool(cond)


class HarnessError(Exception):
    """Wine or the display could not be driven: the test fails."""


def wait_for(predicate, bound, what):
    deadline = time.monotonic() + bound
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise HarnessError(f"gave up after {bound} s waiting for {what}")


class Xvfb:
    """A private virtual display; -displayfd picks a free display number."""

    def __init__(self, width=1024, height=768):
        self.size = f"{width}x{height}x24"
        self.proc = None
        self.display = None

    def __enter__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", self.size, "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        data = b""
        deadline = time.monotonic() + 30
        with os.fdopen(r, "rb") as f:
            fd = f.fileno()
            os.set_blocking(fd, False)
            while not data.endswith(b"\n") and time.monotonic() < deadline:
                try:
                    chunk = os.read(fd, 64)
                except BlockingIOError:
                    chunk = None
                if chunk == b"":
                    break
                if chunk:
                    data += chunk
                else:
                    time.sleep(0.02)
        if not data.strip().isdigit():
            self.__exit__(None, None, None)
            raise HarnessError("Xvfb did not start")
        self.display = ":" + data.strip().decode()
        return self

    def screenshot(self, png):
        subprocess.run(["import", "-display", self.display, "-window", "root", png],
                       check=True, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def x_windows(self):
        """Names and map states of the top-level X windows (what a user could see)."""
        out = subprocess.run(["xwininfo", "-display", self.display, "-root", "-children"],
                             capture_output=True, text=True, timeout=30).stdout
        return out

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)


def win_path(path):
    """The Wine path of a host path (drive Z: is the host's root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineSession:
    """One Wine prefix, used by one test at a time."""

    def __init__(self, prefix, display):
        self.prefix = os.path.abspath(prefix)
        self.display = display

    def env(self, debug="-all", extra=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
        env.update({
            "WINEPREFIX": self.prefix,
            "DISPLAY": self.display,
            "WINEDEBUG": debug,
            # No Mono or Gecko install prompts in a fresh prefix, and no menu
            # and file-type entries written into the user's home (shared by
            # every prefix of the machine) at each session's start.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        })
        env.update(extra or {})
        return env

    def ensure_prefix(self):
        if os.path.exists(os.path.join(self.prefix, "system.reg")):
            return
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        log_path = self.prefix + ".wineboot.log"
        try:
            with open(log_path, "wb") as log:
                subprocess.run(WINE_COMMAND + ["wineboot", "-i"], env=self.env(WINE_LOG_CHANNELS),
                               timeout=START_BOUND * 2, stdout=log, stderr=log)
                subprocess.run([WINESERVER, "-w"], env=self.env(), timeout=START_BOUND)
        except subprocess.TimeoutExpired:
            why = self.explain(log_path)
            self.end()
            shutil.rmtree(self.prefix, ignore_errors=True)
            raise HarnessError(f"making the Wine prefix hung\n{why}") from None
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            raise HarnessError(f"wineboot did not make the Wine prefix\n{self.explain(log_path)}")

    def boot(self):
        """Starts the session before any test program: a persistent server,
        so the session lasts until end(), and one short program, whose start
        boots the session. A test program then starts in a session that is
        up, and a slow or hung boot is told apart from a program that does
        not start; the boot's log is kept."""
        log_path = self.prefix + ".boot.log"
        started = time.monotonic()
        subprocess.run([WINESERVER, "-p"], env=self.env(), timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(log_path, "wb") as log:
            try:
                subprocess.run(WINE_COMMAND + ["cmd", "/c", "exit"], env=self.env(WINE_LOG_CHANNELS),
                               timeout=BOOT_BOUND, stdout=log, stderr=log)
            except subprocess.TimeoutExpired:
                raise HarnessError(f"the Wine session did not boot within {BOOT_BOUND} s\n"
                                   f"{self.explain(log_path)}") from None
        self.boot_seconds = time.monotonic() - started

    def start(self, args, debug="-all", extra_env=None, stdout=None, stderr=None):
        return subprocess.Popen(WINE_COMMAND + list(args), env=self.env(debug, extra_env),
                                stdout=stdout or subprocess.DEVNULL,
                                stderr=stderr or subprocess.DEVNULL)

    def run(self, args, debug="-all", extra_env=None, stderr_path=None, bound=RUN_BOUND):
        """Runs a program to its end; returns its exit status."""
        err = open(stderr_path, "wb") if stderr_path else None
        try:
            proc = self.start(args, debug, extra_env, stderr=err)
            try:
                return proc.wait(bound)
            except subprocess.TimeoutExpired:
                self.end()
                proc.kill()
                proc.wait(10)
                raise HarnessError(f"{args[0]} still running after {bound} s")
        finally:
            if err:
                err.close()

    def end(self):
        """Ends every process of this prefix (and only of this prefix)."""
        if not os.path.isdir(self.prefix):
            return
        subprocess.run([WINESERVER, "-k"], env=self.env(), timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            subprocess.run([WINESERVER, "-w"], env=self.env(), timeout=30)
        except subprocess.TimeoutExpired:
            raise HarnessError("the Wine session did not end")

    def processes(self):
        """The host processes of this prefix: pid and command line."""
        found = []
        want = ("WINEPREFIX=" + self.prefix).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if want not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    cmd = f.read().replace(b"\0", b" ").decode("latin-1").strip()
            except OSError:
                continue
            found.append(f"{pid} {cmd}")
        return found

    def explain(self, log_path):
        """What a hung start left to see: the prefix's processes and the tail
        of Wine's log, which is also kept next to the results."""
        kept = log_path
        if FAILURE_LOGS:
            os.makedirs(FAILURE_LOGS, exist_ok=True)
            kept = os.path.join(FAILURE_LOGS, time.strftime("%Y%m%d-%H%M%S-")
                                + os.path.basename(os.path.dirname(log_path))
                                + "-" + os.path.basename(log_path))
            shutil.copyfile(log_path, kept)
        procs = "\n".join("    " + p for p in self.processes()) or "    (none)"
        return (f"processes of the prefix:\n{procs}\n"
                f"Wine's log (kept as {kept}), last lines:\n{tail(log_path)}")

    def host_path(self, path):
        """The host path of a Wine path on drive C: or Z:, matching the
        prefix's folder names without regard to case."""
        drive, rest = path[:2].upper(), path[2:].replace("\\", "/").strip("/")
        if drive == "Z:":
            return "/" + rest
        if drive != "C:":
            raise HarnessError(f"no host path for {path}")
        current = os.path.join(self.prefix, "drive_c")
        for part in [p for p in rest.split("/") if p]:
            match = part
            if os.path.isdir(current):
                for name in os.listdir(current):
                    if name.lower() == part.lower():
                        match = name
                        break
            current = os.path.join(current, match)
        return current


@contextlib.contextmanager
def wine_session(prefix):
    """A display and the prefix for one test: lock, Xvfb, prefix made if
    needed; the Wine session is ended however the test ends."""
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    with open(os.path.abspath(prefix) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        with Xvfb() as x:
            session = WineSession(prefix, x.display)
            session.xvfb = x
            session.end()  # a session left by an interrupted run
            session.ensure_prefix()
            try:
                session.boot()
                yield session
            finally:
                session.end()


def read_json_lines(path):
    if not os.path.exists(path):
        return []
    out = []
    with open(path, "rb") as f:
        for line in f.read().decode("latin-1").splitlines():
            if line.strip():
                out.append(json.loads(line))
    return out


class Robot:
    """The box robot, watching the display of a session while a program runs."""

    def __init__(self, session, exe, folder, answers=(), hold_ms=0, cancel_now=False,
                 cancel_after_file=None, cancel_at_status=(), close_at_box=None):
        self.session = session
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.log = os.path.join(folder, "robot.log")
        self.ready = os.path.join(folder, "robot.ready")
        self.stopfile = os.path.join(folder, "robot.stop")
        for p in (self.log, self.ready, self.stopfile):
            if os.path.exists(p):
                os.remove(p)
        args = [exe, "--log", win_path(self.log), "--ready", win_path(self.ready),
                "--stop", win_path(self.stopfile), "--clear-verdicts"]
        if answers:
            args += ["--answers", ",".join(answers)]
        if hold_ms:
            args += ["--hold-ms", str(hold_ms)]
        if cancel_now:
            args += ["--cancel-now"]
        if cancel_at_status:
            args += ["--cancel-at-status", "|".join(cancel_at_status)]
        if cancel_after_file:
            args += ["--cancel-after-file", win_path(cancel_after_file)]
        if close_at_box:
            args += ["--close-at-box", close_at_box]
        self.out = open(os.path.join(folder, "robot.out"), "wb")
        # Wine's own messages go to a log of their own.
        self.wine_log_path = os.path.join(folder, "robot.wine.log")
        self.wine_log = open(self.wine_log_path, "wb")
        self.proc = session.start(args, debug=WINE_LOG_CHANNELS, stdout=self.out,
                                  stderr=self.wine_log)
        started = time.monotonic()
        try:
            info = wait_for(lambda: self._ready_info(), START_BOUND, "the box robot to start")
        except HarnessError as e:
            raise HarnessError(f"{e}\n{session.explain(self.wine_log_path)}") from None
        self.start_seconds = time.monotonic() - started
        self.temp_root = info["temp"]
        # The robot waited for the desktop to give a message-only parent
        # before it wrote its ready file, and keeps the desktop up from then on.
        self.desktop_tries = info.get("desktop_tries", 0)
        if not self.desktop_tries:
            self.stop()
            raise HarnessError("the Wine desktop gave no message-only parent within 10 s")
        self.ended_by_itself = None

    def _ready_info(self):
        if self.proc.poll() is not None:
            raise HarnessError("the box robot ended before it was ready")
        try:
            with open(self.ready, "rb") as f:
                text = f.read().decode("latin-1")
            return json.loads(text) if text.endswith("\n") else None
        except (OSError, ValueError):
            return None

    def entries(self):
        return read_json_lines(self.log)

    def boxes(self):
        return [e for e in self.entries() if "event" not in e]

    def events(self, name):
        return [e for e in self.entries() if e.get("event") == name]

    def stop(self):
        """Stops the robot; returns False when it had already ended without
        being told to (as a Wine restart ends every process)."""
        already = self.proc.poll() is not None
        open(self.stopfile, "w").close()
        try:
            self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait(10)
            raise HarnessError("the box robot did not stop")
        finally:
            self.out.close()
            self.wine_log.close()
        self.ended_by_itself = already
        return not already
