"""korctl run on real shells: every shell, each in its own session shared by the cases of this
module, must give the exact output (only the terminal's CR LF for LF) and exit status."""
import os
import re
import shutil
import socket
import struct

import pytest

from harness import Env, wait_for

pytestmark = pytest.mark.e2e

# The result line of the set-up line's echo (its typed echo shows `$status` instead).
SETUP_DONE = re.compile(rb"KORCTL_EC=[0-9]*\r*\n")

# C once per prompt, also when a multi-line paste runs line by line (as preexec hooks do).
BASH_OSC = r"""
PS0='${__osc_c-\e]133;C\a}${__osc_c:=}'
PROMPT_COMMAND='printf "\e]133;D;%s\a" "$?"; unset __osc_c'
PS1='\[\e]133;A\a\]\$ \[\e]133;B\a\]'
"""
ZSH_OSC = r"""
precmd() { local s=$?; printf '\e]133;D;%s\a\e]133;A\a' $s }
preexec() { printf '\e]133;C\a' }
PS1='%# '
"""
FISH_OSC = r"""
function __osc_c --on-event fish_preexec
    printf '\e]133;C\a'
end
function __osc_d --on-event fish_postexec
    printf '\e]133;D;%s\a' $status
end
"""


class Shell:
    def __init__(self, key, path, traits, unterminated, rc=None, fish=False, probed=False, noise=b""):
        self.key, self.path, self.traits = key, path, traits
        self.osc = traits.split()[1] == "1"
        self.unterminated = unterminated  # how a run of an unterminated quote ends
        self.rc = rc              # (file under HOME, text): an rc file, e.g. an OSC 133 integration
        self.fish = fish          # fish syntax; no here-documents, so no --framing mark
        self.probed = probed      # detection has to probe (the set-up echo is not in the history)
        self.noise = noise        # what the shell prints between its C mark and a command's output


# fish 3.6 resets its colours after running fish_preexec, so behind an rc-file C mark every
# output starts with this (the trailing CR of it only when the output is not empty).
FISH_RESET = b"\x1b[30m\x1b(B\x1b[m"

# traits: the .framing file auto detection is expected to write ("paste osc status").
# unterminated: "aborted" (125: a pasted frame never started), "parked" (124 with the parked
# message: a pasted marker frame started), "error" (the shell's own error status: a typed frame),
# "timeout" (124: the shell drops the rest of a typed frame's line on the syntax error, so the
# end line never comes).
SHELLS = [
    Shell("bash", "/bin/bash", "1 0 0\n", "parked"),
    Shell("dash", "/bin/dash", "0 0 0\n", "timeout"),
    Shell("zsh", "/usr/bin/zsh", "1 0 1\n", "aborted", rc=(".zshrc", "")),  # no new-user menu
    Shell("fish", "/usr/bin/fish", "1 0 1\n", "aborted", fish=True),
    Shell("mksh", "/bin/mksh", "0 0 0\n", "timeout"),
    Shell("ksh93", "/bin/ksh93", "0 0 0\n", "error"),
    # Without a ~/.yashrc yash loads settings with nounset ($status then fails); its line editor
    # needs le-no-conv-meta to take UTF-8 input.
    Shell("yash", "/usr/bin/yash", "0 0 0\n", "error", rc=(".yashrc", "set --le-no-conv-meta\n")),
    Shell("busybox", "busybox", "0 0 0\n", "timeout"),
    Shell("bash-osc", "/bin/bash", "1 1 0\n", "aborted", rc=(".bash_profile", BASH_OSC)),
    Shell("zsh-osc", "/usr/bin/zsh", "1 1 1\n", "aborted", rc=(".zshrc", ZSH_OSC)),
    Shell("fish-osc", "/usr/bin/fish", "1 1 1\n", "timeout", rc=(".config/fish/config.fish", FISH_OSC), fish=True,
          noise=FISH_RESET),
]


class Session:
    def __init__(self, env, shell, name):
        self.env, self.shell, self.name = env, shell, name

    def run(self, cmd, *args, timeout=120):
        return self.env.korctl("run", self.name, cmd, *args, timeout=timeout)

    def output(self):
        """Everything the session has retained, read straight off the control socket."""
        s = socket.socket(socket.AF_UNIX)
        s.connect(self.env.socket_path(self.name))
        s.sendall(struct.pack(">BIq", 3, 8, 0))
        data = b""
        while True:
            chunk = s.recv(1 << 16)
            if not chunk:
                break
            data += chunk
        s.close()
        return data[5 + 9:]


def open_session(shell, name="s", extra=()):
    env = Env.create()
    home = env.home
    path = shell.path
    if path == "busybox":
        os.makedirs(os.path.join(home, "bin"))
        path = os.path.join(home, "bin", "ash")
        os.symlink(shutil.which("busybox"), path)
    if shell.rc:
        rc = os.path.join(home, shell.rc[0])
        os.makedirs(os.path.dirname(rc), exist_ok=True)
        with open(rc, "w") as f:
            f.write(shell.rc[1])
    env.open(name, path, *extra)
    sess = Session(env, shell, name)
    # kor returns once the set-up line is typed, not once the shell has run it; a run sent
    # before then would take the set-up line's marks (fish: the C and D;2 of `set +o`) for its own.
    assert wait_for(lambda: SETUP_DONE.search(sess.output()), 30), sess.output()
    return env, sess


def close_session(env):
    env.close()


@pytest.fixture(scope="module", params=SHELLS, ids=[s.key for s in SHELLS])
def session(request):
    env, sess = open_session(request.param)
    try:
        yield sess
    finally:
        close_session(env)


def lines(text):
    return text.replace(b"\n", b"\r\n")


QUOTED = r"""printf '%s\n' 'a"b' "c'd" '$HOME' '`x`' 'back\slash'
"""
QUOTED_OUT = lines(b'a"b\nc\'d\n$HOME\n`x`\nback\\slash\n')

# (id, command, expected output, expected status); every line ends the same on every shell.
CASES = [
    ("no-output", "true", b"", 0),
    ("false", "false", b"", 1),
    ("status-42", "sh -c 'exit 42'", b"", 42),
    ("no-final-newline", "printf abc", b"abc", 0),
    ("multi-line", "echo one\necho two\nsh -c 'exit 3'", lines(b"one\ntwo\n"), 3),
    ("quotes", QUOTED, QUOTED_OUT, 0),
    ("non-ascii", "echo 'grüße ✓ 日本'", lines("grüße ✓ 日本\n".encode()), 0),
    ("marker-like", "echo KORCTL_0a1b2c3d:0; echo KORCTL_12345678; echo KORCTL_BODY_x",
     lines(b"KORCTL_0a1b2c3d:0\nKORCTL_12345678\nKORCTL_BODY_x\n"), 0),
    ("stderr", "echo err >&2; echo out", lines(b"err\nout\n"), 0),
    ("session-name", 'echo "k=$KORCTL_SESSION"', b"k=s\r\n", 0),  # the set-up line ran whole
]


def assert_result(sess, r, out, status):
    got = r.stdout
    if sess.shell.noise and got.startswith(sess.shell.noise):
        got = got[len(sess.shell.noise):]
        if got.startswith(b"\r"):
            got = got[1:]
    assert (got, r.returncode) == (out, status), r.stderr


@pytest.mark.parametrize("cmd,out,status", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_auto_exact_output_and_status(session, cmd, out, status):
    r = session.run(cmd)
    assert_result(session, r, out, status)
    assert r.stderr == b""


def test_auto_detection_writes_expected_traits(session):
    assert session.run("true").returncode == 0
    with open(os.path.join(session.env.control, "s.framing")) as f:
        assert f.read() == session.shell.traits
    probes = session.output().count(b"KORCTL_OSCPROBE_")
    assert (probes > 0) == session.shell.probed
    # The next run reads the file and types no probe.
    assert session.run("true").returncode == 0
    assert session.output().count(b"KORCTL_OSCPROBE_") == probes


def test_large_output(session):
    r = session.run("seq 200000")
    assert_result(session, r, b"".join(b"%d\r\n" % i for i in range(1, 200001)), 0)


def test_state_is_kept_between_runs(session):
    set_var = "set -g KV 'v 1'" if session.shell.fish else "KV='v 1'"
    assert session.run(set_var).returncode == 0
    assert session.run("cd /tmp").returncode == 0
    assert_result(session, session.run('echo "$KV"; pwd'), b"v 1\r\n/tmp\r\n", 0)


def test_explicit_framings(session):
    framings = ([] if session.shell.fish else ["mark"]) + (["osc133"] if session.shell.osc else [])
    if not framings:
        pytest.skip("fish has no here-documents, and no OSC 133 marks without an integration")
    for framing in framings:
        r = session.run("echo " + framing + "; printf 'x\\n'; sh -c 'exit 5'", "--framing", framing)
        assert_result(session, r, lines(framing.encode() + b"\nx\n"), 5)


def test_timeout_leaves_session_usable(session):
    r = session.run("sleep 2", "--timeout", "0.5")
    assert (r.returncode, r.stdout, r.stderr) == (124, b"", b"korctl: run timed out after 0.5s\n")
    assert_result(session, session.run("echo after"), b"after\r\n", 0)


def test_unterminated_quote(session):
    expected = session.shell.unterminated
    r = session.run("echo 'unterminated", "--timeout", "2.5")
    if expected == "aborted":
        assert (r.returncode, r.stdout) == (125, b"")
        assert r.stderr == b"korctl: command looks incomplete (shell parked on a continuation prompt); aborted\n"
    elif expected == "parked":
        assert (r.returncode, r.stdout) == (124, b"")
        assert r.stderr == (b"korctl: no end marker after 2.5s; the shell looks parked on a continuation "
                            b"prompt (malformed body?)\n")
    elif expected == "timeout":
        assert (r.returncode, r.stdout, r.stderr) == (124, b"", b"korctl: run timed out after 2.5s\n")
    else:
        assert r.returncode not in (0, 124, 125), r.stderr
        assert r.stdout and r.stderr == b""
    assert_result(session, session.run("echo fine"), b"fine\r\n", 0)


@pytest.mark.parametrize("key", ["bash", "fish-osc"])
def test_probe_when_set_up_echo_is_gone(key):
    shell = next(s for s in SHELLS if s.key == key)
    env, sess = open_session(shell, "p", ("--scrollback", "1024"))
    try:
        # Push the set-up echo out of the retained output (the run itself loses its output to
        # the small buffer), and forget the traits.
        r = sess.run("seq 100000", "--framing", "osc133" if shell.osc else "mark")
        assert (r.returncode, r.stdout) == (2, b"")
        assert b"output outran the session buffer" in r.stderr
        framing = os.path.join(env.control, "p.framing")
        if os.path.exists(framing):
            os.unlink(framing)
        assert_result(sess, sess.run("echo probed"), b"probed\r\n", 0)
        with open(framing) as f:
            assert f.read() == shell.traits
    finally:
        close_session(env)
