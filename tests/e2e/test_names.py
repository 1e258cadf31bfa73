"""Files are archived under their real names, whatever the ANSI code page.

The files are made from the Linux side with their UTF-8 names; the program
is started through CreateProcessW, so its command line holds any character.
A name the ANSI code page holds exactly is stored in it without the UTF-8
flag (bit 11), as archives always had it; any other name is stored in
UTF-8 with the flag.

What Wine does here: it takes the ANSI code page from the locale of the Wine
process (1252 by default; 932 with LC_ALL=ja_JP.UTF-8), and its ANSI listing
reports a name outside that code page by a best-fit look-alike, so "ａ.txt"
(U+FF41) would be opened as "a.txt" through it.
"""

import subprocess
import zipfile

import pytest

from zipread import read_entries, verify_archive

FLAG_UTF8 = 0x800

# (name, whether code page 1252 holds it exactly)
NAMES_1252 = [
    ("a.txt", True),
    ("\uff41.txt", False),  # fullwidth a: best-fit maps it to "a"
    ("caf\u00e9.txt", True),
    ("\u043e\u0442\u0447\u0451\u0442.txt", False),  # Cyrillic
    ("\u8868\u30bd.txt", False),  # CJK; in code page 932 both have 0x5C as trail byte
    ("\U0001f600.txt", False),  # outside the Basic Multilingual Plane
]


def raw_name(info: zipfile.ZipInfo) -> bytes:
    """The name bytes as stored (zipfile decodes unflagged names as cp437)."""
    return info.filename.encode("utf-8" if info.flag_bits & FLAG_UTF8 else "cp437")


def stored_names(archive) -> dict[str, tuple[bytes, bool]]:
    with zipfile.ZipFile(archive) as zf:
        return {i.filename: (raw_name(i), bool(i.flag_bits & FLAG_UTF8)) for i in zf.infolist()}


def sevenzip_paths(archive) -> list[str]:
    listing = subprocess.run(["7z", "l", "-slt", "-sccUTF-8", str(archive)], capture_output=True,
                             check=True).stdout.decode("utf-8", "replace")
    return [line[len("Path = "):] for line in listing.splitlines()
            if line.startswith("Path = ")][1:]  # the first is the archive itself


def expected_bytes(name: str, ansi: bool, code_page: str) -> bytes:
    return name.encode(code_page) if ansi else name.encode("utf-8")


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
def test_names_outside_the_ansi_code_page_are_archived_as_they_are(kelzar, drive, mode):
    for i, (name, _) in enumerate(NAMES_1252):
        drive.write(f"d:\\names\\{name}", f"file {i}: {name}".encode("utf-8"))
    assert kelzar.run(rf"d:\out.zip d:\names\*.txt {mode}") == 0

    archive = drive.path(r"d:\out.zip")
    verify_archive(archive)
    prefix = "names\\" if mode == "1" else ""
    stored = {raw: flagged for raw, flagged in stored_names(archive).values()}
    assert len(stored) == len(NAMES_1252), "each file once, none taken for another"
    for name, ansi in NAMES_1252:
        raw = expected_bytes(prefix + name, ansi, "cp1252")
        assert raw in stored, f"{name} is missing or stored as another name: {list(stored)}"
        assert stored[raw] == (not ansi), f"{name}: UTF-8 flag {'set' if stored[raw] else 'clear'}"
    # Content by name: the look-alike holds its own bytes, not a.txt's.
    for item in read_entries(archive):
        name = item.name if item.flag & FLAG_UTF8 else item.name.encode("cp437").decode("cp1252")
        bare = name.removeprefix(prefix)
        index = [n for n, _ in NAMES_1252].index(bare)
        assert item.data == f"file {index}: {bare}".encode("utf-8"), f"{bare} holds another file"
    flagged = {prefix + n for n, ansi in NAMES_1252 if not ansi}
    assert flagged <= set(sevenzip_paths(archive)), "7-Zip reads the UTF-8 names back"


def test_a_name_on_the_command_line_is_never_a_wildcard(kelzar, drive):
    # Through the ANSI command line, "отчёт" became "?????" and matched
    # hello.txt and notes.txt; an existing archive was replaced by them.
    drive.write(r"d:\bf4\hello.txt", "hello")
    drive.write(r"d:\bf4\notes.txt", "notes")
    archive = drive.write(r"d:\r4.zip", b"not to be replaced")
    for mode in ("0", "1"):
        assert kelzar.run(f"d:\\r4.zip,d:\\bf4\\\u043e\u0442\u0447\u0451\u0442.txt,{mode}") == 1
        assert archive.read_bytes() == b"not to be replaced"

    drive.write("d:\\bf4\\\u043e\u0442\u0447\u0451\u0442.txt", "report")
    assert kelzar.run("d:\\\u0430\u0440\u0445\u0438\u0432.zip d:\\bf4\\\u043e\u0442\u0447\u0451\u0442.txt") == 0
    entries = verify_archive(drive.path("d:\\\u0430\u0440\u0445\u0438\u0432.zip"))
    assert {name: e.data for name, e in entries.items()} == {"\u043e\u0442\u0447\u0451\u0442.txt": b"report"}


@pytest.fixture(scope="session")
def japanese_locale(tmp_path_factory):
    """A generated ja_JP.UTF-8 locale: Wine then runs with code page 932."""
    where = tmp_path_factory.mktemp("locale")
    subprocess.run(["localedef", "-i", "ja_JP", "-f", "UTF-8", str(where / "ja_JP.UTF-8")],
                   check=True, capture_output=True)
    return {"LC_ALL": "ja_JP.UTF-8", "LOCPATH": str(where)}


# (FilesToZip, flag, names stored, as (name, whether code page 932 holds it))
CJK_CASES = [
    ("d:\\\u8868\\\u8868*.txt", "1", [("\u8868\\\u8868a.txt", True), ("\u8868\\sub\\\u8868c.txt", True)]),
    ("d:\\\u8868\\\u30bd*.txt", "0", [("\u30bdb.txt", True)]),
    ("d:\\\u8868\\\u30bd*.txt", "1", [("\u8868\\\u30bdb.txt", True)]),
    ("d:\\\u8868\\*.txt", "0", [("\u8868a.txt", True), ("\u30bdb.txt", True), ("caf\u00e9.txt", False)]),
]


@pytest.mark.parametrize("files_to_zip, mode, names", CJK_CASES)
def test_cjk_code_page_takes_no_trail_byte_for_a_backslash(kelzar, drive, japanese_locale,
                                                           files_to_zip, mode, names):
    # In code page 932, 表 is 0x95 0x5C and ソ is 0x83 0x5C: read byte by byte
    # as ANSI text, both end in a backslash, and the walk searched the wrong
    # folders (exit 1 although the files exist).
    for name in ("\u8868a.txt", "\u30bdb.txt", "caf\u00e9.txt", "sub\\\u8868c.txt"):
        drive.write(f"d:\\\u8868\\{name}", name.encode("utf-8"))
    assert kelzar.run(f"d:\\out.zip {files_to_zip} {mode}", unix_env=japanese_locale) == 0

    archive = drive.path(r"d:\out.zip")
    verify_archive(archive)
    stored = sorted(stored_names(archive).values())
    expected = sorted((expected_bytes(n, ansi, "cp932"), not ansi) for n, ansi in names)
    assert stored == expected, "names in code page 932 where it holds them, else flagged UTF-8"


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
def test_names_ending_in_a_dot_or_space_are_the_files_listed(kelzar, drive, mode):
    """Names the Windows path reading would trim ("a." to "a", "b " to
    "b"), made from the Linux side, beside the files they would be trimmed
    to: each is archived with its own bytes. Wine, as Windows, trims them
    unless the path comes in the "\\\\?\\" form."""
    files = {"a.": b"with a dot", "a": b"plain a", "b ": b"with a space", "b": b"plain b",
             r"sub.\c.txt": b"in a folder ending in a dot", r"sub\c.txt": b"in sub"}
    for name, data in files.items():
        drive.write(f"d:\\src\\{name}", data)
    assert kelzar.run(rf"d:\a.zip,d:\src\*,{mode}") == 0
    entries = verify_archive(drive.path(r"d:\a.zip"))
    if mode == "0":
        expected = {name: data for name, data in files.items() if "\\" not in name}
    else:
        expected = {f"src\\{name}": data for name, data in files.items()}
    assert {name: entry.data for name, entry in entries.items()} == expected
