"""sniff on a live session of kor."""
import subprocess
import threading

import pytest

from conftest import KORCTL, wait_for

pytestmark = pytest.mark.e2e

SENT, RECEIVED = "\u00bb ".encode(), "\u00ab ".encode()


def test_follow_streams_new_records_and_ends_with_status_1_when_the_session_goes(env):
    env.open("s", "/bin/bash")
    proc = subprocess.Popen([KORCTL, "sniff", "s", "--follow"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env.env)
    out = bytearray()
    reader = threading.Thread(target=lambda: [out.extend(chunk) for chunk in iter(lambda: proc.stdout.read1(4096), b"")])
    reader.start()
    try:
        assert env.korctl("attach", "s", input=b"echo fol$((3*3))\r").returncode == 0
        assert wait_for(lambda: b"fol9" in out, timeout=20), bytes(out)
        assert env.korctl("attach", "s", input=b"exit\r").returncode == 0
        proc.wait(timeout=20)
    finally:
        if proc.poll() is None:
            proc.kill()
        reader.join(5)
    assert proc.returncode == 1
    assert SENT + b"echo fol$((3*3))\\r" in bytes(out).split(b"\n")
    assert proc.stderr.read().startswith(b"korctl: ")
