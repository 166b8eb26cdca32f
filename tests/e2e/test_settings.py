"""The Settings dialog as a person uses it: what it opens with, and what Save, Cancel and the font chooser change."""
import time

import pytest

from harness import wait_for
from lexitray_checks import (HOTKEY_ID, MOD_ALT, MOD_CONTROL, MOD_SHIFT, box_has_icon, hotkey_calls, hotkey_free,
                             prepared_profile, press_ok, wait_balloon, wait_icon, wait_message_box)
from menu_steps import (CB_GETCOUNT, CB_GETCURSEL, HOTKEYF_ALT, HOTKEYF_CONTROL, HOTKEYF_SHIFT, SETTINGS_CAPTION,
                        WORD_BOX_CAPTION, choose, click_control, controls_by_id, hotkey_value, include_relay, key,
                        profile_writes, relay_calls, send, start_lexitray, visible_dialog, wait_dialog,
                        wait_gone)

ID_SAVE, ID_CANCEL, ID_FONT, ID_HOTKEY, ID_SERVER, ID_STARTUP, ID_HIDEDB = 1, 2, 1002, 1004, 1015, 1016, 1017
ID_KEEPCLIPBOARD, ID_BASEFORMS, ID_SUGGEST, ID_ONEPAGE, ID_KEEPWORDS = 1020, 1021, 1022, 1030, 1026
EMPTY_HOTKEY = "Please enter a hotkey to use with Lexitray"
TAKEN = "Failed to register hotkey!\nError: That hotkey is already registered to another application."
SAVE_ORDER = ["startup", "control", "shift", "alt", "hidedbdialog", "letter", "server", "keepclipboard", "lookahead",
              "onepage", "keepwords", "baseforms", "suggest", "offline"]
EXPLANATION = ("When you search for a word, it may be found in more than one dictionary, and a dialog will appear "
               "asking which you would like to use. If you want to hide that dialog, and just use the first "
               "dictionary found, check this box:")

# The template, in tab order: id, class, text (None: not fixed), x, y, w, h in dialog units (h None: the
# drop-down list's height includes its list).
TEMPLATE = [
    (1, "Button", "Save Settings", 94, 294, 59, 15),
    (2, "Button", "Cancel", 170, 294, 59, 15),
    (-1, "Button", "Hot Key Selection", 7, 46, 310, 33),
    (-1, "Button", "DICT Server", 7, 7, 310, 33),
    (1015, "ComboBox", None, 15, 19, 293, None),
    (-1, "Button", "Miscellaneous", 7, 198, 310, 91),
    (1016, "Button", "Start Lexitray with Windows", 16, 213, 115, 10),
    (1020, "Button", "Put my clipboard back after capturing a word", 16, 228, 175, 10),
    (1024, "Button", "Start looking up the selected word at once", 16, 243, 175, 10),
    (1030, "Button", "Show all definitions on one page", 16, 258, 175, 10),
    (1026, "Button", "Remember the words I look up", 16, 273, 175, 10),
    (-1, "Button", "Dictionary Options", 7, 86, 310, 105),
    (1017, "Button", "Hide Dictionary Selection dialog", 104, 127, 115, 10),
    (1021, "Button", "Look up the base form of inflected words", 16, 143, 175, 10),
    (1022, "Button", "Suggest similar words", 16, 157, 175, 10),
    (-1, "Static", "Offline dictionaries:", 16, 174, 70, 8),
    (1023, "ComboBox", None, 90, 172, 140, None),
    (-1, "Static", EXPLANATION, 15, 98, 293, 24),
    (1002, "Button", "Pick Definition Font", 199, 209, 109, 15),
    (1004, "msctls_hotkey32", "", 192, 58, 114, 12),
    (-1, "Static", "Enter the hotkey you wish to use with Lexitray:", 20, 60, 162, 8),
]
BS_TYPEMASK, BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX = 0xF, 0x0, 0x1, 0x3, 0x7
CBS_TYPEMASK, CBS_DROPDOWNLIST, WS_TABSTOP = 0x3, 0x3, 0x10000
TAB_STOPS = {1, 2, 1015, 1016, 1020, 1024, 1030, 1026, 1017, 1021, 1022, 1023, 1002, 1004}


@pytest.fixture(autouse=True)
def traced(balloon_desktop):
    include_relay(balloon_desktop)


def open_settings(desk, icon):
    choose(desk, icon, "Settings")
    dialog = wait_dialog(desk.prefix, SETTINGS_CAPTION)
    time.sleep(0.3)
    return dialog


def type_hotkey(desk, dialog, *keys):
    click_control(desk, dialog, ID_HOTKEY)
    time.sleep(0.2)
    key(desk, *keys)
    time.sleep(0.3)


def save(desk, dialog):
    click_control(desk, dialog, ID_SAVE)


def hotkey_control(flags, letter):
    return flags * 256 + ord(letter)


def word_box_open(prefix):
    """The word box once it is up in the foreground, where a key pressed now reaches it."""
    return [w for w in prefix.windows(WORD_BOX_CAPTION) if w["visible"] == "1" and w.get("foreground") == "1"]


def presses_open_word_box(desk, keys):
    key(desk, keys)
    try:
        box = wait_for("the word box", lambda: word_box_open(desk.prefix), timeout=5)[0]
    except Exception:
        return False
    # Closed with its Cancel button: what is checked is that the hotkey opens it.
    desk.prefix.probe("press", box["hwnd"], 2)
    wait_gone(desk.prefix, WORD_BOX_CAPTION)
    return True


class TestOpening:
    def test_controls_texts_and_positions_of_the_template(self, desk):
        app, window, icon = start_lexitray(desk)
        dialog = open_settings(desk, icon)
        desk.screenshot("settings")
        assert dialog["owner"] == "0x0", "the settings dialog has an owner"
        controls = desk.prefix.controls(dialog["hwnd"])
        assert [(int(c["id"]), c["class"]) for c in controls] == [(t[0], t[1]) for t in TEMPLATE]
        for control, (cid, cls, text, *_rest) in zip(controls, TEMPLATE):
            if text is not None:
                assert control["text"] == text
            style = int(control["style"], 16)
            assert bool(style & WS_TABSTOP) == (cid in TAB_STOPS), f"tab stop of {control['text']!r}"
        styles = {int(c["id"]): int(c["style"], 16) for c in controls if int(c["id"]) != -1}
        assert styles[1] & BS_TYPEMASK == BS_PUSHBUTTON, "Save Settings must not be the default button"
        assert all(styles[box] & BS_TYPEMASK == BS_AUTOCHECKBOX
                   for box in (1016, 1017, 1020, 1021, 1022, 1024, 1026, 1030))
        assert styles[1015] & CBS_TYPEMASK == CBS_DROPDOWNLIST
        assert styles[1023] & CBS_TYPEMASK == CBS_DROPDOWNLIST
        # Dialog units to pixels, from two controls far apart; every other control must fall in place.
        rects = [tuple(map(int, c["rect"].split(","))) for c in controls]
        save_rect, cancel_rect, server_group = rects[0], rects[1], rects[3]
        sx = (cancel_rect[0] - save_rect[0]) / (170 - 94)
        sy = (save_rect[1] - server_group[1]) / (294 - 7)
        ox, oy = save_rect[0] - 94 * sx, save_rect[1] - 294 * sy
        for rect, (cid, _, text, x, y, w, h) in zip(rects, TEMPLATE):
            where = (round(ox + x * sx), round(oy + y * sy), round(w * sx), round(h * sy) if h else None)
            shown = (rect[0], rect[1], rect[2] - rect[0], rect[3] - rect[1] if h else None)
            assert all(abs(a - b) <= 2 for a, b in zip(shown, where) if a is not None), \
                f"{text or cid}: at {shown}, template says {where}"
        # Centred on the screen.
        left, top, right, bottom = map(int, dialog["rect"].split(","))
        assert abs((left + right) // 2 - 512) <= 2

    @pytest.mark.parametrize("profile, server, startup, hidedb, keep, flags, letter", [
        (dict(), 1, 1, 0, 0, HOTKEYF_CONTROL | HOTKEYF_SHIFT, "D"),
        (dict(server=3, startup=0, hidedbdialog=1, keepclipboard=1, control=1, shift=0, alt=0, letter="X"), 3, 0, 1,
         1, HOTKEYF_CONTROL, "X"),
        (dict(server=16, startup=2, hidedbdialog=2, keepclipboard=2, control=0, shift=0, alt=1, letter="Q"), 16, 0,
         0, 0, HOTKEYF_ALT, "Q"),
    ], ids=["defaults", "ctrl-x-startup-off-hidedb-keep-on", "alt-q-twos-count-as-off"])
    def test_shows_the_configured_values(self, desk, profile, server, startup, hidedb, keep, flags, letter):
        app, window, icon = start_lexitray(desk, **profile)
        dialog = open_settings(desk, icon)
        assert send(desk.prefix, dialog, ID_SERVER, CB_GETCOUNT) == 17
        assert send(desk.prefix, dialog, ID_SERVER, CB_GETCURSEL) == server
        controls = controls_by_id(desk.prefix, dialog)
        assert (controls[ID_STARTUP]["checked"], controls[ID_HIDEDB]["checked"],
                controls[ID_KEEPCLIPBOARD]["checked"]) == (str(startup), str(hidedb), str(keep))
        assert hotkey_value(desk.prefix, dialog, ID_HOTKEY) == hotkey_control(flags, letter)

    def test_startup_missing_opens_ticked(self, desk):
        profile = prepared_profile()
        del profile["startup"]
        desk.prefix.write_profile(profile)
        app = desk.start_app()
        window = app.tray_window()
        icon = wait_icon(desk.prefix, window["hwnd"])
        dialog = open_settings(desk, icon)
        assert controls_by_id(desk.prefix, dialog)[ID_STARTUP]["checked"] == "1"

    def test_list_holds_the_seeded_server_texts_not_the_files(self, desk):
        # A first run seeds the file with the built-in entries: those are the texts the list must show.
        app = desk.start_app()
        window = app.tray_window()
        wait_icon(desk.prefix, window["hwnd"])
        seeded = [value for key_, value in desk.prefix.read_profile() if key_.startswith("server") and key_ != "server"]
        app.stop()
        assert len(seeded) == 17
        app, window, icon = start_lexitray(desk, server=0)  # entries in the file now say "hostN.example : ..."
        dialog = open_settings(desk, icon)
        click_control(desk, dialog, ID_SERVER)  # drops the list down
        key(desk, "Escape")
        shown = []
        for index in range(17):
            shown.append(controls_by_id(desk.prefix, dialog)[ID_SERVER]["text"])
            key(desk, "Down")
        assert shown == seeded


class TestSave:
    @pytest.mark.smoke
    def test_new_hotkey_is_written_in_order_registered_and_named(self, desk):
        app, window, icon = start_lexitray(desk)
        tray = int(window["hwnd"], 16)
        dialog = open_settings(desk, icon)
        type_hotkey(desk, dialog, "alt+q")
        assert hotkey_value(desk.prefix, dialog, ID_HOTKEY) == hotkey_control(HOTKEYF_ALT, "Q")
        writes_before = len(profile_writes(app))
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        # The tip and a 3-second balloon name the new hotkey.
        hint = "Press Alt+Q to look up a word."
        assert wait_icon(desk.prefix, window["hwnd"], tip=hint)
        assert wait_balloon(desk.prefix, window["hwnd"])["info"] == hint
        desk.screenshot("hint-after-save")
        writes = profile_writes(app)[writes_before:]
        written = ["1", "0", "0", "1", "0", "Q", "1", "0", "1", "0", "0", "1", "1", "1"]
        assert len(written) == len(SAVE_ORDER) and writes == list(zip(SAVE_ORDER, written))
        # The old hotkey is released and the new one registered for the tray window.
        assert relay_calls(app, "user32.UnregisterHotKey")[-1][0] == [tray, HOTKEY_ID]
        assert hotkey_calls(app)[-1] == ([tray, HOTKEY_ID, MOD_ALT, ord("Q")], 1)
        assert hotkey_free(desk.prefix, MOD_CONTROL | MOD_SHIFT, ord("D"))
        assert not presses_open_word_box(desk, "ctrl+shift+d")
        assert presses_open_word_box(desk, "alt+q")
        values = dict(desk.prefix.read_profile())
        assert {k: values[k] for k in SAVE_ORDER} == dict(zip(SAVE_ORDER, written))

    def test_key_without_modifier_is_saved_with_ctrl_shift(self, desk):
        app, window, icon = start_lexitray(desk)
        dialog = open_settings(desk, icon)
        type_hotkey(desk, dialog, "k")
        assert hotkey_value(desk.prefix, dialog, ID_HOTKEY) == hotkey_control(HOTKEYF_CONTROL | HOTKEYF_SHIFT, "K")
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        values = dict(desk.prefix.read_profile())
        assert (values["control"], values["shift"], values["alt"], values["letter"]) == ("1", "1", "0", "K")
        assert hotkey_calls(app)[-1][0][2:] == [MOD_CONTROL | MOD_SHIFT, ord("K")]
        assert wait_icon(desk.prefix, window["hwnd"], tip="Press Ctl+Shift+K to look up a word.")

    def test_empty_hotkey_is_refused_and_changes_nothing(self, desk):
        app, window, icon = start_lexitray(desk)
        before = desk.prefix.read_profile()
        dialog = open_settings(desk, icon)
        type_hotkey(desk, dialog, "BackSpace")
        assert hotkey_value(desk.prefix, dialog, ID_HOTKEY) == 0
        save(desk, dialog)
        box, controls = wait_message_box(desk.prefix, EMPTY_HOTKEY)
        assert int(box["owner"], 16) == int(dialog["hwnd"], 16)
        assert not box_has_icon(controls)
        desk.screenshot("empty-hotkey")
        press_ok(desk.prefix, box)
        wait_for("the message to close", lambda: visible_dialog(desk.prefix, "Lexitray") is None, timeout=5)
        assert visible_dialog(desk.prefix, SETTINGS_CAPTION)
        assert relay_calls(app, "user32.UnregisterHotKey") == []
        assert desk.prefix.read_profile() == before
        assert not hotkey_free(desk.prefix, MOD_CONTROL | MOD_SHIFT, ord("D"))
        # The keyboard is back in the hotkey control: a key typed now lands there.
        key(desk, "m")
        time.sleep(0.3)
        assert hotkey_value(desk.prefix, dialog, ID_HOTKEY) == hotkey_control(HOTKEYF_CONTROL | HOTKEYF_SHIFT, "M")

    def test_combination_held_elsewhere_keeps_the_dialog_open(self, desk):
        app, window, icon = start_lexitray(desk)
        before = desk.prefix.read_profile()
        dialog = open_settings(desk, icon)
        type_hotkey(desk, dialog, "alt+q")
        # Another program takes the combination while the dialog is open.
        holder = desk.background_probe("holdhotkey", MOD_ALT, ord("Q"), 120)
        assert holder.stdout.readline().strip() == "registered"
        save(desk, dialog)
        box, controls = wait_message_box(desk.prefix, TAKEN)
        assert int(box["owner"], 16) == int(dialog["hwnd"], 16)
        desk.screenshot("hotkey-taken")
        press_ok(desk.prefix, box)
        wait_for("the message to close", lambda: visible_dialog(desk.prefix, "Lexitray") is None, timeout=5)
        assert visible_dialog(desk.prefix, SETTINGS_CAPTION), "the dialog closed"
        assert desk.prefix.read_profile() == before
        assert hotkey_calls(app)[-1][1] == 0
        # The old hotkey was released and is not taken back: none is active now.
        assert hotkey_free(desk.prefix, MOD_CONTROL | MOD_SHIFT, ord("D"))
        assert wait_icon(desk.prefix, window["hwnd"])["tip"] == "Press Ctl+Shift+D to look up a word."
        click_control(desk, dialog, ID_CANCEL)
        wait_gone(desk.prefix, SETTINGS_CAPTION)

    @pytest.mark.parametrize("startup", ["1", "0"], ids=["untick", "tick"])
    def test_startup_box_writes_or_removes_the_run_value(self, desk, startup):
        app, window, icon = start_lexitray(desk, startup=startup)
        exe = f'"{desk.prefix.windows_path(desk.prefix.exe)}"'
        if startup == "0":
            desk.prefix.set_run_value(None)
        assert desk.prefix.run_value() == (exe if startup == "1" else None)
        dialog = open_settings(desk, icon)
        click_control(desk, dialog, ID_STARTUP)
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        values = dict(desk.prefix.read_profile())
        if startup == "1":
            assert desk.prefix.run_value() is None
            assert values["startup"] == "0"
            deleted = relay_calls(app, "advapi32.RegDeleteValueA")
            assert deleted and all(args[1][1] == "Lexitray" for args, _ in deleted)
        else:
            assert desk.prefix.run_value() == exe
            assert values["startup"] == "1"

    def test_hide_database_choice_box_is_written(self, desk):
        app, window, icon = start_lexitray(desk, hidedbdialog=1)
        dialog = open_settings(desk, icon)
        click_control(desk, dialog, ID_HIDEDB)
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        assert dict(desk.prefix.read_profile())["hidedbdialog"] == "0"

    @pytest.mark.parametrize("profile, ticked", [
        (dict(), ("1", "1")), (dict(baseforms=0, suggest=1), ("0", "1")), (dict(baseforms=1, suggest=2), ("1", "0")),
    ], ids=["absent-open-ticked", "baseforms-off", "suggest-two-counts-as-off"])
    def test_base_form_and_suggestion_boxes_load_and_save_at_once(self, desk, profile, ticked):
        app, window, icon = start_lexitray(desk, **profile)
        dialog = open_settings(desk, icon)
        controls = controls_by_id(desk.prefix, dialog)
        assert (controls[ID_BASEFORMS]["checked"], controls[ID_SUGGEST]["checked"]) == ticked
        click_control(desk, dialog, ID_BASEFORMS)
        click_control(desk, dialog, ID_SUGGEST)
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        flipped = tuple("0" if t == "1" else "1" for t in ticked)
        assert profile_writes(app)[-3:-1] == [("baseforms", flipped[0]), ("suggest", flipped[1])]
        values = dict(desk.prefix.read_profile())
        assert (values["baseforms"], values["suggest"]) == flipped

    @pytest.mark.parametrize("box, name", [(ID_KEEPCLIPBOARD, "keepclipboard"), (ID_ONEPAGE, "onepage"),
                                           (ID_KEEPWORDS, "keepwords")], ids=["clipboard", "one-page", "words"])
    @pytest.mark.parametrize("before, after", [(None, "1"), ("1", "0")], ids=["absent-to-on", "on-to-off"])
    def test_off_by_default_boxes_are_written(self, desk, box, name, before, after):
        profile = {} if before is None else {name: before}
        app, window, icon = start_lexitray(desk, **profile)
        dialog = open_settings(desk, icon)
        assert controls_by_id(desk.prefix, dialog)[box]["checked"] == ("0" if before is None else before)
        click_control(desk, dialog, box)
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        assert dict(profile_writes(app)[-len(SAVE_ORDER):])[name] == after
        assert dict(desk.prefix.read_profile())[name] == after

    def test_server_outside_the_list_opens_without_selection_and_saves_minus_1(self, desk):
        app, window, icon = start_lexitray(desk, server=20)
        dialog = open_settings(desk, icon)
        assert send(desk.prefix, dialog, ID_SERVER, CB_GETCURSEL) == -1
        assert controls_by_id(desk.prefix, dialog)[ID_SERVER]["text"] == ""
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        assert dict(desk.prefix.read_profile())["server"] == "-1"

    def test_chosen_server_is_saved(self, desk):
        app, window, icon = start_lexitray(desk, server=1)
        dialog = open_settings(desk, icon)
        click_control(desk, dialog, ID_SERVER)
        key(desk, "Escape", "Down", "Down")
        save(desk, dialog)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        assert dict(desk.prefix.read_profile())["server"] == "3"


class TestCancelAndFont:
    def test_cancel_writes_nothing_and_keeps_the_hotkey(self, desk):
        app, window, icon = start_lexitray(desk)
        before = desk.prefix.read_profile()
        dialog = open_settings(desk, icon)
        type_hotkey(desk, dialog, "alt+q")
        click_control(desk, dialog, ID_STARTUP)
        click_control(desk, dialog, ID_CANCEL)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        assert desk.prefix.read_profile() == before
        assert relay_calls(app, "user32.UnregisterHotKey") == []
        assert presses_open_word_box(desk, "ctrl+shift+d")

    def test_picked_font_stays_stored_after_cancel(self, desk):
        app, window, icon = start_lexitray(desk)
        dialog = open_settings(desk, icon)
        click_control(desk, dialog, ID_FONT)
        chooser = wait_dialog(desk.prefix, "Font")
        assert int(chooser["owner"], 16) == int(dialog["hwnd"], 16)
        # The face name box has the keyboard; the size box is two tabs on.
        desk.prefix.xvfb.xdotool("type", "--delay", "60", "DejaVu Serif")
        key(desk, "Tab", "Tab")
        desk.prefix.xvfb.xdotool("type", "--delay", "60", "10")
        desk.screenshot("font-chooser")
        key(desk, "Return")
        wait_gone(desk.prefix, "Font")
        assert profile_writes(app)[-2:] == [("font", "DejaVu Serif"), ("fontsize", "-13")]
        click_control(desk, dialog, ID_CANCEL)
        wait_gone(desk.prefix, SETTINGS_CAPTION)
        values = dict(desk.prefix.read_profile())
        assert (values["font"], values["fontsize"]) == ("DejaVu Serif", "-13")

    def test_cancelled_font_chooser_writes_nothing(self, desk):
        app, window, icon = start_lexitray(desk)
        dialog = open_settings(desk, icon)
        click_control(desk, dialog, ID_FONT)
        wait_dialog(desk.prefix, "Font")
        key(desk, "Escape")
        wait_gone(desk.prefix, "Font")
        assert visible_dialog(desk.prefix, SETTINGS_CAPTION)
        assert profile_writes(app) == [] or all(k not in ("font", "fontsize") for k, _ in profile_writes(app))
        assert "font" not in dict(desk.prefix.read_profile())
