import struct
import time

from fakedaemon import Close, Error, Raw, frame, sniff_reply, waiting_read

OLDEST = b"\xff" * 8
R, L = "\u00bb ".encode(), "\u00ab ".encode()
WARNING = b"korctl: warning: sniff cursor fell behind; gap skipped\n"


def cursor(n):
    return struct.pack(">q", n)


def test_records_render_with_marks_and_next_cursor_last(env):
    fake = env.fake("s", [sniff_reply(42, [
        (0x3E, b"ls\r"), (0x3C, b"\x1b[A'\\\xc3\xa9\t\n"), (0x3E, b""), (0x00, b"x")])])
    r = env.korctl("sniff", "s")
    assert r.returncode == 0
    assert r.stdout == (R + b"ls\\r\n" + L + b"\\x1b[A\\'\\\\\\xc3\\xa9\\t\\n\n" + R + b"\n" + L + b"x\n")
    assert r.stderr == b"next-cursor: 42\n"
    assert fake.requests == [(6, OLDEST)]


def test_cursor_option_and_truncated_last_record(env):
    body = struct.pack(">qB", 9, 0) + struct.pack(">BI", 0x3E, 2) + b"ok" + struct.pack(">BI", 0x3E, 50) + b"short"
    fake = env.fake("s", [Raw(frame(1, body))])
    r = env.korctl("sniff", "s", "--cursor", "7")
    assert (r.returncode, r.stdout, r.stderr) == (0, R + b"ok\n", b"next-cursor: 9\n")
    assert fake.requests == [(6, cursor(7))]


def test_tail_skips_what_the_first_read_returns(env):
    fake = env.fake("s", [sniff_reply(100, [(0x3E, b"old")]), sniff_reply(101, [(0x3C, b"new")])])
    r = env.korctl("sniff", "s", "--tail", "--cursor", "3")
    assert (r.returncode, r.stdout, r.stderr) == (0, L + b"new\n", b"next-cursor: 101\n")
    assert fake.requests == [(6, OLDEST), (6, cursor(100))]


def test_follow_warns_of_gaps_only_before_the_first_record_and_ends_with_status_1(env):
    fake = env.fake("s", [
        sniff_reply(1, [], gap=True),            # nothing printed yet: warned
        sniff_reply(2, [(0x3E, b"a")], gap=True),  # still nothing printed before it: warned
        sniff_reply(3, [(0x3C, b"b")], gap=True),  # after a record: silent
        Error("session gone"),
    ])
    r = env.korctl("sniff", "s", "--follow")
    assert r.returncode == 1
    assert r.stdout == R + b"a\n" + L + b"b\n"
    assert r.stderr == WARNING + WARNING + b"korctl: session gone\n"
    assert [p for _, p in fake.requests] == [OLDEST, cursor(1), cursor(2), cursor(3)]


def test_failures_exit_1(env):
    r = env.korctl("sniff", "nosuch", "--follow")
    assert r.returncode == 1
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"
    env.fake("s", [Close()])
    r = env.korctl("sniff", "s", "--tail")
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", b"korctl: no response from 's'\n")


def test_follow_waits_in_the_daemon_once_it_says_it_can(env):
    def served(reply):
        reply.bytes = b"\x09" + reply.bytes[1:]
        return reply
    fake = env.fake("s", [served(sniff_reply(4, [])), served(sniff_reply(5, [(0x3E, b"a")])), Error("session gone")])
    start = time.monotonic()
    r = env.korctl("sniff", "s", "--tail", "--follow")
    assert (r.returncode, r.stdout, r.stderr) == (1, R + b"a\n", b"korctl: session gone\n")
    # The --tail read is a plain one; its reply type has said it, so every poll after it waits.
    assert fake.requests == [(6, OLDEST), (9, waiting_read(6, 4, 10000)), (9, waiting_read(6, 5, 10000))]
    assert time.monotonic() - start < 0.3
