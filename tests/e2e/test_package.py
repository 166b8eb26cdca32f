"""What scripts/package makes: the installer of the build's architecture installs (with the offline dictionary),
upgrades over the running program and uninstalls silently under Wine; the portable zip runs from its folder; the
dictionaries zip holds WordNet as Debian ships it; two runs give the same bytes."""
import hashlib
import os
import pwd
import re
import shutil
import subprocess
import zipfile

import pytest

from conftest import ARTIFACTS, BUILD_DIR, make_session, run_package, start_desktop, stop_desktop
from harness import App, HarnessError, wait_for
from lexitray_checks import prepared_profile
from test_lookup import (DEAD_HOST, SNORKELBLOOM, close_viewer, dictd_definitions, look_up_typed, viewer_text,
                         wait_viewer)

PUBLISHER = "The Lexitray developers"
UNINSTALL_SUBKEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lexitray"
MACHINE_ENTRY, USER_ENTRY = "HKLM\\" + UNINSTALL_SUBKEY, "HKCU\\" + UNINSTALL_SUBKEY
RUN_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
INSTALL_DIR = "C:\\Program Files\\Lexitray"
INSTALLED_FILES = ["LICENSE.txt", "lexitray.exe", "uninstall.exe"]
PORTABLE_DIR = "C:\\lexitray-portable"
# The offline dictionary: Debian's WordNet databases and their licence, in Dictionaries beside the program.
DEBIAN_DICTD = "/usr/share/dictd"
DICTIONARY_FILES = ["WordNet-LICENSE.txt", "wn.dict.dz", "wn.index"]


# --- the prefix as the installer leaves it -----------------------------------------------------------------
def unix_path(prefix, windows_path):
    drive, rest = windows_path.split(":", 1)
    assert drive.upper() == "C"
    return os.path.join(prefix.path, "drive_c", *[p for p in rest.split("\\") if p])


def user_home(prefix):
    """C:\\users\\<name> of the prefix's user (Wine names the user after the Unix account)."""
    return "C:\\users\\" + pwd.getpwuid(getattr(prefix, "uid", os.getuid())).pw_name


def layout(prefix, all_users):
    """(program folder, Apps & Features key, shortcut) of an install for all users or for the prefix's user."""
    if all_users:
        return INSTALL_DIR, MACHINE_ENTRY, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Lexitray.lnk"
    data = user_home(prefix) + "\\AppData"
    return (f"{data}\\Local\\Programs\\Lexitray", USER_ENTRY,
            f"{data}\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Lexitray.lnk")


def settings_dir(prefix):
    """%APPDATA%\\Lexitray of the prefix's user."""
    return unix_path(prefix, user_home(prefix) + "\\AppData\\Roaming\\Lexitray")


def reg_values(prefix, key, view=None):
    """{name: value} of a registry key (DWORDs as ints), or None when the key is missing."""
    args = ["reg", "query", key] + ([f"/reg:{view}"] if view else [])
    result = prefix.wine(*args, check=False)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        m = re.match(r"^\s+(\S+)\s+(REG_\w+)\s*(.*)$", line)
        if m:
            name, kind, value = m.groups()
            values[name] = int(value, 16) if kind == "REG_DWORD" else value
    return values


def run_values(prefix):
    """Every autostart value "Lexitray" left: (root, view) pairs."""
    views = [None, "32"] if prefix.arch == "x86_64" else [None]
    return [(root, view) for root in ("HKCU", "HKLM") for view in views
            if "Lexitray" in (reg_values(prefix, f"{root}\\{RUN_KEY}", view) or {})]


def remove_installation(prefix):
    prefix.kill_programs()
    for all_users in (True, False):
        folder, entry, link = layout(prefix, all_users)
        shutil.rmtree(unix_path(prefix, folder), ignore_errors=True)
        if os.path.exists(unix_path(prefix, link)):
            os.remove(unix_path(prefix, link))
        prefix.wine("reg", "delete", entry, "/f", check=False)
    shutil.rmtree(unix_path(prefix, PORTABLE_DIR), ignore_errors=True)
    shutil.rmtree(settings_dir(prefix), ignore_errors=True)
    prefix.wine("reg", "delete", f"HKCU\\{RUN_KEY}", "/v", "Lexitray", "/f", check=False)


@pytest.fixture(scope="module")
def package_desktop():
    """A prefix of the installer tests' own, so that an install never meets what other tests left behind."""
    prefix = start_desktop("e2e-wine-package", nt40=False)
    yield prefix
    stop_desktop(prefix)


@pytest.fixture
def clean(package_desktop, request):
    """A prefix without Lexitray installed, before and after the test (after the failure screenshot)."""
    steps = make_session(package_desktop, request)
    session = next(steps)
    remove_installation(session.prefix)
    yield session
    next(steps, None)
    remove_installation(session.prefix)


def install(prefix, installer, *options):
    prefix.wine(prefix.windows_path(installer), "/S", *options, timeout=180)


def uninstall_quietly(prefix, entry_key):
    """Runs the entry's QuietUninstallString, as a script would."""
    command = reg_values(prefix, entry_key)["QuietUninstallString"]
    uninstaller, arguments = re.match(r'^"([^"]+)" (.*)$', command).groups()
    prefix.wine(uninstaller, *arguments.split(), timeout=120)


def start_program(desk, windows_exe):
    """Starts a lexitray.exe other than the build's, in the usual current directory."""
    prefix = desk.prefix
    log_path = os.path.join(ARTIFACTS, f"{desk.name}-{len(desk.apps)}.log")
    os.makedirs(prefix.workdir, exist_ok=True)
    with open(log_path, "w") as log:
        proc = subprocess.Popen(prefix.wine_command(windows_exe), env=prefix.env, cwd=prefix.workdir,
                                stdout=subprocess.DEVNULL, stderr=log)
    app = App(prefix, proc, log_path)
    desk.apps.append(app)
    # The window comes once its creation has registered the hotkey.
    app.tray_window()
    return app


def zipped_program(zip_path):
    with zipfile.ZipFile(zip_path) as z:
        return z.read("lexitray.exe")


def read(path):
    with open(path, "rb") as f:
        return f.read()


# --- the tests -----------------------------------------------------------------------------------------
@pytest.mark.parametrize("options", [[], ["/CURRENTUSER"], ["/ALLUSERS"]], ids=["default", "current-user", "all-users"])
def test_silent_install_puts_program_shortcut_and_entry_in_place(clean, packages, options):
    out, version, installer, portable = packages
    prefix = clean.prefix
    install(prefix, installer, *options)

    all_users = options == ["/ALLUSERS"]
    install_dir, entry_key, link = layout(prefix, all_users)
    folder = unix_path(prefix, install_dir)
    assert sorted(os.listdir(folder)) == sorted(INSTALLED_FILES + ["Dictionaries"])
    dictionaries = os.path.join(folder, "Dictionaries")
    assert sorted(os.listdir(dictionaries)) == DICTIONARY_FILES
    for name in ["wn.index", "wn.dict.dz"]:
        assert read(os.path.join(dictionaries, name)) == read(os.path.join(DEBIAN_DICTD, name)), name
    with zipfile.ZipFile(os.path.join(out, f"lexitray-{version}-dictionaries.zip")) as z:
        assert read(os.path.join(dictionaries, "WordNet-LICENSE.txt")) == z.read("Dictionaries/WordNet-LICENSE.txt")
    # The installed program is the packaged one, and no Lexitray.cfg beside it turns it portable.
    assert read(os.path.join(folder, "lexitray.exe")) == zipped_program(portable)
    assert f"{install_dir}\\lexitray.exe".encode("utf-16-le") in read(unix_path(prefix, link))
    other_dir, other_key, other_link = layout(prefix, not all_users)
    assert not os.path.exists(unix_path(prefix, other_dir)) and not os.path.exists(unix_path(prefix, other_link))
    assert reg_values(prefix, other_key) is None, "an entry for the other kind of install"

    entry = reg_values(prefix, entry_key)
    assert entry is not None, "no Apps & Features entry"
    size_kb = sum(os.path.getsize(os.path.join(d, f)) for d, _, files in os.walk(folder) for f in files) // 1024
    assert {k: v for k, v in entry.items() if k != "EstimatedSize"} == {
        "DisplayName": "Lexitray", "DisplayVersion": version, "Publisher": PUBLISHER,
        "DisplayIcon": f"{install_dir}\\lexitray.exe,0", "InstallLocation": install_dir,
        "UninstallString": f'"{install_dir}\\uninstall.exe"', "QuietUninstallString": f'"{install_dir}\\uninstall.exe" /S',
        "NoModify": 1, "NoRepair": 1}
    assert abs(entry["EstimatedSize"] - size_kb) <= 4

    # The installed program looks a word up against the local dictd; with no server in reach, in the
    # WordNet it brought along.
    offline = options == ["/CURRENTUSER"]
    dead = {f"server{i}": f"{DEAD_HOST} : Nobody home" for i in range(17)} if offline else {}
    prefix.write_profile(prepared_profile(**dead))
    start_program(clean, f"{install_dir}\\lexitray.exe")
    look_up_typed(clean, "serendipity" if offline else "snorkelbloom")
    try:
        viewer = wait_viewer(prefix)
    except HarnessError:
        shown = [(w["caption"], [c.get("text") for c in prefix.controls(w["hwnd"])])
                 for w in prefix.windows() if w["visible"] == "1" and w["class"] == "#32770"]
        raise AssertionError(f"no viewer; dialogs {shown}; profile {prefix.read_profile()}")
    assert [viewer_text(prefix, viewer)] == (dictd_definitions("wn", "serendipity") if offline else [SNORKELBLOOM])
    close_viewer(clean, viewer)


def test_upgrade_closes_the_running_program_and_replaces_it(clean, packages):
    _, version, installer, portable = packages
    prefix = clean.prefix
    install(prefix, installer)
    install_dir, entry_key, _ = layout(prefix, False)
    # An older version in its place: another program file, another version in Apps & Features.
    program = os.path.join(unix_path(prefix, install_dir), "lexitray.exe")
    with open(program, "ab") as f:
        f.write(b"an older build")
    prefix.wine("reg", "add", entry_key, "/v", "DisplayVersion", "/d", "1.0.0", "/f")
    prefix.write_profile(prepared_profile())
    older = start_program(clean, f"{install_dir}\\lexitray.exe")

    install(prefix, installer)
    # Closed by its window's WM_CLOSE (a killed program would not end with 0).
    assert older.exit_code(timeout=10) == 0
    assert read(program) == zipped_program(portable)
    assert reg_values(prefix, entry_key)["DisplayVersion"] == version
    start_program(clean, f"{install_dir}\\lexitray.exe")


def test_upgrade_over_the_1_1_0_install_for_all_users_leaves_one_entry(clean, packages):
    _, version, installer, portable = packages
    prefix = clean.prefix
    # What the 1.1.0 installer left: its files in Program Files, its shortcut for all users, its entry
    # under HKLM.
    install_dir, entry_key, link = layout(prefix, True)
    folder = unix_path(prefix, install_dir)
    os.makedirs(folder)
    for name in INSTALLED_FILES:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"1.1.0 " + name.encode())
    os.makedirs(os.path.dirname(unix_path(prefix, link)), exist_ok=True)
    with open(unix_path(prefix, link), "wb") as f:
        f.write(f"{install_dir}\\lexitray.exe".encode("utf-16-le"))
    for name, value in [("DisplayName", "Lexitray"), ("DisplayVersion", "1.1.0"), ("Publisher", PUBLISHER),
                        ("DisplayIcon", f"{install_dir}\\lexitray.exe,0"), ("InstallLocation", install_dir),
                        ("UninstallString", f'"{install_dir}\\uninstall.exe"'),
                        ("QuietUninstallString", f'"{install_dir}\\uninstall.exe" /S')]:
        prefix.wine("reg", "add", entry_key, "/v", name, "/d", value, "/f")

    install(prefix, installer)
    assert read(os.path.join(folder, "lexitray.exe")) == zipped_program(portable)
    assert reg_values(prefix, entry_key)["DisplayVersion"] == version
    user_dir, user_key, user_link = layout(prefix, False)
    assert reg_values(prefix, user_key) is None, "a second entry in Apps & Features"
    assert not os.path.exists(unix_path(prefix, user_dir)) and not os.path.exists(unix_path(prefix, user_link))


@pytest.mark.parametrize("all_users", [False, True], ids=["current-user", "all-users"])
def test_silent_uninstall_stops_the_program_and_keeps_only_the_settings(clean, packages, all_users):
    _, _, installer, _ = packages
    prefix = clean.prefix
    install(prefix, installer, "/ALLUSERS" if all_users else "/CURRENTUSER")
    install_dir, entry_key, link = layout(prefix, all_users)
    prefix.write_profile(prepared_profile())
    app = start_program(clean, f"{install_dir}\\lexitray.exe")
    os.makedirs(settings_dir(prefix), exist_ok=True)
    settings = os.path.join(settings_dir(prefix), "Lexitray.cfg")
    kept = b"[Lexitray]\r\nletter=K\r\n"
    with open(settings, "wb") as f:
        f.write(kept)
    # Autostart values of this version (per user) and of older ones (all users, from 32 and 64 bits).
    for key in [f"HKCU\\{RUN_KEY}", f"HKLM\\{RUN_KEY}"]:
        prefix.wine("reg", "add", key, "/v", "Lexitray", "/d", f'"{install_dir}\\lexitray.exe"', "/f")
    if prefix.arch == "x86_64":
        prefix.wine("reg", "add", f"HKLM\\{RUN_KEY}", "/v", "Lexitray", "/d", "C:\\old\\lexitray.exe", "/f", "/reg:32")
    machine_values = [pair for pair in run_values(prefix) if pair[0] == "HKLM"]
    # A database the user added beside ours stays, and so does its folder (the install for all users has none).
    folder = unix_path(prefix, install_dir)
    own = os.path.join(folder, "Dictionaries", "mine.index")
    if not all_users:
        with open(own, "wb") as f:
            f.write(b"mine\tA\tB\n")

    uninstall_quietly(prefix, entry_key)
    # The uninstaller goes on from a copy of itself in the temporary folder.
    if all_users:
        wait_for("the program folder to go", lambda: not os.path.exists(folder), timeout=60)
    else:
        wait_for("only the user's database to stay", lambda: os.listdir(folder) == ["Dictionaries"] and
                 os.listdir(os.path.dirname(own)) == ["mine.index"], timeout=60)
        assert read(own) == b"mine\tA\tB\n"
    assert app.exit_code(timeout=10) == 0
    assert not os.path.exists(unix_path(prefix, link))
    assert reg_values(prefix, entry_key) is None
    # The user's value goes; those for all users only with an install for all users.
    assert run_values(prefix) == ([] if all_users else machine_values)
    assert read(settings) == kept


def test_portable_program_keeps_its_settings_in_its_folder(clean, packages):
    _, _, _, portable = packages
    prefix = clean.prefix
    folder = unix_path(prefix, PORTABLE_DIR)
    with zipfile.ZipFile(portable) as z:
        z.extractall(folder)
    assert read(os.path.join(folder, "Lexitray.cfg")) == b"[Lexitray]\r\n"
    app = start_program(clean, f"{PORTABLE_DIR}\\lexitray.exe")
    app.stop()
    with open(os.path.join(folder, "Lexitray.cfg"), encoding="latin-1") as f:
        seeded = f.read()
    assert "server0=" in seeded and "startup=" in seeded, "the first start did not seed the profile beside it"
    assert not os.path.exists(prefix.profile_path) and not os.path.exists(settings_dir(prefix))


def test_package_names_versions_and_reproducible_checksums(packages):
    out, version, _, _ = packages
    with open(os.path.join(out, "SHA256SUMS")) as f:
        sums = f.read()
    listed = dict(reversed(line.split("  ", 1)) for line in sums.splitlines())
    assert sorted(listed) == sorted(f"lexitray-{version}-{kind}" for kind in
                                    ["setup-x86.exe", "setup-x64.exe", "win32.zip", "win64.zip", "dictionaries.zip"])
    for name, digest in listed.items():
        assert hashlib.sha256(read(os.path.join(out, name))).hexdigest() == digest, name

    # The program in each zip carries the one version: version resource and manifest.
    major, minor, patch = map(int, version.split("."))
    for kind in ["win32", "win64"]:
        with zipfile.ZipFile(os.path.join(out, f"lexitray-{version}-{kind}.zip")) as z:
            assert sorted(z.namelist()) == ["LICENSE.txt", "Lexitray.cfg", "README.txt", "lexitray.exe"]
            assert z.read("Lexitray.cfg") == b"[Lexitray]\r\n"
            program = z.read("lexitray.exe")
        fixed = program.index(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO
        file_ms, file_ls = int.from_bytes(program[fixed + 8:fixed + 12], "little"), int.from_bytes(program[fixed + 12:fixed + 16], "little")
        assert (file_ms >> 16, file_ms & 0xFFFF, file_ls >> 16) == (major, minor, patch), kind
        text = program.decode("utf-16-le", errors="replace")
        assert re.search("ProductVersion\x00+" + re.escape(version) + "\x00", text), kind
        assert f'name="Lexitray.TrayDictionary" version="{version}.0"'.encode() in program, kind

    # The dictionaries zip: Debian's databases as they are, and WordNet's licence with Windows line ends.
    with zipfile.ZipFile(os.path.join(out, f"lexitray-{version}-dictionaries.zip")) as z:
        assert sorted(z.namelist()) == [f"Dictionaries/{name}" for name in DICTIONARY_FILES]
        for name in ["wn.index", "wn.dict.dz"]:
            assert z.read(f"Dictionaries/{name}") == read(os.path.join(DEBIAN_DICTD, name)), name
        licence = z.read("Dictionaries/WordNet-LICENSE.txt")
    assert b"WordNet 3.0 Copyright 2006 by Princeton University." in licence
    assert licence.count(b"\n") == licence.count(b"\r\n") > 30

    # Every file, the dictionaries zip too, comes out of a second run byte for byte the same.
    again = os.path.join(BUILD_DIR, "e2e-dist-again")
    shutil.rmtree(again, ignore_errors=True)
    assert run_package(again, os.path.join(BUILD_DIR, "e2e-package")) == sums
