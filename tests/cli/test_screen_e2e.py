"""korctl screen on live sessions of the real kor: what printf and vim leave on the screen."""
import json
import os
import shutil

import pytest

from harness import wait_for

pytestmark = pytest.mark.e2e


def screen(env, *args):
    r = env.korctl("screen", "s", "--json", *args)
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout)


def shown(env, text, *args):
    """The screen once text is on it."""
    found = wait_for(lambda: (lambda s: s if any(text in line for line in s["lines"]) else None)(screen(env, *args)),
                     timeout=20)
    assert found, screen(env, *args)["lines"]
    return found


def test_printed_rows_cursor_wide_and_combining_characters_and_resize(env):
    env.open("s", "/bin/bash")
    assert env.korctl("run", "s", "true").returncode == 0
    script = ("clear; printf 'abcdef\\rXY\\n\\033[5Cright\\n\\033[31mred\\033[0m \\344\\270\\255|e\\314\\201|\\n'"
              "; printf 'tail  \\n'; printf 'DO''NE'")
    assert env.korctl("writeln", "s", script).returncode == 0
    s = shown(env, "DONE")
    at = s["lines"].index("XYcdef")
    assert s["lines"][at:at + 4] == ["XYcdef", "     right", "red \u4e2d|e\u0301|", "tail"]
    assert (s["rows"], s["cols"], s["alternate"]) == (24, 80, False)
    assert s["lines"][at + 4].startswith("DONE")  # then the prompt, the cursor after it
    assert s["cursor"]["row"] == at + 4 and s["cursor"]["col"] >= len(s["lines"][at + 4])
    ansi = screen(env, "--ansi")["lines"][at + 2]
    assert ansi == "\x1b[0;31mred\x1b[0m \u4e2d|e\u0301|"
    plain = env.korctl("screen", "s").stdout.decode().split("\n")
    assert plain[at:at + 2] == ["XYcdef", "     right"] and len(plain) == 25  # 24 rows, each ended

    assert env.korctl("resize", "s", "10", "30").returncode == 0
    s = screen(env)
    assert (s["rows"], s["cols"], len(s["lines"])) == (10, 30, 10)


@pytest.mark.skipif(not shutil.which("vim"), reason="vim is not installed")
def test_vim_shows_on_the_alternate_screen_and_the_shell_comes_back(env):
    env.open("s", "/bin/bash")
    notes = os.path.join(env.home, "notes.txt")
    with open(notes, "w") as f:
        f.write("first line\nsecond line\n")
    assert env.korctl("run", "s", "echo before-vim").returncode == 0
    assert env.korctl("writeln", "s", f"vim -u NONE -i NONE -N -n {notes}").returncode == 0
    s = shown(env, "second line")
    assert s["alternate"] is True
    assert s["lines"][:3] == ["first line", "second line", "~"]
    assert not any("before-vim" in line for line in s["lines"])
    assert env.korctl("writeln", "s", "\x1b:q").returncode == 0
    assert wait_for(lambda: not screen(env)["alternate"], timeout=20)
    s = screen(env)
    assert any("before-vim" in line for line in s["lines"])
    assert not any("second line" in line for line in s["lines"])
