"""sniff on a live session of kor."""
import os
import subprocess
import threading
import time

import pytest

from harness import KORCTL, wait_for, writeln_secret

pytestmark = pytest.mark.e2e

SENT, RECEIVED = "\u00bb ".encode(), "\u00ab ".encode()


def output_has(env, text):
    # observe with standard input at its end replays the retained output once
    return wait_for(lambda: text in env.korctl("observe", "s").stdout, timeout=20)


def test_sent_input_and_received_output_and_no_secret(env):
    env.open("s", "/bin/bash")
    # Echo goes off before the marker shows, so the secret is never echoed back by the terminal.
    typed = b"stty -echo; echo ready$((2*3)); read pw; stty echo; echo got${#pw}-$((5*4))\n"
    assert env.korctl("write", "s", typed).returncode == 0
    assert output_has(env, b"ready6")
    assert writeln_secret(env, b"hunter2sekrit") == 0
    assert output_has(env, b"got13-20")
    r = env.korctl("sniff", "s")
    assert r.returncode == 0
    lines = r.stdout.split(b"\n")
    assert SENT + typed[:-1] + b"\\n" in lines
    received = b"".join(line[len(RECEIVED):] for line in lines if line.startswith(RECEIVED))
    assert b"ready6" in received and b"got13-20" in received
    assert b"hunter2sekrit" not in r.stdout
    assert r.stderr.startswith(b"next-cursor: ")


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
