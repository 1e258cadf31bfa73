"""Showing kelzar.exe's information dialog on a virtual X display and
looking at it from outside: Xvfb for the display, xdotool for the pointer and
keys, ImageMagick for screenshots, XFixes for the cursor image, and the
kzdialog helper for what Win32 reports about the window.

Dialog tests need a display from the start of their Wine session (Wine
chooses its graphics driver when the session's desktop starts), so they run
in a Wine session of their own, separate from the headless one of the other
tests.
"""

from __future__ import annotations

import contextlib
import ctypes
import os
import select
import shutil
import subprocess
import time
from dataclasses import dataclass
from pathlib import Path

from kelzar_harness import BUILD, REPO, WineError, WineSession, hex_arg, unix_to_win

DIALOG_HELPERS = ("kzdialog.exe", "kzdialoghook.dll")
CAPTION = "Kelzar"
ARTIFACTS = REPO / "build" / "artifacts"
COMMAND_TIMEOUT = 30


def missing_dialog_tools() -> list[str]:
    missing = [name for name in ("Xvfb", "xdotool", "import", "convert") if shutil.which(name) is None]
    missing += [str(BUILD / name) for name in DIALOG_HELPERS if not (BUILD / name).is_file()]
    return missing


class XDisplay:
    """An Xvfb server on a display number it picks itself."""

    def __init__(self, logs: Path):
        self.logs = logs
        self.process: subprocess.Popen | None = None
        self.name = ""

    def start(self) -> None:
        read_end, write_end = os.pipe()
        with open(self.logs / "xvfb.log", "wb") as log:
            self.process = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
            )
        os.close(write_end)
        try:
            number = b""
            deadline = time.monotonic() + COMMAND_TIMEOUT
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    raise WineError("Xvfb did not report its display")
                number += chunk
        finally:
            os.close(read_end)
        self.name = f":{int(number)}"

    def stop(self) -> None:
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=COMMAND_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def env(self) -> dict[str, str]:
        return {**os.environ, "DISPLAY": self.name}

    def run(self, *argv: str) -> str:
        done = subprocess.run(list(argv), env=self.env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=COMMAND_TIMEOUT)
        if done.returncode != 0:
            raise WineError(f"{argv[0]} failed: {done.stderr.decode(errors='replace')}")
        return done.stdout.decode(errors="replace")

    def xdotool(self, *args: str) -> str:
        return self.run("xdotool", *args)

    def screenshot(self, target: Path) -> None:
        self.run("import", "-window", "root", str(target))

    def cursor_image(self) -> tuple[int, int, int, int, bytes]:
        """The cursor the display shows now: width, height, hot spot, ARGB pixels."""
        return read_cursor_image(self.name)


class _XFixesCursorImage(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_short), ("y", ctypes.c_short),
        ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
        ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
        ("cursor_serial", ctypes.c_ulong),
        ("pixels", ctypes.POINTER(ctypes.c_ulong)),
        ("atom", ctypes.c_ulong),
        ("name", ctypes.c_char_p),
    ]


def read_cursor_image(display: str) -> tuple[int, int, int, int, bytes]:
    x11 = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_XFixesCursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise WineError(f"cannot open display {display}")
    try:
        pointer = xfixes.XFixesGetCursorImage(connection)
        if not pointer:
            raise WineError("XFixes gives no cursor image")
        image = pointer.contents
        count = image.width * image.height
        # Each pixel is one ARGB value in a C long.
        pixels = b"".join(int(image.pixels[i] & 0xFFFFFFFF).to_bytes(4, "little") for i in range(count))
        result = (image.width, image.height, image.xhot, image.yhot, pixels)
        x11.XFree(pointer)
        return result
    finally:
        x11.XCloseDisplay(connection)


def parse_fields(line: str) -> dict[str, str]:
    kind, *pairs = line.rstrip("\r\n").split("\t")
    fields = {"kind": kind}
    for pair in pairs:
        key, _, value = pair.partition("=")
        fields[key] = value
    return fields


@dataclass
class Rect:
    x: int
    y: int
    width: int
    height: int

    def centre(self) -> tuple[int, int]:
        return self.x + self.width // 2, self.y + self.height // 2

    def contains(self, x: int, y: int) -> bool:
        return self.x <= x < self.x + self.width and self.y <= y < self.y + self.height


class GuiSession:
    """A Wine session on a virtual display, with the dialog helpers installed
    and Wine's browser setting pointed at a script that records addresses."""

    def __init__(self, root: Path):
        self.root = root
        root.mkdir(parents=True, exist_ok=True)
        self.display = XDisplay(root)
        self.wine = WineSession(root / "wine")
        self.browser_log = root / "browser.log"

    def start(self) -> None:
        self.display.start()
        self.wine.env["DISPLAY"] = self.display.name
        self.wine.start()
        for name in DIALOG_HELPERS:
            shutil.copy2(BUILD / name, self.wine.bin_dir / name)
        script = self.root / "browser.sh"
        script.write_text(f'#!/bin/sh\nprintf "%s\\n" "$1" >> "{self.browser_log}"\n')
        script.chmod(0o755)
        self.wine.call("reg", "add", r"HKCU\Software\Wine\WineBrowser",
                       "/v", "Browsers", "/d", str(script), "/f", label="browser-setting")

    def stop(self) -> None:
        try:
            self.wine.stop()
        finally:
            self.display.stop()

    def browser_addresses(self) -> list[str]:
        if not self.browser_log.exists():
            return []
        return self.browser_log.read_text().splitlines()

    def helper(self, args: list[str], label: str) -> str:
        result = self.wine.run("kzdialog.exe", args, label, timeout=COMMAND_TIMEOUT)
        if result.code != 0:
            raise WineError(f"kzdialog {args[0]} failed ({result.code}): {result.stderr}")
        return result.stdout

    @contextlib.contextmanager
    def reference_cursors(self):
        """Windows whose class cursors are the system hand and arrow; yields the
        cursor images the display shows over each, as {"hand": ..., "arrow": ...}."""
        tag = time.monotonic_ns()
        ready = self.root / f"cursors-{tag}.ready"
        release = self.root / f"cursors-{tag}.release"
        process = self.wine.spawn("kzdialog.exe", ["cursors", hex_arg(unix_to_win(ready)),
                                                   hex_arg(unix_to_win(release)), "60000"], "cursors")
        try:
            wait_until(lambda: ready.exists() or process.poll() is not None, "reference cursors")
            if not ready.exists():
                raise WineError(f"kzdialog cursors exited with {process.returncode}")
            images = {}
            for line in ready.read_text().splitlines():
                kind, x, y, width, height = line.split()
                area = Rect(int(x), int(y), int(width), int(height))
                images[kind] = self.settled_cursor_at(*area.centre())
            yield images
        finally:
            release.touch()
            try:
                process.wait(timeout=COMMAND_TIMEOUT)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def settled_cursor_at(self, x: int, y: int):
        """Moves the pointer to a screen point and returns the cursor image once
        it has stopped changing."""
        self.display.xdotool("mousemove", str(x), str(y))
        previous = None
        deadline = time.monotonic() + 5
        while True:
            time.sleep(0.25)
            current = self.display.cursor_image()
            if current == previous or time.monotonic() > deadline:
                return current
            previous = current


def wait_until(condition, what: str, timeout: float = COMMAND_TIMEOUT, step: float = 0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise WineError(f"timed out waiting for {what}")
        time.sleep(step)


class InfoDialog:
    """kelzar.exe started without arguments, showing its dialog."""

    def __init__(self, session: GuiSession, label: str):
        self.session = session
        self.process = session.wine.spawn("kelzar.exe", [], label)
        self.window = wait_until(self._find_window, "the dialog to appear", timeout=60)
        self.dialog, self.controls = self.inspect()

    def _find_window(self) -> str | None:
        if self.process.poll() is not None:
            raise WineError(f"kelzar.exe exited with {self.process.returncode} before showing the dialog")
        done = subprocess.run(["xdotool", "search", "--name", f"^{CAPTION}$"],
                              env=self.session.display.env(), capture_output=True,
                              timeout=COMMAND_TIMEOUT)
        windows = done.stdout.decode().split()
        return windows[0] if windows else None

    def inspect(self) -> tuple[dict, dict[int, dict]]:
        lines = self.session.helper(["inspect", hex_arg(CAPTION)], "inspect").splitlines()
        records = [parse_fields(line) for line in lines if line.strip()]
        (dialog,) = [r for r in records if r["kind"] == "dialog"]
        controls = {int(r["id"]): r for r in records if r["kind"] == "control"}
        control_order = [int(r["id"]) for r in records if r["kind"] == "control"]
        dialog["order"] = control_order
        return dialog, controls

    def fonts(self) -> tuple[dict, dict[str, dict]]:
        lines = self.session.helper(["fonts", hex_arg(CAPTION), "10000"], "fonts").splitlines()
        records = [parse_fields(line) for line in lines if line.strip()]
        (screen,) = [r for r in records if r["kind"] == "screen"]
        return screen, {r["id"]: r for r in records if r["kind"] == "font"}

    def client(self) -> Rect:
        d = self.dialog
        return Rect(int(d["x"]), int(d["y"]), int(d["width"]), int(d["height"]))

    def label_rect(self, control_id: int) -> Rect:
        c = self.controls[control_id]
        return Rect(int(c["x"]), int(c["y"]), int(c["width"]), int(c["height"]))

    def to_screen(self, x: int, y: int) -> tuple[int, int]:
        client = self.client()
        return client.x + x, client.y + y

    def is_open(self) -> bool:
        return self.process.poll() is None and self._find_window() is not None

    def focus(self) -> None:
        self.session.display.xdotool("windowfocus", "--sync", self.window)

    def key(self, name: str) -> None:
        self.focus()
        self.session.display.xdotool("key", name)

    def click_at(self, x: int, y: int) -> None:
        """Moves the pointer to a client point, then presses and releases the left button."""
        sx, sy = self.to_screen(x, y)
        self.session.display.xdotool("mousemove", str(sx), str(sy))
        time.sleep(0.2)
        self.session.display.xdotool("click", "1")

    def cursor_at(self, x: int, y: int):
        return self.session.settled_cursor_at(*self.to_screen(x, y))

    def wait_exit(self, timeout: float = COMMAND_TIMEOUT) -> int:
        return self.process.wait(timeout=timeout)

    def close(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=COMMAND_TIMEOUT)


def read_pixels(png: Path) -> tuple[int, int, bytes]:
    """Width, height and RGB bytes of an image, through ImageMagick."""
    done = subprocess.run(["convert", str(png), "-depth", "8", "ppm:-"], capture_output=True,
                          timeout=COMMAND_TIMEOUT, check=True)
    data = done.stdout
    # Binary PPM: "P6", width, height, maximum value, each followed by whitespace.
    fields = []
    position = 0
    while len(fields) < 4:
        while data[position:position + 1].isspace():
            position += 1
        start = position
        while not data[position:position + 1].isspace():
            position += 1
        fields.append(data[start:position])
    position += 1
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[position:position + width * height * 3]
