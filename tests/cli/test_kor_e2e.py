"""The real daemon with real shells: start-up, input, resize, kill and the end of a session."""
import os

import pytest

from harness import seen, wait_for
import kor_wire as kw

SHELLS = [s for s in ("/bin/bash", "/bin/dash", "/usr/bin/zsh", "/usr/bin/fish", "/usr/bin/mksh")
          if os.access(s, os.X_OK)]

pytestmark = [pytest.mark.e2e, pytest.mark.daemon]


@pytest.fixture(autouse=True)
def quiet_zsh(env):
    """zsh greets a user without start-up files with a set-up menu (not root) that eats input."""
    open(os.path.join(env.home, ".zshrc"), "w").close()


@pytest.mark.parametrize("shell", SHELLS)
def test_shell_session_lifecycle(env, shell):
    env.open("s", shell)
    path = env.socket_path("s")
    assert seen(path, b"KORCTL_EC=")
    head = int(kw.status(path)["headCursor"])
    kw.send(path, b"echo one''42''two\n")
    assert seen(path, b"one42two", head)

    assert env.korctl("resize", "s", "30", "100").returncode == 0
    info = env.korctl("info", "s").stdout.decode()
    assert "rows=30\n" in info and "cols=100\n" in info
    kw.send(path, b"stty size\n")
    assert seen(path, b"30 100", head)

    r = env.korctl("kill", "s", "--wait")
    assert r.returncode == 0, r.stderr
    assert not os.path.exists(path)
    r = env.korctl("info", "s")
    assert r.returncode == 1
    assert b"ended: killed by request" in r.stderr


@pytest.mark.parametrize("shell", SHELLS)
def test_shell_exit_status_becomes_the_ended_reason(env, shell):
    env.open("s", shell)
    path = env.socket_path("s")
    assert seen(path, b"KORCTL_EC=")
    kw.send(path, b"exit 3\n")
    assert wait_for(lambda: not os.path.exists(path), 15)
    r = env.korctl("info", "s")
    assert r.returncode == 1
    assert b"korctl: session 's' ended: shell exited with status 3 (" in r.stderr
