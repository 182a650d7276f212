"""`korctl mcp` against the scripted daemon: the protocol's errors, tool errors as results,
lossless output, cancellation, end of input, secrets."""
import base64
import json
import signal
import time

import pytest

from fakedaemon import Reply, read_reply
from harness import wait_for
from mcp_stdio import McpServer


def status(head):
    return Reply(b"connected=1\nheadCursor=%d\n" % head)


@pytest.fixture
def mcp(env):
    servers = []

    def start(*args, **kwargs):
        server = McpServer(env, *args, **kwargs)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.kill()


def error_code(reply):
    assert "error" in reply and "result" not in reply, reply
    return reply["error"]["code"]


def text_of(result):
    return "\n".join(block["text"] for block in result["content"])


BAD_LINES = [
    (b"{not json\n", -32700, None),
    (b'{"jsonrpc":"2.0","id":2,"method":"ping","x":"\xff"}\n', -32700, None),  # not UTF-8
    (b'[{"jsonrpc":"2.0","id":3,"method":"ping"}]\n', -32600, None),         # batches are gone
    (b'{"jsonrpc":"2.0","id":null,"method":"ping"}\n', -32600, None),
    (b'{"id":4,"method":"ping"}\n', -32600, 4),
    (b'{"jsonrpc":"2.0","id":5,"method":"resources/list"}\n', -32601, 5),
    (b'{"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"no_such_tool"}}\n', -32602, 6),
    (b'{"jsonrpc":"2.0","id":7,"method":"tools/call","params":{"arguments":{}}}\n', -32602, 7),
    (b'{"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"session_read","arguments":"s"}}\n', -32602, 8),
    (b'{"jsonrpc":"2.0","id":1001,"method":"ping"}\n', -32600, 1001),  # initialize's id again
]


def test_malformed_requests_get_json_rpc_errors_and_the_server_goes_on(mcp):
    server = mcp()
    for line, code, id in BAD_LINES:
        server.send_line(line)
        reply = server.receive(10)
        assert reply is not None, line
        assert (error_code(reply), reply["id"]) == (code, id), line
    server.send_line(b"\n   \n")  # empty lines are passed over
    server.notify("notifications/no_such_thing")  # unknown notifications get no answer
    assert server.request("ping")["result"] == {}
    assert server.close()[0] == 0


def test_requests_before_initialize_and_a_second_initialize(mcp):
    server = mcp(initialize=False)
    assert server.request("ping")["result"] == {}
    assert error_code(server.request("tools/list")) == -32600
    params = {"protocolVersion": "2024-11-05", "capabilities": {}, "clientInfo": {"name": "t", "version": "0"}}
    assert server.request("initialize", params)["result"]["protocolVersion"] == "2025-11-25"
    assert error_code(server.request("initialize", params)) == -32600
    names = [tool["name"] for tool in server.request("tools/list")["result"]["tools"]]
    assert {"session_open", "session_read", "session_kill"} <= set(names)


@pytest.mark.parametrize("version", ["2025-11-25", "2025-06-18"])
def test_arguments_that_do_not_fit_the_schema(mcp, version):
    """The current revision makes them tool errors the model can read; the one before, -32602."""
    server = mcp(version=version)
    cases = [({}, "missing argument 'name'"),
             ({"name": "s", "cursor": "0"}, "argument 'cursor' must be an integer"),
             ({"name": "s", "cursour": 0}, "unknown argument 'cursour'")]
    for arguments, problem in cases:
        reply = server.request("tools/call", {"name": "session_read", "arguments": arguments})
        if version == "2025-11-25":
            assert reply["result"]["isError"] is True
            assert problem in text_of(reply["result"])
        else:
            assert error_code(reply) == -32602 and problem in reply["error"]["message"]


def test_a_failing_tool_is_an_error_result_with_the_one_message(env, mcp):
    server = mcp()
    result = server.call("session_read", name="nosuch")
    assert result["isError"] is True and "structuredContent" not in result
    assert text_of(result).startswith("korctl: cannot reach session 'nosuch' (")
    assert text_of(result).count("\n") == 0
    env.fake("s")
    result = server.call("session_expect", name="s", pattern="(")
    assert result["isError"] is True and text_of(result).startswith("korctl: bad pattern: ")


def test_output_that_is_not_utf8_is_carried_exactly(env, mcp):
    raw = b"ok\xff\x1b[1mb\xc3"
    env.fake("s", handler=lambda kind, payload: read_reply(len(raw), raw))
    server = mcp()
    data = server.call("session_read", name="s")["structuredContent"]
    assert data["data"] == "ok\ufffd\x1b[1mb\ufffd"
    assert base64.b64decode(data["dataBase64"]) == raw
    assert (data["nextCursor"], data["gap"], data["truncated"]) == (len(raw), False, False)
    stripped = server.call("session_read", name="s", strip=True)["structuredContent"]
    assert base64.b64decode(stripped["dataBase64"]) == b"ok\xffb\xc3"
    # Cut at maxBytes, the cursor says where the rest begins.
    first = server.call("session_read", name="s", maxBytes=3)["structuredContent"]
    assert (first["data"], first["nextCursor"], first["truncated"]) == ("ok\ufffd", 3, True)
    plain = server.call("session_read", name="s", maxBytes=2)["structuredContent"]
    assert "dataBase64" not in plain and plain["data"] == "ok"


def test_read_with_settle_gathers_output_until_it_is_quiet(env, mcp):
    fake = env.fake("s", [read_reply(2, b"ab"), read_reply(4, b"cd", gap=True)], handler=lambda kind, payload: read_reply(4))
    server = mcp()
    start = time.monotonic()
    data = server.call("session_read", name="s", settle=20)["structuredContent"]
    assert (data["data"], data["nextCursor"], data["gap"]) == ("abcd", 4, True)
    assert time.monotonic() - start < 15  # ended by the quiet, not the limit
    assert len(fake.requests) >= 4  # kept reading through the quiet period
    # A settle time under 1 ms is one read, as without it.
    fake.requests.clear()
    assert server.call("session_read", name="s", cursor=4, settle=0.0004)["structuredContent"]["nextCursor"] == 4
    assert len(fake.requests) == 1


def test_calls_run_side_by_side_and_a_cancelled_one_stops_without_an_answer(env, mcp):
    fake = env.fake("s", [status(0)], handler=lambda kind, payload: read_reply(0))
    server = mcp()
    waiting = server.start("tools/call", {"name": "session_expect", "arguments": {"name": "s", "pattern": "never"}})
    assert wait_for(lambda: 3 in fake.types() or 9 in fake.types(), 10)
    # A call that comes later is answered while the first still waits.
    assert server.call("session_write", name="s", text="x")["isError"] is False
    server.notify("notifications/cancelled", {"requestId": waiting, "reason": "test"})
    time.sleep(0.5)
    polls = fake.connections
    assert server.request("ping")["result"] == {}  # the next message: no answer for the cancelled call
    time.sleep(0.6)
    assert fake.connections == polls  # its process has stopped polling
    assert server.close()[0] == 0


@pytest.mark.parametrize("how", ["end of input", "SIGTERM"])
def test_the_server_ends_promptly_with_a_call_still_running(env, mcp, how):
    fake = env.fake("s", [status(0)], handler=lambda kind, payload: read_reply(0))
    server = mcp()
    server.start("tools/call", {"name": "session_expect", "arguments": {"name": "s", "pattern": "never"}})
    assert wait_for(lambda: len(fake.types()) >= 2, 10)
    start = time.monotonic()
    if how == "SIGTERM":
        server.process.send_signal(signal.SIGTERM)
    code, _ = server.close()
    assert time.monotonic() - start < 5
    assert code == (0 if how == "end of input" else 128 + signal.SIGTERM)
    polls = fake.connections
    time.sleep(0.5)
    assert fake.connections == polls


def test_a_secret_goes_as_hidden_input_and_nowhere_else(env, mcp):
    fake = env.fake("s")
    server = mcp()
    result = server.call("session_write", name="s", text="hunter2", line=True, secret=True)
    assert result["structuredContent"] == {"name": "s", "hidden": True}
    assert server.call("session_write", name="s", text="ls")["structuredContent"]["hidden"] is False
    assert fake.requests == [(7, b"hunter2\n"), (1, b"ls")]
    server.call("session_write", name="nosuch", text="hunter2", secret=True)  # a failure says nothing of it
    out = server.pending
    code, err = server.close()
    assert code == 0 and b"hunter2" not in err and b"hunter2" not in out
    assert "hunter2" not in json.dumps(result)
