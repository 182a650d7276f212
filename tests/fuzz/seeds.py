"""Writes a few well-formed inputs for each fuzz target into CORPUS/TARGET, so every run
starts from the shapes the parsers really see. Existing corpus files are kept."""
import hashlib
import os
import struct
import sys


def frame(kind, payload=b""):
    return struct.pack(">BI", kind, len(payload)) + payload


def cursor_reply(cursor, gap, data=b""):
    return struct.pack(">qB", cursor, gap) + data


def record(direction, data):
    return direction + struct.pack(">I", len(data)) + data


STATUS = (b"name=s\nhost=localhost\nconnected=1\npid=42\nshellPid=43\ncreated=1700000000\n"
          b"lastActivity=1700000100\nheadCursor=4096\ntailCursor=0\nscrollback=67108864\nrows=24\ncols=80\n")
TERMINAL_INFO = b"\x10\x18\x18\x50\x20\x00\x28\x00"  # rows 24, columns 80

SEEDS = {
    "fuzz_request": [bytes([p, l]) + f for p, l in ((0, 0), (3, 0), (16, 0x85)) for f in (
        frame(4), frame(5), frame(3, struct.pack(">q", -1)), frame(6, struct.pack(">q", 12)),
        frame(9, struct.pack(">BqI", 3, 100, 2000)), frame(1, b"echo hi\n"), frame(7, b"hunter2\n"), frame(2, TERMINAL_INFO), frame(9),
        frame(3, b"\0" * 7), struct.pack(">BI", 1, 64 << 20 | 1) + b"abc",
        frame(1, b"ab") + frame(4) + b"junk")],
    "fuzz_replies": [
        frame(4, STATUS), frame(0x41, b"unknown request type 9"), frame(3, cursor_reply(4096, 0, b"$ ls\r\n")),
        cursor_reply(10, 1, b"output"), cursor_reply(-1, 0),
        cursor_reply(3, 0, record(b">", b"ls\r") + record(b"<", b"ls\r\nfile\r\n") + record(b">", b"[hidden input]")),
        frame(3, b"short")],
    "fuzz_status": [STATUS, b"headCursor=1\nheadCursor=2\n", b"=x\nhost=a=b", b"1700000000 killed by request\n",
                    b"  -5   shell exited with status 3\nmore", b"9223372036854775807 x", b"headCursor=-9223372036854775809"],
    "fuzz_kor_options": [b"\0".join(w) for w in (
        [b"--ctl", b"--name", b"x", b"localhost"], [b"64M"], [b"24x80"], [b"512KiB"],
        [b"--ctl", b"--name=dev", b"--scrollback", b"512K", b"--size", b"40x120", b"--command", b"ls", b"me@box:2222"],
        [b"--ctl", b"--name", b"a\nb", b"--", b"-host"], [b"--help"])],
    "fuzz_text": [bytes([p]) + t for p, t in ((0, b""), (5, b""), (31, b"")) for t in (
        b"\x1b[1;31mred\x1b[0m\r\n\x1b]0;title\x07plain\x1b(B",
        b"$ echo KORCTL_0a1b2c3d; eval x\r\nKORCTL_0a1b2c3d\r\nout\r\nKORCTL_0a1b2c3d:3\r\n$ ",
        b"\x1b]133;A\x07$ \x1b]133;B\x07ls\r\n\x1b]133;C\x07\x1b[30m\x1b(B\x1b[mfile\r\n\x1b]133;D;0\x07",
        b"\x1b[?2004h$ \x1b[?2004l\r\x1b]133;D;12\x1b\\", b"1 0 1\n", b"caf\xc3\xa9 \xc2\x9b2J a\\n\x00")],
    "fuzz_session_file": [
        b"version=1\nname=s\nhost=db\nport=22\nid=id-s\npasskey=secret\nsavedat=1700000000\ntitle=\n",
        b"version=1\nname=s\nhost=\x1b]0;x\x07\nport=+65535\nid=i\npasskey=p\nsavedat=-1\ntitle=t=u\n\n",
        b"version=1\nname=s\nhost=h\nport=99999999999\nid=i\npasskey=p\nsavedat=x\n"],
    "fuzz_screen": [bytes([r, c]) + t for r, c in ((0, 0), (7, 3), (200, 91)) for t in (
        b"$ ls\r\n\x1b[01;34mdir\x1b[0m  file\r\n" * 40 + b"$ ",
        b"\x1b[?1049h\x1b[2;10r\x1b[H\x1b[2Jtop\x1b[5;1Hmid\x1b[?25l\x1b[r\x1b[?1049l",
        b"\x1b[?7lno wrap" + b"x" * 200 + b"\x1b[?7h\xe4\xb8\xad\xcc\x81a\x1b[3b\xfe\x1b[6n\x1b]11;?\x07",
        b"\x1bP1$r\x1b\\\x1b]0;title\x07\x1b(0lqk\x1b(B\xff\xc3")],
    "fuzz_ctl_options": [bytes([c]) + b"\0".join(w) for c in range(0, 24, 3) for w in (
        [b"s", b"--timeout", b"1.5", b"--cursor", b"12"], [b"s", b"pat", b"--exact", b"--from-start"],
        [b"--idle", b"2h", b"--force"], [b"s", b"h", b"--ctl-socket", b"/tmp/x.sock", b"--command=ls"],
        [b"s", b"--framing", b"osc133", b"--timeout=1e300", b"cmd"], [b"up"], [b"^C"], [b"1e-4"], [b"nan"],
        [b"s", b"--follow", b"--strip", b"--timeout", b"-3"])],
}


def main(corpus):
    for target, seeds in SEEDS.items():
        directory = os.path.join(corpus, target)
        os.makedirs(directory, exist_ok=True)
        for seed in seeds:
            path = os.path.join(directory, "seed-" + hashlib.sha1(seed).hexdigest()[:12])
            if not os.path.exists(path):
                with open(path, "wb") as f:
                    f.write(seed)


if __name__ == "__main__":
    main(sys.argv[1])
