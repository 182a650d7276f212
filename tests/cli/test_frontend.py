"""The command-line front end: overview, version, help, usage errors and their exit statuses."""
import os
import signal
import subprocess
import time

import pytest

from harness import KORCTL
from fakedaemon import Hang

OVERVIEW = b"""Control backgrounded Korvane (kor --ctl) sessions
Usage:
  korctl <command> [args]

  Open a reconnectable session in the background, then read its output and
  send it input. Run 'korctl <command> --help' for a command's options.
  NAME is a session name (its socket lives under ~/.kor/control) or a socket path.

  open        start a control session in the background (idempotent)
  kill        force-stop a session daemon (key NAME eof ends it cleanly)

  run         run a command; capture its verbatim output + exit code
  read        read output (non-destructive)
  expect      wait for a pattern in the output
  write       inject raw input bytes (no newline)
  writeln     inject a line (or a hidden password)

  key         inject named keys (arrows, interrupt, eof, ...)
  wait        wait until output goes quiet

  resize      set terminal size
  sniff       tap the byte exchange (sent + received)
  screen      print the current screen (rows as shown)
  observe     watch the live screen (read-only)
  attach      attach interactively (Ctrl-] to detach)

  sessions    list control sessions (+ saved ones with no socket)
  info        show session status
  gc          remove dead session sockets

  mcp         serve sessions as tools to an AI agent (MCP over stdio)

  -h, --help     show this overview (or `korctl <command> --help`)
  -v, --version  print the korctl version
"""


def test_overview_goes_where_it_was_asked_for(env):
    """Asked for, the overview is the result on standard output; korctl alone is a usage error."""
    for args in (["--help"], ["-h"], ["help"], ["-h", "read"], ["help", "help"]):
        r = env.korctl(*args)
        assert (r.returncode, r.stdout, r.stderr) == (0, OVERVIEW, b""), args
    r = env.korctl()
    assert (r.returncode, r.stdout, r.stderr) == (2, b"", OVERVIEW)


def test_help_overview_pipes_into_a_pager(env):
    r = subprocess.run(f"'{KORCTL}' --help | head -1", shell=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=env.env, timeout=30)
    assert (r.stdout, r.stderr) == (OVERVIEW.split(b"\n")[0] + b"\n", b"")


@pytest.mark.parametrize("word,hint", [
    ("nosuch", b""), ("tail", b""), ("rn", b"korctl: did you mean 'run'?\n"),
    ("sesions", b"korctl: did you mean 'sessions'?\n"), ("Read", b"korctl: did you mean 'read'?\n"),
])
def test_help_of_an_unknown_command(env, word, hint):
    r = env.korctl("help", word)
    assert (r.returncode, r.stdout) == (0, OVERVIEW)
    assert r.stderr == b"korctl help: unknown command '" + word.encode() + b"'\n" + hint


@pytest.mark.parametrize("word", ["-v", "version", "--version"])
def test_version(env, word):
    r = env.korctl(word, "ignored")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"korctl version 7.1.1\n", b"")


@pytest.mark.parametrize("word,hint", [
    ("", b""), ("tail", b""), ("bogus", b""), ("Read", b"korctl: did you mean 'read'?\n"),
    ("rn", b"korctl: did you mean 'run'?\n"), ("atach", b"korctl: did you mean 'attach'?\n"),
    ("hlep", b"korctl: did you mean 'help'?\n"), ("sesions", b"korctl: did you mean 'sessions'?\n"),
    ("writ", b""),  # wait and write are both one edit away
])
def test_unknown_command(env, word, hint):
    r = env.korctl(word)
    assert r.returncode == 2
    assert r.stdout == b""
    assert r.stderr == b"korctl: unknown command '" + word.encode() + b"'\n" + OVERVIEW + hint


def help_of(env, *args):
    r = env.korctl(*args)
    assert r.returncode == 0 and r.stderr == b""
    return r.stdout.decode()


# (command, description, usage line, option lines that must appear)
HELP = [
    ("info", "Show session status (liveness, link, size, cursor).", "korctl info NAME", []),
    ("kill", "Force-stop a session's local daemon.", "korctl kill NAME [--wait[=S]]",
     ["--wait [=arg(=10)]", "Block until the session has actually ended (default 10s, --wait=S)"]),
    ("read", "Read session output without consuming it.", "korctl read NAME [OPTION...]",
     ["--cursor arg", "Start at byte offset N (default: oldest retained)", "--strip", "Remove ANSI escape sequences",
      "--follow", "Tail new output until interrupted (Ctrl-C)", "--timeout arg",
      "Wait up to S seconds for new output, then return"]),
    ("observe", "Watch the live screen, read-only (Ctrl-C/Ctrl-] to detach).", "korctl observe NAME [OPTION...]",
     ["--tail", "Start at the current head (only show new output)", "--no-resize"]),
    ("attach", "Attach interactively (Ctrl-] to detach).", "korctl attach NAME [OPTION...]", ["--no-resize"]),
    ("sessions", "List control sessions, and saved sessions with no control socket.", "korctl sessions", []),
    ("sniff", "Tap the byte exchange (sent input + received output).", "korctl sniff NAME [OPTION...]",
     ["Start at the current head (only show new records)", "Keep streaming the exchange until interrupted (Ctrl-C)"]),
    ("wait", "Wait until the session output goes quiet.", "korctl wait NAME [OPTION...]",
     ["--idle arg", "Required quiet period in seconds (default: 0.5)", "Seconds before giving up (default: 30)"]),
    ("write", "Inject raw input bytes (a TEXT arg, or stdin).", "korctl write NAME [TEXT]", []),
    ("writeln", "Inject a line of input (or a hidden password).", "korctl writeln NAME [TEXT] [--secret]",
     ["--secret", "Read the line hidden via getpass (e.g. a password); from a pipe, the first line of standard "
      "input"]),
    ("key", "Inject named keys (arrows, function keys, interrupt/eof, ...).", "korctl key NAME KEY...", []),
    ("run", "Run a command; print its output verbatim, exit with its code.", "korctl run NAME CMD [OPTION...]",
     ["(default: 60)", "--framing arg", "(default: auto)", "mark (echo-marker here-doc; works on any", "--strip"]),
    ("expect", "Wait for a pattern to appear in the output.", "korctl expect NAME PATTERN [OPTION...]",
     ["--from-start", "--exact", "Match PATTERN as a literal substring, not a regex",
      "Scan output from byte offset N (capture it before writing to avoid races)", "--after-input"]),
    ("resize", "Set the session's terminal size.", "korctl resize NAME ROWS COLS", []),
    ("mcp", "Serve the sessions as tools for AI agents (Model Context Protocol on stdio).", "korctl mcp",
     ["End of input ends", "session_open Open a terminal session"]),
    ("gc", "Remove dead session sockets (and, with --idle, end idle sessions).",
     "korctl gc [--idle [DUR]] [--force] [--dry-run]",
     ["--idle [=arg(=8h)]", "--force", "Stop idle sessions outright, skipping the", "--dry-run"]),
]


@pytest.mark.parametrize("command,description,usage,options", HELP, ids=[h[0] for h in HELP])
def test_command_help(env, command, description, usage, options):
    text = help_of(env, "help", command)
    assert text.startswith(description + "\nUsage:\n  " + usage + "\n\n  -h, --help")
    assert "Print help" in text
    flowing = " ".join(text.split())  # help texts wrap at the library's column width
    for line in options:
        assert line in flowing, line
    # positional arguments are not listed
    assert "session name or socket path" not in text and "NAME arg" not in text
    if command not in ("gc",):
        assert help_of(env, command, "--help") == text


def test_help_before_other_checks(env):
    assert help_of(env, "read", "--help").startswith("Read session output")
    assert help_of(env, "sessions", "--help").startswith("List control sessions")
    assert help_of(env, "run", "--help", "--framing=bogus").startswith("Run a command")


OPEN_HELP = """Start a control session in the background (idempotent).
Usage:
  korctl open NAME [user@]host[:port] [OPTION...]

  -h, --help  Print help
  ...         Passed through to kor (see `kor --help`); --command
              is merged into the session's setup

  NAME is the session name (korctl supplies kor's --name);
  if NAME is already running it does nothing.  HOST comes
  before any kor options.
"""


@pytest.mark.parametrize("args", [["open", "--help"], ["open", "x", "host", "--help"], ["open", "--name", "-h"]])
def test_open_help_anywhere(env, args):
    assert help_of(env, *args) == OPEN_HELP
    assert not os.path.exists(env.control)


def test_help_open_shows_generic_table(env):
    assert help_of(env, "help", "open") == \
        "Start a control session in the background (idempotent).\nUsage:\n  korctl open NAME\n\n  -h, --help  Print help\n"


@pytest.mark.parametrize("args,message", [
    (["read"], b"korctl read: missing session NAME\n"),
    (["info"], b"korctl info: missing session NAME\n"),
    (["run", "s"], b"korctl run: missing CMD\n"),
    (["run", "s", "true", "--framing=OSC133"], b"korctl run: unknown --framing 'OSC133' (want auto|osc133|mark)\n"),
    (["run", "s", "true", "--framing", ""], b"korctl run: unknown --framing '' (want auto|osc133|mark)\n"),
    (["expect", "s"], b"korctl expect: missing PATTERN\n"),
    (["resize", "s", "24"], b"korctl resize: NAME ROWS COLS\n"),
    (["run", "s", "ls", "-l"], b"korctl run: Option 'l' does not exist\n"),
    (["info", "s", "--bogus"], b"korctl info: Option 'bogus' does not exist\n"),
    (["read", "s", "--cursor", "abc"], b"korctl read: Argument 'abc' failed to parse\n"),
    (["resize", "s", "x", "80"], b"korctl resize: Argument 'x' failed to parse\n"),
    (["wait", "s", "--timeout"], b"korctl wait: Option 'timeout' is missing an argument\n"),
])
def test_usage_errors(env, args, message):
    r = env.korctl(*args)
    assert (r.returncode, r.stdout, r.stderr) == (2, b"", message)


def test_no_file_created_in_working_directory(env, tmp_path):
    env.fake("s", [Hang(0)])
    for args in (["info", "s"], ["info", "nosuch"], ["read", "--bogus"], ["help", "read"], ["sessions"]):
        env.korctl(*args, cwd=str(tmp_path))
    assert os.listdir(tmp_path) == []


def test_interrupt_exits_130_without_output(env):
    env.fake("s", [Hang(20)])
    proc = subprocess.Popen([KORCTL, "info", "s"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env.env)
    time.sleep(0.5)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=10)
    assert (proc.returncode, out, err) == (130, b"", b"")


def test_no_home_directory_is_a_clear_error(env):
    environment = {k: v for k, v in env.env.items() if k != "HOME"}
    r = subprocess.run(["setpriv", "--reuid=54321", "--regid=54321", "--clear-groups", KORCTL, "info", "s"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment, cwd="/", timeout=30)
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", b"korctl: Could not determine user home directory\n")


@pytest.mark.parametrize("args", [["--version"], ["--help"], ["help"], ["help", "read"], ["read", "--help"],
                                  ["open", "-h"], ["gc", "--help"]])
def test_unwritable_standard_output_is_a_failure(env, args):
    with open("/dev/full", "wb") as full:
        r = subprocess.run([KORCTL, *args], stdout=full, stderr=subprocess.PIPE, env=env.env, timeout=30)
    assert r.returncode == 1
    assert r.stderr == b"korctl: cannot write standard output: No space left on device\n"
