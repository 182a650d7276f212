"""What the tests and the benchmarks share: a private HOME to run korctl and kor in, and waiting
for output. Benchmarks import it with tests/cli on their path."""
import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import time

import kor_wire

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("KORCTL_BUILD", os.path.join(ROOT, "build"))
KORCTL = os.path.join(BUILD, "korctl")
KOR = os.path.join(BUILD, "kor")
SANITIZED = os.environ.get("KORCTL_SANITIZED") == "1"


class Env:
    """A private HOME (short path, Unix socket paths are limited) and helpers to run korctl in it.
    close() ends every daemon, shell and scripted daemon it started and removes the HOME."""

    def __init__(self, home, build=BUILD):
        self.home = home
        self.binary = os.path.join(os.path.abspath(build), "korctl")
        self.control = os.path.join(home, ".kor", "control")
        self.sessions = os.path.join(home, ".kor", "sessions")
        self.env = dict(os.environ, HOME=home, LC_ALL="C.UTF-8")
        self.env.pop("KORCTL_SESSION", None)
        self.env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        self.reports = None
        if SANITIZED:
            # A daemon's standard error is /dev/null: its sanitizer reports go to files, read by
            # sanitizer_reports() when the test ends.
            self.reports = tempfile.mkdtemp(prefix="ksan", dir="/tmp")
            prefix = os.path.join(self.reports, "report")
            self.env["ASAN_OPTIONS"] = "detect_leaks=0:log_path=" + prefix
            self.env["UBSAN_OPTIONS"] = "print_stacktrace=1:log_path=" + prefix
        self.daemons = []
        self.opened = []

    @classmethod
    def create(cls, build=BUILD, prefix="k"):
        return cls(tempfile.mkdtemp(prefix=prefix, dir="/tmp"), build)

    def korctl(self, *args, input=None, timeout=60, cwd=None, binary=None, env=None):
        """Runs korctl with bytes in and out; returns the CompletedProcess."""
        return subprocess.run([binary or self.binary, *args], input=input if input is not None else b"",
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                              cwd=cwd or self.home, env=env or self.env)

    def socket_path(self, name):
        return os.path.join(self.control, name + ".sock")

    def fake(self, name="s", replies=(), handler=None, path=None):
        """A scripted daemon listening on the control socket of NAME (or on path)."""
        from fakedaemon import ScriptedDaemon
        if path is None:
            os.makedirs(self.control, mode=0o700, exist_ok=True)
        daemon = ScriptedDaemon(path or self.socket_path(name), replies, handler)
        self.daemons.append(daemon)
        return daemon

    def open(self, name="s", shell="/bin/bash", *extra, host="localhost"):
        """A real session of the project's kor, ended by cleanup()."""
        args = ["open", name, host, *extra]
        if shell:
            args += ["--shell", shell]
        result = self.korctl(*args, timeout=30)
        assert result.returncode == 0, result.stderr.decode(errors="replace")
        self.opened.append(name)
        return name

    def head(self, name):
        """The session's head cursor, asked over the wire."""
        return int(kor_wire.status(self.socket_path(name))["headCursor"])

    def cleanup(self):
        for daemon in self.daemons:
            daemon.stop()
        for name in self.opened:
            try:
                self.korctl("kill", name, "--wait=5", timeout=15)
            except subprocess.TimeoutExpired:
                pass
        kill_processes_with_home(self.home)

    def sanitizer_reports(self):
        """The text of every sanitizer report its processes wrote ("" for none); removes them."""
        if not self.reports:
            return ""
        names = sorted(os.listdir(self.reports))
        text = "".join(open(os.path.join(self.reports, n), errors="replace").read() for n in names)
        shutil.rmtree(self.reports, ignore_errors=True)
        return text

    def close(self):
        try:
            self.cleanup()
        finally:
            shutil.rmtree(self.home, ignore_errors=True)


def kill_processes_with_home(home):
    """Ends every process (daemons, shells) whose environment carries this HOME."""
    marker = b"HOME=" + home.encode() + b"\0"
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if marker in f.read():
                    os.kill(int(pid), signal.SIGKILL)
        except OSError:
            pass


def wait_for(predicate, timeout=10.0, interval=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def seen(path, text, cursor=0, timeout=15, interval=0.05):
    """Whether text shows in the output of the session on socket path, from cursor, in time."""
    return wait_for(lambda: text in kor_wire.output_since(path, cursor), timeout, interval)


def writeln_secret(env, secret, name="s"):
    """writeln --secret typed on a terminal of its own (getpass needs one); returns its status."""
    pid, master = pty.fork()
    if pid == 0:
        os.execve(env.binary, [env.binary, "writeln", name, "--secret"], env.env)
    seen = b""
    try:
        deadline = time.monotonic() + 20
        while b"input (hidden): " not in seen and time.monotonic() < deadline:
            if select.select([master], [], [], 0.2)[0]:
                seen += os.read(master, 1024)
        os.write(master, secret + b"\n")
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return os.waitstatus_to_exitcode(status)
            if select.select([master], [], [], 0.2)[0]:
                try:
                    os.read(master, 1024)
                except OSError:
                    pass
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        return None
    finally:
        os.close(master)
