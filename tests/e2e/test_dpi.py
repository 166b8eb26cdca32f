"""At 144 and 192 DPI: the About banner, the popup notice and the viewer's font are drawn for the DPI, and
every dialog is photographed for a person to look at."""
import os
import time

import pytest

from conftest import ARTIFACTS, BUILD_DIR, Session, desktop_session
from harness import WinePrefix, Xvfb, rect_of, DESKTOP_SIZE
from lexitray_checks import prepared_profile, wait_icon, watch_popup
from menu_steps import (ABOUT_CAPTION, SETTINGS_CAPTION, click_control, include_relay, key, profile_writes, send,
                        wait_dialog, wait_gone)
from test_lookup import ID_TEXT, look_up_typed, wait_viewer

IDM_ABOUT, IDM_SETTINGS = 40002, 40003
ID_FONT = 1002
WM_COMMAND = 0x111
EM_LINEINDEX, EM_POSFROMCHAR = 0xBB, 0xD6
SS_TYPEMASK, SS_BITMAP = 0x1F, 0xE
BANNER = (386, 66)   # pixels at 96 DPI
NOTICE = (299, 52)
NOTICE_TITLE_BOTTOM = 22  # where the picture's title ends, at 96 DPI
# Pixels per line of the viewer's font at 96 DPI: DejaVu Serif of height -13 needs at least 13.
FONT_HEIGHT = 13


def at(dpi, pixels):
    return round(pixels * dpi / 96)


class DpiPrefix(WinePrefix):
    """A prefix whose desktop grows with the DPI, as a real screen set to 150 or 200 % has the pixels for it."""

    def __init__(self, path, xvfb, build_dir, artifacts, dpi):
        super().__init__(path, xvfb, build_dir, artifacts, nt40=True)
        self.dpi = dpi
        self.size = xvfb.size

    def wine_command(self, *args):
        if len(args) == 2 and args[0] == "explorer.exe" and args[1].endswith(DESKTOP_SIZE):
            args = (args[0], f"/desktop=Default,{self.size}")
        return super().wine_command(*args)


@pytest.fixture(scope="module", params=[144, 192])
def dpi_desktop(request):
    """A prefix at the DPI (set where Wine 8 reads it: HKCU\\Control Panel\\Desktop LogPixels), reporting
    NT 4.0 so that the start-up hint comes as the popup notice."""
    dpi = request.param
    width, height = (int(v) for v in DESKTOP_SIZE.split("x"))
    xvfb = Xvfb(size=f"{at(dpi, width)}x{at(dpi, height)}").start()
    prefix = DpiPrefix(os.path.join(BUILD_DIR, f"e2e-wine-dpi{dpi}"), xvfb, BUILD_DIR, ARTIFACTS, dpi)

    def bring_up(prefix):
        prefix.ensure()
        prefix.wine("reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d",
                    str(dpi), "/f")
        prefix.wine("reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "Default", "/d", xvfb.size, "/f")
        prefix.server("-k")
        prefix.server("-w")
        prefix.start()
        include_relay(prefix)
    yield from desktop_session(xvfb, prefix, bring_up)


@pytest.fixture
def dpi_desk(dpi_desktop, request):
    session = Session(dpi_desktop, f"dpi{dpi_desktop.dpi}-{request.node.originalname}")
    session.clean_profile()
    yield session
    session.finish()


def start(desk, **profile):
    desk.prefix.write_profile(prepared_profile(**profile))
    app = desk.start_app()
    window = app.tray_window()
    wait_icon(desk.prefix, window["hwnd"])
    return app, window


def menu_command(desk, window, command):
    desk.prefix.probe("post", window["hwnd"], hex(WM_COMMAND), command, 0)


def size_of(rect):
    left, top, right, bottom = rect_of(rect)
    return right - left, bottom - top


def test_popup_notice_picture_and_text_fit_the_dpi(dpi_desk):
    dpi = dpi_desk.prefix.dpi
    # The start-up hint: the one window of the program with the popup's picture.
    watch = watch_popup(dpi_desk)
    app, window = start(dpi_desk)
    popup, controls = watch.shown()
    dpi_desk.screenshot("popup")
    assert int(popup["owner"], 16) == int(window["hwnd"], 16)
    picture = [c for c in controls if int(c["style"], 16) & SS_TYPEMASK == SS_BITMAP][0]
    text = [c for c in controls if c["id"] == "1001"][0]
    assert abs(size_of(picture["rect"])[0] - at(dpi, NOTICE[0])) <= 1
    assert abs(size_of(picture["rect"])[1] - at(dpi, NOTICE[1])) <= 1
    assert size_of(popup["rect"]) == size_of(picture["rect"]), "the popup and its picture differ in size"
    text_top = rect_of(text["rect"])[1] - rect_of(picture["rect"])[1]
    assert text_top >= at(dpi, NOTICE_TITLE_BOTTOM), "the status text runs into the picture's title"
    assert rect_of(text["rect"])[3] <= rect_of(picture["rect"])[3], "the status text runs out of the picture"


def test_about_banner_spans_the_dialog(dpi_desk):
    dpi = dpi_desk.prefix.dpi
    app, window = start(dpi_desk)
    menu_command(dpi_desk, window, IDM_ABOUT)
    about = wait_dialog(dpi_desk.prefix, ABOUT_CAPTION)
    time.sleep(0.5)
    dpi_desk.screenshot("about")
    controls = dpi_desk.prefix.controls(about["hwnd"])
    banner = [c for c in controls if c["class"] == "Static" and int(c["style"], 16) & SS_TYPEMASK == SS_BITMAP][0]
    ok = [c for c in controls if c["id"] == "1"][0]
    width, height = size_of(banner["rect"])
    assert abs(height - at(dpi, BANNER[1])) <= 1
    # The banner reaches the right edge of the dialog, where the OK button ends a few pixels short.
    assert width >= rect_of(ok["rect"])[2] - rect_of(banner["rect"])[0], "the banner stops short of the edge"


def test_viewer_font_keeps_its_size_in_points(dpi_desk):
    dpi = dpi_desk.prefix.dpi
    app, window = start(dpi_desk, hidedbdialog=1, font="DejaVu Serif", fontsize=-FONT_HEIGHT)
    look_up_typed(dpi_desk, "glimmerwort")
    viewer = wait_viewer(dpi_desk.prefix)
    time.sleep(0.5)
    dpi_desk.screenshot("viewer")
    second_line = send(dpi_desk.prefix, viewer, ID_TEXT, EM_LINEINDEX, 1)
    first_y = send(dpi_desk.prefix, viewer, ID_TEXT, EM_POSFROMCHAR, 0) >> 16
    second_y = send(dpi_desk.prefix, viewer, ID_TEXT, EM_POSFROMCHAR, second_line) >> 16
    assert second_line > 0, "the definition has one line only"
    assert second_y - first_y >= at(dpi, FONT_HEIGHT), "the configured font did not grow with the DPI"


def test_picked_font_is_stored_as_at_96_dpi(dpi_desk):
    # A 10-point font is 13 pixels high at 96 DPI, and must be stored so at any DPI: the viewer scales it.
    app, window = start(dpi_desk)
    menu_command(dpi_desk, window, IDM_SETTINGS)
    dialog = wait_dialog(dpi_desk.prefix, SETTINGS_CAPTION)
    time.sleep(0.3)
    dpi_desk.screenshot("settings")
    click_control(dpi_desk, dialog, ID_FONT)
    wait_dialog(dpi_desk.prefix, "Font")
    dpi_desk.prefix.xvfb.xdotool("type", "--delay", "60", "DejaVu Serif")
    key(dpi_desk, "Tab", "Tab")
    dpi_desk.prefix.xvfb.xdotool("type", "--delay", "60", "10")
    dpi_desk.screenshot("font-chooser")
    key(dpi_desk, "Return")
    wait_gone(dpi_desk.prefix, "Font")
    assert profile_writes(app)[-2:] == [("font", "DejaVu Serif"), ("fontsize", "-13")]


@pytest.mark.parametrize("command, caption", [(IDM_ABOUT, ABOUT_CAPTION), (IDM_SETTINGS, SETTINGS_CAPTION)],
                         ids=["about", "settings"])
def test_dialog_takes_the_rectangle_wm_dpichanged_suggests(desk, command, caption):
    # As when the dialog is dragged onto a 144 DPI monitor: the system suggests a rectangle half as
    # large again, and under per-monitor v1 awareness only the dialog itself can take it.
    app, window = start(desk)
    menu_command(desk, window, command)
    dialog = wait_dialog(desk.prefix, caption)
    left, top, right, bottom = rect_of(dialog["rect"])
    suggested = (left + 40, top + 30, left + 40 + at(144, right - left), top + 30 + at(144, bottom - top))
    assert ("dpichanged", {"sent": "1"}) in desk.prefix.probe("dpichanged", dialog["hwnd"], 144, *suggested)
    desk.screenshot(f"{caption}-dpichanged")
    assert rect_of(wait_dialog(desk.prefix, caption)["rect"]) == suggested
