"""Running kelzar.exe under Wine and checking what it wrote.

This is the one way the tests run a Windows program: the build under test
(x86 or x64) under the Wine loader of its bitness, Wine's own tools
included. The program is always started through kzlaunch.exe, which hands
it an exact command line (Wine would otherwise rebuild the line from argv).
Archives are read with zipread, whose readers owe nothing to the program.
"""

from __future__ import annotations

import contextlib
import datetime
import itertools
import os
import shutil
import subprocess
import time
import zlib
from dataclasses import dataclass
from pathlib import Path
from zoneinfo import ZoneInfo

REPO = Path(__file__).resolve().parents[2]


def runs_i386() -> bool:
    """Whether this machine runs 32-bit programs (Wine's 32-bit loader is one),
    as the make targets' probe answers it."""
    if "KELZAR_RUNS_I386" in os.environ:
        return os.environ["KELZAR_RUNS_I386"] == "1"
    probe = subprocess.run(["bash", str(REPO / "scripts" / "build-under-test.sh"), "--runs-i386"],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return probe.returncode == 0


# The build under test, x86 or x64, as the make target chose it (the x86 one
# where the machine runs 32-bit programs); another build folder (a release, a
# copy) can be named with KELZAR_BUILD_DIR.
ARCH = os.environ.get("KELZAR_ARCH") or ("x86" if runs_i386() else "x64")
assert ARCH in ("x86", "x64"), f"KELZAR_ARCH must be x86 or x64, not {ARCH!r}"
BUILD = Path(os.environ.get("KELZAR_BUILD_DIR", REPO / "build" / f"windows-{ARCH}"))

# Each build runs under the Wine loader of its own bitness, in a prefix of
# that kind. The wine command picks the 32-bit loader whenever Wine's 32-bit
# half is installed, so the 64-bit one is named directly.
LOADERS = {"x86": "wine", "x64": "/usr/lib/wine/wine64"}
PREFIX_KINDS = {"x86": "win32", "x64": "win64"}
WINE_LOADER = LOADERS[ARCH]
WINE_ARCH = PREFIX_KINDS[ARCH]
PROGRAM_FILES = ("kelzar.exe", "zlib.dll")
# kelzar-flip-byte.exe: a build that damages what it writes, for the tests
# that prove the read-back catches it; kelzar-refused-thread.exe: one that the
# system refuses its second thread, for the tests that prove the run ends.
HELPER_FILES = ("kzlaunch.exe", "kzhold.exe", "kzattr.exe", "kelzar-flip-byte.exe",
                "kelzar-refused-thread.exe")

# Wine takes its time zone from TZ. Three hours east of UTC, without daylight
# saving, so a UTC/local mix-up moves every date by three hours.
TIME_ZONE = "Etc/GMT-3"
LOCAL_ZONE = ZoneInfo(TIME_ZONE)

# The folder, inside the prefix's drive c:, that holds the program and the
# helpers. A space in its name lets tests start the program by a quoted path.
BIN_FOLDER_WIN = r"C:\Kelzar Bin"

# Exit codes of kzlaunch itself (the program returns only 0 or 1).
LAUNCH_NOT_STARTED = 202
LAUNCH_TIMED_OUT = 203


def hex_arg(text: str) -> str:
    """Encodes an argument for the helpers (UTF-8 bytes as hex digits); the
    launcher starts the program through CreateProcessW, so the program's
    command line holds any character."""
    return text.encode("utf-8", "surrogatepass").hex()


def missing_build_files() -> list[Path]:
    return [BUILD / name for name in PROGRAM_FILES + HELPER_FILES if not (BUILD / name).is_file()]


class WineError(AssertionError):
    pass


class WineSession:
    """One fresh Wine prefix with one persistent wineserver, for the build
    under test (or another build, as ARCH and BUILD_DIR name it). BOOT_TIMEOUT
    bounds the prefix's creation (seconds here; minutes under emulation)."""

    def __init__(self, root: Path, arch: str = ARCH, build_dir: Path = BUILD,
                 files: tuple[str, ...] = PROGRAM_FILES + HELPER_FILES,
                 boot_timeout: float = 180):
        self.root = root
        self.arch = arch
        self.build_dir = build_dir
        self.files = files
        self.boot_timeout = boot_timeout
        self.prefix = root / "prefix"
        self.logs = root / "logs"
        self.env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINELOADER", "WINESERVER"):
            # Without a display, the program's message box fails at once
            # instead of waiting for a click that never comes.
            self.env.pop(name, None)
        self.env.update(
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
            WINEARCH=PREFIX_KINDS[arch],
            TZ=TIME_ZONE,
        )
        if arch == "x64":
            self.env["WINELOADER"] = LOADERS[arch]
        self._serial = itertools.count(1)

    @property
    def bin_dir(self) -> Path:
        return self.prefix / "drive_c" / BIN_FOLDER_WIN[3:]

    def _log_files(self, label: str) -> tuple[Path, Path]:
        n = next(self._serial)
        return self.logs / f"{n:04d}-{label}.out", self.logs / f"{n:04d}-{label}.err"

    def start(self) -> None:
        self.prefix.mkdir(parents=True)
        self.logs.mkdir()
        # The server is started first and alone, with its output in files: a
        # server started by a Wine call would inherit that call's pipes and
        # keep them open long after the call ended.
        self._call(["wineserver", "-p"], "wineserver", timeout=30)
        self._call(self.command("wineboot", "-i"), "wineboot", timeout=self.boot_timeout)
        self.bin_dir.mkdir(parents=True)
        for name in self.files:
            shutil.copy2(self.build_dir / name, self.bin_dir / name)

    def command(self, program: str, *args: str) -> list[str]:
        """The argv that runs a Windows program (a path, or one of Wine's own
        such as attrib or reg) in this session's prefix, under the loader of
        the session's build."""
        return [LOADERS[self.arch], program, *args]

    def stop(self) -> None:
        self._call(["wineserver", "-k"], "wineserver-kill", timeout=30, check=False)
        with contextlib.suppress(Exception):
            self._call(["wineserver", "-w"], "wineserver-wait", timeout=30, check=False)

    def _call(self, argv, label, timeout, check=True) -> tuple[subprocess.CompletedProcess, Path]:
        """Runs ARGV to its end with its output in log files; returns the
        process and the file that holds its standard output."""
        out, err = self._log_files(label)
        with open(out, "wb") as fout, open(err, "wb") as ferr:
            try:
                done = subprocess.run(
                    argv,
                    env=self.env,
                    cwd=self.root,
                    stdin=subprocess.DEVNULL,
                    stdout=fout,
                    stderr=ferr,
                    timeout=timeout,
                )
            except subprocess.TimeoutExpired:
                raise WineError(f"{argv[0]} did not finish within {timeout} s (log: {err})")
        if check and done.returncode != 0:
            raise WineError(f"{argv} failed with {done.returncode}: {err.read_text(errors='replace')}")
        return done, out

    def run(self, exe: str, args: list[str], label: str, timeout: float = 60,
            unix_env: dict[str, str] | None = None) -> "RunResult":
        """Runs one of the programs in the bin folder; its output goes to files.
        UNIX_ENV is added to the environment of the Wine process itself: Wine
        reads its ANSI code page from the locale there."""
        out, err = self._log_files(label)
        argv = self.command(str(self.bin_dir / exe), *args)
        with open(out, "wb") as fout, open(err, "wb") as ferr:
            started = time.monotonic()
            try:
                done = subprocess.run(
                    argv, env={**self.env, **(unix_env or {})}, cwd=self.root,
                    stdin=subprocess.DEVNULL,
                    stdout=fout, stderr=ferr, timeout=timeout,
                )
            except subprocess.TimeoutExpired:
                raise WineError(f"{exe} did not finish within {timeout} s (log: {err})")
        return RunResult(
            done.returncode,
            out.read_text(errors="replace"),
            err.read_text(errors="replace"),
            time.monotonic() - started,
        )

    def spawn(self, exe: str, args: list[str], label: str) -> subprocess.Popen:
        out, err = self._log_files(label)
        with open(out, "wb") as fout, open(err, "wb") as ferr:
            return subprocess.Popen(
                self.command(str(self.bin_dir / exe), *args),
                env=self.env, cwd=self.root, stdin=subprocess.DEVNULL, stdout=fout, stderr=ferr,
            )

    def call(self, program: str, *args: str, label: str, timeout: float = 120) -> str:
        """Runs a program (one of Wine's own, such as reg or attrib) to its
        end; fails unless it exits 0. Returns what it printed."""
        _, out = self._call(self.command(program, *args), label, timeout=timeout)
        return out.read_text(errors="replace")

    def attributes(self, win_path: str) -> set[str]:
        """The Win32 attribute letters of a file (R, H, S, A), as Wine's own
        attrib program reports them through GetFileAttributes."""
        text = self.call("attrib", win_path, label="attrib", timeout=60)
        assert win_path.lower() in text.lower(), f"attrib {win_path}: {text!r}"
        flags = text[: text.lower().index(win_path.lower())]
        return {c for c in flags if c in "RHSA"}

    def map_drive(self, letter: str, target: Path) -> None:
        self._link(self.prefix / "dosdevices" / f"{letter.lower()}:", target)

    def map_unc(self, server: str, share: str, target: Path) -> None:
        """Makes \\\\server\\share reach `target`: Wine looks UNC paths up in
        its dosdevices/unc folder instead of on a network."""
        folder = self.prefix / "dosdevices" / "unc" / server.lower()
        folder.mkdir(parents=True, exist_ok=True)
        self._link(folder / share.lower(), target)

    @staticmethod
    def _link(link: Path, target: Path) -> None:
        temporary = link.with_name(link.name + ".new")
        with contextlib.suppress(FileNotFoundError):
            temporary.unlink()
        temporary.symlink_to(target)
        os.replace(temporary, link)


@dataclass
class RunResult:
    code: int
    stdout: str
    stderr: str
    seconds: float


def unix_to_win(path: Path) -> str:
    """The Wine path of any local path, through drive z:."""
    return "Z:" + str(path).replace("/", "\\")


class Drive:
    """A scratch folder seen by Windows programs as drive d:."""

    def __init__(self, root: Path, letter: str = "d"):
        self.root = root
        self.letter = letter

    def path(self, win_path: str) -> Path:
        """The local path of a d: path such as d:\\src\\a.txt."""
        assert win_path[:2].lower() == f"{self.letter}:", win_path
        rest = win_path[2:].replace("\\", "/").lstrip("/")
        return self.root / rest

    def write(self, win_path: str, data: bytes | str, mtime: float | None = None) -> Path:
        target = self.path(win_path)
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data.encode() if isinstance(data, str) else data)
        if mtime is not None:
            os.utime(target, (mtime, mtime))
        return target

    def snapshot(self) -> dict[str, bytes | None]:
        """Every file and folder on the drive, with file contents."""
        found: dict[str, bytes | None] = {}
        for path in sorted(self.root.rglob("*")):
            key = str(path.relative_to(self.root))
            found[key] = None if path.is_dir() else path.read_bytes()
        return found


class Kelzar:
    """kelzar.exe in a Wine session, started with exact command lines."""

    def __init__(self, wine: WineSession, drive: Drive, markers: Path):
        self.wine = wine
        self.drive = drive
        self.markers = markers
        self.runs: list[RunResult] = []

    def run_line(
        self,
        line: str,
        cwd: str = "d:\\",
        env: dict[str, str] | None = None,
        timeout: float = 30,
        unix_env: dict[str, str] | None = None,
    ) -> int:
        """Starts the program with exactly this command line; returns its exit code."""
        args = [hex_arg(line), hex_arg(cwd) if cwd else "-", str(int(timeout * 1000))]
        args += [hex_arg(f"{name}={value}") for name, value in (env or {}).items()]
        # Wine 8's CreateProcessW now and then fails to start a 64-bit program
        # under load (ERROR_INTERNAL_ERROR, 1359) before any of its code ran:
        # such a start is tried again; a program that never starts still fails.
        for _ in range(3):
            result = self.wine.run("kzlaunch.exe", args, "kelzar", timeout=timeout + 30,
                                   unix_env=unix_env)
            if result.code != LAUNCH_NOT_STARTED:
                break
            time.sleep(0.5)
        self.runs.append(result)
        if result.code in (LAUNCH_NOT_STARTED, LAUNCH_TIMED_OUT) or result.code > 1:
            raise WineError(f"launching {line!r} failed ({result.code}): {result.stderr}")
        return result.code

    def run(self, args: str, **kwargs) -> int:
        """Runs `kelzar.exe ARGS`; ARGS is the argument text exactly as given."""
        return self.run_line(f"kelzar.exe {args}" if args else "kelzar.exe", **kwargs)

    def set_attributes(self, attributes: str, *win_paths: str) -> None:
        """Sets Win32 attributes (letters R, H, S, A; N for none) on d: paths."""
        result = self.wine.run("kzattr.exe", [attributes, *map(hex_arg, win_paths)], "kzattr")
        if result.code != 0:
            raise WineError(f"kzattr {attributes} {win_paths} failed: {result.stderr}")

    def short_path(self, win_path: str) -> str:
        """The 8.3 form of a path, as GetShortPathNameW gives it."""
        result = self.wine.run("kzattr.exe", ["short", hex_arg(win_path)], "kzattr")
        if result.code != 0:
            raise WineError(f"kzattr short {win_path} failed: {result.stderr}")
        return bytes.fromhex(result.stdout.strip()).decode("utf-8")

    def probe_read(self, win_path: str) -> bool:
        """Whether another Windows process can read a byte of the file now."""
        return self.wine.run("kzhold.exe", ["probe-read", hex_arg(win_path)], "probe").code == 0

    @contextlib.contextmanager
    def hold(self, win_path: str, mode: str, timeout: float = 60):
        """Keeps a file open in another Windows process for the with-block.

        mode: "exclusive" (share mode 0), "range" (whole file range-locked),
        "write-sharing-rw" (open for writing, sharing reading and writing),
        "write-sharing-r" (open for writing, sharing reading only),
        "share-all" (open for reading, sharing everything, as viewers do).
        """
        tag = f"{mode}-{time.monotonic_ns()}"
        ready = self.markers / f"{tag}.ready"
        release = self.markers / f"{tag}.release"
        process = self.wine.spawn(
            "kzhold.exe",
            [mode, hex_arg(win_path), hex_arg(unix_to_win(ready)), hex_arg(unix_to_win(release)),
             str(int(timeout * 1000))],
            "kzhold",
        )
        try:
            deadline = time.monotonic() + 30
            while not ready.exists():
                if process.poll() is not None:
                    raise WineError(f"kzhold {mode} {win_path} exited with {process.returncode}")
                if time.monotonic() > deadline:
                    raise WineError(f"kzhold {mode} {win_path} never became ready")
                time.sleep(0.02)
            yield
        finally:
            release.touch()
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if process.returncode != 0:
            raise WineError(f"kzhold {mode} {win_path} ended with {process.returncode}")


# ---------------------------------------------------------------------------
# Runs that are started and waited for apart (several at once, killed,
# raced): every suite starts them here.

# One run of a small case takes well under a second; a run that takes this
# long hangs.
RUN_TIMEOUT = 60


def spawn(kelzar: Kelzar, args: str, cwd: str = "d:\\", timeout: float = RUN_TIMEOUT,
          label: str = "kelzar") -> subprocess.Popen:
    """Starts `kelzar.exe ARGS` with exactly that command line, without waiting."""
    line = f"kelzar.exe {args}"
    return kelzar.wine.spawn(
        "kzlaunch.exe", [hex_arg(line), hex_arg(cwd), str(int(timeout * 1000))], label)


def exit_code(process: subprocess.Popen, what: str, timeout: float = RUN_TIMEOUT) -> int:
    """The program's exit code; a hang, a crash or a launcher failure fails the test."""
    try:
        code = process.wait(timeout=timeout + 30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise WineError(f"{what}: the launcher itself hung")
    if code == LAUNCH_TIMED_OUT:
        raise WineError(f"{what}: the program hung (still running after {timeout} s)")
    if code == LAUNCH_NOT_STARTED:
        raise WineError(f"{what}: the program could not be started")
    if code not in (0, 1):
        # A Windows exception code comes through Wine as its low byte.
        raise WineError(f"{what}: the program crashed or failed with exit code {code}")
    return code


def run(kelzar: Kelzar, args: str, cwd: str = "d:\\", timeout: float = RUN_TIMEOUT) -> int:
    return exit_code(spawn(kelzar, args, cwd, timeout), args, timeout)


def run_all(kelzar: Kelzar, commands: list[str], parallel: int = 3,
            timeout: float = RUN_TIMEOUT) -> list[int]:
    """Runs independent commands (each on its own archive), a few at a time;
    returns their exit codes in order. Wine spends most of a short run
    starting the process, so overlapping runs nearly halves the time."""
    codes: list[int | None] = [None] * len(commands)
    running: dict[int, subprocess.Popen] = {}
    pending = list(range(len(commands)))
    while pending or running:
        while pending and len(running) < parallel:
            i = pending.pop(0)
            running[i] = spawn(kelzar, commands[i], timeout=timeout)
        finished = [i for i, p in running.items() if p.poll() is not None]
        if not finished:
            time.sleep(0.005)
            continue
        for i in finished:
            codes[i] = exit_code(running.pop(i), commands[i], timeout)
    return codes  # type: ignore[return-value]



# ---------------------------------------------------------------------------
# What an entry made from a file must be


def dos_date_time(mtime: float) -> tuple:
    """What a ZIP entry's date must be for a file with this last-write time:
    local time in the test time zone, seconds rounded down to even, clamped
    to the range an MS-DOS date can hold."""
    local = datetime.datetime.fromtimestamp(mtime, tz=LOCAL_ZONE)
    if local.year < 1980:
        return (1980, 1, 1, 0, 0, 0)
    if local.year > 2107:
        return (2107, 12, 31, 23, 59, 58)
    return (local.year, local.month, local.day, local.hour, local.minute, local.second // 2 * 2)


def deflate_level6(data: bytes) -> bytes:
    """Raw deflate at zlib level 6, window 15, memLevel 8, default strategy."""
    compressor = zlib.compressobj(6, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY)
    return compressor.compress(data) + compressor.flush()


def level6_slack(data: bytes) -> int:
    """How much larger than zlib's level 6 in one stream an entry's deflated
    data may be: large files are compressed in blocks, in parallel, each
    primed with the 32 KiB before it and ended at a byte boundary."""
    return len(deflate_level6(data)) // 200 + 16


def assert_deflated(raw: bytes, data: bytes, crc: int, what: str) -> None:
    """What a reader relies on in a deflated entry: one whole raw deflate
    stream that inflates to exactly the content, the content's CRC, and a
    size no larger than zlib's default level gives (within half a percent).
    The exact bytes are no promise."""
    inflater = zlib.decompressobj(-15)
    assert inflater.decompress(raw) + inflater.flush() == data, f"{what}: does not inflate to its content"
    assert inflater.eof and not inflater.unused_data, f"{what}: not one whole deflate stream"
    assert crc == zlib.crc32(data), f"{what}: CRC {crc:#010x} is not its content's"
    level6 = len(deflate_level6(data))
    assert len(raw) <= level6 + level6_slack(data), \
        f"{what}: {len(raw)} bytes deflated, level 6 gives {level6}"


def utc_timestamp(*fields: int) -> float:
    return datetime.datetime(*fields, tzinfo=datetime.timezone.utc).timestamp()
