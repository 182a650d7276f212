import os

from fakedaemon import Error
from sessionfiles import dead_socket, now, save_session, status_handler, store_dirs, touch


def test_nothing_to_list_prints_nothing(env):
    # A new user's first listing: no ~/.kor at all, nothing on either output.
    r = env.korctl("sessions")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")

    store_dirs(env)
    os.makedirs(env.control, mode=0o700)
    r = env.korctl("sessions")
    assert (r.returncode, r.stdout, r.stderr) == (0, b"", b"")


def test_live_saved_and_dead_sessions_in_one_table(env):
    # The daemon's times are taken when it answers, after korctl read its clock, so the
    # ages it shows can be one second short.
    env.fake("build", handler=status_handler(
        lambda: f"connected=1\ncreated={now() - 3725}\nlastActivity={now() - 65}\n"))
    save_session(env, "prod", host="db", lastused=now() - 51 * 3600)
    dead_socket(env.socket_path("tmp"))
    r = env.korctl("sessions")
    assert r.returncode == 0
    lines = r.stdout.decode().splitlines()
    assert lines[0] == "NAME   HOST  STATUS      UP    IDLE"
    assert lines[1] in ("build  -     connected   1h2m  1m5s", "build  -     connected   1h2m  1m4s")
    assert lines[2:] == ["prod   db    no-control  -     2d3h",
                         "tmp    -     dead        -     -"]
    assert r.stderr == b"korctl: cannot reach session 'tmp' (Connection refused)\n"


def test_status_fields_and_failed_daemons(env):
    env.fake("a", handler=status_handler("connected=yes\ncreated=0\nhost=\n"))
    env.fake("b", handler=status_handler(lambda: f"host=h1\ncreated={now() + 100}\nlastActivity=x\n"))
    env.fake("c", [Error("busy")])
    env.fake("d", handler=status_handler("no fields here\n"))
    touch(os.path.join(env.control, "file.sock"))
    touch(os.path.join(env.control, ".sock"))
    save_session(env, "a", host="saved-host")     # has a socket: listed once, from the socket
    save_session(env, "file")                     # a dead socket hides it too
    r = env.korctl("sessions")
    assert r.returncode == 0
    assert r.stdout.decode().splitlines() == [
        "NAME  HOST  STATUS        UP  IDLE",
        "a     -     disconnected  -   -",
        "b     h1    disconnected  0s  -",
        "c     -     dead          -   -",
        "d     -     dead          -   -",
        "file  -     dead          -   -",
    ]
    assert r.stderr.decode().splitlines() == [
        "korctl: busy",
        "korctl: cannot reach session 'file' (Connection refused)",
    ]


def test_scanned_names_are_asked_through_their_own_socket(env):
    # A socket in the current directory named like a session is not that session.
    work = os.path.join(env.home, "work")
    os.makedirs(work)
    stranger = env.fake(handler=status_handler("connected=1\nhost=stranger\n"),
                        path=os.path.join(work, "build"))
    dead_socket(env.socket_path("build"))
    store_dirs(env)
    r = env.korctl("sessions", cwd=work)
    assert r.stdout.decode().splitlines()[1].split() == ["build", "-", "dead", "-", "-"]
    assert r.stderr == b"korctl: cannot reach session 'build' (Connection refused)\n"
    assert stranger.connections == 0


def test_odd_names_and_hosts_never_split_or_forge_rows(env):
    dead_socket(os.path.join(env.control, "a\nb  -  connected.sock"))
    save_session(env, "ok", host="\x1b]0;owned\x07db")
    r = env.korctl("sessions")
    assert r.returncode == 0
    lines = r.stdout.decode().splitlines()
    assert lines[:2] == [
        "NAME                HOST                STATUS      UP  IDLE",
        "a\\nb  -  connected  -                   dead        -   -",
    ]
    assert lines[2].startswith("ok                  \\x1b]0;owned\\x07db  no-control  -   ") and len(lines) == 3
    assert r.stderr == b"korctl: cannot reach session 'a\\nb  -  connected' (Connection refused)\n"
