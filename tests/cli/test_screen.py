"""korctl screen against the scripted daemon: the request, the three ways of printing the reply,
and every way it fails."""
import json
import os
import struct
import time

import pytest

from fakedaemon import Close, Error, Reply


def screen_reply(lines, cols=20, cursor=(0, 0), alternate=False, visible=True, head=0):
    """A screen reply built field by field: head, rows, cols, cursor, flags, then the rows."""
    body = struct.pack(">qHHHHB", head, len(lines), cols, cursor[0], cursor[1],
                       (1 if alternate else 0) | (2 if visible else 0))
    for line in lines:
        body += struct.pack(">I", len(line)) + line
    return Reply(body)


ROWS = [b"$ vi notes", b"", "\x1b[0;31mr\u00e9d\x1b[0m \u4e2d".encode()]


def test_rows_ansi_and_json(env):
    fake = env.fake("s", handler=lambda kind, payload: screen_reply(ROWS, cursor=(2, 7), alternate=True))
    r = env.korctl("screen", "s")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"\n".join(ROWS) + b"\n", b"")
    assert env.korctl("screen", "s", "--ansi").returncode == 0
    r = env.korctl("screen", "s", "--json")
    assert r.returncode == 0 and r.stdout.endswith(b"}\n") and r.stdout.count(b"\n") == 1
    assert json.loads(r.stdout) == {"rows": 3, "cols": 20, "cursor": {"row": 2, "col": 7}, "alternate": True,
                                    "lines": ["$ vi notes", "", "\x1b[0;31mr\u00e9d\x1b[0m \u4e2d"]}
    assert fake.requests == [(8, b"\x00"), (8, b"\x01"), (8, b"\x00")]


def write_gone(env, name, reason):
    os.makedirs(env.control, exist_ok=True)
    with open(os.path.join(env.control, name + ".gone"), "w") as f:
        f.write("%d %s\n" % (int(time.time()), reason))


@pytest.mark.parametrize("reply, stderr", [
    # a kor that predates the request
    (Error("unknown request type 8"), b"korctl: unknown request type 8\n"
     b"korctl screen: the daemon of 's' does not answer screen requests (a kor older than this korctl)\n"),
    (Error("out of sorts"), b"korctl: out of sorts\n"),
    (Reply(struct.pack(">qHHHHB", 0, 2, 10, 0, 0, 2) + struct.pack(">I", 9) + b"short"),
     b"korctl screen: malformed screen reply from 's'\n"),
    (Close(), b"korctl: no response from 's'\n"),
])
def test_failed_replies_exit_1(env, reply, stderr):
    env.fake("s", [reply])
    r = env.korctl("screen", "s", "--json")
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", stderr)


def test_unknown_and_ended_sessions_exit_1(env):
    r = env.korctl("screen", "nosuch")
    assert (r.returncode, r.stdout) == (1, b"")
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"
    write_gone(env, "old", "shell exited with status 0")
    r = env.korctl("screen", "old")
    assert r.returncode == 1
    assert r.stderr.startswith(b"korctl: session 'old' ended: shell exited with status 0 (") and r.stderr.count(b"\n") == 1
    r = env.korctl("screen")
    assert (r.returncode, r.stderr) == (2, b"korctl screen: missing session NAME\n")
