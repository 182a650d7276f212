"""korctl run on real shells: every shell, each in its own session shared by the cases of this
module, must give the exact output (only the terminal's CR LF for LF) and exit status."""
import os
import shutil
import socket
import struct
import subprocess
import time

import pytest

from harness import Env, seen

pytestmark = pytest.mark.e2e

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
    def __init__(self, key, path, traits, rc=None, fish=False, probed=False):
        self.key, self.path, self.traits = key, path, traits
        self.osc = traits.split()[1] == "1"
        self.typed = traits.split()[0] == "0"  # no bracketed paste: frames are typed, never interrupted
        self.rc = rc              # (file under HOME, text): an rc file, e.g. an OSC 133 integration
        self.fish = fish          # fish syntax; no here-documents, so no --framing mark
        self.probed = probed      # detection has to probe (the set-up echo is not in the history)


# traits: the .framing file auto detection is expected to write ("paste osc status").
SHELLS = [
    Shell("bash", "/bin/bash", "1 0 0\n"),
    Shell("dash", "/bin/dash", "0 0 0\n"),
    Shell("zsh", "/usr/bin/zsh", "1 0 1\n", rc=(".zshrc", "")),  # no new-user menu
    Shell("fish", "/usr/bin/fish", "1 0 1\n", fish=True),
    Shell("mksh", "/bin/mksh", "0 0 0\n"),
    Shell("ksh93", "/bin/ksh93", "0 0 0\n"),
    # Without a ~/.yashrc yash loads settings with nounset ($status then fails); its line editor
    # needs le-no-conv-meta to take UTF-8 input.
    Shell("yash", "/usr/bin/yash", "0 0 0\n", rc=(".yashrc", "set --le-no-conv-meta\n")),
    Shell("busybox", "busybox", "0 0 0\n"),
    Shell("bash-osc", "/bin/bash", "1 1 0\n", rc=(".bash_profile", BASH_OSC)),
    Shell("zsh-osc", "/usr/bin/zsh", "1 1 1\n", rc=(".zshrc", ZSH_OSC)),
    # fish 3.6 sets and resets its colours after fish_preexec, behind the C mark: leading noise.
    Shell("fish-osc", "/usr/bin/fish", "1 1 1\n", rc=(".config/fish/config.fish", FISH_OSC), fish=True),
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
    return env, Session(env, shell, name)


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


def assert_result(r, out, status):
    assert (r.stdout, r.returncode) == (out, status), r.stderr


@pytest.mark.parametrize("cmd,out,status", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_auto_exact_output_and_status(session, cmd, out, status):
    r = session.run(cmd)
    assert_result(r, out, status)
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
    assert_result(r, b"".join(b"%d\r\n" % i for i in range(1, 200001)), 0)


# A generated script of about 100 kB whose lines hold every quoting character; the same text
# in POSIX shells and fish.
SCRIPT = "\n".join("printf '%%s\\n' 'line %d \"q\" $x `y` \\ ;|&'" % i for i in range(2500))
SCRIPT_OUT = b"".join(b'line %d "q" $x `y` \\ ;|&\r\n' % i for i in range(2500))


def test_long_line_runs_whole(session):
    r = session.run("echo " + "a" * 6000 + " | wc -c")  # longer than any shell keeps of a typed line
    assert (r.stdout.strip(), r.returncode) == (b"6001", 0), r.stderr


def test_100kB_script_runs_exactly(session):
    assert len(SCRIPT) > 100000
    assert_result(session.run(SCRIPT), SCRIPT_OUT, 0)


def test_state_is_kept_between_runs(session):
    set_var = "set -g KV 'v 1'" if session.shell.fish else "KV='v 1'"
    assert session.run(set_var).returncode == 0
    assert session.run("cd /tmp").returncode == 0
    assert_result(session.run('echo "$KV"; pwd'), b"v 1\r\n/tmp\r\n", 0)


def test_explicit_framings(session):
    framings = ([] if session.shell.fish else ["mark"]) + (["osc133"] if session.shell.osc else [])
    if not framings:
        pytest.skip("fish has no here-documents, and no OSC 133 marks without an integration")
    for framing in framings:
        r = session.run("echo " + framing + "; printf 'x\\n'; sh -c 'exit 5'", "--framing", framing)
        assert_result(r, lines(framing.encode() + b"\nx\n"), 5)


def test_strip(session):
    r = session.run("printf '\\033[1;31mred\\033[0m\\n'; echo plain", "--strip")
    assert_result(r, b"red\nplain\n", 0)


@pytest.mark.parametrize("cmd", ["echo a; )", "echo 'unterminated"], ids=["syntax-error", "unterminated-quote"])
def test_syntax_errors_give_the_shell_s_own_error(session, cmd):
    started = time.monotonic()
    r = session.run(cmd, "--timeout", "30")
    # The shell's failure status and its error text, at once: never the time limit (124), never
    # the continuation-prompt abort (125), whose interrupt would cut the text short.
    assert r.returncode not in (0, 124, 125), r.stderr
    assert r.stdout.strip() and r.stderr == b""
    assert time.monotonic() - started < 20
    if session.shell.key in ("bash", "dash", "busybox", "bash-osc"):
        assert r.returncode == 2
    assert_result(session.run("echo fine"), b"fine\r\n", 0)


def test_time_out_keeps_what_was_printed(session):
    r = session.run("echo start; sleep 4; echo late", "--timeout", "1.5")
    assert (r.returncode, r.stdout) == (124, b"start\r\n")
    said = (b"; no interrupt sent (the command may still be running)" if session.shell.typed else
            b"; interrupt sent")
    assert r.stderr == b"korctl: run timed out after 1.5s" + said + b"\n"
    if session.shell.typed:
        assert session.env.korctl("key", "s", "interrupt").returncode == 0
    assert_result(session.run("echo after"), b"after\r\n", 0)


def test_concurrent_runs_take_turns(session):
    first = subprocess.Popen([session.env.binary, "run", "s", "sleep 1; echo A-done"], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=session.env.env)
    time.sleep(0.3)
    second = session.run("echo B-done; false")  # each its own status too
    out, err = first.communicate(timeout=120)
    assert (out, first.returncode) == (b"A-done\r\n", 0), err
    assert_result(second, b"B-done\r\n", 1)


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
        assert_result(sess.run("echo probed"), b"probed\r\n", 0)
        with open(framing) as f:
            assert f.read() == shell.traits
    finally:
        close_session(env)


@pytest.mark.parametrize("path,traits,rc,listing", [
    ("/bin/bash", "1 0 0\n", (".bash_profile", "HISTCONTROL=ignoreboth\n"), "history"),
    ("/usr/bin/zsh", "1 0 1\n", (".zshrc", "setopt HIST_IGNORE_SPACE\n"), "fc -ln 1"),
], ids=["bash", "zsh"])
def test_frames_stay_out_of_the_history(path, traits, rc, listing):
    env, sess = open_session(Shell("h", path, traits, rc=rc))
    try:
        assert_result(sess.run("echo ran"), b"ran\r\n", 0)
        head = env.head("s")
        assert env.korctl("writeln", "s", "echo typed").returncode == 0  # what a user types is kept
        assert seen(env.socket_path("s"), b"typed\r\n", head)
        r = sess.run(listing)
        assert r.returncode == 0 and b"echo typed" in r.stdout, r.stdout
        assert b"KORCTL" not in r.stdout and b"echo ran" not in r.stdout, r.stdout
    finally:
        close_session(env)
