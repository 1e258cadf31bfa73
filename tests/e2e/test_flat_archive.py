"""New archives of bare file names from one folder (no third argument, or 0)."""

import os
import random
import shutil
import subprocess
import zipfile
import zlib

import pytest

from peers import make_pattern_source
from kelzar_harness import (
    assert_deflated,
    deflate_level6,
    level6_slack,
    dos_date_time,
    utc_timestamp,
)
from zipread import verify_archive

# A time at an odd second, so that the rounding to the even second of an
# MS-DOS date shows.
ODD_SECOND = utc_timestamp(2021, 6, 15, 12, 34, 57)


def text_of(size: int, seed: int) -> bytes:
    """Compressible text of the given size, different for every seed."""
    rng = random.Random(seed)
    words = [f"word{n}" for n in range(300)] + ["alpha", "beta", "gamma", "\r\n"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words).encode() + b" "
    return bytes(out[:size])


def folder_names(folder) -> set[str]:
    return {p.name for p in folder.iterdir()}


def make_source(kelzar, drive) -> dict[str, bytes]:
    """d:\\src with files that must be archived by *.txt and files that must not.

    Returns the files *.txt must yield, by name."""
    wanted = {
        "a.txt": text_of(1000, 1),
        "b.txt": text_of(5000, 2),
        "Mixed Case Name.TXT": b"case and spaces are kept\r\n",
        "readonly.txt": b"read-only files are archived too\r\n",
    }
    for name, data in wanted.items():
        drive.write(f"d:\\src\\{name}", data, mtime=ODD_SECOND)
    drive.write(r"d:\src\other.dat", b"not a text file")
    drive.write(r"d:\src\hidden.txt", b"hidden")
    drive.write(r"d:\src\system.txt", b"system")
    drive.write(r"d:\src\both.txt", b"hidden and system")
    drive.write(r"d:\src\sub\inner.txt", b"in a subfolder")
    drive.path(r"d:\src\folder.txt").mkdir()  # a folder whose name matches
    kelzar.set_attributes("H", r"d:\src\hidden.txt")
    kelzar.set_attributes("S", r"d:\src\system.txt")
    kelzar.set_attributes("HS", r"d:\src\both.txt")
    kelzar.set_attributes("R", r"d:\src\readonly.txt")
    os.utime(drive.path(r"d:\src\readonly.txt"), (ODD_SECOND, ODD_SECOND))
    return wanted


def test_archive_holds_visible_matching_files_under_bare_names(kelzar, drive):
    wanted = make_source(kelzar, drive)
    drive.path(r"d:\out").mkdir()

    assert kelzar.run(r"d:\out\a.zip d:\src\*.txt") == 0
    entries = verify_archive(drive.path(r"d:\out\a.zip"))

    assert set(entries) == set(wanted), "hidden, system, non-matching files and folders stay out"
    expected_date = dos_date_time(ODD_SECOND)
    for name, entry in entries.items():
        assert entry.data == wanted[name], f"content of {name}"
        assert entry.method == zipfile.ZIP_DEFLATED, f"{name} must be deflated"
        assert entry.date_time == expected_date, f"{name}: local last-write time, even second"
        assert entry.info.external_attr == 0, f"{name} carries no attributes"
        assert entry.info.extra == b"" and entry.info.comment == b""
    assert folder_names(drive.path(r"d:\out")) == {"a.zip"}, "no temporary or lock file is left"
    with zipfile.ZipFile(drive.path(r"d:\out\a.zip")) as zf:
        assert zf.comment == b""


def test_entries_are_deflated_at_level_6(kelzar, drive):
    # One file of several read pieces, one compressed in several blocks.
    data = text_of(200_000, 7)
    large = text_of(3_500_000, 8)
    for sample in (data, large):
        faster = len(zlib.compress(sample, 1)) - 6
        assert faster - len(deflate_level6(sample)) > level6_slack(sample), \
            "the text cannot tell level 1 from level 6"
    drive.write(r"d:\src\big.txt", data)
    drive.write(r"d:\src\large.txt", large)
    drive.write(r"d:\src\small.txt", b"short text, short text, short text\r\n")

    assert kelzar.run(r"d:\a.zip d:\src\*.txt") == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))

    assert set(entries) == {"big.txt", "large.txt", "small.txt"}
    for entry in entries.values():
        assert_deflated(entry.raw, entry.data, entry.info.CRC, entry.name)
        assert entry.info.flag_bits & 0x6 == 0, f"{entry.name}: flagged as another level"


@pytest.mark.parametrize(
    "size",
    [0, 1, 32_767, 32_768, 32_769, 32_770, 65_537, 300_001],
)
def test_file_sizes_around_the_read_piece(kelzar, drive, size):
    data = random.Random(size).randbytes(size)
    drive.write(r"d:\src\f.bin", data, mtime=ODD_SECOND)

    assert kelzar.run(r"d:\a.zip d:\src\f.bin") == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))

    assert list(entries) == ["f.bin"]
    entry = entries["f.bin"]
    assert entry.data == data, f"a file of {size} bytes comes back whole"
    assert entry.info.file_size == size
    assert_deflated(entry.raw, data, entry.info.CRC, f"a file of {size} bytes")
    assert entry.method == zipfile.ZIP_DEFLATED


# (file name, last-write time in UTC, the entry's date). The test zone is
# UTC+3: the rows near midnight and near the ends of the MS-DOS range show
# whether local time is used, and whether the range is checked after the
# conversion to local time.
DATE_CASES = [
    ("odd-second", (2021, 6, 15, 12, 34, 57), (2021, 6, 15, 15, 34, 56)),
    ("even-second", (2021, 6, 15, 12, 34, 58), (2021, 6, 15, 15, 34, 58)),
    ("next-local-day", (2021, 12, 31, 22, 30, 1), (2022, 1, 1, 1, 30, 0)),
    ("year-1975", (1975, 6, 1, 10, 0, 1), (1980, 1, 1, 0, 0, 0)),
    ("last-local-second-of-1979", (1979, 12, 31, 20, 59, 59), (1980, 1, 1, 0, 0, 0)),
    ("utc-1979-local-1980", (1979, 12, 31, 22, 0, 3), (1980, 1, 1, 1, 0, 2)),
    ("utc-2107-local-2107", (2107, 12, 31, 19, 0, 1), (2107, 12, 31, 22, 0, 0)),
    ("last-local-second-of-2107", (2107, 12, 31, 20, 59, 59), (2107, 12, 31, 23, 59, 58)),
    ("utc-2107-local-2108", (2107, 12, 31, 21, 0, 1), (2107, 12, 31, 23, 59, 58)),
    ("year-2110", (2110, 6, 1, 10, 0, 1), (2107, 12, 31, 23, 59, 58)),
]


def test_entry_dates_are_local_even_second_and_clamped(kelzar, drive):
    for name, utc, _ in DATE_CASES:
        path = drive.write(f"d:\\src\\{name}.txt", name)
        stamp = utc_timestamp(*utc)
        os.utime(path, (stamp, stamp))
        assert os.stat(path).st_mtime == stamp, f"the file system cannot hold {utc}"

    assert kelzar.run(r"d:\a.zip d:\src\*.txt") == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))

    got = {name[:-4]: entry.date_time for name, entry in entries.items()}
    expected = {name: date for name, _, date in DATE_CASES}
    assert got == expected
    for name, utc, date in DATE_CASES:
        assert dos_date_time(utc_timestamp(*utc)) == date, f"table row {name} is consistent"


def test_relative_archive_path_counts_from_working_folder(kelzar, drive):
    make_pattern_source(drive)
    assert kelzar.run(r"out.zip,*.txt", cwd=r"d:\src") == 0
    entries = verify_archive(drive.path(r"d:\src\out.zip"))
    assert set(entries) == {"a.txt", "ab.txt"}
    assert not drive.path(r"d:\out.zip").exists()


@pytest.mark.parametrize(
    "pattern",
    [r"d:\src", r"d:\src\*.none", r"d:\missing\*.txt", "d:\\src\\sub\\", r"d:\src\sub"],
    ids=["folder-without-backslash", "no-match", "missing-folder", "only-hidden", "subfolder"],
)
def test_nothing_matches_nothing_created(kelzar, drive, pattern):
    make_pattern_source(drive)
    drive.write(r"d:\src\sub\d.txt", b"hidden now")
    kelzar.set_attributes("H", r"d:\src\sub\d.txt")
    before = drive.snapshot()

    assert kelzar.run(f"d:\\a.zip {pattern}") == 1
    assert drive.snapshot() == before, "nothing may be created when no file matches"


def peer_archive(path, tool: str) -> bytes:
    """An archive of an old file made by another zipper; returns its bytes."""
    path.parent.mkdir(parents=True, exist_ok=True)
    source = path.parent / "peer-src"
    source.mkdir()
    (source / "old.txt").write_bytes(b"an entry from an earlier archive\n" * 20)
    if tool == "python":
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as zf:
            zf.write(source / "old.txt", "old.txt")
    elif tool == "info-zip":
        subprocess.run(["zip", "-q", "-j", str(path), str(source / "old.txt")], check=True)
    else:
        subprocess.run(["7z", "a", "-tzip", "-bd", str(path), str(source / "old.txt")],
                       check=True, stdout=subprocess.DEVNULL)
    shutil.rmtree(source)
    with zipfile.ZipFile(path) as zf:
        assert zf.namelist() == ["old.txt"]
    return path.read_bytes()


@pytest.mark.parametrize("tool", ["python", "info-zip", "7-zip"])
def test_existing_archive_is_replaced_or_left_alone(kelzar, drive, tool):
    archive = drive.path(r"d:\out\a.zip")
    old = peer_archive(archive, tool)
    drive.write(r"d:\src\new.txt", b"new content")

    assert kelzar.run(r"d:\out\a.zip d:\src\*.none") == 1
    assert archive.read_bytes() == old, "with nothing to add, the old archive stays byte for byte"
    assert folder_names(archive.parent) == {"a.zip"}

    assert kelzar.run(r"d:\out\a.zip d:\src\*.txt") == 0
    entries = verify_archive(archive)
    assert set(entries) == {"new.txt"}, "the new archive holds only this run's files"
    assert entries["new.txt"].data == b"new content"
    assert folder_names(archive.parent) == {"a.zip"}


@pytest.mark.parametrize(
    "args, existing",
    [
        (r"d:\src\out.zip d:\src\*.*", False),
        (r"d:\src\out.zip d:\src\*.*", True),
        ("d:\\src\\out.zip d:\\src\\", True),
        (r"d:\src\out.zip d:\src\out.zip", True),
        (r"d:\src\.\out.zip d:\src\*.zip", True),
        (r"d:\src\OUT.ZIP d:\src\*", True),
    ],
    ids=["new", "existing", "backslash", "only-itself", "dot-path", "other-case"],
)
def test_archive_never_holds_itself(kelzar, drive, args, existing):
    drive.write(r"d:\src\a.txt", b"a")
    drive.write(r"d:\src\other.zip", b"not really a zip, just a file named .zip")
    old = peer_archive(drive.path(r"d:\src\out.zip"), "python") if existing else None

    code = kelzar.run(args)

    # The archive may now be spelt as the command line spelt it.
    listing = {p.name.lower(): p for p in drive.path(r"d:\src").iterdir()}
    assert set(listing) == {"a.txt", "other.zip", "out.zip"}, "no temporary or lock file is left"
    archive = listing["out.zip"]
    if args.endswith(r"\out.zip"):
        assert code == 1, "the pattern names only the archive: nothing to add"
        assert archive.read_bytes() == old
        return
    assert code == 0
    entries = verify_archive(archive)
    expected = {"other.zip"} if args.endswith("*.zip") else {"a.txt", "other.zip"}
    assert set(entries) == expected, "the archive never holds itself or its temporary file"


def test_paths_longer_than_127_characters_are_used_whole(kelzar, drive):
    folder = "d:\\" + "long folder name " * 4 + "end"
    name = "a file name that is long enough to pass the old limit " * 2 + "end.txt"
    archive_name = "an archive name that is long as well " * 2 + ".zip"
    file_path = f"{folder}\\{name}"
    archive_path = f"{folder}\\{archive_name}"
    assert len(file_path) > 127 and len(archive_path) > 127 and len(file_path) < 260
    drive.write(file_path, b"long path content", mtime=ODD_SECOND)
    drive.write(f"{folder}\\short.txt", b"short")

    assert kelzar.run(f"{archive_path} {folder}\\*.txt") == 0
    entries = verify_archive(drive.path(archive_path))

    assert set(entries) == {name, "short.txt"}, "names are stored whole"
    assert entries[name].data == b"long path content"
    assert entries[name].date_time == dos_date_time(ODD_SECOND)
    assert folder_names(drive.path(folder)) == {name, "short.txt", archive_name}
