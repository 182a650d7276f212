"""Files of the session store and the control directory, made the way their writers make them."""
import os
import pwd
import shutil
import socket
import subprocess
import time

NOBODY = pwd.getpwnam("nobody")


def store_dirs(env):
    """~/.kor and ~/.kor/sessions as the store's writer makes them (0700)."""
    for d in (os.path.dirname(env.sessions), env.sessions):
        os.makedirs(d, mode=0o700, exist_ok=True)
        os.chmod(d, 0o700)


def save_session(env, name, host="db", port=22, lastused=None, text=None, mode=0o600):
    """A saved session as the store's writer leaves it: dirs 0700, file 0600, eight lines."""
    store_dirs(env)
    if text is None:
        text = (f"version=1\nname={name}\nhost={host}\nport={port}\nid=id-{name}\n"
                f"passkey=secret\nsavedat=1700000000\ntitle=\n")
    path = os.path.join(env.sessions, name)
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)
    if lastused is not None:
        os.utime(path, (lastused, lastused))
    return path


def dead_socket(path):
    """A socket file nobody listens on any more: connecting is refused."""
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.bind(path)
    s.close()
    return path


def touch(path, text=""):
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    with open(path, "w") as f:
        f.write(text)
    return path


def status_handler(record):
    """Answers status requests with record (a callable gives a fresh one each time)."""
    from fakedaemon import Reply

    def handle(kind, payload):
        if kind == 4:
            text = record() if callable(record) else record
            return Reply(text.encode())
        return Reply()
    return handle


def nobody_home(env):
    """A HOME inside the test's HOME that belongs to nobody; skips when we cannot switch user."""
    import pytest
    if os.getuid() != 0 or not shutil.which("setpriv"):
        pytest.skip("needs root and setpriv to run korctl as nobody")
    os.chmod(env.home, 0o755)
    home = os.path.join(env.home, "n")
    os.makedirs(os.path.join(home, ".kor", "control"), mode=0o700)
    os.chmod(os.path.join(home, ".kor"), 0o700)
    for d, _, files in os.walk(home):
        os.chown(d, NOBODY.pw_uid, NOBODY.pw_gid)
    return home


def korctl_as_nobody(env, home, *args):
    from harness import KORCTL
    run_env = dict(env.env, HOME=home)
    cmd = ["setpriv", f"--reuid={NOBODY.pw_uid}", f"--regid={NOBODY.pw_gid}", "--clear-groups",
           KORCTL, *args]
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60,
                          cwd=home, env=run_env)


def now():
    return int(time.time())


def type_until(env, name, text, marker, timeout=20):
    """Types text into a real session and waits until marker shows in its output."""
    import kor_wire
    from harness import seen
    path = env.socket_path(name)
    kor_wire.send(path, text.encode())
    assert seen(path, marker.encode(), -1, timeout, interval=0.1), f"{marker!r} never showed in {name}"
