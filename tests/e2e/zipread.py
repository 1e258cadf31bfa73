"""The one independent ZIP reader of the tests: what Python's zipfile, zlib,
Info-ZIP's `unzip -t` and `7z t` see in an archive, never the program's own
code.

Every suite reads archives through here: the entries in their order (a name
may appear twice), each with what the central directory says, its local
header's extra field and stored bytes, its content as zipfile reads it
(CRC checked) and, for old archives that may be damaged, as a strict inflate
decodes it (the stream must end exactly where the stored size does).
"""

from __future__ import annotations

import functools
import re
import struct
import subprocess
import time
import zipfile
import zlib
from dataclasses import dataclass
from pathlib import Path

FLAG_ENCRYPTED = 0x1
FLAG_UTF8 = 0x800
UNZIP_LONG_NAME = "filename too long--truncating"


@dataclass
class Entry:
    """One entry as the independent readers see it."""

    name: str
    flag: int
    method: int
    date_time: tuple
    crc: int
    compress_size: int
    file_size: int
    offset: int  # of the local header
    extra: bytes  # the central header's extra field
    comment: bytes
    external_attr: int
    local_extra: bytes
    raw: bytes | None  # the stored bytes; None: no local header where the directory points
    record: bytes | None  # local header, name, extra field and stored bytes
    data: bytes | None  # as zipfile reads it; None when not read or not decodable
    info: zipfile.ZipInfo

    @functools.cached_property
    def content(self) -> bytes | None:
        """The content, strictly decoded from the stored bytes; None when they
        are unsound (or the entry is encrypted)."""
        if self.raw is None or self.flag & FLAG_ENCRYPTED:
            return None
        return strict_decode(self.method, self.raw, self.crc, self.file_size)

    @property
    def sound(self) -> bool:
        return self.content is not None


def _local_parts(f, info: zipfile.ZipInfo, size: int) -> tuple[bytes, bytes, bytes] | None:
    """The local extra field, the stored bytes and the whole local record of
    an entry, found through its local header; None when there is none."""
    at = info.header_offset
    if at < 0 or at + 30 > size:
        return None
    f.seek(at)
    header = f.read(30)
    if header[:4] != b"PK\x03\x04":
        return None
    name_length, extra_length = struct.unpack_from("<HH", header, 26)
    if at + 30 + name_length + extra_length + info.compress_size > size:
        return None
    rest = f.read(name_length + extra_length + info.compress_size)
    extra = rest[name_length:name_length + extra_length]
    raw = rest[name_length + extra_length:]
    return extra, raw, header + rest


def strict_decode(method: int, raw: bytes, crc: int, size: int,
                  limit: int = 1 << 28) -> bytes | None:
    """The content of stored bytes when they decode to exactly SIZE bytes
    with CRC, the deflate stream ending where the stored bytes do."""
    if method == zipfile.ZIP_STORED:
        content = raw
    elif method == zipfile.ZIP_DEFLATED:
        if size > limit:
            return None
        try:
            inflater = zlib.decompressobj(-15)
            content = inflater.decompress(raw, size + 1)
            if not inflater.eof or inflater.unconsumed_tail or inflater.unused_data:
                return None
        except zlib.error:
            return None
    else:
        return None
    if len(content) != size or zlib.crc32(content) & 0xFFFFFFFF != crc:
        return None
    return content


def read_entries(archive: Path, decode: bool = True) -> list[Entry]:
    """Every entry of ARCHIVE in its order, duplicates kept. With DECODE,
    zipfile reads each entry in full and checks its CRC (a bad one fails);
    encrypted entries and unknown methods get data None. Raises
    zipfile.BadZipFile when zipfile cannot read the central directory."""
    assert archive.is_file(), f"there is no archive at {archive}"
    size = archive.stat().st_size
    entries = []
    with zipfile.ZipFile(archive) as zf, open(archive, "rb") as f:
        for info in zf.infolist():
            local = _local_parts(f, info, size)
            extra, raw, record = local if local else (b"", None, None)
            data = None
            if decode and not info.flag_bits & FLAG_ENCRYPTED:
                try:
                    with zf.open(info) as stream:
                        data = stream.read()
                except NotImplementedError:
                    data = None
                if data is not None:
                    assert len(data) == info.file_size, f"{info.filename}: wrong length"
            entries.append(Entry(
                info.filename, info.flag_bits, info.compress_type, info.date_time, info.CRC,
                info.compress_size, info.file_size, info.header_offset, info.extra,
                info.comment, info.external_attr, extra, raw, record, data, info))
    return entries


def try_read_entries(archive: Path) -> list[Entry] | None:
    """The entries of a possibly damaged archive, decoded strictly but not
    through zipfile; None when zipfile cannot read its directory at all."""
    try:
        return read_entries(archive, decode=False)
    except Exception:  # noqa: BLE001 - whatever zipfile raises, it cannot read the directory
        return None


def entry_names(archive: Path) -> list[str]:
    try:
        with zipfile.ZipFile(archive) as zf:
            return zf.namelist()
    except zipfile.BadZipFile as error:
        return [f"<unreadable: {error}>"]


def archive_comment(archive: Path) -> bytes:
    with zipfile.ZipFile(archive) as zf:
        return zf.comment


def has_zip64_records(archive: Path) -> bool:
    """Whether the archive holds any Zip64 record: the Zip64 end record, or a
    Zip64 extra field (id 1) in a local or central header."""
    with open(archive, "rb") as f:
        f.seek(max(0, archive.stat().st_size - 200))
        if b"PK\x06\x06" in f.read():
            return True
    for entry in read_entries(archive, decode=False):
        for extra in (entry.extra, entry.local_extra):
            at = 0
            while at + 4 <= len(extra):
                ident, length = struct.unpack_from("<HH", extra, at)
                if ident == 1:
                    return True
                at += 4 + length
    return False


# ---------------------------------------------------------------------------
# The other readers, each on its own


def _reader_exclusions(skip: list[str]) -> tuple[list[str], list[str]]:
    # Each reader decodes names its own way: "?" stands for every character
    # that might be read differently, so the pattern matches either way.
    patterns = [re.sub(r"[^A-Za-z0-9/._-]", "?", n) for n in skip]
    return (["-x", *patterns] if patterns else []), [f"-x!{p}" for p in patterns]


def check_with_unzip(archive: Path, skip: list[str] | tuple[str, ...] = ()) -> None:
    """unzip -t accepts the archive (leaving out the entries named in SKIP).
    unzip shortens names of 4,096 bytes and more for its own use and warns
    (exit code 1), but still tests their data: that warning alone passes."""
    exclude, _ = _reader_exclusions(list(skip))
    done = subprocess.run(["unzip", "-t", "-q", str(archive), *exclude],
                          capture_output=True, timeout=900)
    complaints = [line for line in done.stdout.decode(errors="replace").splitlines()
                  if "warning" in line or "error" in line]
    only_long_names = done.returncode == 1 and all(
        UNZIP_LONG_NAME in line or line.startswith("At least one warning-error")
        for line in complaints)
    assert done.returncode == 0 or only_long_names, \
        f"unzip -t rejects {archive.name}: {done.stdout[-2000:]!r} {done.stderr[-500:]!r}"


def check_with_7z(archive: Path, skip: list[str] | tuple[str, ...] = ()) -> None:
    _, exclude = _reader_exclusions(list(skip))
    done = subprocess.run(["7z", "t", "-bd", str(archive), *exclude],
                          capture_output=True, timeout=900)
    assert done.returncode == 0, f"7z t rejects {archive.name}: {done.stdout[-2000:]!r}"


def check_readers(archive: Path, skip: list[str] | tuple[str, ...] = ()) -> None:
    """unzip -t and 7z t accept the archive (leaving out the entries named in
    SKIP, which were damaged before the run and are checked byte for byte)."""
    check_with_unzip(archive, skip)
    check_with_7z(archive, skip)


def verified_entries(archive: Path) -> list[Entry]:
    """The entries, after zipfile (CRCs), unzip -t and 7z t all accept the archive."""
    entries = read_entries(archive)
    for entry in entries:
        assert entry.data is not None, f"zipfile cannot decode {entry.name!r}"
    check_readers(archive)
    return entries


def verify_archive(archive: Path, read_data: bool = True) -> dict[str, Entry]:
    """Checks an archive with all three readers; returns its entries by name,
    each name only once. Every entry is read in full by zipfile, which checks
    its CRC (unless READ_DATA is false); unzip -t and 7z t test the whole
    archive on their own."""
    assert archive.is_file(), f"the archive {archive} was not written"
    with zipfile.ZipFile(archive) as zf:
        assert zf.testzip() is None, f"zipfile finds a bad CRC in {archive.name}"
    by_name: dict[str, Entry] = {}
    for entry in read_entries(archive, decode=read_data):
        assert entry.name not in by_name, f"{entry.name} is stored twice"
        by_name[entry.name] = entry
    check_readers(archive)
    return by_name


@dataclass
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
