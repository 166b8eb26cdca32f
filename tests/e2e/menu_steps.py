"""Steps the tray menu, Settings and About tests share: reaching the menu as a person does, reading dialogs."""
import time

from harness import HarnessError, wait_for
from lexitray_checks import prepared_profile, wait_icon

# Calls these tests follow in the relay trace, beside the harness's own.
EXTRA_RELAY = [
    "kernel32.WritePrivateProfileStringW",
    "advapi32.RegDeleteValueA",
    "comdlg32.ChooseFontA",
    "user32.TrackPopupMenu",
    "user32.SetForegroundWindow",
]

SETTINGS_CAPTION = "Lexitray Settings"
ABOUT_CAPTION = "About Lexitray"
WORD_BOX_CAPTION = " Lexitray"
MENU_CLASS = "#32768"

WM_COMMAND = 0x111

# Messages the probe sends to read what no text shows.
CB_GETCOUNT, CB_GETCURSEL = 0x146, 0x147
HKM_GETHOTKEY = 0x402
HOTKEYF_SHIFT, HOTKEYF_CONTROL, HOTKEYF_ALT = 1, 2, 4


def include_relay(prefix, calls=EXTRA_RELAY):
    """Adds calls to the prefix's relay list; programs started afterwards trace them too."""
    missing = [c for c in calls if c not in prefix.relay_calls]
    if missing:
        prefix.relay_calls += missing
        prefix.write_relay_calls()


def relay_calls(app, name):
    """Calls of one function, whatever case the trace gives its module."""
    return [(args, ret) for fn, args, ret in app.relay() if fn.lower() == name.lower()]


def profile_writes(app):
    """(key, value) of every profile write, in order."""
    return [(args[1][1], args[2][1]) for args, _ in relay_calls(app, "kernel32.WritePrivateProfileStringW")]


def start_lexitray(desk, **profile):
    desk.prefix.write_profile(prepared_profile(**profile))
    app = desk.start_app()
    window = app.tray_window()
    icon = wait_icon(desk.prefix, window["hwnd"])
    return app, window, icon


def icon_centre(icon):
    left, top, right, bottom = map(int, icon["rect"].split(","))
    return (left + right) // 2, (top + bottom) // 2


def visible_menus(prefix):
    return [w for w in prefix.windows(MENU_CLASS) if w["visible"] == "1"]


def open_menu(desk, icon, button=3):
    """Clicks the tray icon and waits for the menu; returns the menu window and the click position."""
    x, y = icon_centre(icon)
    desk.prefix.xvfb.click(x, y, button)
    menu = wait_for("the tray menu", lambda: visible_menus(desk.prefix), timeout=10)[0]
    return menu, (x, y)


# Where each item's middle lies below the menu's top edge, in pixels: a 3-pixel frame, items of 16
# pixels and separators of 9 (Exit, separator, About, Settings, separator, Look Up A Word, Recent Words).
ITEM_MIDDLE = {"Exit": 11, "About": 36, "Settings": 52, "Look Up A Word": 77, "Recent Words": 93}
MENU_HEIGHT = 104


# While a look-up waits on the network, "Cancel Look-Up" and a separator sit above the items.
WAIT_ITEMS_HEIGHT = 25


def choose(desk, icon, item, during_wait=False):
    """Opens the menu with a right click and clicks the item (in the menu a wait gives, when during_wait)."""
    menu, _ = open_menu(desk, icon)
    left, top, right, bottom = map(int, menu["rect"].split(","))
    added = WAIT_ITEMS_HEIGHT if during_wait else 0
    if bottom - top != MENU_HEIGHT + added:
        raise HarnessError(f"the menu is {bottom - top} pixels high, not {MENU_HEIGHT + added}: its items moved")
    time.sleep(0.3)
    desk.prefix.xvfb.click((left + right) // 2, top + added + ITEM_MIDDLE[item])
    wait_for("the menu to close", lambda: not visible_menus(desk.prefix), timeout=10)


def visible_dialog(prefix, caption):
    found = [w for w in prefix.windows(caption) if w["class"] == "#32770" and w["visible"] == "1"]
    return found[0] if found else None


def wait_dialog(prefix, caption, timeout=15):
    return wait_for(f"the dialog {caption!r}", lambda: visible_dialog(prefix, caption), timeout)


def wait_foreground(prefix, caption, timeout=15):
    """The dialog once it is the foreground window: only then do keys typed by a person reach it."""
    def found():
        dialog = visible_dialog(prefix, caption)
        return dialog if dialog and dialog.get("foreground") == "1" else None
    return wait_for(f"the dialog {caption!r} in the foreground", found, timeout)


def wait_gone(prefix, caption, timeout=10):
    wait_for(f"the dialog {caption!r} to close", lambda: visible_dialog(prefix, caption) is None, timeout)


def controls_by_id(prefix, dialog):
    return {int(c["id"]): c for c in prefix.controls(dialog["hwnd"]) if int(c["id"]) != -1}


def send(prefix, dialog, control_id, message, wparam=0, lparam=0):
    rows = prefix.probe("send", dialog["hwnd"], control_id, message, wparam, lparam)
    for kind, fields in rows:
        if kind == "result":
            return int(fields["value"])
    raise HarnessError(f"probe send gave {rows}")


def hotkey_value(prefix, dialog, control_id):
    return send(prefix, dialog, control_id, HKM_GETHOTKEY) & 0xFFFF


def click_control(desk, dialog, control_id):
    left, top, right, bottom = map(int, controls_by_id(desk.prefix, dialog)[control_id]["rect"].split(","))
    desk.prefix.xvfb.click((left + right) // 2, (top + bottom) // 2)


def key(desk, *keys):
    desk.prefix.xvfb.xdotool("key", "--delay", "80", *keys)


