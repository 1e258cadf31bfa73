"""The fixtures every suite that runs kelzar.exe under Wine shares: one fresh
Wine prefix per session and a drive d: per test. A suite's conftest.py
imports them by name, which registers them there."""

import pytest

from kelzar_harness import BUILD, Drive, Kelzar, WineSession, missing_build_files


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
