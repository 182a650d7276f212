"""sessions and gc against real sessions of the project's kor."""
import os
import re
import time

import pytest

from harness import wait_for
from sessionfiles import dead_socket, now, save_session, type_until

pytestmark = pytest.mark.e2e


def gone_reason(env, name):
    path = os.path.join(env.control, name + ".gone")
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read().split(" ", 1)[1].strip()


def ended(env, name):
    return not os.path.exists(env.socket_path(name)) and gone_reason(env, name)


def test_table_with_a_live_a_saved_and_a_dead_session(env):
    env.open("build")
    save_session(env, "prod", host="db", lastused=now() - 51 * 3600)
    dead_socket(env.socket_path("tmp"))
    r = env.korctl("sessions")
    assert r.returncode == 0
    lines = r.stdout.decode().splitlines()
    assert re.fullmatch(r"NAME   HOST       STATUS      UP +IDLE", lines[0]), lines[0]
    idle = lines[0].index("IDLE")
    assert re.fullmatch(r"build  localhost  connected   \d+s +\d+s", lines[1]), lines[1]
    assert lines[1][idle - 2:idle] == "  " and lines[1][idle] != " "
    assert lines[2] == "prod   db         no-control  -".ljust(idle) + "2d3h"
    assert lines[3] == "tmp    -          dead        -".ljust(idle) + "-"
    assert len(lines) == 4
    assert r.stderr == b"korctl: cannot reach session 'tmp' (Connection refused)\n"


def test_idle_sessions_end_by_eof_or_by_force_after_three_seconds(env):
    env.open("calm")
    env.open("stubborn")
    type_until(env, "calm", "echo READY-$((6*7))\n", "READY-42")
    type_until(env, "stubborn", "set -o ignoreeof; echo READY-$((6*7))\n", "READY-42")
    start = time.monotonic()
    r = env.korctl("gc", "--idle=0")
    elapsed = time.monotonic() - start
    assert r.returncode == 0
    lines = r.stdout.decode().splitlines()
    assert lines[:2] == ["ending idle session: calm", "ending idle session: stubborn"]
    # The forced stop is not waited for; the same run may already find its socket dead.
    assert lines[2:] in ([], ["removed dead socket: stubborn"])
    assert elapsed >= 3.0
    assert wait_for(lambda: ended(env, "calm"), timeout=10)
    assert wait_for(lambda: ended(env, "stubborn"), timeout=10)
    assert gone_reason(env, "calm") == "shell exited with status 0"
    assert gone_reason(env, "stubborn") == "killed by request"


def test_force_stops_only_sessions_past_the_limit(env):
    env.open("old")
    env.open("young")
    type_until(env, "old", "echo READY-$((6*7))\n", "READY-42")
    time.sleep(4)
    type_until(env, "young", "echo READY-$((6*7))\n", "READY-42")
    # old has been quiet for 4 s, young for well under the limit of 3 s.
    r = env.korctl("gc", "--idle=3", "--force")
    assert (r.returncode, r.stdout.decode().splitlines()[:1]) == (0, ["stopping idle session: old"])
    assert wait_for(lambda: ended(env, "old"), timeout=10)
    assert gone_reason(env, "old") == "killed by request"
    assert os.path.exists(env.socket_path("young"))
    assert env.korctl("info", "young").returncode == 0


def test_gc_tidies_an_ended_session_and_it_starts_again(env):
    env.open("old")
    assert env.korctl("kill", "old", "--wait").returncode == 0
    assert sorted(os.listdir(env.control)) == ["old.gone", "old.lock"]
    r = env.korctl("gc")                               # ended just now: kept for info
    assert (r.returncode, r.stdout) == (0, b"")
    r = env.korctl("gc", "--idle=0")
    assert r.stdout.decode().splitlines() == ["removed ended session file: old.gone",
                                              "removed ended session file: old.lock"]
    assert os.listdir(env.control) == []
    env.open("old")
    r = env.korctl("run", "old", "echo again")
    assert (r.returncode, r.stdout.strip()) == (0, b"again")


def test_a_start_waiting_on_a_removed_lock_takes_the_new_one(env):
    """gc removes a lock while holding it; a start that waited on that file must not go ahead
    while another start holds the file now under the name."""
    import fcntl
    import subprocess
    os.makedirs(env.control, mode=0o700)
    lock = os.path.join(env.control, "s.lock")
    first = open(lock, "w")
    fcntl.flock(first, fcntl.LOCK_EX)
    start = subprocess.Popen([env.binary, "open", "s", "localhost", "--shell", "/bin/sh"], env=env.env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    env.opened.append("s")
    assert wait_for(lambda: open_files_named(start.pid, lock), timeout=10)  # kor waits on it
    os.unlink(lock)                                    # as gc does, holding it
    second = open(lock, "w")                           # another start now holds the name
    fcntl.flock(second, fcntl.LOCK_EX)
    first.close()
    time.sleep(1)
    assert start.poll() is None and not os.path.exists(env.socket_path("s"))
    second.close()
    assert start.wait(timeout=30) == 0, start.stderr.read()
    assert env.korctl("info", "s").returncode == 0


def open_files_named(pid, path):
    """Whether process pid (or one it became by exec) has path open."""
    try:
        return any(os.readlink(f"/proc/{pid}/fd/{fd}") == path for fd in os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return False
