import os
import shutil
import subprocess

import pytest

from harness import ROOT
from fakedaemon import Error


def test_resize_payload_is_a_terminal_info_with_fields_2_to_5(env):
    fake = env.fake("s")
    r = env.korctl("resize", "s", "24", "80")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert fake.requests == [(2, bytes([0x10, 0x18, 0x18, 0x50, 0x20, 0x00, 0x28, 0x00]))]
    if not shutil.which("protoc"):
        pytest.skip("protoc is not installed")
    decoded = subprocess.run(["protoc", "--decode=kor.TerminalInfo", "-I", os.path.join(ROOT, "proto"),
                              "TerminalInfo.proto"], input=fake.requests[0][1], capture_output=True, check=True)
    assert decoded.stdout.decode().split("\n") == ["rows: 24", "columns: 80", "pixelWidth: 0", "pixelHeight: 0", ""]


def test_resize_sends_values_unchecked_and_reports_failures(env):
    fake = env.fake("s", [Error("bad size")])
    r = env.korctl("resize", "s", "--", "0", "-1")
    assert (r.returncode, r.stderr) == (1, b"korctl: bad size\n")
    assert fake.requests == [(2, b"\x10\x00\x18" + b"\xff" * 9 + b"\x01\x20\x00\x28\x00")]
    r = env.korctl("resize", "nosuch", "24", "80")
    assert r.returncode == 1
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"
    r = env.korctl("resize", "s", "24")
    assert (r.returncode, r.stderr) == (2, b"korctl resize: NAME ROWS COLS\n")
