"""Sizes and counts at the limits of the ZIP format's fields.

Input files around 2 GiB (signed 32-bit offsets) and 4 GiB (unsigned 32-bit
sizes, where Zip64 begins), in both modes; an archive above 4 GiB updated;
archives around the 16-bit entry count; an empty archive. The input files
are sparse (all zeros, no disk space), but the program reads and deflates
every byte, and every reader inflates it again, so each gigabyte costs
about 15 to 25 s here; the cases beyond the one CI must always run carry
the "large" mark, so that a quick local run can leave them out.
"""

import shutil
import time
import zipfile

import pytest

from crafted import SparseZeros
from hostile import Added, Watch, assert_carried_over, leftovers, sparse_file
from peers import infozip, mixed_content, write_tree
from kelzar_harness import run
from zipread import Expected, try_read_entries, verify_streaming

GIB = 1024**3
SMALL = b"a small file after the big one\r\n" * 10
OLD_FILES = {"old/a.txt": mixed_content(0, 5_000), "old/b.bin": mixed_content(1, 700)}


def large(size):
    return pytest.param(size, marks=pytest.mark.large, id=f"{size}")


SIZES = [large(2 * GIB - 1), large(2 * GIB + 1), large(4 * GIB - 1), large(4 * GIB),
         pytest.param(4 * GIB + 1, id=f"{4 * GIB + 1}"), large(5 * GIB)]


def enough_disk(path, needed):
    free = shutil.disk_usage(path).free
    if free < needed:
        pytest.skip(f"needs {needed >> 30} GiB free beside the test folder, has {free >> 30}")


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "update"])
@pytest.mark.parametrize("size", SIZES)
def test_file_at_a_size_limit(kelzar, drive, tmp_path, figures, size, mode):
    big = sparse_file(drive.path(r"d:\big\big.bin"), size)
    drive.write(r"d:\big\z-small.txt", SMALL)
    archive = drive.path(r"d:\arch\out.zip")
    archive.parent.mkdir()
    old = []
    if mode == "1":
        write_tree(tmp_path / "peer", OLD_FILES)
        infozip(archive, tmp_path / "peer", "-r", "old")
        old = [Expected(e.name, e.content) for e in try_read_entries(archive)]
    try:
        started = time.monotonic()
        code = run(kelzar, rf"d:\arch\out.zip d:\big\*.* {mode}", timeout=1800)
        seconds = time.monotonic() - started
        assert code == 0
        assert leftovers(archive.parent) == []
        prefix = "big\\" if mode == "1" else ""
        # The walk lists a folder's files in the order the system yields them.
        with zipfile.ZipFile(archive) as zf:
            added = [n for n in zf.namelist()[len(old):]]
        assert sorted(added) == [f"{prefix}big.bin", f"{prefix}z-small.txt"]
        expected = old + [Expected(n, zeros=size) if n.endswith("big.bin") else
                          Expected(n, SMALL) for n in added]
        times = verify_streaming(archive, expected)
        figures(f"{size} bytes, flag {mode}: kelzar.exe {seconds:.1f} s, readers "
                + ", ".join(f"{k} {v:.1f} s" for k, v in times.items()))
    finally:
        big.unlink()


@pytest.fixture(params=["deflated", "stored"])
def archive_above_4_gib(request, drive):
    """A Python zipfile archive of 4.25 GiB: a small entry, 4.25 GiB of zeros,
    and an entry whose local header lies beyond 4 GiB. The zeros are
    deflated at level 0 (stored blocks, as large as the data: the program
    copies them as they are, so the new archive passes 4 GiB too), or
    stored, as a hole in the file (the program reads them through twice,
    to check their CRC and to deflate them, holding none of them)."""
    enough_disk(drive.root, 10 * GIB)
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    zeros = bytes(1 << 22)
    size = 4 * GIB + GIB // 4
    with open(archive, "wb") as raw:
        sink = SparseZeros(raw) if request.param == "stored" else raw
        method = zipfile.ZIP_STORED if request.param == "stored" else zipfile.ZIP_DEFLATED
        with zipfile.ZipFile(sink, "w", method, compresslevel=0) as zf:
            zf.writestr(zipfile.ZipInfo("first.txt", (2019, 1, 2, 3, 4, 6)),
                        OLD_FILES["old/a.txt"], compress_type=zipfile.ZIP_DEFLATED)
            info = zipfile.ZipInfo("big.bin", (2019, 1, 2, 3, 4, 8))
            info.compress_type = method
            info._compresslevel = 0  # zipfile's own name for the entry's level
            with zf.open(info, "w", force_zip64=True) as stream:
                for _ in range(size // len(zeros)):
                    stream.write(zeros)
            zf.writestr(zipfile.ZipInfo("last.txt", (2019, 1, 2, 3, 4, 10)),
                        OLD_FILES["old/b.bin"], compress_type=zipfile.ZIP_DEFLATED)
        if sink is not raw:
            sink.close()
    with zipfile.ZipFile(archive) as zf:
        assert zf.getinfo("big.bin").compress_type == method
        assert zf.getinfo("last.txt").header_offset > 4 * GIB
    yield archive, size
    for path in archive.parent.iterdir():
        path.unlink()


@pytest.mark.large
def test_update_of_an_archive_above_4_gib(kelzar, drive, archive_above_4_gib, figures):
    archive, size = archive_above_4_gib
    drive.write(r"d:\new\add.txt", SMALL)
    started = time.monotonic()
    with Watch(kelzar, archive) as watch:
        code = run(kelzar, r"d:\arch\old.zip d:\new\*.txt 1", timeout=1800)
    seconds = time.monotonic() - started
    assert code == 0
    assert leftovers(archive.parent) == []
    assert watch.peak_memory < 256 << 20, f"the run took {watch.peak_memory >> 20} MiB"
    times = verify_streaming(archive, [
        Expected("first.txt", OLD_FILES["old/a.txt"]), Expected("big.bin", zeros=size),
        Expected("last.txt", OLD_FILES["old/b.bin"]), Expected("new\\add.txt", SMALL)])
    with zipfile.ZipFile(archive) as zf:
        assert zf.getinfo("big.bin").compress_type == zipfile.ZIP_DEFLATED
    figures(f"archive of {size} bytes updated: kelzar.exe {seconds:.1f} s, peak memory "
            f"{watch.peak_memory >> 20} MiB, temporary archive up to "
            f"{watch.largest_temporary >> 20} MiB; readers "
            + ", ".join(f"{k} {v:.1f} s" for k, v in times.items()))


@pytest.fixture(scope="module")
def many_entry_archives(tmp_path_factory):
    """Python zipfile archives of 65,534, 65,535 and 65,536 small entries
    (deflated and stored by turns), and an empty one of 22 bytes."""
    folder = tmp_path_factory.mktemp("many")
    archives = {0: folder / "0.zip"}
    zipfile.ZipFile(archives[0], "w").close()
    assert archives[0].stat().st_size == 22
    previous = None
    for count in (65_534, 65_535, 65_536):
        archives[count] = folder / f"{count}.zip"
        if previous is None:
            with zipfile.ZipFile(archives[count], "w") as zf:
                for i in range(count):
                    info = zipfile.ZipInfo(f"many/{i:06d}.txt", (2020, 1 + i % 12, 1 + i % 28,
                                                                 i % 24, i % 60, i % 30 * 2))
                    info.compress_type = zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED
                    zf.writestr(info, f"entry {i}\n" * (1 + i % 5))
        else:
            shutil.copy(previous, archives[count])
            with zipfile.ZipFile(archives[count], "a") as zf:
                zf.writestr(zipfile.ZipInfo(f"many/more-{count}.txt", (2021, 3, 4, 5, 6, 8)),
                            f"one more, {count} in all\n")
        previous = archives[count]
    return archives


@pytest.mark.parametrize("count", [0, 65_534, 65_535, 65_536])
def test_update_of_an_archive_of_many_entries(kelzar, drive, many_entry_archives, figures,
                                              count):
    # 65,534 old entries and one new make exactly 65,535, the most the end
    # record's 16-bit count holds; 65,535 and 65,536 old entries go past it.
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    shutil.copy(many_entry_archives[count], archive)
    before = try_read_entries(archive)
    assert len(before) == count and all(e.sound for e in before)
    added = Added("new\\add.txt", SMALL)
    drive.write(r"d:\new\add.txt", SMALL)

    started = time.monotonic()
    assert run(kelzar, r"d:\arch\old.zip d:\new\*.txt 1", timeout=600) == 0
    seconds = time.monotonic() - started
    assert leftovers(archive.parent) == []
    started = time.monotonic()
    infos = assert_carried_over(before, archive, [added])
    assert len(infos) == count + 1
    figures(f"{count} entries: kelzar.exe {seconds:.1f} s, "
            f"checks {time.monotonic() - started:.1f} s")


def test_flat_archive_of_65536_files(kelzar, drive, figures):
    # One folder of 65,536 files: the new archive needs the Zip64 end record.
    folder = drive.path(r"d:\many")
    folder.mkdir()
    contents = {f"{i:05d}.txt": f"file {i}\n".encode() for i in range(65_536)}
    for name, data in contents.items():
        (folder / name).write_bytes(data)
    archive = drive.path(r"d:\out.zip")

    started = time.monotonic()
    assert run(kelzar, r"d:\out.zip d:\many\*.txt", timeout=600) == 0
    seconds = time.monotonic() - started
    assert leftovers(drive.root) == []
    started = time.monotonic()
    with zipfile.ZipFile(archive) as zf:
        infos = zf.infolist()
        assert sorted(i.filename for i in infos) == sorted(contents)
        for info in infos:
            assert zf.read(info) == contents[info.filename]
    verify_streaming(archive, [Expected(i.filename, contents[i.filename]) for i in infos])
    figures(f"65536 files, flag 0: kelzar.exe {seconds:.1f} s, checks "
            f"{time.monotonic() - started:.1f} s")
