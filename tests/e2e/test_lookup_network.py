"""lexitray.exe over a network that takes its time, and with a giant definition: through a proxy that
delays every byte each way the look-up shows the same dialogs and definitions as on loopback, and a
definition of tens of megabytes opens the viewer at once and leaves the program answering the hotkey."""
import os
import socket
import subprocess
import threading
import time

import pytest

from conftest import write_timings
import test_lookup as lk
from harness import HarnessError, wait_for
from lexitray_checks import LOCAL_HOST, elapsed_since, wait_message_box

PROXY_NET = "127.0.97"          # the test's proxies and servers listen on addresses of this net
DELAY_MS = 50                   # each way: a 100 ms round trip, as to a public server from home
TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
GIANT_LINE = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ giant\r\n"


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


class DelayProxy:
    """scripts/delayproxy.py in front of the local dictd, on a free address of PROXY_NET."""

    def __init__(self, delay_ms):
        self.host = free_address()
        self.proc = subprocess.Popen(["/usr/bin/python3", os.path.join(TOP, "scripts", "delayproxy.py"), self.host,
                                      str(delay_ms), "--target", LOCAL_HOST, "--lifetime", "300"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.proc.stdout.readline()
        if line.strip() != "ready":
            self.close()
            raise HarnessError(f"the delay proxy did not start: {line!r}")

    def close(self):
        self.proc.kill()
        self.proc.wait()


class GiantServer:
    """A DICT server whose one word, "giant", has one definition of about the given size."""

    def __init__(self, size):
        self.host = free_address()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind((self.host, 2628))
        self.listener.listen(8)
        body = GIANT_LINE * (size // len(GIANT_LINE))
        self.definition = body[:-2]
        self.reply = ("150 1 definitions retrieved\r\n151 \"giant\" wn \"WordNet\"\r\n" + body +
                      ".\r\n250 ok\r\n").encode()
        self.threads = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            thread = threading.Thread(target=self.serve, args=(connection,), daemon=True)
            thread.start()
            self.threads.append(thread)

    def serve(self, connection):
        try:
            connection.sendall(b"220 giant.test dictd <auth.mime> <1.1@giant.test>\r\n")
            request = b""
            while not request.endswith(b"\r\n"):
                piece = connection.recv(1024)
                if not piece:
                    return
                request += piece
            if request.startswith(b"MATCH"):
                connection.sendall(b"152 1 matches found\r\nwn \"giant\"\r\n.\r\n250 ok\r\n")
            elif request.startswith(b"show databases"):
                connection.sendall(b"110 1 databases present\r\nwn \"WordNet\"\r\n.\r\n250 ok\r\n")
            elif request.startswith(b"define wn giant"):
                connection.sendall(self.reply)
            # Wait for the client to close, as dictd does.
            while connection.recv(65536):
                pass
        except OSError:
            pass
        finally:
            connection.close()

    def close(self):
        self.listener.close()


TIMINGS = []


@pytest.fixture(scope="module", autouse=True)
def report_timings():
    yield
    write_timings("network-timings.txt", TIMINGS)


@pytest.fixture
def look(desk):
    yield desk
    desk.prefix.wine("taskkill", "/f", "/im", "notepad.exe", check=False)


def test_look_up_through_a_delaying_proxy_shows_the_same(look):
    proxy = DelayProxy(DELAY_MS)
    try:
        lk.start_lexitray(look, server1=f"{proxy.host} : The local test server, far away")
        # Several databases: the same choice, and the chosen one's definition.
        start = time.monotonic()
        lk.look_up_typed(look, "glimmerwort")
        choice = lk.wait_choice(look.prefix)
        TIMINGS.append(("through the proxy: Enter to choice", elapsed_since(start)))
        _, items = lk.unicode_view(look.prefix, choice["hwnd"])
        assert [text for _, _, text in items] == ["Lexitray Test Dictionary", "Lexitray Second Test Dictionary"]
        lk.click_list_item(look, choice, 1)
        lk.click_control(look, choice, lk.ID_DB_OK)
        viewer = lk.wait_viewer(look.prefix)
        assert lk.viewer_text(look.prefix, viewer) == lk.GLIMMERWORT_SECOND
        lk.close_viewer(look, viewer)

        # Not found: the same question, naming the server as configured.
        lk.look_up_typed(look, "zzzzqx")
        box, _ = wait_message_box(look.prefix, lk.NOT_FOUND.format("zzzzqx", proxy.host))
        look.prefix.probe("press", box["hwnd"], lk.ID_NO)
        wait_for("the question to close", lambda: not [w for w in lk.visible_dialogs(look.prefix)
                                                       if w["hwnd"] == box["hwnd"]], timeout=10)

        # One match: no choice, straight to the definition.
        start = time.monotonic()
        lk.look_up_typed(look, "snorkelbloom")
        viewer = lk.wait_viewer(look.prefix)
        TIMINGS.append(("through the proxy: Enter to viewer, one match", elapsed_since(start)))
        assert lk.dialog_with(look.prefix, lk.ID_DB_LIST) is None
        lk.wait_text(look.prefix, viewer, lk.ID_TEXT, lk.SNORKELBLOOM)
        look.screenshot("viewer-through-proxy")
        # For comparison with the giant definition below: closing a small one and the hotkey after it.
        start = time.monotonic()
        lk.close_viewer(look, viewer)
        lk.key(look, lk.HOTKEY)
        lk.wait_word_box(look.prefix, timeout=10)
        TIMINGS.append(("small definition: Close to word box", elapsed_since(start)))
        lk.key(look, "Escape")
    finally:
        proxy.close()


@pytest.mark.parametrize("megabytes", [1, 8, 40])
def test_giant_definition_opens_at_once_and_the_hotkey_answers_after(look, megabytes):
    server = GiantServer(megabytes * 1000 * 1000)
    try:
        lk.start_lexitray(look, server1=f"{server.host} : Serves one giant definition")
        start = time.monotonic()
        lk.look_up_typed(look, "giant")
        viewer = lk.wait_viewer(look.prefix, timeout=60)
        opened = elapsed_since(start)
        TIMINGS.append((f"{megabytes} MB definition: Enter to viewer", opened))
        text = lk.viewer_text(look.prefix, viewer)
        assert text == server.definition[:len(text)], "the viewer does not show the definition's head"
        look.screenshot("giant-definition")
        # The reply alone takes a few seconds to cross into Wine; the viewer must not add tens of them.
        assert opened < 20, f"the viewer took {opened:.1f} s to open"

        start = time.monotonic()
        lk.close_viewer(look, viewer)
        lk.key(look, lk.HOTKEY)
        lk.wait_word_box(look.prefix, timeout=10)
        answered = elapsed_since(start)
        TIMINGS.append((f"{megabytes} MB definition: Close to word box", answered))
        assert answered < 5, f"the hotkey was answered {answered:.1f} s after the viewer closed"
        lk.key(look, "Escape")
        wait_for("the word box to close", lambda: lk.dialog_with(look.prefix, lk.ID_WORD, lk.WORD_BOX_CAPTION) is None,
                 timeout=10)
        # And again: no look-up is left half-open.
        lk.key(look, lk.HOTKEY)
        lk.wait_word_box(look.prefix, timeout=10)
        lk.key(look, "Escape")
    finally:
        server.close()
