"""lexitray.exe looks words up as a person does it: a selection in notepad, the hotkey, the word box, the
database choice, the failover questions and the definition viewer, against the local dictd."""
import os
import re
import shutil
import socket
import statistics
import subprocess
import threading
import time

import pytest
from PIL import Image

from conftest import write_timings
from harness import HarnessError, stays_away, wait_for
from menu_steps import ITEM_MIDDLE, include_relay, open_menu, relay_calls, visible_menus
from lexitray_checks import (COMPUTING_HOST, FREEDICT_HOST, LOCAL_HOST, elapsed_since, prepared_profile, press_ok,
                             wait_icon, wait_message_box)

HOTKEY = "ctrl+shift+d"
WORD_BOX_CAPTION = " Lexitray"
ID_WORD = 1003
ID_DB_LIST, ID_DB_OK, ID_DB_SKIP = 1006, 1007, 1011
ID_NEXT, ID_PREVIOUS, ID_CLOSE, ID_TEXT = 1002, 1003, 2, 1005
ID_YES, ID_NO = 6, 7
ID_SUGGEST_LIST, ID_LOOK_UP, ID_NEXT_SERVER, ID_SUGGEST_CANCEL = 1008, 1, 1009, 2
EM_GETSEL, EM_SETSEL, EM_POSFROMCHAR, LB_SETCURSEL = 0xB0, 0xB1, 0xD6, 0x186
EM_GETFIRSTVISIBLELINE, EM_LINEINDEX = 0xCE, 0xBB
ID_FIND, ID_FOUND = 1013, 1014
WORDNET = "WordNet (r) 3.0 (2006)"
NIM_MODIFY = 1
IDM_RECENT_FIRST = 40010

DEAD_HOST = "127.0.99.1"       # nothing listens there: connecting is refused at once
SILENT_NET = "127.0.98"        # the test's own server listens on an address of this net

NOT_RESPONDING = ("The dictionary server \"{}\" is not responding.\n"
                  "Would you like to try the next server in the list?")
NOT_FOUND = "The word \"{}\" was not found in any dictionary on \"{}\"\nWould you like to try the next server in the list?"

GLIMMERWORT_FIRST = ("glimmerwort n. A small fern of the Lexitray test garden that shines faintly at dusk.\r\n"
                     "  It is known in two test dictionaries, so a look-up must ask which one to use.\r\n"
                     "..dotted line kept as the server sends it")
GLIMMERWORT_SECOND = "glimmerwort n. (second dictionary) An old word for the glow of fireflies over a meadow."
SNORKELBLOOM = "snorkelbloom n. A water flower found only in the first Lexitray test dictionary."
CAFE = "café n. A small restaurant selling \u201ccoffee\u201d and light refreshments \u2014 a word with accents."
# gcide holds three entries for "bolter" and no other database matches it.
BOLTER_MARKS = ["One who bolts", "One who sifts flour", "A kind of fishing line"]

TIMINGS = []


# --- what is on screen ---------------------------------------------------------------------------------
def visible_dialogs(prefix, caption="Lexitray"):
    return [w for w in prefix.windows(caption) if w["class"] == "#32770" and w["visible"] == "1"]


def unicode_view(prefix, hwnd):
    """({control id: text}, [(index, selected, text)] of list items), read as wide text."""
    texts, items = {}, []
    for kind, fields in prefix.probe("unicode", hwnd):
        if kind == "utext":
            texts[int(fields["id"])] = fields["text"].encode("latin-1").decode("utf-8")
        elif kind == "item":
            items.append((int(fields["index"]), fields["selected"] == "1",
                          fields["text"].encode("latin-1").decode("utf-8")))
    return texts, items


def dialog_with(prefix, control_id, caption="Lexitray"):
    """The visible dialog of the program that has the control, or None."""
    for window in visible_dialogs(prefix, caption):
        if any(int(c["id"]) == control_id for c in prefix.controls(window["hwnd"])):
            return window
    return None


def wait_dialog(prefix, control_id, what, caption="Lexitray", timeout=20):
    return wait_for(what, lambda: dialog_with(prefix, control_id, caption), timeout)


def wait_word_box(prefix, timeout=20):
    """The word box once it is in the foreground: it is brought there, and only then does typing reach it."""
    def found():
        box = dialog_with(prefix, ID_WORD, WORD_BOX_CAPTION)
        return box if box and box.get("foreground") == "1" else None
    return wait_for("the word box in the foreground", found, timeout)


def viewer_window(prefix):
    """The visible definition viewer, or None: its caption begins with "Lexitray" and goes on to name
    what it shows."""
    for window in prefix.windows():
        if window["class"] == "#32770" and window["visible"] == "1" and window["caption"].startswith("Lexitray"):
            if any(int(c["id"]) == ID_TEXT for c in prefix.controls(window["hwnd"])):
                return window
    return None


def wait_viewer(prefix, timeout=30):
    return wait_for("the definition viewer", lambda: viewer_window(prefix), timeout)


def wait_choice(prefix, timeout=30):
    return wait_dialog(prefix, ID_DB_LIST, "the database choice dialog", timeout=timeout)


def control(prefix, window, control_id):
    return [c for c in prefix.controls(window["hwnd"]) if int(c["id"]) == control_id][0]


def viewer_text(prefix, viewer):
    return unicode_view(prefix, viewer["hwnd"])[0][ID_TEXT]


# Text in braces is a cross-reference, shown without its braces: not when it holds blanks only, reaches
# further than a word can be long or holds another brace.
LINK = re.compile(r"\{([^{}]{1,254})\}")


def shown_text(sent):
    """A definition as the viewer shows it: the server's text with the braces of each link taken out."""
    return LINK.sub(lambda m: m.group(1) if m.group(1).strip() else m.group(0), sent)


def window_caption(prefix, window):
    """The window's own caption, read as wide text."""
    for kind, fields in prefix.probe("unicode", window["hwnd"]):
        if kind == "ucaption":
            return fields["text"].encode("latin-1").decode("utf-8")
    return None


def viewer_caption(*parts):
    return " \u2014 ".join(("Lexitray",) + parts)


def wait_caption(prefix, window, word, dictionary, position, timeout=15):
    expected = viewer_caption(word, dictionary, position)
    try:
        return wait_for(f"the caption {expected!r}", lambda: window_caption(prefix, window) == expected, timeout)
    except HarnessError:
        raise AssertionError(f"the caption is {window_caption(prefix, window)!r}, not {expected!r}")


def wait_text(prefix, window, control_id, expected, timeout=10):
    """Waits until the control shows exactly the expected text (input reaches Wine asynchronously)."""
    try:
        return wait_for(f"control {control_id} to show {expected!r}",
                        lambda: unicode_view(prefix, window["hwnd"])[0].get(control_id) == expected, timeout)
    except HarnessError:
        raise AssertionError(f"control {control_id} shows {unicode_view(prefix, window['hwnd'])[0].get(control_id)!r},"
                             f" not {expected!r}")


# --- what a person does ------------------------------------------------------------------------------
def click(desk, x, y):
    # Without --sync: xdotool waits for ever for a move to where the pointer already is.
    desk.prefix.xvfb.xdotool("mousemove", x, y, "click", "1")
    time.sleep(0.3)


def click_control(desk, window, control_id):
    left, top, right, bottom = map(int, control(desk.prefix, window, control_id)["rect"].split(","))
    click(desk, (left + right) // 2, (top + bottom) // 2)


def click_list_item(desk, window, index):
    left, top, right, bottom = map(int, control(desk.prefix, window, ID_DB_LIST)["rect"].split(","))
    # Items of the dialog font are 12 pixels high, below the list's border.
    click(desk, left + 40, top + 2 + 12 * index + 6)


def key(desk, *keys):
    desk.prefix.xvfb.xdotool("key", "--delay", "60", *keys)


def type_text(desk, text):
    desk.prefix.xvfb.xdotool("type", "--delay", "60", text)


def open_notepad(desk, text, encoding="ascii"):
    """Notepad with a file holding the text, in front, the caret at the start."""
    path = os.path.join(desk.prefix.build_dir, "e2e-artifacts", f"{desk.name}-words.txt")
    with open(path, "wb") as f:
        f.write(text.encode(encoding))
    proc = subprocess.Popen(desk.prefix.wine_command("notepad.exe", desk.prefix.windows_path(path)), env=desk.prefix.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    desk.helpers.append(proc)
    name = os.path.basename(path)
    # Notepad's first start in a new prefix has once taken over 30 s on a loaded host.
    window = wait_for("notepad", lambda: [w for w in desk.prefix.windows(f"{name} - Notepad") if w["visible"] == "1"],
                      timeout=60)[0]
    time.sleep(0.5)
    key(desk, "ctrl+Home")
    return window


def select_first_word(desk):
    # Ctrl+Shift+Right takes the word and the blank after it, as a double click would in many editors.
    key(desk, "ctrl+Home", "ctrl+shift+Right")


def start_lexitray(desk, **profile):
    desk.prefix.write_profile(prepared_profile(**profile))
    app = desk.start_app()
    window = app.tray_window()
    wait_icon(desk.prefix, window["hwnd"])
    return app, window


def look_up_typed(desk, word):
    """Hotkey, type the word over whatever the box holds, Enter."""
    key(desk, HOTKEY)
    box = wait_word_box(desk.prefix)
    type_text(desk, word)
    try:
        wait_text(desk.prefix, box, ID_WORD, word, timeout=5)
    except AssertionError:
        # The box opens within a few milliseconds of the hotkey; a window that a test closed just
        # before (a question pressed away by the probe) can still hand the activation back to its
        # old owner after that, and the typing goes there. A person clicks into the box then.
        click_control(desk, box, ID_WORD)
        key(desk, "End", "shift+Home")
        type_text(desk, word)
        wait_text(desk.prefix, box, ID_WORD, word)
    key(desk, "Return")


def close_viewer(desk, viewer):
    click_control(desk, viewer, ID_CLOSE)
    wait_for("the viewer to close", lambda: viewer_window(desk.prefix) is None, timeout=10)


@pytest.fixture
def look(desk):
    yield desk
    desk.prefix.wine("taskkill", "/f", "/im", "notepad.exe", check=False)


@pytest.fixture(scope="module", autouse=True)
def report_timings():
    yield
    write_timings("lookup-timings.txt", TIMINGS)


# --- the tests -----------------------------------------------------------------------------------------
@pytest.mark.smoke
def test_selected_word_goes_from_notepad_to_the_viewer(look):
    # Without looking ahead, which shows no progress before Enter.
    app, _ = start_lexitray(look, lookahead=0)
    open_notepad(look, "snorkelbloom grows under water\r\n")
    select_first_word(look)
    modifies_before = sum(1 for _, args, _ in app.relay("shell32.Shell_NotifyIconA") if args[0] == NIM_MODIFY)

    start = time.monotonic()
    key(look, HOTKEY)
    box = wait_word_box(look.prefix)
    TIMINGS.append(("hotkey to word box", elapsed_since(start)))
    texts, _ = unicode_view(look.prefix, box["hwnd"])
    assert texts[ID_WORD] == "snorkelbloom"
    look.screenshot("word-box")

    start = time.monotonic()
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    TIMINGS.append(("Enter to viewer", elapsed_since(start)))
    wait_text(look.prefix, viewer, ID_TEXT, SNORKELBLOOM)
    assert dialog_with(look.prefix, ID_WORD, WORD_BOX_CAPTION) is None
    # One definition: nothing to step through.
    assert control(look.prefix, viewer, ID_NEXT)["enabled"] == "0"
    assert control(look.prefix, viewer, ID_PREVIOUS)["enabled"] == "0"
    look.screenshot("viewer")
    # The three progress texts and the two take-downs (before the choice and when the viewer opened)
    # went to the tray icon's balloon.
    modifies = sum(1 for _, args, _ in app.relay("shell32.Shell_NotifyIconA") if args[0] == NIM_MODIFY)
    assert modifies - modifies_before == 5
    close_viewer(look, viewer)


def test_typing_replaces_the_captured_word(look):
    start_lexitray(look)
    open_notepad(look, "glimmerwort shines\r\n")
    select_first_word(look)
    key(look, HOTKEY)
    box = wait_word_box(look.prefix)
    assert unicode_view(look.prefix, box["hwnd"])[0][ID_WORD] == "glimmerwort"
    # The captured word is all selected, so typing replaces it.
    type_text(look, "snorkelbloom")
    wait_text(look.prefix, box, ID_WORD, "snorkelbloom")
    key(look, "Return")
    assert viewer_text(look.prefix, wait_viewer(look.prefix)) == SNORKELBLOOM


def test_typing_stops_at_25_characters(look):
    start_lexitray(look)
    key(look, HOTKEY)
    box = wait_word_box(look.prefix)
    type_text(look, "abcdefghijklmnopqrstuvwxyz0123")
    time.sleep(0.5)
    wait_text(look.prefix, box, ID_WORD, "abcdefghijklmnopqrstuvwxy")
    key(look, "Escape")


def caption_drawn_active(desk, window, label):
    """Whether the screen shows the window's caption, active, across its middle: a window stacked behind
    another is foreground and active for every call that asks, yet the screen shows the other one."""
    left, top, right, _ = map(int, window["rect"].split(","))
    image = Image.open(desk.screenshot(label)).convert("RGB")
    row = [image.getpixel((x, top + 8)) for x in range((left + right) // 2, right - 30, 4)]
    return all(blue > 200 and red < 120 for red, _, blue in row)


# Looked up ahead, the choice opens the moment the box hides, and the box's old owner may raise its window
# over it afterwards: it must still be drawn on top, where the clicks go.
@pytest.mark.parametrize("lookahead", [0, 1], ids=["looked-up-on-enter", "looked-up-ahead"])
def test_several_databases_ask_and_the_second_is_used(look, lookahead):
    start_lexitray(look, lookahead=lookahead)
    open_notepad(look, "glimmerwort shines\r\n")
    select_first_word(look)
    key(look, HOTKEY)
    wait_word_box(look.prefix)
    key(look, "Return")
    choice = wait_choice(look.prefix)
    time.sleep(0.5)
    assert caption_drawn_active(look, choice, "choice-on-top"), "the choice is hidden behind another window"
    texts, items = unicode_view(look.prefix, choice["hwnd"])
    assert [text for _, _, text in items] == ["Lexitray Test Dictionary", "Lexitray Second Test Dictionary"]
    assert [selected for _, selected, _ in items] == [True, False]
    assert control(look.prefix, choice, ID_DB_SKIP)["checked"] == "0"
    assert int(choice["exstyle"], 16) & 0x8, "the choice dialog is not topmost"
    look.screenshot("choice")

    # Enter and Escape leave the dialog open and start nothing.
    key(look, "Return")
    key(look, "Escape")
    assert stays_away(lambda: viewer_window(look.prefix), seconds=1.5)
    assert dialog_with(look.prefix, ID_DB_LIST) is not None

    click_list_item(look, choice, 1)
    if [selected for _, selected, _ in unicode_view(look.prefix, choice["hwnd"])[1]] != [False, True]:
        # Looked up ahead, the choice opens the moment the box closes, and under Wine the box's old owner
        # can take the activation back after that: the first click then only activates the dialog.
        click_list_item(look, choice, 1)
    assert [selected for _, selected, _ in unicode_view(look.prefix, choice["hwnd"])[1]] == [False, True]
    click_control(look, choice, ID_DB_OK)
    viewer = wait_viewer(look.prefix)
    assert viewer_text(look.prefix, viewer) == GLIMMERWORT_SECOND
    assert dict(look.prefix.read_profile())["hidedbdialog"] == "0"


def test_use_first_result_skips_the_choice_now_and_after_a_restart(look):
    app, _ = start_lexitray(look)
    look_up_typed(look, "glimmerwort")
    choice = wait_choice(look.prefix)
    click_control(look, choice, ID_DB_SKIP)
    click_control(look, choice, ID_DB_OK)
    viewer = wait_viewer(look.prefix)
    assert viewer_text(look.prefix, viewer) == GLIMMERWORT_FIRST
    assert dict(look.prefix.read_profile())["hidedbdialog"] == "1"
    close_viewer(look, viewer)

    look_up_typed(look, "glimmerwort")
    viewer = wait_viewer(look.prefix)
    assert dialog_with(look.prefix, ID_DB_LIST) is None
    assert viewer_text(look.prefix, viewer) == GLIMMERWORT_FIRST
    close_viewer(look, viewer)

    app.stop()
    second = look.start_app()
    wait_icon(look.prefix, second.tray_window()["hwnd"])
    look_up_typed(look, "glimmerwort")
    viewer = wait_viewer(look.prefix)
    assert dialog_with(look.prefix, ID_DB_LIST) is None
    assert viewer_text(look.prefix, viewer) == GLIMMERWORT_FIRST


def test_next_and_previous_wrap_around_three_definitions(look):
    start_lexitray(look)
    look_up_typed(look, "bolter")
    viewer = wait_viewer(look.prefix)
    assert control(look.prefix, viewer, ID_NEXT)["enabled"] == "1"
    assert control(look.prefix, viewer, ID_PREVIOUS)["enabled"] == "1"

    def shown():
        text = viewer_text(look.prefix, viewer)
        matching = [i for i, mark in enumerate(BOLTER_MARKS) if mark in text]
        assert len(matching) == 1, f"unexpected text {text!r}"
        return matching[0]

    def step(button):
        # Every step of three changes the text; wait for the change to reach the box.
        before = shown()
        click_control(look, viewer, button)
        return wait_for("the text to change", lambda: [i for i in [shown()] if i != before], timeout=10)[0]

    seen = [shown()]
    for _ in range(3):
        seen.append(step(ID_NEXT))
    assert seen == [0, 1, 2, 0]
    seen = [step(ID_PREVIOUS), step(ID_PREVIOUS)]
    assert seen == [2, 1]
    look.screenshot("third-of-three")


def test_two_definitions_alternate(look):
    start_lexitray(look)
    look_up_typed(look, "quillfeather")
    viewer = wait_viewer(look.prefix)
    first = viewer_text(look.prefix, viewer)
    assert first.startswith("quillfeather n. First sense")
    # The caption names the word, the dictionary's description and the position, and follows the steps.
    wait_caption(look.prefix, viewer, "quillfeather", "Lexitray Test Dictionary", "1 of 2")
    second = "quillfeather n. Second sense: the slow, careful way of writing with one."
    click_control(look, viewer, ID_NEXT)
    wait_text(look.prefix, viewer, ID_TEXT, second)
    wait_caption(look.prefix, viewer, "quillfeather", "Lexitray Test Dictionary", "2 of 2")
    click_control(look, viewer, ID_NEXT)
    wait_text(look.prefix, viewer, ID_TEXT, first)
    wait_caption(look.prefix, viewer, "quillfeather", "Lexitray Test Dictionary", "1 of 2")
    click_control(look, viewer, ID_PREVIOUS)
    wait_text(look.prefix, viewer, ID_TEXT, second)


def box_offset(text, index):
    """The text box's offset of index into its text as read: the box counts each line end as one unit."""
    return index - text.count("\r\n", 0, index)


def point_at(desk, viewer, index):
    """The screen point a few pixels into the character at index of the viewer's text."""
    packed = send_to(desk.prefix, viewer, ID_TEXT, EM_POSFROMCHAR, box_offset(viewer_text(desk.prefix, viewer), index))
    left, top, _, _ = map(int, control(desk.prefix, viewer, ID_TEXT)["rect"].split(","))
    # The box's sunken edge is two pixels wide; the point lies inside the character's line.
    return left + 2 + (packed & 0xFFFF) + 4, top + 2 + (packed >> 16) + 5


def send_to(prefix, window, control_id, message, wparam=0, lparam=0):
    for kind, fields in prefix.probe("send", window["hwnd"], control_id, message, wparam, lparam):
        if kind == "result":
            return int(fields["value"])
    raise HarnessError("the probe sent nothing")


def double_click(desk, x, y):
    desk.prefix.xvfb.xdotool("mousemove", x, y, "click", "--repeat", "2", "--delay", "80", "1")


def test_double_click_follows_a_braced_word_and_back_returns(look):
    start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "computer")
    viewer = wait_viewer(look.prefix)
    text = viewer_text(look.prefix, viewer)
    wait_caption(look.prefix, viewer, "computer", WORDNET, "1 of 1")
    # "{reckoner}," is a link "reckoner": a double click on it follows it once.
    double_click(look, *point_at(look, viewer, text.index("reckoner,")))
    wait_caption(look.prefix, viewer, "reckoner", WORDNET, "1 of 1")
    assert viewer_text(look.prefix, viewer).startswith("reckoner\r\n")
    look.screenshot("followed")

    # Back shows the word before as it was.
    key(look, "BackSpace")
    wait_caption(look.prefix, viewer, "computer", WORDNET, "1 of 1")
    wait_text(look.prefix, viewer, ID_TEXT, text)

    # The hotkey over the viewer with a word selected in it looks that word up there; Alt+Left goes back.
    start = text.index("calculator")
    send_to(look.prefix, viewer, ID_TEXT, EM_SETSEL, box_offset(text, start), box_offset(text, start) + len("calculator"))
    key(look, HOTKEY)
    wait_caption(look.prefix, viewer, "calculator", WORDNET, "1 of 1")
    assert dialog_with(look.prefix, ID_WORD, WORD_BOX_CAPTION) is None
    key(look, "alt+Left")
    wait_caption(look.prefix, viewer, "computer", WORDNET, "1 of 1")
    # Nothing further back: Backspace leaves the first word shown.
    key(look, "BackSpace")
    time.sleep(0.5)
    wait_caption(look.prefix, viewer, "computer", WORDNET, "1 of 1", timeout=0.5)
    close_viewer(look, viewer)


def test_a_link_shows_without_braces_and_a_click_follows_it(look):
    start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "hack")
    viewer = wait_viewer(look.prefix)
    wait_caption(look.prefix, viewer, "hack", WORDNET, "1 of 1")
    # The probe reads the head of a long text.
    text = viewer_text(look.prefix, viewer)
    assert len(text) > 500 and dictd_definitions("wn", "hack")[0].startswith(text)
    assert "[syn: hack, drudge,\r\n         hacker]" in text
    look.screenshot("links")
    look.prefix.xvfb.xdotool("mousemove", *point_at(look, viewer, text.index("drudge")))
    time.sleep(0.3)
    look.screenshot("link-hovered")
    click(look, *point_at(look, viewer, text.index("hacker]") + 2))
    wait_caption(look.prefix, viewer, "hacker", WORDNET, "1 of 1")
    assert dictd_definitions("wn", "hacker")[0].startswith(viewer_text(look.prefix, viewer))
    key(look, "BackSpace")
    wait_caption(look.prefix, viewer, "hack", WORDNET, "1 of 1")
    wait_text(look.prefix, viewer, ID_TEXT, text)


def heading(word, dictionary):
    return f"{word} \u2014 {dictionary}\r\n"


def selection(prefix, viewer):
    packed = send_to(prefix, viewer, ID_TEXT, EM_GETSEL)
    return packed & 0xFFFF, packed >> 16


def test_all_on_one_page_shows_each_dictionary_under_its_heading_and_next_goes_to_the_next(look):
    start_lexitray(look, onepage=1)
    look_up_typed(look, "glimmerwort")
    viewer = wait_viewer(look.prefix)
    assert dialog_with(look.prefix, ID_DB_LIST) is None, "the choice was asked"
    second = heading("glimmerwort", "Lexitray Second Test Dictionary")
    text = heading("glimmerwort", "Lexitray Test Dictionary") + GLIMMERWORT_FIRST + "\r\n\r\n" + second + GLIMMERWORT_SECOND
    wait_text(look.prefix, viewer, ID_TEXT, text)
    wait_caption(look.prefix, viewer, "glimmerwort", "Lexitray Test Dictionary", "1 of 2")
    look.screenshot("all-on-one-page")
    click_control(look, viewer, ID_NEXT)
    wait_caption(look.prefix, viewer, "glimmerwort", "Lexitray Second Test Dictionary", "2 of 2")
    assert selection(look.prefix, viewer)[0] == box_offset(text, text.index(second))
    click_control(look, viewer, ID_NEXT)
    wait_caption(look.prefix, viewer, "glimmerwort", "Lexitray Test Dictionary", "1 of 2")


def test_find_selects_a_word_of_the_longest_entry_and_says_when_there_is_none(look):
    start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "break")
    viewer = wait_viewer(look.prefix)
    wait_caption(look.prefix, viewer, "break", WORDNET, "1 of 1")
    body = dictd_definitions("wn", "break")[0]
    key(look, "ctrl+f")
    wait_for("the find bar", lambda: control(look.prefix, viewer, ID_FIND)["visible"] == "1")
    type_text(look, "Bankrupt")
    key(look, "Return")
    first = body.lower().index("bankrupt")
    found = (box_offset(body, first), box_offset(body, first) + len("bankrupt"))
    wait_for("bankrupt selected", lambda: selection(look.prefix, viewer) == found)
    assert send_to(look.prefix, viewer, ID_TEXT, EM_GETFIRSTVISIBLELINE) > 0, "the found word is not in view"
    look.screenshot("found")
    key(look, "F3")
    later = body.lower().index("bankrupt", first + 1)
    wait_for("the next one selected", lambda: selection(look.prefix, viewer)[0] == box_offset(body, later))
    key(look, "shift+F3")
    wait_for("the one before selected", lambda: selection(look.prefix, viewer) == found)
    assert control(look.prefix, viewer, ID_FOUND)["visible"] == "0"
    key(look, "ctrl+a", "BackSpace")
    type_text(look, "qwertyuiop")
    key(look, "Return")
    wait_for("not found said", lambda: control(look.prefix, viewer, ID_FOUND)["visible"] == "1")
    assert unicode_view(look.prefix, viewer["hwnd"])[0][ID_FOUND] == "Not found"
    assert selection(look.prefix, viewer) == found
    # Escape closes the bar and leaves the viewer open.
    key(look, "Escape")
    wait_for("the find bar to close", lambda: control(look.prefix, viewer, ID_FIND)["visible"] == "0")
    assert viewer_window(look.prefix) is not None


def line_height(prefix, viewer):
    second = send_to(prefix, viewer, ID_TEXT, EM_LINEINDEX, 1)
    return (send_to(prefix, viewer, ID_TEXT, EM_POSFROMCHAR, second) >> 16) - (send_to(prefix, viewer, ID_TEXT, EM_POSFROMCHAR, 0) >> 16)


def fontsize(desk):
    return dict(desk.prefix.read_profile()).get("fontsize")


def test_ctrl_wheel_zooms_and_a_restart_keeps_the_size(look):
    app, _ = start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "hack")
    viewer = wait_viewer(look.prefix)
    plain = line_height(look.prefix, viewer)
    x, y = point_at(look, viewer, 0)
    look.prefix.xvfb.xdotool("mousemove", x, y + 40, "keydown", "ctrl", "click", "4", "click", "4", "keyup", "ctrl")
    wait_for("the size in the profile", lambda: fontsize(look) not in (None, "0"))
    wait_for("larger lines", lambda: line_height(look.prefix, viewer) > plain)
    zoomed, size = line_height(look.prefix, viewer), fontsize(look)
    look.screenshot("zoomed")
    # Ctrl+minus and Ctrl+0 work from the keyboard as well.
    key(look, "ctrl+minus")
    wait_for("smaller lines", lambda: line_height(look.prefix, viewer) < zoomed)
    key(look, "ctrl+0")
    wait_for("the size as picked", lambda: line_height(look.prefix, viewer) == plain)
    key(look, "ctrl+plus", "ctrl+plus")
    wait_for("the size in the profile", lambda: fontsize(look) == size)
    close_viewer(look, viewer)
    app.stop()

    # A restart with the profile as it was left.
    wait_icon(look.prefix, look.start_app().tray_window()["hwnd"])
    look_up_typed(look, "hack")
    viewer = wait_viewer(look.prefix)
    assert line_height(look.prefix, viewer) == zoomed


def test_ctrl_c_copies_the_text_as_shown(look):
    start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "computer")
    viewer = wait_viewer(look.prefix)
    text = viewer_text(look.prefix, viewer)
    key(look, "ctrl+a", "ctrl+c")
    from test_capture import clipboard

    def copied():
        value = clipboard(look)[1]
        return value and value.encode("ascii").decode("unicode_escape").encode("latin-1").decode("utf-8")
    # keyview reads the clipboard text's head.
    try:
        wait_for("the text on the clipboard", lambda: len(copied() or "") > 200 and text.startswith(copied()))
    except HarnessError:
        raise AssertionError(f"the clipboard holds {copied()!r}, not {text!r}")
    assert "{" not in text and "\r\n" in text


def test_opening_times_of_the_longest_entry_on_one_page_and_of_a_small_one(look):
    for word, onepage in [("snorkelbloom", 0), ("break", 1)]:
        app, _ = start_lexitray(look, onepage=onepage, hidedbdialog=1)
        key(look, HOTKEY)
        box = wait_word_box(look.prefix)
        type_text(look, word)
        wait_text(look.prefix, box, ID_WORD, word)
        start = time.monotonic()
        key(look, "Return")
        viewer = wait_for("the viewer with its text", lambda: [v for v in [viewer_window(look.prefix)]
                                                                if v and viewer_text(look.prefix, v)])[0]
        what = "every dictionary's \"break\" on one page" if onepage else "one small definition"
        TIMINGS.append((f"Enter to viewer with {what}", elapsed_since(start)))
        assert viewer_text(look.prefix, viewer).startswith(word)
        close_viewer(look, viewer)
        app.stop()


def test_failed_follow_keeps_what_the_viewer_shows(look):
    start_lexitray(look, baseforms=0, suggest=0)
    look_up_typed(look, "snorkelbloom")
    viewer = wait_viewer(look.prefix)
    # "Lexitray" is in no dictionary of the local server.
    double_click(look, *point_at(look, viewer, SNORKELBLOOM.index("Lexitray")))
    box, _ = wait_message_box(look.prefix, NOT_FOUND.format("Lexitray", LOCAL_HOST))
    look.prefix.probe("press", box["hwnd"], ID_NO)
    wait_caption(look.prefix, viewer, "snorkelbloom", "Lexitray Test Dictionary", "1 of 1")
    assert viewer_text(look.prefix, viewer) == SNORKELBLOOM


def test_dead_server_asks_and_yes_moves_on_to_the_next(look):
    start_lexitray(look, server="0", server0=f"{DEAD_HOST} : Nobody home")
    look_up_typed(look, "snorkelbloom")
    box, _ = wait_message_box(look.prefix, NOT_RESPONDING.format(DEAD_HOST))
    look.screenshot("not-responding")
    look.prefix.probe("press", box["hwnd"], ID_YES)
    viewer = wait_viewer(look.prefix)
    assert viewer_text(look.prefix, viewer) == SNORKELBLOOM
    # Moving on does not change the configured server.
    assert dict(look.prefix.read_profile())["server"] == "0"


def test_word_found_nowhere_asks_and_no_ends_it(look):
    start_lexitray(look)
    look_up_typed(look, "zzzzqx")
    box, _ = wait_message_box(look.prefix, NOT_FOUND.format("zzzzqx", LOCAL_HOST))
    look.prefix.probe("press", box["hwnd"], ID_NO)
    assert stays_away(lambda: viewer_window(look.prefix))
    assert dialog_with(look.prefix, ID_WORD, WORD_BOX_CAPTION) is None
    # The look-up is over: the hotkey opens the box again.
    key(look, HOTKEY)
    wait_word_box(look.prefix)
    key(look, "Escape")


class SilentServer:
    """Accepts connections on port 2628 of a free address of SILENT_NET and never answers."""

    def __init__(self):
        # Another run of these tests (another build folder) may hold an address: take the next.
        for number in range(1, 255):
            self.host = f"{SILENT_NET}.{number}"
            self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            try:
                self.listener.bind((self.host, 2628))
                break
            except OSError:
                self.listener.close()
        else:
            raise HarnessError(f"no free address in {SILENT_NET}.0/24")
        self.listener.listen(4)
        self.connections = []
        self.thread = threading.Thread(target=self.accept, daemon=True)
        self.thread.start()

    def accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections.append(connection)

    def close(self):
        self.listener.close()
        for connection in self.connections:
            connection.close()


def test_silent_server_is_given_up_within_the_time_out(look):
    server = SilentServer()
    try:
        start_lexitray(look, server="0", server0=f"{server.host} : Says nothing")
        start = time.monotonic()
        look_up_typed(look, "snorkelbloom")
        box, _ = wait_message_box(look.prefix, NOT_RESPONDING.format(server.host), timeout=45)
        TIMINGS.append(("silent server to question", elapsed_since(start)))
        assert server.connections, "the program never connected to the silent server"
        look.prefix.probe("press", box["hwnd"], ID_NO)
    finally:
        server.close()


def test_non_ascii_word_and_definition(look):
    start_lexitray(look)
    # A UTF-16 file with its byte order mark, so that notepad reads it whatever the code page.
    open_notepad(look, "\ufeffcafé au lait\r\n", encoding="utf-16-le")
    select_first_word(look)
    key(look, HOTKEY)
    box = wait_word_box(look.prefix)
    assert unicode_view(look.prefix, box["hwnd"])[0][ID_WORD] == "café"
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    assert viewer_text(look.prefix, viewer) == CAFE
    look.screenshot("cafe")


def test_empty_box_asks_for_a_word_and_escape_looks_nothing_up(look):
    app, _ = start_lexitray(look)
    key(look, HOTKEY)
    box = wait_word_box(look.prefix)
    key(look, "BackSpace", "Return")
    message, _ = wait_message_box(look.prefix, "Please enter a word into the box provided")
    assert int(message["owner"], 16) == int(box["hwnd"], 16)
    look.prefix.probe("press", message["hwnd"], 1)
    wait_for("the message to close", lambda: not [w for w in visible_dialogs(look.prefix)
                                                  if w["hwnd"] == message["hwnd"]], timeout=10)
    assert dialog_with(look.prefix, ID_WORD, WORD_BOX_CAPTION) is not None
    modifies_before = len(app.relay("shell32.Shell_NotifyIconA"))
    key(look, "Escape")
    wait_for("the word box to close", lambda: dialog_with(look.prefix, ID_WORD, WORD_BOX_CAPTION) is None, timeout=10)
    assert stays_away(lambda: viewer_window(look.prefix), seconds=1.0)
    assert len(app.relay("shell32.Shell_NotifyIconA")) == modifies_before, "a look-up started after Escape"


def test_second_hotkey_does_nothing_while_a_look_up_is_open(look):
    start_lexitray(look)
    key(look, HOTKEY)
    wait_word_box(look.prefix)
    key(look, HOTKEY)
    time.sleep(1.0)
    assert len([w for w in visible_dialogs(look.prefix, WORD_BOX_CAPTION)]) == 1
    type_text(look, "snorkelbloom")
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    key(look, HOTKEY)
    assert stays_away(lambda: dialog_with(look.prefix, ID_WORD, WORD_BOX_CAPTION), seconds=1.5)
    close_viewer(look, viewer)
    key(look, HOTKEY)
    wait_word_box(look.prefix)
    key(look, "Escape")


def first_line_height(path, rect):
    """Height in pixels of the first band of dark rows inside rect (screen coordinates) of a screenshot,
    and whether the box's background there is white."""
    left, top, right, bottom = rect
    image = Image.open(path).convert("RGB")
    inner = image.crop((left + 4, top + 4, right - 24, bottom - 4))
    width, height = inner.size
    pixels = inner.load()
    dark_rows = [y for y in range(height) if any(sum(pixels[x, y]) < 200 for x in range(width))]
    band = 0
    if dark_rows:
        band = 1
        while band < len(dark_rows) and dark_rows[band] == dark_rows[0] + band:
            band += 1
    white = pixels[width - 1, height - 1] == (255, 255, 255)
    return band, white


def test_configured_font_shows_in_the_viewer_black_on_white(look):
    app, _ = start_lexitray(look)
    look_up_typed(look, "snorkelbloom")
    viewer = wait_viewer(look.prefix)
    time.sleep(0.5)
    rect = tuple(map(int, control(look.prefix, viewer, ID_TEXT)["rect"].split(",")))
    plain_height, plain_white = first_line_height(look.screenshot("dialog-font"), rect)
    close_viewer(look, viewer)
    app.stop()

    start_lexitray(look, font="DejaVu Sans", fontsize="-28")
    look_up_typed(look, "snorkelbloom")
    viewer = wait_viewer(look.prefix)
    time.sleep(0.5)
    rect = tuple(map(int, control(look.prefix, viewer, ID_TEXT)["rect"].split(",")))
    large_height, large_white = first_line_height(look.screenshot("configured-font"), rect)
    assert plain_white and large_white, "the definition is not shown on white"
    assert plain_height > 0
    assert large_height >= 2 * plain_height, f"font height {large_height} px against {plain_height} px"


# --- base forms and suggestions (the look-up's side of them) ----------------------------------------------
def wait_suggestions(prefix, timeout=30):
    return wait_dialog(prefix, ID_SUGGEST_LIST, "the suggestion dialog", timeout=timeout)


def test_inflected_word_shows_its_base_form_and_says_so(look):
    start_lexitray(look, hidedbdialog=1)
    open_notepad(look, "friends are near\r\n")
    select_first_word(look)
    key(look, HOTKEY)
    wait_word_box(look.prefix)
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    caption = window_caption(look.prefix, viewer)
    assert caption.startswith(viewer_caption("friends \u2192 friend", WORDNET, "1 of ")), caption
    assert viewer_text(look.prefix, viewer).startswith("friend\r\n")
    look.screenshot("base-form")


def test_misspelt_word_brings_suggestions_and_a_pick_shows_it(look):
    start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "dictionery")
    dialog = wait_suggestions(look.prefix)
    texts, items = unicode_view(look.prefix, dialog["hwnd"])
    words = [text for _, _, text in items]
    assert "dictionary" in words and len(words) == len(set(words)) and len(words) <= 20
    assert items[0][1], "the first suggestion is not selected"
    assert dialog["owner"] == "0x0"
    look.screenshot("suggestions")
    send_to(look.prefix, dialog, ID_SUGGEST_LIST, LB_SETCURSEL, words.index("dictionary"))
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    caption = window_caption(look.prefix, viewer)
    assert caption.startswith(viewer_caption("dictionery \u2192 dictionary", WORDNET)), caption
    assert viewer_text(look.prefix, viewer).startswith("dictionary\r\n")


# A braced text of two words goes out as one quoted word ("MATCH * exact \"data processor\"").
def test_double_click_follows_a_braced_text_of_two_words_over_a_line_break(look):
    start_lexitray(look, hidedbdialog=1)
    look_up_typed(look, "computer")
    viewer = wait_viewer(look.prefix)
    text = viewer_text(look.prefix, viewer)
    # "{data\r\n           processor}", a link "data processor"
    double_click(look, *point_at(look, viewer, text.index("processor,")))
    wait_caption(look.prefix, viewer, "data processor", WORDNET, "1 of 1")
    assert viewer_text(look.prefix, viewer).startswith("data processor\r\n")


def test_try_next_server_goes_on_as_yes_does(look):
    start_lexitray(look, server2=f"{DEAD_HOST} : Nobody home")
    look_up_typed(look, "dictionery")
    dialog = wait_suggestions(look.prefix)
    look.prefix.probe("press", dialog["hwnd"], ID_NEXT_SERVER)
    box, _ = wait_message_box(look.prefix, NOT_RESPONDING.format(DEAD_HOST))
    look.prefix.probe("press", box["hwnd"], ID_NO)
    assert stays_away(lambda: viewer_window(look.prefix), seconds=1.0)


def test_both_settings_off_give_the_not_found_question(look):
    start_lexitray(look, baseforms=0, suggest=0)
    look_up_typed(look, "friends")
    box, _ = wait_message_box(look.prefix, NOT_FOUND.format("friends", LOCAL_HOST))
    assert dialog_with(look.prefix, ID_SUGGEST_LIST) is None
    look.prefix.probe("press", box["hwnd"], ID_NO)
    assert stays_away(lambda: viewer_window(look.prefix), seconds=1.0)


# --- offline dictionaries --------------------------------------------------------------------------------
def dictd_definitions(database, word, host=LOCAL_HOST):
    """The definition bodies the local dictd gives, each as the viewer shows it (CR LF lines, without the
    151 line and the terminator, links without their braces)."""
    with socket.create_connection((host, 2628), timeout=10) as s:
        s.sendall(f'define {database} "{word}"\r\nquit\r\n'.encode("utf-8"))
        data = b""
        while True:
            piece = s.recv(65536)
            if not piece:
                break
            data += piece
    bodies, body = [], None
    for line in data.decode("utf-8").split("\r\n"):
        if body is None:
            if line.startswith("151 "):
                body = []
        elif line == ".":
            bodies.append(shown_text("\r\n".join(body)))
            body = None
        else:
            body.append(line)
    return bodies


def commit_charge(desk, window):
    """The program's commit charge (on Windows its private bytes; Wine gives its anonymous resident memory)."""
    rows = [f for kind, f in desk.prefix.probe("resources", window["pid"]) if kind == "resources"]
    return int(rows[0]["pagefile"])


@pytest.fixture
def offline_dictionaries(look):
    """WordNet and FreeDict's German-English dictionary in the user's own folder, for this test only."""
    folder = os.path.join(os.path.dirname(look.prefix.user_data_dir), "Local", "Lexitray", "Dictionaries")
    os.makedirs(folder, exist_ok=True)
    for name in ("wn.index", "wn.dict.dz", "freedict-deu-eng.index", "freedict-deu-eng.dict.dz"):
        shutil.copy(os.path.join("/usr/share/dictd", name), folder)
    yield folder
    shutil.rmtree(os.path.dirname(folder))


def test_with_no_server_in_reach_the_offline_dictionaries_answer(look, offline_dictionaries):
    include_relay(look.prefix, ["user32.MessageBoxA", "user32.MessageBoxW"])
    app, window = start_lexitray(look, **{f"server{i}": f"{DEAD_HOST} : Nobody home" for i in range(17)})
    committed = commit_charge(look, window)
    look_up_typed(look, "serendipity")
    viewer = wait_viewer(look.prefix)
    wait_caption(look.prefix, viewer, "serendipity", WORDNET, "offline \u2014 1 of 1")
    assert [viewer_text(look.prefix, viewer)] == dictd_definitions("wn", "serendipity")
    info = (look.prefix.icon_of(window["hwnd"]) or {}).get("info", "")
    assert info == "No server answered: offline dictionaries used", info
    look.screenshot("offline-serendipity")
    close_viewer(look, viewer)

    # Base forms, following a word and going back work as they do online.
    look_up_typed(look, "friends")
    viewer = wait_viewer(look.prefix)
    caption = window_caption(look.prefix, viewer)
    assert caption.startswith(viewer_caption("friends \u2192 friend", WORDNET, "offline")), caption
    text = viewer_text(look.prefix, viewer)
    double_click(look, *point_at(look, viewer, text.index("acquainted")))
    wait_caption(look.prefix, viewer, "acquainted", WORDNET, "offline \u2014 1 of 1")
    key(look, "BackSpace")
    wait_for("the friend page back", lambda: window_caption(look.prefix, viewer) == caption)
    close_viewer(look, viewer)

    look_up_typed(look, "recieve")
    dialog = wait_suggestions(look.prefix)
    words = [text for _, _, text in unicode_view(look.prefix, dialog["hwnd"])[1]]
    assert "receive" in words, words
    send_to(look.prefix, dialog, ID_SUGGEST_LIST, LB_SETCURSEL, words.index("receive"))
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    assert window_caption(look.prefix, viewer).startswith(viewer_caption("recieve \u2192 receive")), viewer
    close_viewer(look, viewer)

    look_up_typed(look, "Mädchen")
    viewer = wait_viewer(look.prefix)
    expected = dictd_definitions("freedict-deu-eng", "Mädchen", FREEDICT_HOST)
    # The database line is cut to its slot, online as offline.
    caption = window_caption(look.prefix, viewer)
    assert caption.startswith(viewer_caption("Mädchen", "German - English Ding/FreeDict dictionary")), caption
    assert caption.endswith(f"offline \u2014 1 of {len(expected)}"), caption
    assert viewer_text(look.prefix, viewer) == expected[0]
    close_viewer(look, viewer)
    # The mapped indexes are the files' pages, not the program's own memory.
    grown = commit_charge(look, window) - committed
    print(f"offline look-ups in WordNet and FreeDict: the program's own memory grew {grown / 2**20:.2f} MB")
    assert grown < 8 * 2**20, f"{grown} bytes"
    # No failover question, nor "Couldn't resolve", ever came up.
    assert not [args for name, args, _ in app.relay() if name.startswith("user32.MessageBox")], "a box was shown"


def test_start_up_does_not_wait_for_the_offline_dictionaries(look):
    """Start to tray icon with none installed and with WordNet, GCIDE, FOLDOC and FreeDict German: both
    printed with the timings. The indexes are checked after the icon is up, and the first look-up still
    finds "grep", which FOLDOC alone of them knows."""
    folder = os.path.join(os.path.dirname(look.prefix.user_data_dir), "Local", "Lexitray", "Dictionaries")
    look.prefix.write_profile(prepared_profile(hidedbdialog=1,
                                               **{f"server{i}": f"{DEAD_HOST} : Nobody home" for i in range(17)}))

    def started():
        start = time.monotonic()
        app = look.start_app()
        wait_icon(look.prefix, app.tray_window()["hwnd"])
        return app, elapsed_since(start)

    def median_start(times=3):
        figures = []
        for _ in range(times):
            app, seconds = started()
            figures.append(seconds)
            app.stop()
        return statistics.median(figures)

    bare = median_start()
    os.makedirs(folder, exist_ok=True)
    try:
        for name in ("wn", "gcide", "foldoc", "freedict-deu-eng"):
            for ending in (".index", ".dict.dz"):
                shutil.copy(os.path.join("/usr/share/dictd", name + ending), folder)
        loaded = median_start()
        TIMINGS.append(("start to tray icon, no offline dictionaries (median of 3)", bare))
        TIMINGS.append(("start to tray icon, WordNet, GCIDE, FOLDOC and FreeDict German (median of 3)", loaded))
        started()
        look_up_typed(look, "grep")
        viewer = wait_viewer(look.prefix)
        caption = window_caption(look.prefix, viewer)
        assert caption.startswith(viewer_caption("grep", "The Free On-line Dictionary of Computing")), caption
        assert viewer_text(look.prefix, viewer) == dictd_definitions("foldoc", "grep", COMPUTING_HOST)[0]
        close_viewer(look, viewer)
    finally:
        shutil.rmtree(os.path.dirname(folder))


@pytest.fixture
def stardict_folder(look):
    """A small StarDict dictionary (HTML entries, its .dict zipped by dictzip) in the user's own folder."""
    folder = os.path.join(os.path.dirname(look.prefix.user_data_dir), "Local", "Lexitray", "Dictionaries")
    os.makedirs(folder, exist_ok=True)
    idx, data = b"", b""
    for word, text in [("glimmerwort", "<b>glimmerwort</b><br>A plant that glows at dusk &amp; dawn."),
                       ("Snorkelbloom", "<i>n.</i> A water flower.")]:
        idx += word.encode() + b"\0" + len(data).to_bytes(4, "big") + len(text).to_bytes(4, "big")
        data += text.encode()
    stem = os.path.join(folder, "lexi-sd")
    for ending, content in ((".idx", idx), (".dict", data), (".ifo", (
            f"StarDict's dict ifo file\nversion=2.4.2\nwordcount=2\nidxfilesize={len(idx)}\n"
            "bookname=Lexitray StarDict Test\nsametypesequence=h\n").encode())):
        with open(stem + ending, "wb") as f:
            f.write(content)
    subprocess.run(["dictzip", stem + ".dict"], check=True)
    yield folder
    shutil.rmtree(os.path.dirname(folder))


def test_a_stardict_dictionary_in_the_users_folder_answers_with_no_server(look, stardict_folder):
    start_lexitray(look, **{f"server{i}": f"{DEAD_HOST} : Nobody home" for i in range(17)})
    look_up_typed(look, "Glimmerwort")
    viewer = wait_viewer(look.prefix)
    wait_caption(look.prefix, viewer, "Glimmerwort", "Lexitray StarDict Test", "offline \u2014 1 of 1")
    # The markup is taken out: a line break for <br>, the entity decoded.
    assert viewer_text(look.prefix, viewer) == "glimmerwort\r\nA plant that glows at dusk & dawn."
    look.screenshot("offline-stardict")
    close_viewer(look, viewer)
    # "Did you mean?" offers the StarDict headword.
    look_up_typed(look, "snorkelblom")
    dialog = wait_suggestions(look.prefix)
    words = [text for _, _, text in unicode_view(look.prefix, dialog["hwnd"])[1]]
    send_to(look.prefix, dialog, ID_SUGGEST_LIST, LB_SETCURSEL, words.index("Snorkelbloom"))
    key(look, "Return")
    viewer = wait_viewer(look.prefix)
    assert viewer_text(look.prefix, viewer) == "n. A water flower."
    close_viewer(look, viewer)


# --- recent words ------------------------------------------------------------------------------------------
KEPT_HEAD = "Lexitray kept words 1\n"


def open_recent_words(look, icon):
    """Opens the tray menu and its Recent Words submenu; returns the submenu's window."""
    menu, _ = open_menu(look, icon)
    left, top, right, _ = map(int, menu["rect"].split(","))
    click(look, (left + right) // 2, top + ITEM_MIDDLE["Recent Words"])
    return wait_for("the Recent Words submenu", lambda: [m for m in visible_menus(look.prefix) if m != menu])[0]


def recent_items(app):
    """The commands of the recent words put in the menus opened so far (their texts stay in the program)."""
    return [args[3] for args, _ in relay_calls(app, "user32.InsertMenuW")]


def click_recent(look, submenu, index):
    left, top, right, _ = map(int, submenu["rect"].split(","))
    click(look, (left + right) // 2, top + 11 + 16 * index)


def look_up_two_recent_words(look):
    """snorkelbloom (one dictionary) and glimmerwort (the second of two, chosen) looked up and closed."""
    look_up_typed(look, "snorkelbloom")
    close_viewer(look, wait_viewer(look.prefix))
    look_up_typed(look, "glimmerwort")
    choice = wait_choice(look.prefix)
    click_list_item(look, choice, 1)
    click_control(look, choice, ID_DB_OK)
    close_viewer(look, wait_viewer(look.prefix))


def test_recent_words_come_back_from_memory_newest_first(look):
    include_relay(look.prefix, ["user32.InsertMenuW", "ws2_32.connect"])
    app, window = start_lexitray(look)
    icon = wait_icon(look.prefix, window["hwnd"])
    look_up_two_recent_words(look)
    look_up_typed(look, "friend")
    choice = wait_choice(look.prefix)
    click_control(look, choice, ID_DB_SKIP)
    click_control(look, choice, ID_DB_OK)
    close_viewer(look, wait_viewer(look.prefix))
    # From now on no server is in reach, and the connections made so far are counted.
    look.prefix.write_profile(prepared_profile(**{f"server{i}": f"{DEAD_HOST} : Nobody home" for i in range(17)}))
    connects = len(relay_calls(app, "ws2_32.connect"))

    def pick(index, timed=False):
        submenu = open_recent_words(look, icon)
        items = recent_items(app)
        look.screenshot("recent-words")
        watch = timed and look.background_probe("watchpick", "20")
        assert not timed or watch.stdout.readline().strip() == "watching"
        click_recent(look, submenu, index)
        if timed:
            shown = watch.stdout.readline().strip()
            print(f"recent word: pick to definition {shown}")
            assert shown.startswith("shown after="), shown
            TIMINGS.append(("recent word pick to definition", float(shown.split("=")[1]) / 1000))
        return items

    assert pick(1, timed=True) == [IDM_RECENT_FIRST, IDM_RECENT_FIRST + 1, IDM_RECENT_FIRST + 2]
    viewer = wait_viewer(look.prefix)
    wait_caption(look.prefix, viewer, "glimmerwort", "Lexitray Second Test Dictionary", "1 of 1")
    assert viewer_text(look.prefix, viewer) == GLIMMERWORT_SECOND
    # With the viewer open, a pick shows the word there and Back returns to what it showed. The pick came
    # first and the oldest is last: glimmerwort, friend, snorkelbloom.
    pick(2)
    wait_caption(look.prefix, viewer, "snorkelbloom", "Lexitray Test Dictionary", "1 of 1")
    key(look, "BackSpace")
    wait_caption(look.prefix, viewer, "glimmerwort", "Lexitray Second Test Dictionary", "1 of 1")
    assert len(relay_calls(app, "ws2_32.connect")) == connects, "a recent word went to the network"


def kept_words(path):
    """The words of the history file, newest first, as (word, online or offline, dictionary)."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    assert text.startswith(KEPT_HEAD), text
    return [(word, place, dictionary) for word, _, place, dictionary in
            (line.split("\t") for line in text[len(KEPT_HEAD):].splitlines())]


def test_kept_words_come_back_after_a_restart_until_cleared_or_switched_off(look):
    include_relay(look.prefix, ["user32.InsertMenuW", "user32.MessageBoxA"])
    history = os.path.join(os.path.dirname(look.prefix.user_data_dir), "Local", "Lexitray", "history.txt")
    os.makedirs(os.path.dirname(history), exist_ok=True)
    with open(history, "wb") as f:
        f.write(b"[Recent]\nhack=wn\n")
    look.prefix.write_profile(prepared_profile(keepwords=1))
    app = look.start_app()
    box, _ = wait_message_box(look.prefix, "Lexitray could not read your recent words from history.txt: it is "
                                           "not a list of kept words.\nRecent Words starts empty.")
    press_ok(look.prefix, box)
    wait_icon(look.prefix, app.tray_window()["hwnd"])
    assert len(relay_calls(app, "user32.MessageBoxA")) == 1
    with open(history, "rb") as f:
        assert f.read() == b"[Recent]\nhack=wn\n", "the file was replaced before the list changed"
    look_up_two_recent_words(look)
    look_up_typed(look, "quillfeather")
    close_viewer(look, wait_viewer(look.prefix))
    assert kept_words(history) == [("quillfeather", "online", "Lexitray Test Dictionary"),
                                   ("glimmerwort", "online", "Lexitray Second Test Dictionary"),
                                   ("snorkelbloom", "online", "Lexitray Test Dictionary")]

    def restarted(app):
        app.stop()
        again = look.start_app()
        return again, wait_icon(look.prefix, again.tray_window()["hwnd"])

    # After a restart the second newest comes from its own database again, without the choice.
    app, icon = restarted(app)
    submenu = open_recent_words(look, icon)
    assert recent_items(app) == [IDM_RECENT_FIRST, IDM_RECENT_FIRST + 1, IDM_RECENT_FIRST + 2]
    look.screenshot("kept-words")
    click_recent(look, submenu, 1)
    viewer = wait_viewer(look.prefix)
    wait_caption(look.prefix, viewer, "glimmerwort", "Lexitray Second Test Dictionary", "1 of 1")
    assert viewer_text(look.prefix, viewer) == GLIMMERWORT_SECOND and dialog_with(look.prefix, ID_DB_LIST) is None
    close_viewer(look, viewer)
    assert [word for word, _, _ in kept_words(history)] == ["glimmerwort", "quillfeather", "snorkelbloom"]

    # "Clear Recent Words", the submenu's last item, empties the file and the menu.
    left, _, right, bottom = map(int, open_recent_words(look, icon)["rect"].split(","))
    click(look, (left + right) // 2, bottom - 11)
    wait_for("the words to be cleared", lambda: kept_words(history) == [], timeout=10)
    shown = recent_items(app)
    open_recent_words(look, icon)
    key(look, "Escape", "Escape")
    assert recent_items(app) == shown, "words are still in the menu"

    # Switched off, the file is neither read nor written: "(none)" after a restart.
    with open(history, "w") as f:
        f.write(KEPT_HEAD + "hack\tjargon\tonline\tJargon File\n")
    look.prefix.write_profile(prepared_profile(keepwords=0))
    app, icon = restarted(app)
    open_recent_words(look, icon)
    key(look, "Escape", "Escape")
    assert recent_items(app) == []
    look_up_typed(look, "snorkelbloom")
    close_viewer(look, wait_viewer(look.prefix))
    assert kept_words(history) == [("hack", "online", "Jargon File")]
    os.remove(history)
