"""Reliability fixtures: the end-to-end harness (one Wine prefix per session,
drive d: per test), a small tmpfs as another drive, and the figures the
tests report.

Every Wine process runs with TZ three hours east of UTC, without a display,
with its output in log files, and under a timeout, so that a hang fails a
test instead of blocking the run.
"""

import contextlib
import subprocess
import sys
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
sys.path.insert(0, str(HERE))

from kelzar_fixtures import build_dir, drive, kelzar, pytest_sessionstart, wine  # noqa: E402,F401


def pytest_configure(config):
    # Every case runs by default: the whole suite, these included, takes
    # about 25 minutes on two cores. The mark lets a quick local run leave
    # them out with -m "not large".
    config.addinivalue_line(
        "markers", "large: pushes gigabytes through the program and the readers (minutes each)")


# Lines the tests report about themselves (how many cases, how they ended,
# how long the program took), printed together at the end of the run.
FIGURES: list[str] = []


@pytest.fixture
def figures(request):
    """figures("...") notes a line for the summary at the end of the run."""
    return lambda text: FIGURES.append(f"{request.node.name}: {text}")


def pytest_terminal_summary(terminalreporter):
    if FIGURES:
        terminalreporter.section("reliability figures")
        for line in FIGURES:
            terminalreporter.write_line(line)


@pytest.fixture
def mount_tmpfs(wine, tmp_path):
    """Mounts a tmpfs of a given size and maps it as a drive letter:
    mount_tmpfs("e", "8m") returns the mount point; unmounted afterwards.
    Skips where mounting is not allowed (it needs root)."""
    mounted = []

    def mount(letter: str, size: str) -> Path:
        point = tmp_path / f"tmpfs-{letter}"
        point.mkdir()
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(point)],
                              capture_output=True, timeout=30)
        if done.returncode != 0:
            pytest.skip(f"cannot mount a tmpfs here: {done.stderr.decode(errors='replace')}")
        mounted.append(point)
        wine.map_drive(letter, point)
        return point

    yield mount
    for point in mounted:
        with contextlib.suppress(Exception):
            done = subprocess.run(["umount", str(point)], capture_output=True, timeout=30)
            if done.returncode != 0:  # still in use: detach it now, free it when let go
                subprocess.run(["umount", "-l", str(point)], capture_output=True, timeout=30)
