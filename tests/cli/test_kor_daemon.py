"""The real daemon: its command line, start-up failures, bad requests, retention, the exchange
record, secrets and the end of a session."""
import hashlib
import os
import re
import select
import signal
import socket
import stat
import struct
import subprocess
import time

import pytest

from harness import KOR, KORCTL, seen, wait_for
import kor_wire as kw

pytestmark = [pytest.mark.e2e, pytest.mark.daemon]


def kor(env, *args, timeout=30):
    return subprocess.run([KOR, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
                          cwd=env.home, env=env.env)


def run_in(path, line, done, timeout=30):
    """Types line (then an echo of done) and waits until the done text appears."""
    head = int(kw.status(path)["headCursor"])
    kw.send(path, line + b"; echo " + done[:1] + b"''" + done[1:] + b"\n")
    assert seen(path, done, head, timeout), kw.output_since(path, head)[-500:]
    return head


# ---- command line and start-up ----

@pytest.mark.parametrize("args, status, message", [
    (["--name", "x", "localhost"], 2, b"kor: only control mode is supported"),
    (["--ctl", "--name", "x", "--bogus", "localhost"], 2, b"kor: unknown option '--bogus'"),
    (["--ctl", "--name", "x", "--size", "24", "localhost"], 2, b"kor: invalid terminal size '24'"),
    (["--ctl", "--name", "x", "--scrollback", "1T", "localhost"], 2, b"kor: invalid size '1T'"),
    (["--ctl", "--name", "x"], 2, b"kor: HOST is required"),
    (["--ctl", "--name", "x\nx  localhost  connected", "localhost"], 2,
     b"kor: invalid session name (it contains control characters)\n"),
    (["--ctl", "--name", "x\x1b[2J", "localhost"], 2, b"kor: invalid session name (it contains control characters)\n"),
    (["--ctl", "--name=-x", "localhost"], 2, b"kor: invalid session name '-x' (it begins with '-')\n"),
    (["--ctl", "--name", "x", "--shell", "/nonexistent/sh", "localhost"], 1,
     b"kor: shell /nonexistent/sh is not executable: No such file or directory"),
])
def test_kor_refuses_bad_command_lines(env, args, status, message):
    r = kor(env, *args)
    assert r.returncode == status
    assert r.stderr.startswith(message), r.stderr
    assert not os.path.exists(env.socket_path("x"))


def test_kor_help(env):
    r = kor(env, "--help")
    assert r.returncode == 0
    assert b"kor --ctl --name NAME" in r.stdout


def test_start_up_failures_are_reported(env):
    long_path = os.path.join(env.home, "d" * 120 + ".sock")
    r = kor(env, "--ctl", "--name", "x", "--ctl-socket", long_path, "--shell", "/bin/sh", "localhost")
    assert r.returncode == 1
    assert r.stderr.startswith(b"kor: control socket path too long")

    os.makedirs(env.control, mode=0o700, exist_ok=True)
    os.chmod(env.control, 0o777)
    r = env.korctl("open", "x", "localhost", "--shell", "/bin/sh")
    assert r.returncode == 1
    assert b"kor: unsafe control directory" in r.stderr
    os.chmod(env.control, 0o700)

    with open(env.socket_path("x"), "w"):
        pass  # a plain file where the socket belongs
    r = env.korctl("open", "x", "localhost", "--shell", "/bin/sh")
    assert r.returncode == 1
    assert b"exists and is not a socket" in r.stderr


def test_new_session_sets_up_files_and_replaces_leftovers(env):
    os.makedirs(env.control, mode=0o700)
    path = env.socket_path("s")
    stale = socket.socket(socket.AF_UNIX)
    stale.bind(path)
    stale.close()  # a socket file nobody listens on
    with open(os.path.join(env.control, "s.gone"), "w") as f:
        f.write("1 old reason\n")
    env.open("s", "/bin/bash")
    assert stat.S_IMODE(os.stat(path).st_mode) == 0o600
    assert stat.S_IMODE(os.stat(env.control).st_mode) == 0o700
    assert not os.path.exists(os.path.join(env.control, "s.gone"))
    st = kw.status(path)
    assert st["name"] == "s" and st["host"] == "localhost" and st["connected"] == "1"
    assert st["rows"] == "24" and st["cols"] == "80" and st["scrollback"] == str(64 << 20)
    for key in ("created", "lastActivity", "pid", "headCursor", "tailCursor"):
        assert int(st[key]) >= 0
    # The daemon runs in its own session, away from the terminal that started it.
    pid = int(st["pid"])
    assert os.getsid(pid) != os.getsid(0)
    assert os.readlink(f"/proc/{pid}/fd/0") == "/dev/null"
    # TERM and the session's name reach the shell.
    run_in(path, b"echo \"t=$TERM k=$KORCTL_SESSION\"", b"DONE1")
    assert b"t=xterm-256color k=s" in kw.output_since(path)


def daemon_pids(env):
    pids = []
    marker = b"HOME=" + env.home.encode() + b"\0"
    for pid in os.listdir("/proc"):
        try:
            if os.readlink(f"/proc/{pid}/exe") == os.path.realpath(KOR):
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if marker in f.read():
                        pids.append(int(pid))
        except OSError:
            pass
    return pids


def test_running_session_and_concurrent_opens(env):
    args = [KORCTL, "open", "s", "localhost", "--shell", "/bin/sh"]
    procs = [subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env.env, cwd=env.home)
             for _ in range(3)]
    results = [p.communicate(timeout=30) + (p.returncode,) for p in procs]
    env.opened.append("s")
    assert [r[2] for r in results] == [0, 0, 0], results
    assert len(wait_for(lambda: len(daemon_pids(env)) == 1 and daemon_pids(env), 5)) == 1

    r = env.korctl("open", "s", "localhost")
    assert (r.returncode, r.stderr) == (0, b"korctl: session 's' already running (localhost)\n")
    r = env.korctl("open", "s", "me@elsewhere.example")
    assert r.returncode == 2
    assert b"is connected to localhost, not me@elsewhere.example" in r.stderr
    # kor itself refuses a name held by a live session on another host.
    r = kor(env, "--ctl", "--name", "s", "elsewhere.example")
    assert r.returncode == 1
    assert b"held by a live session (localhost)" in r.stderr


def test_quote_in_name_leaves_the_shell_usable(env):
    env.open("bob's", "/bin/bash")
    path = env.socket_path("bob's")
    run_in(path, b"echo \"k=$KORCTL_SESSION\"", b"DONE2")
    assert b"k=bob's" in kw.output_since(path)


def fake_ssh(env, remote_shell="exec /bin/sh -i", prelude=""):
    """An ssh on PATH that is logged in at once: after prelude it runs its local command, as ssh
    does after a login, then remote_shell."""
    bindir = os.path.join(env.home, "bin")
    os.makedirs(bindir, exist_ok=True)
    with open(os.path.join(bindir, "ssh"), "w") as f:
        f.write('#!/bin/sh\n' + prelude + '\necho "ssh-args: $*"\n'
                'for a in "$@"; do case $a in LocalCommand=*) sh -c "${a#LocalCommand=}" ;; esac; done\n'
                + remote_shell + "\n")
    os.chmod(os.path.join(bindir, "ssh"), 0o755)
    env.env["PATH"] = bindir + ":" + env.env["PATH"]


def test_remote_host_runs_ssh_in_the_terminal(env):
    fake_ssh(env)
    env.open("r", None, host="me@box.example:2222")
    path = env.socket_path("r")
    status = kw.status(path)
    assert seen(path, b"ssh-args: -tt -o ControlPath=none -o PermitLocalCommand=yes -o LocalCommand=kill -USR1 %s"
                b" -p 2222 -- me@box.example" % status["pid"].encode())
    assert (status["host"], status["login"], status["connected"]) == ("me@box.example:2222", "done", "1")
    assert seen(path, b"KORCTL_EC=")  # the set-up line, typed once logged in
    kw.send(path, b"echo last''words; exit 4\n")
    assert wait_for(lambda: not os.path.exists(path))
    r = env.korctl("info", "r")
    assert re.search(rb"ended: ssh exited with status 4: .*lastwords \(\d+s ago\)\n$", r.stderr), r.stderr


# ---- the end of a session ----

@pytest.mark.parametrize("args, reason", [
    (["localhost", "--shell", "/bin/busybox"], "shell exited with status 0"),  # no applet named -busybox
    (["localhost", "--shell", "/bin/false"], "shell exited with status 1"),
    (["localhost", "--shell", "/bin/bash", "--command", "exit 5"], "shell exited with status 5"),
    (["box.example", "--ssh-shell", "echo 'This account is not available.'; exit 1"],
     "ssh exited with status 1: This account is not available."),
])
def test_open_of_a_session_that_ends_at_once_fails_with_its_reason(env, args, reason):
    if "--ssh-shell" in args:
        fake_ssh(env, args.pop(), prelude="stty raw -echo")  # as ssh: what is typed is not echoed here
        args.remove("--ssh-shell")
    elif not os.access(args[2], os.X_OK):
        pytest.skip(f"no {args[2]}")
    r = env.korctl("open", "s", *args, timeout=60)
    assert (r.returncode, r.stdout, r.stderr.decode()) == (1, b"", f"kor: session 's' ended: {reason}\n")
    r = env.korctl("info", "s")
    assert r.returncode == 1 and f"korctl: session 's' ended: {reason} (" in r.stderr.decode()


def test_open_returns_once_the_set_up_line_has_run(env):
    start = time.monotonic()
    env.open("s", "/bin/bash", "--command", "sleep 1")
    assert time.monotonic() - start >= 1
    assert re.search(rb"[\r\n]KORCTL_EC=\d*\r?\n", kw.output_since(env.socket_path("s")))

@pytest.mark.parametrize("line, reason", [
    (b"exit 3\n", b"shell exited with status 3"),
    (b"kill -9 $$\n", b"shell killed by signal 9"),
])
def test_shell_that_ends_by_itself(env, line, reason):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    assert seen(path, b"KORCTL_EC=")
    kw.send(path, b"echo bye''bye; " + line)
    assert wait_for(lambda: not os.path.exists(path), 15)
    r = env.korctl("info", "s")
    assert r.returncode == 1
    assert b"korctl: session 's' ended: " + reason + b" (" in r.stderr
    assert wait_for(lambda: not daemon_pids(env), 5)
    for name in os.listdir(env.control):  # what the session leaves (s.gone, s.lock) is private
        assert stat.S_IMODE(os.stat(os.path.join(env.control, name)).st_mode) == 0o600, name


def test_kill_ends_the_shell_process_group(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    run_in(path, b"sleep 1000 & echo \"bg=$!\"", b"DONE3")
    bg = int(kw.output_since(path).split(b"bg=")[-1].split(b"\r")[0])
    shell = int(kw.status(path)["shellPid"])
    r = env.korctl("kill", "s", "--wait")
    assert r.returncode == 0
    assert wait_for(lambda: not os.path.exists(f"/proc/{shell}") and not os.path.exists(f"/proc/{bg}"), 5)


def test_every_request_around_the_end_is_answered(env):
    env.open("s", "/bin/sh")
    path = env.socket_path("s")
    pid = int(kw.status(path)["pid"])
    killer = socket.socket(socket.AF_UNIX)
    killer.connect(path)
    assert wait_for(lambda: len(os.listdir(f"/proc/{pid}/fd")) > 6)  # accepted, waiting for its request
    os.kill(pid, signal.SIGSTOP)
    try:
        killer.sendall(struct.pack(">BI", kw.KILL, 0))
        # More than one pass accepts: some are taken on when the session ends, some still wait;
        # a request still arriving cannot be served.
        half = socket.socket(socket.AF_UNIX)
        half.settimeout(20)
        half.connect(path)
        half.sendall(struct.pack(">BI", kw.INPUT, 100) + b"abc")
        late = [socket.socket(socket.AF_UNIX) for _ in range(100)]
        for s in late:
            s.settimeout(20)
            s.connect(path)
            s.sendall(struct.pack(">BI", kw.STATUS, 0))
    finally:
        os.kill(pid, signal.SIGCONT)
    killer.settimeout(20)
    assert struct.unpack(">BI", kw.recv_exact(killer, 5))[0] == kw.KILL
    ended = (kw.ERROR, b"session 's' ended: killed by request")
    answers = set()
    for s in late:
        kind, length = struct.unpack(">BI", kw.recv_exact(s, 5))
        answers.add((kind, kw.recv_exact(s, length) if kind == kw.ERROR else b"status"))
        s.close()
    assert answers and answers <= {(kw.STATUS, b"status"), ended}, answers
    kind, length = struct.unpack(">BI", kw.recv_exact(half, 5))
    assert (kind, kw.recv_exact(half, length)) == ended
    half.close()


def test_terminated_daemon_leaves_a_reason(env):
    env.open("s", "/bin/sh")
    path = env.socket_path("s")
    os.kill(int(kw.status(path)["pid"]), signal.SIGTERM)
    assert wait_for(lambda: not os.path.exists(path), 10)
    r = env.korctl("info", "s")
    assert b"ended: daemon terminated by signal 15 (" in r.stderr


# ---- bad requests ----

def raw_exchange(path, data, read_reply=True):
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(10)
        s.connect(path)
        s.sendall(data)
        if not read_reply:
            return None
        kind, length = struct.unpack(">BI", kw.recv_exact(s, 5))
        return kind, kw.recv_exact(s, length)


def resize_payload(rows, cols):
    def varint(n):
        n &= (1 << 64) - 1
        out = b""
        while True:
            b, n = n & 0x7F, n >> 7
            out += bytes([b | (0x80 if n else 0)])
            if not n:
                return out
    return b"\x10" + varint(rows) + b"\x18" + varint(cols) + b"\x20\x00\x28\x00"


@pytest.mark.parametrize("frame, text", [
    (struct.pack(">BI", 99, 0), b"unknown request type 99"),
    (struct.pack(">BI", 3, 7) + b"\0" * 7, b"read request needs 8 payload bytes, got 7"),
    (struct.pack(">BI", 6, 0), b"sniff request needs 8 payload bytes, got 0"),
    (struct.pack(">BI", 9, 8) + b"\0" * 8, b"waiting read request needs 13 payload bytes, got 8"),
    (struct.pack(">BI", 9, 13) + struct.pack(">BqI", 4, 0, 100),
     b"a waiting read stands for an output read (3) or an exchange read (6), not 4"),
    (struct.pack(">BI", 4, 1) + b"x", b"status request needs 0 payload bytes, got 1"),
    (struct.pack(">BI", 5, 2) + b"xx", b"kill request needs 0 payload bytes, got 2"),
    (struct.pack(">BI", 8, 0), b"screen request needs 1 payload bytes, got 0"),
    # Refused from the header alone: the payload is never sent.
    (struct.pack(">BI", 1, 64 * 1024 * 1024 + 1), b"input of 67108865 bytes exceeds the limit of 67108864 bytes"),
    (struct.pack(">BI", 2, 17) + resize_payload(-1, 80), b"invalid terminal rows -1 (must be 0 to 65535)"),
    (struct.pack(">BI", 2, 10) + resize_payload(24, 65536), b"invalid terminal columns 65536 (must be 0 to 65535)"),
    (struct.pack(">BI", 2, 2) + b"\xff\xff", b"resize request is not a valid TerminalInfo"),
])
def test_bad_requests_get_error_replies(env, frame, text):
    env.open("s", "/bin/sh")
    path = env.socket_path("s")
    assert raw_exchange(path, frame) == (kw.ERROR, text)
    st = kw.status(path)  # still serving, size unchanged
    assert (st["connected"], st["rows"], st["cols"]) == ("1", "24", "80")
    r = env.korctl("resize", "s", "70000", "80")
    assert (r.returncode, r.stderr) == (1, b"korctl: invalid terminal rows 70000 (must be 0 to 65535)\n")


def test_silent_and_trickling_clients_never_stall_others_and_are_dropped(env):
    env.open("s", "/bin/sh")
    path = env.socket_path("s")
    clients = [socket.socket(socket.AF_UNIX) for _ in range(3)]
    for c in clients:
        c.connect(path)
    silent, half, trickle = clients
    half.sendall(struct.pack(">BI", 1, 100) + b"abc")  # half a frame
    start = time.monotonic()
    for _ in range(5):
        kw.status(path)
    assert time.monotonic() - start < 5
    # A byte every half second would keep an idle timer from ever running out.
    frame = struct.pack(">BI", 1, 1000) + b"x" * 1000
    closed = set()
    while len(closed) < 3 and time.monotonic() - start < 20:
        if trickle not in closed:
            try:
                trickle.send(frame[:1])
                frame = frame[1:]
            except OSError:
                closed.add(trickle)
        for c in set(clients) - closed:
            ready, _, _ = select.select([c], [], [], 0)
            if ready and c.recv(16) == b"":  # closed by the daemon without a reply
                closed.add(c)
        time.sleep(0.5)
    assert closed == set(clients)
    assert 9 <= time.monotonic() - start < 15
    for c in clients:
        c.close()


# ---- input, output and the exchange record ----

def test_large_input_is_written_in_order_without_blocking_the_loop(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    target = os.path.join(env.home, "in.txt")
    run_in(path, b"stty -echo", b"DONE4")
    kw.send(path, b"cat > " + target.encode() + b"\n")
    data = b"".join(b"%07d abcdefghijklmnopqrstuvwxyz\n" % i for i in range(100000))  # 3.3 MB
    start = time.monotonic()
    kw.send(path, data)
    kw.send(path, b"\x04")
    assert time.monotonic() - start < 5  # accepted at once, written as the shell takes it
    slowest = 0.0
    while wait_for(lambda: os.path.exists(target), 1) and os.path.getsize(target) < len(data):
        t = time.monotonic()
        kw.status(path)
        slowest = max(slowest, time.monotonic() - t)
        time.sleep(0.05)
        assert time.monotonic() - start < 120
    assert slowest < 2
    assert wait_for(lambda: os.path.getsize(target) == len(data), 10)
    with open(target, "rb") as f:
        assert hashlib.sha256(f.read()).digest() == hashlib.sha256(data).digest()


def test_retention_window_and_gap(env):
    env.open("s", "/bin/bash", "--scrollback", "64K")
    path = env.socket_path("s")
    run_in(path, b"for i in $(seq 1 20000); do echo line-$i; done", b"DONE5")
    st = kw.status(path)
    head, tail = int(st["headCursor"]), int(st["tailCursor"])
    assert head - tail == 65536 and st["scrollback"] == "65536"
    nxt, gap, data = kw.read_output(path, 0)
    assert (nxt, gap, len(data)) == (head, True, 65536)
    assert b"line-20000\r\n" in data and b"line-1\r\n" not in data
    nxt, gap, data = kw.read_output(path, -1)
    assert (nxt, gap, len(data)) == (head, False, 65536)
    assert kw.read_output(path, tail + 10)[2] == data[10:]
    assert kw.read_output(path, head + 100) == (head, False, b"")


def test_screen_follows_the_output_floods_and_resizes(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    run_in(path, b"clear; printf 'abcdef\\rXY\\n\\033[5Cright\\n'", b"DONE6")
    shown = kw.screen(path)
    assert shown["lines"][:2] == ["XYcdef", "     right"]
    assert (shown["rows"], shown["cols"], shown["alternate"]) == (24, 80, False)
    assert shown["head"] <= int(kw.status(path)["headCursor"])
    # A flood much larger than the screen: the rows are its last lines, exactly.
    run_in(path, b"clear; seq 1 300000", b"DONE7")
    lines = kw.screen(path)["lines"]
    numbers = lines[:lines.index("DONE7")]
    assert len(numbers) >= 20 and numbers == [str(n) for n in range(300001 - len(numbers), 300001)]
    exchange_ok(kw.exchange(path, kw.RESIZE, resize_payload(10, 30)))
    shown = kw.screen(path)
    assert (shown["rows"], shown["cols"], len(shown["lines"])) == (10, 30, 10)


def exchange_ok(reply):
    assert reply[0] != kw.ERROR, reply


def test_follower_sees_every_byte_of_a_large_print_in_order(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    source = os.path.join(env.home, "big.txt")
    with open(source, "wb") as f:
        for i in range(50 * 1000 * 1000 // 50):
            f.write(b"%08d:0123456789abcdefghijklmnopqrstuvwxyzABCD\n" % i)
    expected = open(source, "rb").read().replace(b"\n", b"\r\n")
    cursor = int(kw.status(path)["headCursor"])
    kw.send(path, b"stty -echo; cat " + source.encode() + b"; echo EN''D\n")
    stream = bytearray()
    deadline = time.monotonic() + 300
    while b"END\r\n" not in stream[-64:]:
        nxt, gap, data = kw.read_output(path, cursor)
        assert not gap
        assert nxt == cursor + len(data)
        stream += data
        cursor = nxt
        if not data:
            time.sleep(0.02)
        assert time.monotonic() < deadline
    start = stream.find(b"00000000:")
    assert start >= 0
    got = bytes(stream[start:start + len(expected)])
    assert hashlib.sha256(got).hexdigest() == hashlib.sha256(expected).hexdigest()


def waiting_read(path, kind, cursor, wait_ms):
    """Sends a waiting read; returns the socket, to read its reply from later."""
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(30)
    s.connect(path)
    s.sendall(struct.pack(">BI", 9, 13) + struct.pack(">BqI", kind, cursor, wait_ms))
    return s


def waiting_reply(s):
    """(seconds until the reply came, reply type, next cursor, gap, body) of a waiting read."""
    start = time.monotonic()
    with s:
        kind, length = struct.unpack(">BI", kw.recv_exact(s, 5))
        body = kw.recv_exact(s, length)
    nxt, gap = struct.unpack(">qB", body[:9])
    return time.monotonic() - start, kind, nxt, bool(gap), body[9:]


def test_waiting_reads(env):
    env.open("s", "/bin/bash", "--scrollback", "64K")
    path = env.socket_path("s")
    run_in(path, b"stty -echo", b"DONE7")
    assert kw.status(path)["waitRead"] == "1"
    assert kw.exchange(path, kw.READ, struct.pack(">q", 0))[0] == 9  # every read reply says so
    head = int(kw.status(path)["headCursor"])

    # Nothing past the cursor: the reply comes when the wait is over, empty, at the head.
    t, kind, nxt, gap, body = waiting_reply(waiting_read(path, kw.READ, head, 400))
    assert 0.35 <= t < 10 and (kind, nxt, gap, body) == (9, head, False, b"")
    # Something past the cursor, or a gap: at once.
    for cursor, gap_expected in ((head - 3, False), (-1, False)):
        t, _, nxt, gap, body = waiting_reply(waiting_read(path, kw.READ, cursor, 20000))
        assert t < 5 and nxt == head and gap == gap_expected and body
    run_in(path, b"seq 1 20000 >/dev/null; for i in $(seq 1 9000); do echo line-$i; done", b"DONE8")
    t, _, _, gap, body = waiting_reply(waiting_read(path, kw.READ, 0, 20000))
    assert t < 5 and gap and len(body) == 65536

    # Output that arrives while parked ends the wait; so do input records for an exchange read.
    head = int(kw.status(path)["headCursor"])
    sniff_next = kw.sniff(path, -1)[0]
    output = waiting_read(path, kw.READ, head, 20000)
    exchange = waiting_read(path, kw.SNIFF, sniff_next, 20000)
    idle = waiting_read(path, kw.READ, head + 10 ** 9, 20000)  # beyond the head: waits its time
    time.sleep(0.3)
    start = time.monotonic()
    for _ in range(3):
        kw.status(path)  # parked reads hold nobody up
    kw.send(path, b"echo wa''ke\n")
    t, _, nxt, _, body = waiting_reply(output)
    # The first output ends the wait (the shell's line end); the echo itself may come after.
    assert time.monotonic() - start < 5 and nxt > head and body
    assert seen(path, b"wake", head)
    t, kind, nxt, _, body = waiting_reply(exchange)
    assert kind == 9 and nxt > sniff_next and body[:1] in (b">", b"<")
    # The session's end answers a read still parked, as the reply of an ordinary read.
    kw.exchange(path, kw.KILL)
    t, kind, nxt, gap, body = waiting_reply(idle)
    assert t < 5 and kind == 9 and nxt >= head and body == b""


def assert_in_no_file(home, secret):
    for root, _, files in os.walk(home):
        for name in files:
            p = os.path.join(root, name)
            if stat.S_ISREG(os.lstat(p).st_mode):
                with open(p, "rb") as f:
                    assert secret not in f.read(), p


def test_exchange_record_and_hidden_input(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    assert seen(path, b"KORCTL_EC=")
    nxt, gap, records = kw.sniff(path, -1)
    assert not gap and len(records) == nxt  # a fresh session still holds every record
    assert records[0][0] == ">" and records[0][1].startswith(b" set +o histexpand")
    assert any(d == "<" and b"KORCTL_EC=" in data for d, data in records)

    secret = b"hunter2-Zq8xV"
    head = int(kw.status(path)["headCursor"])
    # Echo goes off before the shell says it is ready, as at a password prompt.
    kw.send(path, b"stty -echo; echo rea''dy; read -r PW; stty echo; "
                  b"echo \"len=${#PW} sum=$(printf %s \"$PW\" | sha256sum | cut -c1-16)\"\n")
    assert seen(path, b"ready\r\n", head)
    kw.send(path, secret + b"\n", hidden=True)
    digest = hashlib.sha256(secret).hexdigest()[:16].encode()
    assert seen(path, b"len=%d sum=%s" % (len(secret), digest), head)  # the shell got the bytes
    _, _, records = kw.sniff(path, nxt)
    assert (">", b"[hidden input]") in records
    everything = b"".join(data for _, data in kw.sniff(path, -1)[2])
    assert secret not in everything and secret not in kw.output_since(path)
    assert secret.decode() not in str(kw.status(path))
    assert_in_no_file(env.home, secret)


def test_secret_from_a_pipe_reaches_the_shell_only(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    secret = b"pipe-Zq8xV-secret"
    head = run_in(path, b"stty -echo; echo rea''dy", b"ready")
    kw.send(path, b"read -r PW; stty echo; echo \"len=${#PW}\"\n")
    r = subprocess.run([KORCTL, "writeln", "s", "--secret"], input=secret + b"\nnot this\n", capture_output=True,
                       env=env.env, timeout=30)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert seen(path, b"len=%d\r\n" % len(secret), head)
    assert secret not in b"".join(data for _, data in kw.sniff(path, -1)[2])
    assert secret not in kw.output_since(path)
    assert_in_no_file(env.home, secret)


def test_status_says_where_input_went_and_who_has_the_terminal(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    assert seen(path, b"KORCTL_EC=")
    assert wait_for(lambda: kw.status(path)["foreground"] == "bash")
    before = int(kw.status(path)["headCursor"])
    kw.send(path, b"sleep 3\n")
    st = kw.status(path)
    assert before <= int(st["inputCursor"]) <= int(st["headCursor"])
    assert wait_for(lambda: kw.status(path)["foreground"] == "sleep")
    assert wait_for(lambda: kw.status(path)["foreground"] == "bash", 10)


def test_expect_after_input_sees_an_answer_that_came_before_it_started(env):
    env.open("s", "/bin/bash")
    path = env.socket_path("s")
    run_in(path, b"echo $((6*7))", b"first")  # an earlier 42 that must not count
    assert env.korctl("writeln", "s", "echo $((6*7)); echo n''ew").returncode == 0
    assert seen(path, b"new\r\n", int(kw.status(path)["inputCursor"]))  # answered before expect starts
    r = env.korctl("expect", "s", r"42\s+new", "--after-input", "--timeout", "10")
    assert r.returncode == 0, r.stderr
    assert r.stdout.count(b"42") == 1  # only the answer to that input: the echo shows $((6*7))


def test_relative_ctl_socket_is_served_and_removed(env):
    env.open("c", "/bin/sh", "--ctl-socket", "c.sock", "--size", "40x120")  # relative to where open ran
    path = os.path.join(env.home, "c.sock")
    assert stat.S_ISSOCK(os.stat(path).st_mode)
    st = kw.status(path)
    assert (st["name"], st["rows"], st["cols"]) == ("c", "40", "120")
    run_in(path, b"stty size", b"DONE8")
    assert b"40 120\r\n" in kw.output_since(path)
    r = env.korctl("kill", path, "--wait")
    assert r.returncode == 0
    assert not os.path.exists(path)
    r = env.korctl("info", "c")
    assert b"ended: killed by request" in r.stderr


def test_ending_daemon_leaves_a_newer_sessions_socket_alone(env):
    env.open("s", "/bin/sh")
    moved = os.path.join(env.home, "old.sock")
    os.rename(env.socket_path("s"), moved)  # the old daemon still listens on the moved socket
    env.open("s", "/bin/sh")
    new_pid = kw.status(env.socket_path("s"))["pid"]
    assert kw.status(moved)["pid"] != new_pid
    assert env.korctl("kill", moved, "--wait").returncode == 0
    assert kw.status(env.socket_path("s"))["pid"] == new_pid
