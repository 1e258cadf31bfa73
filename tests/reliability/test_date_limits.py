"""File dates outside the MS-DOS range (1980 to 2107) are clamped to its
ends, in both modes, down to the oldest and up to the latest date the file
systems here can hold.

Drive d: is ext4, which holds 1901-12-13 to 2446-05-10. Drive t: is a tmpfs,
which holds any year. Wine's FILETIME begins in 1601 and the calendar that
FileTimeToSystemTime converts to ends in 30827: a file of year 40000 comes
to the program as a FILETIME of 2**63 or more, which no conversion takes,
and its entry must still get the latest date, not the earliest.
"""

import datetime
import os
import zipfile

import pytest

from hostile import leftovers
from peers import infozip, mixed_content, write_tree
from kelzar_harness import run

EARLIEST = (1980, 1, 1, 0, 0, 0)
LATEST = (2107, 12, 31, 23, 59, 58)
EPOCH = datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)


def seconds(year, month=1, day=1, hour=0, minute=0, second=0) -> int:
    """Unix seconds of a UTC time, for years Python's datetime cannot hold too."""
    if year <= 9999:
        moment = datetime.datetime(year, month, day, hour, minute, second,
                                   tzinfo=datetime.timezone.utc)
        return int((moment - EPOCH).total_seconds())
    return seconds(9999, month, day, hour, minute, second) + (year - 9999) * 31_556_952


# (file name, drive, Unix seconds, the entry's date)
DATES = [
    ("ext4-oldest", "d", -(2**31), EARLIEST),
    ("last-second-before-1970", "d", -1, EARLIEST),
    ("unix-epoch", "d", 0, EARLIEST),
    ("ext4-latest", "d", seconds(2446, 5, 10, 22, 38, 55), LATEST),
    ("year-1", "t", seconds(1, 6, 1), EARLIEST),
    ("before-1601", "t", seconds(1600, 12, 31, 23, 59, 59), EARLIEST),
    ("first-second-of-1601", "t", seconds(1601), EARLIEST),
    ("year-9999", "t", seconds(9999, 12, 31, 23, 59, 59), LATEST),
    ("year-30000", "t", seconds(30000, 6, 1), LATEST),
    ("year-40000", "t", seconds(40000, 6, 1), LATEST),
]


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "update"])
@pytest.mark.parametrize("letter", ["d", "t"], ids=["ext4", "tmpfs"])
def test_dates_outside_the_ms_dos_range_clamp(kelzar, drive, mount_tmpfs, tmp_path, letter, mode):
    folder = (drive.root if letter == "d" else mount_tmpfs("t", "4m")) / "src"
    folder.mkdir()
    rows = [row for row in DATES if row[1] == letter]
    for name, _, stamp, _ in rows:
        path = folder / f"{name}.txt"
        path.write_bytes(name.encode())
        os.utime(path, (stamp, stamp))
        assert os.stat(path).st_mtime == stamp, f"{letter}: cannot hold the time of {name}"
    archive = drive.path(r"d:\arch\dates.zip")
    archive.parent.mkdir()
    old = []
    if mode == "1":
        write_tree(tmp_path / "peer", {"old/kept.txt": mixed_content(0, 2_000)})
        infozip(archive, tmp_path / "peer", "-r", "old")
        with zipfile.ZipFile(archive) as zf:
            old = [(i.filename, i.date_time) for i in zf.infolist()]

    assert run(kelzar, rf"d:\arch\dates.zip {letter}:\src\*.txt {mode}") == 0
    assert leftovers(archive.parent) == []
    with zipfile.ZipFile(archive) as zf:
        assert zf.testzip() is None
        infos = zf.infolist()
    assert [(i.filename, i.date_time) for i in infos[:len(old)]] == old, \
        "carried-over entries keep their dates"
    prefix = "src\\" if mode == "1" else ""
    got = {i.filename: i.date_time for i in infos[len(old):]}
    assert got == {f"{prefix}{name}.txt": date for name, _, _, date in rows}
