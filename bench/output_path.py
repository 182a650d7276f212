#!/usr/bin/python3
"""The output path and start-up against references on the same machine, each pair measured
side by side (alternating, in one run), as ratios of medians:

1. `korctl read` of a full retention window (64 MiB by default) to /dev/null against the same
   number of bytes streamed through a Unix socket (bench/socket_stream.c), and korctl's peak
   memory.
2. Start-up: `korctl --version` against `tmux -V`, `korctl info` against
   `tmux display-message -p` (on a private tmux server).
3. `expect`'s latency: from its pattern's arrival at the daemon to expect's exit.

usage: bench/output_path.py [BUILD_DIR] [ROUNDS]"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
import kor_wire  # noqa: E402  (the tests' control-protocol client)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
ROUNDS = int(sys.argv[2]) if len(sys.argv) > 2 else 7
KORCTL = os.path.join(BUILD, "korctl")


NULL = os.open(os.devnull, os.O_WRONLY)


def timed(args, env=None):
    """(wall seconds, peak memory in KiB) of one run with standard output and error to /dev/null,
    started with posix_spawn (cheaper than a fork of this Python)."""
    t0 = time.perf_counter()
    pid = os.posix_spawnp(args[0], args, env if env is not None else os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, NULL, 1), (os.POSIX_SPAWN_DUP2, NULL, 2)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - t0
    assert os.waitstatus_to_exitcode(status) == 0, args
    return wall, usage.ru_maxrss


def side_by_side(label, first, second, rounds, unit=1000.0, suffix="ms"):
    a, b = [], []
    for _ in range(rounds):
        a.append(first())
        b.append(second())
    ma, mb = statistics.median(a), statistics.median(b)
    print(f"  {label}: {ma * unit:8.2f} {suffix} against {mb * unit:8.2f} {suffix}   ratio {ma / mb:5.2f}")
    return ma, mb


class Session:
    def __init__(self):
        self.home = tempfile.mkdtemp(prefix="ko", dir="/tmp")
        self.env = dict(os.environ, HOME=self.home)
        self.korctl("open", "b", "localhost", "--shell", "/bin/sh")
        self.sock = os.path.join(self.home, ".kor", "control", "b.sock")
        self.korctl("writeln", "b", "stty -echo")
        self.korctl("wait", "b", "--idle", "0.5", "--timeout", "30")

    def korctl(self, *args):
        return subprocess.run([KORCTL, *args], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              check=True)

    def head(self):
        return int(kor_wire.status(self.sock)["headCursor"])

    def close(self):
        subprocess.run([KORCTL, "kill", "b", "--wait"], env=self.env, capture_output=True)
        shutil.rmtree(self.home, ignore_errors=True)


def read_window(s):
    s.korctl("writeln", "b", "yes 'an ordinary line of output, 48 bytes long..' | head -c 80000000")
    s.korctl("wait", "b", "--idle", "1", "--timeout", "120")
    st = kor_wire.status(s.sock)
    window = int(st["headCursor"]) - int(st["tailCursor"])
    stream = os.path.join(s.home, "socket_stream")
    subprocess.run(["cc", "-O2", "-o", stream, os.path.join(ROOT, "bench", "socket_stream.c")], check=True)

    def read():
        return timed([KORCTL, "read", "b", "--cursor", "0"], s.env)[0]

    def reference():
        return float(subprocess.run([stream, str(window)], stdout=subprocess.PIPE, check=True).stdout)

    print(f"read of a full retention window ({window / (1 << 20):.0f} MiB) to /dev/null, against the raw socket stream")
    ma, mb = side_by_side("read --cursor 0 / socket stream", read, reference, ROUNDS)
    # The peak through /usr/bin/time: a child of this Python would count the Python's own pages.
    timing = subprocess.run(["/usr/bin/time", "-f", "%M", KORCTL, "read", "b", "--cursor", "0"], env=s.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, check=True)
    peak = int(timing.stderr.split()[-1])
    print(f"  read {window / (1 << 30) / ma:6.2f} GiB/s, stream {window / (1 << 30) / mb:6.2f} GiB/s; "
          f"korctl peak memory {peak / 1024:.1f} MiB (target: ratio <= 4, >= 1 GiB/s, < 16 MiB)")


def start_up(s):
    tmp = tempfile.mkdtemp(prefix="kt", dir="/tmp")
    tenv = dict(os.environ, TMUX_TMPDIR=tmp)
    tenv.pop("TMUX", None)
    tmux = ["tmux", "-L", "kb", "-f", "/dev/null"]
    subprocess.run(tmux + ["new-session", "-d", "-s", "b"], env=tenv, check=True)
    try:
        print("start-up (median wall time of one run)")
        side_by_side("korctl --version / tmux -V", lambda: timed([KORCTL, "--version"])[0],
                     lambda: timed(["tmux", "-V"])[0], ROUNDS * 30)
        side_by_side("korctl info / tmux display-message -p", lambda: timed([KORCTL, "info", "b"], s.env)[0],
                     lambda: timed(tmux + ["display-message", "-p", "-t", "b", "#{session_name}"], tenv)[0],
                     ROUNDS * 30)
    finally:
        subprocess.run(tmux + ["kill-server"], env=tenv, capture_output=True)
        shutil.rmtree(tmp, ignore_errors=True)


def expect_latency(s):
    lags = []
    for i in range(ROUNDS * 2):
        word = f"LATE{i}MATCH"
        head = s.head()
        proc = subprocess.Popen([KORCTL, "expect", "b", word, "--timeout", "30"], env=s.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.4)  # expect is waiting
        arrived = []

        def watch():  # sees the output reach the daemon: a waiting read, or reads 1 ms apart
            cursor = head
            while not arrived:
                kind, body = kor_wire.exchange(s.sock, 9, struct.pack(">BqI", 3, cursor, 5000))
                if kind == kor_wire.ERROR:
                    kind, body = kor_wire.exchange(s.sock, kor_wire.READ, struct.pack(">q", cursor))
                    time.sleep(0.001)
                came = time.perf_counter()
                cursor = struct.unpack(">q", body[:8])[0]
                if word.encode() in kor_wire.output_since(s.sock, head):
                    arrived.append(came)

        watcher = threading.Thread(target=watch)
        watcher.start()
        kor_wire.send(s.sock, f"echo LATE{i}''MATCH\n".encode())
        proc.wait()
        done = time.perf_counter()
        watcher.join()
        lags.append(done - arrived[0])
    print(f"expect: returns {statistics.median(lags) * 1000:.1f} ms (median; max {max(lags) * 1000:.1f}) after "
          f"its match reaches the daemon (target: within 20 ms)")


def main():
    s = Session()
    try:
        read_window(s)
        start_up(s)
        expect_latency(s)
    finally:
        s.close()


if __name__ == "__main__":
    main()
