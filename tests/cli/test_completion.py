"""Completion of korctl command lines in bash, zsh and fish, driven through each shell's own
completion machinery against the installed tree. Expected candidates are read from korctl's
help, so the cases hold as commands, options and key names are added."""
import os
import re
import select
import subprocess
import time

import pytest

from harness import KORCTL

pytestmark = pytest.mark.e2e

SESSIONS = ["alpha", "beta"]


def help_of(*args):
    r = subprocess.run([KORCTL, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return r.stdout.decode()


def commands():
    return re.findall(r"^  ([a-z][a-z0-9-]*)  +[a-z]", help_of("--help"), re.M)


def options(command):
    return re.findall(r"^  (?:-\w, |    )(--[a-z][a-z0-9-]*)", help_of("help", command), re.M)


def key_names():
    return help_of("key", "--help").split("Key names:\n", 1)[1].split("\n\n", 1)[0].split()


def framings():
    """The framings run accepts, from its own refusal of a bad one."""
    message = subprocess.run([KORCTL, "run", "s", "true", "--framing=bogus"], stderr=subprocess.PIPE).stderr
    return re.search(r"\(want ([a-z0-9|]+)\)", message.decode()).group(1).split("|")


def cases():
    """(command line, the candidates it must offer, exact) with the word being typed last."""
    table = [
        ("korctl ", commands() + ["help"], True),
        ("korctl re", ["read", "resize"], True),
        ("korctl help ru", ["run"], True),
        ("korctl run s --framing ", framings(), True),
        ("korctl run s --framing=o", ["--framing=osc133"], True),
        ("korctl read ", SESSIONS, True),
        ("korctl kill b", ["beta"], True),
        ("korctl run --timeout 5 ", SESSIONS, True),  # the option's value is no positional
        ("korctl key alpha ", key_names(), True),
        ("korctl key alpha up pa", ["pagedown", "pageup"], True),
        ("korctl open x ", ["localhost"], False),
        ("korctl open x localhost --sh", ["--shell"], True),
        ("korctl open x localhost --size 9x9 --sc", ["--scrollback"], True),
        ("korctl run alpha ", [], True),  # CMD is the user's own text
        ("korctl sessions ", [], True),
    ]
    for command in commands():
        if command != "open":
            table.append((f"korctl {command} x --", options(command), True))
    return table


@pytest.fixture(scope="module")
def completion_env(installed, tmp_path_factory):
    """A private HOME with two session sockets, and the installed korctl first on PATH."""
    home = str(tmp_path_factory.mktemp("h"))
    control = os.path.join(home, ".kor", "control")
    os.makedirs(control, mode=0o700)
    for name in SESSIONS:
        open(os.path.join(control, name + ".sock"), "w").close()
    open(os.path.join(control, "alpha.framing"), "w").close()  # not a session
    env = {"HOME": home, "PATH": os.path.join(installed, "bin") + ":/usr/bin:/bin", "LC_ALL": "C.UTF-8",
           "TERM": "dumb", "XDG_DATA_DIRS": os.path.join(installed, "share")}
    return installed, home, env


def check(results):
    assert len(results) == len(cases())
    for (line, want, exact), got in zip(cases(), results):
        if exact:
            assert sorted(got) == sorted(want), line
        else:
            assert set(want) <= set(got), line


def bash_words(line):
    """COMP_WORDS as bash splits the line: "=" is a word of its own."""
    words = []
    for word in line.split(" "):
        pieces = word.split("=")
        for i, piece in enumerate(pieces):
            if i:
                words.append("=")
            if piece or i == len(pieces) - 1:
                words.append(piece)
    return [w for w in words[:-1] if w != ""] + [words[-1]]


BASH_DRIVER = r'''
if [ "$1" = loader ]; then
  source /usr/share/bash-completion/bash_completion
  __load_completion korctl || exit 3
else
  source "$2/share/bash-completion/completions/korctl"
fi
read -r -a registration <<< "$(complete -p korctl)"
function=${registration[2]}
while IFS= read -r line; do
  eval "COMP_WORDS=($line)"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" korctl "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" ::end::
done
'''


@pytest.mark.parametrize("mode", ["loader", "plain"])
def test_bash(completion_env, mode):
    """Through bash-completion's loader (which finds the script under XDG_DATA_DIRS), and
    sourced into a bash without bash-completion."""
    prefix, home, env = completion_env
    lines = "".join(" ".join("'" + w.replace("'", "'\\''") + "'" for w in bash_words(line)) + "\n"
                    for line, _, _ in cases())
    r = subprocess.run(["bash", "--norc", "--noprofile", "-c", BASH_DRIVER, "bash", mode, prefix],
                       input=lines.encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=env, cwd=home, timeout=120)
    assert r.returncode == 0, r.stderr.decode()
    replies = [block.split("\n") for block in r.stdout.decode().split("::end::\n")[:-1]]
    replies = [[w for w in block if w] for block in replies]
    # readline completes the text after an "=" on its own.
    expected_words = [[w.split("=", 1)[1] if "=" in line.split(" ")[-1] else w for w in want]
                      for line, want, _ in cases()]
    assert len(replies) == len(cases())
    for (line, _, exact), want, got in zip(cases(), expected_words, replies):
        if exact:
            assert sorted(got) == sorted(want), line
        else:
            assert set(want) <= set(got), line


def test_fish(completion_env):
    """fish's own `complete -C`, with the script found in XDG_DATA_DIRS' vendor directory."""
    _, home, env = completion_env
    script = "for line in $argv; complete -C $line; echo ::end::; end"
    r = subprocess.run(["fish", "-c", script, *[line for line, _, _ in cases()]],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=home, timeout=120)
    assert r.returncode == 0, r.stderr.decode()
    blocks = r.stdout.decode().split("::end::\n")[:-1]
    check([[entry.split("\t")[0] for entry in block.split("\n") if entry] for block in blocks])


ZSHRC = r'''
fpath=({prefix}/share/zsh/site-functions $fpath)
autoload -Uz compinit && compinit -u -D
unsetopt auto_list auto_menu list_beep beep
# Every match zsh would offer is logged, then an end line once the completion is done.
compadd() {{ local -a _m; builtin compadd -A _m "$@"; print -rl -- $_m >> {log}; builtin compadd "$@" }}
_logged_complete() {{ _main_complete; print -r -- ::end:: >> {log} }}
zle -C logged-complete complete-word _logged_complete
bindkey '^I' logged-complete
PS1='ready> '
'''


def test_zsh(completion_env, tmp_path):
    """zsh's completion system in an interactive zsh on a pseudo-terminal, TAB typed."""
    prefix, home, env = completion_env
    log = str(tmp_path / "log")
    (tmp_path / ".zshrc").write_text(ZSHRC.format(prefix=prefix, log=log))
    master, slave = os.openpty()
    shell = subprocess.Popen(["zsh", "-d", "-i"], stdin=slave, stdout=slave, stderr=slave, cwd=home,
                             env=dict(env, ZDOTDIR=str(tmp_path)), start_new_session=True)
    os.close(slave)
    seen = b""

    def drain_until(predicate, timeout=30):
        nonlocal seen
        deadline = time.monotonic() + timeout
        while not predicate():
            assert time.monotonic() < deadline, seen[-500:]
            if select.select([master], [], [], 0.05)[0]:
                seen += os.read(master, 65536)

    def logged():
        return open(log).read() if os.path.exists(log) else ""

    try:
        drain_until(lambda: b"ready> " in seen)
        results = []
        for line, _, _ in cases():
            open(log, "w").close()
            os.write(master, line.encode() + b"\t")
            drain_until(lambda: logged().endswith("::end::\n"))
            results.append([w for w in logged().split("\n")[:-2] if w])
            os.write(master, b"\x15")  # kill the line for the next case
        check(results)
    finally:
        shell.kill()
        shell.wait()
        os.close(master)
