"""korctl run against a scripted session: the framing choice, detection and its cache, the
collection loop and every way a run ends. Real shells are in test_run_e2e.py."""
import os
import re
import struct
import threading

import pytest

from fakedaemon import Error, Reply, read_reply

OFF, ON = b"\x1b[?2004l", b"\x1b[?2004h"


class FakeShell:
    """A session whose output stream is a byte string; react(input) returns what the 'shell'
    prints for one input request."""

    def __init__(self, env, react=None, history=b"", name="s", fail_reads_after_input=False):
        self.out = bytearray(history)
        self.inputs = []
        self.react = react
        self.fail_reads = False
        self.fail_reads_after_input = fail_reads_after_input
        self.lock = threading.Lock()
        self.daemon = env.fake(name, handler=self.handle)

    def handle(self, kind, payload):
        with self.lock:
            if kind == 4:
                return Reply(b"headCursor=%d\nconnected=1\n" % len(self.out))
            if kind == 3:
                if self.fail_reads:
                    return Error("read refused")
                cursor = max(struct.unpack(">q", payload)[0], 0)
                return read_reply(len(self.out), bytes(self.out[cursor:]))
            if kind == 1:
                self.inputs.append(payload)
                if self.react:
                    self.out += self.react(payload)
                self.fail_reads = self.fail_reads_after_input
                return Reply()
            return Error("unexpected request")


def token_of(frame):
    return re.search(rb"KORCTL_(?:BODY_)?([0-9a-f]{8})", frame).group(1)


def marker_shell(output, status, echo=True):
    """Runs a marker frame: echo of the typed text, start line, output, end line."""
    def react(frame):
        if frame == b"\x03" or b"KORCTL_OSCPROBE_" in frame or frame.startswith(b"set +o"):
            return b""
        word = b"KORCTL_" + token_of(frame)
        shown = frame.replace(b"\n", b"\r\n") if echo else b""
        return shown + word + b"\r\n" + output + word + b":" + status + b"\r\n$ "
    return react


def osc_shell(output, d_mark=b"\x1b]133;D;0\x07"):
    def react(frame):
        if frame == b"\x03":
            return b""
        return b"\x1b]133;B\x07" + frame + b"\r\n\x1b]133;C\x07" + output + d_mark + b"\x1b]133;A\x07$ "
    return react


SETUP = b"set +o histexpand 2>/dev/null; export KORCTL_SESSION='s'; echo \"KORCTL_EC=$status\"\r\n"


def test_blank_command_sends_nothing(env):
    fake = env.fake("s")
    for cmd in ["", "  ", "\t\r\n"]:
        r = env.korctl("run", "s", cmd)
        assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert fake.connections == 0


def test_mark_framing_types_here_doc_frame_and_prints_exact_output(env):
    shell = FakeShell(env, marker_shell(b"a\r\n\x1b[1mb\r\n", b"42"), history=ON + b"$ ")
    r = env.korctl("run", "s", "printf x\n'$HOME' `y`", "--framing", "mark")
    assert (r.returncode, r.stdout, r.stderr) == (42, b"a\r\n\x1b[1mb\r\n", b"")
    [frame] = shell.inputs
    t = token_of(frame).decode()
    assert frame == (f"echo KORCTL_{t}; eval \"$(cat <<'KORCTL_BODY_{t}'\nprintf x\n'$HOME' `y`\n"
                     f"KORCTL_BODY_{t}\n)\"; echo KORCTL_{t}:$?\n").encode()
    assert not os.path.exists(os.path.join(env.control, "s.framing"))


def test_auto_reads_set_up_echo_once_then_the_cache(env):
    history = ON + SETUP + b"KORCTL_EC=0\r\n" + ON + b"$ "
    shell = FakeShell(env, marker_shell(b"out\r\n", b"0"), history=history)
    for _ in range(2):
        r = env.korctl("run", "s", "echo out")
        assert (r.returncode, r.stdout) == (0, b"out\r\n"), r.stderr
    framing = os.path.join(env.control, "s.framing")
    with open(framing) as f:
        assert f.read() == "1 0 1\n"
    assert os.stat(framing).st_mode & 0o777 == 0o600
    assert os.stat(env.control).st_mode & 0o777 == 0o700
    # No probe: only the two frames were typed, pasted, with $status.
    assert len(shell.inputs) == 2
    for frame in shell.inputs:
        t = token_of(frame).decode()
        assert frame == f"\x1b[200~echo KORCTL_{t}\necho out\necho KORCTL_{t}:$status\x1b[201~\r".encode()


def test_probe_without_answer_is_not_cached(env):
    shell = FakeShell(env, None)
    r = env.korctl("run", "s", "true", "--timeout", "0.3")
    assert r.returncode == 124
    assert r.stderr == b"korctl: run timed out after 0.3s\n"
    assert shell.inputs[0] == b"set +o histexpand 2>/dev/null\n"
    assert re.fullmatch(rb'echo "KORCTL_OSCPROBE_[0-9a-f]{8}=\$status"\n', shell.inputs[1])
    assert shell.inputs[2].startswith(b"echo KORCTL_")  # typed marker frame, $?
    assert shell.inputs[2].endswith(b":$?\n")
    assert not os.path.exists(os.path.join(env.control, "s.framing"))


def test_probe_sees_osc_marks_and_caches_them(env):
    def react(data):
        if b"KORCTL_OSCPROBE_" in data:
            name = re.search(rb"KORCTL_OSCPROBE_[0-9a-f]{8}", data).group(0)
            return (ON + b"\x1b]133;B\x07" + data.replace(b"\n", b"\r\n") + b"\x1b]133;C\x07" + name +
                    b"=\r\n\x1b]133;D;0\x07")
        if data.startswith(b"\x1b[200~"):
            return osc_shell(b"hi\r\n")(data)
        return b""
    shell = FakeShell(env, react)
    r = env.korctl("run", "s", "echo hi")
    assert (r.returncode, r.stdout) == (0, b"hi\r\n"), r.stderr
    assert shell.inputs[-1] == b"\x1b[200~echo hi\x1b[201~\r"
    with open(os.path.join(env.control, "s.framing")) as f:
        assert f.read() == "1 1 0\n"


@pytest.mark.parametrize("d_mark,status", [(b"\x1b]133;D;0\x07", 0), (b"\x1b]133;D;7\x1b\\", 7),
                                           (b"\x1b]133;D\x07", 255)])
def test_osc133_statuses(env, d_mark, status):
    FakeShell(env, osc_shell(b"\x1b[?2004l\rline\r\n", d_mark), history=ON + b"$ ")
    r = env.korctl("run", "s", "x", "--framing", "osc133")
    assert (r.returncode, r.stdout) == (status, b"line\r\n")


def test_osc133_types_a_command_holding_the_paste_end(env):
    shell = FakeShell(env, osc_shell(b""), history=ON + b"$ ")
    assert env.korctl("run", "s", "echo '\x1b[201~'", "--framing", "osc133").returncode == 0
    assert shell.inputs[0].startswith(b"eval \"$(cat <<'KORCTL_BODY_")


def test_osc133_with_paste_off_types_the_frame(env):
    shell = FakeShell(env, osc_shell(b""), history=ON + b"$ " + OFF)
    assert env.korctl("run", "s", "x", "--framing", "osc133").returncode == 0
    assert shell.inputs[0].startswith(b"eval ")


def test_pasted_frame_parked_on_continuation_prompt_is_aborted(env):
    shell = FakeShell(env, lambda data: b"" if data == b"\x03" else OFF + b"\r\n> " + ON,
                      history=ON + b"$ ")
    r = env.korctl("run", "s", "echo 'unterminated", "--framing", "osc133")
    assert r.returncode == 125
    assert r.stderr == b"korctl: command looks incomplete (shell parked on a continuation prompt); aborted\n"
    assert shell.inputs[-1] == b"\x03"


@pytest.mark.parametrize("framing,interrupted,message", [
    ("osc133", True, b"korctl: run timed out after 0.0s\n"),
    ("mark", False, b"korctl: run timed out after 0.0s\n"),
])
def test_timeout_zero(env, framing, interrupted, message):
    shell = FakeShell(env, None, history=ON + b"$ ")
    r = env.korctl("run", "s", "sleep 9", "--framing", framing, "--timeout", "0")
    assert (r.returncode, r.stdout, r.stderr) == (124, b"", message)
    assert (shell.inputs[-1] == b"\x03") == interrupted
    assert len(shell.inputs) == (2 if interrupted else 1)


def test_gap_discards_the_result(env):
    fake = env.fake("s", handler=lambda kind, payload: Reply(b"headCursor=10\n") if kind == 4 else
                    read_reply(99, b"partial", gap=kind == 3 and payload != struct.pack(">q", 0)))
    r = env.korctl("run", "s", "yes", "--framing", "mark")
    assert (r.returncode, r.stdout) == (2, b"")
    assert r.stderr == (b"korctl: output outran the session buffer; result discarded "
                        b"(read it with `korctl read` or raise the session's scrollback)\n")
    assert 1 in fake.types()


@pytest.mark.parametrize("status_reply", [Error("busy"), Reply(b"connected=1\n")])
def test_no_head_means_nothing_is_sent(env, status_reply):
    fake = env.fake("s", [status_reply], handler=lambda kind, payload: read_reply(0))
    r = env.korctl("run", "s", "true", "--framing", "mark")
    assert r.returncode == 2
    assert 1 not in fake.types()


def test_failed_settle_read_means_nothing_is_sent(env):
    fake = env.fake("s", [Reply(b"headCursor=5\n"), Error("read refused")])
    r = env.korctl("run", "s", "true", "--framing", "mark")
    assert (r.returncode, r.stderr) == (2, b"korctl: read refused\n")
    assert 1 not in fake.types()


def test_failed_collection_read(env):
    FakeShell(env, marker_shell(b"x\r\n", b"0"), fail_reads_after_input=True)
    r = env.korctl("run", "s", "true", "--framing", "mark")
    assert (r.returncode, r.stdout, r.stderr) == (2, b"", b"korctl: read refused\n")


def test_unreachable_session(env):
    r = env.korctl("run", "nosuch", "true")
    assert r.returncode == 2
    assert b"cannot reach session 'nosuch'" in r.stderr
    assert not os.path.exists(os.path.join(env.control, "nosuch.framing"))
