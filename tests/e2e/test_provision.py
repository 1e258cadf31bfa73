"""The library self-install: every start writes the zlib.dll the program was
built with as ZLib.dll beside the program when no file of that name is
there, complete or not at all, and never touches one that is.

The program is copied alone into d:\\prog; until ZLib.dll is there, the
system finds the build's zlib.dll through PATH (the harness's bin folder).
"""

import contextlib
import os
import shutil
import subprocess
from pathlib import Path

import pytest

from kelzar_harness import BIN_FOLDER_WIN, BUILD, hex_arg, unix_to_win
from zipread import verify_archive

PROGRAM_FOLDER = r"d:\prog"
SYSTEM_PATH = r"C:\windows\system32;C:\windows"
WITH_BUILD_LIBRARY = {"PATH": f"{BIN_FOLDER_WIN};{SYSTEM_PATH}"}
WITHOUT_BUILD_LIBRARY = {"PATH": SYSTEM_PATH}
SOURCES = {"a.txt": b"alpha\r\n" * 50, "b.txt": b"bravo"}

BUILD_LIBRARY = (BUILD / "zlib.dll").read_bytes()
# A library of another size and content that still loads: its first bytes
# differ (the DOS stub's message, which the loader skips) and it is longer
# (the loader ignores bytes after the last section).
DOS_STUB_MESSAGE = b"This program cannot be run in DOS mode"
assert DOS_STUB_MESSAGE in BUILD_LIBRARY[:0x100]
OTHER_LIBRARY = (BUILD_LIBRARY.replace(DOS_STUB_MESSAGE, b"Not the library this build made!".ljust(38), 1)
                 + b"\0trailing bytes\0" * 100)


def program_dir(drive) -> Path:
    return drive.path(PROGRAM_FOLDER)


def install_program(drive) -> Path:
    folder = program_dir(drive)
    folder.mkdir(exist_ok=True)
    shutil.copy2(BUILD / "kelzar.exe", folder / "kelzar.exe")
    return folder


def write_sources(drive) -> None:
    for name, data in SOURCES.items():
        drive.write(rf"d:\src\{name}", data)


def run_program(kelzar, args: str, env=WITH_BUILD_LIBRARY) -> int:
    line = f'"{PROGRAM_FOLDER}\\kelzar.exe"' + (f" {args}" if args else "")
    return kelzar.run_line(line, env=env)


def zip_sources(kelzar, drive, env=WITH_BUILD_LIBRARY, archive=r"d:\out.zip") -> None:
    """A run that archives, and checks that the provisioning left it whole."""
    assert run_program(kelzar, rf"{archive} d:\src\*.txt", env=env) == 0, "the archive run failed"
    entries = verify_archive(drive.path(archive))
    assert {name: entry.data for name, entry in entries.items()} == SOURCES


def listing(folder: Path) -> dict[str, str]:
    """Names in the folder, each with "dir" or its size."""
    return {p.name: "dir" if p.is_dir() else str(p.stat().st_size) for p in folder.iterdir()}


def attributes(wine, path: Path) -> str:
    """The Windows attribute letters of a file, as Wine's own attrib shows them."""
    return "".join(sorted(wine.attributes(unix_to_win(path))))


@contextlib.contextmanager
def mounted(folder: Path, *options: str):
    """Mounts something on folder for the with-block (needs root)."""
    if os.geteuid() != 0:
        pytest.skip("mounting a test folder needs root")
    done = subprocess.run(["mount", *options, str(folder)], capture_output=True, timeout=30)
    if done.returncode != 0:
        pytest.skip(f"cannot mount here: {done.stderr.decode(errors='replace').strip()}")
    try:
        yield folder
    finally:
        subprocess.run(["umount", str(folder)], capture_output=True, timeout=30)


@pytest.mark.parametrize("args, exit_code", [
    pytest.param(r"d:\out.zip d:\src\*.txt", 0, id="archive-run"),
    pytest.param("", 1, id="no-arguments"),
])
def test_writes_the_build_library_when_missing(wine, drive, kelzar, args, exit_code):
    folder = install_program(drive)
    write_sources(drive)
    assert run_program(kelzar, args) == exit_code
    assert listing(folder) == {"kelzar.exe": str(os.path.getsize(BUILD / "kelzar.exe")),
                               "ZLib.dll": str(len(BUILD_LIBRARY))}, "exactly ZLib.dll, no temporary"
    assert (folder / "ZLib.dll").read_bytes() == BUILD_LIBRARY, "not the build's zlib.dll"
    assert attributes(wine, folder / "ZLib.dll") in ("", "A"), "the library must not be hidden"
    if exit_code == 0:
        entries = verify_archive(drive.path(r"d:\out.zip"))
        assert {name: entry.data for name, entry in entries.items()} == SOURCES


def test_written_library_serves_later_starts(drive, kelzar):
    folder = install_program(drive)
    write_sources(drive)
    zip_sources(kelzar, drive)
    written = (folder / "ZLib.dll").stat()
    # No other zlib.dll on the search path now: the program runs on its own copy.
    zip_sources(kelzar, drive, env=WITHOUT_BUILD_LIBRARY, archive=r"d:\again.zip")
    after = (folder / "ZLib.dll").stat()
    assert (after.st_mtime_ns, after.st_size) == (written.st_mtime_ns, written.st_size)
    assert (folder / "ZLib.dll").read_bytes() == BUILD_LIBRARY


@pytest.mark.parametrize("name, attribute_letters", [
    pytest.param("ZLib.dll", "", id="other-size-and-content"),
    pytest.param("zlib.DLL", "", id="other-letter-case"),
    pytest.param("ZLIB.DLL", "", id="upper-case"),
    pytest.param("ZLib.dll", "R", id="read-only"),
    pytest.param("ZLib.dll", "H", id="hidden"),
    pytest.param("ZLib.dll", "S", id="system"),
    pytest.param("zlib.dll", "RHS", id="read-only-hidden-system"),
])
def test_present_library_is_left_alone(drive, kelzar, name, attribute_letters):
    folder = install_program(drive)
    write_sources(drive)
    (folder / name).write_bytes(OTHER_LIBRARY)
    if attribute_letters:
        kelzar.set_attributes(attribute_letters, rf"{PROGRAM_FOLDER}\{name}")
    before = (folder / name).stat()
    zip_sources(kelzar, drive)
    assert sorted(os.listdir(folder)) == sorted(["kelzar.exe", name]), "nothing may be added"
    assert (folder / name).read_bytes() == OTHER_LIBRARY, "a present library was written to"
    assert (folder / name).stat().st_mtime_ns == before.st_mtime_ns


def test_read_only_program_folder_leaves_nothing_behind(drive, kelzar, tmp_path):
    staging = tmp_path / "staging"
    staging.mkdir()
    shutil.copy2(BUILD / "kelzar.exe", staging / "kelzar.exe")
    folder = program_dir(drive)
    folder.mkdir()
    write_sources(drive)
    with mounted(folder, "--bind", str(staging)):
        with mounted(folder, "-o", "remount,bind,ro"):
            zip_sources(kelzar, drive)
            assert sorted(os.listdir(folder)) == ["kelzar.exe"]


@pytest.mark.parametrize("room_pages, written", [
    pytest.param(len(BUILD_LIBRARY) // 4096 + 8, True, id="room-for-the-library"),
    pytest.param(len(BUILD_LIBRARY) // 4096 // 2, False, id="disk-full-midway"),
])
def test_full_disk_leaves_no_partial_library(drive, kelzar, room_pages, written):
    folder = program_dir(drive)
    folder.mkdir()
    program_pages = -(-os.path.getsize(BUILD / "kelzar.exe") // 4096)
    size = (program_pages + room_pages) * 4096
    write_sources(drive)
    with mounted(folder, "-t", "tmpfs", "-o", f"size={size}", "tmpfs"):
        shutil.copy2(BUILD / "kelzar.exe", folder / "kelzar.exe")
        zip_sources(kelzar, drive)
        if written:
            assert sorted(os.listdir(folder)) == ["ZLib.dll", "kelzar.exe"]
            assert (folder / "ZLib.dll").read_bytes() == BUILD_LIBRARY
        else:
            assert sorted(os.listdir(folder)) == ["kelzar.exe"], "a partial library or temporary"


def test_temporary_left_by_a_killed_run_is_removed(drive, kelzar):
    folder = install_program(drive)
    write_sources(drive)
    stale = folder / "ZLib.dll.~kz0000000000.tmp"
    stale.write_bytes(BUILD_LIBRARY[:1000])
    kelzar.set_attributes("H", rf"{PROGRAM_FOLDER}\{stale.name}")
    zip_sources(kelzar, drive)
    assert sorted(os.listdir(folder)) == ["ZLib.dll", "kelzar.exe"]
    assert (folder / "ZLib.dll").read_bytes() == BUILD_LIBRARY


def test_simultaneous_starts_install_one_complete_library(wine, drive, kelzar):
    folder = install_program(drive)
    write_sources(drive)
    runs = []
    for n in range(4):
        line = f'"{PROGRAM_FOLDER}\\kelzar.exe" d:\\out{n}.zip d:\\src\\*.txt'
        args = [hex_arg(line), hex_arg("d:\\"), "60000",
                *(hex_arg(f"{k}={v}") for k, v in WITH_BUILD_LIBRARY.items())]
        runs.append(wine.spawn("kzlaunch.exe", args, f"simultaneous-{n}"))
    codes = []
    for process in runs:
        try:
            codes.append(process.wait(timeout=120))
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            codes.append("timed out")
    assert codes == [0, 0, 0, 0]
    assert sorted(os.listdir(folder)) == ["ZLib.dll", "kelzar.exe"], "no temporary may stay"
    assert (folder / "ZLib.dll").read_bytes() == BUILD_LIBRARY
    for n in range(4):
        entries = verify_archive(drive.path(rf"d:\out{n}.zip"))
        assert {name: entry.data for name, entry in entries.items()} == SOURCES
