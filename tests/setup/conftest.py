"""Fixtures for the tests of the setup scripts: a scratch root and a PATH
whose apt-get, apt-cache, dpkg and dpkg-query are fake_apt.py."""

import json
import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
FAKE_TOOLS = ("apt-get", "apt-cache", "dpkg", "dpkg-query")


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "rebuild: builds the whole project again from a copy of the tree (minutes)")


@dataclass
class ScriptRun:
    code: int
    stdout: str
    stderr: str
    calls: list[dict]

    def called(self, tool: str, verb: str | None = None) -> list[dict]:
        return [c for c in self.calls if c["tool"] == tool and (verb is None or c.get("verb") == verb)]


class FakeApt:
    def __init__(self, tmp: Path):
        self.tmp = tmp
        self.root = tmp / "root"
        self.bin = tmp / "bin"
        self.root.mkdir()
        self.bin.mkdir()
        for tool in FAKE_TOOLS:
            (self.bin / tool).symlink_to(Path(__file__).parent / "fake_apt.py")
        self.scenario = tmp / "scenario.json"
        self.log = tmp / "calls.log"

    def run(self, script: str, scenario: dict, *args: str, env: dict | None = None) -> ScriptRun:
        self.scenario.write_text(json.dumps(scenario))
        self.scenario.with_suffix(".state").unlink(missing_ok=True)
        self.log.write_text("")
        full_env = dict(os.environ)
        full_env.update(
            PATH=f"{self.bin}:{os.environ['PATH']}",
            FAKE_APT_SCENARIO=str(self.scenario),
            FAKE_APT_LOG=str(self.log),
            KELZAR_BOOTSTRAP_ROOT=str(self.root),
            KELZAR_APT_BACKOFF="0",
        )
        full_env.update(env or {})
        done = subprocess.run(["bash", str(REPO / "scripts" / script), *args], env=full_env,
                              cwd=self.tmp, capture_output=True, text=True, timeout=120)
        calls = [json.loads(line) for line in self.log.read_text().splitlines()]
        return ScriptRun(done.returncode, done.stdout, done.stderr, calls)


@pytest.fixture
def fake_apt(tmp_path):
    return FakeApt(tmp_path)
