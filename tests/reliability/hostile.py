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
import struct
import subprocess
import threading
import time
import zipfile
import zlib
from pathlib import Path

from kelzar_harness import LAUNCH_NOT_STARTED, LAUNCH_TIMED_OUT, Kelzar, WineError, hex_arg

# The program's bookkeeping beside an archive: ".~kz<digest>.lock" and
# ".~kz<digest>-<10 hex digits>.tmp" (and, beside the program, the
# library's "ZLib.dll.~kz<10 hex digits>.tmp").
BOOKKEEPING = re.compile(r"\.~kz([0-9a-f]{16}(\.lock|-[0-9a-f]{10}\.tmp)|[0-9a-f]{10}\.tmp)$",
                         re.IGNORECASE)

UNZIP_LONG_NAME = "filename too long--truncating"

# One run of a small case takes well under a second; a run that takes this
# long hangs.
RUN_TIMEOUT = 60


# ---------------------------------------------------------------------------
# Running the program


def spawn(kelzar: Kelzar, args: str, cwd: str = "d:\\", timeout: float = RUN_TIMEOUT,
          label: str = "kelzar") -> subprocess.Popen:
    """Starts `kelzar.exe ARGS` with exactly that command line, without waiting."""
    line = f"kelzar.exe {args}"
    return kelzar.wine.spawn(
        "kzlaunch.exe", [hex_arg(line), hex_arg(cwd), str(int(timeout * 1000))], label)


def exit_code(process: subprocess.Popen, what: str, timeout: float = RUN_TIMEOUT) -> int:
    """The program's exit code; a hang, a crash or a launcher failure fails the test."""
    try:
        code = process.wait(timeout=timeout + 30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise WineError(f"{what}: the launcher itself hung")
    if code == LAUNCH_TIMED_OUT:
        raise WineError(f"{what}: the program hung (still running after {timeout} s)")
    if code == LAUNCH_NOT_STARTED:
        raise WineError(f"{what}: the program could not be started")
    if code not in (0, 1):
        # A Windows exception code comes through Wine as its low byte.
        raise WineError(f"{what}: the program crashed or failed with exit code {code}")
    return code


def run(kelzar: Kelzar, args: str, cwd: str = "d:\\", timeout: float = RUN_TIMEOUT) -> int:
    return exit_code(spawn(kelzar, args, cwd, timeout), args, timeout)


def run_all(kelzar: Kelzar, commands: list[str], parallel: int = 3,
            timeout: float = RUN_TIMEOUT) -> list[int]:
    """Runs independent commands (each on its own archive), a few at a time;
    returns their exit codes in order. Wine spends most of a short run
    starting the process, so overlapping runs nearly halves the time."""
    codes: list[int | None] = [None] * len(commands)
    running: dict[int, subprocess.Popen] = {}
    pending = list(range(len(commands)))
    while pending or running:
        while pending and len(running) < parallel:
            i = pending.pop(0)
            running[i] = spawn(kelzar, commands[i], timeout=timeout)
        finished = [i for i, p in running.items() if p.poll() is not None]
        if not finished:
            time.sleep(0.005)
            continue
        for i in finished:
            codes[i] = exit_code(running.pop(i), commands[i], timeout)
    return codes  # type: ignore[return-value]


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


@dataclasses.dataclass
class OldEntry:
    """One entry of an old archive: what zipfile's directory says, its stored
    bytes found through its local header, and its content when those bytes
    decode to the declared size and CRC."""

    name: str
    flag: int
    method: int
    date_time: tuple
    crc: int
    compress_size: int
    file_size: int
    raw: bytes | None  # None: no local header where the directory points
    content: bytes | None  # None: the stored bytes do not decode soundly
    offset: int = 0  # of the local header
    record: bytes | None = None  # local header, name, extra field and stored bytes

    @property
    def sound(self) -> bool:
        return self.content is not None


def _local_record(blob: bytes, info: zipfile.ZipInfo) -> tuple[int, int] | None:
    """Where the entry's local header starts and where its stored bytes start."""
    at = info.header_offset
    if at < 0 or blob[at:at + 4] != b"PK\x03\x04" or at + 30 > len(blob):
        return None
    name_length, extra_length = struct.unpack_from("<HH", blob, at + 26)
    return at, at + 30 + name_length + extra_length


def _stored_bytes(blob: bytes, info: zipfile.ZipInfo) -> bytes | None:
    where = _local_record(blob, info)
    if where is None or where[1] + info.compress_size > len(blob):
        return None
    return blob[where[1]:where[1] + info.compress_size]


def _decode(method: int, raw: bytes, crc: int, size: int, limit: int = 1 << 28) -> bytes | None:
    if method == zipfile.ZIP_STORED:
        content = raw
    elif method == zipfile.ZIP_DEFLATED:
        if size > limit:
            return None
        try:
            inflater = zlib.decompressobj(-15)
            content = inflater.decompress(raw, size + 1)
            # The stream must end exactly where the declared compressed size does.
            if not inflater.eof or inflater.unconsumed_tail or inflater.unused_data:
                return None
        except zlib.error:
            return None
    else:
        return None
    if len(content) != size or zlib.crc32(content) & 0xFFFFFFFF != crc:
        return None
    return content


def old_entries(archive: Path) -> list[OldEntry] | None:
    """The entries zipfile lists in ARCHIVE, in order; None when zipfile
    cannot read the archive's directory at all."""
    blob = archive.read_bytes()
    try:
        with zipfile.ZipFile(archive) as zf:
            infos = zf.infolist()
    except Exception:  # noqa: BLE001 - whatever zipfile raises, it cannot read the directory
        return None
    entries = []
    for info in infos:
        raw = _stored_bytes(blob, info)
        content = None
        if raw is not None and not info.flag_bits & 0x1:
            content = _decode(info.compress_type, raw, info.CRC, info.file_size)
        record = None
        if raw is not None:
            start, data = _local_record(blob, info)
            record = blob[start:data + info.compress_size]
        entries.append(OldEntry(info.filename, info.flag_bits, info.compress_type,
                                info.date_time, info.CRC, info.compress_size, info.file_size,
                                raw, content, info.header_offset, record))
    return entries


# ---------------------------------------------------------------------------
# What a run left


@dataclasses.dataclass
class Added:
    entry_name: str
    data: bytes


def _reader_exclusions(names: list[str]) -> tuple[list[str], list[str]]:
    # Each reader decodes names its own way: "?" stands for every character
    # that might be read differently, so the pattern matches either way.
    patterns = [re.sub(r"[^A-Za-z0-9/._-]", "?", n) for n in names]
    unzip = ["-x", *patterns] if patterns else []
    sevenzip = [f"-x!{p}" for p in patterns]
    return unzip, sevenzip


def check_readers(archive: Path, skip: tuple[str, ...] | list[str] = ()) -> None:
    """unzip -t and 7z t accept the archive (leaving out the entries named in
    SKIP, which were damaged before the run and are checked byte for byte)."""
    unzip_x, sevenzip_x = _reader_exclusions(list(skip))
    done = subprocess.run(["unzip", "-t", "-q", str(archive), *unzip_x],
                          capture_output=True, timeout=900)
    complaints = [line for line in done.stdout.decode(errors="replace").splitlines()
                  if "warning" in line or "error" in line]
    # unzip shortens names of 4,096 bytes and more for its own use and warns
    # (exit code 1), but still tests their data.
    only_long_names = done.returncode == 1 and all(
        UNZIP_LONG_NAME in line or line.startswith("At least one warning-error")
        for line in complaints)
    assert done.returncode == 0 or only_long_names, \
        f"unzip -t rejects {archive.name}: {done.stdout[-2000:]!r}"
    done = subprocess.run(["7z", "t", "-bd", str(archive), *sevenzip_x],
                          capture_output=True, timeout=900)
    assert done.returncode == 0, f"7z t rejects {archive.name}: {done.stdout[-2000:]!r}"


def assert_carried_over(before: list[OldEntry], archive: Path, added: list[Added],
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
        blob = archive.read_bytes() if damaged else b""
        for old, info in zip(before, infos):
            what = f"old entry {old.name!r}"
            assert info.filename == old.name, f"{what} came over as {info.filename!r}"
            assert info.flag_bits & 0x800 == old.flag & 0x800, f"{what} lost its UTF-8 flag"
            assert info.date_time == old.date_time, f"{what}: date {info.date_time}"
            assert info.CRC == old.crc, f"{what}: CRC {info.CRC:08x}, was {old.crc:08x}"
            assert info.file_size == old.file_size, f"{what}: size {info.file_size}"
            if old.sound:
                assert zf.read(info) == old.content, f"{what}: content changed"
            else:
                assert (info.compress_type, _stored_bytes(blob, info)) == (old.method, old.raw), \
                    f"{what} was damaged before the run and must come over byte for byte"
        for new, info in zip(added, infos[len(before):]):
            assert info.filename == new.entry_name, f"{info.filename!r} for {new.entry_name!r}"
            assert zf.read(info) == new.data, f"added file {new.entry_name}: content differs"
    if readers:
        check_readers(archive, damaged)
    return infos


def assert_nothing_lost(reference: list[OldEntry], old_blob: bytes, archive: Path,
                        added: list[Added]) -> None:
    """For an old archive whose directory zipfile cannot read (a damaged
    copy of an archive whose entries REFERENCE were): every entry whose local
    header and data survived intact in OLD_BLOB is in the new archive with its
    date and content; every other entry there (besides the added files, which
    come last) decodes soundly or holds bytes copied as they were."""
    with zipfile.ZipFile(archive) as zf:
        infos = zf.infolist()
        blob = archive.read_bytes()
        assert len(infos) >= len(added), f"the new archive holds {len(infos)} entries"
        carried = infos[:len(infos) - len(added)]
        for new, info in zip(added, infos[len(carried):]):
            assert info.filename == new.entry_name, f"{info.filename!r} for {new.entry_name!r}"
            assert zf.read(info) == new.data, f"added file {new.entry_name}: content differs"
        found = []
        damaged = []
        for info in carried:
            raw = _stored_bytes(blob, info)
            content = None if raw is None else _decode(info.compress_type, raw, info.CRC,
                                                       info.file_size)
            if content is None:
                assert raw is not None and raw in old_blob, (
                    f"{info.filename!r} is damaged but its bytes are not those of the old archive")
                damaged.append(info.filename)
            found.append((info.date_time, info.CRC, content, raw))
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
                       old: list[OldEntry] | None, added: list[Added],
                       readers: bool = True,
                       reference: list[OldEntry] | None = None) -> str:
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
            f"it now holds {zip_names(archive)}")
        assert_nothing_lost(reference, before or b"", archive, added)
    else:
        assert_carried_over(old, archive, added, readers)
    return "updated"


def zip_names(archive: Path) -> list[str]:
    try:
        with zipfile.ZipFile(archive) as zf:
            return zf.namelist()
    except zipfile.BadZipFile as error:
        return [f"<unreadable: {error}>"]


# ---------------------------------------------------------------------------
# Archives too large to hold in memory


@dataclasses.dataclass
class Expected:
    """An entry a large archive must hold: its content, or ZEROS bytes of 0."""

    name: str
    content: bytes = b""
    zeros: int = 0

    @property
    def size(self) -> int:
        return self.zeros or len(self.content)


def verify_streaming(archive: Path, expected: list[Expected]) -> dict[str, float]:
    """Checks a large archive with all three readers at once: unzip -t and
    7z t in the background while zipfile reads every entry in pieces (its CRC
    check comes at the end of each). Returns each reader's time."""
    started = time.monotonic()
    background = {
        name: subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        for name, argv in (("unzip", ["unzip", "-t", "-q", str(archive)]),
                           ("7z", ["7z", "t", "-bd", str(archive)]))
    }
    times = {}
    try:
        zeros = bytes(1 << 22)
        with zipfile.ZipFile(archive) as zf:
            infos = zf.infolist()
            assert [i.filename for i in infos] == [e.name for e in expected]
            for info, entry in zip(infos, expected):
                assert info.file_size == entry.size, f"{entry.name}: size {info.file_size}"
                at = 0
                with zf.open(info) as stream:
                    while piece := stream.read(1 << 22):
                        if entry.zeros:
                            assert piece == zeros[:len(piece)], f"{entry.name}: not all zeros"
                        else:
                            assert piece == entry.content[at:at + len(piece)], entry.name
                        at += len(piece)
                assert at == entry.size, f"{entry.name}: read {at} bytes"
        times["zipfile"] = time.monotonic() - started
        for name, process in background.items():
            out, _ = process.communicate(timeout=1800)
            times[name] = time.monotonic() - started
            assert process.returncode == 0, f"{name} rejects {archive.name}: {out[-2000:]!r}"
    finally:
        for process in background.values():
            if process.poll() is None:
                process.kill()
                process.wait()
    return times
