"""What the walk reaches: folder links, and paths longer than the classic
260-character limit, in both modes where they apply.

What Wine does here: a Linux symlink to a folder appears to a Windows
program as a plain folder (no reparse attribute), and its identity (volume
serial and file index) is that of the folder it leads to, as a junction's
or a folder symlink's is on Windows. The walk takes the file index from
FileInternalInformation, which Wine answers with the inode; on NTFS it is
the file reference number, GetFileInformationByHandle's index.
"""

import os

import pytest

from peers import assert_walk_order
from zipread import read_entries, verify_archive


def test_a_link_back_up_the_tree_is_not_walked_again(kelzar, drive):
    drive.write(r"d:\src\a.txt", "a")
    drive.write(r"d:\src\loop\b.txt", "b")
    drive.write(r"d:\elsewhere\e.txt", "e")
    os.symlink("..", drive.path(r"d:\src\loop\back"))  # back to d:\src
    os.symlink(".", drive.path(r"d:\src\loop\self"))  # the folder it is in
    os.symlink(drive.path(r"d:\src"), drive.path(r"d:\src\loop\deeper-back"))
    os.symlink(drive.path(r"d:\elsewhere"), drive.path(r"d:\src\ext"))  # leads elsewhere

    assert kelzar.run(r"d:\out.zip d:\src\*.txt 1") == 0
    names = [item.name for item in read_entries(drive.path(r"d:\out.zip"))]
    # Without the check, each loop multiplied the files until paths got too
    # long (27 to 39 copies of one file were seen), and exit 0 was given.
    assert sorted(names) == [r"src\a.txt", r"src\ext\e.txt", r"src\loop\b.txt"]
    assert_walk_order(names)
    verify_archive(drive.path(r"d:\out.zip"))


# A folder path of about 320 characters (each component within Linux's 255).
LONG_FOLDER = "d:\\" + "\\".join(["p" * 120, "q" * 120, "r" * 70])


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
def test_paths_over_260_characters_are_archived(kelzar, drive, mode):
    drive.write(f"{LONG_FOLDER}\\a.txt", "deep a")
    drive.write(f"{LONG_FOLDER}\\{'s' * 100}\\b.txt", "deeper b")
    archive = f"{LONG_FOLDER}\\{'o' * 40}.zip"
    assert len(archive) > 300

    assert kelzar.run(f"{archive} {LONG_FOLDER}\\*.txt {mode}") == 0
    entries = verify_archive(drive.path(archive))
    top = LONG_FOLDER[3:] + "\\"
    if mode == "0":
        assert {n: e.data for n, e in entries.items()} == {"a.txt": b"deep a"}
    else:
        assert {n: e.data for n, e in entries.items()} == {
            top + "a.txt": b"deep a", top + "s" * 100 + "\\b.txt": b"deeper b"}


def test_a_deep_tree_under_a_short_pattern(kelzar, drive):
    deep = "\\".join(["x" * 125, "y" * 125, "z" * 60])
    drive.write(f"d:\\top\\{deep}\\deep.txt", "deep")
    drive.write(r"d:\top\near.txt", "near")
    assert kelzar.run(r"d:\out.zip d:\top\*.txt 1") == 0
    entries = verify_archive(drive.path(r"d:\out.zip"))
    assert {n: e.data for n, e in entries.items()} == {
        r"top\near.txt": b"near", f"top\\{deep}\\deep.txt": b"deep"}
