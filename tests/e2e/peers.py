"""Old archives made by real peers, and checks of what an update kept.

The archives that kelzar.exe updates in these tests are written during the
test by Info-ZIP zip, 7-Zip and Python's zipfile, never by the program
itself. What the update left is read back with zipfile (every entry read in
full, so its CRC is checked), `unzip -t` and `7z t`; the entry list may hold
a name twice, since an update never replaces an entry by name.
"""

from __future__ import annotations

import datetime
import os
import random
import re
import subprocess
import time
import zipfile
from dataclasses import dataclass
from pathlib import Path, PureWindowsPath

from zipread import FLAG_UTF8, Entry, archive_comment, verified_entries
from kelzar_harness import (
    Drive,
    assert_deflated,
    dos_date_time,
)

STORED = zipfile.ZIP_STORED
DEFLATED = zipfile.ZIP_DEFLATED

# Files the program keeps beside an archive while it works on it: the lock
# (".~kz<digest>.lock") and the temporary archive (".~kz<digest>-....tmp").
BOOKKEEPING_MARK = ".~kz"


def bookkeeping_prefix(archive_name: str) -> str:
    """What the lock and the temporaries of an archive are named by: ".~kz"
    and the 64-bit FNV-1a digest of the archive's name as the file system
    compares it, upper-cased (for the ASCII names the tests use, as
    str.upper does it)."""
    assert archive_name.isascii(), "Windows upper-cases other names by its own table"
    digest = 0xcbf29ce484222325
    for byte in archive_name.rstrip(". ").upper().encode():
        digest = ((digest ^ byte) * 0x100000001b3) % (1 << 64)
    return f".~kz{digest:016x}"


def lock_name(archive_name: str) -> str:
    return bookkeeping_prefix(archive_name) + ".lock"


def temporary_pattern(archive_name: str) -> "re.Pattern":
    return re.compile(rf"^{re.escape(bookkeeping_prefix(archive_name))}-[0-9a-f]{{10}}\.tmp$")


# ---------------------------------------------------------------------------
# Running the peers


def run_tool(argv: list[str], cwd: Path, stdin: bytes | None = None) -> None:
    done = subprocess.run(
        argv, cwd=cwd, input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600
    )
    assert done.returncode == 0, f"{argv} failed: {done.stdout!r} {done.stderr!r}"


def infozip(archive: Path, cwd: Path, *args: str, stdin: bytes | None = None) -> Path:
    """Runs Info-ZIP zip on ARCHIVE with ARGS in CWD (quietly)."""
    run_tool(["zip", "-q", str(archive), *args], cwd, stdin)
    return archive


def infozip_streamed(archive: Path, cwd: Path, *args: str) -> Path:
    """Info-ZIP writing to a pipe: every entry has a data descriptor."""
    with open(archive, "wb") as out:
        zip_proc = subprocess.Popen(["zip", "-q", "-", *args], cwd=cwd, stdout=subprocess.PIPE)
        cat = subprocess.Popen(["cat"], stdin=zip_proc.stdout, stdout=out)
        zip_proc.stdout.close()
        assert cat.wait(timeout=600) == 0 and zip_proc.wait(timeout=600) == 0
    return archive


def sevenzip(archive: Path, cwd: Path, *args: str, stdin: bytes | None = None) -> Path:
    """Runs `7z a -tzip ARCHIVE ARGS` in CWD."""
    run_tool(["7z", "a", "-tzip", "-bd", "-bso0", str(archive), *args], cwd, stdin)
    return archive


@dataclass
class PyEntry:
    name: str
    data: bytes = b""
    method: int = DEFLATED
    date_time: tuple = (2011, 6, 5, 4, 3, 2)
    comment: bytes = b""


def python_zip(archive: Path, entries: list[PyEntry], comment: bytes = b"",
               force_zip64: bool = False) -> Path:
    """Writes an archive with Python's zipfile, entry by entry as given."""
    with zipfile.ZipFile(archive, "w") as zf:
        for entry in entries:
            info = zipfile.ZipInfo(entry.name, entry.date_time)
            info.compress_type = entry.method
            info.comment = entry.comment
            if force_zip64:
                with zf.open(info, "w", force_zip64=True) as stream:
                    stream.write(entry.data)
            else:
                zf.writestr(info, entry.data)
        zf.comment = comment
    return archive


def python_zip_many(archive: Path, count: int) -> Path:
    """An archive of COUNT small entries, deflated and stored by turns."""
    with zipfile.ZipFile(archive, "w") as zf:
        for i in range(count):
            info = zipfile.ZipInfo(f"many/{i:06d}.txt", (2020, 1 + i % 12, 1 + i % 28, 0, 0, 0))
            info.compress_type = DEFLATED if i % 2 == 0 else STORED
            zf.writestr(info, f"entry {i}\n")
    return archive


# ---------------------------------------------------------------------------
# Content for the files peers and the program archive


def mixed_content(seed: int, size: int) -> bytes:
    """Bytes of a given size: text-like (compressible) for even seeds, random
    for odd ones."""
    rng = random.Random(seed)
    if seed % 2:
        return rng.randbytes(size)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"kelzar", b"zip", b"\r\n", b"  "]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def odd_second_mtime(year: int, month: int, day: int, hour: int, minute: int) -> float:
    """A UTC time stamp that ends on an odd second, so its rounding shows."""
    moment = datetime.datetime(year, month, day, hour, minute, 37, tzinfo=datetime.timezone.utc)
    return moment.timestamp()


def write_tree(root: Path, files: dict[str, bytes], mtime: float | None = None) -> None:
    """Creates the files (relative paths with "/") under ROOT."""
    for rel, data in files.items():
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        if mtime is not None:
            os.utime(path, (mtime, mtime))


# ---------------------------------------------------------------------------
# Reading archives back


# ---------------------------------------------------------------------------
# What an update must have kept and added


@dataclass
class NewFile:
    win_path: str  # as on drive d:, e.g. d:\docs\a.txt
    data: bytes
    mtime: float

    @property
    def entry_name(self) -> str:
        """The path less the drive, with "\\" kept as separator."""
        return self.win_path.split(":", 1)[1].lstrip("\\")


def make_new_files(drive: Drive, specs: list[tuple[str, bytes | str]],
                   mtime: float | None = None) -> list[NewFile]:
    mtime = mtime if mtime is not None else odd_second_mtime(2023, 7, 14, 21, 58)
    files = []
    for i, (win_path, data) in enumerate(specs):
        stamp = mtime + 60 * i
        data = data.encode() if isinstance(data, str) else data
        drive.write(win_path, data, mtime=stamp)
        files.append(NewFile(win_path, data, stamp))
    return files


def make_pattern_source(drive: Drive) -> None:
    """d:\\src with a subfolder, and files of the same names elsewhere: an
    archive that took those was made from the working folder instead of the
    folder the pattern names."""
    drive.write(r"d:\src\a.txt", b"a from src")
    drive.write(r"d:\src\ab.txt", b"ab from src")
    drive.write(r"d:\src\c.dat", b"c from src")
    drive.write(r"d:\src\sub\d.txt", b"in a subfolder")
    for folder in ("d:\\decoy", "d:"):
        for name in ("a.txt", "ab.txt", "c.dat"):
            drive.write(f"{folder}\\{name}", b"decoy " + name.encode())


def assert_carried(old: Entry, new: Entry, *, raw_if_deflated: bool = True) -> None:
    """An old entry came over with its name, date and content."""
    what = f"old entry {old.name!r}"
    assert new.name == old.name, f"{what} came over as {new.name!r}"
    assert new.flag & FLAG_UTF8 == old.flag & FLAG_UTF8, f"{what} lost its UTF-8 name flag"
    assert new.date_time == old.date_time, f"{what}: date {old.date_time} became {new.date_time}"
    assert new.data == old.data, f"{what}: its content changed"
    assert new.crc == old.crc, f"{what}: CRC changed"
    if old.method == DEFLATED and raw_if_deflated:
        assert new.method == DEFLATED and new.raw == old.raw, f"{what}: deflated data not copied as it was"
    if old.method == STORED:
        assert new.method == DEFLATED, f"{what}: a stored entry must come out deflated"
        assert_deflated(new.raw, old.data, new.crc, f"{what}, deflated anew")


def assert_plain_entry(item: Entry) -> None:
    """Entries of a rebuilt archive carry no attributes, extra fields or comments."""
    assert item.extra == b"", f"{item.name!r} kept a central extra field {item.extra.hex()}"
    assert item.local_extra == b"", f"{item.name!r} kept a local extra field"
    assert item.comment == b"", f"{item.name!r} kept its comment"
    assert item.external_attr == 0, f"{item.name!r} has attributes {item.external_attr:#x}"


def assert_added(item: Entry, new: NewFile) -> None:
    what = f"added file {new.win_path}"
    assert item.name == new.entry_name, f"{what} stored as {item.name!r}"
    assert item.method == DEFLATED, f"{what}: method {item.method}"
    assert item.date_time == dos_date_time(new.mtime), f"{what}: date {item.date_time}"
    assert item.data == new.data, f"{what}: content differs"
    assert_deflated(item.raw, new.data, item.crc, what)
    assert_plain_entry(item)


def assert_update(before: list[Entry], archive: Path, added: list[NewFile],
                  any_order: bool = False) -> list[Entry]:
    """The rebuilt archive holds every old entry, in the old order, then the
    added files in collection order (or in any order, when ANY_ORDER)."""
    after = verified_entries(archive)
    assert len(after) == len(before) + len(added), (
        f"expected {len(before)} old and {len(added)} new entries, found {len(after)}: "
        f"{[i.name for i in after][:20]}"
    )
    for old, new in zip(before, after):
        assert_carried(old, new)
        assert_plain_entry(new)
    tail = after[len(before):]
    if any_order:
        by_name = {f.entry_name: f for f in added}
        assert sorted(i.name for i in tail) == sorted(by_name), [i.name for i in tail]
        for item in tail:
            assert_added(item, by_name[item.name])
    else:
        for item, new in zip(tail, added):
            assert_added(item, new)
    assert archive_comment(archive) == b"", "the archive comment was kept"
    return after


def assert_walk_order(names: list[str]) -> None:
    """Entry names in the order of a depth-first walk: a folder's own files
    before anything from its subfolders, and each subfolder's files together."""
    folders = [PureWindowsPath(n).parent for n in names]
    for i, folder in enumerate(folders):
        for j in range(i + 1, len(folders)):
            assert folders[j] not in folder.parents, (
                f"{names[j]} comes after {names[i]}, which lies in one of its subfolders")
    subtrees = {p for folder in folders for p in (folder, *folder.parents)}
    for top in subtrees:
        inside = [i for i, f in enumerate(folders) if f == top or top in f.parents]
        assert inside == list(range(inside[0], inside[-1] + 1)), (
            f"the files of {top} are not listed together: {names}")


# ---------------------------------------------------------------------------
# The program's surroundings


def bookkeeping_left(drive: Drive) -> list[str]:
    """Lock or temporary files of the program left anywhere on the drive
    (and any "Tmp$Zip", the fixed temporary name this program must not use)."""
    return [str(p.relative_to(drive.root)) for p in drive.root.rglob("*")
            if BOOKKEEPING_MARK in p.name or p.name.lower() == "tmp$zip"]


def wait_for(condition, timeout: float, what: str) -> None:
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"gave up waiting for {what}"
        time.sleep(0.02)
