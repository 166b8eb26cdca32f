"""What the tests expect of lexitray.exe, and small steps they share."""
import threading
import time

from harness import HarnessError, parse_probe_output, rect_of, wait_for

HINT_DEFAULT = "Press Ctl+Shift+D to look up a word."
ONE_COPY = "You can only have one copy of Lexitray open at a time."
HOTKEY_TAKEN_AT_START = ("Failed to register hotkey!\nError: That hotkey is already registered to another "
                         "application.\n\nYou will have to change your hotkey, or use the Lexitray menu from the "
                         "system tray to look up a word.")
TRAY_ICON_ID = 2122
TRAY_CALLBACK = 1025
HOTKEY_ID = 9991
MOD_ALT, MOD_CONTROL, MOD_SHIFT = 1, 2, 4
NIM_ADD, NIM_MODIFY, NIM_DELETE = 0, 1, 2
ERROR_HOTKEY_ALREADY_REGISTERED = 1409
WM_CLOSE = 0x10
SS_TYPEMASK, SS_ICON = 0x1F, 0x3
WS_EX_TOPMOST = 0x8
SOUND_NOTICE = 110
PLAY_RESOURCE_ASYNC = 0x40005

SEEDED_ORDER = [f"server{i}" for i in range(17)] + [
    "server", "control", "shift", "alt", "hidedbdialog", "letter", "startup"]


# The host text of the server entry that leads to the project's dictd: the address scripts/start-dictd gives
# it, so that a dictd of the user's on 127.0.0.1 (localhost) is not the one the tests reach.
LOCAL_HOST = "127.0.0.2"
# The project's dictd that serves FreeDict's German-English dictionary alone.
FREEDICT_HOST = "127.0.0.3"
# The project's dictd that serves FOLDOC and the Jargon File.
COMPUTING_HOST = "127.0.0.5"


def prepared_profile(**changes):
    """A profile as a later start finds it (no seeding), with the given keys changed."""
    values = {f"server{i}": f"host{i}.example : Test server {i}" for i in range(17)}
    values["server1"] = f"{LOCAL_HOST} : The local test server"
    values.update(server="1", control="1", shift="1", alt="0", hidedbdialog="0", letter="D", startup="1")
    values.update({k: str(v) for k, v in changes.items()})
    return values


def wait_icon(prefix, owner, timeout=15, tip=None):
    def found():
        icon = prefix.icon_of(owner)
        if icon and (tip is None or icon.get("tip") == tip):
            return icon
        return None
    return wait_for(f"the tray icon of {owner}" + (f" with tip {tip!r}" if tip else ""), found, timeout)


def visible_balloon(prefix, rows=None):
    rows = rows if rows is not None else prefix.probe("trayicon")
    balloons = [f for kind, f in rows if kind == "balloon" and f["visible"] == "1"]
    return balloons[0] if balloons else None


def wait_balloon(prefix, owner, timeout=15):
    """The owner's icon record while it holds a balloon text. The shell keeps the text from the moment the
    balloon is asked for until it has been shown and has gone again, so a look that is slow (the balloon
    comes about a second after its icon under 64-bit Wine, and lasts 3 s after Save) does not miss it."""
    def found():
        icon = prefix.icon_of(owner)
        return icon if icon and icon.get("info") else None
    return wait_for("the balloon", found, timeout)


# The longest a balloon can wait behind another one the shell is showing, and more: the watch's bound, not
# how long a balloon takes.
BALLOON_WATCH_SECONDS = 45


class BalloonWatch:
    """Watches, from inside the desktop, for the next balloon the shell shows. Begun before whatever asks for the
    balloon, it sees one that is up for a moment only: separate probe runs looking in turn can miss it entirely
    when starting each takes seconds (a long run's busy 64-bit prefix), and the shell shows one balloon at a time,
    so it may come only after another one has had its time."""

    def __init__(self, proc):
        self.proc = proc
        # The watch counts balloons that come after it began; what follows may ask for one only then.
        if proc.stdout.readline().strip() != "watching":
            raise HarnessError("the balloon watch did not start")

    def balloon(self):
        """The balloon window the shell showed since the watch began, as the probe describes it."""
        try:
            out, _ = self.proc.communicate(timeout=BALLOON_WATCH_SECONDS + 30)
        except Exception:
            self.proc.kill()
            self.proc.wait()
            raise HarnessError("the balloon watch did not end")
        balloons = [f for kind, f in parse_probe_output(out) if kind == "balloon"]
        if not balloons:
            raise HarnessError(f"the shell showed no balloon within {BALLOON_WATCH_SECONDS} s")
        return balloons[0]


def watch_balloon(session):
    return BalloonWatch(session.background_probe("watchballoon", BALLOON_WATCH_SECONDS))


# The watch's bound, not how long the popup notice takes or stays.
POPUP_WATCH_SECONDS = 60


class PopupWatch:
    """Watches, from inside the desktop, for the popup notice (a dialog owned by the TrayWindow) that comes after
    the watch began, and records it when first seen and when it goes: separate probe runs, each of which can take
    seconds to start in a long run's busy prefix, can find a 3-second popup gone."""

    def __init__(self, proc):
        self.proc = proc
        if proc.stdout.readline().strip() != "watching":
            raise HarnessError("the popup watch did not start")

    def _rows_until(self, kinds):
        rows = []
        for line in self.proc.stdout:  # the watch ends by itself at its bound
            rows += parse_probe_output(line)
            if rows and rows[-1][0] in kinds:
                return rows
        raise HarnessError("the popup watch ended early")

    def shown(self):
        """(the popup window, its controls) as they were when it was first seen."""
        rows = self._rows_until({"shown", "nopopup"})
        if rows[-1][0] == "nopopup":
            raise HarnessError(f"no popup notice within {POPUP_WATCH_SECONDS} s")
        return [f for kind, f in rows if kind == "popup"][0], [f for kind, f in rows if kind == "control"]

    def seconds_up(self):
        """How long the popup was up, from first sight until it closed."""
        kind, fields = self._rows_until({"gone", "stillup"})[-1]
        if kind != "gone":
            raise HarnessError(f"the popup notice was still up after {POPUP_WATCH_SECONDS} s")
        return int(fields["after"]) / 1000


def watch_popup(session):
    return PopupWatch(session.background_probe("watchpopup", "Lexitray", POPUP_WATCH_SECONDS))


def message_boxes(prefix):
    return [w for w in prefix.windows("Lexitray") if w["class"] == "#32770" and w["visible"] == "1"]


def wait_message_box(prefix, text, timeout=15):
    """The visible message box titled "Lexitray" showing the text: (window, its controls)."""
    def found():
        for box in message_boxes(prefix):
            controls = prefix.controls(box["hwnd"])
            if any(c["text"] == text for c in controls):
                return box, controls
        return None
    try:
        return wait_for(f"a message box saying {text!r}", found, timeout)
    except HarnessError:
        shown = [[c["text"] for c in prefix.controls(b["hwnd"])] for b in message_boxes(prefix)]
        raise HarnessError(f"no message box saying {text!r}; boxes on screen: {shown}")


def box_has_icon(controls):
    return any(c["class"].lower() == "static" and int(c["style"], 16) & SS_TYPEMASK == SS_ICON
               and c["visible"] == "1" and c["icon"] == "1" for c in controls)


def press_ok(prefix, box):
    prefix.probe("press", box["hwnd"], 1)


def hotkey_free(prefix, modifiers, key):
    """Whether another program could take the combination now (so nobody holds it)."""
    rows = prefix.probe("holdhotkey", modifiers, key, 0)
    kinds = [kind for kind, _ in rows]
    if "registered" in kinds:
        return True
    failed = [f for kind, f in rows if kind == "failed"]
    if failed and failed[0]["error"] == str(ERROR_HOTKEY_ALREADY_REGISTERED):
        return False
    raise HarnessError(f"holdhotkey gave {rows}")


def hotkey_calls(app):
    return [(args, ret) for _, args, ret in app.relay("user32.RegisterHotKey")]


def notify_calls(app):
    return [(args[0], ret) for _, args, ret in app.relay("shell32.Shell_NotifyIconA")]


def rect(window):
    return rect_of(window["rect"])


def elapsed_since(start):
    return time.monotonic() - start


# The watch's bound; it ends earlier when the program does.
WINDOW_WATCH_SECONDS = 1800


class WindowWatch:
    """Every top-level window of one process as it is shown, hidden or renamed, and every change of the
    foreground window, recorded from inside the desktop (probe "watchwindows") and stamped with this side's
    clock when read. A window up for a moment only is not missed, and the tests wait on what the watch has
    seen instead of starting a probe for each look."""

    def __init__(self, session, pid):
        self.proc = session.background_probe("watchwindows", pid, WINDOW_WATCH_SECONDS)
        if self.proc.stdout.readline().strip() != "watching":
            raise HarnessError("the window watch did not start")
        self.events = []            # (time, kind, fields); a shown window's fields hold its "controls"
        self.visible = {}           # hwnd -> fields of each window up now
        self.foreground = None
        self.ended = False
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        shown = None
        for line in self.proc.stdout:
            for kind, fields in parse_probe_output(line):
                if kind == "shown":
                    shown = dict(fields, controls=[])
                    continue
                if kind == "control" and shown is not None:
                    shown["controls"].append(fields)
                    continue
                with self.changed:
                    now = time.monotonic()
                    if kind == "endshown" and shown is not None:
                        self.visible[shown["hwnd"]] = shown
                        self.events.append((now, "shown", shown))
                        shown = None
                    elif kind == "hidden":
                        self.visible.pop(fields["hwnd"], None)
                        self.events.append((now, kind, fields))
                    elif kind == "caption":
                        if fields["hwnd"] in self.visible:
                            self.visible[fields["hwnd"]]["caption"] = fields["caption"]
                        self.events.append((now, kind, fields))
                    elif kind == "foreground":
                        self.foreground = fields["hwnd"]
                        self.events.append((now, kind, fields))
                    elif kind == "ended":
                        self.events.append((now, kind, fields))
                    self.changed.notify_all()
        with self.changed:
            self.ended = True
            self.changed.notify_all()

    def mark(self):
        """Where the events seen from now on begin."""
        with self.changed:
            return len(self.events)

    def wait(self, what, check, timeout=20):
        """Waits until check() (called with the watch's lock held) returns something true, and returns it."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                value = check()
                if value:
                    return value
                left = deadline - time.monotonic()
                if left <= 0 or self.ended:
                    raise HarnessError(f"the window watch saw no {what} within {timeout:.0f} s; "
                                       f"up now: {[w['caption'] for w in self.visible.values()]}")
                self.changed.wait(left)

    def shown_since(self, mark, kinds=None):
        """[(time, window)] of the windows shown since the mark, of the given kinds (window_kind) or all."""
        with self.changed:
            return [(at, f) for at, kind, f in self.events[mark:]
                    if kind == "shown" and (kinds is None or window_kind(f) in kinds)]

    def wait_shown(self, kinds, mark, timeout=20):
        """The first window of one of the kinds shown since the mark and still up."""
        def found():
            for _, kind, f in self.events[mark:]:
                if kind == "shown" and window_kind(f) in kinds and f["hwnd"] in self.visible:
                    return f
            return None
        return self.wait(f"window of {sorted(kinds)}", found, timeout)

    def wait_hidden(self, hwnd, timeout=20):
        self.wait(f"hiding of {hwnd}", lambda: hwnd not in self.visible, timeout)

    def wait_foreground(self, hwnd, timeout=20):
        self.wait(f"{hwnd} in the foreground", lambda: self.foreground == hwnd and hwnd in self.visible, timeout)

    def up(self, kinds):
        """The windows of the given kinds up now."""
        with self.changed:
            return [f for f in self.visible.values() if window_kind(f) in kinds]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def window_kind(window):
    """What a window of the program is, from what the watch saw of it when it was shown."""
    ids = {int(c["id"]) for c in window.get("controls", [])}
    caption = window["caption"]
    if window["class"] == "#32768":
        return "menu"
    if window["class"] != "#32770":
        return "other"
    if caption == " Lexitray":
        return "wordbox"
    if caption == "Lexitray Settings":
        return "settings"
    if caption == "About Lexitray":
        return "about"
    if 1006 in ids:
        return "choice"
    if 1008 in ids:
        return "suggestions"
    if 1005 in ids:
        return "viewer"
    if caption == "Lexitray":
        return "message"
    return "other"


def window_text(window):
    """A message box's text: its longest static text."""
    texts = [c["text"] for c in window.get("controls", []) if c["class"].lower() == "static"]
    return max(texts, key=len) if texts else ""
