"""The same source gives the same kelzar.exe, zlib.dll and release bundles,
byte for byte, for both builds, wherever the tree lies: two copies of the
tree in folders of different depth are built from scratch, each makes its
bundles with its own kelzar.exe under Wine (the build this machine runs),
and the results are compared."""

import hashlib
import os
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from conftest import REPO

pytestmark = pytest.mark.rebuild

BUNDLES = {"x86": "kelzar-1.0-win32.zip", "x64": "kelzar-1.0-win64.zip"}
BUNDLED = ["LICENSE", "README.md", "SHA256SUMS", "kelzar.exe", "zlib.dll"]


def digest(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def copy_tree(dest: Path) -> None:
    """The files a clone of the working tree would hold (tracked and new,
    never build output)."""
    listed = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=REPO,
                            check=True, capture_output=True).stdout.split(b"\0")
    for name in filter(None, listed):
        source = REPO / name.decode()
        if source.is_file():
            target = dest / name.decode()
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(source.read_bytes())
            target.chmod(source.stat().st_mode)


def build_and_bundle(tree: Path, epoch: str) -> Path:
    env = {"SOURCE_DATE_EPOCH": epoch}
    steps = [[*command, "--preset", f"windows-{arch}"]
             for arch in BUNDLES for command in (["cmake"], ["cmake", "--build"])]
    for step in steps + [["bash", "scripts/dist.sh"]]:
        done = subprocess.run(step, cwd=tree, capture_output=True, text=True, timeout=1200,
                              env={**os.environ, **env})
        assert done.returncode == 0, f"{step} in {tree}:\n{done.stdout[-3000:]}\n{done.stderr[-3000:]}"
    return tree / "build"


@pytest.fixture(scope="module")
def two_builds(tmp_path_factory):
    epoch = subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=REPO, check=True,
                           capture_output=True, text=True).stdout.strip()
    root = tmp_path_factory.mktemp("rebuild")
    trees = [root / "a" / "kelzar", root / "second" / "clone-of-the-project" / "kelzar"]
    for tree in trees:
        copy_tree(tree)
    return [build_and_bundle(tree, epoch) for tree in trees], int(epoch)


@pytest.mark.parametrize("artifact", [
    *(f"windows-{arch}/{name}" for arch in BUNDLES for name in ("kelzar.exe", "zlib.dll")),
    *(f"dist/{bundle}" for bundle in BUNDLES.values()), "dist/SHA256SUMS"])
def test_two_builds_are_byte_identical(two_builds, artifact):
    (first, second), _ = two_builds
    assert digest(first / artifact) == digest(second / artifact), \
        f"{artifact} differs between two builds of one source: it cannot be checked against it"


@pytest.mark.parametrize("arch", BUNDLES)
def test_the_bundle_holds_the_build_and_verifies(two_builds, arch):
    (build, _), epoch = two_builds
    bundle = build / "dist" / BUNDLES[arch]
    assert subprocess.run(["7z", "t", str(bundle)], capture_output=True).returncode == 0
    with zipfile.ZipFile(bundle) as z:
        assert sorted(z.namelist(), key=str.lower) == sorted(BUNDLED, key=str.lower)
        assert z.testzip() is None
        sums = dict(reversed(line.split("  ", 1))
                    for line in z.read("SHA256SUMS").decode().splitlines())
        assert sorted(sums) == ["LICENSE", "README.md", "kelzar.exe", "zlib.dll"]
        for name, expected in sums.items():
            assert hashlib.sha256(z.read(name)).hexdigest() == expected, f"{name} fails its sum"
        for name in ("kelzar.exe", "zlib.dll"):
            assert z.read(name) == (build / f"windows-{arch}" / name).read_bytes(), \
                f"{name} in {bundle.name} is not the {arch} build's"
        # Entry dates are the commit's time in UTC, never the build's clock.
        stamp = time.gmtime(epoch - epoch % 2)[:6]
        assert {info.date_time for info in z.infolist()} == {stamp}


def test_one_sums_file_covers_both_bundles(two_builds):
    (build, _), _ = two_builds
    lines = (build / "dist" / "SHA256SUMS").read_text().splitlines()
    sums = dict(reversed(line.split("  ", 1)) for line in lines)
    assert sorted(sums) == sorted(BUNDLES.values())
    for name, expected in sums.items():
        assert digest(build / "dist" / name) == expected, f"{name} fails its sum"
