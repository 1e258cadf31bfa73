"""The archive itself: read-only, held open by another Windows process, on
another volume than the working directory or than the files.

In both modes the file at ZipfilePath ends either as it was, byte for byte,
with exit code 1, or as the complete new archive with exit code 0, and no
temporary or lock file is left on any drive.

Another process that holds the archive open shares no deletion, so the new
archive cannot be moved over it (Wine refuses the move as Windows does, and
with share mode 0 the old archive cannot even be read): the run must fail
with the archive as it was, and the invariant says nothing more.
"""


import pytest

from hostile import Added, assert_carried_over, leftovers
from peers import infozip, mixed_content, write_tree
from kelzar_harness import run
from zipread import try_read_entries

NEW = {"one.txt": mixed_content(2, 9_000), "two.bin": mixed_content(3, 4_000)}


def check(code, archive, before, old, mode, drives):
    for root in drives:
        assert leftovers(root) == [], f"bookkeeping left behind: {leftovers(root)}"
    if code == 1:
        assert archive.read_bytes() == before, "the run failed but changed the archive"
        return "kept"
    prefix = "new\\" if mode == "1" else ""
    added = [Added(prefix + name, data) for name, data in NEW.items()]
    assert_carried_over(old if mode == "1" else [], archive, added, any_order=True)
    return "updated"


# (id, drive of the archive, working folder, what is done to the archive)
TARGETS = [
    ("read-only", "d", "d:\\", "read-only"),
    ("held-with-share-mode-0", "d", "d:\\", "exclusive"),
    ("held-for-writing-sharing-read", "d", "d:\\", "write-sharing-r"),
    ("held-for-writing-sharing-read-and-write", "d", "d:\\", "write-sharing-rw"),
    ("held-with-a-locked-range", "d", "d:\\", "range"),
    ("on-another-volume-than-the-working-folder", "e", "d:\\", None),
    ("working-folder-on-another-volume", "d", "e:\\", None),
    ("working-folder-on-drive-c", "d", "c:\\", None),
]


@pytest.mark.parametrize("mode", ["0", "1"], ids=["flat", "update"])
@pytest.mark.parametrize("target_id, letter, cwd, hold", TARGETS, ids=[t[0] for t in TARGETS])
def test_archive_target(kelzar, drive, mount_tmpfs, tmp_path, figures, target_id, letter, cwd,
                        hold, mode):
    other = mount_tmpfs("e", "16m")
    for name, data in NEW.items():
        drive.write(f"d:\\new\\{name}", data)
    root = drive.root if letter == "d" else other
    archive = root / "arch" / "old.zip"
    archive.parent.mkdir()
    write_tree(tmp_path / "peer", {"old/a.txt": mixed_content(0, 20_000), "old/empty": b""})
    infozip(archive, tmp_path / "peer", "-r", "old")
    before = archive.read_bytes()
    old = try_read_entries(archive)
    win_archive = f"{letter}:\\arch\\old.zip"
    command = f"{win_archive} d:\\new\\*.* {mode}"

    if hold == "read-only":
        kelzar.set_attributes("R", win_archive)
        code = run(kelzar, command, cwd=cwd)
        assert "R" in kelzar.wine.attributes(win_archive), "the archive is no longer read-only"
    elif hold:
        with kelzar.hold(win_archive, hold):
            code = run(kelzar, command, cwd=cwd)
    else:
        code = run(kelzar, command, cwd=cwd)

    outcome = check(code, archive, before, old, mode, [drive.root, other])
    figures(f"exit {code}, archive {outcome}")
    if hold == "read-only":
        assert outcome == "kept", "a read-only archive was replaced"
    if hold is None:
        assert outcome == "updated", "the run failed where nothing stood in its way"
