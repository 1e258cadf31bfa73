"""scripts/fetch-zlib.sh and scripts/fetch-libdeflate.sh (both through
scripts/fetch-debian-source.sh) take any revision of their Debian source
package whose orig tarball has the pinned SHA-256, and nothing else."""

import hashlib
import os
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

from conftest import REPO


@dataclass(frozen=True)
class Library:
    package: str
    script: str
    pinned: str
    tarball: str
    revision: str
    newer: str
    files: tuple[str, ...]  # what a fetched tree holds


LIBRARIES = [
    Library("zlib", "fetch-zlib.sh",
            "60dd315c07f616887caa029408308a018ace66e3d142726a97db164b3b8f69fb",
            "zlib_1.3.dfsg+really1.3.1.orig.tar.gz", "1:1.3.dfsg+really1.3.1-1",
            "1:1.3.dfsg+really1.3.1-1+deb13u1", ("contrib/minizip/zip.c", "zlib.h")),
    Library("libdeflate", "fetch-libdeflate.sh",
            "1ab18349b9fb0ce8a0ca4116bded725be7dcbfa709e19f6f983d99df1fb8b25f",
            "libdeflate_1.23.orig.tar.gz", "1.23-2", "1.23-2+deb13u1",
            ("lib/deflate_decompress.c", "libdeflate.h")),
]
BY_NAME = {lib.package: lib for lib in LIBRARIES}


def default_cache() -> Path:
    home = os.environ.get("XDG_CACHE_HOME", str(Path.home() / ".cache"))
    return Path(os.environ.get("KELZAR_DOWNLOAD_CACHE", Path(home) / "kelzar"))


@pytest.fixture(params=[lib.package for lib in LIBRARIES])
def lib(request) -> Library:
    return BY_NAME[request.param]


def genuine_tarball(lib: Library, scratch: Path) -> Path:
    """The genuine upstream tarball, from the build's download cache (a
    build has run before these tests; if not, the real script fetches it)."""
    cached = default_cache() / f"{lib.package}-{lib.pinned}.tar.gz"
    if not cached.is_file():
        subprocess.run(["bash", str(REPO / "scripts" / lib.script), str(scratch / "src")],
                       check=True, timeout=600)
    assert hashlib.sha256(cached.read_bytes()).hexdigest() == lib.pinned
    return cached


@pytest.fixture
def real_tarball(lib, tmp_path_factory) -> Path:
    return genuine_tarball(lib, tmp_path_factory.mktemp(f"{lib.package}-src"))


@pytest.fixture
def other_tarball(lib, tmp_path) -> Path:
    """A tarball that is not the pinned one (as a tampered mirror would serve),
    though it holds the files a fetched tree is recognised by."""
    path = tmp_path / "other.tar.gz"
    for name in lib.files:
        (tmp_path / "x" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "x" / name).write_text("not the library\n")
    subprocess.run(["tar", "-czf", str(path), "-C", str(tmp_path), "x"], check=True)
    return path


def fetch(fake_apt, lib: Library, scenario: dict, cache: Path):
    dest = fake_apt.tmp / "dest"
    run = fake_apt.run(lib.script, scenario, str(dest), env={"KELZAR_DOWNLOAD_CACHE": str(cache)})
    return run, dest


def stanza(lib: Library, version: str, sha: str | None = None, tarball: str | None = None,
           package: str | None = None) -> dict:
    return {"package": package or lib.package, "version": version,
            "tarball": tarball or lib.tarball, "sha256": sha or lib.pinned}


def test_a_newer_revision_serves_when_the_old_one_left_the_archive(fake_apt, lib, real_tarball,
                                                                   tmp_path):
    scenario = {"sources": [stanza(lib, lib.revision), stanza(lib, lib.newer)],
                "downloads": {lib.newer: str(real_tarball)}}
    run, dest = fetch(fake_apt, lib, scenario, tmp_path / "cache")
    assert run.code == 0, run.stderr
    assert all((dest / name).is_file() for name in lib.files), list(dest.iterdir())
    tried = [c["args"][-1] for c in run.called("apt-get", "source")]
    assert tried == [f"{lib.package}={lib.revision}", f"{lib.package}={lib.newer}"], tried
    assert (tmp_path / f"cache/{lib.package}-{lib.pinned}.tar.gz").is_file(), \
        "the verified tarball is kept"


def other_package(lib: Library) -> str:
    return next(other.package for other in LIBRARIES if other != lib)


# (case, stanzas, versions whose download serves the other tarball, what the
# message names)
REFUSED = [
    ("only another upstream version",
     lambda lib: [stanza(lib, "9.9-1", sha="ab" * 32, tarball=f"{lib.package}_9.9.orig.tar.gz")],
     ["9.9-1"], lambda lib: "revisions in the index: 9.9-1"),
    ("index claims the digest, mirror serves other bytes",
     lambda lib: [stanza(lib, lib.newer)], [lambda lib: lib.newer],
     lambda lib: f"revisions in the index: {lib.newer}"),
    ("no source index at all", lambda lib: [], [], lambda lib: "is the trixie deb-src entry"),
    ("only the other library's package",
     lambda lib: [stanza(lib, lib.revision, package=other_package(lib))], [],
     lambda lib: "is the trixie deb-src entry"),
]


@pytest.mark.parametrize("case,sources,downloads,names", REFUSED, ids=[c[0] for c in REFUSED])
def test_nothing_but_the_pinned_tarball_is_taken(fake_apt, lib, other_tarball, tmp_path, case,
                                                 sources, downloads, names):
    versions = [v(lib) if callable(v) else v for v in downloads]
    scenario = {"sources": sources(lib), "downloads": {v: str(other_tarball) for v in versions}}
    run, dest = fetch(fake_apt, lib, scenario, tmp_path / "cache")
    assert run.code != 0, f"{case}: accepted"
    assert (f"no revision of Debian's {lib.package} source package has an orig tarball with "
            f"SHA-256 {lib.pinned}") in run.stderr and names(lib) in run.stderr, run.stderr
    assert not any((dest / name).exists() for name in lib.files), "nothing unverified is unpacked"
    assert not list((tmp_path / "cache").glob(f"{lib.package}-*")), "nothing unverified is kept"
    assert len(run.called("apt-get", "update")) == 1, "the index is refreshed once before giving up"


@pytest.mark.parametrize("cached_bytes,downloads", [("good", 0), ("bad", 1)], ids=["good", "damaged"])
def test_the_cache_is_used_only_when_it_verifies(fake_apt, lib, real_tarball, other_tarball,
                                                tmp_path, cached_bytes, downloads):
    cache = tmp_path / "cache"
    cache.mkdir()
    source = real_tarball if cached_bytes == "good" else other_tarball
    (cache / f"{lib.package}-{lib.pinned}.tar.gz").write_bytes(source.read_bytes())
    scenario = {"sources": [stanza(lib, lib.revision)],
                "downloads": {lib.revision: str(real_tarball)}}
    run, dest = fetch(fake_apt, lib, scenario, cache)
    assert run.code == 0, run.stderr
    assert all((dest / name).is_file() for name in lib.files)
    assert (dest / lib.files[0]).read_bytes() != b"not the library\n"
    assert len(run.called("apt-get", "source")) == downloads


def test_the_two_libraries_share_a_cache_without_mixing(fake_apt, tmp_path):
    """Each script takes only its own tarball from a cache that holds both."""
    cache = tmp_path / "cache"
    cache.mkdir()
    for lib in LIBRARIES:
        genuine = genuine_tarball(lib, tmp_path / lib.package)
        (cache / genuine.name).write_bytes(genuine.read_bytes())
    for lib in LIBRARIES:
        run, dest = fetch(fake_apt, lib, {"sources": []}, cache)
        assert run.code == 0, run.stderr
        assert all((dest / name).is_file() for name in lib.files), lib.package
        assert not run.called("apt-get", "source")
        subprocess.run(["rm", "-rf", str(dest)], check=True)
