"""As a standard user: the Windows directory is not writable, settings live in the user's own folder or
beside a portable copy, and autostart is the user's Run value."""
import os
import shutil
import stat

import pytest

from conftest import ARTIFACTS, BUILD_DIR, desktop_session, make_session
from harness import Xvfb, wait_for
from lexitray_checks import (HINT_DEFAULT, MOD_ALT, SEEDED_ORDER, hotkey_calls, prepared_profile, press_ok, wait_icon,
                             wait_message_box)
from menu_steps import (HOTKEYF_ALT, SETTINGS_CAPTION, click_control, hotkey_value, include_relay, profile_writes,
                        visible_dialog, wait_gone)
from standard_user import UserPrefix, user_available
from test_package import INSTALLED_FILES, MACHINE_ENTRY, layout, reg_values, uninstall_quietly, unix_path
from test_settings import ID_HOTKEY, ID_STARTUP, hotkey_control, open_settings, save, type_hotkey

pytestmark = pytest.mark.skipif(user_available() is not None, reason=str(user_available()))


@pytest.fixture(scope="module")
def user_desktop():
    xvfb = Xvfb().start()
    prefix = UserPrefix(os.path.join(BUILD_DIR, "e2e-user", "wine"), xvfb, BUILD_DIR, ARTIFACTS)
    yield from desktop_session(xvfb, prefix, lambda prefix: (prefix.start(), include_relay(prefix)))


@pytest.fixture
def user(user_desktop, request):
    user_desktop.clean()
    yield from make_session(user_desktop, request)


def started(session, app):
    window = app.tray_window()
    return app, window, wait_icon(session.prefix, window["hwnd"])


def test_settings_survive_a_restart_and_the_first_start_seeds_once(user):
    prefix = user.prefix
    assert not prefix.user_can_create(prefix.windows_dir), "the test user can write the Windows directory"
    app, window, icon = started(user, user.start_app())
    assert [key for key, _ in profile_writes(app)] == SEEDED_ORDER
    assert [key for key, _ in prefix.read_profile()] == SEEDED_ORDER
    dialog = open_settings(user, icon)
    type_hotkey(user, dialog, "alt+q")
    assert hotkey_value(prefix, dialog, ID_HOTKEY) == hotkey_control(HOTKEYF_ALT, "Q")
    save(user, dialog)
    wait_gone(prefix, SETTINGS_CAPTION)
    app.stop()

    again, window, icon = started(user, user.start_app())
    assert icon["tip"] == "Press Alt+Q to look up a word."
    assert hotkey_calls(again)[-1][0][2:] == [MOD_ALT, ord("Q")]
    assert profile_writes(again) == [], "the second start seeded the profile again"
    assert dict(prefix.read_profile())["letter"] == "Q"


def test_profile_in_the_windows_directory_is_taken_over(user):
    prefix = user.prefix
    old = prepared_profile(letter="K", server="3", font="DejaVu Serif")
    prefix.write_legacy_profile(old)
    app, window, icon = started(user, user.start_app())
    assert icon["tip"] == "Press Ctl+Shift+K to look up a word."
    assert profile_writes(app) == [], "the taken-over profile was seeded"
    assert dict(prefix.read_profile()) == old
    assert os.path.exists(prefix.legacy_profile_path), "the old file was removed"


def test_file_beside_the_program_wins_and_is_seeded_in_place(user):
    prefix = user.prefix
    prefix.write_legacy_profile(prepared_profile(letter="K"))
    exe = prefix.install_portable("[Lexitray]\r\n")  # what the portable zips ship
    app = prefix.start_program(f"{user.name}-portable", exe)
    user.apps.append(app)
    app, window, icon = started(user, app)
    assert icon["tip"] == HINT_DEFAULT, "not seeded as a first run"
    with open(os.path.join(prefix.portable_dir, "Lexitray.cfg"), encoding="latin-1") as f:
        lines = [line for line in f.read().splitlines() if line.strip()]
    assert lines[0] == "[Lexitray]" and [line.split("=")[0] for line in lines[1:]] == SEEDED_ORDER
    assert not os.path.exists(prefix.profile_path), "a profile was made in the user's folder as well"


def test_run_value_lands_under_the_user_and_unticking_removes_it_everywhere(user):
    prefix = user.prefix
    older = "C:\\Program Files\\Lexitray\\old.exe"
    prefix.set_machine_run_value(older)  # what an older version left for every user
    prefix.write_profile(prepared_profile(startup=1))
    app, window, icon = started(user, user.start_app())
    assert prefix.run_value() == '"C:\\Program Files\\Lexitray\\lexitray.exe"'
    assert prefix.machine_run_value() == older, "start-up touched the machine's value"
    dialog = open_settings(user, icon)
    click_control(user, dialog, ID_STARTUP)
    save(user, dialog)
    wait_gone(prefix, SETTINGS_CAPTION)
    assert visible_dialog(prefix, "Lexitray") is None, "a message came though the value could go"
    assert (prefix.run_value(), prefix.machine_run_value()) == (None, None)
    assert dict(prefix.read_profile())["startup"] == "0"


NOT_SET = "Lexitray could not be set to start with Windows."
MACHINE_STAYS = ("Lexitray will still start with Windows:\nit was set up to start for every user,\n"
                 "and only an administrator can change that.")


@pytest.mark.parametrize("case", ["tick-user-key-locked", "untick-machine-key-locked"])
def test_settings_says_when_autostart_cannot_be_had(user, case):
    prefix = user.prefix
    older = "C:\\Program Files\\Lexitray\\old.exe"
    ticking = case.startswith("tick")
    if ticking:
        prefix.write_profile(prepared_profile(startup=0))
        prefix.lock_run_key("HKCU", True)
    else:
        prefix.write_profile(prepared_profile(startup=1))
        prefix.set_machine_run_value(older)
        prefix.lock_run_key("HKLM", True)
    app, window, icon = started(user, user.start_app())
    dialog = open_settings(user, icon)
    click_control(user, dialog, ID_STARTUP)
    save(user, dialog)
    box, _ = wait_message_box(prefix, NOT_SET if ticking else MACHINE_STAYS)
    assert int(box["owner"], 16) == int(dialog["hwnd"], 16)
    user.screenshot("autostart-message")
    press_ok(prefix, box)
    wait_gone(prefix, SETTINGS_CAPTION)
    # The rest of the settings is saved all the same, and the registry is as the message says.
    assert dict(prefix.read_profile())["startup"] == ("1" if ticking else "0")
    if ticking:
        assert prefix.run_value() is None
    else:
        assert (prefix.run_value(), prefix.machine_run_value()) == (None, older)


def test_installer_installs_and_uninstalls_for_the_user_without_an_administrator(user, packages):
    prefix = user.prefix
    _, version, installer, _ = packages
    setup = os.path.join(prefix.path, "drive_c", "lexitray-setup.exe")
    shutil.copy(installer, setup)
    os.chown(setup, prefix.uid, prefix.gid)
    # Program Files is the administrators'.
    program_files = os.path.dirname(prefix.install_dir)
    mode = stat.S_IMODE(os.stat(program_files).st_mode)
    os.chmod(program_files, mode & ~0o222)
    try:
        assert not prefix.user_can_create(program_files)
        prefix.wine("C:\\lexitray-setup.exe", "/S", timeout=180)
        install_dir, entry_key, link = layout(prefix, all_users=False)
        assert sorted(os.listdir(unix_path(prefix, install_dir))) == sorted(INSTALLED_FILES + ["Dictionaries"])
        assert os.path.exists(unix_path(prefix, link)), "no shortcut in the user's Start menu"
        entry = reg_values(prefix, entry_key)
        assert entry is not None and (entry["DisplayVersion"], entry["InstallLocation"]) == (version, install_dir)
        assert reg_values(prefix, MACHINE_ENTRY) is None, "an entry for all users"

        prefix.set_run_value(f'"{install_dir}\\lexitray.exe"')
        uninstall_quietly(prefix, entry_key)
        wait_for("the program folder to go", lambda: not os.path.exists(unix_path(prefix, install_dir)), timeout=60)
        assert not os.path.exists(unix_path(prefix, link))
        assert reg_values(prefix, entry_key) is None
        assert prefix.run_value() is None, "the user's autostart value stayed"
    finally:
        os.chmod(program_files, mode)
        os.remove(setup)
