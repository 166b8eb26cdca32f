"""lexitray.exe in a desktop with tray balloons: start-up, profile seeding, autostart, hotkey, icon, shutdown."""
import os
import shutil
import time

import pytest

from conftest import Session
from harness import wait_for
from lexitray_checks import (
    HINT_DEFAULT, HOTKEY_ID, HOTKEY_TAKEN_AT_START, MOD_ALT, MOD_CONTROL, MOD_SHIFT, NIM_ADD, NIM_DELETE, NIM_MODIFY,
    ONE_COPY, SEEDED_ORDER, TRAY_CALLBACK, TRAY_ICON_ID, WM_CLOSE, box_has_icon, hotkey_calls, hotkey_free,
    notify_calls, prepared_profile, press_ok, visible_balloon, wait_balloon, wait_icon, wait_message_box,
    watch_balloon)


@pytest.mark.smoke
class TestFirstStart:
    """One start in an empty profile; each test checks one thing it must have done."""

    @pytest.fixture(scope="class")
    def first(self, balloon_desktop):
        prefix = balloon_desktop
        session = Session(prefix, "first_start")
        session.clean_profile()
        prefix.set_run_value(None)
        # A stale file is deleted only on later starts, never on the first.
        session.place_stale_files()
        watch = watch_balloon(session)
        app = session.start_app()
        seen = {"app": app}
        try:
            seen["window"] = app.tray_window()
            seen["icon"] = wait_icon(prefix, seen["window"]["hwnd"])
            # The icon record keeps the balloon text while the balloon is up.
            seen["balloon_icon"] = wait_balloon(prefix, seen["window"]["hwnd"])
            seen["balloon"] = watch.balloon()
            session.screenshot("balloon")
            seen["stale_left"] = session.stale_files_left()
            seen["profile"] = prefix.read_profile()
            seen["run_value"] = prefix.run_value()
            seen["ctrl_shift_d_free"] = hotkey_free(prefix, MOD_CONTROL | MOD_SHIFT, ord("D"))
        except Exception:
            session.screenshot("failure")
            session.finish()
            raise
        yield seen
        session.finish()

    def test_profile_holds_the_24_seeded_keys_in_order(self, first):
        profile = first["profile"]
        assert profile is not None, "no Lexitray.cfg in the user's AppData\\Roaming\\Lexitray"
        assert [key for key, _ in profile] == SEEDED_ORDER
        values = dict(profile)
        assert {k: values[k] for k in SEEDED_ORDER[17:]} == {
            "server": "0", "control": "1", "shift": "1", "alt": "0", "hidedbdialog": "0", "letter": "D",
            "startup": "1"}
        for i in range(17):
            host, sep, description = values[f"server{i}"].partition(" : ")
            assert sep and host and description, f"server{i} is not 'host : description': {values[f'server{i}']!r}"
            assert len(host) <= 24 and " " not in host

    def test_first_start_keeps_the_stale_file(self, first):
        assert len(first["stale_left"]) == 2

    def test_autostart_value_holds_the_program_path_quoted(self, first, balloon_desktop):
        assert first["run_value"] == f'"{balloon_desktop.windows_path(balloon_desktop.exe)}"'

    def test_ctrl_shift_d_is_registered_for_the_tray_window(self, first):
        window = int(first["window"]["hwnd"], 16)
        assert hotkey_calls(first["app"]) == [([window, HOTKEY_ID, MOD_CONTROL | MOD_SHIFT, 0x44], 1)]
        assert not first["ctrl_shift_d_free"], "Ctrl+Shift+D is not held after start-up"

    def test_tray_icon_has_the_hint_as_tip(self, first):
        icon = first["icon"]
        assert (icon["id"], icon["callback"]) == (str(TRAY_ICON_ID), str(TRAY_CALLBACK))
        assert icon["tip"] == HINT_DEFAULT
        assert icon["display"] == "0", "the icon is not shown in the taskbar"

    def test_balloon_shows_the_hint(self, first):
        assert first["balloon_icon"]["info"] == HINT_DEFAULT
        assert first["balloon_icon"]["title"] == "Lexitray"
        calls = [message for message, _ in notify_calls(first["app"])]
        assert calls[:2] == [NIM_ADD, NIM_MODIFY]


@pytest.mark.parametrize("keys, modifiers, key, hint", [
    (dict(control=0, shift=0, alt=1, letter="Q"), MOD_ALT, ord("Q"), "Press Alt+Q to look up a word."),
    # "2" is not 1, so Ctrl is off; only the first character of the letter counts.
    (dict(control=2, shift=1, alt=0, letter="Zx"), MOD_SHIFT, ord("Z"), "Press Shift+Z to look up a word."),
    # No case folding: "d" is key code 100, not the D key.
    (dict(control=1, shift=0, alt=1, letter="d"), MOD_CONTROL | MOD_ALT, 100, "Press Ctl+Alt+d to look up a word."),
], ids=["alt-Q", "control2-shift-Zx", "ctl-alt-lowercase-d"])
def test_configured_hotkey_is_registered_and_named(desk, keys, modifiers, key, hint):
    desk.prefix.write_profile(prepared_profile(**keys))
    app = desk.start_app()
    window = app.tray_window()
    icon = wait_icon(desk.prefix, window["hwnd"])
    assert icon["tip"] == hint
    assert hotkey_calls(app) == [([int(window["hwnd"], 16), HOTKEY_ID, modifiers, key], 1)]
    assert not hotkey_free(desk.prefix, modifiers, key)
    assert hotkey_free(desk.prefix, MOD_CONTROL | MOD_SHIFT, ord("D")), "Ctrl+Shift+D held though not configured"
    assert wait_balloon(desk.prefix, window["hwnd"])["info"] == hint
    desk.screenshot("hint")


def test_second_copy_is_refused_and_first_keeps_icon_and_hotkey(desk):
    first = desk.start_app()
    window = first.tray_window()
    wait_icon(desk.prefix, window["hwnd"], tip=HINT_DEFAULT)
    # A second copy must not touch the profile: with the file gone it would seed a new one.
    os.remove(desk.prefix.profile_path)
    second = desk.start_app()
    box, controls = wait_message_box(desk.prefix, ONE_COPY)
    assert box["caption"] == "Lexitray"
    assert box_has_icon(controls), "the message has no (error) icon"
    desk.screenshot("second-copy")
    press_ok(desk.prefix, box)
    assert second.exit_code() == 0
    assert hotkey_calls(second) == []
    assert not os.path.exists(desk.prefix.profile_path), "the second copy wrote the profile"
    assert first.running()
    assert desk.prefix.icon_of(window["hwnd"])["tip"] == HINT_DEFAULT
    assert not hotkey_free(desk.prefix, MOD_CONTROL | MOD_SHIFT, ord("D"))


def test_hotkey_held_elsewhere_gives_message_then_icon_and_hint(desk):
    holder = desk.background_probe("holdhotkey", MOD_CONTROL | MOD_SHIFT, ord("D"), 120)
    assert holder.stdout.readline().strip() == "registered"
    app = desk.start_app()
    box, controls = wait_message_box(desk.prefix, HOTKEY_TAKEN_AT_START)
    assert box["caption"] == "Lexitray"
    assert not box_has_icon(controls), "plain messages have no icon"
    window = app.tray_window()
    assert int(box["owner"], 16) == int(window["hwnd"], 16), "the message is not owned by the TrayWindow"
    # The message comes first; the icon follows once it is closed.
    assert desk.prefix.icon_of(window["hwnd"]) is None
    desk.screenshot("hotkey-taken")
    press_ok(desk.prefix, box)
    icon = wait_icon(desk.prefix, window["hwnd"])
    assert icon["tip"] == HINT_DEFAULT
    assert wait_balloon(desk.prefix, window["hwnd"])["info"] == HINT_DEFAULT
    assert [ret for _, ret in hotkey_calls(app)] == [0]
    assert app.running()


@pytest.mark.parametrize("startup, folder", [("0", None), ("1", None), ("1", "Λεξικό")],
                         ids=["off", "on", "on-greek-folder"])
def test_autostart_value_follows_startup_key(desk, startup, folder):
    # The bare path, as earlier versions wrote it: rewritten quoted when autostart is on.
    sentinel = desk.prefix.windows_path(desk.prefix.exe)
    desk.prefix.set_run_value(sentinel)
    desk.prefix.write_profile(prepared_profile(startup=startup))
    desk.place_stale_files()
    # Installed under a user name beyond the ANSI code page: the value must still name the program.
    exe = desk.prefix.exe
    if folder:
        exe = os.path.join(desk.prefix.artifacts, folder, "lexitray.exe")
        os.makedirs(os.path.dirname(exe), exist_ok=True)
        shutil.copy(desk.prefix.exe, exe)
    app = desk.start_app(exe)
    window = app.tray_window()
    wait_icon(desk.prefix, window["hwnd"])
    registry_writes = app.relay("advapi32.RegSetValueExA") + app.relay("advapi32.RegCreateKeyExA")
    if startup == "0":
        assert desk.prefix.run_value() == sentinel
        assert registry_writes == []
    else:
        assert desk.prefix.run_value() == f'"{desk.prefix.windows_path(exe)}"'
    # The bare name is resolved by the platform: the current directory for deletion.
    assert len(desk.stale_files_left()) < 2, "a later start deletes no Lexitray.cfg.new"


def test_taskbar_created_readds_icon_from_profile_without_balloon(desk):
    app = desk.start_app()
    window = app.tray_window()
    wait_icon(desk.prefix, window["hwnd"], tip=HINT_DEFAULT)
    # As if the shell had restarted: the icon is gone, and the profile now names another key.
    desk.prefix.probe("traydelete", window["hwnd"], TRAY_ICON_ID)
    wait_for("the icon to go", lambda: desk.prefix.icon_of(window["hwnd"]) is None, timeout=5)
    profile = dict(desk.prefix.read_profile())
    profile["letter"] = "K"
    desk.prefix.write_profile(profile)
    desk.prefix.probe("broadcast", "TaskbarCreated")
    icon = wait_icon(desk.prefix, window["hwnd"], timeout=10)
    assert icon["tip"] == "Press Ctl+Shift+K to look up a word."
    # The shell raises a balloon about two seconds after it is asked for one.
    deadline = time.monotonic() + 3.5
    while time.monotonic() < deadline:
        assert visible_balloon(desk.prefix) is None, "a balloon came up after TaskbarCreated"
        assert desk.prefix.icon_of(window["hwnd"])["info"] == ""
        time.sleep(0.3)
    assert [message for message, _ in notify_calls(app)][-1] == NIM_ADD
    assert len(hotkey_calls(app)) == 1, "the hotkey was registered again"
    desk.screenshot("icon-back")


def test_close_removes_icon_and_exits_with_0(desk):
    app = desk.start_app()
    window = app.tray_window()
    wait_icon(desk.prefix, window["hwnd"])
    desk.prefix.probe("post", window["hwnd"], WM_CLOSE, 0, 0)
    assert app.exit_code() == 0
    assert notify_calls(app)[-1] == (NIM_DELETE, 1), "the icon was not removed with NIM_DELETE"
    assert desk.prefix.icon_of(window["hwnd"]) is None


SHELL_FOLDERS = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"
# A user folder whose name no ANSI code page holds whole: Cyrillic and Chinese.
FOREIGN_FOLDER = "\u0423\u0447\u0451\u0442 \u7528\u6237"


def set_roaming_folder(prefix, windows_path, kind="REG_EXPAND_SZ"):
    """Points the user's roaming application data at a folder; imported from a UTF-16 .reg file, as a
    command line may not carry the name through."""
    data = windows_path.encode("utf-16-le") + b"\0\0"
    hex_text = ",".join(f"{b:02x}" for b in data)
    reg = os.path.join(prefix.path, "drive_c", "lexitray-roaming.reg")
    with open(reg, "w", encoding="utf-16") as f:
        f.write(f'Windows Registry Editor Version 5.00\r\n\r\n[{SHELL_FOLDERS}]\r\n"AppData"=hex(2):{hex_text}\r\n')
    # regedit once ended with exit status 1 in a full run, though the same import works alone: ask again.
    for attempt in range(3):
        if prefix.wine("regedit", "/S", "C:\\lexitray-roaming.reg", check=attempt == 2).returncode == 0:
            break
        time.sleep(1)


def test_profile_lies_in_a_user_folder_outside_the_ansi_code_page(desk):
    prefix = desk.prefix
    roaming = os.path.join(prefix.path, "drive_c", FOREIGN_FOLDER, "AppData", "Roaming")
    os.makedirs(roaming, exist_ok=True)
    set_roaming_folder(prefix, f"C:\\{FOREIGN_FOLDER}\\AppData\\Roaming")
    try:
        app = desk.start_app()
        window = app.tray_window()
        wait_icon(prefix, window["hwnd"], tip=HINT_DEFAULT)
        profile = os.path.join(roaming, "Lexitray", "Lexitray.cfg")
        wait_for("the seeded profile in the user's folder", lambda: os.path.exists(profile), timeout=5)
        with open(profile, encoding="latin-1") as f:
            assert "startup=1" in f.read()
        assert not os.path.exists(os.path.join(prefix.windows_dir, "Lexitray.cfg")), \
            "the profile fell back to the Windows directory"
    finally:
        desk.finish()
        set_roaming_folder(prefix, "%USERPROFILE%\\AppData\\Roaming")
        shutil.rmtree(os.path.join(prefix.path, "drive_c", FOREIGN_FOLDER), ignore_errors=True)
