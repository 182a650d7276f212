"""attach and observe against the scripted daemon: banner, replay, keys, detach, endings,
and the terminal handling on a pseudo-terminal."""
import fcntl
import os
import signal
import struct
import subprocess
import termios
import time

import pytest

from harness import KORCTL, wait_for
from fakedaemon import Close, Error, Reply, read_reply
from kor_wire import varint
from test_screen import screen_reply

OLDEST = b"\xff" * 8
ATTACH_BANNER = b"[korctl attach 's' -- press Ctrl-] to detach]\r\n"
OBSERVE_BANNER = b"[korctl observe 's' -- press Ctrl-C or Ctrl-] to detach]\r\n"


def replaying(data=b"screen", head=6):
    """Status answers, the first read gets data, later reads nothing new."""
    def handler(kind, payload):
        if kind == 3:
            start = struct.unpack(">q", payload)[0]
            return read_reply(head, data if start < head else b"")
        return Reply(b"headCursor=%d\n" % head)
    return handler


def reads(fake):
    return [p for t, p in fake.requests if t == 3]


def terminal_info(rows, cols, xpixel=0, ypixel=0):
    return b"".join(bytes([tag]) + varint(v) for tag, v in
                    ((0x10, rows), (0x18, cols), (0x20, xpixel), (0x28, ypixel)))


@pytest.mark.parametrize("command,banner", [("attach", ATTACH_BANNER), ("observe", OBSERVE_BANNER)])
def test_input_at_end_replays_once_and_exits_silently(env, command, banner):
    fake = env.fake("s", handler=replaying(b"hello\r\n\x1b[1mbold\x00"))
    r = env.korctl(command, "s")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"hello\r\n\x1b[1mbold\x00", banner)
    assert fake.types() == [4, 3]
    assert fake.requests[0] == (4, b"")
    assert reads(fake) == [OLDEST]


def test_start_cursor_from_cursor_and_tail(env):
    fake = env.fake("s", handler=replaying(head=77))
    assert env.korctl("attach", "s", "--cursor", "12").returncode == 0
    assert reads(fake) == [struct.pack(">q", 12)]
    fake.requests.clear()
    r = env.korctl("observe", "s", "--tail", "--cursor", "12")
    assert (r.returncode, r.stdout) == (0, b"")
    assert fake.types() == [4, 4, 3]
    assert reads(fake) == [struct.pack(">q", 77)]


def test_unreachable_or_refusing_session_exits_1_before_anything_else(env):
    r = env.korctl("attach", "nosuch")
    assert (r.returncode, r.stdout) == (1, b"")
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"
    fake = env.fake("s", [Error("not yet")])
    r = env.korctl("observe", "s")
    assert (r.returncode, r.stderr) == (1, b"korctl: not yet\n")
    assert fake.types() == [4]


@pytest.mark.parametrize("command,typed,sent", [
    ("attach", b"ab\x1dcd", [b"ab"]),       # bytes before Ctrl-] go, bytes after it are dropped
    ("attach", b"\x1d", []),                # nothing before the key: no input request
    ("attach", b"x\x03y\x1d", [b"x\x03y"]),  # attach forwards Ctrl-C
    ("observe", b"ls\x03", []),             # observe never sends and detaches on Ctrl-C
    ("observe", b"ls\x1d", []),
])
def test_detach_keys(env, command, typed, sent):
    fake = env.fake("s", handler=replaying())
    r = env.korctl(command, "s", input=typed)
    assert r.returncode == 0
    assert r.stderr.endswith(b"\r\n[detached]\r\n")
    assert [p for t, p in fake.requests if t == 1] == sent
    assert 2 not in fake.types()  # standard input is no terminal: never a resize


def test_keys_without_detach_are_sent_then_end_of_input_ends_silently(env):
    fake = env.fake("s", handler=replaying())
    r = env.korctl("attach", "s", input=b"echo hi\r")
    assert (r.returncode, r.stderr) == (0, ATTACH_BANNER)
    assert [p for t, p in fake.requests if t == 1] == [b"echo hi\r"]


def test_session_ending_while_attached(env):
    fake = env.fake("s", [Reply(b""), read_reply(3, b"bye"), Close()])
    # A pipe that stays open keeps the loop polling until the daemon stops answering.
    rfd, wfd = os.pipe()
    try:
        r = subprocess.run([KORCTL, "observe", "s"], stdin=rfd, capture_output=True, env=env.env, timeout=30)
    finally:
        os.close(rfd)
        os.close(wfd)
    assert (r.returncode, r.stdout) == (0, b"bye")
    assert r.stderr == OBSERVE_BANNER + b"\r\n[session ended]\r\n"
    assert fake.types() == [4, 3, 3]


def observe_until_the_daemon_goes(env, *args):
    """observe with a standard input that stays open, so only the daemon's end stops it."""
    rfd, wfd = os.pipe()
    try:
        return subprocess.run([KORCTL, "observe", "s", *args], stdin=rfd, capture_output=True, env=env.env,
                              timeout=30)
    finally:
        os.close(rfd)
        os.close(wfd)


def test_replay_leaves_out_queries_and_live_output_keeps_them(env):
    history = b"ab\x1b[6n\x1b]11;?\x07cd\x1b["  # a query split where live output begins
    live = b"c\x1b[6nz"
    head = len(history)
    fake = env.fake("s", [Reply(b"headCursor=%d\n" % head), read_reply(head, history),
                          read_reply(head + len(live), live), Close()])
    r = observe_until_the_daemon_goes(env)
    assert (r.returncode, r.stdout) == (0, b"abcd\x1b[" + live)
    assert fake.types() == [4, 3, 3, 3]


def test_without_a_head_in_the_status_the_first_read_is_the_history(env):
    env.fake("s", [Reply(b""), read_reply(4, b"\x1b[cx"), read_reply(8, b"\x1b[cy"), Close()])
    assert observe_until_the_daemon_goes(env).stdout == b"x\x1b[cy"


def test_redraw_draws_the_screen_and_goes_on_from_its_head(env):
    fake = env.fake("s", [Reply(b"headCursor=90\n"),
                          screen_reply([b"~", b"\x1b[0;7m:q\x1b[0m"], cols=10, cursor=(1, 2), alternate=True, head=77),
                          read_reply(85, b"\x1b[6nlive"), Close()])
    r = observe_until_the_daemon_goes(env, "--redraw", "--tail", "--cursor", "5")
    assert r.returncode == 0
    assert r.stdout == (b"\x1b[?1049h\x1b[0m\x1b[H\x1b[2J\x1b[1;1H~\x1b[2;1H\x1b[0;7m:q\x1b[0m\x1b[0m\x1b[2;3H\x1b[?25h"
                        b"\x1b[6nlive")
    assert fake.requests[:3] == [(4, b""), (8, b"\x01"), (3, struct.pack(">q", 77))]


def test_redraw_from_a_daemon_without_screens_fails_before_the_terminal_is_touched(env):
    fake = env.fake("s", [Reply(b"headCursor=3\n"), Error("unknown request type 8")])
    r = env.korctl("attach", "s", "--redraw")
    assert (r.returncode, r.stdout) == (1, b"")
    assert r.stderr == (b"korctl: unknown request type 8\nkorctl attach: the daemon of 's' does not answer screen "
                        b"requests (a kor older than this korctl)\n")
    assert fake.types() == [4, 8]


def count_reads_for(env, fake, seconds, **popen):
    proc = subprocess.Popen([KORCTL, "attach", "s"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env.env, **popen)
    time.sleep(seconds)
    n = len(reads(fake))
    fake.handler = lambda kind, payload: Error("gone")
    out, err = proc.communicate(timeout=30)
    return n, proc.returncode, err


def test_closed_standard_input_neither_spins_nor_hangs(env):
    # With descriptor 0 closed, select or read fail at once: the loop must either end as at the
    # end of input or keep its 100 ms pace, never poll the daemon flat out.
    fake = env.fake("s", handler=replaying())
    n, status, err = count_reads_for(env, fake, 1.0, stdin=None, preexec_fn=lambda: os.close(0))
    assert 1 <= n <= 30, n
    assert status == 0
    assert err in (ATTACH_BANNER, ATTACH_BANNER + b"\r\n[session ended]\r\n")


def test_unreadable_standard_input_counts_as_its_end(env, tmp_path):
    fake = env.fake("s", handler=replaying())
    fd = os.open(str(tmp_path), os.O_RDONLY)  # readable for select, read fails with EISDIR
    try:
        r = subprocess.run([KORCTL, "attach", "s"], stdin=fd, capture_output=True, env=env.env, timeout=30)
    finally:
        os.close(fd)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"screen", ATTACH_BANNER)
    assert len(reads(fake)) == 1


def default_ending_signals():
    # korctl keeps a signal its caller ignores (nohup) ignored; the suite itself may run under nohup.
    for signo in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signo, signal.SIG_DFL)


class Pty:
    """korctl running on a pseudo-terminal of our own, so raw mode and window sizes are real."""

    def __init__(self, env, *args, rows=24, cols=80):
        self.master, self.slave = os.openpty()
        self.resize(rows, cols)
        self.before = termios.tcgetattr(self.slave)
        self.proc = subprocess.Popen([KORCTL, *args], stdin=self.slave, stdout=self.slave, stderr=self.slave,
                                     env=env.env, start_new_session=True,
                                     preexec_fn=default_ending_signals)
        os.set_blocking(self.master, False)

    def resize(self, rows, cols, xpixel=0, ypixel=0):
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, xpixel, ypixel))

    def mode(self):
        return termios.tcgetattr(self.slave)

    def is_raw(self):
        return not (self.mode()[3] & termios.ICANON)

    def type(self, data):
        os.write(self.master, data)

    def drain(self):
        try:
            return os.read(self.master, 65536)
        except OSError:
            return b""

    def wait(self):
        deadline = time.monotonic() + 20
        while self.proc.poll() is None and time.monotonic() < deadline:
            self.drain()
            time.sleep(0.02)
        return self.proc.wait(timeout=1)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        os.close(self.master)
        os.close(self.slave)


@pytest.fixture
def pty_of(env):
    opened = []

    def start(*args, **kw):
        p = Pty(env, *args, **kw)
        opened.append(p)
        return p
    yield start
    for p in opened:
        p.close()


def test_terminal_is_raw_while_attached_and_restored_after_detach(env, pty_of):
    fake = env.fake("s", handler=replaying())
    t = pty_of("attach", "s", rows=30, cols=100)
    assert wait_for(t.is_raw)
    t.type(b"q\x1d")
    assert t.wait() == 0
    assert t.mode() == t.before
    assert [p for k, p in fake.requests if k == 1] == [b"q"]
    assert (2, terminal_info(30, 100)) in fake.requests


@pytest.mark.parametrize("signo,status", [(signal.SIGTERM, -signal.SIGTERM),
                                          (signal.SIGHUP, -signal.SIGHUP),
                                          (signal.SIGINT, 130)])
def test_signals_from_outside_restore_the_terminal(env, pty_of, signo, status):
    env.fake("s", handler=replaying())
    t = pty_of("observe", "s")
    assert wait_for(t.is_raw)
    t.proc.send_signal(signo)
    assert t.wait() == status
    assert t.mode() == t.before


def test_window_changes_are_sent_unless_no_resize(env, pty_of):
    fake = env.fake("s", handler=replaying())
    t = pty_of("observe", "s", rows=30, cols=100)
    assert wait_for(lambda: (2, terminal_info(30, 100)) in fake.requests)
    t.resize(50, 132, 1320, 1000)
    t.proc.send_signal(signal.SIGWINCH)
    assert wait_for(lambda: (2, terminal_info(50, 132, 1320, 1000)) in fake.requests)
    t.resize(0, 132)  # a size with no rows is never sent
    t.proc.send_signal(signal.SIGWINCH)
    t.resize(40, 90)
    t.proc.send_signal(signal.SIGWINCH)
    assert wait_for(lambda: (2, terminal_info(40, 90)) in fake.requests)
    assert [p for k, p in fake.requests if k == 2] == [terminal_info(30, 100), terminal_info(50, 132, 1320, 1000),
                                                     terminal_info(40, 90)]
    t.type(b"\x03")
    assert t.wait() == 0

    fake.requests.clear()
    t = pty_of("attach", "s", "--no-resize")
    assert wait_for(t.is_raw)
    t.proc.send_signal(signal.SIGWINCH)
    assert wait_for(lambda: len(reads(fake)) >= 3)
    t.type(b"\x1d")
    assert t.wait() == 0
    assert 2 not in fake.types()


# A daemon whose status record says it serves waiting reads: after the first read, output
# waits in the daemon while the keyboard is watched; keys typed meanwhile still go out at once.
def test_attach_waits_for_output_and_keys_together(env):
    from fakedaemon import Hang, served_read_reply, waiting_read
    fake = env.fake("s", [Reply(b"headCursor=3\nwaitRead=1\n"), served_read_reply(3, b"abc"),
                          served_read_reply(5, b"de")], handler=lambda kind, payload: Hang(3) if kind == 9 else Reply())
    proc = subprocess.Popen([KORCTL, "attach", "s"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, cwd=env.home, env=env.env)
    try:
        assert wait_for(lambda: fake.types()[:4] == [4, 3, 9, 9])
        proc.stdin.write(b"ls\r")
        proc.stdin.flush()
        assert wait_for(lambda: (1, b"ls\r") in fake.requests)  # while a waiting read is in flight
        proc.stdin.close()  # end of input ends attach
        proc.wait(timeout=10)
        out, err = proc.stdout.read(), proc.stderr.read()
    finally:
        proc.kill()
    assert (proc.returncode, out, err) == (0, b"abcde", ATTACH_BANNER)
    assert fake.requests[1:3] == [(3, OLDEST), (9, waiting_read(3, 3, 10000))]
    assert fake.requests[3] == (9, waiting_read(3, 5, 10000))
