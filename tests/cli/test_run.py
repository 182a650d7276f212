"""korctl run against a scripted session: the framing choice, detection and its cache, the
collection loop and every way a run ends. Real shells are in test_run_e2e.py."""
import fcntl
import os
import re
import shutil
import struct
import subprocess
import tempfile
import threading
import time

import pytest

from fakedaemon import Error, Reply, read_reply, served_read_reply
from harness import wait_for

OFF, ON = b"\x1b[?2004l", b"\x1b[?2004h"


class FakeShell:
    """A session whose output stream is a byte string; react(input) returns what the 'shell'
    prints for one input request."""

    def __init__(self, env, react=None, history=b"", name="s", fail_reads_after_input=False, status=b"", path=None):
        self.out = bytearray(history)
        self.status = status  # more status-record lines
        self.inputs = []
        self.waits = []  # the wait of every waiting read, in ms
        self.react = react
        self.fail_reads = False
        self.fail_reads_after_input = fail_reads_after_input
        self.lock = threading.Lock()
        self.daemon = env.fake(name, handler=self.handle, path=path)

    def handle(self, kind, payload):
        if kind == 9:  # a waiting read: answered once there is output past its cursor, or its wait is over
            _, cursor, wait_ms = struct.unpack(">BqI", payload)
            self.waits.append(wait_ms)
            until = time.monotonic() + wait_ms / 1000
            while len(self.out) <= max(cursor, 0) and time.monotonic() < until:
                time.sleep(0.005)
            with self.lock:
                cursor = max(cursor, 0)
                return served_read_reply(len(self.out), bytes(self.out[cursor:]))
        with self.lock:
            if kind == 4:
                return Reply(b"headCursor=%d\nconnected=1\n" % len(self.out) + self.status)
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
        if frame == b"\x03" or b"KORCTL_OSCPROBE_" in frame or frame.startswith(b" set +o"):
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
    assert frame == (f" echo KORCTL_{t}; KORCTL_C=$(cat <<'KORCTL_BODY_{t}'\nprintf x\n'$HOME' `y`\n"
                     f"KORCTL_BODY_{t}\n); KORCTL_E=${{ZSH_VERSION+builtin}}; "
                     f"if (eval \"KORCTL_check() {{\n$KORCTL_C\n}}\") 2>/dev/null; then "
                     f"${{KORCTL_E:-command}} eval \"$KORCTL_C\"; else (eval \"$KORCTL_C\"); fi; "
                     f"echo KORCTL_{t}:$?; unset KORCTL_C KORCTL_E\n").encode()
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
        assert frame == f"\x1b[200~ echo KORCTL_{t}\n eval 'echo out'\n echo KORCTL_{t}:$status\x1b[201~\r".encode()


def test_probe_without_answer_is_not_cached(env):
    shell = FakeShell(env, None)
    r = env.korctl("run", "s", "true", "--timeout", "6.5")  # the history scan and the probe wait 3 s each
    assert r.returncode == 124
    assert r.stderr == b"korctl: run timed out after 6.5s; no interrupt sent (the command may still be running)\n"
    assert shell.inputs[0] == b" set +o histexpand 2>/dev/null\n"
    assert re.fullmatch(rb' echo "KORCTL_OSCPROBE_[0-9a-f]{8}=\$status"\n', shell.inputs[1])
    assert shell.inputs[2].startswith(b" echo KORCTL_")  # typed marker frame, $?
    assert shell.inputs[2].endswith(b":$?; unset KORCTL_C KORCTL_E\n")
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
    assert shell.inputs[-1] == b"\x1b[200~ eval 'echo hi'\x1b[201~\r"
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
    assert shell.inputs[0].startswith(b" eval \"$(cat <<'KORCTL_BODY_")


def test_osc133_with_paste_off_types_the_frame(env):
    shell = FakeShell(env, osc_shell(b""), history=ON + b"$ " + OFF)
    assert env.korctl("run", "s", "x", "--framing", "osc133").returncode == 0
    assert shell.inputs[0].startswith(b" eval ")


def test_pasted_frame_parked_on_continuation_prompt_is_aborted(env):
    shell = FakeShell(env, lambda data: b"" if data == b"\x03" else OFF + b"\r\n> " + ON,
                      history=ON + b"\x1b]133;A\x07$ \x1b]133;B\x07")
    r = env.korctl("run", "s", "echo 'unterminated", "--framing", "osc133")
    assert r.returncode == 125
    assert r.stderr == (b"korctl: command looks incomplete (shell parked on a continuation prompt); aborted with "
                        b"an interrupt\n")
    assert shell.inputs[-1] == b"\x03"


@pytest.mark.parametrize("timeout", ["0", "-1", "0.0004"])
def test_time_limit_that_cannot_be_met_is_refused(env, timeout):
    fake = env.fake("s")
    r = env.korctl("run", "s", "sleep 9", "--timeout", timeout)
    assert (r.returncode, r.stdout) == (2, b"")
    assert r.stderr.startswith(b"korctl run: --timeout must be at least 0.001 seconds (got ")
    assert fake.connections == 0


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


def hold_run_lock(env, name="s"):
    """Takes the session's run lock as another run would; returns the open file."""
    f = open(os.path.join(env.control, name + ".runlock"), "a+b")
    fcntl.flock(f, fcntl.LOCK_EX)
    return f


def test_a_run_waits_for_the_run_before_it(env):
    shell = FakeShell(env, marker_shell(b"out\r\n", b"0"), history=ON + b"$ ")
    lock = hold_run_lock(env)
    threading.Timer(0.6, lock.close).start()
    started = time.monotonic()
    r = env.korctl("run", "s", "echo out", "--framing", "mark", "--timeout", "20")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"out\r\n", b"")
    assert time.monotonic() - started >= 0.6
    assert len(shell.inputs) == 1
    assert os.stat(os.path.join(env.control, "s.runlock")).st_mode & 0o777 == 0o600


def test_a_time_limit_spent_waiting_for_the_lock_types_nothing(env):
    shell = FakeShell(env, marker_shell(b"out\r\n", b"0"))
    lock = hold_run_lock(env)
    try:
        r = env.korctl("run", "s", "echo out", "--framing", "mark", "--timeout", "0.5")
    finally:
        lock.close()
    assert (r.returncode, r.stdout) == (124, b"")
    assert r.stderr == (b"korctl: run timed out after 0.5s waiting for another run on session 's' to finish; "
                        b"nothing was typed\n")
    assert shell.inputs == []


def holds_file(pid, path):
    fds = "/proc/%d/fd" % pid
    try:
        return any(os.readlink(os.path.join(fds, fd)) == path for fd in os.listdir(fds))
    except OSError:
        return False


def test_a_lock_file_removed_while_a_run_waits_on_it_is_not_taken(env):
    # gc removes the lock file of a session that ended long ago; a run that was waiting on the
    # removed file must take the lock under the name, which another run may hold meanwhile.
    shell = FakeShell(env, marker_shell(b"out\r\n", b"0"), history=ON + b"$ ")
    path = os.path.join(env.control, "s.runlock")
    removed = hold_run_lock(env)
    run = subprocess.Popen([env.binary, "run", "s", "echo out", "--framing", "mark", "--timeout", "2"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env.env)
    try:
        assert wait_for(lambda: holds_file(run.pid, path))
        os.unlink(path)
        current = hold_run_lock(env)
        removed.close()
        out, err = run.communicate(timeout=60)
    finally:
        run.kill()
        run.wait()
    current.close()
    assert (run.returncode, out) == (124, b""), err
    assert b"waiting for another run" in err
    assert shell.inputs == []


def test_a_lock_file_that_is_a_link_is_refused(env):
    shell = FakeShell(env, marker_shell(b"out\r\n", b"0"))
    os.symlink("/tmp/elsewhere", os.path.join(env.control, "s.runlock"))
    r = env.korctl("run", "s", "echo out", "--framing", "mark")
    assert r.returncode == 2
    assert r.stderr.startswith(b"korctl run: cannot lock session 's' for the run (")
    assert shell.inputs == []


C, D = b"\x1b]133;C\x07", b"\x1b]133;D;0\x07"


@pytest.mark.parametrize("framing,react,said,interrupted", [
    # A typed marker frame whose command started, printed, and never ended.
    ("mark", lambda f: b"" if f == b"\x03" else b"> KORCTL_" + token_of(f) + b"\r\nstart\r\n",
     b"; no interrupt sent (the command may still be running)", False),
    # A pasted OSC frame: the output after the C mark, cleaned.
    ("osc133", lambda f: b"" if f == b"\x03" else f + b"\r\n" + C + OFF + b"\rstart\r\n",
     b"; interrupt sent", True),
])
def test_a_time_out_keeps_what_the_command_printed(env, framing, react, said, interrupted):
    shell = FakeShell(env, react, history=ON + b"\x1b]133;A\x07$ ")
    r = env.korctl("run", "s", "echo start; sleep 9", "--framing", framing, "--timeout", "0.5")
    assert (r.returncode, r.stdout) == (124, b"start\r\n")
    assert r.stderr == b"korctl: run timed out after 0.5s" + said + b"\n"
    assert (shell.inputs[-1] == b"\x03") == interrupted


def test_osc133_on_a_shell_without_marks_says_so(env):
    # The shell ran the paste and came back to its prompt, and no mark was ever seen.
    shell = FakeShell(env, lambda f: OFF + b"\r\nran\r\n" + ON + b"$ ", history=ON + b"$ ")
    r = env.korctl("run", "s", "touch x", "--framing", "osc133")
    assert (r.returncode, r.stdout) == (2, b"")
    assert r.stderr == (b"korctl: the shell of session 's' emitted no OSC 133 marks; the command was sent, but where "
                        b"it ends cannot be told (the shell needs an OSC 133 integration, or use --framing mark)\n")
    assert shell.inputs == [b"\x1b[200~ eval 'touch x'\x1b[201~\r"]  # no interrupt


def test_strip_gives_the_output_as_read_strip_does(env):
    FakeShell(env, marker_shell(b"\x1b[1;31mred\x1b[0m\r\n\x1b]0;t\x07x\r\n", b"3"), history=ON + b"$ ")
    r = env.korctl("run", "s", "x", "--framing", "mark", "--strip")
    assert (r.returncode, r.stdout, r.stderr) == (3, b"red\nx\n", b"")


def test_no_frame_while_the_shell_runs_a_command(env):
    prompt = b"\x1b]133;A\x07$ \x1b]133;B\x07"
    shell = FakeShell(env, osc_shell(b"hi\r\n"), history=ON + prompt + b"sleep 9\r\n" + C)
    r = env.korctl("run", "s", "echo hi", "--framing", "osc133", "--timeout", "0.5")
    assert (r.returncode, r.stdout) == (124, b"")
    assert r.stderr == (b"korctl: run timed out after 0.5s waiting for the shell of session 's' to finish an "
                        b"earlier command; nothing was typed\n")
    assert shell.inputs == []
    # Once that command has ended, the run goes ahead, and its marks are its own.
    def end_it():
        with shell.lock:
            shell.out += b"\x1b]133;D;0\x07" + prompt
    threading.Timer(0.4, end_it).start()
    r = env.korctl("run", "s", "echo hi", "--framing", "osc133", "--timeout", "20")
    assert (r.returncode, r.stdout) == (0, b"hi\r\n"), r.stderr


def test_fish_gets_the_command_percent_encoded(env):
    shell = FakeShell(env, osc_shell(b"x\r\n"), history=ON + b"$ ", status=b"foreground=fish\n")
    assert env.korctl("run", "s", "echo 'a b'", "--framing", "osc133").returncode == 0
    assert shell.inputs == [b"\x1b[200~ eval (string unescape --style=url -- \"echo %27a b%27\" | string collect)"
                            b"\x1b[201~\r"]


def test_a_fresh_kor_directory_made_by_run_is_private(env):
    # A session reached by its socket path, in a HOME that has no ~/.kor yet: run makes the
    # control directory for the .framing file, and every directory it makes is 0700.
    elsewhere = tempfile.mkdtemp(prefix="ks", dir="/tmp")
    try:
        history = ON + SETUP + b"KORCTL_EC=0\r\n" + ON + b"$ "
        FakeShell(env, marker_shell(b"out\r\n", b"0"), history=history, name=None,
                  path=os.path.join(elsewhere, "x.sock"))
        assert not os.path.exists(os.path.join(env.home, ".kor"))
        r = env.korctl("run", os.path.join(elsewhere, "x.sock"), "echo out")
        assert (r.returncode, r.stdout) == (0, b"out\r\n"), r.stderr
        for d in (os.path.join(env.home, ".kor"), env.control):
            assert os.stat(d).st_mode & 0o777 == 0o700, d
        assert os.path.exists(os.path.join(elsewhere, "x.runlock"))
    finally:
        shutil.rmtree(elsewhere, ignore_errors=True)


@pytest.mark.parametrize("args", [["run", "nosuch", "x"], ["expect", "nosuch", "x"], ["wait", "nosuch"]])
def test_an_unreachable_session_is_one_message(env, args):
    r = env.korctl(*args)
    assert r.returncode == 2
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"


WAIT_READS = b"waitRead=1\n"


def test_collection_waits_in_a_daemon_that_serves_waiting_reads(env):
    shell = FakeShell(env, marker_shell(b"out\r\n", b"4"), history=ON + b"$ ", status=WAIT_READS)
    r = env.korctl("run", "s", "echo out", "--framing", "mark", "--timeout", "20")
    assert (r.returncode, r.stdout, r.stderr) == (4, b"out\r\n", b"")
    assert 3 not in shell.daemon.types()[shell.daemon.types().index(1):]  # after the frame: waiting reads only
    assert shell.waits and all(0 < w <= 10000 for w in shell.waits)


def test_waiting_reads_end_in_time_for_a_pasted_frame_to_be_given_up(env):
    # A pasted marker frame the shell never starts is given up 2 s after sending (400 ms after
    # its last output): no waiting read may outlast that, whatever the time limit.
    shell = FakeShell(env, lambda f: b"^C\r\n" + ON + b"$ " if f == b"\x03" else b"", history=ON + b"$ ",
                      status=WAIT_READS)
    with open(os.path.join(env.control, "s.framing"), "w") as f:
        f.write("1 0 0\n")
    started = time.monotonic()
    r = env.korctl("run", "s", "echo hi", "--timeout", "30")
    assert r.returncode == 125, r.stderr
    assert time.monotonic() - started < 6
    assert shell.inputs[-1] == b"\x03"
