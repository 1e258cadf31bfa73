"""Flat archives when files are in use or the archive cannot be written.

A file that cannot be read is left out and the run ends with exit code 1;
the archive that stood at the path before is never damaged; no temporary or
lock file is left beside the archive.
"""

import os
import random
import stat
import subprocess
import zipfile

import pytest

from kelzar_harness import dos_date_time, utc_timestamp
from zipread import verify_archive

ODD_SECOND = utc_timestamp(2020, 2, 29, 23, 59, 59)


def make_three(drive) -> dict[str, bytes]:
    files = {name: f"content of {name}\r\n".encode() * 50 for name in ("a.txt", "b.txt", "c.txt")}
    for name, data in files.items():
        drive.write(f"d:\\src\\{name}", data, mtime=ODD_SECOND)
    return files


def names_in(folder) -> set[str]:
    return {p.name for p in folder.iterdir()}


def previous_archive(path) -> bytes:
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zf:
        zf.writestr("old.txt", "the archive as it was before the run\n" * 10)
    return path.read_bytes()


def test_file_held_without_sharing_is_left_out(kelzar, drive):
    files = make_three(drive)
    drive.path(r"d:\out").mkdir()
    with kelzar.hold(r"d:\src\b.txt", "exclusive"):
        code = kelzar.run(r"d:\out\a.zip d:\src\*.txt")
    assert code == 1, "a file that could not be stored must make the run fail"
    entries = verify_archive(drive.path(r"d:\out\a.zip"))
    assert set(entries) == {"a.txt", "c.txt"}, "the held file is left out, never stored empty"
    for name, entry in entries.items():
        assert entry.data == files[name]
    assert names_in(drive.path(r"d:\out")) == {"a.zip"}


def test_only_file_held_leaves_previous_archive(kelzar, drive):
    drive.write(r"d:\src\b.txt", b"held")
    archive = drive.path(r"d:\out\a.zip")
    old = previous_archive(archive)
    with kelzar.hold(r"d:\src\b.txt", "exclusive"):
        code = kelzar.run(r"d:\out\a.zip d:\src\*.txt")
    assert code == 1
    assert archive.read_bytes() == old, "with no file stored, the old archive stays as it was"
    assert names_in(archive.parent) == {"a.zip"}


def test_range_locked_file_is_left_out(kelzar, drive):
    files = make_three(drive)
    with kelzar.hold(r"d:\src\b.txt", "range"):
        if kelzar.probe_read(r"d:\src\b.txt"):
            pytest.skip("Wine does not enforce another process's byte-range lock against reads")
        code = kelzar.run(r"d:\a.zip d:\src\*.txt")
    assert code == 1
    entries = verify_archive(drive.path(r"d:\a.zip"))
    assert set(entries) == {"a.txt", "c.txt"}
    for name, entry in entries.items():
        assert entry.data == files[name]


def test_range_locked_file_is_not_stored_broken(kelzar, drive):
    # Where a range lock does not stop reads (Wine), the file must still come
    # out whole or not at all.
    files = make_three(drive)
    with kelzar.hold(r"d:\src\b.txt", "range"):
        code = kelzar.run(r"d:\a.zip d:\src\*.txt")
    entries = verify_archive(drive.path(r"d:\a.zip"))
    assert set(entries) == ({"a.txt", "b.txt", "c.txt"} if code == 0 else {"a.txt", "c.txt"})
    for name, entry in entries.items():
        assert entry.data == files[name]


@pytest.mark.parametrize("how", ["read-only", "write-sharing-rw", "write-sharing-r"])
def test_files_in_use_or_read_only_keep_their_date(kelzar, drive, how):
    files = make_three(drive)
    if how == "read-only":
        kelzar.set_attributes("R", r"d:\src\b.txt")
        os.utime(drive.path(r"d:\src\b.txt"), (ODD_SECOND, ODD_SECOND))
        assert not drive.path(r"d:\src\b.txt").stat().st_mode & stat.S_IWUSR
        code = kelzar.run(r"d:\a.zip d:\src\*.txt")
    else:
        with kelzar.hold(r"d:\src\b.txt", how):
            code = kelzar.run(r"d:\a.zip d:\src\*.txt")
    assert code == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))
    assert set(entries) == set(files)
    assert entries["b.txt"].data == files["b.txt"]
    assert entries["b.txt"].date_time == dos_date_time(ODD_SECOND) == (2020, 3, 1, 2, 59, 58), \
        "the file's real local date, not one made up from a zero time"


def test_read_only_archive_is_not_replaced(kelzar, drive):
    make_three(drive)
    archive = drive.path(r"d:\out\a.zip")
    old = previous_archive(archive)
    kelzar.set_attributes("R", r"d:\out\a.zip")

    assert kelzar.run(r"d:\out\a.zip d:\src\*.txt") == 1
    assert archive.read_bytes() == old
    assert not archive.stat().st_mode & stat.S_IWUSR, "it is still read-only"
    assert names_in(archive.parent) == {"a.zip"}


@pytest.mark.parametrize(
    "archive_path",
    [
        r"d:\missing\a.zip",
        r"d:\missing\deeper\a.zip",
        r"d:\src\a.txt\a.zip",
        r"d:\src",
        "d:\\out\\",
        r"d:\out\*.zip",
        r"d:\out\a?.zip",
    ],
    ids=[
        "missing-folder",
        "missing-folders",
        "file-as-folder",
        "folder-as-archive",
        "trailing-backslash",
        "star",
        "question-mark",
    ],
)
def test_archive_that_cannot_be_written(kelzar, drive, archive_path):
    make_three(drive)
    drive.path(r"d:\out").mkdir()
    before = drive.snapshot()

    assert kelzar.run(f"{archive_path} d:\\src\\*.txt") == 1
    assert drive.snapshot() == before, "nothing may be created or changed"


@pytest.fixture
def small_disk(wine, tmp_path):
    """A 1 MiB tmpfs mapped as drive e:; skipped where mounting is not allowed."""
    mount_point = tmp_path / "small-disk"
    mount_point.mkdir()
    done = subprocess.run(
        ["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(mount_point)],
        capture_output=True, timeout=30,
    )
    if done.returncode != 0:
        pytest.skip(f"cannot mount a small tmpfs here: {done.stderr.decode(errors='replace')}")
    try:
        wine.map_drive("e", mount_point)
        yield mount_point
    finally:
        subprocess.run(["umount", str(mount_point)], capture_output=True, timeout=30)


def test_full_disk_leaves_previous_archive(kelzar, drive, small_disk):
    # Random bytes do not compress: two files of 400 KiB cannot fit beside the
    # old archive on a 1 MiB disk, so writing the new archive fails part way.
    for name in ("a.bin", "b.bin", "c.bin"):
        drive.write(f"d:\\src\\{name}", random.Random(name).randbytes(400 * 1024))
    archive = small_disk / "out" / "a.zip"
    old = previous_archive(archive)

    assert kelzar.run(r"e:\out\a.zip d:\src\*.bin") == 1
    assert archive.read_bytes() == old, "a failed run leaves the old archive as it was"
    assert names_in(archive.parent) == {"a.zip"}, "the partial archive is removed"

    # With room enough, the same disk takes the archive.
    drive.path(r"d:\src\b.bin").unlink()
    drive.path(r"d:\src\c.bin").unlink()
    assert kelzar.run(r"e:\out\a.zip d:\src\*.bin") == 0
    assert set(verify_archive(archive)) == {"a.bin"}
    assert names_in(archive.parent) == {"a.zip"}
