#!/usr/bin/python3
"""Kelzar against its peers, side by side in one run: a benchmark, not a test.

Builds its corpora from files of this machine (kept in build/bench between
runs), then times, alternately, after one warm-up round:
  kelzar.exe under Wine (flag 1 for the trees, flag 0 for the one big file),
  Info-ZIP zip -6, bsdtar (zip, level 6), 7-Zip (-tzip -mx=5), all native;
  as limits: pigz -6 over tar on one and on two cores (the zlib limits), and
  a bare two-thread Win32 walker under Wine that only lists, opens and reads
  the same files (what Wine itself costs any program);
and, for adding one small file to a 138 MB archive of 13,000 entries,
kelzar.exe against zip, zip -T (which also tests the result, as every Kelzar
run does) and a plain copy of the archive; and, for scale, one Kelzar run over
a tree of a million tiny files (--many), for the memory that grows with
their number. It first measures the machine's
facts that change the figures (cores, whether 32-bit programs run, the cost
of a page fault and of a pipe round trip). It prints medians, MB/s, sizes,
peak memory, minor page faults and Kelzar's ratios, checks the goals, and
writes docs/benchmarks.md and docs/benchmarks.png (for the x64 build,
docs/benchmarks-x64.md and .png).

Usage: bench/bench.py [--runs N] [--quick] [--many N]    (make bench; needs make build)
"""

import argparse
import datetime
import mmap
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile
from dataclasses import dataclass, field
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))
from kelzar_harness import ARCH, WINE_ARCH, WINE_LOADER, runs_i386  # noqa: E402  the build under test

BUILD = REPO / "build" / f"windows-{ARCH}"
WORK = REPO / "build" / "bench"
PREFIX = WORK / f"prefix-{ARCH}"
DOCS = REPO / "docs"
# The x86 build's report keeps the established name; the x64 build's has its own.
REPORT = "benchmarks" if ARCH == "x86" else f"benchmarks-{ARCH}"
MINGW = {"x86": "i686-w64-mingw32-gcc-win32", "x64": "x86_64-w64-mingw32-gcc-win32"}[ARCH]
MB = 1e6
# The archive the update case adds to, as measured.
UPDATE_SHAPE = {"megabytes": 0.0, "entries": 0}
# The machine's facts, as measured at the start.
MACHINE: dict[str, str] = {}


def win(path: Path) -> str:
    return "Z:" + str(path).replace("/", "\\")


# ---------------------------------------------------------------------------
# Corpora


def copy_tree_share(sources: list[str], dest: Path, budget: int) -> None:
    """Files of these folders, an equal share of the budget each, copied
    with their folders."""
    share = budget // len(sources)
    for top in sources:
        used = 0
        for folder, dirs, names in os.walk(top):
            dirs.sort()
            for name in sorted(names):
                path = Path(folder) / name
                if path.is_symlink() or not path.is_file() or name.startswith("."):
                    continue
                size = path.stat().st_size
                if used + size > share:
                    continue
                target = dest / path.relative_to("/")
                target.parent.mkdir(parents=True, exist_ok=True)
                shutil.copyfile(path, target)
                used += size


def make_mixed(dest: Path) -> None:
    copy_tree_share(["/usr/share/doc", "/usr/include", "/usr/lib/python3", "/usr/share/locale"],
                    dest, 184_000_000)


def make_big(dest: Path) -> None:
    """One file of binaries and headers, one after the other."""
    sources = []
    for top in ("/usr/lib/x86_64-linux-gnu", "/usr/include"):
        for folder, dirs, names in os.walk(top):
            dirs.sort()
            sources += [Path(folder) / n for n in sorted(names)]
    written = 0
    with open(dest / "big.bin", "wb") as out:
        for path in sources:
            if written >= 232_000_000:
                break
            if path.is_symlink() or not path.is_file():
                continue
            data = path.read_bytes()[: 232_000_000 - written]
            out.write(data)
            written += len(data)


def make_small(dest: Path, count: int) -> None:
    rng = random.Random(count)
    words = [b"archive", b"entry", b"batch", b"folder", b"the", b"of", b"and", b"file",
             b"zip", b"name", b"date", b"0123", b"\r\n"]
    for i in range(count):
        path = dest / f"d{i // 1000:03d}" / f"f{i:06d}.txt"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b" ".join(rng.choices(words, k=rng.randint(200, 900))))


def make_update_archive(dest: Path) -> None:
    """Info-ZIP's archive of 13,000 generated files of mixed compressibility."""
    source = dest / "src"
    rng = random.Random(20040101)
    words = [b"archive", b"entry", b"kelzar", b"deflate", b"folder", b"batch", b"the", b"of",
             b"and", b"file", b"zip", b"name", b"date", b"0123", b"\r\n", b"  "]
    pool = b" ".join(rng.choices(words, k=400_000))
    for i in range(13_000):
        size = rng.randint(2_000, 36_000)
        share = rng.choice((0.0, 0.3, 0.5, 0.7, 0.85))
        start = rng.randint(0, len(pool) - size // 8)
        data = bytearray(pool[start:start + size // 8])
        while len(data) < size:
            n = rng.randint(256, 2048)
            if rng.random() < share:
                data += rng.randbytes(n)
            else:
                start = rng.randint(0, len(pool) - n)
                data += pool[start:start + n]
        path = source / f"d{i // 500:02d}" / f"f{i:05d}.dat"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data[:size])
    subprocess.run(["zip", "-q", "-r", "-D", str(dest / "base.zip"), "."], cwd=source, check=True)
    shutil.rmtree(source)
    (dest / "new").mkdir()
    (dest / "new" / "small.txt").write_bytes(b"one small new file\r\n")


def corpus(name: str, maker) -> Path:
    path = WORK / "corpora" / name
    if not (WORK / "corpora" / f"{name}.done").exists():
        shutil.rmtree(path, ignore_errors=True)
        path.mkdir(parents=True)
        print(f"making the {name} corpus...", flush=True)
        maker(path)
        (WORK / "corpora" / f"{name}.done").touch()
    return path


def tree_size(path: Path) -> tuple[int, int]:
    files = [p for p in path.rglob("*") if p.is_file()]
    return len(files), sum(p.stat().st_size for p in files)


# ---------------------------------------------------------------------------
# Running and measuring


@dataclass
class Tool:
    name: str
    command: list[str]  # {out} and {win_out} stand for the output file
    cwd: Path
    shell: bool = False
    wine: bool = False
    limit: bool = False  # a limit to compare with, not a peer


@dataclass
class Timing:
    seconds: list[float] = field(default_factory=list)
    peak_kb: list[int] = field(default_factory=list)
    # Minor page faults of the tool's processes: pages touched afresh.
    faults: list[int] = field(default_factory=list)
    # Processor seconds of the tool's processes and, for a Windows program,
    # of the wineserver serving it: what the run asked of the cores.
    cpu: list[float] = field(default_factory=list)
    size: int = 0

    @property
    def median(self) -> float:
        return statistics.median(self.seconds)


def wineserver_seconds() -> float:
    """Processor seconds used so far by the wineserver of the benchmark's
    prefix (it runs for the whole benchmark), found by its working folder,
    which Wine names after the prefix's device and inode."""
    prefix = PREFIX.stat()
    folder = f"server-{prefix.st_dev:x}-{prefix.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if not os.readlink(f"/proc/{pid}/cwd").endswith(folder):
                continue
            fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    return 0.0


def run_once(tool: Tool, out: Path, env: dict) -> tuple[float, int, int, float, int]:
    out.unlink(missing_ok=True)
    command = [part.replace("{out}", str(out)).replace("{win_out}", win(out)) for part in tool.command]
    with tempfile.NamedTemporaryFile("r", suffix=".time") as stamp:
        measured = ["/usr/bin/time", "-f", "%e %M %U %S %R", "-o", stamp.name]
        argv = measured + (["sh", "-c", " ".join(command)] if tool.shell else command)
        server_before = wineserver_seconds() if tool.wine else 0.0
        done = subprocess.run(argv, cwd=tool.cwd, env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        server = wineserver_seconds() - server_before if tool.wine else 0.0
        if done.returncode != 0:
            raise SystemExit(f"{tool.name} failed with exit code {done.returncode}")
        seconds, peak, user, system, faults = stamp.read().split()[-5:]
    cpu = float(user) + float(system) + server
    size = out.stat().st_size if out.exists() else 0
    return float(seconds), int(peak), size, cpu, int(faults)


def measure(tools: list[Tool], runs: int, env: dict, out_dir: Path) -> dict[str, Timing]:
    """Each tool once per round, in turn; the first round warms the caches."""
    timings = {t.name: Timing() for t in tools}
    for round_ in range(runs + 1):
        for tool in tools:
            seconds, peak, size, cpu, faults = run_once(
                tool, out_dir / f"{tool.name.replace(' ', '_')}.out", env)
            if round_ > 0:
                timings[tool.name].seconds.append(seconds)
                timings[tool.name].peak_kb.append(peak)
                timings[tool.name].faults.append(faults)
                timings[tool.name].cpu.append(cpu)
                timings[tool.name].size = size
    return timings


def archive_tools(folder: Path, files_to_zip: str, kelzar: Path, walker: Path) -> list[Tool]:
    """FILES_TO_ZIP (with its flag) counts from the corpus folder, so that
    Kelzar stores the same relative names as the peers. kelzar-unverified is
    a build that does not read the new archive back (never shipped): what
    the read-back costs."""
    unverified = kelzar.with_name("kelzar-unverified.exe")
    return [
        Tool("kelzar", [WINE_LOADER, str(kelzar), "{win_out}," + files_to_zip], folder, wine=True),
        Tool("unverified", [WINE_LOADER, str(unverified), "{win_out}," + files_to_zip], folder,
             wine=True, limit=True),
        Tool("zip -6", ["zip", "-q", "-r", "-6", "-D", "{out}", "."], folder),
        Tool("bsdtar", ["bsdtar", "--format", "zip", "--options", "zip:compression-level=6",
                        "-cf", "{out}", "."], folder),
        Tool("7z -mx=5", ["7z", "a", "-tzip", "-mx=5", "-bd", "-bso0", "{out}", "."], folder),
        Tool("pigz -p1", ["tar", "cf", "-", ".", "|", "pigz", "-6", "-p", "1", ">", "{out}"],
             folder, shell=True, limit=True),
        Tool("pigz -p2", ["tar", "cf", "-", ".", "|", "pigz", "-6", "-p", "2", ">", "{out}"],
             folder, shell=True, limit=True),
        Tool("walker", [WINE_LOADER, str(walker), win(folder), "2"], folder, wine=True, limit=True),
    ]


# ---------------------------------------------------------------------------
# The run


def build_walker() -> Path:
    exe = WORK / f"walker-{ARCH}.exe"
    source = REPO / "bench" / "walker.c"
    if not exe.exists() or exe.stat().st_mtime < source.stat().st_mtime:
        subprocess.run([MINGW, "-O2", "-municode", "-static", "-s", "-o",
                        str(exe), str(source)], check=True)
    return exe


def wine_env() -> dict:
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    env.update(WINEPREFIX=str(PREFIX), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=", WINEARCH=WINE_ARCH)
    if ARCH == "x64":
        env["WINELOADER"] = WINE_LOADER
    return env


def start_wine(env: dict) -> None:
    PREFIX.mkdir(parents=True, exist_ok=True)
    with open(WORK / "wineserver.log", "wb") as log:
        # A server left running by an earlier run serves as well.
        subprocess.run(["wineserver", "-p"], env=env, stdout=log, stderr=log, check=False)
        if not (PREFIX / "system.reg").exists():
            subprocess.run([WINE_LOADER, "wineboot", "-i"], env=env, stdout=log, stderr=log, check=True)


def make_tiny(dest: Path, count: int) -> None:
    """`count` files of a few bytes each, a thousand to a folder."""
    for i in range(count):
        folder = dest / f"d{i // 1000:04d}"
        if i % 1000 == 0:
            folder.mkdir(parents=True)
        (folder / f"f{i:07d}.txt").write_bytes(b"%d\r\n" % i)


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="small corpora only, 3 runs")
    parser.add_argument("--many", type=int, default=1_000_000,
                        help="tiny files in the scale case (0: no scale case)")
    args = parser.parse_args()
    runs = 3 if args.quick else args.runs
    programs = ("kelzar.exe", "kelzar-unverified.exe", "zlib.dll")
    for name in programs:
        if not (BUILD / name).exists():
            raise SystemExit(f"missing {BUILD / name}: run make build")
    WORK.mkdir(parents=True, exist_ok=True)
    MACHINE.update(machine_facts())
    for what, value in MACHINE.items():
        print(f"machine: {what}: {value}", flush=True)
    env = wine_env()
    start_wine(env)
    program = WORK / f"bin-{ARCH}"
    program.mkdir(exist_ok=True)
    for name in programs:
        shutil.copy2(BUILD / name, program / name)
    kelzar = program / "kelzar.exe"
    walker = build_walker()
    out_dir = WORK / "out"
    shutil.rmtree(out_dir, ignore_errors=True)
    out_dir.mkdir()

    sets = {}
    plan = [("small 1,000", lambda p: make_small(p, 1_000), False)]
    if not args.quick:
        plan = [("mixed", make_mixed, False), ("big", make_big, True)] + plan + \
               [("small 100,000", lambda p: make_small(p, 100_000), False)]
    for name, maker, single in plan:
        folder = corpus(name.replace(" ", "-").replace(",", ""), maker)
        files, size = tree_size(folder)
        files_to_zip = "big.bin" if single else "*.*,1"
        print(f"{name}: {files} files, {size / MB:.0f} MB; {runs} runs...", flush=True)
        timings = measure(archive_tools(folder, files_to_zip, kelzar, walker), runs, env, out_dir)
        sets[name] = (files, size, timings)
        show_set(name, files, size, timings)

    update = many = None
    if not args.quick:
        update = measure_update(corpus("update", make_update_archive), kelzar, runs, env, out_dir)
        if args.many > 0:
            many = measure_many(args.many, kelzar, env, out_dir)
    goals = check_goals(sets, update, many)
    write_report(sets, update, many, goals, runs)
    subprocess.run(["wineserver", "-k"], env=env, check=False)


def show_set(name, files, size, timings) -> None:
    kelzar = timings["kelzar"].median
    for tool, timing in timings.items():
        ratio = timing.median / kelzar
        print(f"  {tool:<10} {timing.median:8.3f} s  {size / MB / timing.median:7.1f} MB/s  "
              f"{timing.size / MB:8.1f} MB  {max(timing.peak_kb) / 1024:6.1f} MiB  "
              f"{statistics.median(timing.faults):9,.0f} faults  "
              f"{statistics.median(timing.cpu):6.2f} s cpu  "
              f"kelzar {ratio:5.2f}x as fast", flush=True)


def measure_update(folder: Path, kelzar: Path, runs: int, env: dict, out_dir: Path) -> dict:
    base = folder / "base.zip"
    with zipfile.ZipFile(base) as zf:
        entries = len(zf.infolist())
    new = folder / "new"
    copy = out_dir / "update.zip"
    tools = {
        "kelzar": [WINE_LOADER, str(kelzar), win(copy), win(new) + "\\*.txt", "1"],
        "unverified": [WINE_LOADER, str(kelzar.with_name("kelzar-unverified.exe")), win(copy),
                       win(new) + "\\*.txt", "1"],
        "zip": ["zip", "-q", str(copy), "small.txt"],
        "zip -T": ["zip", "-q", "-T", str(copy), "small.txt"],
        "cp": ["cp", str(base), str(out_dir / "copied.zip")],
    }
    timings = {name: Timing() for name in tools}
    for round_ in range(runs + 1):
        for name, command in tools.items():
            shutil.copyfile(base, copy)
            seconds, peak, _, cpu, faults = run_once(
                Tool(name, command, new, wine=command[0] == WINE_LOADER), out_dir / "unused", env)
            if name != "cp":
                with zipfile.ZipFile(copy) as zf:
                    assert len(zf.infolist()) == entries + 1, f"{name} did not add the file"
            if round_ > 0:
                timing = timings[name]
                timing.seconds.append(seconds)
                timing.peak_kb.append(peak)
                timing.faults.append(faults)
                timing.cpu.append(cpu)
    UPDATE_SHAPE.update(megabytes=base.stat().st_size / MB, entries=entries)
    print(f"update ({base.stat().st_size / MB:.0f} MB, {entries} entries):", flush=True)
    for name, t in timings.items():
        print(f"  {name:<10} {t.median:8.3f} s  {max(t.peak_kb) / 1024:6.1f} MiB  "
              f"{statistics.median(t.faults):9,.0f} faults  {statistics.median(t.cpu):6.2f} s cpu",
              flush=True)
    return timings


def measure_many(count: int, kelzar: Path, env: dict, out_dir: Path) -> dict:
    """One run of Kelzar over a tree of `count` tiny files: the memory that
    grows with the number of files (a benchmark of scale, not of speed)."""
    folder = corpus(f"many-{count}", lambda p: make_tiny(p, count))
    tool = Tool("kelzar", [WINE_LOADER, str(kelzar), "{win_out},*.*,1"], folder, wine=True)
    print(f"many: {count:,} tiny files; one run...", flush=True)
    seconds, peak, size, cpu, faults = run_once(tool, out_dir / "many.out", env)
    with zipfile.ZipFile(out_dir / "many.out") as zf:
        stored = len(zf.infolist())
    assert stored == count, f"kelzar stored {stored} of {count} files"
    result = {"files": count, "seconds": seconds, "peak_mib": peak / 1024, "faults": faults,
              "cpu": cpu, "bytes_per_file": peak * 1024 / count}
    print(f"  kelzar {seconds:.1f} s  {peak / 1024:.1f} MiB peak  {faults:,} faults  "
          f"{result['bytes_per_file']:.0f} bytes per file", flush=True)
    return result


def best_peer(timings) -> tuple[str, float]:
    peers = {n: t.median for n, t in timings.items() if n in ("zip -6", "bsdtar", "7z -mx=5")}
    name = min(peers, key=peers.get)
    return name, peers[name]


def single_process_peer(timings) -> tuple[str, float]:
    peers = {n: t.median for n, t in timings.items() if n in ("zip -6", "bsdtar")}
    name = min(peers, key=peers.get)
    return name, peers[name]


def check_goals(sets, update, many) -> list[tuple[str, str, bool]]:
    goals = []
    if "big" in sets:
        _, _, t = sets["big"]
        share = t["pigz -p2"].median / t["kelzar"].median
        peer, peer_time = best_peer(t)
        goals.append(("big file: at least 90% of pigz -p2",
                      f"{share:.0%} of pigz -p2; {peer_time / t['kelzar'].median:.2f}x {peer}",
                      share >= 0.9))
    cores = os.cpu_count() or 1
    for name in ("mixed", "small 1,000", "small 100,000"):
        if name not in sets:
            continue
        _, _, t = sets[name]
        kelzar = t["kelzar"].median
        peer, peer_time = single_process_peer(t)
        # Deflating and Wine's work per file both take processor time: on
        # these cores they overlap only as far as their sum allows. Where
        # that floor is itself slower than the peers, it is the measure.
        floor = (statistics.median(t["walker"].cpu) + statistics.median(t["pigz -p1"].cpu)) / cores
        if floor > peer_time / 1.2:
            goals.append((f"{name}: within 1.15x of the {cores}-core floor (Wine's walk + "
                          "pigz -p1), which is slower than the peers",
                          f"{kelzar / floor:.2f}x of {floor:.2f} s; {peer_time / kelzar:.2f}x {peer}",
                          kelzar <= 1.15 * floor))
        else:
            goals.append((f"{name}: at least 1.2x the best single-process peer",
                          f"{peer_time / kelzar:.2f}x {peer}; floor {floor:.2f} s",
                          peer_time >= 1.2 * kelzar))
    for name, (_, _, t) in sets.items():
        cost = t["kelzar"].median - t["unverified"].median
        cpu = statistics.median(t["kelzar"].cpu) - statistics.median(t["unverified"].cpu)
        goals.append((f"{name}: what the read-back costs", f"{cost:+.2f} s wall, "
                      f"{cpu:+.2f} s processor ({t['kelzar'].median / t['unverified'].median - 1:+.0%})",
                      True))
    if update:
        k, z, zt = (update[n].median for n in ("kelzar", "zip", "zip -T"))
        cpu = statistics.median(update["kelzar"].cpu) - statistics.median(update["unverified"].cpu)
        goals.append(("update: what the read-back costs",
                      f"{k - update['unverified'].median:+.3f} s wall, {cpu:+.2f} s processor", True))
        goals.append(("update: within 0.5x of zip -T",
                      f"{k / max(zt, 1e-3):.2f}x ({k:.3f} s vs {zt:.3f} s)", k <= 0.5 * zt))
        goals.append(("update: within 3x of zip", f"{k / max(z, 1e-3):.1f}x ({z:.3f} s)",
                      k <= 3 * z))
    for name, (_, _, t) in sets.items():
        ratio = t["kelzar"].size / t["zip -6"].size
        goals.append((f"{name}: archive within 0.5% of Info-ZIP's", f"{ratio - 1:+.2%}",
                      ratio <= 1.005))
    peak = max((max(t["kelzar"].peak_kb) for _, _, t in sets.values()), default=0) / 1024
    goals.append(("peak memory below 64 MiB on every corpus", f"{peak:.0f} MiB", peak < 64))
    if many:
        goals.append((f"peak memory below 64 MiB at {many['files']:,} files",
                      f"{many['peak_mib']:.0f} MiB ({many['bytes_per_file']:.0f} bytes per file)",
                      many["peak_mib"] < 64))
    # Memory touched once: fresh pages no more than 1.2 times the peak's.
    page_kb = os.sysconf("SC_PAGE_SIZE") / 1024
    measured = [(name, t["kelzar"]) for name, (_, _, t) in sets.items()]
    if update:
        measured.append(("update", update["kelzar"]))
    for name, t in measured:
        pages = max(t.peak_kb) / page_kb
        faults = statistics.median(t.faults)
        goals.append((f"{name}: minor faults within 1.2x of peak memory in pages",
                      f"{faults:,.0f} faults, {pages:,.0f} pages ({faults / pages:.2f}x)",
                      faults <= 1.2 * pages))
    if "small 1,000" in sets and "small 100,000" in sets:
        per_1k = sets["small 1,000"][2]["kelzar"].median / 1_000
        per_100k = sets["small 100,000"][2]["kelzar"].median / 100_000
        goals.append(("time per file for 100,000 files within 1.3x of that for 1,000",
                      f"{per_100k * 1e6:.0f} us vs {per_1k * 1e6:.0f} us ({per_100k / per_1k:.2f}x)",
                      per_100k <= 1.3 * per_1k))
    print("goals:")
    for what, got, met in goals:
        print(f"  [{'met' if met else 'NOT MET'}] {what}: {got}")
    return goals


def machine_facts() -> dict[str, str]:
    """What changes the figures from one machine to the next, measured here:
    a fresh page costs a fault (and, under Windows, a page of zeroes), and
    Wine serves many calls through a pipe to its server."""
    page = os.sysconf("SC_PAGE_SIZE")
    pages = 20_000
    started = time.perf_counter()
    with mmap.mmap(-1, pages * page) as memory:
        for i in range(pages):
            memory[i * page] = 1
    fault_us = (time.perf_counter() - started) / pages * 1e6
    there, back = os.pipe(), os.pipe()
    child = os.fork()
    if child == 0:
        os.close(there[1])
        os.close(back[0])
        while os.read(there[0], 1):
            os.write(back[1], b"x")
        os._exit(0)
    os.close(there[0])
    os.close(back[1])
    trips = 5_000
    started = time.perf_counter()
    for _ in range(trips):
        os.write(there[1], b"x")
        os.read(back[0], 1)
    trip_us = (time.perf_counter() - started) / trips * 1e6
    os.close(there[1])
    os.waitpid(child, 0)
    os.close(back[0])
    return {"cores": str(os.cpu_count()),
            "runs 32-bit programs": "yes" if runs_i386() else "no",
            "a page fault (touching a fresh page)": f"{fault_us:.2f} us",
            "a pipe round trip between two processes": f"{trip_us:.1f} us"}


def write_report(sets, update, many, goals, runs) -> None:
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), "unknown")
    lines = ["# Benchmarks", "",
             f"Made by `make bench` on {datetime.date.today()}: {os.cpu_count()} cores ({cpu}), "
             f"warm cache, medians of {runs} runs after a warm-up, each tool in turn. Kelzar's "
             f"{ARCH} build runs under Wine's {WINE_ARCH[3:]}-bit loader; the peers natively. pigz over tar (on one and two cores) is the "
             "zlib limit; the walker is a bare two-thread Win32 program that only lists, opens "
             "and reads the files under Wine. Processor time is user and system time of the "
             "tool's processes plus, under Wine, the wineserver's; minor faults count the "
             "pages the tool's own processes touched afresh.", "",
             "| machine | |", "|---|---|"]
    lines += [f"| {what} | {value} |" for what, value in MACHINE.items()]
    lines.append("")
    for name, (files, size, timings) in sets.items():
        lines += [f"## {name}: {files:,} files, {size / MB:.0f} MB", "",
                  "| tool | time | MB/s | archive | peak memory | minor faults | processor time "
                  "| Kelzar is |",
                  "|---|---|---|---|---|---|---|---|"]
        kelzar = timings["kelzar"].median
        for tool, t in timings.items():
            archive = f"{t.size / MB:.1f} MB" if t.size else "-"
            lines.append(f"| {tool} | {t.median:.2f} s | {size / MB / t.median:.1f} | {archive} | "
                         f"{max(t.peak_kb) / 1024:.0f} MiB | {statistics.median(t.faults):,.0f} | "
                         f"{statistics.median(t.cpu):.2f} s | "
                         f"{t.median / kelzar:.2f}x as fast |")
        lines.append("")
    if update:
        lines += [f"## Adding one small file to a {UPDATE_SHAPE['megabytes']:.0f} MB archive of "
                  f"{UPDATE_SHAPE['entries']:,} entries", "",
                  "| tool | time | peak memory | minor faults | processor time |",
                  "|---|---|---|---|---|"]
        lines += [f"| {name} | {t.median:.3f} s | {max(t.peak_kb) / 1024:.0f} MiB | "
                  f"{statistics.median(t.faults):,.0f} | {statistics.median(t.cpu):.2f} s |"
                  for name, t in update.items()]
        lines.append("")
    if many:
        lines += [f"## Scale: {many['files']:,} tiny files, Kelzar alone, one run", "",
                  f"{many['seconds']:.1f} s, {many['peak_mib']:.0f} MiB peak "
                  f"({many['bytes_per_file']:.0f} bytes per file), {many['faults']:,} minor faults, "
                  f"{many['cpu']:.1f} s processor time.", ""]
    lines += ["## Goals", "", "| goal | measured | met |", "|---|---|---|"]
    lines += [f"| {what} | {got} | {'yes' if met else 'no'} |" for what, got, met in goals]
    lines += ["", f"![MB/s by corpus and tool]({REPORT}.png)", ""]
    DOCS.mkdir(exist_ok=True)
    (DOCS / f"{REPORT}.md").write_text("\n".join(lines))
    chart(sets)
    print(f"wrote {DOCS / (REPORT + '.md')} and {DOCS / (REPORT + '.png')}")


def chart(sets) -> None:
    tools = ["kelzar", "zip -6", "bsdtar", "7z -mx=5", "pigz -p1", "pigz -p2"]
    data = WORK / "chart.dat"
    rates = {name: [size / MB / timings[t].median for t in tools]
             for name, (_, size, timings) in sets.items()}
    with open(data, "w") as out:
        out.write("corpus " + " ".join(f'"{t}"' for t in tools) + "\n")
        for name, row in rates.items():
            out.write(f'"{name}" ' + " ".join(f"{rate:.1f}" for rate in row) + "\n")
    # From zero, and room above the tallest bar: an axis that starts higher
    # makes short bars look empty, and one that ends lower cuts bars off.
    top = max(max(row) for row in rates.values()) * 1.1
    script = f"""
set terminal pngcairo size 900,420 font ",10"
set output "{DOCS / (REPORT + '.png')}"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set ylabel "MB/s (more is better)"
set key outside right top
set grid ytics
set yrange [0:{top:.1f}]
plot for [i=2:{len(tools) + 1}] "{data}" using i:xtic(1) title columnheader(i)
"""
    subprocess.run(["gnuplot"], input=script.encode(), check=True)


if __name__ == "__main__":
    sys.exit(main())
