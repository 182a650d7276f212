#!/usr/bin/python3
"""korctl run on a live bash session of kor.

1. Latency: the median wall time of `korctl run NAME true` (framing cached) against its floor:
   the settle wait's 60 ms quiet period plus the time the shell itself takes to answer the same
   frame (typed over the wire and watched with 1 ms polls), and against tmux's recipe for the
   same (send-keys, wait-for, capture-pane on a bash session of a private tmux server), measured
   alternately in one run. Without the daemon's waiting read the collection reads once right
   after sending and then every 80 ms, so a run whose first read comes before the answer waits
   one 80 ms pause more; how many runs did is shown too.
2. Throughput: `run` of `seq LINES` (3,000,000 by default, about 21 MB before the terminal's
   CR LF) against the time the same output takes to reach the daemon (typed with writeln, timed
   until the head cursor has passed all of it), and korctl's own CPU time.

usage: bench/run_bench.py [BUILD_DIR] [LINES] [RUNS]"""
import os
import random
import shutil
import subprocess
import tempfile
import resource
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)
import kor_wire  # noqa: E402

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 3000000
RUNS = int(sys.argv[3]) if len(sys.argv) > 3 else 40
SETTLE_QUIET = 0.060
COLLECT_PAUSE = 0.080


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


def answer_time(session):
    """How long the shell takes to answer run's pasted frame for `true`, read with 1 ms polls."""
    path = session.socket_path("b")
    word = "KORCTL_%08x" % random.getrandbits(32)
    start = int(kor_wire.status(path)["headCursor"])
    t0 = time.monotonic()
    kor_wire.send(path, f"\x1b[200~ echo {word}\n eval 'true'\n echo {word}:$?\x1b[201~\r".encode())
    while (word + ":0\r\n").encode() not in kor_wire.output_since(path, start):
        time.sleep(0.001)
    answered = time.monotonic() - t0
    time.sleep(0.2)  # the prompt after it
    return answered


def latency(session):
    r, _, _ = timed_run(session, "true")  # detection, written to .framing
    assert r.returncode == 0, r.stderr
    tmux = Tmux() if shutil.which("tmux") else None
    walls, answers, recipes = [], [], []
    try:
        for _ in range(RUNS):
            r, wall, _ = timed_run(session, "true")
            assert r.returncode == 0, r.stderr
            walls.append(wall)
            answers.append(answer_time(session))
            if tmux:
                recipes.append(tmux.recipe())
    finally:
        if tmux:
            tmux.close()
    median = statistics.median(walls)
    answer = statistics.median(answers)
    floor = SETTLE_QUIET + answer
    # A run that waited a collection pause has 140 ms of fixed pauses, one that did not 60 ms.
    pauses = [SETTLE_QUIET + (COLLECT_PAUSE if w > floor + COLLECT_PAUSE / 2 else 0) for w in walls]
    paused = sum(1 for p in pauses if p > SETTLE_QUIET)
    over_pauses = statistics.median(w / p for w, p in zip(walls, pauses))
    print(f"run true: median {median * 1000:.1f} ms over {RUNS} runs (min {min(walls) * 1000:.1f}, "
          f"max {max(walls) * 1000:.1f}); floor {floor * 1000:.1f} ms (60 ms settle quiet + {answer * 1000:.1f} ms "
          f"the shell takes to answer): ratio {median / floor:.2f}")
    print(f"  {paused} of {RUNS} runs waited an {COLLECT_PAUSE * 1000:.0f} ms collection pause (the first read "
          f"after sending came before the answer); each run against its own fixed pauses (60 ms, or 140 ms with "
          f"that pause): median ratio {over_pauses:.2f} (target <= 1.25)")
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
