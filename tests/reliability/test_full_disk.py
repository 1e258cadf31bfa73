"""A full disk: the archive's folder on a small tmpfs (drive e:), with the free
space set, run after run, from far too little for the new archive to just
enough, in 4 KiB steps (the tmpfs page). Somewhere in that sweep the disk
fills while the entries are written, while the central directory is
written, and while the archive is flushed and moved.

Every run leaves the old archive byte for byte as it was and exits 1, or
puts the complete new archive in place and exits 0; no temporary or lock
file is left on the full disk.
"""

import os
import shutil
import zipfile

import pytest

from hostile import Added, assert_carried_over, leftovers
from peers import infozip, mixed_content, write_tree
from kelzar_harness import run
from zipread import try_read_entries

PAGE = 4096
OLD_FILES = {"old/a.bin": mixed_content(1, 1_500_000), "old/b.txt": mixed_content(2, 300_000)}
NEW_FILES = {"n1.bin": mixed_content(3, 1_000_000), "n2.txt": mixed_content(4, 200_000)}


def free_bytes(folder) -> int:
    return shutil.disk_usage(folder).free


def fill_to(folder, free: int) -> None:
    """Grows a filler file until FREE bytes (rounded to pages) are left."""
    filler = folder / "filler.bin"
    filler.touch()
    grow = free_bytes(folder) - free
    with open(filler, "ab") as f:
        f.write(bytes(max(0, grow)))
    assert abs(free_bytes(folder) - free) < 2 * PAGE, (free_bytes(folder), free)


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "update"])
def test_disk_fills_during_the_run(kelzar, drive, mount_tmpfs, tmp_path, figures, mode):
    disk = mount_tmpfs("e", "8m")
    for name, data in NEW_FILES.items():
        drive.write(f"d:\\new\\{name}", data)
    added = [Added(f"new\\{name}" if mode == "1" else name, data)
             for name, data in NEW_FILES.items()]
    write_tree(tmp_path / "peer", OLD_FILES)
    pristine = tmp_path / "old.zip"
    infozip(pristine, tmp_path / "peer", "-r", "old")
    old = try_read_entries(pristine) if mode == "1" else None
    folder = disk / "arch"
    folder.mkdir()
    archive = folder / "old.zip"
    command = rf"e:\arch\old.zip d:\new\*.* {mode}"

    # With room to spare: the size of the new archive.
    shutil.copy(pristine, archive)
    assert run(kelzar, command) == 0
    needed = archive.stat().st_size
    archive.unlink()

    outcomes = {}
    for missing in [needed // 2] + list(range(10 * PAGE, -3 * PAGE, -PAGE)):
        shutil.copy(pristine, archive)
        before = archive.read_bytes()
        fill_to(disk, max(0, needed - missing))
        code = run(kelzar, command)
        what = f"{missing} bytes short of the new archive: exit {code}"
        assert leftovers(disk) == [], f"{what}, left {leftovers(disk)} on the full disk"
        if code == 1:
            assert archive.read_bytes() == before, f"{what}: the old archive was changed"
        elif mode == "1":
            assert_carried_over(old, archive, added)
        else:
            with zipfile.ZipFile(archive) as zf:
                assert sorted((i.filename, zf.read(i)) for i in zf.infolist()) == \
                    sorted((a.entry_name, a.data) for a in added), what
        outcomes[missing] = code
        archive.unlink()
        os.unlink(disk / "filler.bin")
    figures(f"new archive {needed} bytes; exit code by bytes missing: {outcomes}")
    assert outcomes[needed // 2] == 1 and outcomes[PAGE] == 1, "too little room, yet success"
    assert outcomes[-2 * PAGE] == 0, "room enough, yet the run failed"
