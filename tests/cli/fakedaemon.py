"""A scripted control daemon: listens on a Unix socket, records every request frame and
plays back scripted replies, including malformed ones."""
import socket
import struct
import threading
import time


def frame(kind, payload=b""):
    return struct.pack(">BI", kind, len(payload)) + payload


class Reply:
    def __init__(self, payload=b"", kind=0x01):
        self.bytes = frame(kind, payload)


class Error(Reply):
    def __init__(self, text):
        super().__init__(text.encode() if isinstance(text, str) else text, 0x41)


class Raw:
    """Sends exactly these bytes, then closes (truncated payloads, oversized length fields)."""
    def __init__(self, data):
        self.bytes = data


class Close:
    """Closes the connection without replying."""


class Hang:
    """Keeps the connection open without replying for a while."""
    def __init__(self, seconds):
        self.seconds = seconds


class CloseBeforeReading:
    """Closes at once, before reading the request (the client's write may then fail)."""


def read_reply(next_cursor, data=b"", gap=False):
    return Reply(struct.pack(">qB", next_cursor, 1 if gap else 0) + data)


def served_read_reply(next_cursor, data=b"", gap=False):
    """A read reply from a daemon that serves waiting reads (its reply type says so)."""
    reply = read_reply(next_cursor, data, gap)
    reply.bytes = b"\x09" + reply.bytes[1:]
    return reply


def waiting_read(kind, cursor, wait_ms):
    """The payload of a waiting read (request type 9)."""
    return struct.pack(">BqI", kind, cursor, wait_ms)


def sniff_reply(next_cursor, records, gap=False):
    body = b"".join(struct.pack(">BI", d, len(x)) + x for d, x in records)
    return Reply(struct.pack(">qB", next_cursor, 1 if gap else 0) + body)


class ScriptedDaemon:
    """replies: actions played in order, one per connection; handler(kind, payload) answers the
    connections after the list runs out (default: an empty success reply)."""

    def __init__(self, path, replies=(), handler=None):
        self.path = path
        self.replies = list(replies)
        self.handler = handler
        self.requests = []          # (type, payload) of every complete request
        self.partial = []           # bytes of requests that never completed
        self.connections = 0
        self._lock = threading.Lock()
        self._sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._sock.bind(path)
        self._sock.listen(64)
        self._sock.settimeout(0.1)
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def types(self):
        with self._lock:
            return [t for t, _ in self.requests]

    def stop(self):
        self._stop = True
        self._thread.join(5)
        self._sock.close()

    def _next_action(self, kind, payload):
        with self._lock:
            if self.replies:
                return self.replies.pop(0)
        if self.handler:
            return self.handler(kind, payload)
        return Reply()

    def _read_exact(self, conn, n):
        data = b""
        while len(data) < n:
            chunk = conn.recv(n - len(data))
            if not chunk:
                return data, False
            data += chunk
        return data, True

    def _serve(self):
        while not self._stop:
            try:
                conn, _ = self._sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.connections += 1
            threading.Thread(target=self._handle, args=(conn,), daemon=True).start()

    def _handle(self, conn):
        try:
            conn.settimeout(10)
            with self._lock:
                peek = self.replies[0] if self.replies else None
            if isinstance(peek, CloseBeforeReading):
                with self._lock:
                    self.replies.pop(0)
                conn.close()
                return
            header, ok = self._read_exact(conn, 5)
            if not ok:
                self.partial.append(header)
                return
            kind, length = struct.unpack(">BI", header)
            payload, ok = self._read_exact(conn, length)
            if not ok:
                self.partial.append(header + payload)
                return
            with self._lock:
                self.requests.append((kind, payload))
            action = self._next_action(kind, payload)
            if isinstance(action, Close):
                return
            if isinstance(action, Hang):
                time.sleep(action.seconds)
                return
            conn.sendall(action.bytes)
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass
