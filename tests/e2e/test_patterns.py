"""Both modes read FilesToZip alike: the folder it names (after "\\", "/" or a
drive colon) and its whole last component as the name pattern. Flag 0 takes
the matching files of that folder under their bare names; flag 1 the
matching files of the whole tree under their full paths less the drive,
with "\\" throughout: the same names however the folder is spelt, and
never a "." or ".." component.

What Wine does here: it sorts a listing by name; it gives every file an 8.3
alias and matches a pattern against that alias too, as Windows does on
volumes with short names; and its "*." matches every name (on Windows only
names without a dot). The program matches each listed name again by its long
name, by Windows' rules, so the rows hold under both.
"""

import shutil

import pytest

from kelzar_harness import unix_to_win
from peers import assert_walk_order, make_pattern_source
from zipread import read_entries, verify_archive

ALL_SRC = {"a.txt", "ab.txt", "c.dat"}
TREE_SRC = {r"src\a.txt", r"src\ab.txt", r"src\c.dat", r"src\sub\d.txt"}
SRC_TXT = {r"src\a.txt", r"src\ab.txt", r"src\sub\d.txt"}
DOTS = {"report.v1.txt", "report.txt", "x.tar.gz", "y.gz", "noext"}


def make_dots_source(drive):
    for name in DOTS | {r"sub\z.tar.gz"}:
        drive.write(f"d:\\dots\\{name}", f"{name} in dots".encode())


# (id, FilesToZip, working folder ("decoy": one on another drive), current
#  folder of d: in the environment, entries with flag 0, entries with flag 1,
#  where the flag-1 names count from)
PATTERN_CASES = [
    ("trailing-backslash", "d:\\src\\", "d:\\", None, ALL_SRC, TREE_SRC, "d:\\"),
    ("trailing-slash", "d:/src/", "d:\\", None, ALL_SRC, TREE_SRC, "d:\\"),
    ("star", r"d:\src\*", "d:\\", None, ALL_SRC, TREE_SRC, "d:\\"),
    ("star-dot-star", r"d:\src\*.*", "d:\\", None, ALL_SRC, TREE_SRC, "d:\\"),
    ("one-file", r"d:\src\c.dat", "d:\\", None, {"c.dat"}, {r"src\c.dat"}, "d:\\"),
    ("question-mark", r"d:\src\a?.txt", "d:\\", None, {"ab.txt"}, {r"src\ab.txt"}, "d:\\"),
    ("relative-pattern", "*.txt", r"d:\src", None, {"a.txt", "ab.txt"}, SRC_TXT, "d:\\"),
    ("drive-relative", "d:*.txt", r"d:\src", None, {"a.txt", "ab.txt"}, SRC_TXT, "d:\\"),
    ("drive-relative-other-cwd", "d:*.txt", "decoy", r"d:\src", {"a.txt", "ab.txt"}, SRC_TXT,
     "d:\\"),
    ("drive-alone", "d:", "decoy", r"d:\src", ALL_SRC, TREE_SRC, "d:\\"),
    # Spellings of one folder: the stored names are its full path's.
    ("parent-relative", r"..\src\*.txt", r"d:\proj", None, {"a.txt", "ab.txt"}, SRC_TXT, "d:\\"),
    ("parent-inside", r"d:\proj\..\src\*.txt", "d:\\", None, {"a.txt", "ab.txt"}, SRC_TXT,
     "d:\\"),
    ("dot-relative", r".\src\*.txt", "d:\\", None, {"a.txt", "ab.txt"}, SRC_TXT, "d:\\"),
    ("dot-inside", r"d:\src\.\*.txt", "d:\\", None, {"a.txt", "ab.txt"}, SRC_TXT, "d:\\"),
    ("extended-prefix", r"\\?\d:\src\*.txt", "d:\\", None, {"a.txt", "ab.txt"}, SRC_TXT,
     "d:\\"),
    ("slashes", "d:/src/*.txt", r"d:\decoy", None, {"a.txt", "ab.txt"},
     {r"src\a.txt", r"src\ab.txt", r"src\sub\d.txt"}, "d:\\"),
    ("slashes-other-cwd", "d:/src/*.txt", "decoy", None, {"a.txt", "ab.txt"},
     {r"src\a.txt", r"src\ab.txt", r"src\sub\d.txt"}, "d:\\"),
    ("mixed-separators", r"d:\src/*.dat", r"d:\decoy", None, {"c.dat"}, {r"src\c.dat"}, "d:\\"),
    # The name is matched whole: no split at its first and last dot.
    ("multi-dot-name", r"d:\dots\report.v1.txt", "d:\\", None, {"report.v1.txt"},
     {r"dots\report.v1.txt"}, "d:\\"),
    ("double-extension", r"d:\dots\*.tar.gz", "d:\\", None, {"x.tar.gz"},
     {r"dots\x.tar.gz", r"dots\sub\z.tar.gz"}, "d:\\"),
    ("no-extension", r"d:\dots\noext", "d:\\", None, {"noext"}, {r"dots\noext"}, "d:\\"),
    ("trailing-dot", r"d:\dots\*.", "d:\\", None, {"noext"}, {r"dots\noext"}, "d:\\"),
    ("star-in-dots", r"d:\dots\*", "d:\\", None, DOTS,
     {f"dots\\{n}" for n in DOTS} | {r"dots\sub\z.tar.gz"}, "d:\\"),
]


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
@pytest.mark.parametrize(
    "files_to_zip, cwd, drive_cwd, flat, tree, tree_base",
    [case[1:] for case in PATTERN_CASES],
    ids=[case[0] for case in PATTERN_CASES],
)
def test_pattern_forms_in_both_modes(kelzar, drive, tmp_path, mode, files_to_zip, cwd, drive_cwd,
                                     flat, tree, tree_base):
    make_pattern_source(drive)
    make_dots_source(drive)
    drive.path(r"d:\proj").mkdir()
    if cwd == "decoy":
        decoy = tmp_path / "decoy"
        shutil.copytree(drive.path(r"d:\decoy"), decoy)
        cwd = unix_to_win(decoy)
    env = {"=D:": drive_cwd} if drive_cwd else None

    # Commas: a space would not separate a relative pattern.
    assert kelzar.run(rf"d:\a.zip,{files_to_zip},{mode}", cwd=cwd, env=env) == 0
    archive = drive.path(r"d:\a.zip")
    entries = verify_archive(archive)

    if mode == "0":
        assert set(entries) == flat
        # Every row names d:\\src (directly, or as the folder it is in) or d:\\dots.
        source = "d:\\dots\\" if "dots" in files_to_zip else "d:\\src\\"
        for name, entry in entries.items():
            assert entry.data == drive.path(source + name).read_bytes(), \
                f"{name} must come from the folder the pattern names"
    else:
        names = [item.name for item in read_entries(archive)]
        assert sorted(names) == sorted(tree), "each file once, under its path less the drive"
        assert all("/" not in n for n in names), "stored paths use \\ throughout"
        assert not any(part in ("", ".", "..") for n in names for part in n.split("\\")), \
            f"a stored name leads elsewhere on extraction: {names}"
        assert_walk_order(names)
        for name, entry in entries.items():
            assert entry.data == drive.path(tree_base + name).read_bytes(), \
                f"{name} must come from the tree the pattern names"


# Names whose 8.3 aliases match patterns their long names do not:
# REPORT~1.DOC, PAGE2~1.HTM.
# (Wine's "?" takes exactly one character, so "page?.htm" does not find
# page.htm there as it does on Windows: that rule is in the native table.)
ALIASED = {"a.doc", "report.docx", "page.htm", "page2.html", "readme", "notes.txt"}


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
@pytest.mark.parametrize("pattern, matched", [
    ("*.doc", {"a.doc"}),
    ("*.htm", {"page.htm"}),
    ("*.", {"readme"}),
    ("*.*", ALIASED),
])
def test_patterns_match_long_names_only(kelzar, drive, mode, pattern, matched):
    for name in ALIASED:
        drive.write(f"d:\\s8\\{name}", name.encode())
    assert kelzar.run(f"d:\\a.zip d:\\s8\\{pattern} {mode}") == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))
    expected = matched if mode == "0" else {f"s8\\{name}" for name in matched}
    assert set(entries) == expected


def spell_short(kelzar, drive):
    alias = kelzar.short_path(r"d:\longfoldername")
    assert "longfoldername" not in alias.lower(), f"not an 8.3 alias: {alias}"
    return alias + "\\"


def spell_unc(kelzar, drive):
    kelzar.wine.map_unc("localhost", "share", drive.root)
    return "\\\\localhost\\share\\longfoldername\\"


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
@pytest.mark.parametrize("spell", [spell_short, spell_unc], ids=["8.3-alias", "unc"])
def test_other_spellings_of_a_folder_store_its_long_path(kelzar, drive, mode, spell):
    drive.write(r"d:\longfoldername\a.txt", b"a")
    drive.write(r"d:\longfoldername\subfolder\b.txt", b"b")
    folder = spell(kelzar, drive)
    assert kelzar.run(f"d:\\a.zip,{folder}*.txt,{mode}") == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))
    if mode == "0":
        assert set(entries) == {"a.txt"}
    else:
        assert set(entries) == {r"longfoldername\a.txt", r"longfoldername\subfolder\b.txt"}
