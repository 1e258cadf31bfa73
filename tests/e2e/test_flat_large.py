from zipread import check_with_7z, check_with_unzip
"""A file of 4 GiB and more is stored with Zip64 sizes.

The file is sparse (all zero bytes), so it costs no disk space, but the run
still reads and deflates every byte and each reader inflates it again: about
three minutes on two cores. It runs only when KELZAR_E2E_LARGE=1.
"""

import os
import struct
import time
import zipfile

import pytest


FOUR_GIB_AND_ONE = 4 * 1024**3 + 1

pytestmark = pytest.mark.skipif(
    os.environ.get("KELZAR_E2E_LARGE") != "1",
    reason="takes minutes; set KELZAR_E2E_LARGE=1 to run it",
)


def extra_field_ids(extra: bytes) -> list[int]:
    ids = []
    while len(extra) >= 4:
        header_id, size = struct.unpack_from("<HH", extra)
        ids.append(header_id)
        extra = extra[4 + size:]
    return ids


def test_file_of_4_gib_and_one_byte_is_stored_with_zip64(kelzar, drive):
    big = drive.write(r"d:\src\big.bin", b"")
    os.truncate(big, FOUR_GIB_AND_ONE)
    drive.write(r"d:\src\small.txt", b"a small file after the big one\r\n")

    started = time.monotonic()
    assert kelzar.run(r"d:\a.zip d:\src\*", timeout=900) == 0
    print(f"kelzar.exe: {time.monotonic() - started:.1f} s")

    archive = drive.path(r"d:\a.zip")
    with zipfile.ZipFile(archive) as zf:
        infos = {info.filename: info for info in zf.infolist()}
        assert set(infos) == {"big.bin", "small.txt"}
        info = infos["big.bin"]
        assert info.file_size == FOUR_GIB_AND_ONE, "the size needs 64 bits"
        assert info.compress_type == zipfile.ZIP_DEFLATED
        assert 0x0001 in extra_field_ids(info.extra), "a Zip64 extra field holds the sizes"
        assert 0x0001 not in extra_field_ids(infos["small.txt"].extra), "only where needed"
        length = 0
        with zf.open(info) as stream:  # zipfile checks the CRC at the end
            while chunk := stream.read(1 << 22):
                assert not chunk.strip(b"\0"), "the file holds only zero bytes"
                length += len(chunk)
        assert length == FOUR_GIB_AND_ONE
        assert zf.read("small.txt") == b"a small file after the big one\r\n"
    print(f"zipfile: {time.monotonic() - started:.1f} s")
    check_with_unzip(archive)
    print(f"unzip -t: {time.monotonic() - started:.1f} s")
    check_with_7z(archive)
    print(f"7z t: {time.monotonic() - started:.1f} s")
