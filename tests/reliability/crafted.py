"""Archives written byte by byte with struct, so that they can say what no
honest writer would: sizes that do not match the data, entries that share
their bytes, a name or a comment longer than its 16-bit length field.
"""

from __future__ import annotations

import dataclasses
import io
import struct
import zlib

STORED = 0
DEFLATED = 8
DOS_TIME = 0x5A21  # 11:17:02
DOS_DATE = 0x4CB3  # 2018-05-19


def deflate(data: bytes) -> bytes:
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def crc32(data: bytes) -> int:
    return zlib.crc32(data) & 0xFFFFFFFF


# --- CRC and deflate stream of a long run of zero bytes, without making it


def _gf2_times(matrix: list[int], vector: int) -> int:
    total, i = 0, 0
    while vector:
        if vector & 1:
            total ^= matrix[i]
        vector >>= 1
        i += 1
    return total


def _gf2_square(matrix: list[int]) -> list[int]:
    return [_gf2_times(matrix, row) for row in matrix]


def crc32_of_zeros(length: int) -> int:
    """The CRC-32 of LENGTH zero bytes: the CRC register run through LENGTH
    zero bytes by squaring the one-bit step, as zlib's crc32_combine does."""
    step = [0xEDB88320] + [1 << n for n in range(31)]  # one zero bit
    for _ in range(3):
        step = _gf2_square(step)  # one zero byte
    register = 0xFFFFFFFF
    while length:
        if length & 1:
            register = _gf2_times(step, register)
        step = _gf2_square(step)
        length >>= 1
    return register ^ 0xFFFFFFFF


def deflated_zeros(length: int, piece: int = 1 << 20) -> bytes:
    """A deflate stream of LENGTH zero bytes (a multiple of PIECE). After a
    full flush the compressor starts afresh, so every piece deflates to the
    same bytes: the stream is one piece repeated, then the final block."""
    assert length % piece == 0
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    zeros = bytes(piece)
    one = compressor.compress(zeros) + compressor.flush(zlib.Z_FULL_FLUSH)
    again = compressor.compress(zeros) + compressor.flush(zlib.Z_FULL_FLUSH)
    assert one == again
    return one * (length // piece) + compressor.flush()


# --- the archive


@dataclasses.dataclass
class Entry:
    """One entry. By default every field is what the data says; set a field
    to make the headers say something else."""

    name: bytes
    content: bytes = b""
    method: int = DEFLATED
    data: bytes | None = None  # the stored bytes; default: content, deflated if method 8
    crc: int | None = None
    compress_size: int | None = None
    file_size: int | None = None
    local_name: bytes | None = None  # the name in the local header, if different
    name_length: int | None = None  # the 16-bit length fields, if not len(name)
    local_name_length: int | None = None
    zip64: bool = False  # sizes in a Zip64 extra field
    shares_with: int | None = None  # no local record: point at this earlier entry's
    flag: int = 0

    def stored(self) -> bytes:
        if self.data is not None:
            return self.data
        return deflate(self.content) if self.method == DEFLATED else self.content


def _zip64_extra(*values: int) -> bytes:
    body = b"".join(struct.pack("<Q", v) for v in values)
    return struct.pack("<HH", 1, len(body)) + body


def build(entries: list[Entry], comment: bytes = b"", comment_length: int | None = None,
          prefix: bytes = b"", count: int | None = None) -> bytes:
    """The archive; COUNT, if given, is the entry count its end record declares."""
    out = bytearray(prefix)
    offsets = []
    for entry in entries:
        data = entry.stored()
        crc = crc32(entry.content) if entry.crc is None else entry.crc
        csize = len(data) if entry.compress_size is None else entry.compress_size
        usize = len(entry.content) if entry.file_size is None else entry.file_size
        entry._declared = (crc, csize, usize)  # type: ignore[attr-defined]
        if entry.shares_with is not None:
            offsets.append(offsets[entry.shares_with])
            continue
        offsets.append(len(out))
        name = entry.name if entry.local_name is None else entry.local_name
        length = len(name) if entry.local_name_length is None else entry.local_name_length
        extra = _zip64_extra(usize, csize) if entry.zip64 else b""
        sizes = (0xFFFFFFFF, 0xFFFFFFFF) if entry.zip64 else (csize, usize)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45 if entry.zip64 else 20, entry.flag,
                           entry.method, DOS_TIME, DOS_DATE, crc, *sizes, length & 0xFFFF,
                           len(extra))
        out += name + extra + data
    directory = len(out)
    for entry, offset in zip(entries, offsets):
        crc, csize, usize = entry._declared  # type: ignore[attr-defined]
        length = len(entry.name) if entry.name_length is None else entry.name_length
        extra = _zip64_extra(usize, csize) if entry.zip64 else b""
        sizes = (0xFFFFFFFF, 0xFFFFFFFF) if entry.zip64 else (csize, usize)
        out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45 if entry.zip64 else 20,
                           entry.flag, entry.method, DOS_TIME, DOS_DATE, crc, *sizes,
                           length & 0xFFFF, len(extra), 0, 0, 0, 0, offset)
        out += entry.name + extra
    size = len(out) - directory
    length = len(comment) if comment_length is None else comment_length
    declared = len(entries) if count is None else count
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, declared, declared, size, directory,
                       length & 0xFFFF)
    out += comment
    return bytes(out)



class SparseZeros(io.RawIOBase):
    """A file to write through that leaves a hole wherever a write is all
    zero bytes: an archive of a stored 10 GiB of zeros takes no disk space,
    however the writer lays it out."""

    def __init__(self, file):
        self.file = file

    def writable(self):
        return True

    def seekable(self):
        return True

    def write(self, data):
        data = bytes(data)
        if data.count(0) == len(data):
            self.file.seek(len(data), io.SEEK_CUR)
        else:
            self.file.write(data)
        return len(data)

    def seek(self, offset, whence=io.SEEK_SET):
        return self.file.seek(offset, whence)

    def tell(self):
        return self.file.tell()

    def flush(self):
        self.file.flush()

    def close(self):
        # A hole at the very end must still count in the file's length.
        position = self.file.tell()
        if position > self.file.seek(0, io.SEEK_END):
            self.file.truncate(position)
        super().close()
