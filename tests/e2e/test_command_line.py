from zipread import verify_archive
"""The argument forms, passed to kelzar.exe exactly as a caller writes them.

Every line goes through kzlaunch, so quotes, runs of spaces, commas and tabs
reach the program unchanged. After each run the whole of drive d: is
compared with what it held before: only the expected archive may appear.
"""

import pytest


SOURCE = {
    r"d:\src\a.txt": b"a text file\r\n",
    r"d:\src\b.txt": b"another text file\r\n" * 30,
    r"d:\src\c.dat": b"not a text file",
    r"d:\src\file1": b"a file whose name ends in 1",
    r"d:\src\x": b"a file named x",
    r"d:\my docs\m.txt": b"in a folder with a space in its name",
}
TXT = {"a.txt", "b.txt"}
PROGRAM = r'"C:\Kelzar Bin\kelzar.exe"'

# (id, command line, archive expected (d: path) or None, its entries).
# An archive expected means exit code 0; None means exit code 1 and nothing
# on d: changed.
CASES = [
    # Separators
    ("space-form", r"kelzar.exe d:\a.zip d:\src\*.txt", r"d:\a.zip", TXT),
    ("comma-form", r"kelzar.exe d:\a.zip,d:\src\*.txt", r"d:\a.zip", TXT),
    ("two-spaces", r"kelzar.exe d:\a.zip  d:\src\*.txt", r"d:\a.zip", TXT),
    ("three-spaces", r"kelzar.exe d:\a.zip   d:\src\*.txt", r"d:\a.zip", TXT),
    ("spaces-around-commas", r"kelzar.exe d:\a.zip  ,  d:\src\*.txt", r"d:\a.zip", TXT),
    ("trailing-space", "kelzar.exe d:\\a.zip d:\\src\\*.txt ", r"d:\a.zip", TXT),
    ("trailing-spaces-comma-form", "kelzar.exe d:\\a.zip,d:\\src\\*.txt   ", r"d:\a.zip", TXT),
    ("spaces-in-paths", r"kelzar.exe d:\my docs\a.zip d:\my docs\*.txt 0", r"d:\my docs\a.zip", {"m.txt"}),
    ("relative-archive", r"kelzar.exe a.zip d:\src\*.txt", r"d:\src\a.zip", TXT),
    ("name-ending-in-1", r"kelzar.exe d:\a.zip d:\src\file1", r"d:\a.zip", {"file1"}),
    ("name-x-then-flag-0", r"kelzar.exe d:\a.zip d:\src\x 0", r"d:\a.zip", {"x"}),
    # The third field read as a number that rounds to 0
    ("flag-0-space", r"kelzar.exe d:\a.zip d:\src\*.txt 0", r"d:\a.zip", TXT),
    ("flag-0-comma", r"kelzar.exe d:\a.zip,d:\src\*.txt,0", r"d:\a.zip", TXT),
    ("flag-0-two-spaces", r"kelzar.exe d:\a.zip d:\src\*.txt  0", r"d:\a.zip", TXT),
    ("flag-0-padded", "kelzar.exe d:\\a.zip,d:\\src\\*.txt,  0  ", r"d:\a.zip", TXT),
    ("flag-0.5", r"kelzar.exe d:\a.zip,d:\src\*.txt,0.5", r"d:\a.zip", TXT),
    ("flag-minus-0.5", r"kelzar.exe d:\a.zip,d:\src\*.txt,-0.5", r"d:\a.zip", TXT),
    ("flag-.4", r"kelzar.exe d:\a.zip,d:\src\*.txt,.4", r"d:\a.zip", TXT),
    ("flag-1e-5", r"kelzar.exe d:\a.zip,d:\src\*.txt,1e-5", r"d:\a.zip", TXT),
    ("flag-0x1", r"kelzar.exe d:\a.zip,d:\src\*.txt,0x1", r"d:\a.zip", TXT),
    ("flag-hex-0", r"kelzar.exe d:\a.zip,d:\src\*.txt,&H0", r"d:\a.zip", TXT),
    ("flag-tab-0", "kelzar.exe d:\\a.zip,d:\\src\\*.txt,\t0", r"d:\a.zip", TXT),
    ("flag-abc", r"kelzar.exe d:\a.zip,d:\src\*.txt,abc", r"d:\a.zip", TXT),
    ("flag-empty", r"kelzar.exe d:\a.zip,d:\src\*.txt,", r"d:\a.zip", TXT),
    # The program name
    ("quoted-program", PROGRAM + r" d:\a.zip d:\src\*.txt", r"d:\a.zip", TXT),
    ("quoted-program-no-space", PROGRAM + r"d:\a.zip d:\src\*.txt", r"d:\a.zip", TXT),
    ("spaces-after-program", r"kelzar.exe    d:\a.zip d:\src\*.txt", r"d:\a.zip", TXT),
    # Nothing done: exit code 1 and nothing created
    ("no-arguments", "kelzar.exe", None, None),
    ("only-spaces", "kelzar.exe    ", None, None),
    ("quoted-program-alone", PROGRAM, None, None),
    ("one-field", r"kelzar.exe d:\a.zip", None, None),
    ("four-fields", r"kelzar.exe d:\a.zip,d:\src\*.txt,0,x", None, None),
    ("relative-pattern-space-form", r"kelzar.exe d:\a.zip *.txt", None, None),
    ("quoted-paths-space-form", r'kelzar.exe "d:\a.zip" "d:\src\*.txt"', None, None),
    ("quoted-pattern-space-form", r'kelzar.exe d:\a.zip "d:\src\*.txt"', None, None),
    ("quoted-paths-comma-form", r'kelzar.exe "d:\a.zip","d:\src\*.txt"', None, None),
    ("flag-after-trailing-space", "kelzar.exe d:\\a.zip d:\\src\\*.txt 0 ", None, None),
    ("space-separated-flag-2", r"kelzar.exe d:\a.zip d:\src\*.txt 2", None, None),
    ("mixed-forms", r"kelzar.exe d:\a.zip,d:\src\*.txt 0", None, None),
    ("empty-pattern", r"kelzar.exe d:\a.zip,,0", None, None),
    ("blank-pattern", r"kelzar.exe d:\a.zip, ,0", None, None),
    ("empty-pattern-two-fields", r"kelzar.exe d:\a.zip,", None, None),
    ("empty-archive-path", r"kelzar.exe ,d:\src\*.txt", None, None),
    ("empty-archive-path-flag", r"kelzar.exe ,d:\src\*.txt,0", None, None),
    ("two-empty-fields", "kelzar.exe ,", None, None),
    ("three-empty-fields", "kelzar.exe ,,", None, None),
]


@pytest.mark.parametrize(
    "line, archive, entries", [c[1:] for c in CASES], ids=[c[0] for c in CASES]
)
def test_argument_forms(kelzar, drive, line, archive, entries):
    for path, data in SOURCE.items():
        drive.write(path, data)
    before = drive.snapshot()

    # From d:\src, a relative pattern that slipped through would find files.
    code = kelzar.run_line(line, cwd=r"d:\src")
    if archive is None:
        assert code == 1
        assert drive.snapshot() == before, "nothing may be created"
        return

    assert code == 0
    found = verify_archive(drive.path(archive))
    assert set(found) == entries
    by_name = {path.rsplit("\\", 1)[1]: data for path, data in SOURCE.items()}
    for name, entry in found.items():
        assert entry.data == by_name[name], f"content of {name}"
    after = drive.snapshot()
    del after[str(drive.path(archive).relative_to(drive.root))]
    assert after == before, "only the archive is new"
