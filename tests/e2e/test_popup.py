"""lexitray.exe on a system of major version 4: the hint comes in the popup notice beside the taskbar."""
from lexitray_checks import (
    HINT_DEFAULT, NIM_ADD, PLAY_RESOURCE_ASYNC, SOUND_NOTICE, WS_EX_TOPMOST, notify_calls, rect, visible_balloon,
    wait_icon, watch_popup)

NOTICE_TEXT_ID = 1001
NOTICE_DURATION = 3.0  # seconds the start-up hint stays (300 ticks of at least 10 ms)


ABE_LEFT, ABE_TOP, ABE_RIGHT, ABE_BOTTOM = 0, 1, 2, 3


def expected_place(edge, bar, width, height):
    """Top-left corner of the popup beside a taskbar at that edge: flush with its right or lower end."""
    left, top, right, bottom = bar
    return {ABE_BOTTOM: (right - width, top - height), ABE_TOP: (right - width, bottom),
            ABE_LEFT: (right, bottom - height), ABE_RIGHT: (left - width, bottom - height)}[edge]


def test_prefix_reports_major_version_4(popup_desk):
    assert [f["major"] for kind, f in popup_desk.prefix.probe("version") if kind == "version"] == ["4"]


def test_popup_notice_shows_hint_above_taskbar_with_sound_and_closes_itself(popup_desk):
    desk = popup_desk
    watch = watch_popup(desk)
    app = desk.start_app()
    window = app.tray_window()
    popup, controls = watch.shown()
    desk.screenshot("popup")
    assert int(popup["owner"], 16) == int(window["hwnd"], 16)
    # The popup goes against the edge the shell reports, flush with the taskbar's end. Wine reports only a
    # one-pixel bar along the bottom; the taskbar window itself is the other fair reference.
    appbar = [f for kind, f in desk.prefix.probe("appbar") if kind == "appbar"][0]
    edge = int(appbar["edge"])
    left, top, right, bottom = rect(popup)
    width, height = right - left, bottom - top
    assert width > 0 and height > 0
    places = {expected_place(edge, rect(appbar), width, height),
              expected_place(edge, rect(desk.prefix.taskbar()), width, height)}
    assert (left, top) in places, (popup, appbar, desk.prefix.taskbar())
    assert int(popup["exstyle"], 16) & WS_EX_TOPMOST
    texts = {c["id"]: c["text"] for c in controls}
    assert texts.get(str(NOTICE_TEXT_ID)) == HINT_DEFAULT
    sounds = [args for _, args, _ in app.relay("winmm.PlaySoundA")]
    assert len(sounds) == 1 and sounds[0][0] == SOUND_NOTICE and sounds[0][2] == PLAY_RESOURCE_ASYNC, sounds
    # The icon carries the hint as tip, and no balloon is asked for in this mode.
    assert wait_icon(desk.prefix, window["hwnd"])["tip"] == HINT_DEFAULT
    assert [message for message, _ in notify_calls(app)] == [NIM_ADD]
    assert visible_balloon(desk.prefix) is None
    up = watch.seconds_up()
    assert up >= NOTICE_DURATION - 0.6, f"the popup closed after {up:.1f} s, before its duration"
    assert app.running()


def test_popup_notice_closes_at_a_click(popup_desk):
    desk = popup_desk
    watch = watch_popup(desk)
    app = desk.start_app()
    popup, _ = watch.shown()
    left, top, right, bottom = rect(popup)
    desk.prefix.xvfb.click((left + right) // 2, (top + bottom) // 2)
    assert watch.seconds_up() < NOTICE_DURATION - 0.5, "closed only by its count, not by the click"
    assert app.running()
    desk.screenshot("after-click")
