"""scripts/fetch-zlib.sh takes any revision of Debian's zlib source package
whose orig tarball has the pinned SHA-256, and nothing else."""

import hashlib
import os
import subprocess
from pathlib import Path

import pytest

from conftest import REPO

PINNED = "60dd315c07f616887caa029408308a018ace66e3d142726a97db164b3b8f69fb"
TARBALL = "zlib_1.3.dfsg+really1.3.1.orig.tar.gz"
REVISION = "1:1.3.dfsg+really1.3.1-1"
NEWER = "1:1.3.dfsg+really1.3.1-1+deb13u1"


def default_cache() -> Path:
    home = os.environ.get("XDG_CACHE_HOME", str(Path.home() / ".cache"))
    return Path(os.environ.get("KELZAR_DOWNLOAD_CACHE", Path(home) / "kelzar"))


@pytest.fixture(scope="module")
def real_tarball(tmp_path_factory) -> Path:
    """The genuine upstream tarball, from the build's download cache (a
    build has run before these tests; if not, the real script fetches it)."""
    cached = default_cache() / f"zlib-{PINNED}.tar.gz"
    if not cached.is_file():
        dest = tmp_path_factory.mktemp("zlib-src")
        subprocess.run(["bash", str(REPO / "scripts/fetch-zlib.sh"), str(dest / "src")],
                       check=True, timeout=600)
    assert hashlib.sha256(cached.read_bytes()).hexdigest() == PINNED
    return cached


@pytest.fixture
def other_tarball(tmp_path) -> Path:
    """A tarball that is not the pinned one (as a tampered mirror would serve)."""
    path = tmp_path / "other.tar.gz"
    (tmp_path / "zlib-x").mkdir()
    (tmp_path / "zlib-x/zlib.h").write_text("not zlib\n")
    subprocess.run(["tar", "-czf", str(path), "-C", str(tmp_path), "zlib-x"], check=True)
    return path


def fetch(fake_apt, scenario: dict, cache: Path):
    dest = fake_apt.tmp / "dest"
    run = fake_apt.run("fetch-zlib.sh", scenario, str(dest),
                       env={"KELZAR_DOWNLOAD_CACHE": str(cache)})
    return run, dest


def stanza(version: str, sha: str = PINNED, tarball: str = TARBALL) -> dict:
    return {"version": version, "tarball": tarball, "sha256": sha}


def test_a_newer_revision_serves_when_the_old_one_left_the_archive(fake_apt, real_tarball, tmp_path):
    scenario = {"sources": [stanza(REVISION), stanza(NEWER)],
                "downloads": {NEWER: str(real_tarball)}}
    run, dest = fetch(fake_apt, scenario, tmp_path / "cache")
    assert run.code == 0, run.stderr
    assert (dest / "contrib/minizip/zip.c").is_file() and (dest / "zlib.h").is_file()
    tried = [c["args"][-1] for c in run.called("apt-get", "source")]
    assert tried == [f"zlib={REVISION}", f"zlib={NEWER}"], tried
    assert (tmp_path / f"cache/zlib-{PINNED}.tar.gz").is_file(), "the verified tarball is kept"


# (case, stanzas, downloads by version, what the message names)
REFUSED = [
    ("only another upstream version", [stanza("1:1.3.2-1", sha="ab" * 32,
                                             tarball="zlib_1.3.2.orig.tar.gz")],
     {"1:1.3.2-1": "other"}, "revisions in the index: 1:1.3.2-1"),
    ("index claims the digest, mirror serves other bytes", [stanza(NEWER)], {NEWER: "other"},
     f"revisions in the index: {NEWER}"),
    ("no source index at all", [], {}, "is the trixie deb-src entry"),
]


@pytest.mark.parametrize("case,sources,downloads,names", REFUSED, ids=[c[0] for c in REFUSED])
def test_nothing_but_the_pinned_tarball_is_taken(fake_apt, other_tarball, tmp_path, case, sources,
                                                 downloads, names):
    scenario = {"sources": sources,
                "downloads": {v: str(other_tarball) for v in downloads}}
    run, dest = fetch(fake_apt, scenario, tmp_path / "cache")
    assert run.code != 0, f"{case}: accepted"
    assert f"no revision of Debian's zlib source package has an orig tarball with SHA-256 {PINNED}" \
        in run.stderr and names in run.stderr, run.stderr
    assert not (dest / "zlib.h").exists(), "nothing unverified is unpacked"
    assert not list((tmp_path / "cache").glob("zlib-*")), "nothing unverified is kept"
    assert len(run.called("apt-get", "update")) == 1, "the index is refreshed once before giving up"


@pytest.mark.parametrize("cached_bytes,downloads", [("good", 0), ("bad", 1)], ids=["good", "damaged"])
def test_the_cache_is_used_only_when_it_verifies(fake_apt, real_tarball, other_tarball, tmp_path,
                                                cached_bytes, downloads):
    cache = tmp_path / "cache"
    cache.mkdir()
    source = real_tarball if cached_bytes == "good" else other_tarball
    (cache / f"zlib-{PINNED}.tar.gz").write_bytes(source.read_bytes())
    scenario = {"sources": [stanza(REVISION)], "downloads": {REVISION: str(real_tarball)}}
    run, dest = fetch(fake_apt, scenario, cache)
    assert run.code == 0, run.stderr
    assert (dest / "contrib/minizip/zip.c").is_file()
    assert len(run.called("apt-get", "source")) == downloads
