"""A minimal control-protocol client for tests that talk to a real kor daemon directly."""
import socket
import struct

INPUT, RESIZE, READ, STATUS, KILL, SNIFF, HIDDEN, SCREEN = 1, 2, 3, 4, 5, 6, 7, 8
ERROR = 0x41


def recv_exact(sock, n):
    data = bytearray()
    while len(data) < n:
        chunk = sock.recv(min(n - len(data), 1 << 20))
        if not chunk:
            raise EOFError(f"closed after {len(data)} of {n} bytes")
        data += chunk
    return bytes(data)


def exchange(path, kind, payload=b"", timeout=30):
    """One request; returns (reply type, reply payload)."""
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(timeout)
        s.connect(path)
        s.sendall(struct.pack(">BI", kind, len(payload)) + payload)
        kind, length = struct.unpack(">BI", recv_exact(s, 5))
        return kind, recv_exact(s, length)


def read_output(path, cursor=-1):
    """(next cursor, gap, bytes) of one output read."""
    kind, body = exchange(path, READ, struct.pack(">q", cursor))
    assert kind != ERROR, body
    nxt, gap = struct.unpack(">qB", body[:9])
    return nxt, bool(gap), body[9:]


def sniff(path, cursor=-1):
    """(next cursor, gap, [(direction, data)...]) of one exchange read."""
    kind, body = exchange(path, SNIFF, struct.pack(">q", cursor))
    assert kind != ERROR, body
    nxt, gap = struct.unpack(">qB", body[:9])
    records, at = [], 9
    while at + 5 <= len(body):
        d, n = struct.unpack(">BI", body[at:at + 5])
        records.append((chr(d), body[at + 5:at + 5 + n]))
        at += 5 + n
    return nxt, bool(gap), records


def screen(path, attributes=False):
    """The screen reply as a dict: head, rows, cols, cursor (row, col), alternate, visible, lines."""
    kind, body = exchange(path, SCREEN, b"\x01" if attributes else b"\x00")
    assert kind != ERROR, body
    head, rows, cols, crow, ccol, flags = struct.unpack(">qHHHHB", body[:17])
    lines, at = [], 17
    for _ in range(rows):
        n, = struct.unpack(">I", body[at:at + 4])
        lines.append(body[at + 4:at + 4 + n].decode())
        at += 4 + n
    return dict(head=head, rows=rows, cols=cols, cursor=(crow, ccol), alternate=bool(flags & 1),
                visible=bool(flags & 2), lines=lines)


def varint(n):
    """A protobuf varint (negative numbers as ten bytes)."""
    n &= (1 << 64) - 1
    out = b""
    while True:
        out += bytes([(n & 0x7F) | (0x80 if n > 0x7F else 0)])
        n >>= 7
        if not n:
            return out


def resize(path, rows, cols):
    """One resize request: a TerminalInfo with rows, columns and zero pixel sizes."""
    kind, body = exchange(path, RESIZE, b"\x10" + varint(rows) + b"\x18" + varint(cols) + b"\x20\x00\x28\x00")
    assert kind != ERROR, body


def status(path):
    kind, body = exchange(path, STATUS)
    assert kind != ERROR, body
    return dict(line.split("=", 1) for line in body.decode().splitlines() if "=" in line)


def send(path, data, hidden=False):
    kind, body = exchange(path, HIDDEN if hidden else INPUT, data)
    assert kind != ERROR, body


def output_since(path, cursor=0):
    return read_output(path, cursor)[2]
