"""Updating a damaged old archive: every entry comes over losslessly, or the
run exits 1 with the archive untouched; never a crash, a hang or a lost entry.

The old archive is a few kilobytes from Info-ZIP, with deflated and stored
entries, an empty file, a folder entry and an archive comment. Each damaged
copy gets its own folder, so the runs go three at a time.
"""

import random
from collections import Counter

import pytest

from hostile import Added, assert_run_outcome, files_under
from peers import infozip, mixed_content, odd_second_mtime, write_tree
from kelzar_harness import run_all
from zipread import try_read_entries

NEW_FILE = Added("new\\add.txt", b"the file this run adds\r\n" * 40)

PEER_FILES = {
    "text.txt": mixed_content(0, 2_500),  # deflated
    "rand.bin": mixed_content(1, 300),  # random: Info-ZIP stores it
    "empty.txt": b"",
    "dir/stored.txt": mixed_content(2, 600),  # stored with -0
}


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    """The sound archive every case damages, and its entries."""
    folder = tmp_path_factory.mktemp("reference")
    write_tree(folder / "peer", PEER_FILES, mtime=odd_second_mtime(2009, 2, 13, 23, 31))
    archive = folder / "ref.zip"
    infozip(archive, folder / "peer", "-r", "text.txt", "rand.bin", "empty.txt")
    infozip(archive, folder / "peer", "-0", "-r", "dir")
    infozip(archive, folder / "peer", "-z", stdin=b"kept by nobody\n")
    entries = try_read_entries(archive)
    assert {e.method for e in entries} == {0, 8} and "dir/" in [e.name for e in entries]
    assert all(e.sound for e in entries)
    return archive.read_bytes(), entries


def run_damaged(kelzar, drive, blobs: dict[str, bytes], reference) -> tuple[Counter, list[str]]:
    """Puts each damaged archive in its own folder, updates all of them with
    the same new file, and checks the invariant for each (against zipfile's
    view of the damaged archive, or, where zipfile cannot read it, against the
    REFERENCE entries that survived intact). Returns how the cases ended and
    the failures, each labelled with its case."""
    drive.write("d:\\new\\add.txt", NEW_FILE.data)
    cases = list(blobs.items())
    before = {}
    for i, (label, blob) in enumerate(cases):
        archive = drive.path(f"d:\\c{i}\\old.zip")
        archive.parent.mkdir()
        archive.write_bytes(blob)
        before[label] = try_read_entries(archive)
    codes = run_all(kelzar, [f"d:\\c{i}\\old.zip d:\\new\\*.txt 1" for i in range(len(cases))])
    outcomes: Counter = Counter()
    failures = []
    strays = files_under(drive.root) - {f"c{i}/old.zip" for i in range(len(cases))} - \
        {"new/add.txt"}
    if strays:
        failures.append(f"files left on the drive: {sorted(strays)[:10]}")
    for i, ((label, blob), code) in enumerate(zip(cases, codes)):
        try:
            outcomes[assert_run_outcome(code, drive.path(f"d:\\c{i}\\old.zip"), blob,
                                        before[label], [NEW_FILE],
                                        reference=reference[1])] += 1
        except AssertionError as error:
            failures.append(f"{label}: exit {code}: {str(error).splitlines()[0]}")
    return outcomes, failures


def truncation_points(blob: bytes) -> list[int]:
    """Every length from the start of the central directory to the whole
    file, and every 11th length before it. Cut anywhere before the central
    directory, the file has no end record at all, so those cuts differ only
    in where the data stops; cut in the directory or the end record, every
    byte makes a different archive. One Wine run takes 0.1 to 0.3 s, so
    every length of the whole file would cost several minutes."""
    directory = blob.index(b"PK\x01\x02")
    return sorted(set(range(0, directory, 11)) | set(range(directory, len(blob))))


def test_truncated_archive(kelzar, drive, reference, figures):
    blob = reference[0]
    cuts = truncation_points(blob)
    outcomes, failures = run_damaged(
        kelzar, drive, {f"cut at {n} of {len(blob)}": blob[:n] for n in cuts}, reference)
    figures(f"{len(cuts)} truncations: {dict(outcomes)}, {len(failures)} failed")
    assert not failures, f"{len(failures)} of {len(cuts)} truncations:\n" + "\n".join(failures)
    assert outcomes["updated"] > 0 and outcomes["kept"] > 0


def test_randomly_damaged_archive(kelzar, drive, reference, figures):
    rng = random.Random(20240229)
    blobs = {}
    for round_ in range(100):
        damaged = bytearray(reference[0])
        positions = rng.sample(range(len(damaged)), max(1, len(damaged) // 100))
        for at in positions:
            damaged[at] = rng.choice([b for b in range(256) if b != damaged[at]])
        blobs[f"round {round_} (bytes {sorted(positions)})"] = bytes(damaged)
    outcomes, failures = run_damaged(kelzar, drive, blobs, reference)
    figures(f"100 damaged copies: {dict(outcomes)}, {len(failures)} failed")
    assert not failures, f"{len(failures)} of 100 damaged copies:\n" + "\n".join(failures)
