"""A Wine prefix run by an unprivileged Unix user, who cannot write its Windows directory: a standard user."""
import os
import pwd
import shutil
import stat
import subprocess

from harness import PREFIX_MARK, WINESERVER, HarnessError, WinePrefix

USER = "lexitray-user"  # scripts/setup creates it
RUN_SUBKEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Run"
MACHINE_RUN_KEY = "HKLM\\" + RUN_SUBKEY


def user_available():
    """Why the prefix cannot be had here, or None."""
    if os.geteuid() != 0:
        return "only root can start programs as another user"
    try:
        pwd.getpwnam(USER)
    except KeyError:
        return f"no user {USER}: run scripts/setup"
    return None


class UserPrefix(WinePrefix):
    """Every Wine program, the server and the probe run as USER; the program lies in Program Files as an
    administrator would have put it there (owned by root, so the user cannot change it)."""

    def __init__(self, path, xvfb, build_dir, artifacts):
        super().__init__(path, xvfb, build_dir, artifacts)
        entry = pwd.getpwnam(USER)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        self.as_user = ["setpriv", f"--reuid={self.uid}", f"--regid={self.gid}", "--clear-groups", "--"]
        self.env.update(HOME=entry.pw_dir, USER=USER, LOGNAME=USER)
        self.built_exe = self.exe
        self.install_dir = os.path.join(path, "drive_c", "Program Files", "Lexitray")
        self.exe = os.path.join(self.install_dir, "lexitray.exe")

    def wine_command(self, *args):
        return [*self.as_user, *super().wine_command(*args)]

    def server(self, *args, timeout=60, check=False):
        return subprocess.run([*self.as_user, WINESERVER, *args], env=self.env, check=check, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def ensure(self):
        # Wine wants the prefix to belong to the user who runs it; the user creates it in a folder of its own.
        parent = os.path.dirname(self.path)
        os.makedirs(parent, exist_ok=True)
        os.chown(parent, self.uid, self.gid)
        if not os.path.exists(os.path.join(self.path, PREFIX_MARK)) and os.path.exists(self.path):
            self.server("-k")
            shutil.rmtree(self.path)
        super().ensure()
        # The Windows directory is the administrators': its owner keeps reading it, but cannot add a file.
        os.chmod(self.windows_dir, stat.S_IMODE(os.stat(self.windows_dir).st_mode) & ~0o222)
        os.makedirs(self.install_dir, exist_ok=True)
        shutil.copy2(self.built_exe, self.exe)

    def user_can_create(self, folder):
        """Whether USER can create a file in the folder (asked of the system as that user)."""
        probe = os.path.join(folder, ".lexitray-write-test")
        made = subprocess.run([*self.as_user, "touch", probe], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
        if made:
            os.remove(probe)
        return made

    def give_to_user(self, path):
        """Hands a file or folder made by the test, and the folders above it in the prefix, to USER."""
        while os.path.abspath(path).startswith(os.path.abspath(self.path) + os.sep):
            if os.stat(path).st_uid == 0 and path != self.install_dir:
                os.chown(path, self.uid, self.gid)
            path = os.path.dirname(path)

    def write_profile(self, values):
        super().write_profile(values)
        self.give_to_user(self.profile_path)

    @property
    def legacy_profile_path(self):
        """Where versions before this one left the profile: the Windows directory."""
        return os.path.join(self.windows_dir, "Lexitray.cfg")

    def write_legacy_profile(self, values):
        # Written by root: the user can read it but, as on Windows, not change it.
        with open(self.legacy_profile_path, "w", encoding="latin-1", newline="\r\n") as f:
            f.write("[Lexitray]\n" + "".join(f"{key}={value}\n" for key, value in values.items()))

    @property
    def portable_dir(self):
        return os.path.join(self.path, "drive_c", "portable")

    def install_portable(self, profile_text):
        """A copy of the program in a folder of the user's with a Lexitray.cfg beside it; its path."""
        os.makedirs(self.portable_dir, exist_ok=True)
        exe = os.path.join(self.portable_dir, "lexitray.exe")
        shutil.copy2(self.built_exe, exe)
        with open(os.path.join(self.portable_dir, "Lexitray.cfg"), "w", newline="") as f:
            f.write(profile_text)
        for name in ("", "lexitray.exe", "Lexitray.cfg"):
            os.chown(os.path.join(self.portable_dir, name), self.uid, self.gid)
        return exe

    def start_program(self, name, exe):
        """start_app for another copy of the program."""
        installed, self.exe = self.exe, exe
        try:
            return self.start_app(name)
        finally:
            self.exe = installed

    def machine_run_value(self):
        out = self.wine("reg", "query", MACHINE_RUN_KEY, "/v", "Lexitray", check=False).stdout
        for line in out.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == "Lexitray" and parts[1] == "REG_SZ":
                return parts[2] if len(parts) == 3 else ""
        return None

    def set_machine_run_value(self, value):
        if value is None:
            self.wine("reg", "delete", MACHINE_RUN_KEY, "/v", "Lexitray", "/f", check=False)
        else:
            self.wine("reg", "add", MACHINE_RUN_KEY, "/v", "Lexitray", "/t", "REG_SZ", "/d", value, "/f")

    def lock_run_key(self, root, locked):
        """Makes the Run key under root ("HKLM" or "HKCU") read-only to everybody, or open again."""
        if root == "HKCU" and locked:
            self.wine("reg", "add", "HKCU\\" + RUN_SUBKEY, "/f")
        rows = self.probe("lockkey", root, RUN_SUBKEY, "on" if locked else "off")
        absent = ("lockkey", {"error": "2"}) in rows
        if ("lockkey", {"error": "0"}) not in rows and (locked or not absent):
            raise HarnessError(f"probe lockkey {root} gave {rows}")

    def clean(self):
        """No profile anywhere, no copy beside the program, no autostart value, Run keys open."""
        for root in ("HKLM", "HKCU"):
            self.lock_run_key(root, False)
        for path in (self.profile_path, self.legacy_profile_path):
            if os.path.exists(path):
                os.remove(path)
        shutil.rmtree(self.portable_dir, ignore_errors=True)
        self.set_run_value(None)
        self.set_machine_run_value(None)
