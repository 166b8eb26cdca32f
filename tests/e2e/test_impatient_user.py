"""lexitray.exe used hard: an impatient user who cancels, reopens and pokes at everything while servers keep
the look-ups waiting, and a month's worth of look-ups in a few minutes, after which the program holds no more
handles, objects or memory than it did after the first few."""
import os
import time

import test_lookup as lk
from harness import HarnessError
from lexitray_checks import LOCAL_HOST, WindowWatch, window_kind, window_text

MONTH_LOOK_UPS = int(os.environ.get("LEXITRAY_E2E_MONTH_LOOK_UPS", "500"))
FIRST_LOOK_UPS = 20
RESOURCE_SLACK = 0.05           # each figure stays within 5 % of its value after the first look-ups ...
OBJECT_SLACK = 3                # ... or, for counts of objects, within this many
NO_KEY = "n"                    # the Yes/No question's No, by its mnemonic


def fast_type(desk, text):
    desk.prefix.xvfb.xdotool("type", "--delay", "25", text)


def click_in(desk, window, control_id, from_top=None):
    """Clicks a control of a window the watch saw, in its middle or the given pixels below its top."""
    left, top, right, bottom = [map(int, c["rect"].split(",")) for c in window["controls"]
                                if int(c["id"]) == control_id][0]
    y = (top + bottom) // 2 if from_top is None else top + from_top
    desk.prefix.xvfb.xdotool("mousemove", (left + right) // 2, y, "click", "1")


def program_pid(window):
    return int(window["pid"])


def resources(desk, app, pid):
    """{figure: value or None} of the process: kernel handles, GDI and USER objects and private bytes as
    Windows counts them (None where this system does not: Wine counts no other process's handles, fails
    GetGuiResources with ERROR_CALL_NOT_IMPLEMENTED and leaves PrivateUsage 0), and beside them what it does
    give: the commit charge (PagefileUsage, which Windows keeps equal to the private bytes; Wine gives the
    process's anonymous resident memory), its windows and the Unix file descriptors of its process."""
    rows = [f for kind, f in desk.prefix.probe("resources", pid) if kind == "resources"]
    if not rows:
        raise HarnessError("the probe read no resources")
    got = rows[0]
    status = f"/proc/{app.proc.pid}/status"
    if os.path.exists(status):
        with open(status) as f:
            print("unix " + " ".join(line.split()[0] + line.split()[1] for line in f
                                     if line.startswith(("VmRSS", "RssAnon", "VmSwap", "Name"))))
    print(f"probe resources: {got}")
    counted = lambda value, error="0": int(float(value)) if error == "0" and float(value) > 0 else None
    fds = f"/proc/{app.proc.pid}/fd"
    return {"handles": counted(got["handles"], got["handleserror"]), "gdi": counted(got["gdi"], got["gdierror"]),
            "user": counted(got["user"], got["usererror"]), "private": counted(got["private"], got["privateerror"]),
            "commit": counted(got["pagefile"]), "windows": counted(got["windows"]),
            "unix fds": len(os.listdir(fds)) if os.path.isdir(fds) else None}


def open_word_box(desk, watch):
    mark = watch.mark()
    lk.key(desk, lk.HOTKEY)
    box = watch.wait_shown({"wordbox"}, mark)
    watch.wait_foreground(box["hwnd"])
    return box


def answer_until_done(desk, watch, mark, word, choose=1, timeout=30):
    """Answers what the look-up shows after the mark, as the user of a month does it by keyboard, until it
    ends: the database choice (the entry at index choose), "Did you mean?" (its first word), the not-found
    question (No) and the viewer (read, then Escape). Returns the kinds seen, in order."""
    seen = []
    while True:
        window = watch.wait_shown({"choice", "suggestions", "message", "viewer"}, mark, timeout)
        kind = window_kind(window)
        seen.append(kind)
        watch.wait_foreground(window["hwnd"])
        if kind == "choice":
            # The choice takes no keys for its list (Enter and Escape are kept from it): clicks, as in use.
            click_in(desk, window, lk.ID_DB_LIST, 2 + 12 * choose + 6)
            click_in(desk, window, lk.ID_DB_OK)
        elif kind == "suggestions":
            lk.key(desk, "Return")
        elif kind == "message":
            text = window_text(window)
            assert text == lk.NOT_FOUND.format(word, LOCAL_HOST), f"{word}: the program said {text!r}"
            lk.key(desk, NO_KEY)
        else:
            assert window["caption"].startswith("Lexitray"), window["caption"]
            lk.key(desk, "Escape")
        watch.wait_hidden(window["hwnd"])
        if kind in ("message", "viewer"):
            return seen


# A month's words: (typed word, what the look-up shows in order, a word the viewer's caption names).
MONTH_WORDS = [
    ("snorkelbloom", ["viewer"], "snorkelbloom"),
    ("glimmerwort", ["choice", "viewer"], "glimmerwort"),
    ("friends", ["choice", "viewer"], "friend"),
    ("recieve", ["suggestions", "choice", "viewer"], "receive"),
    ("zzzzqx", ["message"], None),
    (None, [], None),               # the word box opened and cancelled
    ("bolter", ["viewer"], "bolter"),
    ("quillfeather", ["viewer"], "quillfeather"),
]


def month_look_up(desk, watch, number):
    word, expected, named = MONTH_WORDS[number % len(MONTH_WORDS)]
    box = open_word_box(desk, watch)
    if word is None:
        lk.key(desk, "Escape")
        watch.wait_hidden(box["hwnd"])
        return
    fast_type(desk, word)
    mark = watch.mark()
    lk.key(desk, "Return")
    seen = answer_until_done(desk, watch, mark, word)
    assert seen == expected, f"look-up {number} of {word!r} showed {seen}"
    if named:
        viewers = [w for _, w in watch.shown_since(mark, {"viewer"})]
        assert named in viewers[-1]["caption"], f"look-up {number} of {word!r}: {viewers[-1]['caption']!r}"


# Each figure with its allowance beyond the 5 %: counts of objects may differ by a few.
FIGURES = {"handles": OBJECT_SLACK, "gdi": OBJECT_SLACK, "user": OBJECT_SLACK, "private": 0, "commit": 0,
           "windows": OBJECT_SLACK, "unix fds": OBJECT_SLACK}


def within(first, last, slack_objects):
    return abs(last - first) <= max(first * RESOURCE_SLACK, slack_objects)


def test_a_month_of_look_ups_leaves_nothing_behind(desk):
    app, window = lk.start_lexitray(desk)
    pid = program_pid(window)
    watch = WindowWatch(desk, pid)
    try:
        start = time.monotonic()
        for number in range(MONTH_LOOK_UPS):
            month_look_up(desk, watch, number)
            if number + 1 == FIRST_LOOK_UPS:
                time.sleep(1)
                first = resources(desk, app, pid)
                print(f"after {FIRST_LOOK_UPS} look-ups ({time.monotonic() - start:.0f} s)")
        time.sleep(1)
        last = resources(desk, app, pid)
        spent = time.monotonic() - start
        print(f"after {MONTH_LOOK_UPS} look-ups ({spent:.0f} s, {spent / MONTH_LOOK_UPS:.2f} s each)")
    finally:
        watch.stop()
    grown = []
    for figure, objects in FIGURES.items():
        if first[figure] is None or last[figure] is None:
            print(f"{figure}: not counted under this system ({first[figure]}, {last[figure]})")
            continue
        print(f"{figure}: {first[figure]} after {FIRST_LOOK_UPS} look-ups, {last[figure]} after {MONTH_LOOK_UPS}")
        if not within(first[figure], last[figure], objects):
            grown.append(f"{figure} from {first[figure]} to {last[figure]}")
    # Wine counts at least the memory, the windows and the descriptors; nothing is asserted of what it
    # does not count.
    assert first["commit"] and first["windows"] and first["unix fds"], f"nothing was counted: {first}"
    assert not grown, "grew over the month: " + "; ".join(grown)
