import os
import threading
import time

from fakedaemon import Reply
from sessionfiles import (dead_socket, korctl_as_nobody, nobody_home, now, save_session,
                          status_handler, store_dirs, touch)

HELP = (b"korctl gc [--idle [DUR]] [--force]\n  Remove dead session sockets (a daemon that has exited "
        b"leaves a\n  stale socket), and remove stale control files from the\n  saved-session "
        b"directory.  With --idle, also end live sessions\n  idle longer\n  than DUR (default 8h; "
        b"e.g. 30m, 6h, 2d): eof first, then a forced\n  stop if it doesn't exit within a few "
        b"seconds.  --force skips the\n  graceful eof and stops idle sessions outright.\n")


def files(directory):
    return sorted(os.listdir(directory)) if os.path.isdir(directory) else []


def test_nothing_to_do_prints_nothing(env):
    store_dirs(env)
    r = env.korctl("gc")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")


def test_help_only(env):
    dead_socket(env.socket_path("old"))
    for args in (["--help"], ["-h"], ["--idle", "--help"], ["--force", "x", "-h"]):
        r = env.korctl("gc", *args)
        assert (r.returncode, r.stdout, r.stderr) == (0, HELP, b""), args
    assert files(env.control) == ["old.sock"]


def test_dead_sockets_and_their_framing_files_are_removed(env):
    live = env.fake("live")
    for name in ("b", "a"):
        dead_socket(env.socket_path(name))
        touch(os.path.join(env.control, name + ".framing"), "paste=1\n")
    touch(os.path.join(env.control, "a.gone"), "1700000000 killed\n")
    touch(os.path.join(env.control, "plain.sock"))          # not a socket at all
    touch(os.path.join(env.control, "live.framing"))
    store_dirs(env)
    r = env.korctl("gc", "--unknown-word")
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
    for dur in ("inf", "1e30", "-1e30", "nan"):
        r = env.korctl("gc", "--idle", dur, "--force")
        assert (r.returncode, r.stdout) == (0, b""), dur
    assert all(5 not in f.types() for f in fakes.values())


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
