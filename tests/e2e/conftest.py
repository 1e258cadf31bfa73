"""End-to-end fixtures: one fresh Wine prefix per session, drive d: per test.

Every Wine process runs with TZ set three hours east of UTC, without a
display, with its output in log files under the session folder, and under a
timeout, so a hang fails a test instead of blocking the run.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))

from kelzar_fixtures import build_dir, drive, kelzar, pytest_sessionstart, wine  # noqa: E402,F401
