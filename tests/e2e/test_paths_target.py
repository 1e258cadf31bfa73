"""Flag 1: the archive is only ever replaced whole by its complete successor.

Read-only archives, wildcard paths, stale and killed runs, two runs at once
and a lock held by another run: in every case the file at ZipfilePath is
either the old archive, untouched, or the old entries plus the new files,
and nothing of the program's own bookkeeping is left beside it."""

import os
import signal
import time

import pytest

from peers import (
    assert_update,
    bookkeeping_left,
    bookkeeping_prefix,
    lock_name,
    temporary_pattern,
    infozip,
    make_new_files,
    mixed_content,
    wait_for,
    write_tree,
)
from kelzar_harness import exit_code, spawn
from zipread import read_entries, verified_entries

ARCHIVE = r"d:\arch\old.zip"
COMMAND = rf"{ARCHIVE} d:\new\*.txt 1"
TEMPORARY = temporary_pattern("old.zip")
LOCK = "d:\\arch\\" + lock_name("old.zip")


@pytest.fixture
def old_archive(drive, tmp_path):
    """An Info-ZIP archive at d:\\arch\\old.zip and its entries."""
    write_tree(tmp_path / "peer", {"old/a.txt": mixed_content(0, 20_000),
                                   "old/b.bin": mixed_content(1, 3_000), "old/empty": b""})
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    infozip(archive, tmp_path / "peer", "-r", "old")
    return archive, read_entries(archive)


def new_files(drive, tag="one"):
    return make_new_files(drive, [(rf"d:\new\{tag}.txt", mixed_content(2, 9_000))])


@pytest.mark.parametrize("flag", ["0", "1"])
def test_an_archive_that_cannot_be_examined_is_left_alone(kelzar, drive, flag):
    # Only "not found" means there is no archive. Wine answers error 1921
    # (the name cannot be resolved) for a link that leads to itself, where
    # Windows would answer access denied or a network error for an archive
    # out of reach: either way it is there, and replacing it would lose it.
    new_files(drive)
    link = drive.path(ARCHIVE)
    link.parent.mkdir(parents=True)
    link.symlink_to(link.name)
    assert kelzar.run(rf"{ARCHIVE} d:\new\*.txt {flag}") == 1
    assert link.is_symlink() and os.readlink(link) == link.name, "the archive was replaced"
    assert bookkeeping_left(drive) == []


def test_read_only_archive_is_not_replaced(kelzar, drive, old_archive):
    new_files(drive)
    kelzar.set_attributes("R", ARCHIVE)
    before = drive.snapshot()

    assert kelzar.run(COMMAND) == 1
    assert drive.snapshot() == before
    assert "R" in kelzar.wine.attributes(ARCHIVE)


@pytest.mark.parametrize("attrs", ["H", "S", "HS", "HSA"])
def test_hidden_or_system_archive_is_still_the_archive(kelzar, drive, old_archive, attrs):
    archive, before = old_archive
    added = new_files(drive)
    kelzar.set_attributes(attrs, ARCHIVE)

    assert kelzar.run(COMMAND) == 0
    assert_update(before, archive, added)
    assert kelzar.wine.attributes(ARCHIVE) - {"A"} == set(attrs) - {"A"}, \
        "the rebuilt archive lost the attributes of the old one"
    assert bookkeeping_left(drive) == []


@pytest.mark.parametrize("target", [r"d:\arch\*.zip", r"d:\arch\o?d.zip", r"d:\arch\*",
                                    r"d:\arch\old.zip*"])
def test_archive_path_with_wildcards_changes_and_deletes_nothing(kelzar, drive, old_archive,
                                                                  target):
    # Files the wildcard would match, next to the archive.
    drive.write(r"d:\arch\other.zip", "not even an archive")
    drive.write(r"d:\arch\old.zip.bak", "backup")
    new_files(drive)
    before = drive.snapshot()

    assert kelzar.run(rf"{target} d:\new\*.txt 1") == 1
    assert drive.snapshot() == before


@pytest.mark.parametrize("stale_attrs", ["H", "N"], ids=["hidden", "plain"])
@pytest.mark.parametrize("walk_covers_it", [False, True], ids=["elsewhere", "in-walk"])
def test_stale_temporary_file_does_no_harm(kelzar, drive, old_archive, stale_attrs,
                                           walk_covers_it):
    # What a killed run leaves: a temporary archive, half written. It is
    # hidden while the run works; plain if the run died just before its move.
    archive, before = old_archive
    stale = "d:\\arch\\" + bookkeeping_prefix("old.zip") + "-00000000aa.tmp"
    drive.write(stale, b"PK\x03\x04half an archive")
    kelzar.set_attributes(stale_attrs, stale)
    if walk_covers_it:
        added = make_new_files(drive, [(r"d:\arch\new.txt", mixed_content(4, 5_000))])
        command = rf"{ARCHIVE} d:\arch\*.* 1"
    else:
        added = new_files(drive)
        command = COMMAND

    assert kelzar.run(command) == 0
    assert_update(before, archive, added)
    assert bookkeeping_left(drive) == [], "the stale temporary file is still there"


def test_run_killed_midway_leaves_the_archive_and_the_next_run_succeeds(
        kelzar, wine, drive, old_archive):
    archive, before = old_archive
    original = archive.read_bytes()
    # Enough incompressible data that the run is still writing when killed.
    drive.write(r"d:\big\large.bin", os.urandom(80 * 1024 * 1024))
    folder = archive.parent
    # Started straight through Wine, not the launcher, so that the Linux
    # process is the Windows process itself and SIGKILL ends it like a crash.
    process = wine.spawn("kelzar.exe", [ARCHIVE, r"d:\big\*.*", "1"], "kelzar-killed")
    try:
        def temporary_growing():
            found = [p for p in folder.iterdir() if TEMPORARY.match(p.name)]
            return bool(found) and found[0].stat().st_size > 1_000_000

        wait_for(temporary_growing, 60, "the run to write its temporary archive")
        assert process.poll() is None, "the run ended before it could be killed"
    finally:
        process.send_signal(signal.SIGKILL)
        process.wait(timeout=30)
    assert archive.read_bytes() == original, "a killed run changed the archive"
    assert not any(p.name.lower() == "tmp$zip" for p in drive.root.rglob("*"))
    # The system removes the killed run's lock; its temporaries stay behind:
    # the archive's and the one its central directory waits in.
    wait_for(lambda: not drive.path(LOCK).exists(), 10, "the lock to go")
    leftovers = [p.name for p in folder.iterdir() if p.name != "old.zip"]
    assert 1 <= len(leftovers) <= 2, leftovers
    assert all(TEMPORARY.match(name) for name in leftovers), leftovers

    drive.path(r"d:\big\large.bin").unlink()
    added = new_files(drive)
    assert kelzar.run(COMMAND) == 0
    assert_update(before, archive, added)
    assert bookkeeping_left(drive) == []


def test_two_runs_at_once_lose_no_update(kelzar, drive, tmp_path):
    # An archive large enough that the runs overlap while they copy it.
    write_tree(tmp_path / "peer", {f"old/{i}.bin": mixed_content(2 * i + 1, 2_000_000)
                                   for i in range(8)})
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    infozip(archive, tmp_path / "peer", "-r", "old")
    before = read_entries(archive)
    runs = {tag: make_new_files(drive, [(rf"d:\new\{tag}\{tag}.txt", mixed_content(6, 4_000))])
            for tag in ("first", "second", "third")}
    processes = {tag: spawn(kelzar, rf"{ARCHIVE} d:\new\{tag}\*.txt 1", timeout=120)
                 for tag in runs}
    codes = {tag: exit_code(p, tag, timeout=120) for tag, p in processes.items()}

    # Every run that reported success has its file in the archive; a run
    # that failed changed nothing. All three should succeed: each waits for
    # the others.
    done = [runs[tag][0] for tag, code in codes.items() if code == 0]
    after = verified_entries(archive)
    assert_update(before, archive, done, any_order=True)
    assert len(after) == len(before) + len(done)
    assert codes == {"first": 0, "second": 0, "third": 0}, codes
    assert bookkeeping_left(drive) == []


def test_run_waits_for_the_lock_of_another_run(kelzar, drive, old_archive):
    archive, before = old_archive
    original = archive.read_bytes()
    added = new_files(drive)
    lock = drive.path(LOCK)
    lock.write_bytes(b"")
    # Held open without sharing, as a running run holds it.
    with kelzar.hold(LOCK, "exclusive"):
        process = spawn(kelzar, COMMAND, timeout=120)
        time.sleep(3)
        assert process.poll() is None, "the run did not wait for the lock"
        assert archive.read_bytes() == original
    lock.unlink()
    assert exit_code(process, COMMAND, timeout=120) == 0
    assert_update(before, archive, added)
    assert bookkeeping_left(drive) == []


def test_orphaned_lock_file_does_not_block_the_archive(kelzar, drive, old_archive):
    # A lock file nobody holds (the system stopped before removing it) would
    # otherwise lock the archive for good.
    archive, before = old_archive
    added = new_files(drive)
    drive.path(LOCK).write_bytes(b"")
    started = time.monotonic()

    assert kelzar.run(COMMAND) == 0
    assert time.monotonic() - started < 20, "the run waited for a lock nobody held"
    assert_update(before, archive, added)
    assert bookkeeping_left(drive) == []


def test_run_locked_out_for_good_gives_up_and_changes_nothing(kelzar, drive, old_archive):
    # Slow: the run waits about a minute before it gives up.
    new_files(drive)
    lock = drive.path(LOCK)
    lock.write_bytes(b"")
    before = drive.snapshot()
    started = time.monotonic()

    with kelzar.hold(LOCK, "exclusive", timeout=180):
        assert kelzar.run(COMMAND, timeout=150) == 1
        waited = time.monotonic() - started
    assert drive.snapshot() == before
    assert 45 <= waited <= 120, f"the run gave up after {waited:.0f} s"
