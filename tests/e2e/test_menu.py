"""The tray icon's menu as a person uses it: clicks on the icon, the four commands, the About dialog."""
import os
import time

import pytest
from PIL import Image

from harness import stays_away, wait_for
from lexitray_checks import (HOTKEY_TAKEN_AT_START, MOD_CONTROL, MOD_SHIFT, NIM_DELETE, TRAY_CALLBACK, TRAY_ICON_ID,
                             hotkey_free, notify_calls, prepared_profile, press_ok, wait_icon, wait_message_box)
from menu_steps import (ABOUT_CAPTION, WM_COMMAND, WORD_BOX_CAPTION, choose, include_relay, key, open_menu,
                        relay_calls, start_lexitray, visible_dialog, visible_menus, wait_dialog,
                        wait_foreground, wait_gone)

TPM_BOTTOMALIGN = 0x20
WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK = 0x200, 0x201, 0x202, 0x203
WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK = 0x204, 0x205, 0x206
SS_TYPEMASK, SS_BITMAP = 0x1F, 0xE
ES_MULTILINE, ES_READONLY, WS_VSCROLL, BS_DEFPUSHBUTTON = 0x4, 0x800, 0x200000, 0x1
WS_EX_TOPMOST = 0x8
BANNER = os.path.join(os.path.dirname(__file__), "..", "..", "res", "banner.bmp")
ID_ABOUT_TEXT = 1003


@pytest.fixture(autouse=True)
def traced(balloon_desktop):
    include_relay(balloon_desktop)


@pytest.mark.parametrize("button", [3, 1], ids=["right", "left"])
def test_click_opens_the_menu_at_the_cursor(desk, button):
    app, window, icon = start_lexitray(desk)
    time.sleep(0.5)
    menu, (x, y) = open_menu(desk, icon, button)
    # The pointer moves onto the menu, so the icon's tip goes and the screenshot shows every item.
    left, top, right, bottom = map(int, menu["rect"].split(","))
    desk.prefix.xvfb.xdotool("mousemove", "--sync", (left + right) // 2, top + 36)
    time.sleep(0.8)
    desk.screenshot("menu")
    tray = int(window["hwnd"], 16)
    track = relay_calls(app, "user32.TrackPopupMenu")
    assert len(track) == 1
    _, flags, at_x, at_y, _, owner, _ = track[0][0]
    assert (flags, at_x, at_y, owner) == (TPM_BOTTOMALIGN, x, y, tray)
    # The program comes to the foreground first, so that the menu closes when the user clicks elsewhere.
    calls = [(fn.split(".")[-1], args) for fn, args, _ in app.relay()
             if fn.split(".")[-1] in ("SetForegroundWindow", "TrackPopupMenu")]
    assert calls[-2] == ("SetForegroundWindow", [tray])
    # The cursor lies in the taskbar, so the menu sits just above it, over the cursor's column.
    assert left <= x <= right
    assert bottom <= y and y - bottom <= 25, f"menu {menu['rect']} is not above the cursor at {x},{y}"
    # A click elsewhere closes it without a command.
    desk.prefix.xvfb.click(500, 300)
    wait_for("the menu to close", lambda: not visible_menus(desk.prefix), timeout=5)
    assert app.running()
    assert stays_away(lambda: [w for w in desk.prefix.windows("#32770") if w["visible"] == "1"], 1.0), \
        "a click beside the menu opened a dialog"


def test_releases_double_clicks_and_moves_do_nothing(desk):
    app, window, icon = start_lexitray(desk)
    x, y = map(int, icon["rect"].split(",")[:2])
    desk.prefix.xvfb.xdotool("mousemove", "--sync", x + 3, y + 3)
    desk.prefix.xvfb.xdotool("mousemove", "--sync", x + 8, y + 8)
    for mouse in (WM_MOUSEMOVE, WM_LBUTTONUP, WM_RBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK):
        desk.prefix.probe("post", window["hwnd"], TRAY_CALLBACK, TRAY_ICON_ID, mouse)
    # A press on an icon of another identifier is not the program's.
    desk.prefix.probe("post", window["hwnd"], TRAY_CALLBACK, TRAY_ICON_ID + 1, WM_RBUTTONDOWN)
    assert stays_away(lambda: visible_menus(desk.prefix), 2.0)
    assert relay_calls(app, "user32.TrackPopupMenu") == []
    # The same message with a button press does open it.
    desk.prefix.probe("post", window["hwnd"], TRAY_CALLBACK, TRAY_ICON_ID, WM_LBUTTONDOWN)
    wait_for("the tray menu", lambda: visible_menus(desk.prefix), timeout=10)


@pytest.mark.smoke
def test_exit_removes_the_icon_and_ends_with_0(desk):
    app, window, icon = start_lexitray(desk)
    choose(desk, icon, "Exit")
    assert app.exit_code() == 0
    assert notify_calls(app)[-1] == (NIM_DELETE, 1)
    assert desk.prefix.icon_of(window["hwnd"]) is None
    assert all(w["class"] != "Lexitray" for w in desk.prefix.windows("Lexitray"))


def test_look_up_a_word_runs_the_hotkey_sequence_once_at_a_time(desk):
    app, window, icon = start_lexitray(desk)
    choose(desk, icon, "Look Up A Word")
    box = wait_dialog(desk.prefix, WORD_BOX_CAPTION)
    assert int(box["owner"], 16) == int(window["hwnd"], 16)
    desk.screenshot("word-box-from-menu")
    # While a look-up is on, neither the menu nor the hotkey opens a second box.
    desk.prefix.probe("post", window["hwnd"], WM_COMMAND, 40005, 0)
    key(desk, "ctrl+shift+d")
    assert stays_away(lambda: len([w for w in desk.prefix.windows(WORD_BOX_CAPTION) if w["visible"] == "1"]) > 1)
    wait_foreground(desk.prefix, WORD_BOX_CAPTION)
    key(desk, "Escape")
    wait_gone(desk.prefix, WORD_BOX_CAPTION)
    # Cancelled: the guard is clear again, and the hotkey opens the same box.
    key(desk, "ctrl+shift+d")
    wait_foreground(desk.prefix, WORD_BOX_CAPTION)
    key(desk, "Escape")
    wait_gone(desk.prefix, WORD_BOX_CAPTION)


def test_look_up_a_word_works_when_the_hotkey_is_held_elsewhere(desk):
    holder = desk.background_probe("holdhotkey", MOD_CONTROL | MOD_SHIFT, ord("D"), 120)
    assert holder.stdout.readline().strip() == "registered"
    desk.prefix.write_profile(prepared_profile())
    app = desk.start_app()
    box, _ = wait_message_box(desk.prefix, HOTKEY_TAKEN_AT_START)
    press_ok(desk.prefix, box)
    window = app.tray_window()
    icon = wait_icon(desk.prefix, window["hwnd"])
    choose(desk, icon, "Look Up A Word")
    wait_foreground(desk.prefix, WORD_BOX_CAPTION)
    key(desk, "Escape")
    wait_gone(desk.prefix, WORD_BOX_CAPTION)


def banner_matches(shot_path, rect):
    """Whether the screen shows res/banner.bmp at rect (a few pixels may differ from scaling or dithering)."""
    left, top, right, bottom = rect
    shown = Image.open(shot_path).convert("RGB").crop((left, top, right, bottom))
    banner = Image.open(BANNER).convert("RGB")
    if shown.size != banner.size:
        return False
    differing = sum(1 for a, b in zip(shown.getdata(), banner.getdata()) if max(abs(p - q) for p, q in zip(a, b)) > 8)
    return differing < banner.size[0] * banner.size[1] // 100


class TestAbout:
    def test_shows_banner_and_text(self, desk):
        app, window, icon = start_lexitray(desk)
        choose(desk, icon, "About")
        about = wait_dialog(desk.prefix, ABOUT_CAPTION)
        time.sleep(0.5)
        shot = desk.screenshot("about")
        assert int(about["owner"], 16) == int(window["hwnd"], 16)
        assert int(about["exstyle"], 16) & WS_EX_TOPMOST
        controls = desk.prefix.controls(about["hwnd"])
        assert [int(c["id"]) for c in controls] == [1, -1, ID_ABOUT_TEXT, -1]
        ok, banner, text, line = controls
        assert ok["text"] == "OK" and int(ok["style"], 16) & BS_DEFPUSHBUTTON
        assert int(banner["style"], 16) & SS_TYPEMASK == SS_BITMAP
        left, top, right, bottom = map(int, banner["rect"].split(","))
        assert (right - left, bottom - top) == (386, 66)
        assert banner_matches(shot, (left, top, right, bottom)), "the banner on screen is not res/banner.bmp"
        style = int(text["style"], 16)
        assert style & ES_MULTILINE and style & ES_READONLY and style & WS_VSCROLL
        words = text["text"]
        assert "DICT servers around the world" in words and "help" in words
        assert "\r\n\r\n" in words, "the text has no paragraphs"
        # The version CMake states for this build heads the text.
        with open(os.path.join(desk.prefix.build_dir, "version.txt")) as f:
            assert words.startswith(f"Lexitray {f.read().strip()}\r\n")

    def test_text_cannot_be_edited(self, desk):
        app, window, icon = start_lexitray(desk)
        choose(desk, icon, "About")
        about = wait_dialog(desk.prefix, ABOUT_CAPTION)
        before = [c for c in desk.prefix.controls(about["hwnd"]) if int(c["id"]) == ID_ABOUT_TEXT][0]
        left, top, right, bottom = map(int, before["rect"].split(","))
        desk.prefix.xvfb.click((left + right) // 2, (top + bottom) // 2)
        desk.prefix.xvfb.xdotool("type", "--delay", "60", "xyz")
        key(desk, "ctrl+End", "BackSpace")
        after = [c for c in desk.prefix.controls(about["hwnd"]) if int(c["id"]) == ID_ABOUT_TEXT][0]
        assert after["text"] == before["text"]
        key(desk, "Escape")
        wait_gone(desk.prefix, ABOUT_CAPTION)

    @pytest.mark.parametrize("how", ["ok", "enter", "escape", "close-box"])
    def test_ok_enter_escape_and_close_box_end_it(self, desk, how):
        app, window, icon = start_lexitray(desk)
        choose(desk, icon, "About")
        about = wait_dialog(desk.prefix, ABOUT_CAPTION)
        time.sleep(0.3)
        if how == "ok":
            ok = [c for c in desk.prefix.controls(about["hwnd"]) if int(c["id"]) == 1][0]
            left, top, right, bottom = map(int, ok["rect"].split(","))
            desk.prefix.xvfb.click((left + right) // 2, (top + bottom) // 2)
        elif how == "enter":
            key(desk, "Return")
        elif how == "escape":
            key(desk, "Escape")
        else:
            left, top, right, bottom = map(int, about["rect"].split(","))
            desk.prefix.xvfb.click(right - 12, top + 11)
        wait_gone(desk.prefix, ABOUT_CAPTION)
        # The program goes on as before.
        assert app.running()
        assert not hotkey_free(desk.prefix, MOD_CONTROL | MOD_SHIFT, ord("D"))
        assert visible_dialog(desk.prefix, ABOUT_CAPTION) is None
