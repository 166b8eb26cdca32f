"""Harness for the end-to-end tests: Xvfb, private Wine prefixes with a virtual desktop, the probe, relay logs."""
import os
import re
import shlex
import shutil
import signal
import subprocess
import time

# Wine's relay trace is narrowed to these calls; they leave no other visible trace.
RELAY_CALLS = [
    "user32.RegisterHotKey",
    "user32.UnregisterHotKey",
    "shell32.Shell_NotifyIconA",
    "advapi32.RegCreateKeyExA",
    "advapi32.RegSetValueExA",
    "winmm.PlaySoundA",
    "kernel32.CreateMutexA",
]
DESKTOP_SIZE = "1024x768"
PREFIX_MARK = "lexitray-e2e-ready"
# The loader of each architecture and the server, as scripts/wine-env found them; never Debian's `wine`
# wrapper, which picks the 32-bit loader even where 32-bit programs cannot run.
WINE_LOADERS = {
    "i686": os.environ.get("LEXITRAY_WINE_i686", "/usr/lib/wine/wine"),
    "x86_64": os.environ.get("LEXITRAY_WINE_x86_64", "/usr/lib/wine/wine64"),
}
WINESERVER = os.environ.get("LEXITRAY_WINESERVER", "/usr/lib/wine/wineserver64")


def exe_arch(path):
    """i686 or x86_64, from a Windows program's header."""
    with open(path, "rb") as f:
        header = f.read(4096)
    offset = int.from_bytes(header[60:64], "little")
    machine = int.from_bytes(header[offset + 4:offset + 6], "little")
    return {0x14C: "i686", 0x8664: "x86_64"}.get(machine, "unknown")


class HarnessError(Exception):
    pass


def roaming_data_dir(prefix_path):
    """AppData\\Roaming of the one user a prefix was made for (Wine names the folder after the Unix user)."""
    users = os.path.join(prefix_path, "drive_c", "users")
    names = sorted(n for n in os.listdir(users) if os.path.isdir(os.path.join(users, n, "AppData", "Roaming")))
    names = [n for n in names if n.lower() != "public"] or names
    if not names:
        raise HarnessError(f"no user folder with AppData in {users}")
    return os.path.join(users, names[0], "AppData", "Roaming")


def wait_for(what, check, timeout=15.0, interval=0.1):
    """Polls check() until it returns something true; returns that, or raises after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise HarnessError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def stays_away(check, seconds=2.0):
    """True when check() stays false for the given time."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return False
        time.sleep(0.2)
    return True


class Xvfb:
    """An X server on the first free display from :90 up; stopped by its own PID."""

    def __init__(self, size=DESKTOP_SIZE):
        self.size = size
        self.proc = None
        self.display = None

    def start(self):
        for number in range(90, 200):
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            proc = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", f"{self.size}x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            socket = f"/tmp/.X11-unix/X{number}"
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and proc.poll() is None and not (
                    self._owns(number, proc) and os.path.exists(socket)):
                time.sleep(0.05)
            # Another run may have taken the display between the look and the start: its server holds
            # the lock then, and ours gives up (perhaps only after the other's socket has appeared).
            if proc.poll() is None and self._owns(number, proc) and os.path.exists(socket):
                self.proc, self.display = proc, f":{number}"
                return self
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        raise HarnessError("no free X display")

    @staticmethod
    def _owns(number, proc):
        """Whether the display's lock file names the given X server."""
        try:
            with open(f"/tmp/.X{number}-lock") as lock:
                return int(lock.read().strip() or 0) == proc.pid
        except (OSError, ValueError):
            return False

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path

    def xdotool(self, *args):
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["xdotool", *map(str, args)], env=env, check=True, timeout=10,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def click(self, x, y, button=1):
        # A synchronous move to where the pointer already is waits for ever for a motion that never comes.
        env = dict(os.environ, DISPLAY=self.display)
        where = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=env, timeout=10, text=True,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        if f"X={x}\n" not in where or f"Y={y}\n" not in where:
            self.xdotool("mousemove", "--sync", x, y)
        self.xdotool("click", button)


def parse_line(line):
    """'kind key=value key="quoted"' -> (kind, {key: value}); quoted texts keep their C escapes decoded."""
    words = shlex.split(line, posix=True)
    if not words:
        return None, {}
    fields = {}
    for word in words[1:]:
        key, _, value = word.partition("=")
        fields[key] = value
    return words[0], fields


def unescape(text):
    """Undoes the probe's C escapes (shlex has already removed the quotes and \\\" / \\\\)."""
    return re.sub(r"\\(x[0-9a-f]{2}|n|r|t)",
                  lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1)) or chr(int(m.group(1)[1:], 16)), text)


def quote_probe_line(line):
    # shlex would swallow the backslash of \n; protect the probe's escapes first.
    return line.replace("\\\\", "\x00").replace("\\n", "\x01").replace("\\r", "\x02").replace("\\t", "\x03")


def decode_fields(fields):
    out = {}
    for key, value in fields.items():
        value = value.replace("\x00", "\\").replace("\x01", "\n").replace("\x02", "\r").replace("\x03", "\t")
        out[key] = re.sub(r"\\x([0-9a-f]{2})", lambda m: chr(int(m.group(1), 16)), value)
    return out


def parse_probe_output(text):
    rows = []
    for line in text.splitlines():
        kind, fields = parse_line(quote_probe_line(line))
        if kind:
            rows.append((kind, decode_fields(fields)))
    return rows


def rect_of(text):
    return tuple(int(v) for v in text.split(","))


class App:
    """One started lexitray.exe: its process, its relay log."""

    def __init__(self, prefix, proc, log_path):
        self.prefix = prefix
        self.proc = proc
        self.log_path = log_path

    def exit_code(self, timeout=15):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"lexitray.exe did not exit within {timeout} s")

    def running(self):
        return self.proc.poll() is None

    def relay(self, name=None):
        """[(function, args, retval)] in call order from the relay log; args are ints, or (int, text) for strings."""
        try:
            with open(self.log_path, errors="replace") as log:
                text = log.read()
        except FileNotFoundError:
            return []
        calls, open_calls = [], {}
        for line in text.splitlines():
            m = re.match(r"^([0-9a-f]+):Call ([\w.]+)\((.*)\) ret=[0-9a-f]+$", line)
            if m:
                args = [int(v, 16) if not t else (int(v, 16), t)
                        for v, t in re.findall(r'(?:^|,)([0-9a-f]{8,16})(?: L?"((?:[^"\\]|\\.)*)")?', m.group(3))]
                calls.append([m.group(2), args, None])
                open_calls.setdefault((m.group(1), m.group(2)), []).append(calls[-1])
                continue
            m = re.match(r"^([0-9a-f]+):Ret\s+([\w.]+)\(\) retval=([0-9a-f]+)", line)
            if m and open_calls.get((m.group(1), m.group(2))):
                open_calls[(m.group(1), m.group(2))].pop()[2] = int(m.group(3), 16)
        return [tuple(c) for c in calls if name is None or c[0] == name]

    def tray_window(self, timeout=15):
        """The hidden TrayWindow of this process (class "Lexitray")."""
        def find():
            if not self.running():
                raise HarnessError(f"lexitray.exe ended with {self.proc.returncode} before its TrayWindow appeared")
            found = [w for w in self.prefix.windows("Lexitray") if w["class"] == "Lexitray"]
            return found[0] if len(found) == 1 else None
        return wait_for("the TrayWindow of lexitray.exe", find, timeout)

    def stop(self):
        if self.running():
            for w in self.prefix.windows("Lexitray"):
                if w["class"] == "Lexitray":
                    self.prefix.probe("post", w["hwnd"], "0x10", "0", "0", check=False)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.prefix.wine("taskkill", "/f", "/im", "lexitray.exe", check=False)
                try:
                    self.proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait()


class WinePrefix:
    """A private prefix under the build folder, created once and reused, with its default virtual desktop."""

    def __init__(self, path, xvfb, build_dir, artifacts, nt40=False):
        self.path = path
        self.xvfb = xvfb
        self.build_dir = build_dir
        self.artifacts = artifacts
        self.nt40 = nt40
        self.desktop = None
        # The calls Wine's relay trace is narrowed to in this prefix; include_relay adds to them.
        self.relay_calls = list(RELAY_CALLS)
        self.exe = os.path.join(build_dir, "lexitray.exe")
        self.probe_exe = os.path.join(build_dir, "probe.exe")
        # The prefix is of the program's own kind: a 32-bit one for the i686 build, a 64-bit one otherwise.
        self.arch = exe_arch(self.exe)
        self.loader = WINE_LOADERS.get(self.arch, WINE_LOADERS["x86_64"])
        self.env = dict(os.environ,
                        WINEPREFIX=path, WINEARCH="win32" if self.arch == "i686" else "win64",
                        WINELOADER=self.loader, WINESERVER=WINESERVER, DISPLAY=xvfb.display, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")

    def wine_command(self, *args):
        """The command line that runs a Windows program (or a Wine tool such as reg) in this prefix."""
        return [self.loader, *map(str, args)]

    def server(self, *args, timeout=60, check=False):
        return subprocess.run([WINESERVER, *args], env=self.env, check=check, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # --- the prefix itself ---------------------------------------------------------------------------
    def ensure(self):
        if os.path.exists(os.path.join(self.path, PREFIX_MARK)):
            return
        if os.path.exists(self.path):
            self.server("-k")
            shutil.rmtree(self.path)
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        subprocess.run(self.wine_command("wineboot", "--init"), env=self.env, check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        reg = os.path.join(self.path, "lexitray-e2e.reg")
        with open(reg, "w") as f:
            f.write("REGEDIT4\n\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\n\"Desktop\"=\"Default\"\n\n"
                    f"[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n\"Default\"=\"{DESKTOP_SIZE}\"\n\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\n"
                    f"\"RelayInclude\"=\"{';'.join(RELAY_CALLS)}\"\n\n")
            # The version Wine reports to programs; winecfg -v cannot set it in a 64-bit prefix.
            if self.nt40:
                f.write("[HKEY_CURRENT_USER\\Software\\Wine]\n\"Version\"=\"nt40\"\n\n")
        self.wine("regedit", "/S", reg, timeout=120)
        # The desktop settings take effect with a fresh wineserver.
        self.server("-k")
        self.server("-w")
        open(os.path.join(self.path, PREFIX_MARK), "w").close()

    def start(self):
        """Starts this prefix's wineserver (kept alive between programs) and its desktop with the taskbar."""
        self.ensure()
        self.server("-p", check=True)
        # A prefix kept from an earlier run may hold another list: this run's begins with the harness's own.
        self.write_relay_calls()
        self.desktop = subprocess.Popen(self.wine_command("explorer.exe", f"/desktop=Default,{DESKTOP_SIZE}"), env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for("the desktop's taskbar", lambda: self.windows("Shell_TrayWnd"), timeout=60, interval=0.3)
        return self

    def write_relay_calls(self):
        """Writes the relay list whole, never read back: a read that failed once left it without the harness's
        calls. Wine's reg tool fails now and then where the same command works alone: it is asked again."""
        for attempt in range(3):
            if self.wine("reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/d",
                         ";".join(self.relay_calls), "/f", check=attempt == 2).returncode == 0:
                return
            time.sleep(1)

    def stop(self):
        self.server("-k")
        if self.desktop:
            try:
                self.desktop.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.desktop.kill()
                self.desktop.wait()
        self.server("-w", timeout=30)

    def wine(self, *args, timeout=60, check=True, env=None):
        return subprocess.run(self.wine_command(*args), env=env or self.env, check=check, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors="replace")

    # --- files and registry ----------------------------------------------------------------------------
    @property
    def windows_dir(self):
        return os.path.join(self.path, "drive_c", "windows")

    @property
    def workdir(self):
        """The current directory lexitray.exe is started in (C:\\lexitray-cwd)."""
        return os.path.join(self.path, "drive_c", "lexitray-cwd")

    @property
    def user_data_dir(self):
        """The roaming application data of the prefix's user (C:\\users\\<user>\\AppData\\Roaming)."""
        return roaming_data_dir(self.path)

    @property
    def profile_path(self):
        return os.path.join(self.user_data_dir, "Lexitray", "Lexitray.cfg")

    def read_profile(self):
        """[(key, value)] in file order under [Lexitray], or None when there is no file."""
        if not os.path.exists(self.profile_path):
            return None
        entries, section = [], None
        with open(self.profile_path, encoding="latin-1") as f:
            for line in f.read().splitlines():
                line = line.strip()
                if line.startswith("[") and line.endswith("]"):
                    section = line[1:-1]
                elif "=" in line and section == "Lexitray":
                    key, _, value = line.partition("=")
                    entries.append((key, value))
        return entries

    def write_profile(self, values):
        os.makedirs(os.path.dirname(self.profile_path), exist_ok=True)
        with open(self.profile_path, "w", encoding="latin-1", newline="\r\n") as f:
            f.write("[Lexitray]\n")
            for key, value in values.items():
                f.write(f"{key}={value}\n")

    RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"

    def run_value(self):
        """The autostart value "Lexitray", or None; read as wide text, so a path beyond the ANSI code page
        comes back exactly."""
        for kind, fields in self.probe("runvalue"):
            if kind == "run" and "value" in fields:
                return fields["value"].encode("latin-1").decode("utf-8")
        return None

    def set_run_value(self, value):
        if value is None:
            self.wine("reg", "delete", self.RUN_KEY, "/v", "Lexitray", "/f", check=False)
        else:
            self.wine("reg", "add", self.RUN_KEY, "/v", "Lexitray", "/t", "REG_SZ", "/d", value, "/f")

    def windows_path(self, unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    # --- the probe -------------------------------------------------------------------------------------
    def probe(self, *args, check=True, timeout=30):
        result = subprocess.run(self.wine_command(self.probe_exe, *args), env=self.env, timeout=timeout,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors="replace")
        if check and result.returncode not in (0, 1):
            raise HarnessError(f"probe {args} failed with {result.returncode}: {result.stdout}")
        return parse_probe_output(result.stdout)

    def probe_background(self, *args):
        return subprocess.Popen(self.wine_command(self.probe_exe, *args), env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, errors="replace")

    def windows(self, name=None):
        rows = self.probe("find", name) if name else self.probe("list")
        return [f for kind, f in rows if kind == "window"]

    def controls(self, hwnd):
        return [f for kind, f in self.probe("texts", hwnd) if kind == "control"]

    def tray_icons(self, rows=None):
        """The shell's icon records, from the given probe "trayicon" output or a fresh one."""
        return [f for kind, f in (rows if rows is not None else self.probe("trayicon")) if kind == "trayicon"]

    def taskbar(self):
        return [f for kind, f in self.probe("trayicon") if kind == "taskbar"][0]

    def icon_of(self, owner_hwnd, rows=None):
        for icon in self.tray_icons(rows):
            # The shell marks a removed icon's record hidden (-1) before it lets it go.
            if (icon.get("owner") and int(icon["owner"], 16) == int(owner_hwnd, 16) and icon.get("id") == "2122"
                    and int(icon["display"]) >= 0):
                return icon
        return None

    # --- the program -----------------------------------------------------------------------------------
    def start_app(self, name, exe=None):
        """Starts lexitray.exe (or the copy at exe) with the relay trace going to <artifacts>/<name>.relay.log."""
        os.makedirs(self.artifacts, exist_ok=True)
        log_path = os.path.join(self.artifacts, f"{name}.relay.log")
        log = open(log_path, "w")
        env = dict(self.env, WINEDEBUG="-all,+relay")
        os.makedirs(self.workdir, exist_ok=True)
        proc = subprocess.Popen(self.wine_command(exe or self.exe), env=env, cwd=self.workdir, stdout=subprocess.DEVNULL, stderr=log)
        log.close()
        return App(self, proc, log_path)

    def kill_programs(self):
        """Closes any lexitray.exe or probe.exe left from an earlier test."""
        self.wine("taskkill", "/f", "/im", "lexitray.exe", check=False)
        self.wine("taskkill", "/f", "/im", "probe.exe", check=False)
