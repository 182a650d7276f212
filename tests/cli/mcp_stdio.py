"""A bare MCP client on `korctl mcp`'s standard input and output, for the protocol tests and the
benchmarks: raw lines in, every line out parsed as a JSON-RPC message."""
import json
import os
import select
import subprocess
import time


class McpServer:
    def __init__(self, env, *extra, version="2025-11-25", initialize=True):
        self.process = subprocess.Popen([env.binary, "mcp", *extra], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env.env, cwd=env.home)
        self.pending = b""
        self.next_id = 1000
        if initialize:
            reply = self.request("initialize", {"protocolVersion": version, "capabilities": {},
                                                "clientInfo": {"name": "tests", "version": "1"}})
            assert reply["result"]["protocolVersion"] == version, reply
            self.notify("notifications/initialized")

    def send_line(self, line):
        self.process.stdin.write(line if isinstance(line, bytes) else line.encode())
        self.process.stdin.flush()

    def send(self, message):
        self.send_line(json.dumps(message) + "\n")

    def notify(self, method, params=None):
        self.send({"jsonrpc": "2.0", "method": method, **({"params": params} if params is not None else {})})

    def start(self, method, params=None, id=None):
        """Sends a request; returns its id."""
        if id is None:
            self.next_id += 1
            id = self.next_id
        self.send({"jsonrpc": "2.0", "id": id, "method": method, **({"params": params} if params is not None else {})})
        return id

    def receive(self, timeout=30):
        """The next message on standard output (each line must be one), or None in time."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                return None
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                return None
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        message = json.loads(line)
        assert message.get("jsonrpc") == "2.0", line
        return message

    def request(self, method, params=None, timeout=30, id=None):
        return self.receive_for(self.start(method, params, id), timeout)

    def receive_for(self, id, timeout=30):
        message = self.receive(timeout)
        assert message is not None and message.get("id") == id, message
        return message

    def call(self, tool, timeout=30, **arguments):
        """A tools/call's result."""
        reply = self.request("tools/call", {"name": tool, "arguments": arguments}, timeout)
        assert "result" in reply, reply
        return reply["result"]

    def close(self, timeout=15):
        """Ends input; returns the exit status and what was on standard error."""
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        status = self.process.wait(timeout)
        rest = self.process.stdout.read()
        assert rest == b"" or all(json.loads(l) for l in rest.splitlines()), rest
        return status, self.process.stderr.read()

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
