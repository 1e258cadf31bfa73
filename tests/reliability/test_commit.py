"""Exit 0 means a tested archive in place.

Every new archive is read back before it replaces the old one: damage in
an old entry, or a fault anywhere between the program and the disk, makes
the run exit 1 with the old archive byte for byte as it was. The
replacement waits out another program's brief hold on the archive, and
every spelling of one archive's path meets at one lock.

What Wine does here: a rename onto a file that another process holds open
fails with "access denied" even when that process shares deletion, as on
Windows; names that are not 8.3 get synthetic short names by which they open;
file names compare without regard to case for non-ASCII letters too; and
OutputDebugStringA lines (not OutputDebugStringW ones, in Wine 8) appear on
standard error under WINEDEBUG=+debugstr.
"""

import shutil
import time
import zipfile

import pytest

from hostile import Added, assert_carried_over, leftovers
from peers import infozip, mixed_content, write_tree
from kelzar_harness import exit_code, run_all, spawn
from zipread import try_read_entries

PEER_FILES = {"old/stored.bin": mixed_content(3, 40_000), "old/deflated.txt": mixed_content(4, 60_000)}
DEBUG = {"WINEDEBUG": "+debugstr"}


def peer_archive(tmp_path, archive):
    """Info-ZIP's archive of one stored and one deflated entry; returns, for
    each, where its data lies in the archive."""
    write_tree(tmp_path / "peer", PEER_FILES)
    infozip(archive, tmp_path / "peer", "-0", "old/stored.bin")
    infozip(archive, tmp_path / "peer", "-6", "old/deflated.txt")
    spans = {}
    with zipfile.ZipFile(archive) as zf:
        for info in zf.infolist():
            blob = archive.read_bytes()
            at = info.header_offset
            data = at + 30 + int.from_bytes(blob[at + 26:at + 28], "little") + \
                int.from_bytes(blob[at + 28:at + 30], "little")
            spans[info.filename] = (data, info.compress_size)
    return spans


def test_a_damaged_old_entry_leaves_the_archive_byte_identical(kelzar, drive, tmp_path, figures):
    pristine = tmp_path / "pristine.zip"
    spans = peer_archive(tmp_path, pristine)
    drive.write(r"d:\new\add.txt", "the file every run adds")
    commands, copies = [], []
    for name, (start, size) in spans.items():
        # The last byte of a deflate stream may end in padding bits that
        # no reader looks at: it is left out.
        for k in range(12):
            position = start + k * (size - 2) // 11
            copy = drive.path(f"d:\\arch{len(copies)}\\old.zip")
            copy.parent.mkdir()
            blob = bytearray(pristine.read_bytes())
            blob[position] ^= 0x20
            copy.write_bytes(bytes(blob))
            copies.append((name, position, copy, bytes(blob)))
            commands.append(f"d:\\arch{len(copies) - 1}\\old.zip d:\\new\\*.txt 1")
    codes = run_all(kelzar, commands)
    for (name, position, copy, blob), code in zip(copies, codes):
        what = f"{name}: byte {position} flipped"
        assert code == 1, f"{what}: exit {code}"
        assert copy.read_bytes() == blob, f"{what}: the archive changed"
    assert leftovers(drive.root) == []
    figures(f"{len(copies)} damaged copies (stored and deflated), all kept, exit 1")


def test_the_cause_of_a_failed_run_is_told_to_a_debugger(kelzar, drive, tmp_path):
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    start, size = peer_archive(tmp_path, archive)["old/deflated.txt"]
    blob = bytearray(archive.read_bytes())
    blob[start + size // 2] ^= 0x20
    archive.write_bytes(bytes(blob))
    drive.write(r"d:\new\add.txt", "x")
    command = r"d:\arch\old.zip d:\new\*.txt 1"
    assert kelzar.run(command, unix_env=DEBUG) == 1
    said = kelzar.runs[-1].stderr
    assert "kelzar: cannot verify: data of old/deflated.txt" in said, said[-2000:]
    # Nobody sees it without asking.
    assert kelzar.run(command) == 1
    assert "kelzar:" not in kelzar.runs[-1].stderr


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "update"])
def test_a_fault_between_program_and_disk_is_caught(kelzar, drive, tmp_path, mode):
    # A build whose file layer flips one bit of what it writes: the read-back
    # must find it, every time, and keep the old archive.
    faulty = kelzar.wine.bin_dir / "kelzar-flip-byte.exe"
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    peer_archive(tmp_path, archive)
    before = archive.read_bytes()
    drive.write(r"d:\new\add.txt", mixed_content(9, 5_000))
    assert faulty.exists()
    line = f"kelzar-flip-byte.exe d:\\arch\\old.zip d:\\new\\*.txt {mode}"
    assert kelzar.run_line(line, unix_env=DEBUG) == 1, "a damaged archive replaced the old one"
    assert archive.read_bytes() == before
    assert leftovers(drive.root) == []
    said = kelzar.runs[-1].stderr
    assert "kelzar: cannot verify" in said, said[-2000:]


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "update"])
def test_a_refused_thread_ends_the_run(kelzar, drive, tmp_path, figures, mode):
    # A build that the system refuses its second thread, with the first
    # already started and waiting for the others: the run must stop that one
    # and end, not wait for ever, and change nothing. Wine refuses nothing
    # here; the build stands in for a system short of memory.
    faulty = kelzar.wine.bin_dir / "kelzar-refused-thread.exe"
    assert faulty.exists()
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    peer_archive(tmp_path, archive)
    before = archive.read_bytes()
    drive.write(r"d:\new\add.txt", mixed_content(9, 5_000))
    started = time.monotonic()
    line = f"kelzar-refused-thread.exe d:\\arch\\old.zip d:\\new\\*.txt {mode}"
    assert kelzar.run_line(line, unix_env=DEBUG) == 1
    took = time.monotonic() - started
    figures(f"refused a thread ({mode}): exit 1 after {took:.1f} s")
    assert took < 30, f"the run took {took:.1f} s to give up"
    assert archive.read_bytes() == before
    assert leftovers(drive.root) == []
    said = kelzar.runs[-1].stderr
    assert "kelzar: cannot start a thread for the run" in said, said[-2000:]


@pytest.mark.parametrize("hold_s, code", [(2.0, 0), (9.0, 1)], ids=["brief", "outlasting"])
def test_another_program_holding_the_archive(kelzar, drive, tmp_path, figures, hold_s, code):
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    peer_archive(tmp_path, archive)
    before_entries = try_read_entries(archive)
    before = archive.read_bytes()
    drive.write(r"d:\new\add.txt", b"added while another program looked\r\n" * 100)
    started = time.monotonic()
    with kelzar.hold(r"d:\arch\old.zip", "share-all", timeout=60):
        process = spawn(kelzar, r"d:\arch\old.zip d:\new\*.txt 1")
        while time.monotonic() - started < hold_s and process.poll() is None:
            time.sleep(0.02)
        # A small archive: the run has long reached its replacement and waits.
        waiting = process.poll() is None
    got = exit_code(process, f"held {hold_s} s")
    took = time.monotonic() - started
    figures(f"held {hold_s} s: exit {got} after {took:.1f} s")
    assert got == code
    assert leftovers(drive.root) == []
    if code == 0:
        assert waiting, "the run did not wait for the holder"
        assert_carried_over(before_entries, archive,
                            [Added("new\\add.txt", b"added while another program looked\r\n" * 100)])
    else:
        assert archive.read_bytes() == before
        assert 5 <= took <= hold_s + 2, f"gave up after {took:.1f} s"


ROUNDS = 20
NAME = "\u00c4rchiv des Monats.zip"


def test_every_spelling_of_one_archive_meets_at_one_lock(kelzar, wine, drive, tmp_path, figures):
    archive = drive.path(f"d:\\arch\\{NAME}")
    archive.parent.mkdir()
    # Large enough that a run still holds the lock when the other starts.
    files = {f"old/{i:04d}.txt": mixed_content(i, 1_000) for i in range(3_000)}
    files["old/random.bin"] = mixed_content(1, 8_000_000)
    write_tree(tmp_path / "peer", files)
    infozip(tmp_path / "peer.zip", tmp_path / "peer", "-r", "old")
    shutil.copy(tmp_path / "peer.zip", archive)
    wine.map_drive("e", drive.root)  # a second drive letter for the same folder
    short = kelzar.short_path(f"d:\\arch\\{NAME}")
    assert short.lower() != f"d:\\arch\\{NAME}".lower(), "no 8.3 alias to test with"
    spellings = {
        "8.3 alias": short,
        "other case of a non-ASCII letter": f"d:\\arch\\{NAME.lower()}",
        "trailing dot": f"d:\\arch\\{NAME}.",
        "second drive letter": f"e:\\arch\\{NAME}",
    }
    both = 0
    for index, (label, spelling) in enumerate(spellings.items()):
        for round_ in range(ROUNDS):
            before = try_read_entries(archive)
            added = {}
            for run_ in "ab":
                data = f"{label}, round {round_}, run {run_}\r\n".encode() * 50
                folder = f"{run_}{index}-{round_}"
                drive.write(f"d:\\new\\{folder}\\{run_}.txt", data)
                added[run_] = (folder, Added(f"new\\{folder}\\{run_}.txt", data))
            first = spawn(kelzar, f"d:\\arch\\{NAME} d:\\new\\{added['a'][0]}\\*.txt 1")
            time.sleep(0.05 * (round_ % 3))
            second = spawn(kelzar, f"{spelling} d:\\new\\{added['b'][0]}\\*.txt 1")
            codes = {"a": exit_code(first, f"{label} {round_} a"),
                     "b": exit_code(second, f"{label} {round_} b")}
            done = [added[r][1] for r, c in codes.items() if c == 0]
            what = f"{label}, round {round_}: exit codes {codes}"
            assert done, f"{what}: neither run added its file"
            try:
                assert_carried_over(before, archive, done, any_order=True)
            except AssertionError as error:
                raise AssertionError(f"{what}: {error}") from None
            assert leftovers(drive.root) == [], what
            both += len(done) == 2
    figures(f"{len(spellings)} spellings x {ROUNDS} rounds: no update lost, "
            f"both runs' files added in {both} rounds")
