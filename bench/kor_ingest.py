#!/usr/bin/python3
"""Output ingestion of the session daemon: a shell prints SIZE MiB (default 256) to its terminal.
Measures the rate with no reader, with a reader following the stream by next cursors, and the
same print into a pseudo-terminal drained by a trivial reader; the daemon's CPU time; its peak
memory (VmHWM) against its retention limit, also with a large screen; then the screen model's
own rates for a few kinds of output (build/screen_model_bench).

usage: bench/kor_ingest.py [BUILD_DIR] [SIZE_MIB]"""
import os
import pty
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
import kor_wire  # noqa: E402  (the tests' control-protocol client)
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
SIZE = (int(sys.argv[2]) if len(sys.argv) > 2 else 256) << 20
PRINT = "head -c %d /dev/zero | tr '\\0' x" % SIZE


def exchange(path, kind, payload=b""):
    return kor_wire.exchange(path, kind, payload)[1]


status = kor_wire.status


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def daemon_run(scrollback, with_reader, size=None):
    env = Env.create(BUILD, prefix="kb")
    try:
        env.open("b", "/bin/sh", *(["--scrollback", scrollback] if scrollback else []))
        path = env.socket_path("b")
        st = status(path)
        pid = int(st["pid"])
        if size:
            kor_wire.resize(path, *size)
        time.sleep(0.5)
        exchange(path, 1, b"stty -echo\n")
        time.sleep(0.5)
        start_cursor = int(status(path)["headCursor"])
        target = start_cursor + SIZE
        stop = threading.Event()
        got = [0, 0]  # bytes read, gaps

        def follow():
            cursor = start_cursor
            while not stop.is_set():
                body = exchange(path, 3, struct.pack(">q", cursor))
                nxt, gap = struct.unpack(">qB", body[:9])
                got[0] += len(body) - 9
                got[1] += gap
                if nxt == cursor:
                    time.sleep(0.001)
                cursor = nxt

        reader = threading.Thread(target=follow) if with_reader else None
        if reader:
            reader.start()
        t0, cpu0 = time.monotonic(), cpu_seconds(pid)
        exchange(path, 1, (PRINT + "\n").encode())
        while int(status(path)["headCursor"]) < target:
            time.sleep(0.01)
        elapsed = time.monotonic() - t0
        exchange(path, 8, b"\0")  # the screen as it stands: everything held back is taken in
        cpu = cpu_seconds(pid) - cpu0
        stop.set()
        if reader:
            reader.join()
        return elapsed, peak_kib(pid), int(st["scrollback"]), got, cpu
    finally:
        env.close()


def baseline_c():
    """The print drained by a small C reader, compiled here; None when no compiler."""
    cc = shutil.which("cc")
    if not cc:
        return None
    out = os.path.join(tempfile.mkdtemp(prefix="kb", dir="/tmp"), "pty_drain")
    subprocess.run([cc, "-O2", "-o", out, os.path.join(ROOT, "bench", "pty_drain.c"), "-lutil"], check=True)
    t0 = time.monotonic()
    total = int(subprocess.run([out, PRINT], stdout=subprocess.PIPE, check=True).stdout)
    elapsed = time.monotonic() - t0
    shutil.rmtree(os.path.dirname(out))
    return elapsed, total


def baseline():
    pid, fd = pty.fork()
    if pid == 0:
        os.execv("/bin/sh", ["sh", "-c", PRINT])
    t0 = time.monotonic()
    total = 0
    while True:
        try:
            data = os.read(fd, 65536)
        except OSError:
            break
        if not data:
            break
        total += len(data)
    elapsed = time.monotonic() - t0
    os.waitpid(pid, 0)
    os.close(fd)
    return elapsed, total


def mib_s(seconds):
    return SIZE / (1 << 20) / seconds


def main():
    print(f"printing {SIZE >> 20} MiB to the terminal")
    py, total = baseline()
    print(f"pty drained by os.read (Python):  {py:6.2f} s  {mib_s(py):7.1f} MiB/s  ({total} bytes)")
    b = py
    c = baseline_c()
    if c:
        b, total = c
        print(f"pty drained by a C read loop:     {b:6.2f} s  {mib_s(b):7.1f} MiB/s  ({total} bytes)")
    d, peak, limit, _, cpu = daemon_run(None, False)
    print(f"daemon, no reader:                {d:6.2f} s  {mib_s(d):7.1f} MiB/s  ratio {b / d:.2f} of the drain"
          f"  (daemon CPU {cpu:.2f} s)")
    print(f"  peak memory {peak / 1024:.1f} MiB with retention limit {limit >> 20} MiB")
    r, peak_r, _, got, cpu = daemon_run(None, True)
    print(f"daemon, reader following:         {r:6.2f} s  {mib_s(r):7.1f} MiB/s  ratio {b / r:.2f} of the drain"
          f"  (reader got {got[0] >> 20} MiB, {got[1]} gaps; daemon CPU {cpu:.2f} s)")
    print(f"  peak memory {peak_r / 1024:.1f} MiB with retention limit {limit >> 20} MiB")
    _, peak_big, _, _, _ = daemon_run(None, False, size=(200, 500))
    print(f"daemon, screen 200x500:           peak memory {peak_big / 1024:.1f} MiB"
          f" ({(peak_big - peak) / 1024:+.1f} MiB against 24x80)")
    for scrollback in ("16M", "255M"):
        _, p, lim, _, _ = daemon_run(scrollback, False)
        print(f"daemon, --scrollback {scrollback:>4}: peak memory {p / 1024:.1f} MiB, limit {lim / (1 << 20):.1f} MiB")
    model = os.path.join(BUILD, "screen_model_bench")
    if os.path.exists(model):
        sys.stdout.flush()
        subprocess.run([model, "64"], check=True)

if __name__ == "__main__":
    main()
