import os
import subprocess

import pytest

from harness import BUILD, ROOT, Env


@pytest.fixture
def env():
    """The tests' one private HOME, cleaned up (processes ended, files removed) afterwards."""
    e = Env.create()
    try:
        yield e
    finally:
        e.close()
    reports = e.sanitizer_reports()
    if reports:
        pytest.fail("sanitizer reports:\n" + reports[:20000])


@pytest.fixture(scope="session")
def installed(tmp_path_factory):
    """The build installed by the README's install command under a private prefix."""
    prefix = str(tmp_path_factory.mktemp("prefix"))
    subprocess.run([os.path.join(ROOT, "scripts", "install.sh"), prefix], check=True, stdout=subprocess.DEVNULL,
                   env=dict(os.environ, KORCTL_BUILD=BUILD))
    return prefix
