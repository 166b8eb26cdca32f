"""DICT servers that keep lexitray.exe waiting, and the steps that measure and end such a wait: shared by the
tests of a slow network and of an impatient user."""
import socket
import threading
import time

from harness import HarnessError, parse_probe_output
from lexitray_checks import LOCAL_HOST
from menu_steps import open_menu

PROXY_NET = "127.0.97"          # the tests' proxies and servers listen on addresses of this net
DICTD = (LOCAL_HOST, 2628)
WAIT_MENU_HEIGHT = 129          # the menu with "Cancel Look-Up" and a separator above the usual items
WAIT_MENU_MIDDLE = {"Cancel Look-Up": 11, "Exit": 36}
ANSWER_LIMIT_MS = 100           # every message another program sends is answered within this
OUTLIER_LIMIT_MS = 500          # ... but for one, which the host may hold up; a blocked wait holds all


def free_address():
    """An address of PROXY_NET whose port 2628 nobody holds (another run of these tests may)."""
    for number in range(1, 255):
        host = f"{PROXY_NET}.{number}"
        probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            probe.bind((host, 2628))
            return host
        except OSError:
            continue
        finally:
            probe.close()
    raise HarnessError(f"no free address in {PROXY_NET}.0/24")


class StallingServer:
    """A DICT server that keeps the program waiting: "silent" accepts and never greets; "unconnectable"
    never accepts and its queue is full, so connects never complete; "dripping" greets and sends a match
    reply a byte at a time, never ending it. Two kinds answer, from the local dictd: "late" holds the
    greeting back for late_seconds, then passes everything on; "slow" passes everything on in small pieces
    with a pause before each, as a poor line would. relay() makes later connections reach the local dictd
    at once; serve_as() changes the kind of later connections (but for "unconnectable")."""

    def __init__(self, kind, late_seconds=3.0, slow_pause=0.03):
        self.kind = kind
        self.late_seconds = late_seconds
        self.slow_pause = slow_pause
        self.host = free_address()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind((self.host, 2628))
        self.listener.listen(0 if kind == "unconnectable" else 8)
        self.relaying = False
        self.fillers = []
        self.closed_at = []          # when each accepted connection was closed by the program
        self.accepted = 0
        if kind == "unconnectable":
            self.fill_queue()
        else:
            threading.Thread(target=self.accept, daemon=True).start()

    def fill_queue(self):
        """Connects until a connect goes unanswered: from then on nobody else's completes."""
        for _ in range(8):
            filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            filler.settimeout(0.5)
            try:
                filler.connect((self.host, 2628))
                self.fillers.append(filler)
            except OSError:
                filler.close()
                return
        raise HarnessError("the listener's queue does not fill")

    def relay(self):
        self.relaying = True
        if self.kind == "unconnectable":
            for filler in self.fillers:
                filler.close()
            threading.Thread(target=self.accept, daemon=True).start()

    def serve_as(self, kind):
        self.kind = kind
        self.relaying = False

    def accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            if self.relaying:
                target, args = self.pass_on, (connection,)
            elif self.kind == "late":
                target, args = self.answer_late, (connection,)
            elif self.kind == "slow":
                target, args = self.pass_on, (connection, self.slow_pause)
            else:
                target, args = self.stall, (connection,)
            threading.Thread(target=target, args=args, daemon=True).start()

    def stall(self, connection):
        self.accepted += 1
        kind = self.kind
        try:
            if kind == "dripping":
                connection.sendall(b"220 drip.test dictd <auth.mime> <1.1@drip.test>\r\n")
                connection.settimeout(0.2)
                reply = b"152 1 matches found\r\n" + b"x" * 100000
                at = 0
                while True:
                    try:
                        if not connection.recv(4096):
                            break
                    except socket.timeout:
                        pass
                    if at < len(reply):
                        connection.sendall(reply[at:at + 1])
                        at += 1
            else:
                while connection.recv(4096):
                    pass
        except OSError:
            pass
        self.closed_at.append(time.monotonic())
        connection.close()

    def answer_late(self, connection):
        """Says nothing for late_seconds (unless the program gives up first), then passes everything on, what
        the program sent meanwhile (a request sent ahead of the greeting) first."""
        self.accepted += 1
        early = b""
        until = time.monotonic() + self.late_seconds
        try:
            while time.monotonic() < until:
                connection.settimeout(max(0.01, until - time.monotonic()))
                try:
                    data = connection.recv(4096)
                except socket.timeout:
                    break
                if not data:
                    self.closed_at.append(time.monotonic())
                    connection.close()
                    return
                early += data
        except OSError:
            connection.close()
            return
        connection.settimeout(None)
        self.pass_on(connection, early=early)

    def pass_on(self, connection, pause=0.0, early=b""):
        try:
            upstream = socket.create_connection(DICTD)
            upstream.sendall(early)
        except OSError:
            connection.close()
            return
        piece = 256 if pause else 65536

        def pump(source, sink):
            try:
                while True:
                    data = source.recv(piece)
                    if not data:
                        break
                    if pause:
                        time.sleep(pause)
                    sink.sendall(data)
            except OSError:
                pass
            for s in (source, sink):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

        threading.Thread(target=pump, args=(upstream, connection), daemon=True).start()
        pump(connection, upstream)

    def close(self):
        self.listener.close()
        for filler in self.fillers:
            filler.close()


def ping_while(desk, window, seconds):
    """Starts the probe sending WM_NULL to the window for the given seconds; finish() gives its figures."""
    proc = desk.prefix.probe_background("pingloop", window["hwnd"], str(seconds))

    def finish():
        out, _ = proc.communicate(timeout=seconds + 60)
        rows = [f for kind, f in parse_probe_output(out) if kind == "pings"]
        assert rows, f"the probe printed no figures: {out!r}"
        print(f"pings: {rows[0]}")
        return int(rows[0]["count"]), float(rows[0]["worst"]), int(rows[0]["unanswered"]), float(rows[0]["second"])
    return finish


def check_answers(worst, second):
    """A wait that blocked would hold every answer during it; one late answer is the host's scheduling (seen
    once, 137 ms, in a full run on a busy machine), so one may pass the limit, though not by much."""
    assert second < ANSWER_LIMIT_MS and worst < OUTLIER_LIMIT_MS, f"WM_NULL waited {worst:.1f} and {second:.1f} ms"


def choose_while_waiting(desk, icon, item):
    """Opens the tray menu during a wait, checks that it has grown by "Cancel Look-Up" and its separator,
    clicks the item and returns the moments just before and just after the button came up."""
    menu, _ = open_menu(desk, icon)
    left, top, right, bottom = map(int, menu["rect"].split(","))
    assert bottom - top == WAIT_MENU_HEIGHT, f"the menu is {bottom - top} pixels high: no item was added"
    time.sleep(0.3)
    # Taken before the click goes out, so what is measured from it includes the click's own delivery.
    # A menu item is chosen when the button comes up: the moments before and after that event went out
    # bound when the choice was made.
    desk.prefix.xvfb.xdotool("mousemove", "--sync", (left + right) // 2, top + WAIT_MENU_MIDDLE[item])
    desk.prefix.xvfb.xdotool("mousedown", 1)
    time.sleep(0.2)
    before = time.monotonic()
    desk.prefix.xvfb.xdotool("mouseup", 1)
    return before, time.monotonic()
