"""The remote page in a real browser: Debian's headless Chromium, dressed as
a phone and touched through the DevTools protocol, drives the module over
its WebSocket, two thumbs at a time."""

import os
import shutil
import time

import pytest

from vantu_protocol import ComSocketServer, ErrorResult, ServerStatus
from support import free_port, wait_for

# tests/run installs the browser and says so: there, its absence fails.
if not os.environ.get("VANTU_BROWSER_REQUIRED"):
    if not shutil.which("chromium"):
        pytest.skip("no Chromium here", allow_module_level=True)
    pytest.importorskip("selenium", reason="the browser tests need selenium")
from browser import Browser  # noqa: E402

OPEN = "document.documentElement.dataset.connection === 'open'"


pytestmark = pytest.mark.once


@pytest.fixture(scope="module")
def browser():
    with Browser() as b:
        yield b


class Remote:
    """A live server with a web listener, its widgets recording what they
    were sent, and the page open in `browser`."""

    def __init__(self, browser: Browser) -> None:
        self.events: list[tuple] = []
        self.server = ComSocketServer(f"127.0.0.1:{free_port()}")
        self.server.web = "127.0.0.1:0"
        self.server.cycle, self.server.progress = 0, False
        record = self.events.append
        self.server.on(1, "Joystick", lambda e: record(("drive", e.delta.x, e.delta.y, e.intensity)))
        self.server.on(2, "PressButton", lambda e: record(("brake", e.pressed)))
        self.server.on(3, "ConfirmButton", lambda e: record(("shut down",)))
        self.server.on(4, "ToggleButton", self.toggle)
        self.server.on(5, "DirectionalButton", lambda e: record(("camera", e.direction)))
        assert self.server.accept(0.01) is False
        self.browser = browser
        browser.open(f"http://{self.server.web_address}/")
        self.serve()

    def toggle(self, event) -> None:
        self.events.append(("lights", event.value))
        self.server.callback(4, ServerStatus.Error, ErrorResult("bulb blown"))

    def serve(self) -> None:
        assert self.server.accept(20)
        self.server.serve()
        self.browser.wait_for(OPEN)

    def saw(self, count: int) -> list[tuple]:
        wait_for(lambda: len(self.events) >= count, what=f"{count} events")
        return self.events

    def close(self) -> None:
        for _ in range(2):
            self.server.close()


@pytest.fixture
def remote(browser):
    r = Remote(browser)
    yield r
    r.close()


def test_two_thumbs_drive_and_brake(remote):
    b = remote.browser
    x, y = b.center("[data-widget=Joystick_1] .pad")
    side = b.rect("[data-widget=Joystick_1] .pad")["width"] / 2
    bx, by = b.center("[data-widget=PressButton_2] button")
    b.touch_start([(x, y, 1)])
    b.touch_move([(x + side / 2, y - side / 4, 1)])  # right and up
    b.touch_start([(x + side / 2, y - side / 4, 1), (bx, by, 2)])
    time.sleep(0.3)  # the finger rests: the stream goes on
    b.touch_end([(x + side / 2, y - side / 4, 1)])  # the brake thumb lifts first
    b.touch_end([])
    events = remote.saw(3)
    wait_for(lambda: events[-1] == ("drive", 0.0, 0.0, 0.0), what="the joystick's release")
    brake = [i for i, e in enumerate(events) if e[0] == "brake"]
    assert [events[i] for i in brake] == [("brake", True), ("brake", False)]
    held = [e for e in events[brake[0]:brake[1]] if e[0] == "drive"]
    assert len(held) >= 5 and all(x > 0.3 and y > 0.1 and 0 < i <= 1 for _, x, y, i in held)


def test_confirm_toggle_and_pad(remote):
    b = remote.browser
    b.tap("[data-widget=ConfirmButton_3] button")
    b.wait_for("/again/i.test(document.querySelector('[data-widget=ConfirmButton_3]').textContent)")
    assert remote.events == []
    b.tap("[data-widget=ConfirmButton_3] button")
    b.tap("[data-widget=ToggleButton_4] button")
    b.tap("[data-widget=ToggleButton_4] button")
    pad = b.rect("[data-widget=DirectionalButton_5] .pad")
    b.touch_start([(pad["x"] + pad["width"] * 0.95, pad["y"] + pad["height"] / 2, 0)])
    b.touch_end([])
    assert remote.saw(4) == [("shut down",), ("lights", True), ("lights", False), ("camera", 64)]
    # The program's answer shows on its widget.
    b.wait_for("document.querySelector('[data-widget=ToggleButton_4] .result').textContent"
               ".includes('bulb blown')")


def test_the_page_reconnects_for_a_new_session(remote):
    remote.server.close()
    remote.browser.wait_for("!(" + OPEN + ")")
    remote.serve()  # the page comes back by itself: accept() returns for it
    remote.browser.tap("[data-widget=ConfirmButton_3] button")
    remote.browser.tap("[data-widget=ConfirmButton_3] button")
    assert remote.saw(1) == [("shut down",)]
