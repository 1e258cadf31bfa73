"""Updating archives whose headers lie: wrong sizes, bad CRCs, entries that
share their bytes, 10 GiB of declared zeros, names and comments at and past
their 16-bit length fields.

Each run must carry every entry over losslessly (an entry whose data does
not match its headers comes over byte for byte, as it was) or exit 1 with the
archive untouched. What the archive declares must not make the program use
memory or disk beyond what the data really holds: the temporary archive and
the process's peak memory are sampled during the run.
"""

import pytest

from crafted import (
    STORED,
    Entry,
    build,
    crc32_of_zeros,
    deflate,
    deflated_zeros,
)
from hostile import Added, Watch, assert_run_outcome, files_under
from peers import mixed_content
from kelzar_harness import exit_code, spawn
from zipread import check_readers, try_read_entries

TEXT = mixed_content(0, 20_000)
RANDOM = mixed_content(1, 3_000)
AFTER = Entry(b"after.txt", mixed_content(2, 5_000))  # a sound entry behind the lying one
GIB = 1024**3
TEN_GIB = 10 * GIB
NEW_FILE = Added("new\\add.txt", b"added by this run\r\n" * 30)

# Beyond its buffers, the program should hold nothing of an entry in memory.
MEMORY_LIMIT = 256 * 1024**2


def flipped(data: bytes, at: int) -> bytes:
    return data[:at] + bytes([data[at] ^ 0x20]) + data[at + 1:]


def overlapping_tail():
    # The first entry's declared compressed size covers the local record of
    # the entry after it as well.
    second = Entry(b"second.txt", RANDOM, STORED)
    first_data = deflate(TEXT)
    covered = 30 + len(second.name) + len(RANDOM)
    return [Entry(b"first.txt", TEXT, compress_size=len(first_data) + covered), second, AFTER]


def zeros_stored_lie():
    return [Entry(b"zeros.bin", bytes(65_536), STORED, crc=crc32_of_zeros(TEN_GIB),
                  compress_size=TEN_GIB, file_size=TEN_GIB, zip64=True), AFTER]


def zeros_deflated(declared: int, real: int):
    return [Entry(b"zeros.bin", b"", data=deflated_zeros(real), crc=crc32_of_zeros(declared),
                  file_size=declared, zip64=True), AFTER]


LONG = b"n" * 65_531 + b".txt"  # 65,535 bytes, the most a length field holds

# Archives that are sound as they are: every reader accepts them (checked
# before the run, except the 10 GiB one, sound by construction), so the
# program must carry them over rather than give up on them.
SOUND = "every reader accepts it"
SOUND_BY_CONSTRUCTION = "sound by construction, too large to test here"

# id: (entries, build options, SOUND / SOUND_BY_CONSTRUCTION / False)
CASES = {
    "stored-sizes-larger-than-data": (
        [Entry(b"a.txt", TEXT, STORED, compress_size=len(TEXT) + 300, file_size=len(TEXT) + 300),
         AFTER], {}, False),
    "stored-sizes-smaller-than-data": (
        [Entry(b"a.txt", TEXT, STORED, compress_size=len(TEXT) - 300, file_size=len(TEXT) - 300),
         AFTER], {}, False),
    "stored-compressed-size-smaller": (
        [Entry(b"a.txt", TEXT, STORED, compress_size=len(TEXT) - 1), AFTER], {}, False),
    "deflated-compressed-size-larger": (
        [Entry(b"a.txt", TEXT, compress_size=len(deflate(TEXT)) + 100), AFTER], {}, False),
    "deflated-compressed-size-smaller": (
        [Entry(b"a.txt", TEXT, compress_size=len(deflate(TEXT)) - 100), AFTER], {}, False),
    "deflated-size-larger-than-content": (
        [Entry(b"a.txt", TEXT, file_size=len(TEXT) + 1_000), AFTER], {}, False),
    "deflated-size-smaller-than-content": (
        [Entry(b"a.txt", TEXT, file_size=len(TEXT) - 1_000), AFTER], {}, False),
    "size-past-the-end-of-the-file": (
        [AFTER, Entry(b"z.txt", TEXT, STORED, compress_size=10**7, file_size=10**7)], {}, False),
    "stored-flipped-byte": (
        [Entry(b"a.txt", TEXT, STORED, data=flipped(TEXT, 5_000)), AFTER], {}, False),
    "deflated-flipped-byte": (
        [Entry(b"a.txt", TEXT, data=flipped(deflate(TEXT), 2_000)), AFTER], {}, False),
    "two-entries-one-record": (
        [Entry(b"a.txt", TEXT), Entry(b"b.txt", TEXT, shares_with=0), AFTER], {}, False),
    "forty-entries-one-record": (
        [Entry(b"a.txt", TEXT)]
        + [Entry(f"{i:03d}.x".encode(), TEXT, shares_with=0) for i in range(40)], {}, False),
    "data-covers-the-next-record": (overlapping_tail(), {}, False),
    "10-gib-of-zeros-deflated": (zeros_deflated(TEN_GIB, TEN_GIB), {}, SOUND_BY_CONSTRUCTION),
    "10-gib-declared-1-mib-deflated": (zeros_deflated(TEN_GIB, 1 << 20), {}, False),
    "10-gib-declared-64-kib-stored": (zeros_stored_lie(), {}, False),
    "name-of-300-bytes": ([Entry(b"n" * 296 + b".txt", TEXT), AFTER], {}, SOUND),
    "name-of-65535-bytes": ([Entry(LONG, TEXT), AFTER], {}, SOUND),
    # 65,536 bytes cannot be declared: a writer that let the field wrap
    # declares 0 and writes the name all the same.
    "name-of-65536-bytes-length-wrapped": (
        [Entry(LONG + b"x", TEXT), AFTER], {}, False),
    "name-of-65536-bytes-in-local-header-only": (
        [Entry(LONG, TEXT, local_name=LONG + b"x"), AFTER], {}, False),
    # The end record's entry count against the directory it closes.
    "end-record-counts-no-entries": (
        [Entry(b"a.txt", TEXT), AFTER], {"count": 0}, False),
    "end-record-counts-one-of-two": (
        [Entry(b"a.txt", TEXT), AFTER], {"count": 1}, False),
    "end-record-counts-three-of-two": (
        [Entry(b"a.txt", TEXT), AFTER], {"count": 3}, False),
    # The end record and its comment must lie within the last 65,535 bytes
    # for minizip to find them: the longest comment it reaches, and the
    # longest a length field holds.
    "comment-of-65513-bytes": ([Entry(b"a.txt", TEXT), AFTER], {"comment": b"c" * 65_513}, SOUND),
    "comment-of-65535-bytes": ([Entry(b"a.txt", TEXT), AFTER], {"comment": b"c" * 65_535}, SOUND),
    "comment-of-65536-bytes-length-wrapped": (
        [Entry(b"a.txt", TEXT), AFTER], {"comment": b"c" * 65_536}, False),
}


@pytest.mark.parametrize("case", list(CASES))
def test_lying_archive(kelzar, drive, figures, case):
    entries, options, sound = CASES[case]
    blob = build(entries, **options)
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    archive.write_bytes(blob)
    drive.write(r"d:\new\add.txt", NEW_FILE.data)
    before = try_read_entries(archive)
    if sound == SOUND:
        assert before is not None and all(e.sound for e in before)
        check_readers(archive)

    with Watch(kelzar, archive) as watch:
        code = exit_code(spawn(kelzar, r"d:\arch\old.zip d:\new\*.txt 1"), case)
    figures(f"exit {code}, temporary archive up to {watch.largest_temporary} bytes, "
            f"peak memory {watch.peak_memory >> 20} MiB")

    outcome = assert_run_outcome(code, archive, blob, before, [NEW_FILE])
    assert files_under(drive.root) == {"arch/old.zip", "new/add.txt"}
    if sound:
        assert outcome == "updated", "every reader accepts this archive; the update gave up on it"
    assert watch.peak_memory < MEMORY_LIMIT, \
        f"the run took {watch.peak_memory >> 20} MiB: it holds what the archive declares"
    assert watch.largest_temporary <= 2 * len(blob) + (1 << 20), \
        f"the temporary archive grew to {watch.largest_temporary} bytes from {len(blob)}"

