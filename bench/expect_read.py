#!/usr/bin/python3
"""expect and read on a live session of kor.

1. expect waiting through SIZE MB (default 20) of coloured output (SGR colours and a window
   title on every line) before its pattern appears, printed in one burst and paced over ~100
   polls; CPU seconds of expect against `read` of the same bytes once (raw and --strip).
   Lines, and one endless line of progress updates (CR only, which stripping removes). Patterns:
   a literal and a regex of bounded length (only the end of the text searched again), a regex
   confined to one line (searched again from the start of the line), one that takes in at most
   one line feed (the last two lines searched again), one that may span any number of lines but
   holds plain characters (searched near them only), and one that holds none (the whole text
   searched again, at most once per 100 ms).
2. read throughput of a full retention window (64 MiB by default), raw and --strip.

usage: bench/expect_read.py [BUILD_DIR] [SIZE_MB]"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
SIZE = int(float(sys.argv[2]) * 1000000) if len(sys.argv) > 2 else 20000000

# Coloured lines up to SIZE bytes, ended by END (CR LF, or a bare CR as progress meters do);
# with PACE > 0 a pause of PACE seconds after every 200 kB.
GENERATOR = r"""awk -v size=%d -v pace=%s -v end='%s' 'BEGIN { n = 0; i = 0; next_pause = 200000
  while (n < size) {
    s = sprintf("\033[1;3%%dmline %%d of coloured output\033[0m \033]0;title %%d\007%%s", i %% 8, i, i, end)
    printf "%%s", s; n += length(s); i++
    if (pace > 0 && n >= next_pause) { fflush(); system("sleep " pace); next_pause += 200000 }
  } }'; printf 'FIN%%sED\n' ISH"""


def check(s, *args):
    """Runs korctl in the private HOME s; it must succeed."""
    r = s.korctl(*args, timeout=700)
    assert r.returncode == 0, r.stderr
    return r


def launch(s, *args):
    """Starts korctl with standard output to /dev/null; finish() gives its CPU and wall seconds."""
    t0 = time.monotonic()
    proc = subprocess.Popen([s.binary, *args], env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return proc, t0


def finish(proc, t0):
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    assert proc.returncode == 0, proc.stderr.read()
    return usage.ru_utime + usage.ru_stime, time.monotonic() - t0


def expect_run(s, pattern, pace, end):
    start = s.head("b")
    proc, t0 = launch(s, "expect", "b", pattern, "--cursor", str(start), "--timeout", "600")
    check(s, "writeln", "b", GENERATOR % (SIZE, pace, end))
    cpu, wall = finish(proc, t0)
    check(s, "wait", "b", "--idle", "0.3", "--timeout", "60")
    return start, cpu, wall


def main():
    s = Env.create(BUILD, prefix="kx")
    try:
        s.open("b", "/bin/sh")  # a shell that does not echo, quiet before each measurement
        check(s, "writeln", "b", "stty -echo")
        check(s, "wait", "b", "--idle", "0.5", "--timeout", "30")
        print(f"expect through {SIZE / 1e6:.0f} MB of coloured output (CPU seconds of the korctl process)")
        for pace, end, label in (("0", "\\r\\n", "lines, burst"), ("0.1", "\\r\\n", "lines, paced"),
                                 ("0.1", "\\r", "CR only, paced")):
            for pattern, kind in (("FINISHED", "literal"), ("FINI[S]HED\\s", "bounded regex"),
                                  ("FINI[S]+HED", "line regex"), ("FINI[S]+HED\\s", "two-line regex"),
                                  ("[F][I]NI[S]+HED\\s*", "any-line regex"),
                                  ("[F][I][N][I][S]+[H][E][D]\\s*", "bare any-line")):
                start, cpu, wall = expect_run(s, pattern, pace, end)
                read_cpu, _ = finish(*launch(s, "read", "b", "--cursor", str(start)))
                strip_cpu, _ = finish(*launch(s, "read", "b", "--cursor", str(start), "--strip"))
                print(f"  {label:14} {kind:16}  expect {cpu:6.2f} s CPU ({wall:5.1f} s wall)   "
                      f"read once {read_cpu:5.2f} s, read --strip {strip_cpu:5.2f} s   "
                      f"ratio expect/read --strip {cpu / max(strip_cpu, 1e-3):5.1f}")

        check(s, "writeln", "b", "yes 'an ordinary line of output, 48 bytes long..' | head -c 80000000")
        check(s, "wait", "b", "--idle", "1", "--timeout", "120")
        info = check(s, "info", "b").stdout.decode()
        window = int(dict(l.split("=", 1) for l in info.splitlines() if "=" in l).get("scrollback", 64 << 20))
        print(f"read of a full retention window ({window / (1 << 20):.0f} MiB)")
        for args in ((), ("--strip",)):
            cpu, wall = finish(*launch(s, "read", "b", *args))
            print(f"  read {' '.join(args):8} {wall:5.2f} s wall, {cpu:5.2f} s CPU   "
                  f"{window / (1 << 20) / wall:7.1f} MiB/s")
    finally:
        s.close()


if __name__ == "__main__":
    main()
