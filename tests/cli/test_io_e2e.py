"""Output and input commands on a live session of kor with a real shell."""
import os
import pty
import select
import signal
import subprocess
import time

import pytest

from harness import KORCTL, wait_for

pytestmark = pytest.mark.e2e


def next_cursor(result):
    for line in result.stderr.decode().splitlines():
        if line.startswith("next-cursor: "):
            return int(line.split()[1])
    raise AssertionError(result.stderr)


@pytest.fixture
def shell(env):
    env.open("s", "/bin/bash")
    r = env.korctl("expect", "s", "KORCTL_EC=", "--from-start", "--timeout", "20")  # the set-up line echoed
    assert r.returncode == 0, r.stderr
    assert env.korctl("wait", "s", "--idle", "0.3", "--timeout", "20").returncode == 0
    return "s"


def test_writeln_then_expect_from_the_cursor_taken_before(env, shell):
    cursor = next_cursor(env.korctl("read", "s"))
    assert env.korctl("writeln", "s", "printf '\\033[1;32m%s\\033[0m\\n' hello-$((6*7))").returncode == 0
    time.sleep(0.5)  # the output is there before expect starts: only the cursor finds it
    r = env.korctl("expect", "s", "hello-[0-9]+", "--cursor", str(cursor), "--timeout", "20")
    assert r.returncode == 0, r.stderr
    assert b"hello-42\n" in r.stdout and b"\x1b" not in r.stdout and b"\r" not in r.stdout
    after = next_cursor(r)
    assert after > cursor
    # From the head, the same text is not seen again.
    r = env.korctl("expect", "s", "hello-42", "--exact", "--timeout", "1")
    assert (r.returncode, r.stderr) == (1, b'korctl: timed out waiting for "hello-42"\n')
    # read continues exactly at expect's cursor.
    assert env.korctl("writeln", "s", "echo next''line").returncode == 0
    r = env.korctl("read", "s", "--cursor", str(after), "--timeout", "10", "--strip")
    assert r.returncode == 0 and b"nextline" in r.stdout and b"hello-42" not in r.stdout


def test_wait_for_quiet_and_for_output_that_never_stops(env, shell):
    cursor = next_cursor(env.korctl("read", "s"))
    env.korctl("writeln", "s", "for i in 1 2 3 4 5 6; do echo tick$i; sleep 0.1; done")
    r = env.korctl("wait", "s", "--idle", "0.8", "--timeout", "30")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert b"tick6" in env.korctl("read", "s", "--cursor", str(cursor)).stdout

    env.korctl("writeln", "s", "while :; do echo busy; sleep 0.05; done")
    r = env.korctl("wait", "s", "--idle", "2", "--timeout", "1.5")
    assert (r.returncode, r.stderr) == (1, b"korctl: wait timed out after 1.5s\n")
    assert env.korctl("key", "s", "interrupt").returncode == 0


def test_read_follow_ends_with_sigint_or_with_the_session(env, shell):
    for stop in ("sigint", "kill"):
        proc = subprocess.Popen([KORCTL, "read", "s", "--follow"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env.env)
        try:
            assert select.select([proc.stdout], [], [], 20)[0]  # the retained output arrives
            if stop == "sigint":
                proc.send_signal(signal.SIGINT)
                assert proc.wait(20) == 130
                assert proc.stderr.read() == b""
            else:
                assert env.korctl("kill", "s", "--wait=5").returncode == 0
                assert proc.wait(20) == 0
                assert proc.stderr.read().endswith(b"[session ended]\n")
        finally:
            if proc.poll() is None:
                proc.kill()
            proc.wait()


def test_secret_line_typed_on_a_terminal_reaches_the_shell(env, shell):
    cursor = next_cursor(env.korctl("read", "s"))
    env.korctl("writeln", "s", "read -rs v; echo got-${#v}-$v")
    pid, master = pty.fork()
    if pid == 0:
        os.execve(KORCTL, [KORCTL, "writeln", "s", "--secret"], env.env)
    try:
        seen = b""
        while b"input (hidden): " not in seen:
            assert select.select([master], [], [], 20)[0], seen
            seen += os.read(master, 1024)
        os.write(master, b"pw9\n")
        assert wait_for(lambda: os.waitpid(pid, os.WNOHANG)[0] != 0 or None, timeout=20)
    finally:
        os.close(master)
    r = env.korctl("expect", "s", "got-3-pw9", "--cursor", str(cursor), "--timeout", "20")
    assert r.returncode == 0, r.stderr
