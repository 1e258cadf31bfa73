"""End-to-end fixtures: one fresh Wine prefix per session, drive d: per test.

Every Wine process runs with TZ set three hours east of UTC, without a
display, with its output in log files under the session folder, and under a
timeout, so a hang fails a test instead of blocking the run.
"""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).parent))

from kelzar_harness import BUILD, Drive, Kelzar, WineSession, missing_build_files  # noqa: E402


def pytest_sessionstart(session):
    missing = missing_build_files()
    if missing:
        names = ", ".join(str(p) for p in missing)
        pytest.exit(f"the Windows build is missing ({names}); run `make build` first", returncode=1)


@pytest.fixture(scope="session")
def wine(tmp_path_factory):
    session = WineSession(tmp_path_factory.mktemp("wine"))
    try:
        session.start()
        yield session
    finally:
        session.stop()


@pytest.fixture
def drive(wine, tmp_path):
    """This test's own empty folder, mapped as drive d:."""
    root = tmp_path / "d"
    root.mkdir()
    wine.map_drive("d", root)
    return Drive(root)


@pytest.fixture
def kelzar(wine, drive, tmp_path):
    markers = tmp_path / "markers"
    markers.mkdir()
    return Kelzar(wine, drive, markers)


@pytest.fixture(scope="session")
def build_dir():
    return BUILD
