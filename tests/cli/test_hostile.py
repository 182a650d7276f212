"""Hostile neighbours: another user's socket where a session should be, other users connecting
to a session, planted links, a full disk and hostile names."""
import os
import resource
import shutil
import signal
import socket
import stat
import struct
import subprocess
import tempfile
import time

import pytest

from harness import KOR, KORCTL, wait_for
import kor_wire as kw

PY = "/usr/bin/python3"
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]

# Answers every request like a daemon (a status record for status requests) and prints, at the
# end, how many bytes each connection sent.
LISTENER = r"""
import os, signal, socket, struct, sys
path = sys.argv[1]
server = socket.socket(socket.AF_UNIX)
server.bind(path)
os.chmod(path, 0o777)
server.listen(16)
print("listening", flush=True)
counts = []
signal.signal(signal.SIGTERM, lambda *a: (print(counts, flush=True), os._exit(0)))
while True:
    conn, _ = server.accept()
    conn.settimeout(2)
    data = b""
    try:
        while len(data) < 5 or len(data) < 5 + struct.unpack(">I", data[1:5])[0]:
            chunk = conn.recv(65536)
            if not chunk:
                break
            data += chunk
        conn.sendall(struct.pack(">BI", 4, 30) + b"host=localhost\nconnected=1\n\0\0\0")
    except OSError:
        pass
    counts.append(len(data))
    conn.close()
"""


@pytest.fixture
def shared_dir():
    """A directory every user may create files in, like /tmp."""
    path = tempfile.mkdtemp(prefix="ks", dir="/tmp")
    os.chmod(path, 0o1777)
    yield path
    shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def foreign_listener(shared_dir):
    """A listener run as nobody on a socket in the shared directory; .counts() stops it and
    returns the number of bytes each connection sent."""
    path = os.path.join(shared_dir, "x.sock")
    proc = subprocess.Popen(NOBODY + [PY, "-c", LISTENER, path], stdout=subprocess.PIPE)
    # Listening, not only bound: a connection between the two is refused, as no daemon is there.
    assert proc.stdout.readline() == b"listening\n"

    class Listener:
        socket_path = path

        @staticmethod
        def counts():
            proc.terminate()
            return eval(proc.communicate(timeout=10)[0] or b"[]")

    yield Listener
    proc.kill()
    proc.wait()


@pytest.mark.parametrize("args, stdin", [
    (["info", "{path}"], b""),
    (["writeln", "{path}", "ls"], b""),
    (["key", "{path}", "enter"], b""),
    (["run", "{path}", "--framing", "mark", "echo hi"], b""),
])
def test_another_users_socket_gets_not_one_byte(env, foreign_listener, args, stdin):
    path = foreign_listener.socket_path
    r = env.korctl(*[a.format(path=path) for a in args], input=stdin)
    assert r.returncode != 0
    assert (b"korctl: refusing session '%s': the daemon at %s runs as uid 65534, not as uid %d\n"
            % (path.encode(), path.encode(), os.geteuid())) in r.stderr, r.stderr
    assert foreign_listener.counts() == [0] * len(foreign_listener.counts())


@pytest.mark.e2e
@pytest.mark.daemon
def test_open_refuses_another_users_socket_and_leaves_it(env, foreign_listener):
    path = foreign_listener.socket_path
    r = env.korctl("open", "x", "localhost", "--shell", "/bin/sh", "--ctl-socket", path)
    assert r.returncode == 1, r.stderr
    assert b"not replacing %s: the daemon at %s runs as uid 65534" % (path.encode(), path.encode()) in r.stderr
    assert os.stat(path).st_uid == 65534
    assert foreign_listener.counts() == [0] * len(foreign_listener.counts())


@pytest.mark.e2e
@pytest.mark.daemon
def test_open_refuses_another_users_stale_socket(env, shared_dir):
    path = os.path.join(shared_dir, "x.sock")
    subprocess.run(NOBODY + [PY, "-c", "import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])",
                             path], check=True)
    r = env.korctl("open", "x", "localhost", "--shell", "/bin/sh", "--ctl-socket", path)
    assert r.returncode == 1
    assert b"not replacing %s: it belongs to uid 65534" % path.encode() in r.stderr
    assert os.stat(path).st_uid == 65534


@pytest.mark.e2e
@pytest.mark.daemon
def test_daemon_drops_other_users_without_a_reply(env, shared_dir):
    path = os.path.join(shared_dir, "s.sock")
    env.open("s", "/bin/sh", "--ctl-socket", path)
    os.chmod(path, 0o666)  # as if the user had opened it up: the daemon still says no
    probe = ("import socket,struct,sys\n"
             "s = socket.socket(socket.AF_UNIX); s.settimeout(10); s.connect(sys.argv[1])\n"
             "try:\n  s.sendall(struct.pack('>BI', 4, 0)); print(len(s.recv(100)))\n"
             "except OSError as e:\n  print(type(e).__name__)\n")
    r = subprocess.run(NOBODY + [PY, "-c", probe, path], stdout=subprocess.PIPE, timeout=20)
    assert r.stdout.strip() in (b"0", b"ConnectionResetError", b"BrokenPipeError"), r.stdout
    assert kw.status(path)["connected"] == "1"


# ---- clients that would make the daemon grow or spin ----

def connect(path):
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(20)
    s.connect(path)
    return s


@pytest.mark.e2e
@pytest.mark.daemon
def test_input_still_arriving_counts_against_the_input_limit(env):
    env.open("s", "/bin/sh")
    path = env.socket_path("s")
    promised = 60 << 20
    senders = [connect(path) for _ in range(4)]
    for s in senders:  # 240 MiB promised, none of it sent yet
        s.sendall(struct.pack(">BI", kw.INPUT, promised))
    assert wait_for(lambda: kw.status(path)["connected"] == "1")
    fifth = connect(path)
    fifth.sendall(struct.pack(">BI", kw.INPUT, promised))
    kind, length = struct.unpack(">BI", kw.recv_exact(fifth, 5))
    assert (kind, kw.recv_exact(fifth, length)) == (
        kw.ERROR, b"the session's shell is not reading its input (%d bytes waiting)" % (4 * promised))
    for s in senders + [fifth]:
        s.close()


@pytest.mark.e2e
@pytest.mark.daemon
def test_replies_nobody_takes_are_capped(env):
    window = 100 << 20
    env.open("s", "/bin/sh", "--scrollback", "100M")
    path = env.socket_path("s")
    kw.send(path, b"head -c %d /dev/zero\n" % window)
    assert wait_for(lambda: int(kw.status(path)["headCursor"]) > window, 60)
    readers = []
    for _ in range(3):  # each asks for the whole window and takes only the reply's header
        r = connect(path)
        r.sendall(struct.pack(">BIq", kw.READ, 8, 0))
        readers.append((r, struct.unpack(">BI", kw.recv_exact(r, 5))))
    assert [kind == kw.ERROR for _, (kind, _) in readers] == [False, False, True]
    text = kw.recv_exact(readers[2][0], readers[2][1][1])
    assert text.startswith(b"the session holds ") and text.endswith(b" bytes of replies its clients have not taken yet; try again")
    for r, _ in readers:
        r.close()
    assert kw.status(path)["connected"] == "1"


@pytest.mark.e2e
@pytest.mark.daemon
def test_out_of_descriptors_the_daemon_neither_spins_nor_keeps_others_waiting(env):
    def few_descriptors():
        resource.setrlimit(resource.RLIMIT_NOFILE, (40, 40))
    r = subprocess.run([KORCTL, "open", "s", "localhost", "--shell", "/bin/sh"], env=env.env, cwd=env.home,
                       capture_output=True, timeout=30, preexec_fn=few_descriptors)
    assert r.returncode == 0, r.stderr
    env.opened.append("s")
    path = env.socket_path("s")
    pid = int(kw.status(path)["pid"])
    idle = [connect(path) for _ in range(80)]
    start, cpu = time.monotonic(), daemon_cpu(pid)
    r = env.korctl("info", "s")
    assert (r.returncode, r.stderr) == (1, b"korctl: too many connections to this session (24); try again\n")
    time.sleep(1)
    assert time.monotonic() - start < 5 and daemon_cpu(pid) - cpu < 0.5
    for s in idle:
        s.close()
    assert wait_for(lambda: env.korctl("info", "s").returncode == 0, 10)


def daemon_cpu(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# ---- planted links, other users' files and a full disk ----

@pytest.fixture
def victim(env):
    """A file a planted link points at; it must never change."""
    path = os.path.join(env.home, "victim")
    with open(path, "w") as f:
        f.write("precious\n")
    yield path
    with open(path) as f:
        assert f.read() == "precious\n"


@pytest.mark.e2e
@pytest.mark.daemon
def test_ended_reason_is_never_written_through_a_planted_link(env, victim):
    env.open("s", "/bin/sh")
    os.symlink(victim, os.path.join(env.control, "s.gone.tmp"))
    assert env.korctl("kill", "s", "--wait").returncode == 0
    gone = os.path.join(env.control, "s.gone")
    st = os.lstat(gone)
    assert stat.S_ISREG(st.st_mode) and stat.S_IMODE(st.st_mode) == 0o600
    assert b"ended: killed by request (" in env.korctl("info", "s").stderr
    assert not os.path.lexists(gone + ".tmp")


@pytest.mark.e2e
@pytest.mark.daemon
@pytest.mark.parametrize("plant, message", [
    ("link", b"kor: refusing lock file {lock}: it is a symbolic link\n"),
    ("foreign", b"kor: refusing lock file {lock}: it belongs to uid 65534\n"),
    ("hardlink", b"kor: refusing lock file {lock}: it has other names (hard links)\n"),
])
def test_lock_file_that_is_not_ours_is_refused(env, shared_dir, victim, plant, message):
    path = os.path.join(shared_dir, "x.sock")
    lock = os.path.join(shared_dir, "x.lock")
    if plant == "link":
        os.symlink(victim, lock)
    elif plant == "foreign":
        subprocess.run(NOBODY + ["touch", lock], check=True)
    else:
        os.link(victim, lock)
    r = env.korctl("open", "x", "localhost", "--shell", "/bin/sh", "--ctl-socket", path)
    assert (r.returncode, r.stderr) == (1, message.replace(b"{lock}", lock.encode()))
    assert not os.path.exists(path)


@pytest.mark.e2e
@pytest.mark.daemon
def test_full_disk_keeps_the_ended_reason_that_was_there(env):
    def full_disk():  # every write to a file fails, as on a full file system
        resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    r = subprocess.run([KORCTL, "open", "s", "localhost", "--shell", "/bin/sh"], env=env.env, cwd=env.home,
                       capture_output=True, timeout=30, preexec_fn=full_disk)
    assert r.returncode == 0, r.stderr
    env.opened.append("s")
    gone = os.path.join(env.control, "s.gone")
    with open(gone, "w") as f:
        f.write("%d an earlier reason\n" % int(time.time()))
    assert env.korctl("kill", "s", "--wait").returncode == 0
    assert b"ended: an earlier reason (" in env.korctl("info", "s").stderr
    assert not os.path.lexists(gone + ".tmp")
