#!/usr/bin/python3
"""Times `korctl sessions` and `korctl gc` in a private HOME holding 1,000 dead control sockets
and 1,000 saved sessions (plus, for gc, 1,000 stray control files in the sessions directory).

usage: bench/sessions_gc.py [BUILD_DIR] [RUNS]"""
import os
import socket
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
COUNT = 1000


def make_dead_sockets(control):
    for i in range(COUNT):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.bind(os.path.join(control, f"dead{i:04d}.sock"))
        s.close()
        with open(os.path.join(control, f"dead{i:04d}.framing"), "w") as f:
            f.write("paste=1\n")


def make_saved_sessions(sessions):
    for i in range(COUNT):
        name = f"saved{i:04d}"
        path = os.path.join(sessions, name)
        with open(path, "w") as f:
            f.write(f"version=1\nname={name}\nhost=h{i}\nport=22\nid=i{i}\npasskey=p\n"
                    f"savedat=1700000000\ntitle=\n")
        os.chmod(path, 0o600)


def make_stray_files(sessions):
    for i in range(COUNT):
        with open(os.path.join(sessions, f"stray{i:04d}.gone"), "w") as f:
            f.write("1700000000 ended\n")


def timed(env, *args):
    start = time.monotonic()
    r = env.korctl(*args, timeout=600)
    elapsed = time.monotonic() - start
    return elapsed, r


def main():
    env = Env.create(BUILD, prefix="kb")
    try:
        kor, control, sessions = os.path.dirname(env.control), env.control, env.sessions
        for d in (kor, control, sessions):
            os.mkdir(d, 0o700)
        make_saved_sessions(sessions)

        listing, gc = [], []
        for _ in range(RUNS):
            make_dead_sockets(control)
            elapsed, r = timed(env, "sessions")
            rows = r.stdout.count(b"\n") - 1
            assert rows == 2 * COUNT, rows
            listing.append(elapsed)

            make_stray_files(sessions)
            elapsed, r = timed(env, "gc")
            assert r.stdout.count(b"removed dead socket") == COUNT
            assert r.stdout.count(b"removed stale control file") == COUNT
            assert len(os.listdir(control)) == 0 and len(os.listdir(sessions)) == COUNT
            gc.append(elapsed)

        elapsed, r = timed(env, "sessions")
        saved_only = elapsed
        print(f"{COUNT} dead sockets + {COUNT} saved sessions, {RUNS} runs, median (min-max):")
        print(f"  sessions: {statistics.median(listing) * 1000:7.1f} ms "
              f"({min(listing) * 1000:.1f}-{max(listing) * 1000:.1f})")
        print(f"  gc:       {statistics.median(gc) * 1000:7.1f} ms "
              f"({min(gc) * 1000:.1f}-{max(gc) * 1000:.1f})  "
              f"(removes {COUNT} sockets, {COUNT} framing files, {COUNT} stray files)")
        print(f"  sessions with the {COUNT} saved sessions only: {saved_only * 1000:.1f} ms")
        print(f"  per row (sessions): {statistics.median(listing) / (2 * COUNT) * 1e6:.1f} us")
    finally:
        env.close()


if __name__ == "__main__":
    main()
