"""Flag 1: which files a run takes from the folder tree, the names they get,
and what happens to files that are hidden, in use, or the archive itself."""

import pytest

from peers import (
    assert_update,
    assert_walk_order,
    bookkeeping_left,
    infozip,
    make_new_files,
    mixed_content,
    write_tree,
)
from zipread import read_entries, verified_entries


def test_walk_takes_matching_files_of_visible_folders_in_walk_order(kelzar, drive):
    added = make_new_files(drive, [
        (r"d:\docs\a.doc", mixed_content(2, 3_000)),
        (r"d:\docs\b.doc", b""),  # empty: an entry without content
        (r"d:\docs\sub\c.doc", mixed_content(4, 100_000)),
        (r"d:\docs\sub\deeper\d.doc", mixed_content(5, 32_769)),
        (r"d:\docs\sub\deeper\e.doc", mixed_content(6, 32_770)),
        (r"d:\docs\other\f.doc", mixed_content(7, 10)),
        (r"d:\docs\no-match-here\g.doc", b"g"),
    ])
    # Not taken: other extensions, folders named like files, hidden folders
    # (by attribute, and by a leading dot, which Wine reports as hidden).
    drive.write(r"d:\docs\a.txt", "other extension")
    drive.write(r"d:\docs\sub\x.doc.txt", "another last extension")
    drive.write(r"d:\docs\sub\xdoc", "no extension")
    drive.path(r"d:\docs\folder.doc").mkdir()
    drive.write(r"d:\docs\folder.doc\inside.txt", "not a .doc")
    drive.write(r"d:\docs\secret\h.doc", "in a hidden folder")
    drive.write(r"d:\docs\sub\.hidden\i.doc", "in a dot folder")
    drive.write(r"d:\docs\secret\open\j.doc", "below a hidden folder")
    kelzar.set_attributes("H", r"d:\docs\secret")
    # Read-only files are taken like any other, with their own date.
    kelzar.set_attributes("R", r"d:\docs\sub\c.doc")

    drive.path(r"d:\out").mkdir()
    assert kelzar.run(r"d:\out\new.zip d:\docs\*.doc 1") == 0
    items = verified_entries(drive.path(r"d:\out\new.zip"))
    names = [i.name for i in items]
    assert sorted(names) == sorted(f.entry_name for f in added)
    assert_walk_order(names)
    assert_update([], drive.path(r"d:\out\new.zip"), added, any_order=True)
    assert bookkeeping_left(drive) == []


@pytest.mark.parametrize(
    "pattern, cwd, names",
    [
        (r"d:\docs\*.txt", "d:\\", [r"docs\a.txt", r"docs\sub\b.txt", r"docs\sub\bb.txt"]),
        (r"d:\docs\sub\*.txt", "d:\\", [r"docs\sub\b.txt", r"docs\sub\bb.txt"]),
        (r"docs\*.txt", "d:\\", [r"docs\a.txt", r"docs\sub\b.txt", r"docs\sub\bb.txt"]),
        (r"sub\*.txt", "d:\\docs", [r"docs\sub\b.txt", r"docs\sub\bb.txt"]),
        (r"\docs\*.txt", "d:\\", [r"docs\a.txt", r"docs\sub\b.txt", r"docs\sub\bb.txt"]),
        (r"d:\docs\?.txt", "d:\\", [r"docs\a.txt", r"docs\sub\b.txt"]),
        (r"d:\docs\b.txt", "d:\\", [r"docs\sub\b.txt"]),
        (r"D:\DOCS\*.TXT", "d:\\", [r"docs\a.txt", r"docs\sub\b.txt", r"docs\sub\bb.txt"]),
    ],
)
def test_entry_names_are_the_paths_less_the_drive(kelzar, drive, pattern, cwd, names):
    # Full paths are stored, less the drive: a relative pattern gives the
    # same names as the full one. The folders are named in their long form;
    # Wine's GetLongPathNameW also gives each component the case the file
    # system has, where Windows documents only that short components become
    # long, and may keep the case typed: names are compared without case.
    drive.write(r"d:\docs\a.txt", "a")
    drive.write(r"d:\docs\sub\b.txt", "b")
    drive.write(r"d:\docs\sub\bb.txt", "bb")
    drive.write(r"d:\docs\sub\c.dat", "other extension")

    # Commas separate the arguments: a space would not before a relative path.
    assert kelzar.run(rf"d:\out.zip,{pattern},1", cwd=cwd) == 0
    got = [i.name for i in verified_entries(drive.path(r"d:\out.zip"))]
    assert sorted(n.lower() for n in got) == sorted(n.lower() for n in names)
    assert_walk_order(got)


def test_same_command_twice_holds_every_file_twice(kelzar, drive):
    added = make_new_files(drive, [(r"d:\docs\a.txt", "one"), (r"d:\docs\sub\b.txt", "two")])
    command = r"d:\backup\docs.zip d:\docs\*.txt 1"
    archive = drive.path(r"d:\backup\docs.zip")
    archive.parent.mkdir()

    assert kelzar.run(command) == 0
    first = assert_update([], archive, added)
    assert kelzar.run(command) == 0
    # The second run carries the first run's entries over and adds both
    # files again after them: entries are never replaced by name.
    assert_update(first, archive, added)
    assert [i.name for i in read_entries(archive)] == [r"docs\a.txt", r"docs\sub\b.txt"] * 2
    assert bookkeeping_left(drive) == []


def test_hidden_and_system_files_are_skipped_without_failing(kelzar, drive, tmp_path):
    archive = drive.path(r"d:\a.zip")
    write_tree(tmp_path / "peer", {"old.txt": b"old"})
    infozip(archive, tmp_path / "peer", "old.txt")
    before = read_entries(archive)
    added = make_new_files(drive, [(r"d:\docs\plain.txt", "visible")])
    for name in ("hidden", "system", "both"):
        drive.write(rf"d:\docs\{name}.txt", name)
    drive.write(r"d:\docs\.dot.txt", "hidden by its name")
    kelzar.set_attributes("H", r"d:\docs\hidden.txt")
    kelzar.set_attributes("S", r"d:\docs\system.txt")
    kelzar.set_attributes("HS", r"d:\docs\both.txt")

    assert kelzar.run(r"d:\a.zip d:\docs\*.txt 1") == 0
    assert_update(before, archive, added)


def test_run_whose_files_are_all_hidden_changes_nothing(kelzar, drive, tmp_path):
    write_tree(tmp_path / "peer", {"old.txt": b"old"})
    infozip(drive.path(r"d:\a.zip"), tmp_path / "peer", "old.txt")
    drive.write(r"d:\docs\hidden.txt", "h")
    drive.write(r"d:\docs\sub\system.txt", "s")
    drive.write(r"d:\docs\.dot.txt", "d")
    kelzar.set_attributes("H", r"d:\docs\hidden.txt")
    kelzar.set_attributes("S", r"d:\docs\sub\system.txt")
    before = drive.snapshot()

    assert kelzar.run(r"d:\a.zip d:\docs\*.txt 1") == 1
    assert drive.snapshot() == before, "nothing was to be added, yet files changed"


@pytest.mark.parametrize("pattern", [r"d:\docs\*.none", r"d:\missing\*.txt"])
def test_run_that_finds_nothing_changes_nothing(kelzar, drive, tmp_path, pattern):
    write_tree(tmp_path / "peer", {"old.txt": b"old"})
    infozip(drive.path(r"d:\a.zip"), tmp_path / "peer", "old.txt")
    drive.write(r"d:\docs\a.txt", "a")
    before = drive.snapshot()

    assert kelzar.run(rf"d:\a.zip {pattern} 1") == 1
    assert drive.snapshot() == before


@pytest.mark.parametrize("mode", ["exclusive", "range"])
def test_file_in_use_is_left_out_and_the_others_are_added(kelzar, drive, tmp_path, mode):
    # A file that cannot be read is never stored empty or cut short: it is
    # left out, the others are added, and the exit code reports the loss.
    archive = drive.path(r"d:\a.zip")
    write_tree(tmp_path / "peer", {"old.txt": mixed_content(0, 5_000)})
    infozip(archive, tmp_path / "peer", "old.txt")
    before = read_entries(archive)
    added = make_new_files(drive, [
        (r"d:\docs\a.txt", mixed_content(2, 1_000)),
        (r"d:\docs\sub\c.txt", mixed_content(4, 1_000)),
    ])
    drive.write(r"d:\docs\locked.txt", mixed_content(6, 50_000))

    with kelzar.hold(r"d:\docs\locked.txt", mode):
        if mode == "range" and kelzar.probe_read(r"d:\docs\locked.txt"):
            pytest.skip("this Wine does not enforce range locks against other processes' reads")
        code = kelzar.run(r"d:\a.zip d:\docs\*.txt 1")
    assert code == 1, "a file was left out, yet the run reported success"
    assert_update(before, archive, added)
    assert bookkeeping_left(drive) == []


def test_archive_never_holds_itself_when_the_walk_covers_it(kelzar, drive):
    # The archive lies in the folder that is walked and matches the pattern;
    # so do, while a run works, its lock and temporary files.
    added = make_new_files(drive, [(r"d:\data\a.txt", "a"), (r"d:\data\sub\b.bin", "b")])
    archive = drive.path(r"d:\data\data.zip")
    command = r"d:\data\data.zip d:\data\*.* 1"

    assert kelzar.run(command) == 0
    first = assert_update([], archive, added, any_order=True)
    assert kelzar.run(command) == 0
    second = verified_entries(archive)
    assert_update(first, archive, [next(f for f in added if f.entry_name == i.name)
                                   for i in second[len(first):]])
    assert sorted(i.name for i in second) == sorted([r"data\a.txt", r"data\sub\b.bin"] * 2)
    assert not any("data.zip" in i.name or ".~kz" in i.name for i in second)
    assert bookkeeping_left(drive) == []
