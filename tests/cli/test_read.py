"""`read` against the scripted daemon: request payloads, the three modes and their stopping rules."""
import struct
import time

import pytest

from fakedaemon import Close, Error, Raw, Reply, frame, read_reply, served_read_reply, waiting_read

OLDEST = b"\xff" * 8


def cursor(n):
    return struct.pack(">q", n)


def test_one_shot_sends_oldest_cursor_and_reports_the_next(env):
    fake = env.fake("s", [read_reply(42, b"out\0\xff\x1b[1mx"), read_reply(42)])
    r = env.korctl("read", "s")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"out\0\xff\x1b[1mx", b"next-cursor: 42\n")
    # The reported cursor continues exactly there; an empty chunk still reports it.
    r = env.korctl("read", "s", "--cursor", "42")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"next-cursor: 42\n")
    assert fake.requests == [(3, OLDEST), (3, cursor(42))]


@pytest.mark.parametrize("value", ["72623859790382856", "-2", "0"])
def test_cursor_is_sent_big_endian(env, value):
    fake = env.fake("s", [read_reply(0)])
    assert env.korctl("read", "s", "--cursor", value).returncode == 0
    assert fake.requests == [(3, cursor(int(value)))]


def test_gap_warning_strip_and_short_reply(env):
    env.fake("s", [read_reply(9, b"\x1b]0;t\x07\x1b[31mred\x1b[0m\r\n", gap=True), Reply(b"12345678")])
    r = env.korctl("read", "s", "--cursor", "3", "--strip")
    assert r.returncode == 0 and r.stdout == b"red\n"
    assert r.stderr == b"korctl: warning: cursor fell behind; output gap skipped\nnext-cursor: 9\n"
    r = env.korctl("read", "s")  # shorter than 9 bytes: nothing, next cursor 0
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"next-cursor: 0\n")


def test_failures_give_status_1(env):
    env.fake("s", [Error("no such cursor"), Close()])
    r = env.korctl("read", "s")
    assert (r.returncode, r.stderr) == (1, b"korctl: no such cursor\n")
    r = env.korctl("read", "s", "--timeout", "5")
    assert (r.returncode, r.stderr) == (1, b"korctl: no response from 's'\n")
    r = env.korctl("read", "gone", "--follow")
    assert r.returncode == 1 and r.stderr.startswith(b"korctl: cannot reach session 'gone'")


@pytest.mark.parametrize("extra", [[], ["--timeout", "5"]])
def test_follow_streams_until_the_session_goes(env, extra):
    # A split sequence stays unstripped: each chunk is stripped on its own.
    fake = env.fake("s", [read_reply(5, b"a\x1b[3"), read_reply(5, b"", gap=True), read_reply(7, b"1mb"), Close()])
    r = env.korctl("read", "s", "--follow", "--strip", *extra)
    assert r.returncode == 0
    assert r.stdout == b"a\x1b[31mb"
    assert r.stderr == b"korctl: warning: cursor fell behind; output gap skipped\n[session ended]\n"
    assert fake.requests == [(3, OLDEST), (3, cursor(5)), (3, cursor(5)), (3, cursor(7))]


def test_follow_ends_quietly_on_any_later_failure(env):
    env.fake("s", [read_reply(1, b"x"), Error("boom")])
    r = env.korctl("read", "s", "--follow")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"x", b"[session ended]\n")


@pytest.mark.parametrize("timeout", ["0", "-1"])
def test_zero_or_negative_timeout_is_one_shot(env, timeout):
    fake = env.fake("s", [read_reply(3, b"abc")])
    r = env.korctl("read", "s", "--timeout", timeout)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"abc", b"next-cursor: 3\n")
    assert len(fake.requests) == 1


@pytest.mark.parametrize("args, reported", [([], b"-1"), (["--cursor", "9"], b"9")])
def test_sub_millisecond_timeout_makes_no_request(env, args, reported):
    fake = env.fake("s")
    r = env.korctl("read", "s", "--timeout", "0.0004", *args)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"next-cursor: " + reported + b"\n")
    assert fake.requests == []


def test_settle_returns_after_quiet_and_hides_gaps_of_empty_chunks(env):
    replies = [read_reply(2, b"ab"), Reply(b"short"), read_reply(4, b"cd"), read_reply(4, gap=True)]
    fake = env.fake("s", replies, handler=lambda kind, payload: read_reply(4))
    start = time.monotonic()
    r = env.korctl("read", "s", "--timeout", "30")
    elapsed = time.monotonic() - start
    assert (r.returncode, r.stdout, r.stderr) == (0, b"abcd", b"next-cursor: 4\n")
    assert 0.3 <= elapsed < 20
    cursors = [p for _, p in fake.requests]
    assert cursors[:4] == [OLDEST, cursor(2), cursor(0), cursor(4)]  # a short reply restarts at 0
    assert len(cursors) >= 6  # kept polling through 300 ms of quiet


def test_settle_without_output_waits_the_whole_limit(env):
    fake = env.fake("s", handler=lambda kind, payload: read_reply(11))
    start = time.monotonic()
    r = env.korctl("read", "s", "--timeout", "0.6")
    assert time.monotonic() - start >= 0.6
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"next-cursor: 11\n")
    assert len(fake.requests) >= 2


# ---- a daemon that serves waiting reads ----

def test_follow_waits_in_the_daemon_once_it_says_it_can(env):
    fake = env.fake("s", [served_read_reply(5, b"ab"), served_read_reply(5), served_read_reply(7, b"cd"), Close()])
    start = time.monotonic()
    r = env.korctl("read", "s", "--follow")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"abcd", b"[session ended]\n")
    assert fake.requests == [(3, OLDEST), (9, waiting_read(3, 5, 10000)), (9, waiting_read(3, 5, 10000)),
                             (9, waiting_read(3, 7, 10000))]
    assert time.monotonic() - start < 0.4  # no 150 ms pauses between the reads


def test_settle_waits_no_longer_than_the_quiet_period_or_the_limit(env):
    fake = env.fake("s", [served_read_reply(2, b"ab")], handler=lambda kind, payload: served_read_reply(2))
    start = time.monotonic()
    r = env.korctl("read", "s", "--timeout", "20")
    elapsed = time.monotonic() - start
    assert (r.returncode, r.stdout, r.stderr) == (0, b"ab", b"next-cursor: 2\n")
    assert 0.3 <= elapsed < 15  # the daemon answered at once: the quiet period still holds
    waits = [struct.unpack(">BqI", p) for t, p in fake.requests[1:]]
    assert all(t == 9 for t, _ in fake.requests[1:]) and waits
    assert all(kind == 3 and c == 2 and 0 <= ms <= 301 for kind, c, ms in waits), waits
    # Before any output, a read waits up to the time limit (at most 10 s at a time).
    fake = env.fake("t", [served_read_reply(4)], handler=lambda kind, payload: served_read_reply(4))
    r = env.korctl("read", "t", "--timeout", "0.5")
    assert (r.returncode, r.stderr) == (0, b"next-cursor: 4\n")
    assert 400 <= struct.unpack(">BqI", fake.requests[1][1])[2] <= 500


# ---- a reply cut short ----

@pytest.mark.parametrize("args", [[], ["--strip"], ["--follow"], ["--timeout", "5"]])
def test_reply_cut_short_shows_what_came_and_fails(env, args):
    cut = Raw(frame(1, struct.pack(">qB", 20, 0) + b"0123456789")[:-4])  # 4 of 10 bytes missing
    env.fake("s", [read_reply(0, b"") if "--follow" in args else cut, cut])
    r = env.korctl("read", "s", *args)
    assert r.returncode == 1
    assert r.stdout == b"012345"
    assert r.stderr == b"korctl: io error talking to 's': Socket has closed abruptly.\nkorctl: no response from 's'\n"
