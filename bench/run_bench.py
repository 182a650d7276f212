#!/usr/bin/python3
"""korctl run on a live bash session of kor.

1. Latency: the median wall time of `korctl run NAME true` (framing cached) against the floor
   set by the fixed pauses (the settle wait's 60 ms quiet period and one 80 ms collection pause),
   and against tmux's recipe for the same (send-keys, wait-for, capture-pane on a bash session of
   a private tmux server), the two measured alternately in one run.
2. Throughput: `run` of `seq LINES` (3,000,000 by default, about 21 MB before the terminal's
   CR LF) against the time the same output takes to reach the daemon (typed with writeln, timed
   until the head cursor has passed all of it), and korctl's own CPU time.

usage: bench/run_bench.py [BUILD_DIR] [LINES] [RUNS]"""
import os
import shutil
import subprocess
import tempfile
import resource
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 3000000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 40
FLOOR = 0.060 + 0.080


def timed_run(session, cmd):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    r = session.korctl("run", "b", cmd, "--timeout", "600", timeout=700)
    wall = time.monotonic() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return r, wall, cpu


class Tmux:
    """A private tmux server with one bash session, for the reference recipe."""
    def __init__(self):
        self.tmp = tempfile.mkdtemp(prefix="kt", dir="/tmp")
        self.env = dict(os.environ, TMUX_TMPDIR=self.tmp)
        self.env.pop("TMUX", None)
        self.base = ["tmux", "-L", "kb", "-f", "/dev/null"]
        subprocess.run(self.base + ["new-session", "-d", "-s", "b", "/bin/bash --norc"], env=self.env, check=True)
        time.sleep(0.5)

    def recipe(self):
        """run true the tmux way: type it with a signal after it, wait for the signal, capture."""
        t0 = time.monotonic()
        subprocess.run(self.base + ["send-keys", "-t", "b", "true; tmux wait-for -S kdone", "Enter"], env=self.env,
                       check=True)
        subprocess.run(self.base + ["wait-for", "kdone"], env=self.env, check=True, timeout=30)
        subprocess.run(self.base + ["capture-pane", "-p", "-t", "b"], env=self.env, check=True,
                       stdout=subprocess.DEVNULL)
        return time.monotonic() - t0

    def close(self):
        subprocess.run(self.base + ["kill-server"], env=self.env, capture_output=True)
        shutil.rmtree(self.tmp, ignore_errors=True)


def latency(session):
    r, _, _ = timed_run(session, "true")  # detection, written to .framing
    assert r.returncode == 0, r.stderr
    tmux = Tmux() if shutil.which("tmux") else None
    walls, recipes = [], []
    try:
        for _ in range(RUNS):
            r, wall, _ = timed_run(session, "true")
            assert r.returncode == 0, r.stderr
            walls.append(wall)
            if tmux:
                recipes.append(tmux.recipe())
    finally:
        if tmux:
            tmux.close()
    median = statistics.median(walls)
    print(f"run true: median {median * 1000:.1f} ms over {RUNS} runs "
          f"(min {min(walls) * 1000:.1f}, max {max(walls) * 1000:.1f}); floor {FLOOR * 1000:.0f} ms; "
          f"ratio {median / FLOOR:.2f}")
    if recipes:
        reference = statistics.median(recipes)
        print(f"  tmux send-keys + wait-for + capture-pane: median {reference * 1000:.1f} ms; "
              f"ratio run/recipe {median / reference:.2f} (target <= 1.3)")


def throughput(session):
    expected = sum(len(str(i)) + 2 for i in range(1, LINES + 1))  # digits + CR LF
    # Reference: how long the output takes to reach the daemon.
    time.sleep(0.5)
    start = session.head("b")
    t0 = time.monotonic()
    session.korctl("writeln", "b", f"seq {LINES}")
    while session.head("b") - start < expected:
        time.sleep(0.005)
    reach = time.monotonic() - t0
    time.sleep(0.5)
    r, wall, cpu = timed_run(session, f"seq {LINES}")
    assert r.returncode == 0, r.stderr
    assert len(r.stdout) == expected, (len(r.stdout), expected)
    print(f"run seq {LINES}: {len(r.stdout) / 1e6:.1f} MB in {wall:.2f} s; output reaches the daemon in "
          f"{reach:.2f} s; ratio {wall / reach:.2f} (target <= 1.2); korctl CPU {cpu:.2f} s (target < 0.3)")


def main():
    session = Env.create(BUILD, prefix="kb")
    try:
        session.open("b", "/bin/bash")
        latency(session)
        throughput(session)
    finally:
        session.close()


if __name__ == "__main__":
    main()
