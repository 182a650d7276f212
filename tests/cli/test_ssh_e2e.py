"""Remote sessions over a real sshd on a loopback port, started and stopped by these tests:
the core loop with bash and zsh as the remote login shell, what ssh asks before the login
(an unknown host key, a passphrase, a password), logins that fail, and the remote side going
away."""
import os
import re
import time

import pytest

from harness import wait_for, writeln_secret
from sshd import Sshd, free_ports, keygen

pytestmark = pytest.mark.e2e

SENT = "\u00bb ".encode()  # sniff's mark of input sent to the session


@pytest.fixture(scope="module")
def server():
    sshd = Sshd(shells=("/bin/bash", "/usr/bin/zsh"))
    open(os.path.join(sshd.dir, "remote-home", ".zshrc"), "w").close()  # no new-user menu
    yield sshd
    sshd.cleanup()


def through(env, server, **client):
    """Makes the session's ssh the server's client (its own config, key and known hosts)."""
    path = server.client(os.path.basename(env.home), **client)
    env.env["PATH"] = path + ":" + env.env["PATH"]
    return path


def open_remote(env, host, status=0):
    r = env.korctl("open", "r", host, timeout=60)
    env.opened.append("r")
    assert r.returncode == status, r.stderr.decode()
    return r.stderr.decode()


def next_cursor(result):
    return int(re.search(rb"^next-cursor: (\d+)$", result.stderr, re.M).group(1))


def status_of(env):
    return dict(line.split("=", 1) for line in env.korctl("info", "r").stdout.decode().splitlines() if "=" in line)


def sent_records(env):
    return [line for line in env.korctl("sniff", "r").stdout.split(b"\n") if line.startswith(SENT)]


@pytest.mark.parametrize("shell", ["/bin/bash", "/usr/bin/zsh"])
def test_core_loop_over_ssh(env, server, shell):
    through(env, server)
    assert open_remote(env, server.host(shell)) == ""
    status = status_of(env)
    assert (status["login"], status["connected"], status["host"]) == ("done", "1", server.host(shell))

    r = env.korctl("run", "r", 'echo "on $KORCTL_SESSION"; (exit 4)')
    assert (r.returncode, r.stdout, r.stderr) == (4, b"on r\r\n", b"")
    r = env.korctl("run", "r", "printf '%s\\n' \"$HOME\"")  # the remote side's home, not ours
    assert (r.returncode, r.stdout) == (0, os.path.join(server.dir, "remote-home").encode() + b"\r\n")

    cursor = next_cursor(env.korctl("read", "r"))
    env.korctl("writeln", "r", "echo for''ty-two")
    r = env.korctl("expect", "r", "forty-two", "--cursor", str(cursor), "--timeout", "20")
    assert r.returncode == 0, r.stderr
    assert b"forty-two" in env.korctl("read", "r", "--strip", "--cursor", str(cursor)).stdout

    cursor = next_cursor(env.korctl("read", "r"))
    env.korctl("writeln", "r", "read -rs v; echo got-${#v}")
    assert writeln_secret(env, b"hunter2ssh", name="r") == 0
    assert env.korctl("expect", "r", "got-10", "--cursor", str(cursor), "--timeout", "20").returncode == 0
    assert b"hunter2ssh" not in env.korctl("sniff", "r").stdout

    assert env.korctl("resize", "r", "33", "101").returncode == 0
    assert env.korctl("run", "r", "stty size").stdout == b"33 101\r\n"

    assert env.korctl("kill", "r", "--wait").returncode == 0
    assert b"ended: killed by request" in env.korctl("info", "r").stderr


def test_unknown_host_key_is_asked_and_answered(env, server):
    known_hosts = os.path.join(through(env, server, known=False, strict="ask"), "known_hosts")
    said = open_remote(env, server.host(), status=3)
    assert "kor: session 'r' waits at a login prompt of " + server.host() in said
    assert "key fingerprint is SHA256:" in said  # what to check before answering
    assert "Are you sure you want to continue connecting (yes/no/[fingerprint])?" in said
    status = status_of(env)
    assert (status["login"], status["connected"]) == ("prompt", "0")
    assert status["loginPrompt"].startswith("Are you sure you want to continue connecting")

    # Nothing of korctl's own is typed into the prompt.
    r = env.korctl("run", "r", "true")
    assert r.returncode == 2
    assert b"korctl run: session 'r' waits at a login prompt: Are you sure" in r.stderr
    r = env.korctl("open", "r", server.host())
    assert r.returncode == 3 and b"waits at a login prompt" in r.stderr
    assert sent_records(env) == []

    assert env.korctl("writeln", "r", "yes").returncode == 0
    r = env.korctl("run", "r", 'echo "in $KORCTL_SESSION"')  # waits for the login to finish
    assert (r.returncode, r.stdout, r.stderr) == (0, b"in r\r\n", b"")
    assert server.host_key[1] in open(known_hosts).read()


def test_passphrase_prompt_answered_in_secret(env, server):
    through(env, server, identity="locked_key")
    said = open_remote(env, server.host(), status=3)
    assert "Enter passphrase for key '" in said
    assert writeln_secret(env, b"open sesame", name="r") == 0
    r = env.korctl("run", "r", 'echo "in $KORCTL_SESSION"')
    assert (r.returncode, r.stdout) == (0, b"in r\r\n")
    assert b"open sesame" not in env.korctl("sniff", "r").stdout


def failed_passwords(server):
    return server.log().count("Failed password")


def test_password_prompt_gets_nothing_but_the_answer(env, server):
    through(env, server, identity="no-such-key")
    before = failed_passwords(server)
    said = open_remote(env, server.host(port=server.password_port), status=3)
    assert "password:" in said
    r = env.korctl("run", "r", "true", "--timeout", "5")
    assert r.returncode == 2 and b"password:" in r.stderr
    time.sleep(0.5)
    assert failed_passwords(server) == before  # no set-up line or frame was tried as a password
    assert writeln_secret(env, b"wrong", name="r") == 0
    assert wait_for(lambda: failed_passwords(server) == before + 1, 20)
    assert wait_for(lambda: status_of(env).get("login") == "prompt", 20)  # asked again


@pytest.mark.parametrize("case", ["refused", "host key mismatch"])
def test_failed_login_ends_with_what_ssh_said(env, server, case, tmp_path):
    if case == "refused":
        through(env, server)
        host, words = f"{server.user}@127.0.0.1:{free_ports(1)[0]}", "Connection refused"
    else:
        keygen(str(tmp_path / "other"))
        through(env, server, known_key=open(tmp_path / "other.pub").read().split()[:2])
        host, words = server.host(), "Host key verification failed."
    start = time.monotonic()
    said = open_remote(env, host, status=1)
    assert time.monotonic() - start < 20
    assert f"kor: could not log in to {host}: ssh exited with status 255: " in said and words in said, said
    r = env.korctl("info", "r")
    assert r.returncode == 1
    assert b"ended: ssh exited with status 255: " in r.stderr and words.encode() in r.stderr


def test_remote_side_going_away_ends_the_session(env, server):
    through(env, server)
    open_remote(env, server.host())
    assert env.korctl("run", "r", "true").returncode == 0
    server.drop_connections()
    assert wait_for(lambda: not os.path.exists(env.socket_path("r")), 20)
    r = env.korctl("info", "r")
    # ssh's words follow the remote prompt on its line.
    assert re.search(rb"ended: ssh exited with status 255: .*Connection to 127.0.0.1 closed by remote host\. \(",
                     r.stderr), r.stderr
    start = time.monotonic()
    assert env.korctl("run", "r", "true").returncode != 0
    assert time.monotonic() - start < 10
