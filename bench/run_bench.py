#!/usr/bin/python3
"""korctl run on a live bash session of kor.

1. Latency: the median wall time of `korctl run NAME true` (framing cached) against the floor
   set by the fixed pauses: the settle wait's 60 ms quiet period and one 80 ms collection pause.
2. Throughput: `run` of `seq LINES` (3,000,000 by default, about 21 MB before the terminal's
   CR LF) against the time the same output takes to reach the daemon (typed with writeln, timed
   until the head cursor has passed all of it), and korctl's own CPU time.

usage: bench/run_bench.py [BUILD_DIR] [LINES] [RUNS]"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
import kor_wire  # noqa: E402  (the tests' control-protocol client)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 3000000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 40
KORCTL = os.path.join(BUILD, "korctl")
FLOOR = 0.060 + 0.080


class Session:
    def __init__(self, shell="/bin/bash"):
        self.home = tempfile.mkdtemp(prefix="kb", dir="/tmp")
        self.env = dict(os.environ, HOME=self.home, LC_ALL="C.UTF-8")
        self.korctl("open", "b", "localhost", "--shell", shell)
        self.sock = os.path.join(self.home, ".kor", "control", "b.sock")

    def korctl(self, *args, out=subprocess.DEVNULL):
        return subprocess.run([KORCTL, *args], env=self.env, stdout=out, stderr=subprocess.PIPE)

    def head(self):
        return int(kor_wire.status(self.sock)["headCursor"])

    def close(self):
        self.korctl("kill", "b", "--wait=5")
        shutil.rmtree(self.home, ignore_errors=True)


def timed_run(session, cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    r = session.korctl("run", "b", cmd, "--timeout", "600", out=subprocess.PIPE)
    wall = time.monotonic() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return r, wall, cpu


def latency(session):
    r, _, _ = timed_run(session, "true")  # detection, written to .framing
    assert r.returncode == 0, r.stderr
    walls = []
    for _ in range(RUNS):
        r, wall, _ = timed_run(session, "true")
        assert r.returncode == 0, r.stderr
        walls.append(wall)
    median = statistics.median(walls)
    print(f"run true: median {median * 1000:.1f} ms over {RUNS} runs "
          f"(min {min(walls) * 1000:.1f}, max {max(walls) * 1000:.1f}); floor {FLOOR * 1000:.0f} ms; "
          f"ratio {median / FLOOR:.2f} (target <= 1.25)")


def throughput(session):
    expected = sum(len(str(i)) + 2 for i in range(1, LINES + 1))  # digits + CR LF
    # Reference: how long the output takes to reach the daemon.
    time.sleep(0.5)
    start = session.head()
    t0 = time.monotonic()
    session.korctl("writeln", "b", f"seq {LINES}")
    while session.head() - start < expected:
        time.sleep(0.005)
    reach = time.monotonic() - t0
    time.sleep(0.5)
    r, wall, cpu = timed_run(session, f"seq {LINES}")
    assert r.returncode == 0, r.stderr
    assert len(r.stdout) == expected, (len(r.stdout), expected)
    print(f"run seq {LINES}: {len(r.stdout) / 1e6:.1f} MB in {wall:.2f} s; output reaches the daemon in "
          f"{reach:.2f} s; ratio {wall / reach:.2f} (target <= 2); korctl CPU {cpu:.2f} s (target < 1)")


def main():
    session = Session()
    try:
        latency(session)
        throughput(session)
    finally:
        session.close()


if __name__ == "__main__":
    main()
