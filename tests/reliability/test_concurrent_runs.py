"""Two runs adding different files to the same archive at once, 50 times.

Each round starts two updates a moment apart (0 to 150 ms, at random), each
adding its own file, and each naming the archive its own way: as given,
in capitals, relative to the working folder, or through drive z: (the
whole Linux file system). Afterwards the archive holds what it held before
and the file of every run that exited 0, each once; a run that exited 1
added nothing. Never is one run's update lost to the other's.
"""

import random
import time
import zipfile

from hostile import Added, assert_carried_over, leftovers
from kelzar_harness import exit_code, spawn, unix_to_win
from peers import infozip, lock_name, mixed_content, write_tree
from zipread import try_read_entries

ROUNDS = 50


def test_two_runs_at_once_never_lose_an_update(kelzar, drive, tmp_path, figures):
    archive = drive.path(r"d:\arch\old.zip")
    archive.parent.mkdir()
    # Large enough that a run still holds the archive when the other starts.
    files = {f"old/{i:04d}.txt": mixed_content(i, 1_000) for i in range(6_000)}
    files["old/random.bin"] = mixed_content(1, 20_000_000)
    write_tree(tmp_path / "peer", files)
    infozip(archive, tmp_path / "peer", "-r", "old")
    lock = archive.with_name(lock_name("old.zip"))
    initial = len(try_read_entries(archive))
    # (archive path, working folder): four spellings of the same file.
    spellings = [(r"d:\arch\old.zip", "d:\\"), (r"D:\ARCH\OLD.ZIP", "d:\\"),
                 ("old.zip", r"d:\arch"), (unix_to_win(archive), "d:\\")]

    rng = random.Random(99)
    both = one = overlapped = 0
    for round_ in range(ROUNDS):
        before = try_read_entries(archive)
        files = {}
        for run_ in "ab":
            data = f"round {round_}, run {run_}\r\n".encode() * (100 + round_)
            drive.write(f"d:\\new\\{run_}{round_}\\{run_}.txt", data)
            files[run_] = Added(f"new\\{run_}{round_}\\{run_}.txt", data)
        (path_a, cwd_a), (path_b, cwd_b) = rng.choice(spellings), rng.choice(spellings)
        first = spawn(kelzar, f"{path_a} d:\\new\\a{round_}\\*.txt 1", cwd=cwd_a)
        time.sleep(rng.uniform(0, 0.15))
        second = spawn(kelzar, f"{path_b} d:\\new\\b{round_}\\*.txt 1", cwd=cwd_b)
        # Contended: one run held the lock while the other was running too.
        contended = False
        while first.poll() is None and second.poll() is None:
            contended = contended or lock.exists()
            time.sleep(0.005)
        overlapped += contended
        codes = {"a": exit_code(first, f"round {round_} a"),
                 "b": exit_code(second, f"round {round_} b")}

        what = f"round {round_} ({path_a} and {path_b}), exit codes {codes}"
        assert leftovers(drive.root) == [], what
        done = [files[run_] for run_, code in codes.items() if code == 0]
        assert done, f"{what}: neither run added its file"
        try:
            assert_carried_over(before, archive, done, any_order=True)
        except AssertionError as error:
            raise AssertionError(f"{what}: {error}") from None
        both += len(done) == 2
        one += len(done) == 1
    figures(f"{ROUNDS} rounds, {overlapped} with one run holding the lock while the other ran: "
            f"both runs added their file in {both}, one run gave up in {one}")
    assert overlapped >= ROUNDS // 2, "the runs hardly met: this tested little"
    with zipfile.ZipFile(archive) as zf:
        assert len(zf.infolist()) == initial + 2 * both + one
