import fcntl
import os
import threading
import time

import pytest

from fakedaemon import Reply
from sessionfiles import (dead_socket, korctl_as_nobody, nobody_home, now, save_session,
                          status_handler, store_dirs, touch)

HELP = (b"korctl gc [--idle [DUR]] [--force] [--dry-run]\n"
        b"  Remove dead session sockets (a daemon that has exited leaves a\n"
        b"  stale socket), the files of sessions that ended longer ago than\n"
        b"  DUR (their ended reason, framing and start lock), and stale control\n"
        b"  files from the saved-session directory.  With --idle, also end live\n"
        b"  sessions idle longer than DUR (default 8h; e.g. 30m, 6h, 2d): eof\n"
        b"  first, then a forced stop if it doesn't exit within a few seconds.\n"
        b"  --force skips the graceful eof and stops idle sessions outright.\n"
        b"  --dry-run prints what would be stopped or removed and touches nothing.\n")


def files(directory):
    return sorted(os.listdir(directory)) if os.path.isdir(directory) else []


def test_nothing_to_do_prints_nothing(env):
    store_dirs(env)
    r = env.korctl("gc")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")


def test_help_only(env):
    dead_socket(env.socket_path("old"))
    for args in (["--help"], ["-h"], ["--idle", "--help"], ["--force", "x", "-h"], ["--bogus", "--help"]):
        r = env.korctl("gc", *args)
        assert (r.returncode, r.stdout, r.stderr) == (0, HELP, b""), args
    assert files(env.control) == ["old.sock"]


def test_dead_sockets_and_their_framing_files_are_removed(env):
    live = env.fake("live")
    for name in ("b", "a"):
        dead_socket(env.socket_path(name))
        touch(os.path.join(env.control, name + ".framing"), "paste=1\n")
    touch(os.path.join(env.control, "a.gone"), f"{now()} killed\n")  # ended just now: kept
    touch(os.path.join(env.control, "plain.sock"))          # not a socket at all
    touch(os.path.join(env.control, "live.framing"))
    store_dirs(env)
    r = env.korctl("gc")
    assert r.returncode == 0
    assert r.stdout == b"removed dead socket: a\nremoved dead socket: b\nremoved dead socket: plain\n"
    assert r.stderr == b""
    assert files(env.control) == ["a.gone", "live.framing", "live.sock"]
    assert live.requests == []  # probed, never asked anything


def test_live_socket_is_never_taken_for_a_dead_one_of_the_same_name(env):
    # A dead socket in the current directory named like a live session must not get the
    # session's own socket removed.
    work = os.path.join(env.home, "work")
    dead_socket(os.path.join(work, "build"))
    env.fake("build")
    store_dirs(env)
    r = env.korctl("gc", cwd=work)
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")
    assert files(env.control) == ["build.sock"]


def test_stale_control_files_in_the_sessions_directory(env):
    save_session(env, "alpha.gone")                          # genuine: stays
    save_session(env, "prod")
    for name in ("build.framing", "x.gone", "old.creds", ".gone", "notes.txt", ".framing"):
        touch(os.path.join(env.sessions, name), "junk\n")
    os.chmod(os.path.join(env.sessions, "x.gone"), 0o600)
    save_session(env, "y.creds", text="version=2\n")        # looks valid at a glance, does not load
    os.symlink(os.path.join(env.sessions, "prod"), os.path.join(env.sessions, "p.gone"))
    os.mkdir(os.path.join(env.sessions, "dir.gone"))
    r = env.korctl("gc")
    assert r.returncode == 0
    assert sorted(r.stdout.decode().splitlines()) == [
        "removed stale control file: build.framing",
        "removed stale control file: old.creds",
        "removed stale control file: p.gone",
        "removed stale control file: x.gone",
        "removed stale control file: y.creds",
    ]
    assert files(env.sessions) == [".framing", ".gone", "alpha.gone", "dir.gone", "notes.txt", "prod"]


def test_unsafe_sessions_directory_is_left_alone(env):
    save_session(env, "alpha.gone")
    touch(os.path.join(env.sessions, "x.gone"))
    for mode_of in ((os.path.dirname(env.sessions), 0o755), (env.sessions, 0o770)):
        store_dirs(env)
        os.chmod(*mode_of)
        r = env.korctl("gc")
        assert (r.returncode, r.stdout) == (0, b"")
        assert b"Session directory has unsafe owner or permissions" in r.stderr
        assert files(env.sessions) == ["alpha.gone", "x.gone"]


def idle_fakes(env):
    """old: idle 2 h; fresh: idle 60 s; zero: lastActivity=0; none: no lastActivity."""
    fakes = {
        "old": env.fake("old", handler=status_handler(lambda: f"lastActivity={now() - 7200}\n")),
        "fresh": env.fake("fresh", handler=status_handler(lambda: f"lastActivity={now() - 60}\n")),
        "zero": env.fake("zero", handler=status_handler("lastActivity=0\n")),
        "none": env.fake("none", handler=status_handler("connected=1\n")),
    }
    store_dirs(env)
    return fakes


def test_idle_force_stops_outright(env):
    fakes = idle_fakes(env)
    r = env.korctl("gc", "--idle", "--force")       # --force is no DUR: the limit stays 8 h
    assert (r.returncode, r.stdout) == (0, b"")
    assert all(f.requests == [(4, b"")] for f in fakes.values())

    r = env.korctl("gc", "--idle=1h", "--force")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"stopping idle session: old\n", b"")
    assert fakes["old"].requests == [(4, b""), (4, b""), (5, b"")]
    assert [f.requests for n, f in fakes.items() if n != "old"] == [[(4, b"")] * 2] * 3


def test_idle_limits_beyond_range_end_nothing(env):
    fakes = idle_fakes(env)
    for dur in ("1e30", "1e999d"):
        r = env.korctl("gc", "--idle", dur, "--force")
        assert (r.returncode, r.stdout, r.stderr) == (0, b"", b""), dur
    assert all(5 not in f.types() for f in fakes.values())


BAD_DURATION = "korctl gc: invalid duration '{}' for --idle (a number, then d, h, m or s: 30m, 6h, 2d)\n"


@pytest.mark.parametrize("words, message", [
    (["--idle", "0s", "--force", "--dry-rum"], "korctl gc: Option 'dry-rum' does not exist\n"),
    (["--bogus-option"], "korctl gc: Option 'bogus-option' does not exist\n"),
    (["--idle=0", "-f"], "korctl gc: Option 'f' does not exist\n"),
    (["--idle", "0", "old"], "korctl gc: unexpected argument 'old' (gc takes no NAME)\n"),
    (["--idle", "bogus", "--force"], BAD_DURATION.format("bogus")),
    (["--force", "--idle=0x"], BAD_DURATION.format("0x")),
    (["--idle", "nan"], BAD_DURATION.format("nan")),
    (["--idle=-1e30"], BAD_DURATION.format("-1e30")),
    (["--idle", "", "--force"], BAD_DURATION.format("")),
])
def test_a_bad_word_stops_and_removes_nothing(env, words, message):
    fakes = idle_fakes(env)
    dead_socket(env.socket_path("dead"))
    touch(os.path.join(env.control, "old.gone"), "1700000000 killed\n")
    touch(os.path.join(env.sessions, "x.gone"), "junk\n")
    before = files(env.control), files(env.sessions)
    r = env.korctl("gc", *words)
    assert (r.returncode, r.stdout, r.stderr.decode()) == (2, b"", message)
    assert all(f.connections == 0 for f in fakes.values())
    assert (files(env.control), files(env.sessions)) == before


def test_dry_run_says_what_the_real_run_does_and_touches_nothing(env):
    fakes = idle_fakes(env)
    dead_socket(env.socket_path("dead"))
    touch(os.path.join(env.control, "dead.framing"))
    touch(os.path.join(env.control, "ended.gone"), f"{now() - 9 * 3600} shell exited with status 0\n")
    touch(os.path.join(env.control, "ended.lock"))
    os.chmod(touch(os.path.join(env.sessions, "x.gone"), "junk\n"), 0o600)
    before = files(env.control), files(env.sessions)
    dry = env.korctl("gc", "--idle=1h", "--force", "--dry-run")
    assert (dry.returncode, dry.stderr) == (0, b"")
    assert dry.stdout.decode().splitlines() == [
        "would stop idle session: old",
        "would remove dead socket: dead",
        "would remove ended session file: ended.gone",
        "would remove ended session file: ended.lock",
        "would remove stale control file: x.gone",
    ]
    assert (files(env.control), files(env.sessions)) == before
    assert all(5 not in f.types() and 1 not in f.types() for f in fakes.values())  # only status asked

    real = env.korctl("gc", "--idle=1h", "--force")
    assert real.stdout.decode().splitlines() == [
        "stopping idle session: old",
        "removed dead socket: dead",
        "removed ended session file: ended.gone",
        "removed ended session file: ended.lock",
        "removed stale control file: x.gone",
    ]
    assert fakes["old"].types()[-1] == 5
    assert files(env.control) == sorted(n + ".sock" for n in fakes)


def test_files_of_sessions_that_ended_long_ago(env):
    hours = 3600
    old = now() - 9 * hours

    def ended(name, end_time, *suffixes, mtime=None):
        for suffix in suffixes:
            path = touch(os.path.join(env.control, name + suffix),
                         f"{end_time} killed by request\n" if suffix == ".gone" else "")
            os.utime(path, (mtime or end_time,) * 2)
    ended("long", old, ".gone", ".framing", ".runlock", ".lock")
    ended("recent", now() - 1 * hours, ".gone", ".lock")
    ended("lockonly", old, ".lock")                       # killed outright: no ended reason
    ended("touched", old, ".gone", mtime=now())           # the recorded end time counts
    ended("cacheonly", old, ".framing")                   # a live session on a socket elsewhere keeps one here
    ended("live", old, ".gone", ".lock")
    env.fake("live")
    ended("starting", old, ".gone", ".lock")              # a start holds its lock
    ended("running", old, ".gone", ".runlock")            # a run holds its lock
    ended("theirs", old, ".gone")
    os.chown(os.path.join(env.control, "theirs.gone"), 65534, 65534)
    os.symlink("/etc/passwd", os.path.join(env.control, "link.gone"))
    store_dirs(env)
    with open(os.path.join(env.control, "starting.lock")) as start, \
            open(os.path.join(env.control, "running.runlock")) as run:
        fcntl.flock(start, fcntl.LOCK_EX)
        fcntl.flock(run, fcntl.LOCK_EX)
        r = env.korctl("gc")
        dry = env.korctl("gc", "--idle=30m", "--dry-run")  # the idle limit is the age that counts
    assert (r.returncode, r.stderr) == (0, b"")
    assert sorted(r.stdout.decode().splitlines()) == [f"removed ended session file: {f}" for f in (
        "lockonly.lock", "long.framing", "long.gone", "long.lock", "long.runlock", "touched.gone")]
    assert files(env.control) == ["cacheonly.framing", "link.gone", "live.gone", "live.lock", "live.sock",
                                  "recent.gone", "recent.lock", "running.gone", "running.runlock",
                                  "starting.gone", "starting.lock", "theirs.gone"]
    assert dry.stdout.decode().splitlines() == ["would remove ended session file: recent.gone",
                                              "would remove ended session file: recent.lock"]


def test_another_users_daemon_keeps_its_socket(env):
    """gc run as nobody: a daemon of another user (root here) answering on nobody's control
    socket proves nothing dead, whatever it would say."""
    home = nobody_home(env)
    control = os.path.join(home, ".kor", "control")
    foreign = env.fake(path=os.path.join(control, "x.sock"))
    os.chmod(os.path.join(control, "x.sock"), 0o777)
    path = touch(os.path.join(control, "x.gone"), "1700000000 killed\n")
    os.chown(path, 65534, 65534)
    r = korctl_as_nobody(env, home, "gc", "--idle=0", "--force")
    assert r.returncode == 0
    assert b"x" not in r.stdout
    assert files(control) == ["x.gone", "x.sock"]
    assert 5 not in foreign.types()


def test_idle_graceful_eof_then_force_after_three_seconds(env):
    idle = status_handler(lambda: f"lastActivity={now() - 100}\n")

    def leave_on_eof(kind, payload):
        if kind == 1 and payload == b"\x04":
            # The daemon ends: its socket goes away shortly after the answer.
            threading.Timer(0.3, os.unlink, [env.socket_path("polite")]).start()
        return idle(kind, payload)
    polite = env.fake("polite", handler=leave_on_eof)
    stubborn = env.fake("stubborn", handler=idle)
    store_dirs(env)
    start = time.monotonic()
    r = env.korctl("gc", "--idle=90")
    elapsed = time.monotonic() - start
    assert r.returncode == 0
    assert r.stdout == b"ending idle session: polite\nending idle session: stubborn\n"
    assert polite.requests == [(4, b""), (1, b"\x04")]
    assert stubborn.requests == [(4, b""), (1, b"\x04"), (5, b"")]
    assert elapsed >= 3.0
    assert files(env.control) == ["stubborn.sock"]  # still accepting: kept


def test_removal_error_for_a_directory_without_write_permission(env):
    home = nobody_home(env)
    control = os.path.join(home, ".kor", "control")
    path = dead_socket(os.path.join(control, "old.sock"))
    os.chown(path, 65534, 65534)
    # A socket nobody may not even connect to says nothing about its daemon: it stays.
    guarded = dead_socket(os.path.join(control, "guarded.sock"))
    os.chmod(guarded, 0o600)
    os.chmod(control, 0o500)
    r = korctl_as_nobody(env, home, "gc")
    assert r.returncode == 0
    assert r.stdout == b""
    assert r.stderr == f"korctl gc: could not remove {path}: Permission denied\n".encode()
    assert files(control) == ["guarded.sock", "old.sock"]
