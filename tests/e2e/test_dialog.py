"""The information dialog, shown by kelzar.exe started without arguments, on
a virtual display: its layout, fonts and colours as Win32 and a screenshot
report them, the cursor over its labels, the "Author" link, and the keys
that must or must not close it."""

import time

import pytest

from dialog_support import (ARTIFACTS, GuiSession, InfoDialog, Rect, missing_dialog_tools,
                            read_pixels, wait_until)

WEB_SITE = "https://example.org/kelzar"
LABELS_IN_ORDER = [201, 202, 203, 204, 205, 206, 237, 210]
# Dialog units: x, y, width, height.
LABEL_UNITS = {
    201: (5, 12, 176, 12), 202: (5, 24, 146, 8), 203: (5, 38, 185, 10), 204: (5, 48, 60, 8),
    205: (5, 56, 60, 8), 206: (5, 64, 130, 8), 237: (150, 50, 130, 10), 210: (5, 100, 390, 290),
}
LABEL_TEXT_LENGTHS = {
    201: len("Kelzar"), 202: len("Version 1.0"), 203: len("Kelzar project"),
    204: len("Made with zlib"), 205: len("and minizip"), 206: len("Email: kelzar@example.org"),
    237: len("Author"), 210: 632,
}
BLACK, WHITE, CYAN, GREEN = (0, 0, 0), (255, 255, 255), (0, 255, 255), (0, 255, 0)
LABEL_COLOURS = {201: CYAN, 202: CYAN, 203: WHITE, 204: WHITE, 205: WHITE, 206: WHITE,
                 237: GREEN, 210: WHITE}
LINK = 237

WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0x00C00000, 0x00080000, 0x00040000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x00020000, 0x00010000
DS_MODALFRAME, DS_CENTER, DS_SETFONT, DS_3DLOOK, DS_NOFAILCREATE = 0x80, 0x800, 0x40, 0x4, 0x10
LABEL_STYLE = 0x50000000  # WS_CHILD | WS_VISIBLE | SS_LEFT, no SS_NOTIFY


@pytest.fixture(scope="session")
def gui(tmp_path_factory):
    missing = missing_dialog_tools()
    if missing:
        pytest.fail(f"dialog tests need {', '.join(missing)} (make build; scripts/bootstrap.sh)")
    session = GuiSession(tmp_path_factory.mktemp("gui"))
    try:
        session.start()
        yield session
    finally:
        session.stop()


@pytest.fixture
def dialog(gui, request):
    shown = InfoDialog(gui, request.node.name)
    try:
        yield shown
    finally:
        shown.close()


def mul_div(number: int, numerator: int, denominator: int) -> int:
    """Win32 MulDiv: the quotient rounded half away from zero."""
    return (2 * number * numerator + denominator) // (2 * denominator)


def base_units(client: Rect) -> tuple[int, int]:
    """The dialog's base units, from its 400 x 280 dialog-unit client area."""
    (horizontal,) = [b for b in range(1, 64) if mul_div(400, b, 4) == client.width]
    (vertical,) = [b for b in range(1, 64) if mul_div(280, b, 8) == client.height]
    return horizontal, vertical


def test_window_and_labels_are_laid_out_in_dialog_units(dialog):
    d = dialog.dialog
    assert bytes.fromhex(d["class"]) == b"#32770", "a dialog of the system's dialog class"
    assert d["visible"] == "1"
    style = int(d["style"], 16)
    wanted = WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_3DLOOK | DS_NOFAILCREATE
    assert style & wanted == wanted, f"style {style:08x}"
    assert style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX) == 0, "not resizable, no min/max box"

    horizontal, vertical = base_units(dialog.client())
    window_centre = (int(d["windowx"]) + int(d["windowwidth"]) / 2,
                     int(d["windowy"]) + int(d["windowheight"]) / 2)
    work_centre = (int(d["workx"]) + int(d["workwidth"]) / 2,
                   int(d["worky"]) + int(d["workheight"]) / 2)
    assert abs(window_centre[0] - work_centre[0]) <= 1 and abs(window_centre[1] - work_centre[1]) <= 1, \
        f"not centred on the work area: {window_centre} vs {work_centre}"

    assert d["order"] == LABELS_IN_ORDER, "labels missing, extra or created in another order"
    for control_id, (x, y, width, height) in LABEL_UNITS.items():
        control = dialog.controls[control_id]
        assert bytes.fromhex(control["class"]).lower() == b"static", control_id
        assert int(control["style"], 16) == LABEL_STYLE, f"label {control_id} style {control['style']}"
        assert int(control["exstyle"], 16) == 0, f"label {control_id} extended style"
        assert int(control["textlength"]) == LABEL_TEXT_LENGTHS[control_id], f"label {control_id} text"
        left, top = mul_div(x, horizontal, 4), mul_div(y, vertical, 8)
        expected = Rect(left, top, mul_div(x + width, horizontal, 4) - left,
                        mul_div(y + height, vertical, 8) - top)
        assert dialog.label_rect(control_id) == expected, f"label {control_id} rectangle"


def test_label_fonts_at_96_dpi(dialog):
    screen, fonts = dialog.fonts()
    assert screen["dpi"] == "96", "the heights below hold at 96 dpi"
    expected = {
        "201": ("Arial", -16, 800, 0, 0),
        "202": ("Arial", -13, 600, 0, 0),
        "203": ("Arial", -13, 600, 0, 0),
        "237": ("Arial", -13, 600, 1, 1),
        "210": ("System", -10, 100, 0, 0),
    }
    for control_id, (face, height, weight, italic, underline) in expected.items():
        font = fonts[control_id]
        assert "font" not in font, f"label {control_id} has no font of its own: {font}"
        assert bytes.fromhex(font["face"]).decode() == face, control_id
        assert (int(font["fontheight"]), int(font["fontweight"])) == (height, weight), control_id
        assert (int(font["italic"]), int(font["underline"])) == (italic, underline), control_id
        assert (font["fontwidth"], font["strikeout"], font["charset"]) == ("0", "0", "0"), control_id
    dialog_font = fonts["dialog"]
    assert bytes.fromhex(dialog_font["face"]).decode() == "MS Sans Serif"
    assert int(dialog_font["fontheight"]) == -11, "8 points at 96 dpi"
    for control_id in ("204", "205", "206"):
        assert {k: v for k, v in fonts[control_id].items() if k != "id"} == \
            {k: v for k, v in dialog_font.items() if k != "id"}, f"label {control_id} keeps the dialog font"


def is_shade_of(pixel, colour) -> bool:
    """True for the colour itself, black, or an antialiasing blend of the two."""
    bright = max(colour)
    level = max(pixel)
    return all(abs(p - c * level / bright) <= 2 for p, c in zip(pixel, colour))


def test_screenshot_shows_coloured_labels_on_black(gui, dialog):
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    screen_png = gui.root / "screen.png"
    # Keep the pointer off the dialog, so that the picture shows it at rest.
    gui.display.xdotool("mousemove", "0", "767")
    time.sleep(0.5)
    gui.display.screenshot(screen_png)
    client = dialog.client()
    artifact = ARTIFACTS / "dialog.png"
    gui.display.run("convert", str(screen_png), "-crop",
                    f"{client.width}x{client.height}+{client.x}+{client.y}", "+repage", str(artifact))
    width, height, rgb = read_pixels(artifact)
    assert (width, height) == (client.width, client.height)

    def pixel(x, y):
        i = (y * width + x) * 3
        return tuple(rgb[i:i + 3])

    rects = {control_id: dialog.label_rect(control_id) for control_id in LABEL_COLOURS}
    full_colour = dict.fromkeys(LABEL_COLOURS, 0)
    for y in range(height):
        for x in range(width):
            value = pixel(x, y)
            owners = [control_id for control_id, rect in rects.items() if rect.contains(x, y)]
            if not owners:
                assert value == BLACK, f"background at ({x}, {y}) is {value}, not black"
                continue
            (owner,) = owners
            colour = LABEL_COLOURS[owner]
            assert is_shade_of(value, colour), f"label {owner} at ({x}, {y}) shows {value}, not {colour} on black"
            full_colour[owner] += value == colour
    for control_id, count in full_colour.items():
        assert count >= 20, f"label {control_id} shows almost no text in its colour ({count} pixels)"
    black = sum(1 for y in range(height) for x in range(width) if pixel(x, y) == BLACK)
    assert black > 0.8 * width * height, "the dialog is not mostly black"


def test_hand_cursor_over_author_only(gui, dialog):
    with gui.reference_cursors() as reference:
        hand, arrow = reference["hand"], reference["arrow"]
    assert hand != arrow, "the display draws hand and arrow alike; this test cannot tell them apart"
    link = dialog.label_rect(LINK)
    background = (dialog.client().width - 10, 10)
    for control_id, point, expected, name in [
        (LINK, link.centre(), hand, "hand"),
        (201, dialog.label_rect(201).centre(), arrow, "arrow"),
        (None, background, arrow, "arrow"),
        (LINK, (link.x + 2, link.y + 2), hand, "hand"),
        (206, dialog.label_rect(206).centre(), arrow, "arrow"),
        (210, dialog.label_rect(210).centre(), arrow, "arrow"),
    ]:
        where = f"label {control_id}" if control_id else "the bare background"
        assert dialog.cursor_at(*point) == expected, f"over {where} the cursor must be the {name}"


def test_author_opens_the_web_site_and_the_dialog_stays(gui, dialog):
    gui.browser_log.unlink(missing_ok=True)
    dialog.click_at(dialog.client().width - 10, 10)  # the bare background: nothing happens
    link = dialog.label_rect(LINK).centre()
    dialog.click_at(*link)
    wait_until(lambda: len(gui.browser_addresses()) >= 1, "the browser to be started", timeout=20)
    assert gui.browser_addresses() == [WEB_SITE]
    assert dialog.is_open(), "a press on Author must leave the dialog open"
    # A second press soon after at the same place would be a double click.
    time.sleep(1)
    dialog.click_at(*link)
    wait_until(lambda: len(gui.browser_addresses()) >= 2, "the browser to be started again", timeout=20)
    time.sleep(1)
    assert gui.browser_addresses() == [WEB_SITE, WEB_SITE], "one address per press on Author, none elsewhere"
    assert dialog.is_open()


def test_esc_and_enter_leave_it_open_alt_f4_closes_it(dialog):
    for key in ("Escape", "Return", "KP_Enter"):
        dialog.key(key)
        time.sleep(0.7)
        assert dialog.is_open(), f"{key} must not close the dialog"
    # The same way of delivering keys does reach the dialog: Alt+F4 closes it.
    dialog.key("alt+F4")
    assert dialog.wait_exit(timeout=20) == 1, "after the dialog the exit code is 1"
