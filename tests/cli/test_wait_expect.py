"""`wait` and `expect` against the scripted daemon: start cursors, statuses and messages."""
import struct
import time

import pytest

from fakedaemon import Error, Reply, read_reply


def cursor(n):
    return struct.pack(">q", n)


def status(head):
    return Reply(b"connected=1\nheadCursor=%d\n" % head)


def reads(fake):
    return [struct.unpack(">q", p)[0] for kind, p in fake.requests if kind == 3]


# wait

def test_wait_starts_at_the_head_and_measures_quiet_from_the_start(env):
    fake = env.fake("s", [status(500)], handler=lambda kind, payload: read_reply(500))
    start = time.monotonic()
    r = env.korctl("wait", "s", "--idle", "0.4")
    assert time.monotonic() - start >= 0.4
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert fake.requests[0] == (4, b"")
    assert set(reads(fake)) == {500}


@pytest.mark.parametrize("record", [b"headCursor=0\n", b"connected=1\n"])
def test_wait_idle_zero_returns_at_first_empty_read_from_cursor_0(env, record):
    fake = env.fake("s", [Reply(record), read_reply(3, b"abc"), read_reply(3)])
    r = env.korctl("wait", "s", "--idle", "0")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert reads(fake) == [0, 3]


def test_wait_times_out_while_output_keeps_coming(env):
    env.fake("s", [status(7)], handler=lambda kind, payload: Reply(b"short"))  # short: counts as empty
    r = env.korctl("wait", "s", "--idle", "10", "--timeout", "0.3")
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", b"korctl: wait timed out after 0.3s\n")

    fake = env.fake("busy", [status(7)], handler=lambda kind, payload: read_reply(9, b"tick"))
    r = env.korctl("wait", "busy", "--idle", "0.2", "--timeout", "1")
    assert (r.returncode, r.stderr) == (1, b"korctl: wait timed out after 1.0s\n")
    assert len(reads(fake)) >= 5


def test_wait_negative_limit_fails_before_reading(env):
    fake = env.fake("s", [status(7)])
    r = env.korctl("wait", "s", "--timeout", "-2")
    assert (r.returncode, r.stderr) == (1, b"korctl: wait timed out after -2.0s\n")
    assert fake.types() == [4]


def test_wait_failed_reads_give_status_2(env):
    env.fake("s", [status(1), read_reply(2, b"x"), Error("gone away")])
    r = env.korctl("wait", "s")
    assert (r.returncode, r.stderr) == (2, b"korctl: gone away\n")


# expect

def test_expect_bad_pattern_contacts_nothing(env):
    fake = env.fake("s")
    r = env.korctl("expect", "s", "a(b")
    assert r.returncode == 2 and r.stderr.startswith(b"korctl: bad pattern: ")
    assert r.stderr.count(b"\n") == 1
    assert fake.connections == 0


@pytest.mark.parametrize("args, first_cursor, status_request", [
    ([], 300, True),
    (["--from-start"], 0, False),
    (["--from-start", "--cursor", "17"], 17, False),
    (["--cursor", "-5"], 300, True),
    (["--cursor", "0"], 0, False),
])
def test_expect_start_cursor(env, args, first_cursor, status_request):
    fake = env.fake("s", ([status(300)] if status_request else []) + [read_reply(301, b"ok\n")])
    r = env.korctl("expect", "s", "ok", *args)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"ok\n", b"next-cursor: 301\n")
    assert fake.types()[0] == (4 if status_request else 3)
    assert reads(fake) == [first_cursor]


def test_expect_after_input_starts_where_the_input_went_in(env):
    fake = env.fake("s", [Reply(b"headCursor=300\ninputCursor=120\n"), read_reply(301, b">>> \n")])
    r = env.korctl("expect", "s", ">>> ", "--after-input")
    assert (r.returncode, r.stdout) == (0, b">>> \n")
    assert reads(fake) == [120]
    # A daemon that does not say where input went: refused, never a guess.
    env.fake("t", [Reply(b"headCursor=300\n")])
    r = env.korctl("expect", "t", ">>> ", "--after-input")
    assert (r.returncode, r.stderr) == (
        2, b"korctl expect: session 't' does not report where its input went (no inputCursor)\n")
    for other in (["--cursor", "5"], ["--from-start"]):
        r = env.korctl("expect", "t", ">>> ", "--after-input", *other)
        assert r.returncode == 2 and b"--after-input chooses where to start" in r.stderr


@pytest.mark.parametrize("pattern, args", [
    ("make\nhello world", []), ("hel+o world", []), ("hello world\n", []), ("o world", ["--exact"]),
    ("make[\u00e9-z]*hello world", []),  # a class range from a byte above 0x7f takes the line feed too
])
def test_expect_finds_text_split_across_chunks_and_colours(env, pattern, args):
    chunks = [b"$ make\r\n\x1b[3", b"2mhel", b"", b"lo\x1b[0m wo\x1b]0;t", b"\x07rld\r\nmore"]
    replies = [read_reply(10 * (i + 1), c) for i, c in enumerate(chunks)]
    fake = env.fake("s", [status(0)] + replies)
    r = env.korctl("expect", "s", pattern, *args)
    assert r.returncode == 0
    assert r.stdout == b"$ make\nhello world\nmore\n"  # everything seen, one line feed added
    assert r.stderr == b"next-cursor: 50\n"
    assert reads(fake) == [0, 10, 20, 30, 40]


@pytest.mark.parametrize("args, pattern, text, matched", [
    (["--exact"], "a(b", b"xa(by", True),
    (["--exact"], "a.b", b"axb", False),
    ([], "^b", b"a\nb", False),          # ^ only at the start of the scanned text
    ([], "^a", b"a\nb", True),
    ([], "b$", b"b\na", False),
    (["--exact"], "", b"", True),
    ([], "(x)\\1", b"-xx-", True),         # back-references still work
])
def test_expect_matching_rules(env, args, pattern, text, matched):
    fake = env.fake("s", [read_reply(len(text), text)], handler=lambda kind, payload: read_reply(len(text)))
    r = env.korctl("expect", "s", pattern, "--cursor", "0", "--timeout", "0.5", *args)
    if matched:
        assert (r.returncode, r.stdout) == (0, text + b"\n" if not text.endswith(b"\n") else text)
    else:
        frame = '"' if args else "/"
        assert (r.returncode, r.stdout) == (1, b"")
        assert r.stderr == f"korctl: timed out waiting for {frame}{pattern}{frame}\n".encode()
        assert len(fake.requests) >= 3


def test_expect_zero_timeout_reads_nothing(env):
    fake = env.fake("s")
    r = env.korctl("expect", "s", "x", "--exact", "--cursor", "4", "--timeout", "0")
    assert (r.returncode, r.stderr) == (1, b'korctl: timed out waiting for "x"\n')
    assert fake.requests == []


def test_expect_failed_reads_and_short_replies(env):
    fake = env.fake("s", [Reply(b"tiny"), read_reply(5, b"abc"), Error("boom")])
    r = env.korctl("expect", "s", "zzz", "--cursor", "9")
    assert (r.returncode, r.stdout, r.stderr) == (2, b"", b"korctl: boom\n")
    assert reads(fake) == [9, 0, 5]


def test_expect_through_megabytes_with_an_open_title_sequence(env):
    # An OSC introducer without terminator, then one long line: neither stripping nor
    # searching may run out of stack.
    big = b"\x1b]0;" + b"x" * (8 << 20)
    fake = env.fake("s", [read_reply(1, big), read_reply(2, b"DONE 42")],
                    handler=lambda kind, payload: read_reply(2))
    # Under the sanitizers 8 MiB take many seconds of CPU; on a loaded machine more than the
    # default 30 s of wall time.
    r = env.korctl("expect", "s", "DONE [0-9]+", "--cursor", "0", "--timeout", "300", timeout=360)
    assert r.returncode == 0, r.stderr
    assert r.stdout == b"0;" + b"x" * (8 << 20) + b"DONE 42\n"
    assert r.stderr == b"next-cursor: 2\n"


# A search still running at the time limit is given up: the command ends then, with the
# timed-out line, however long the search would take (minutes, for these over one long line).
@pytest.mark.parametrize("pattern, length, limit", [
    ("x.*y", 200000, 1.0),
    ("(x|z)+y", 2000000, 2.0),
    ("x[^y]*y$", 300000, 1.0),
])
def test_expect_time_limit_bounds_a_long_search(env, pattern, length, limit):
    env.fake("s", [read_reply(length, b"x" * length)], handler=lambda kind, payload: read_reply(length))
    start = time.monotonic()
    r = env.korctl("expect", "s", pattern, "--from-start", "--timeout", str(limit), timeout=60)
    elapsed = time.monotonic() - start
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", b"korctl: timed out waiting for /%s/\n" % pattern.encode())
    assert limit <= elapsed < limit + 10


# A daemon that says it serves waiting reads (in its status record) gets waiting reads that
# last no longer than the time limit, and no pauses between them.
def test_expect_waits_in_the_daemon_once_it_says_it_can(env):
    from fakedaemon import served_read_reply, waiting_read
    fake = env.fake("s", [Reply(b"headCursor=7\nwaitRead=1\n"), served_read_reply(9, b"no"),
                          served_read_reply(12, b"yes")])
    start = time.monotonic()
    r = env.korctl("expect", "s", "y.s", "--timeout", "5")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"noyes\n", b"next-cursor: 12\n")
    assert time.monotonic() - start < 1
    assert [t for t, _ in fake.requests] == [4, 9, 9]
    for (_, payload), at in zip(fake.requests[1:], (7, 9)):
        kind, c, ms = struct.unpack(">BqI", payload)
        assert (kind, c) == (3, at) and 4000 <= ms <= 5000
