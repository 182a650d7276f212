"""korctl open and kill against scripted daemons and a stand-in kor that records its arguments."""
import os
import shutil
import stat
import time

import pytest

from harness import KORCTL
from fakedaemon import Error, Reply

RECORDER = """#!/bin/sh
for a in "$@"; do printf '%s\\0' "$a"; done > "$(dirname "$0")/args"
exit 7
"""


@pytest.fixture
def stand_in(env):
    """A copy of korctl with a recording kor beside it; returns (korctl path, args reader)."""
    bindir = os.path.join(env.home, "bin")
    os.makedirs(bindir)
    korctl = os.path.join(bindir, "korctl")
    shutil.copy(KORCTL, korctl)
    kor = os.path.join(bindir, "kor")
    with open(kor, "w") as f:
        f.write(RECORDER)
    os.chmod(kor, 0o755)

    def args():
        with open(os.path.join(bindir, "args"), "rb") as f:
            return f.read().split(b"\0")[:-1]
    return korctl, args


SETUP = b" set +o histexpand 2>/dev/null\n export KORCTL_SESSION='%s'%s; echo \"KORCTL_EC=$status\""


@pytest.mark.parametrize("words, expected", [
    (["dev", "u@m", "--ctl-socket", "/tmp/dev.sock", "--command", "make"],
     [b"--ctl", b"--name", b"dev", b"--ctl-socket", b"/tmp/dev.sock", b"--command",
      SETUP % (b"dev", b"; make"), b"u@m"]),
    (["n", "h", "--command", "a", "--command=b", "--name", "o", "--command"],
     [b"--ctl", b"--name", b"n", b"--name", b"o", b"--command", b"--command", SETUP % (b"n", b"; b"), b"h"]),
    # A quote in the name stays inside the set-up line's quotes.
    (["bob's", "h"], [b"--ctl", b"--name", b"bob's", b"--command", SETUP % (b"bob'\\''s", b""), b"h"]),
    # An empty word after NAME is the host (kor judges it), not a missing one.
    (["e", ""], [b"--ctl", b"--name", b"e", b"--command", SETUP % (b"e", b""), b""]),
])
def test_open_executes_sibling_kor_with_arguments(env, stand_in, words, expected):
    korctl, args = stand_in
    os.makedirs(env.control, mode=0o700)
    framing = os.path.join(env.control, words[0] + ".framing")
    open(framing, "w").close()
    r = env.korctl("open", *words, binary=korctl)
    assert r.returncode == 7  # kor's own status
    assert args() == expected
    assert not os.path.exists(framing)


def test_open_started_through_path_runs_its_sibling_kor(env, stand_in):
    """`korctl` found on PATH runs the kor beside it, not another kor earlier on PATH."""
    korctl, args = stand_in
    decoy = os.path.join(env.home, "decoy")
    os.makedirs(decoy)
    with open(os.path.join(decoy, "kor"), "w") as f:
        f.write("#!/bin/sh\nexit 9\n")
    os.chmod(os.path.join(decoy, "kor"), 0o755)
    path = f"{decoy}:/nonexistent::{os.path.dirname(korctl)}:/usr/bin:/bin"
    r = env.korctl("open", "s", "h", binary="korctl", env=dict(env.env, PATH=path))
    assert r.returncode == 7, r.stderr
    assert args()[:3] == [b"--ctl", b"--name", b"s"]


def test_open_usage_errors_and_exec_failure(env, stand_in):
    r = env.korctl("open")
    assert (r.returncode, r.stderr) == (2, b"korctl open: NAME required (korctl open NAME [kor-args...])\n")
    missing = (b"korctl open: missing HOST for session 's'\n"
               b"korctl open: usage: korctl open s HOST [kor-args...] (HOST is localhost for a local shell, "
               b"or [user@]host[:port] over ssh; it comes before any kor options)\n")
    for words in (["s"], ["s", "--ctl-socket", "/tmp/nothing.sock"]):
        r = env.korctl("open", *words)
        assert (r.returncode, r.stderr) == (2, missing), words
    korctl, _ = stand_in
    os.chmod(os.path.join(os.path.dirname(korctl), "kor"), 0o644)  # not executable: falls back to PATH
    r = env.korctl("open", "s", "h", binary=korctl, env=dict(env.env, PATH="/nonexistent"))
    assert r.returncode == 127
    assert r.stderr.startswith(b"korctl open: could not exec kor (kor): ")


@pytest.mark.parametrize("name, message", [
    ("a\nb  localhost  connected", b"invalid session name (it contains control characters)"),
    ("x\x1b[2J", b"invalid session name (it contains control characters)"),
    ("-x", b"invalid session name '-x' (it begins with '-')"),
    ("a/b", b"invalid session name 'a/b'"),
])
def test_open_refuses_hostile_names(env, stand_in, name, message):
    korctl, _ = stand_in
    r = env.korctl("open", name, "h", binary=korctl)
    assert (r.returncode, r.stderr) == (2, b"korctl open: " + message + b"\n")
    assert not os.path.exists(os.path.join(os.path.dirname(korctl), "args"))  # kor never ran


@pytest.mark.parametrize("field, host, status, message", [
    (b"u@m.example:22", "other@m.example", 0, "korctl: session 's' already running (u@m.example:22)\n"),
    (b"u@m.example:22", "alias", 0, "korctl: session 's' already running (u@m.example:22)\n"),
    (b"u@m.example:22", "n.example", 2, "korctl: session 's' is connected to u@m.example:22, not n.example"
                                        " -- pick a different name (e.g. add a unique suffix)\n"),
    (None, "n.example", 0, "korctl: session 's' already running (?)\n"),
])
def test_open_of_a_running_session(env, field, host, status, message):
    record = b"headCursor=0\nhost=" + field + b"\n" if field else b"headCursor=0\n"
    fake = env.fake("s", handler=lambda kind, payload: Reply(record))
    r = env.korctl("open", "s", host)
    assert r.returncode == status
    assert r.stderr.decode() == message
    assert fake.types() == [4]


def test_open_of_running_session_without_host_and_failed_status(env):
    env.fake("s", [Error("busy")])
    r = env.korctl("open", "s")
    assert r.returncode == 0
    assert r.stderr == b"korctl: busy\nkorctl: session 's' already running (?)\n"


def test_kill_sends_one_empty_request(env):
    fake = env.fake("s", [Reply()])
    r = env.korctl("kill", "s")
    assert (r.returncode, r.stderr) == (0, b"")
    assert fake.requests == [(5, b"")]
    r = env.korctl("kill", "gone")
    assert r.returncode == 1
    assert b"cannot reach session 'gone'" in r.stderr
    env.fake("e", [Error("nope")])
    r = env.korctl("kill", "e", "--wait")
    assert (r.returncode, r.stderr) == (1, b"korctl: nope\n")


def test_kill_wait_reports_a_daemon_that_keeps_answering(env):
    env.fake("s")
    start = time.monotonic()
    r = env.korctl("kill", "s", "--wait=0.5")
    assert r.returncode == 1
    assert r.stderr == b"korctl: session 's' still alive 0s after kill\n"  # %.0f of 0.5 rounds to even
    assert time.monotonic() - start >= 0.5
