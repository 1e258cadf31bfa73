"""Flag 1 on archives that other programs wrote: every old entry comes over
with its name, date and content, in the old order, and the new files follow.
Entries that cannot come over losslessly make the run fail with the archive
left exactly as it was."""

import shutil
import zipfile

import pytest

from peers import (
    DEFLATED,
    STORED,
    PyEntry,
    assert_update,
    bookkeeping_left,
    infozip,
    infozip_streamed,
    make_new_files,
    mixed_content,
    odd_second_mtime,
    python_zip,
    python_zip_many,
    sevenzip,
    write_tree,
)
from zipread import FLAG_ENCRYPTED, FLAG_UTF8, has_zip64_records, read_entries

ARCHIVE = r"d:\arch\old.zip"
COMMAND = rf"{ARCHIVE} d:\new\*.txt 1"
NEW_FILES = [
    (r"d:\new\one.txt", mixed_content(2, 40_000)),
    (r"d:\new\sub\two.txt", mixed_content(3, 70_000)),  # incompressible, several pieces
]

# Peer input: text, random bytes, an empty file, a folder with a file and an
# empty folder, all with odd-second times so that date rounding shows.
PEER_FILES = {
    "text.txt": mixed_content(0, 30_000),
    "random.bin": mixed_content(1, 5_000),
    "empty.txt": b"",
    "dir/inner.txt": mixed_content(4, 2_000),
    "dir/emptydir/.keep": b"",
}


@pytest.fixture
def peer_dir(tmp_path):
    """Input files for the peers, outside drive d:."""
    root = tmp_path / "peer"
    write_tree(root, PEER_FILES, mtime=odd_second_mtime(2009, 2, 13, 23, 31))
    (root / "dir" / "emptydir" / ".keep").unlink()
    return root


def infozip_mixed(src, archive):
    # Deflated and, with -0, stored entries; folder entries; an empty file;
    # Info-ZIP's own extra fields (time stamps, Unix ids); an archive comment.
    infozip(archive, src, "-r", "text.txt", "random.bin", "dir")
    infozip(archive, src, "-0", "empty.txt")
    (src / "stored.txt").write_bytes(mixed_content(6, 9_000))
    infozip(archive, src, "-0", "stored.txt")
    infozip(archive, src, "-z", stdin=b"an archive comment\n")
    return {"methods": {STORED, DEFLATED}, "names": {"dir/", "dir/emptydir/", "empty.txt"}}


def infozip_data_descriptors(src, archive):
    # Written to a pipe: sizes and CRCs follow the data (flag bit 3).
    infozip_streamed(archive, src, "-r", "text.txt", "dir", "empty.txt")
    return {"flag": 0x8}


def infozip_zip64(src, archive):
    # Zip's input from a pipe: Zip64 local extra field and Zip64 end records.
    infozip(archive, src, "-", stdin=mixed_content(8, 50_000))
    return {"zip64": True}


def sevenzip_deflate(src, archive):
    sevenzip(archive, src, "-r", "text.txt", "random.bin", "empty.txt", "dir")
    return {"methods": {DEFLATED}, "names": {"dir/emptydir/"}}


def sevenzip_copy(src, archive):
    sevenzip(archive, src, "-mm=Copy", "text.txt", "random.bin", "empty.txt", "dir")
    return {"methods": {STORED}}


def sevenzip_zip64(src, archive):
    # From standard input 7-Zip does not know the size: Zip64 local header.
    sevenzip(archive, src, "-sipiped.txt", stdin=mixed_content(10, 40_000))
    sevenzip(archive, src, "text.txt")
    return {"zip64": True}


LONG_NAME = "long/" + "n" * 180 + "/" + "é" * 70 + ".txt"  # 326 bytes in UTF-8


def python_names_and_dates(src, archive):
    python_zip(
        archive,
        [
            PyEntry("plain.txt", mixed_content(12, 3_000), DEFLATED, (2001, 2, 3, 4, 5, 6)),
            PyEntry(LONG_NAME, mixed_content(14, 1_000), STORED, (2024, 12, 31, 23, 59, 58)),
            PyEntry("x" * 300 + ".bin", mixed_content(15, 700), DEFLATED),
            PyEntry("dossier/café ü.txt", b"utf-8 name\n", DEFLATED, comment=b"entry comment"),
            # MS-DOS date 0 and a date whose fields no calendar holds: both
            # must come over bit for bit, not through calendar fields.
            PyEntry("zero-date.txt", b"zero\n", STORED, (1980, 0, 0, 0, 0, 0)),
            PyEntry("odd-date.txt", b"odd\n", DEFLATED, (2107, 15, 31, 31, 63, 62)),
            PyEntry("folder/", b"", STORED),
        ],
        comment=b"made by zipfile",
    )
    return {"names": {LONG_NAME}, "utf8": True}


def python_force_zip64(src, archive):
    python_zip(archive, [PyEntry("a.txt", mixed_content(16, 5_000), DEFLATED),
                         PyEntry("b.txt", mixed_content(18, 5_000), STORED)], force_zip64=True)
    return {"zip64": True}


def python_empty(src, archive):
    # Nothing but the 22-byte end record: an archive without entries.
    zipfile.ZipFile(archive, "w").close()
    assert archive.stat().st_size == 22
    return {}


PEER_ARCHIVES = [
    infozip_mixed,
    infozip_data_descriptors,
    infozip_zip64,
    sevenzip_deflate,
    sevenzip_copy,
    sevenzip_zip64,
    python_names_and_dates,
    python_force_zip64,
    python_empty,
]


@pytest.mark.parametrize("make", PEER_ARCHIVES, ids=lambda f: f.__name__)
def test_update_keeps_every_entry_of_a_peer_archive(kelzar, drive, peer_dir, make):
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    expect = make(peer_dir, archive)
    before = read_entries(archive)
    # The peer wrote what this case is about; otherwise the case tests nothing.
    if "methods" in expect:
        assert {i.method for i in before} >= expect["methods"]
    for name in expect.get("names", ()):
        assert name in [i.name for i in before], f"the peer wrote no {name!r}"
    if "flag" in expect:
        assert any(i.flag & expect["flag"] for i in before)
    if expect.get("zip64"):
        assert has_zip64_records(archive), "the peer wrote no Zip64 record"
    if expect.get("utf8"):
        assert any(i.flag & FLAG_UTF8 for i in before)
    added = make_new_files(drive, NEW_FILES)

    assert kelzar.run(COMMAND) == 0
    assert_update(before, archive, added)
    assert bookkeeping_left(drive) == []


@pytest.fixture(scope="module")
def archives_of_many_entries(tmp_path_factory):
    """Archives of 65,535 entries (the end record's 16-bit count, full) and
    of 65,536 (one more, which needs the Zip64 end record), with their
    entries as zipfile reads them."""
    folder = tmp_path_factory.mktemp("many")
    full = python_zip_many(folder / "65535.zip", 65_535)
    beyond = folder / "65536.zip"
    shutil.copy(full, beyond)
    with zipfile.ZipFile(beyond, "a") as zf:
        zf.writestr(zipfile.ZipInfo("many/last.txt", (2021, 3, 4, 5, 6, 8)), b"last\n")
    full_items = read_entries(full)
    return {65_535: (full, full_items), 65_536: (beyond, full_items + read_entries(beyond)[-1:])}


@pytest.mark.parametrize("count", [65_535, 65_536])
def test_update_of_an_archive_at_and_beyond_the_16_bit_entry_count(
        kelzar, drive, archives_of_many_entries, count):
    # About half a minute per case under Wine, most of it the program's.
    source, before = archives_of_many_entries[count]
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    shutil.copy(source, archive)
    assert has_zip64_records(archive) == (count > 65_535)
    added = make_new_files(drive, NEW_FILES)

    assert kelzar.run(COMMAND, timeout=240) == 0
    after = assert_update(before, archive, added)
    assert len(after) == count + 2
    assert bookkeeping_left(drive) == []


def refusing_archive(kind, src, archive):
    """Archives holding an entry that cannot come over losslessly."""
    big = {"big1.txt": mixed_content(20, 60_000), "big2.txt": mixed_content(22, 60_000)}
    write_tree(src, big)
    names = list(big)
    if kind in ("BZip2", "LZMA", "PPMd", "Deflate64"):
        sevenzip(archive, src, f"-mm={kind}", *names)
        method = {"BZip2": 12, "LZMA": 14, "PPMd": 98, "Deflate64": 9}[kind]
        assert method in {i.method for i in read_entries(archive, decode=False)}
    elif kind == "bzip2-after-deflated":
        # Sound deflated entries first, the one that cannot come over last:
        # the run has already written part of its new archive when it fails.
        (src / "zz-last.txt").write_bytes(big["big1.txt"])
        infozip(archive, src, "text.txt", "dir/inner.txt")
        sevenzip(archive, src, "-mm=BZip2", "zz-last.txt")
        last = read_entries(archive, decode=False)[-1]
        assert (last.name, last.method) == ("zz-last.txt", 12)
    elif kind == "infozip-password":
        infozip(archive, src, "-P", "secret", "text.txt", "empty.txt")
    elif kind == "infozip-password-stored":
        infozip(archive, src, "text.txt")
        infozip(archive, src, "-0", "-P", "secret", "big1.txt")
    elif kind == "7z-zipcrypto":
        sevenzip(archive, src, "-psecret", *names)
    elif kind == "7z-aes":
        sevenzip(archive, src, "-psecret", "-mem=AES256", *names)
    else:
        raise ValueError(kind)
    if "password" in kind or kind.startswith("7z-"):
        assert any(i.flag & FLAG_ENCRYPTED for i in read_entries(archive, decode=False))


def truncated(src, archive):
    infozip(archive, src, "-r", "text.txt", "dir")
    data = archive.read_bytes()
    archive.write_bytes(data[: len(data) // 2])


def damaged_directory(src, archive):
    # The second central header's signature is overwritten: the directory
    # cannot be walked past the first entry.
    infozip(archive, src, "-r", "text.txt", "random.bin", "dir")
    data = bytearray(archive.read_bytes())
    first = data.index(b"PK\x01\x02")
    second = data.index(b"PK\x01\x02", first + 4)
    data[second:second + 4] = b"XXXX"
    archive.write_bytes(bytes(data))


def directory_offset_wrong(src, archive):
    infozip(archive, src, "text.txt", "random.bin")
    data = bytearray(archive.read_bytes())
    end = data.rindex(b"PK\x05\x06")
    data[end + 16:end + 20] = (len(data) + 1000).to_bytes(4, "little")
    archive.write_bytes(bytes(data))


STUB = b"MZ" + b"\x90" * 510  # stands in for a self-extractor's program


def stub_adjusted(src, archive):
    # A stub before the entries with the offsets made to count from the
    # file's start, as zip -A leaves a self-extracting archive.
    infozip(archive, src, "text.txt", "random.bin")
    archive.write_bytes(STUB + archive.read_bytes())
    infozip(archive, src, "-A")


def stub_prepended(src, archive):
    # The same bytes put in front with the offsets left as they were.
    infozip(archive, src, "text.txt", "random.bin")
    archive.write_bytes(STUB + archive.read_bytes())


def text_file(src, archive):
    archive.write_bytes(b"not an archive, but a file someone wants to keep\r\n")


def empty_file(src, archive):
    archive.write_bytes(b"")


def folder(src, archive):
    archive.mkdir()
    (archive / "inside.txt").write_bytes(b"kept\n")


REFUSED = [
    *[pytest.param(lambda s, a, k=k: refusing_archive(k, s, a), id=k) for k in
      ["BZip2", "LZMA", "PPMd", "Deflate64", "bzip2-after-deflated", "infozip-password",
       "infozip-password-stored", "7z-zipcrypto", "7z-aes"]],
    pytest.param(truncated, id="truncated"),
    pytest.param(damaged_directory, id="damaged-central-directory"),
    pytest.param(directory_offset_wrong, id="directory-offset-past-end"),
    # Bytes before the first entry would not survive the update.
    pytest.param(stub_adjusted, id="self-extractor-stub-adjusted"),
    pytest.param(stub_prepended, id="self-extractor-stub-prepended"),
    pytest.param(text_file, id="not-an-archive"),
    pytest.param(empty_file, id="empty-file"),
    pytest.param(folder, id="folder"),
]


@pytest.mark.parametrize("make", REFUSED)
def test_archive_that_cannot_be_carried_over_is_left_exactly_as_it_was(
        kelzar, drive, peer_dir, make):
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    make(peer_dir, archive)
    make_new_files(drive, NEW_FILES)
    before = drive.snapshot()

    assert kelzar.run(COMMAND) == 1
    assert drive.snapshot() == before, "the run changed files although it failed"


def corrupt_entry_data(archive, name):
    """Flips bytes in the middle of one entry's stored data."""
    with zipfile.ZipFile(archive) as zf:
        info = zf.getinfo(name)
    data = bytearray(archive.read_bytes())
    with open(archive, "rb") as f:
        f.seek(info.header_offset + 26)
        name_length, extra_length = int.from_bytes(f.read(2), "little"), int.from_bytes(
            f.read(2), "little")
    start = info.header_offset + 30 + name_length + extra_length
    middle = start + info.compress_size // 2
    for i in range(middle, middle + 8):
        data[i] ^= 0x5A
    archive.write_bytes(bytes(data))


@pytest.mark.parametrize("method", [STORED, DEFLATED], ids=["stored", "deflated"])
def test_entry_with_damaged_data_leaves_the_archive_as_it_was(kelzar, drive, peer_dir, method):
    # Damage carried into the new archive would make every reader fail that
    # entry's CRC there too, after a run that said it succeeded: a damaged
    # entry, stored or deflated, makes the run exit 1 with the archive as it
    # was, damage and all, for the user to repair.
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    flag = "-0" if method == STORED else "-6"
    infozip(archive, peer_dir, flag, "text.txt", "dir/inner.txt")
    corrupt_entry_data(archive, "text.txt")
    assert read_entries(archive, decode=False)[0].method == method
    with zipfile.ZipFile(archive) as zf, pytest.raises(zipfile.BadZipFile):
        zf.read("text.txt")  # the damage shows to an independent reader
    damaged = archive.read_bytes()
    make_new_files(drive, NEW_FILES)

    assert kelzar.run(COMMAND) == 1
    assert archive.read_bytes() == damaged
    assert bookkeeping_left(drive) == []


def test_archive_comment_extra_fields_and_attributes_are_dropped(kelzar, drive, peer_dir):
    archive = drive.path(ARCHIVE)
    archive.parent.mkdir(parents=True)
    infozip(archive, peer_dir, "-r", "text.txt", "dir")
    infozip(archive, peer_dir, "-z", stdin=b"comment\n")
    before = read_entries(archive)
    assert all(i.extra and i.external_attr for i in before)
    added = make_new_files(drive, NEW_FILES[:1])

    assert kelzar.run(COMMAND) == 0
    # assert_update checks every entry for extra fields, attributes and
    # comments, and the archive for its comment.
    assert_update(before, archive, added)
