"""`write`, `writeln` and `key` against the scripted daemon: payloads, request types, refusals."""
import fcntl
import os
import pty
import select
import subprocess
import threading
import time

import pytest

from harness import KORCTL
from fakedaemon import Error


def test_write_text_or_standard_input(env):
    fake = env.fake("s")
    big = bytes(range(256)) * (3 << 12)  # 3 MiB, every byte value
    assert env.korctl("write", "s", "a b\n").returncode == 0
    assert env.korctl("write", "s", "").returncode == 0
    assert env.korctl("write", "s", input=b"").returncode == 0
    r = env.korctl("write", "s", input=big)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert fake.requests == [(1, b"a b\n"), (1, b""), (1, b""), (1, big)]


def test_write_waits_on_a_non_blocking_standard_input(env):
    fake = env.fake("s")
    read_end, write_end = os.pipe()
    fcntl.fcntl(read_end, fcntl.F_SETFL, fcntl.fcntl(read_end, fcntl.F_GETFL) | os.O_NONBLOCK)
    proc = subprocess.Popen([KORCTL, "write", "s"], stdin=read_end, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env.env)
    os.close(read_end)
    for piece in (b"one ", b"two ", b"three"):
        time.sleep(0.2)
        os.write(write_end, piece)
    os.close(write_end)
    out, err = proc.communicate(timeout=30)
    assert (proc.returncode, err) == (0, b"")
    assert fake.requests == [(1, b"one two three")]


def test_write_refuses_to_send_after_a_read_error(env):
    fake = env.fake("s")
    directory = os.open("/", os.O_RDONLY)  # read() on it fails with EISDIR
    try:
        r = subprocess.run([KORCTL, "write", "s"], stdin=directory, capture_output=True, env=env.env, timeout=30)
    finally:
        os.close(directory)
    assert r.returncode == 1
    assert r.stderr == b"korctl write: cannot read standard input: Is a directory\n"
    assert fake.connections == 0


def test_writeln_appends_a_line_feed(env):
    fake = env.fake("s", [Error("read-only session")])
    r = env.korctl("writeln", "s", "ls -l")
    assert (r.returncode, r.stderr) == (1, b"korctl: read-only session\n")
    assert env.korctl("writeln", "s").returncode == 0
    assert fake.requests == [(1, b"ls -l\n"), (1, b"\n")]


@pytest.mark.parametrize("piped, sent", [
    (b"s3cret\nnext line\n", b"s3cret\n"),  # the first line only
    (b"no line end", b"no line end\n"),
    (b"\n", b"\n"),                          # an empty secret is a line too
])
def test_writeln_secret_from_a_pipe(env, piped, sent):
    fake = env.fake("s")
    r = subprocess.run([KORCTL, "writeln", "s", "--secret"], input=piped, capture_output=True, env=env.env,
                       timeout=30, start_new_session=True)  # no controlling terminal either
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert fake.requests == [(7, sent)]


def test_writeln_secret_without_a_line_sends_nothing(env):
    fake = env.fake("s")
    r = subprocess.run([KORCTL, "writeln", "s", "--secret"], stdin=subprocess.DEVNULL, capture_output=True,
                       env=env.env, timeout=30, start_new_session=True)
    assert (r.returncode, r.stderr) == (1, b"korctl writeln: standard input ended before a line; nothing sent\n")
    assert fake.connections == 0


def test_writeln_secret_through_a_terminal_is_hidden_input(env):
    fake = env.fake("s")
    pid, master = pty.fork()
    if pid == 0:
        os.execve(KORCTL, [KORCTL, "writeln", "s", "hello", "--secret"], env.env)
    seen = b""
    try:
        while b"input (hidden): " not in seen:
            ready, _, _ = select.select([master], [], [], 20)
            assert ready, seen
            seen += os.read(master, 1024)
        os.write(master, b"s3cret\n")
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.2)
            if ready:
                try:
                    seen += os.read(master, 1024)
                except OSError:
                    break
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
        else:
            os.kill(pid, 9)
            pytest.fail("writeln --secret did not finish")
    finally:
        os.close(master)
    assert os.waitstatus_to_exitcode(status) == 0
    assert fake.requests == [(7, b"s3cret\n")]
    assert b"s3cret" not in seen  # not echoed, not printed


@pytest.mark.parametrize("keys, payload", [
    (["up", "up", "return"], b"\x1b[A\x1b[A\r"),
    (["^c", "F12", "x"], b"\x03\x1b[24~x"),
    (["f5", "F5", "f05", "f5x", "f1", "f4", "f10", "f11"], b"\x1b[15~" * 4 + b"\x1bOP\x1bOS\x1b[21~\x1b[23~"),
    (["^C", "^[", "^?", "^@", "^_", "^"], b"\x03\x1b\x7f\x00\x1f^"),
    (["tab", "esc", "escape", "enter", "space", "backspace", "interrupt", "eof"], b"\t\x1b\x1b\r \x7f\x03\x04"),
    (["down", "right", "left", "home", "end", "pageup", "pagedown", "delete", "del", "insert"],
     b"\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F\x1b[5~\x1b[6~\x1b[3~\x1b[3~\x1b[2~"),
    (["f", "F", "C", "M", "-"], b"fFCM-"),
    # tmux's spellings
    (["Enter", "Tab", "BSpace", "Escape", "Space", "Up", "PgUp", "NPage", "DC", "IC"],
     b"\r\t\x7f\x1b \x1b[A\x1b[5~\x1b[6~\x1b[3~\x1b[2~"),
    (["C-c", "C-C", "C-[", "C-?", "C-Space", "M-x", "M-Enter", "M-BSpace", "M-C-x", "M-^d"],
     b"\x03\x03\x1b\x7f\x00\x1bx\x1b\r\x1b\x7f\x1b\x18\x1b\x04"),
])
def test_key_payloads(env, keys, payload):
    fake = env.fake("s")
    r = env.korctl("key", "s", *keys)
    assert (r.returncode, r.stderr) == (0, b"")
    assert fake.requests == [(1, payload)]


def key_help(env):
    return env.korctl("key", "--help").stdout.decode()


@pytest.mark.parametrize("keys, bad, hint", [
    (["up", "bogus", "return"], "bogus", None),
    (["f0"], "f0", None),                              # one edit from many names: the list
    (["TAB"], "TAB", "did you mean 'tab' or 'Tab'?"),
    (["pgdown"], "pgdown", "did you mean 'down' or 'pagedown'?"),
    (["^1"], "^1", "did you mean 'f1' or 'F1'?"),    # no control byte: not 0xF1
    (["^ "], "^ ", None),                             # nor 0xE0
    (["M-up"], "M-up", None),                         # Esc before a cursor key has no agreed meaning
    (["C-ab"], "C-ab", None), (["C-"], "C-", None),
])
def test_unknown_key_sends_nothing(env, keys, bad, hint):
    fake = env.fake("s")
    r = env.korctl("key", "s", *keys)
    assert r.returncode == 2
    first, rest = r.stderr.decode().split("\n", 1)
    assert first == f"korctl: unknown key '{bad}'"
    if hint:
        assert rest == f"korctl: {hint}\n"
    else:
        assert rest == "Key names:" + key_help(env).split("Key names:", 1)[1]
    assert fake.connections == 0


def test_key_without_keys(env):
    r = env.korctl("key", "build")
    assert (r.returncode, r.stderr) == (2, b"korctl key: KEY required (try: korctl key build eof)\n")


def test_every_listed_key_name_is_accepted(env):
    """The names in key --help (its first list is what completions offer) are all keys."""
    text = key_help(env)
    own = text.split("Key names:\n", 1)[1].split("\n\n", 1)[0].split()
    tmux = text.split("Also as tmux spells them:\n", 1)[1].split("\n\n", 1)[0].split()
    assert {"tab", "eof", "up", "pagedown", "f1", "f12"} <= set(own)
    assert {"Enter", "Tab", "BSpace", "F1"} <= set(tmux)
    fake = env.fake("s")
    for names in (own, tmux):
        r = env.korctl("key", "s", *names)
        assert (r.returncode, r.stderr) == (0, b"")
    assert len(fake.requests) == 2
    assert all(len(payload) >= len(names) for (_, payload), names in zip(fake.requests, (own, tmux)))
    assert env.korctl("help", "key").stdout.decode() == text
