"""What every reliability case checks, and the means to provoke the cases.

The invariant: after a run, the file at ZipfilePath is either byte for byte
what it was before, or the complete new archive, which Python's zipfile (every
entry read, so every CRC checked), `unzip -t` and `7z t` accept; no temporary
or lock file of the program is left beside it; the exit code is 0 only when
the complete new archive is in place; the program never crashes or hangs.

Old archives are judged by what independent readers see in them: zipfile's
list of entries, and each entry's bytes decoded here with zlib, never with
the program's own code.
"""

from __future__ import annotations

import contextlib
import dataclasses
import hashlib
import os
import re
import signal
import subprocess
import threading
import time
import zipfile
from pathlib import Path

from kelzar_harness import Kelzar, WineError
from zipread import Entry, check_readers, entry_names, read_entries

# The program's bookkeeping beside an archive: ".~kz<digest>.lock" and
# ".~kz<digest>-<10 hex digits>.tmp" (and, beside the program, the
# library's "ZLib.dll.~kz<10 hex digits>.tmp").
BOOKKEEPING = re.compile(r"\.~kz([0-9a-f]{16}(\.lock|-[0-9a-f]{10}\.tmp)|[0-9a-f]{10}\.tmp)$",
                         re.IGNORECASE)


# ---------------------------------------------------------------------------
# Running the program


def kelzar_pids(kelzar: Kelzar) -> list[int]:
    """The Linux processes that are Windows processes of kelzar.exe in this
    test's Wine prefix (not the launcher, not another prefix's runs)."""
    mark = f"WINEPREFIX={kelzar.wine.prefix}".encode() + b"\0"
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            command = Path(f"/proc/{entry}/cmdline").read_bytes()
            if not command.lower().startswith(b"kelzar.exe"):
                continue
            if mark not in Path(f"/proc/{entry}/environ").read_bytes():
                continue
            state = Path(f"/proc/{entry}/stat").read_text().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if state != "Z":
            pids.append(int(entry))
    return pids


def wait_for_pid(kelzar: Kelzar, launcher: subprocess.Popen, timeout: float = 30) -> int | None:
    """The kelzar.exe process the launcher started, once it exists; None when
    the run ended before it was seen."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pids = kelzar_pids(kelzar)
        if pids:
            assert len(pids) == 1, f"more than one kelzar.exe in this prefix: {pids}"
            return pids[0]
        if launcher.poll() is not None:
            return None
        time.sleep(0.002)
    raise WineError("kelzar.exe did not appear")


def kill_hard(pid: int) -> None:
    with contextlib.suppress(ProcessLookupError):
        os.kill(pid, signal.SIGKILL)


class Watch:
    """Samples, while a run goes on, the largest temporary archive beside
    ARCHIVE and the peak memory of the kelzar.exe process."""

    def __init__(self, kelzar: Kelzar, archive: Path):
        self.kelzar = kelzar
        self.folder = archive.parent
        self.largest_temporary = 0
        self.peak_memory = 0  # bytes, the process's high-water mark of resident memory
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._loop, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _loop(self):
        while not self._stop.is_set():
            for path in self.folder.iterdir():
                if path.name.endswith(".tmp") and BOOKKEEPING.search(path.name):
                    with contextlib.suppress(OSError):
                        self.largest_temporary = max(self.largest_temporary,
                                                     path.stat().st_blocks * 512)
            for pid in kelzar_pids(self.kelzar):
                with contextlib.suppress(OSError):
                    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                        if line.startswith("VmHWM:"):
                            self.peak_memory = max(self.peak_memory, int(line.split()[1]) * 1024)
            time.sleep(0.02)


# ---------------------------------------------------------------------------
# Files


def leftovers(folder: Path) -> list[str]:
    """Lock or temporary files of the program anywhere under FOLDER."""
    return sorted(str(p.relative_to(folder)) for p in folder.rglob("*")
                  if BOOKKEEPING.search(p.name))


def files_under(root: Path) -> set[str]:
    """Every file under ROOT, as relative paths: whatever a run left
    anywhere (a temporary archive in the working folder, say) shows."""
    return {str(p.relative_to(root)) for p in root.rglob("*") if not p.is_dir()}


def digest(path: Path) -> tuple[int, str] | None:
    """Size and SHA-256 of a file (None when it is missing): a cheap way to
    compare archives too large to hold in memory."""
    if not path.exists():
        return None
    sha = hashlib.sha256()
    with open(path, "rb") as f:
        while chunk := f.read(1 << 22):
            sha.update(chunk)
    return path.stat().st_size, sha.hexdigest()


def sparse_file(path: Path, size: int) -> Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as f:
        f.truncate(size)
    return path


# ---------------------------------------------------------------------------
# Old archives as independent readers see them


# ---------------------------------------------------------------------------
# What a run left


@dataclasses.dataclass
class Added:
    entry_name: str
    data: bytes


def assert_carried_over(before: list[Entry], archive: Path, added: list[Added],
                        readers: bool = True, any_order: bool = False) -> list[zipfile.ZipInfo]:
    """The archive holds every old entry, in the old order, with its name,
    date and content (sound entries decode to the same bytes; damaged ones
    come over byte for byte with their method and CRC), then the added files
    (in the order given, or in any order when ANY_ORDER: the order in which
    the system lists a folder). zipfile reads every entry that was sound;
    unzip -t and 7z t test all of them."""
    damaged = [e.name for e in before if not e.sound]
    with zipfile.ZipFile(archive) as zf:
        infos = zf.infolist()
        names = [i.filename for i in infos]
        assert len(infos) == len(before) + len(added), (
            f"expected {len(before)} old entries and {len(added)} new ones, found "
            f"{len(infos)}: {names[:8]}")
        if any_order:
            tail = names[len(before):]
            assert sorted(tail) == sorted(a.entry_name for a in added), f"added: {tail}"
            added = sorted(added, key=lambda a: tail.index(a.entry_name))
        stored = [e.raw for e in read_entries(archive, decode=False)] if damaged else []
        for i, (old, info) in enumerate(zip(before, infos)):
            what = f"old entry {old.name!r}"
            assert info.filename == old.name, f"{what} came over as {info.filename!r}"
            assert info.flag_bits & 0x800 == old.flag & 0x800, f"{what} lost its UTF-8 flag"
            assert info.date_time == old.date_time, f"{what}: date {info.date_time}"
            assert info.CRC == old.crc, f"{what}: CRC {info.CRC:08x}, was {old.crc:08x}"
            assert info.file_size == old.file_size, f"{what}: size {info.file_size}"
            if old.sound:
                assert zf.read(info) == old.content, f"{what}: content changed"
            else:
                assert (info.compress_type, stored[i]) == (old.method, old.raw), \
                    f"{what} was damaged before the run and must come over byte for byte"
        for new, info in zip(added, infos[len(before):]):
            assert info.filename == new.entry_name, f"{info.filename!r} for {new.entry_name!r}"
            assert zf.read(info) == new.data, f"added file {new.entry_name}: content differs"
    if readers:
        check_readers(archive, damaged)
    return infos


def assert_nothing_lost(reference: list[Entry], old_blob: bytes, archive: Path,
                        added: list[Added]) -> None:
    """For an old archive whose directory zipfile cannot read (a damaged
    copy of an archive whose entries REFERENCE were): every entry whose local
    header and data survived intact in OLD_BLOB is in the new archive with its
    date and content; every other entry there (besides the added files, which
    come last) decodes soundly or holds bytes copied as they were."""
    entries = read_entries(archive, decode=False)
    with zipfile.ZipFile(archive) as zf:
        infos = zf.infolist()
        assert len(infos) >= len(added), f"the new archive holds {len(infos)} entries"
        carried = infos[:len(infos) - len(added)]
        for new, info in zip(added, infos[len(carried):]):
            assert info.filename == new.entry_name, f"{info.filename!r} for {new.entry_name!r}"
            assert zf.read(info) == new.data, f"added file {new.entry_name}: content differs"
        found = []
        damaged = []
        for entry in entries[:len(carried)]:
            if not entry.sound:
                assert entry.raw is not None and entry.raw in old_blob, (
                    f"{entry.name!r} is damaged but its bytes are not those of the old archive")
                damaged.append(entry.name)
            found.append((entry.date_time, entry.crc, entry.content, entry.raw))
    for entry in reference:
        if entry.record is None or old_blob[entry.offset:entry.offset + len(entry.record)] != \
                entry.record:
            continue  # the damage reached this entry's local header or data
        assert any(date == entry.date_time and crc == entry.crc and
                   (content == entry.content or raw == entry.raw)
                   for date, crc, content, raw in found), (
            f"old entry {entry.name!r} was intact in the old archive and is gone: "
            f"the new archive holds {[i.filename for i in infos]}")
    check_readers(archive, damaged)


def assert_run_outcome(code: int, archive: Path, before: bytes | None,
                       old: list[Entry] | None, added: list[Added],
                       readers: bool = True,
                       reference: list[Entry] | None = None) -> str:
    """The invariant for one update run of an archive whose old bytes were
    BEFORE: exit 1 and the archive untouched, or exit 0 and every old entry
    carried over with the added files after them. OLD is zipfile's view of
    the old archive; when zipfile cannot read it, REFERENCE (the entries of
    the archive it was damaged from) tells what must not be lost. Returns
    "kept" or "updated"."""
    folder = archive.parent
    assert leftovers(folder) == [], f"bookkeeping left behind: {leftovers(folder)}"
    after = archive.read_bytes() if archive.exists() else None
    if code == 1:
        assert after == before, "the run failed but changed the archive"
        return "kept"
    assert after != before, "the run reported success but left the archive as it was"
    if old is None:
        assert reference is not None, (
            "the run reported success on an archive whose directory zipfile cannot read; "
            f"it now holds {entry_names(archive)}")
        assert_nothing_lost(reference, before or b"", archive, added)
    else:
        assert_carried_over(old, archive, added, readers)
    return "updated"


# ---------------------------------------------------------------------------
# Archives too large to hold in memory


