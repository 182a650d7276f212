#!/usr/bin/python3
"""korctl run over ssh against a local session: the median wall time of `korctl run NAME true`
(framing cached) in a bash session logged in over a private sshd on a loopback port, and in a
local bash session, and their ratio.

usage: bench/ssh_bench.py [BUILD_DIR] [RUNS]"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "cli"))
from sshd import Sshd  # noqa: E402  (the tests' private sshd)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 40
KORCTL = os.path.join(BUILD, "korctl")


def korctl(env, *args):
    r = subprocess.run([KORCTL, *args], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
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
    home = tempfile.mkdtemp(prefix="kb", dir="/tmp")
    try:
        env = dict(os.environ, HOME=home, LC_ALL="C.UTF-8")
        local = median_run_true(env, "localhost")
        env["PATH"] = server.client("bench") + ":" + env["PATH"]
        remote = median_run_true(env, server.host())
    finally:
        server.cleanup()
        shutil.rmtree(home, ignore_errors=True)
    print(f"run true, median of {RUNS}: local {local * 1000:.0f} ms, over ssh {remote * 1000:.0f} ms, "
          f"ratio {remote / local:.2f}")


if __name__ == "__main__":
    main()
