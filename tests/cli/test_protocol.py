"""The control exchange against a scripted daemon: request bytes and every failure message."""
import os
import socket
import struct
import time

import pytest

from fakedaemon import Close, Error, Raw, Reply, frame


def test_status_request_is_five_header_bytes_and_empty_reply_prints_nothing(env):
    fake = env.fake("s", [Reply(b"")])
    r = env.korctl("info", "s")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert fake.requests == [(4, b"")]


def test_record_printed_up_to_first_zero_byte(env):
    env.fake("s", [Reply(b"a=1\nb=2\0junk")])
    assert env.korctl("info", "s").stdout == b"a=1\nb=2"


@pytest.mark.parametrize("action,stderr", [
    (Error(""), b"korctl: \n"),
    (Error(b"no such\0tail"), b"korctl: no such\n"),
    (Close(), b"korctl: no response from 's'\n"),
    (Raw(b"\x01\x00\x00"), b"korctl: no response from 's'\n"),
    (Raw(frame(1, b"0123456789")[:8]),
     b"korctl: io error talking to 's': Socket has closed abruptly.\nkorctl: no response from 's'\n"),
    (Raw(b"\x01\xff\xff\xff\xff"),
     b"korctl: io error talking to 's': reply of 4294967295 bytes exceeds the limit of 268435456 bytes\n"
     b"korctl: no response from 's'\n"),
], ids=["empty-error", "error-with-zero", "close", "partial-header", "truncated-payload", "oversized-length"])
def test_failed_exchanges(env, action, stderr):
    env.fake("s", [action])
    r = env.korctl("info", "s")
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", stderr)


def test_large_reply_arrives_whole(env):
    record = b"x=" + b"y" * (3 << 20)
    env.fake("s", [Reply(record)])
    assert env.korctl("info", "s").stdout == record


def write_gone(env, name, content):
    os.makedirs(env.control, exist_ok=True)
    with open(os.path.join(env.control, name + ".gone"), "w") as f:
        f.write(content)


def test_unreachable_messages(env):
    r = env.korctl("info", "nosuch")
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"
    # a socket nobody listens on any more
    os.makedirs(env.control, exist_ok=True)
    s = socket.socket(socket.AF_UNIX)
    s.bind(env.socket_path("dead"))
    s.close()
    r = env.korctl("info", "dead")
    assert (r.returncode, r.stderr) == (1, b"korctl: cannot reach session 'dead' (Connection refused)\n")


def test_ended_reason_wins_over_cannot_reach(env):
    write_gone(env, "old", "%d killed by operator\n" % (int(time.time()) - 60))
    r = env.korctl("info", "old")
    assert r.returncode == 1
    assert r.stderr in (b"korctl: session 'old' ended: killed by operator (60s ago)\n",
                        b"korctl: session 'old' ended: killed by operator (61s ago)\n")
    write_gone(env, "future", "%d shell exited with status 0\n" % (int(time.time()) + 3600))
    assert env.korctl("info", "future").stderr == b"korctl: session 'future' ended: shell exited with status 0\n"
    # no reason text, or a name that breaks the name rule: no ended line
    write_gone(env, "bare", "%d   \n" % int(time.time()))
    assert b"cannot reach session 'bare'" in env.korctl("info", "bare").stderr


def test_socket_path_as_name(env):
    path = os.path.join(env.home, "x.sock")
    fake = env.fake(path=path, replies=[Reply(b"via path\n"), Reply(b"via bare word\n")])
    assert env.korctl("info", path).stdout == b"via path\n"
    # a bare word naming a socket in the current directory is that socket
    assert env.korctl("info", "x.sock", cwd=env.home).stdout == b"via bare word\n"
    assert fake.types() == [4, 4]
    # a path that is not a socket is taken as a session name under the control directory
    r = env.korctl("info", "/tmp/no-such.sock")
    assert r.stderr == b"korctl: cannot reach session '/tmp/no-such.sock' (No such file or directory)\n"


def test_socket_path_too_long(env):
    long_home = os.path.join(env.home, "h" * 90)
    os.makedirs(long_home)
    environment = dict(env.env, HOME=long_home)
    r = env.korctl("info", "session", env=environment)
    assert (r.returncode, r.stderr) == (1, b"korctl: cannot reach session 'session' (File name too long)\n")


def test_peer_closing_during_a_large_request_is_an_io_error_with_a_trace(env):
    from fakedaemon import CloseBeforeReading
    env.fake("s", [CloseBeforeReading()])
    r = env.korctl("write", "s", input=b"x" * (16 << 20))
    assert r.returncode == 1
    err = r.stderr.decode()
    # a diagnostic record with a stack trace, then the io-error and no-response lines
    assert "ERROR [default] Stack Trace: \n[0] 0x" in err, err
    assert "Cannot write to raw socket: " in err
    assert err.endswith("korctl: io error talking to 's': Cannot write to raw socket\n"
                        "korctl: no response from 's'\n"), err
