#!/usr/bin/python3
"""Soak of the session daemon: a writer types numbered lines into `cat` in a session for
SECONDS (default 60) at RATE MB/s (default 4) while 8 readers (separate processes) follow the
output by cursor. Prints, per reader, the bytes expected, received, lost and duplicated, the lines
corrupted and the gaps, and the daemon's memory over time. Exits 1 when any byte went missing
or came twice.

usage: bench/soak.py [BUILD_DIR] [SECONDS] [RATE_MB_PER_S]"""
import multiprocessing
import os
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
import kor_wire  # noqa: E402  (the tests' control-protocol client)
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
RATE = float(sys.argv[3]) if len(sys.argv) > 3 else 4.0
READERS = 8
LAST = 999999999999  # the sequence number of the closing line
ALPHABET = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"


def payload(seq):
    """The text of line seq: 20 to 140 letters that depend on the number."""
    n = 20 + seq * 7919 % 121
    start = seq % len(ALPHABET)
    return (ALPHABET[start:] + ALPHABET * 3)[:n]


def line(seq):
    return b"%012d %s\n" % (seq, payload(seq))


def follow(path, cursor, results):
    """One reader: follows the output from cursor to the closing line, checking every line."""
    expected, received, lost, duplicated, corrupted, gaps = 0, 0, 0, 0, 0, 0  # lost, duplicated: bytes
    pending = b""
    done = False
    while not done:
        kind, body = kor_wire.exchange(path, kor_wire.READ, struct.pack(">q", cursor))
        nxt, gap = struct.unpack(">qB", body[:9])
        data = body[9:]
        gaps += gap
        received += len(data)
        cursor = nxt
        if not data:
            time.sleep(0.005)
            continue
        lines = (pending + data).split(b"\r\n")
        pending = lines.pop()
        for text in lines:
            seq = int(text[:12]) if text[:12].isdigit() else -1
            if seq == LAST:
                done = True
                break
            if seq < 0 or text[13:] != payload(seq):
                corrupted += 1
                continue
            if seq < expected:
                duplicated += len(text) + 2
                continue
            lost += sum(len(line(s)) + 1 for s in range(expected, seq))
            expected = seq + 1
    results.put((expected, received, lost, duplicated, corrupted, gaps))


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        fields = dict(l.split(":", 1) for l in f if ":" in l)
    return int(fields["VmRSS"].split()[0]) / 1024, int(fields["VmHWM"].split()[0]) / 1024


def main():
    env = Env.create(BUILD, prefix="ks")
    readers = []
    try:
        env.open("soak", "/bin/sh")
        path = env.socket_path("soak")
        pid = int(kor_wire.status(path)["pid"])
        head = int(kor_wire.status(path)["headCursor"])
        kor_wire.send(path, b"stty -echo; echo RE''ADY; exec cat\n")
        deadline = time.monotonic() + 20
        while b"READY\r\n" not in kor_wire.output_since(path, head):
            assert time.monotonic() < deadline, "the shell did not start cat"
            time.sleep(0.05)
        out = kor_wire.output_since(path, head)
        start = head + out.index(b"READY\r\n") + len(b"READY\r\n")

        results = multiprocessing.Queue()
        readers = [multiprocessing.Process(target=follow, args=(path, start, results)) for _ in range(READERS)]
        for r in readers:
            r.start()

        seq, written, memory = 0, 0, []
        began = time.monotonic()
        next_sample = began
        while time.monotonic() - began < SECONDS:
            now = time.monotonic()
            if now >= next_sample:
                memory.append((now - began, rss_mib(pid)[0]))
                next_sample += SECONDS / 12
            allowed = RATE * 1e6 * (now - began)
            batch = b""
            while written + len(batch) < allowed and len(batch) < 64 * 1024:
                batch += line(seq)
                seq += 1
            if batch:
                kor_wire.send(path, batch)
                written += len(batch)
            else:
                time.sleep(0.002)
        kor_wire.send(path, line(LAST))
        memory.append((time.monotonic() - began, rss_mib(pid)[0]))
        expected_bytes = sum(len(line(i)) + 1 for i in range(seq))  # every line feed comes back as \r\n
        outcomes = [results.get(timeout=SECONDS + 120) for _ in readers]
        peak = rss_mib(pid)[1]
    finally:
        for r in readers:
            r.join(timeout=10)
            if r.is_alive():
                r.kill()
        env.close()

    print("soak: %.0f s, %d readers, writer at %.1f MB/s: %d lines, %d bytes expected by each reader"
          % (SECONDS, READERS, RATE, seq, expected_bytes))
    bad = False
    for i, (lines, received, lost, duplicated, corrupted, gaps) in enumerate(outcomes, 1):
        # received counts the closing line too
        extra = received - expected_bytes - len(line(LAST)) - 1
        print("  reader %d: bytes expected %d, received %d (%+d), lost %d, duplicated %d; lines %d, corrupted %d, gaps %d"
              % (i, expected_bytes, received - len(line(LAST)) - 1, extra, lost, duplicated, lines, corrupted, gaps))
        bad = bad or lines != seq or lost or duplicated or corrupted or gaps or extra
    print("  daemon memory (VmRSS MiB): " + ", ".join("%.0fs %.1f" % (t, m) for t, m in memory))
    print("  daemon peak memory (VmHWM): %.1f MiB" % peak)
    print("soak: " + ("FAILED" if bad else "every reader got every byte exactly once"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
