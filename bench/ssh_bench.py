#!/usr/bin/python3
"""korctl run over ssh against a local session: the median wall time of `korctl run NAME true`
(framing cached) in a bash session logged in over a private sshd on a loopback port, and in a
local bash session, and their ratio.

usage: bench/ssh_bench.py [BUILD_DIR] [RUNS]"""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)
from sshd import Sshd  # noqa: E402  (the tests' private sshd)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 40


def korctl(env, *args):
    r = env.korctl(*args, timeout=120)
    if r.returncode != 0:
        raise SystemExit(f"korctl {' '.join(args)}: {r.returncode} {r.stderr.decode()}")
    return r


def median_run_true(env, host):
    korctl(env, "open", "b", host, *(["--shell", "/bin/bash"] if host == "localhost" else []))
    try:
        korctl(env, "run", "b", "true")  # detects and caches the framing
        times = []
        for _ in range(RUNS):
            start = time.monotonic()
            korctl(env, "run", "b", "true")
            times.append(time.monotonic() - start)
        return statistics.median(times)
    finally:
        korctl(env, "kill", "b", "--wait=5")


def main():
    server = Sshd(shells=("/bin/bash",))
    env = Env.create(BUILD, prefix="kb")
    try:
        local = median_run_true(env, "localhost")
        env.env["PATH"] = server.client("bench") + ":" + env.env["PATH"]
        remote = median_run_true(env, server.host())
    finally:
        server.cleanup()
        env.close()
    print(f"run true, median of {RUNS}: local {local * 1000:.0f} ms, over ssh {remote * 1000:.0f} ms, "
          f"ratio {remote / local:.2f}")


if __name__ == "__main__":
    main()
