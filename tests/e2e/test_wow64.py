"""The x86 build on 64-bit Windows reaches the folders the user names, not
the 32-bit ones the system would put in their place (%windir%\\System32 is
SysWOW64 for a 32-bit program unless it says otherwise).

What Wine does here: in a 64-bit prefix it runs the x86 build through its
32-bit half and redirects system32 for it as Windows does; its system32
holds 64-bit PE images of its DLLs and syswow64 32-bit ones. Only machines
that run 32-bit programs can run this, and only the x86 build needs it."""

import struct

import pytest

from kelzar_harness import ARCH, PROGRAM_FILES, REPO, Drive, Kelzar, WineSession, runs_i386
from zipread import verify_archive

pytestmark = pytest.mark.skipif(ARCH != "x86" or not runs_i386(),
                                reason="the x86 build on a 64-bit prefix needs 32-bit programs")

MACHINE_X64 = 0x8664
MACHINE_I386 = 0x14C


def pe_machine(image: bytes) -> int:
    at = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[at:at + 4] == b"PE\0\0", "not a PE image"
    return struct.unpack_from("<H", image, at + 4)[0]


@pytest.fixture(scope="module")
def wow64(tmp_path_factory):
    """The x86 build in a 64-bit prefix, under the 64-bit loader."""
    session = WineSession(tmp_path_factory.mktemp("wow64"), arch="x64",
                          build_dir=REPO / "build" / "windows-x86",
                          files=PROGRAM_FILES + ("kzlaunch.exe",), boot_timeout=600)
    try:
        session.start()
        yield session
    finally:
        session.stop()


@pytest.mark.parametrize("folder, machine", [
    (r"c:\windows\system32", MACHINE_X64),
    (r"c:\windows\syswow64", MACHINE_I386),
])
@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "tree"])
def test_system32_is_the_folder_named(wow64, tmp_path, folder, machine, mode):
    root = tmp_path / "d"
    root.mkdir()
    wow64.map_drive("d", root)
    markers = tmp_path / "markers"
    markers.mkdir()
    kelzar = Kelzar(wow64, Drive(root), markers)
    assert kelzar.run(rf"d:\a.zip,{folder}\kernel32.dll,{mode}") == 0
    entries = verify_archive(root / "a.zip")
    name = "kernel32.dll" if mode == "0" else folder[3:] + r"\kernel32.dll"
    stored = {n.lower(): e for n, e in entries.items()}
    assert set(stored) >= {name.lower()}
    assert pe_machine(stored[name.lower()].data) == machine
