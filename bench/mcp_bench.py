#!/usr/bin/python3
"""korctl mcp's session_run against `korctl run` from a shell, on one live bash session.

The round trip of session_run with `true` (a tools/call over stdio to a running `korctl mcp`,
answered) against a shell starting `korctl run NAME true`, alternately, median of RUNS each.

usage: bench/mcp_bench.py [BUILD_DIR] [RUNS]"""
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "cli"))
from harness import ROOT, Env  # noqa: E402  (the tests' private HOME and korctl runner)
from mcp_stdio import McpServer  # noqa: E402

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 40


def shell_run(session):
    t0 = time.monotonic()
    r = subprocess.run(["/bin/sh", "-c", f"'{session.binary}' run b true"], env=session.env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert r.returncode == 0, r.stderr
    return time.monotonic() - t0


def tool_run(server):
    t0 = time.monotonic()
    result = server.call("session_run", name="b", command="true")
    assert result["isError"] is False and result["structuredContent"]["exitStatus"] == 0, result
    return time.monotonic() - t0


def main():
    session = Env.create(BUILD, prefix="kb")
    server = None
    try:
        session.open("b", "/bin/bash")
        server = McpServer(session)
        shell_run(session)  # detection, written to .framing
        shells, tools = [], []
        for _ in range(RUNS):
            shells.append(shell_run(session))
            tools.append(tool_run(server))
        # The fastest runs show the tool's own cost beside the run's; the medians, the usual case.
        shell, tool = statistics.median(shells), statistics.median(tools)
        print(f"session_run true: median {tool * 1000:.1f} ms, fastest {min(tools) * 1000:.1f} ms; "
              f"korctl run true from a shell: median {shell * 1000:.1f} ms, fastest {min(shells) * 1000:.1f} ms "
              f"(over {RUNS} each, alternately); ratio of medians {tool / shell:.2f}, of the fastest "
              f"{min(tools) / min(shells):.2f}")
    finally:
        if server:
            server.close()
        session.close()


if __name__ == "__main__":
    main()
