"""Runs killed with SIGKILL at random moments, 100 times.

The old archive (Info-ZIP: 10,000 small entries, a large deflated one and
a stored one) takes about a second to update, so the kills land in
every phase: the lock, the cleanup of stale temporaries, the carry-over,
the new files, the central directory, the flush and the move. What is
killed is the Windows process of kelzar.exe itself: the Linux process in
this test's Wine prefix whose command line is the program's, not the
launcher that waits for it.

After each kill the archive is byte for byte the old one or the complete
new one; the system has removed the lock file; and the next run succeeds,
makes exactly the archive an undisturbed run makes, and removes what the
killed run left.
"""

import random
import shutil
import time
from collections import Counter

from hostile import (
    Added,
    assert_carried_over,
    digest,
    files_under,
    kill_hard,
    leftovers,
    wait_for_pid,
)
from peers import infozip, lock_name, mixed_content, write_tree
from kelzar_harness import WineError, exit_code, run, spawn
from zipread import try_read_entries

ROUNDS = 100
COMMAND = r"d:\arch\old.zip d:\new\*.* 1"


def make_old_archive(tmp_path, archive):
    files = {f"tree/{i // 100:02d}/{i:04d}.txt": f"small file {i}\n".encode() * (1 + i % 7)
             for i in range(10_000)}
    files["tree/large.txt"] = mixed_content(0, 30_000_000)
    write_tree(tmp_path / "peer", files)
    infozip(archive, tmp_path / "peer", "-r", "tree")
    # Random bytes, stored: the program deflates them anew.
    (tmp_path / "peer" / "stored.bin").write_bytes(mixed_content(3, 12_000_000))
    infozip(archive, tmp_path / "peer", "-0", "stored.bin")


def test_runs_killed_at_random_moments(kelzar, drive, tmp_path, figures):
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    make_old_archive(tmp_path, archive)
    drive.write(r"d:\new\add.txt", b"the file every run adds\r\n" * 100)
    drive.write(r"d:\new\more.bin", mixed_content(5, 1_000_000))
    pristine = tmp_path / "old.zip"
    shutil.copy(archive, pristine)
    lock = archive.with_name(lock_name("old.zip"))

    # What undisturbed runs make: from the old archive, and from that result.
    durations = []
    outcomes = {}
    for label in ("new", "newer"):
        launcher = spawn(kelzar, COMMAND)
        wait_for_pid(kelzar, launcher)
        started = time.monotonic()
        assert exit_code(launcher, COMMAND) == 0
        durations.append(time.monotonic() - started)
        outcomes[label] = digest(archive)
        if label == "new":
            # The archive every other round is compared with, checked once.
            added = [Added("new\\add.txt", drive.path(r"d:\new\add.txt").read_bytes()),
                     Added("new\\more.bin", drive.path(r"d:\new\more.bin").read_bytes())]
            assert_carried_over(try_read_entries(pristine), archive, added, any_order=True)
    expected_after = {digest(pristine): outcomes["new"], outcomes["new"]: outcomes["newer"]}
    names = {digest(pristine): "old", outcomes["new"]: "new"}
    # The killed runs start from the old archive, as the first of these did
    # (the second copies the stored entry raw, already deflated, and is quicker).
    duration = durations[0]

    rng = random.Random(1234)
    seen = Counter()
    failures = []
    for round_ in range(ROUNDS):
        shutil.copy(pristine, archive)
        # A little past the undisturbed run's length, so that the last
        # phases (the central directory, the flush, the move) are reached.
        delay = rng.uniform(0, duration * 1.15)
        launcher = spawn(kelzar, COMMAND)
        pid = wait_for_pid(kelzar, launcher)
        time.sleep(delay)
        had_temporary = any(p.name.endswith(".tmp") for p in archive.parent.iterdir())
        if pid is not None:
            kill_hard(pid)
        try:
            launcher.wait(timeout=60)
        except Exception:
            launcher.kill()
            raise WineError(f"round {round_}: the launcher did not return after the kill")
        what = f"round {round_}, killed after {delay:.3f} s"
        # The system closes a killed process's handles: its lock file,
        # opened to be deleted on close, goes with them.
        deadline = time.monotonic() + 10
        while lock.exists() and time.monotonic() < deadline:
            time.sleep(0.01)
        if lock.exists():
            failures.append(f"{what}: the lock file outlived the killed run")
            lock.unlink()
        state = digest(archive)
        if state not in names:
            failures.append(f"{what}: the archive is neither the old nor the new one")
            break
        seen[names[state], had_temporary] += 1
        code = run(kelzar, COMMAND)
        if code != 0:
            failures.append(f"{what}: the next run failed")
        elif digest(archive) != expected_after[state]:
            failures.append(f"{what}: the next run made a different archive")
        strays = files_under(drive.root) - {"arch/old.zip", "new/add.txt", "new/more.bin"}
        if strays - set(leftovers(drive.root)):
            failures.append(f"{what}: files left on the drive: {sorted(strays)}")
        if leftovers(drive.root):
            failures.append(f"{what}: left after the next run: {leftovers(drive.root)}")
            for name in leftovers(drive.root):
                (drive.root / name).unlink()
    figures(f"an undisturbed run takes {duration:.2f} s once started; kills by what the "
            "archive was afterwards (and whether the temporary archive existed at the "
            f"kill): {dict(seen)}, {len(failures)} failed")
    assert not failures, "\n".join(failures)
    assert seen["old", False] > 0 and seen["old", True] > 0, "the kills missed a phase"
