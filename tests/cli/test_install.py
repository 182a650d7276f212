"""The installed tree: cmake --install, the manual pages against the help tables, and the
Debian package installed into a staging root, used from PATH."""
import gzip
import os
import re
import shutil
import subprocess
import tempfile

import pytest

from harness import BUILD, KOR, KORCTL

pytestmark = pytest.mark.e2e


def help_text(*args, binary=KORCTL):
    r = subprocess.run([binary, *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return r.stdout.decode()


def commands():
    """The command words of the overview, in its order."""
    return re.findall(r"^  ([a-z][a-z0-9-]*)  +[a-z]", help_text("--help"), re.M)


def options(command):
    """{option: default or None} from `korctl help COMMAND` (cxxopts marks defaults "(default: X)"
    and implicit values "[=arg(=X)]")."""
    text = help_text("help", command)
    found = {}
    for match in re.finditer(r"^  (?:-\w, |    )(--[a-z][a-z0-9-]*)(.*(?:\n {8,}.*)*)", text, re.M):
        rest = " ".join(match.group(2).split())
        default = re.search(r"\(default: ([^)]*)\)$", rest) or re.search(r"\[=arg\(=([^)]*)\)\]", rest)
        found[match.group(1)] = default.group(1) if default else None
    return found


def render(page):
    """A manual page as plain text, wide enough that no option name is broken across lines."""
    r = subprocess.run(["man", "-l", page], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=dict(os.environ, MANWIDTH="250", MAN_KEEP_FORMATTING="", LC_ALL="C.UTF-8"))
    assert r.returncode == 0, r.stderr.decode()
    return re.sub(r".\x08", "", r.stdout.decode())


def sections(text):
    """{command: text} of the "korctl WORD ..." subsections of COMMANDS."""
    body = text.split("\nCOMMANDS\n", 1)[1].split("\nGLOBAL OPTIONS\n", 1)[0]
    parts = re.split(r"^   korctl ([a-z][a-z0-9-]*)\b.*$", body, flags=re.M)
    return dict(zip(parts[1::2], parts[2::2]))


def entries(section):
    """{option: its paragraph} of the option entries (lines "       --name ...") of a section."""
    parts = re.split(r"^       (--[a-z][a-z0-9-]*)(?![a-z0-9-])", section, flags=re.M)
    return dict(zip(parts[1::2], parts[2::2]))


def test_korctl_manual_documents_every_command_and_option():
    manual = render(os.path.join(BUILD, "man", "korctl.1"))
    documented = sections(manual)
    assert len(commands()) >= 16
    for command in commands():
        assert command in documented, f"korctl(1) has no section for {command}"
        described = entries(documented[command])
        for option, default in options(command).items():
            if option == "--help":
                continue
            assert option in described, f"korctl(1) {command}: no entry for {option}"
            if default is not None:
                assert default in described[option], f"korctl(1) {command} {option}: default {default} missing"
    for section in ("SYNOPSIS", "EXIT STATUS", "FILES", "ENVIRONMENT", "EXAMPLES"):
        assert f"\n{section}\n" in manual
    assert "~/.kor/control" in manual and "KORCTL_SESSION" in manual


def test_kor_manual_documents_every_option():
    manual = render(os.path.join(BUILD, "man", "kor.1"))
    listed = re.findall(r"^  (?:-h, )?(--[a-z][a-z0-9-]*)", help_text("--help", binary=KOR), re.M)
    assert "--scrollback" in listed
    described = re.findall(r"^       (?:-h, )?(--[a-z][a-z0-9-]*)", manual.split("\nOPTIONS\n", 1)[1], re.M)
    for option in listed:
        assert option in described, f"kor(1): no entry for {option}"


def test_install_tree(installed, tmp_path):
    """Programs, pages and completions land where man and the shells look for them, and the
    installed programs do the main job."""
    want = ["bin/korctl", "bin/kor", "share/man/man1/korctl.1.gz", "share/man/man1/kor.1.gz",
            "share/bash-completion/completions/korctl", "share/zsh/site-functions/_korctl",
            "share/fish/vendor_completions.d/korctl.fish", "share/korctl/korctl-complete"]
    for path in want:
        assert os.path.isfile(os.path.join(installed, path)), path
    for program in ("bin/korctl", "bin/kor", "share/korctl/korctl-complete"):
        assert os.access(os.path.join(installed, program), os.X_OK), program
    # `man korctl` finds the installed page through the prefix's bin directory on PATH.
    r = subprocess.run(["man", "-w", "korctl"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=dict(os.environ, PATH=os.path.join(installed, "bin") + ":/usr/bin:/bin",
                                MANPATH=""))
    assert r.stdout.decode().strip() == os.path.join(installed, "share/man/man1/korctl.1.gz"), r.stderr
    with gzip.open(os.path.join(installed, "share/man/man1/korctl.1.gz")) as page:
        assert b"korctl run" in page.read()
    main_job(os.path.join(installed, "bin"), tmp_path)


@pytest.fixture(scope="module")
def package(tmp_path_factory):
    """The Debian package of the build, made by cpack into a private directory."""
    out = tmp_path_factory.mktemp("deb")
    r = subprocess.run(["cpack", "-G", "DEB", "-B", str(out)], cwd=BUILD, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)
    assert r.returncode == 0, r.stdout.decode()
    debs = [name for name in os.listdir(out) if name.endswith(".deb")]
    assert len(debs) == 1, debs
    return os.path.join(out, debs[0])


def run(*args, **kwargs):
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    assert r.returncode == 0, (args, r.stderr.decode())
    return r.stdout.decode()


def staging_root(path, packages):
    """An empty dpkg root whose database holds this machine's records of packages, so dpkg
    checks the package's dependencies against what is really installed here."""
    admin = os.path.join(path, "var", "lib", "dpkg")
    for sub in ("updates", "info", "triggers"):
        os.makedirs(os.path.join(admin, sub))
    with open(os.path.join(admin, "status"), "w") as status:
        for name in packages:
            status.write(run("dpkg-query", "-s", name).rstrip("\n") + "\n\n")
    open(os.path.join(admin, "available"), "w").close()
    return path


def depends(deb):
    field = run("dpkg-deb", "-f", deb, "Depends")
    return [re.match(r"\s*([a-z0-9.+-]+)", alternative).group(1) for alternative in field.split(",")]


def package_of(path):
    """The installed package that owns a file, under its own path or its merged-/usr twin."""
    for candidate in (path, re.sub(r"^/usr/", "/", path), "/usr" + path):
        owner = subprocess.run(["dpkg", "-S", candidate], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if owner.returncode == 0:
            return owner.stdout.decode().split(":")[0]
    raise AssertionError(f"no package owns {path}")


def tempfile_home():
    return tempfile.mkdtemp(prefix="k", dir="/tmp")  # short: socket paths are limited


def main_job(bindir, tmp_path):
    """The main job with the programs of bindir from PATH (a decoy kor earlier on PATH is
    passed over): open a local session, run a command with its output and status, kill it.
    Returns the environment it used."""
    decoy = tmp_path / "decoy"
    decoy.mkdir()
    (decoy / "kor").write_text("#!/bin/sh\nexit 9\n")
    (decoy / "kor").chmod(0o755)
    home = tempfile_home()
    env = dict(os.environ, HOME=home, PATH=f"{decoy}:{bindir}:/usr/bin:/bin", LC_ALL="C.UTF-8")
    try:
        run("korctl", "open", "job", "localhost", "--shell", "/bin/bash", env=env, timeout=30)
        r = subprocess.run(["korctl", "run", "job", 'echo "hello from $KORCTL_SESSION"; (exit 3)'],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=60)
        assert (r.returncode, r.stdout, r.stderr) == (3, b"hello from job\r\n", b"")
        pid = re.search(r"^pid=(\d+)$", run("korctl", "info", "job", env=env), re.M).group(1)
        assert os.readlink(f"/proc/{pid}/exe") == os.path.join(bindir, "kor")
        run("korctl", "kill", "job", "--wait=10", env=env, timeout=30)
    finally:
        subprocess.run(["korctl", "kill", "job"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(home, ignore_errors=True)
    return env


def test_debian_package_installs_and_runs_the_main_job(package, tmp_path):
    version = re.search(r"korctl version (\S+)", run(KORCTL, "--version")).group(1)
    arch = run("dpkg", "--print-architecture").strip()
    assert os.path.basename(package) == f"korctl_{version}_{arch}.deb"
    root = staging_root(str(tmp_path / "root"), depends(package))
    run("dpkg", "--root=" + root, "--log=/dev/null", "-i", package)  # fails on an unmet dependency
    usr = os.path.join(root, "usr")
    listed = run("dpkg", "--root=" + root, "-L", "korctl").split()
    for path in ("/usr/bin/korctl", "/usr/bin/kor", "/usr/share/man/man1/korctl.1.gz",
                 "/usr/share/man/man1/kor.1.gz", "/usr/share/bash-completion/completions/korctl",
                 "/usr/share/zsh/vendor-completions/_korctl", "/usr/share/fish/vendor_completions.d/korctl.fish"):
        assert path in listed and os.path.isfile(root + path), path

    # Every shared library the programs link comes from a package the package depends on.
    needed = set()
    for program in (os.path.join(usr, "bin", "korctl"), os.path.join(usr, "bin", "kor")):
        direct = re.findall(r"\(NEEDED\).*\[(.*)\]", run("readelf", "-d", program))
        listing = run("ldd", program)
        paths = dict(re.findall(r"^\s*(\S+) => (/\S+)", listing, re.M))
        # The dynamic loader (needed directly once libstdc++ is linked in) is listed by path alone.
        paths.update((os.path.basename(p), p) for p in re.findall(r"^\s*(/\S+) \(", listing, re.M))
        for library in direct:
            needed.add(package_of(paths[library]))
    assert "libc6" in needed  # libstdc++, protobuf-lite and libsodium are linked in
    assert needed <= set(depends(package)), needed - set(depends(package))

    env = main_job(os.path.join(usr, "bin"), tmp_path)

    # man and bash-completion find their files through the root's PATH and data directory.
    page = run("man", "-w", "korctl", env=dict(env, MANPATH="")).strip()
    assert page == os.path.join(usr, "share/man/man1/korctl.1.gz")
    bash = ("source /usr/share/bash-completion/bash_completion; __load_completion korctl || exit 3;"
            " COMP_WORDS=(korctl re); COMP_CWORD=1; _korctl; echo ${COMPREPLY[*]}")
    assert run("bash", "--norc", "-c", bash, env=dict(env, XDG_DATA_DIRS=usr + "/share")).split() == ["read", "resize"]

    run("dpkg", "--root=" + root, "--log=/dev/null", "-r", "korctl")
    left = [os.path.join(d, f) for d, _, files in os.walk(usr) for f in files]
    assert left == []
