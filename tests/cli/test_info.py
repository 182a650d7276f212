from fakedaemon import Error, Reply


def test_info_prints_record_exactly_and_sends_empty_status_request(env):
    fake = env.fake("s", [Reply(b"headCursor=4096\nconnected=1")])
    r = env.korctl("info", "s")
    assert r.returncode == 0
    assert r.stdout == b"headCursor=4096\nconnected=1"
    assert fake.requests == [(4, b"")]


def test_info_error_reply_and_unreachable(env):
    env.fake("s", [Error("boom")])
    r = env.korctl("info", "s")
    assert (r.returncode, r.stdout, r.stderr) == (1, b"", b"korctl: boom\n")
    r = env.korctl("info", "nosuch")
    assert r.returncode == 1
    assert r.stderr == b"korctl: cannot reach session 'nosuch' (No such file or directory)\n"
