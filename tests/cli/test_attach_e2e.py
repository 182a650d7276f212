"""attach and observe in a real terminal: tmux runs korctl on a live session of kor."""
import itertools
import json
import os
import shlex
import shutil
import signal
import subprocess
import time

import pytest

from harness import KORCTL, wait_for
import kor_wire as kw

pytestmark = pytest.mark.e2e

if subprocess.run(["sh", "-c", "command -v tmux"], capture_output=True).returncode != 0:
    pytest.skip("tmux is not installed", allow_module_level=True)


_instances = itertools.count()


class Tmux:
    """A tmux server of our own (socket in the private HOME) with one window whose pane runs
    korctl between two `stty -a` snapshots of the pane's terminal."""

    def __init__(self, env, rows=30, cols=100):
        self.env = env
        n = next(_instances)
        self.socket = os.path.join(env.home, f"tmux{n}.sock")
        self.tenv = dict(env.env, TERM="xterm")
        self.files = os.path.join(env.home, f"pane{n}")
        os.makedirs(self.files, exist_ok=True)
        self.rows, self.cols = rows, cols

    def tmux(self, *args, check=True):
        r = subprocess.run(["tmux", "-S", self.socket, "-f", "/dev/null", *args], env=self.tenv,
                           capture_output=True, timeout=20)
        assert r.returncode == 0 or not check, (args, r.stderr)
        return r

    def start(self, *korctl_args):
        f = self.files
        script = (f"stty -a > {f}/before; {shlex.quote(KORCTL)} {' '.join(map(shlex.quote, korctl_args))}"
                  f" 2>{f}/stderr; echo $? > {f}/rc.tmp; stty -a > {f}/after; mv {f}/rc.tmp {f}/rc; exec sleep 600")
        self.tmux("new-session", "-d", "-s", "t", "-x", str(self.cols), "-y", str(self.rows), "sh", "-c", script)
        pane = int(self.tmux("display-message", "-p", "-t", "t", "#{pane_pid}").stdout)
        self.pid = wait_for(lambda: child_of(pane, KORCTL), timeout=10)
        assert self.pid, "korctl did not start in the pane"

    def keys(self, *keys, literal=False):
        self.tmux("send-keys", "-t", "t", *(["-l"] if literal else []), *keys)

    def screen(self):
        return self.tmux("capture-pane", "-p", "-t", "t").stdout.decode(errors="replace")

    def is_raw(self):
        # The pane's terminal as korctl left it: raw mode turns off icanon and echo.
        out = subprocess.run(["stty", "-a", "-F", self.tty()], capture_output=True).stdout.decode()
        return "-icanon" in out.split()

    def tty(self):
        return self.tmux("display-message", "-p", "-t", "t", "#{pane_tty}").stdout.decode().strip()

    def resize(self, rows, cols):
        self.tmux("resize-window", "-t", "t", "-x", str(cols), "-y", str(rows))

    def finished(self):
        return os.path.exists(os.path.join(self.files, "rc"))

    def result(self, timeout=20):
        assert wait_for(self.finished, timeout=timeout), "korctl did not end"
        read = lambda name: open(os.path.join(self.files, name), "rb").read()
        return int(read("rc")), read("stderr"), read("before"), read("after")

    def close(self):
        self.tmux("kill-server", check=False)


def child_of(parent, exe):
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            if ppid == parent and os.readlink(f"/proc/{pid}/exe") == os.path.realpath(exe):
                return int(pid)
        except (OSError, ValueError, IndexError):
            pass
    return None


@pytest.fixture
def tmux(env):
    t = Tmux(env)
    yield t
    t.close()


def retained(env):
    """Everything the session kept, replayed by observe with standard input at its end."""
    return env.korctl("observe", "s").stdout


def type_in(env, text):
    """Keys sent by attach with standard input at its end."""
    assert env.korctl("attach", "s", input=text).returncode == 0


def info_size(env, name):
    record = dict(line.split("=", 1) for line in env.korctl("info", name).stdout.decode().splitlines() if "=" in line)
    return record.get("rows"), record.get("cols")


def test_attach_types_into_the_shell_and_ctrl_bracket_detaches(env, tmux):
    env.open("s", "/bin/bash")
    tmux.start("attach", "s")
    assert wait_for(tmux.is_raw)
    tmux.keys("echo kor$((6*7))", literal=True)
    tmux.keys("Enter")
    assert wait_for(lambda: "kor42" in tmux.screen(), timeout=20), tmux.screen()
    tmux.keys("C-]")
    rc, err, before, after = tmux.result()
    assert rc == 0
    assert err == b"[korctl attach 's' -- press Ctrl-] to detach]\r\n\r\n[detached]\r\n"
    assert after == before
    assert b"kor42" in retained(env)  # detaching left the session running


def test_observe_ctrl_c_detaches_and_nothing_typed_reaches_the_session(env, tmux):
    env.open("s", "/bin/bash")
    tmux.start("observe", "s")
    assert wait_for(tmux.is_raw)
    tmux.keys("echo leaked", literal=True)
    tmux.keys("Enter")
    tmux.keys("C-c")
    rc, err, before, after = tmux.result()
    assert (rc, after == before) == (0, True)
    assert err.endswith(b"\r\n[detached]\r\n")
    type_in(env, b"echo mark$((1+1))\r")
    assert wait_for(lambda: b"mark2" in retained(env), timeout=20)
    assert b"leaked" not in retained(env)


def test_kill_term_of_attached_korctl_restores_the_terminal(env, tmux):
    env.open("s", "/bin/bash")
    tmux.start("attach", "s")
    assert wait_for(tmux.is_raw)
    os.kill(tmux.pid, signal.SIGTERM)
    rc, err, before, after = tmux.result()
    assert rc == 128 + signal.SIGTERM
    assert after == before


def test_window_resize_reaches_the_session_unless_no_resize(env, tmux):
    env.open("s", "/bin/bash")
    tmux.start("observe", "s")
    assert wait_for(lambda: info_size(env, "s") == ("30", "100"), timeout=20), info_size(env, "s")
    tmux.resize(40, 120)
    assert wait_for(lambda: info_size(env, "s") == ("40", "120"), timeout=20), info_size(env, "s")
    tmux.keys("C-]")
    assert tmux.result()[0] == 0
    tmux.close()

    tmux = Tmux(env, rows=25, cols=90)
    try:
        tmux.start("attach", "s", "--no-resize")
        assert wait_for(tmux.is_raw)
        tmux.resize(33, 99)
        time.sleep(1.0)  # ten passes of the loop
        assert info_size(env, "s") == ("40", "120")
        tmux.keys("C-]")
        assert tmux.result()[0] == 0
    finally:
        tmux.close()


def test_tail_shows_only_new_output_default_replays(env, tmux):
    env.open("s", "/bin/bash")
    type_in(env, b"echo old$((1+1))\r")
    assert wait_for(lambda: b"old2" in retained(env), timeout=20)
    tmux.start("attach", "s", "--tail")
    assert wait_for(tmux.is_raw)
    tmux.keys("echo new$((1+2))", literal=True)
    tmux.keys("Enter")
    assert wait_for(lambda: "new3" in tmux.screen(), timeout=20)
    assert "old2" not in tmux.screen()
    tmux.keys("C-]")
    assert tmux.result()[0] == 0
    tmux.close()

    tmux = Tmux(env)
    try:
        tmux.start("attach", "s")
        assert wait_for(lambda: "new3" in tmux.screen(), timeout=20)
        assert "old2" in tmux.screen()
        tmux.keys("C-]")
        assert tmux.result()[0] == 0
    finally:
        tmux.close()


def test_session_ending_while_attached(env, tmux):
    env.open("s", "/bin/bash")
    tmux.start("attach", "s")
    assert wait_for(tmux.is_raw)
    tmux.keys("exit", literal=True)
    tmux.keys("Enter")
    rc, err, before, after = tmux.result()
    assert rc == 0
    assert err.endswith(b"\r\n[session ended]\r\n")
    assert after == before


def test_replayed_queries_are_not_answered_into_the_shell(env, tmux):
    env.open("s", "/bin/bash")
    # Queries in the history, printed while no terminal was attached: cursor position, device
    # status, primary and secondary device attributes, a mode request and a colour query.
    type_in(env, b"printf '\\033[6n\\033[5n\\033[c\\033[>c\\033[?2004$p\\033]11;?\\007'; echo Q''DONE\r")
    assert wait_for(lambda: b"QDONE" in retained(env), timeout=20)
    path = env.socket_path("s")
    exchange_head = kw.sniff(path)[0]
    tmux.start("attach", "s")
    assert wait_for(lambda: "QDONE" in tmux.screen(), timeout=20)
    time.sleep(1.0)  # the terminal's answers would arrive as keystrokes meanwhile
    tmux.keys("C-]")
    assert tmux.result()[0] == 0
    typed = [data for direction, data in kw.sniff(path, exchange_head)[2] if direction == ">"]
    assert typed == []
    r = env.korctl("run", "s", "echo after-attach")
    assert (r.returncode, r.stdout) == (0, b"after-attach\r\n"), r.stderr


@pytest.mark.skipif(not shutil.which("vim"), reason="vim is not installed")
def test_redraw_shows_a_running_vim_as_it_is(env, tmux):
    env.open("s", "/bin/bash", "--scrollback", "1K")
    notes = os.path.join(env.home, "notes.txt")
    with open(notes, "w") as f:
        f.write("first line\nsecond line\n")
    type_in(env, f"vim -u NONE -i NONE -N -n {notes}\r".encode())
    screen = lambda: json.loads(env.korctl("screen", "s", "--json").stdout)
    assert wait_for(lambda: "second line" in screen()["lines"], timeout=20)
    # Moving about until vim's first drawing is no longer retained: a replay could not show it.
    type_in(env, b"jk" * 1500)
    assert wait_for(lambda: b"second line" not in retained(env), timeout=30)
    assert env.korctl("wait", "s", "--idle", "0.3").returncode == 0
    model = screen()
    assert model["lines"][:2] == ["first line", "second line"]
    # The session keeps its size, so vim draws nothing new: what shows is the drawing alone.
    tmux.start("attach", "s", "--redraw", "--no-resize")
    assert wait_for(lambda: "second line" in tmux.screen(), timeout=20), tmux.screen()
    rows = tmux.screen().split("\n")
    assert rows[:3] == ["first line", "second line", "~"]
    assert rows[model["rows"] - 1].startswith(model["lines"][-1].rstrip()[:20])
    pane = tmux.tmux("display-message", "-p", "-t", "t", "#{cursor_y},#{cursor_x},#{alternate_on}").stdout.decode()
    assert pane.strip() == f"{model['cursor']['row']},{model['cursor']['col']},1"
    tmux.keys(":q", literal=True)
    tmux.keys("Enter")
    assert wait_for(lambda: not screen()["alternate"], timeout=20)
    tmux.keys("C-]")
    assert tmux.result()[0] == 0

