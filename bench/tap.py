"""A tap in a real browser to its action, next to a raw TCP client sending
the same ClickButton frame.

Two live servers (cycle 0, progress off, web listener on) run in this
process, each serving one session for the whole run: one to Debian's
headless Chromium (tests/browser.py), which loads the page from the web
listener and taps ClickButton 1 through the DevTools protocol; one to a
socket of this process. A browser tap is a touch start and a touch end on
the button's centre, and the page sends the frame on the touch end: its
time runs from just before the touch end's command to the action's start.
A raw tap runs from just before send() to the action's start. Both clocks
are time.perf_counter_ns of this process, as the actions run on the serve
threads here. Rounds alternate the two; each figure is the median of the
rounds. After each browser tap, a DevTools command that does nothing
(Runtime.evaluate of 0) is timed too: what Selenium, chromedriver and the
protocol take on their own, the harness's part of a browser tap.

    python tap.py
"""

import socket
import sys
import threading
import time

from vantu_protocol import ComSocketServer
from bench_support import HERE, free_port, median, percentile, report
from reader import connect

sys.path.append(str(HERE.parent / "tests"))
from browser import Browser  # noqa: E402

TAPS = 50
ROUNDS = 3
PAUSE_S = 0.1
BUTTON = "[data-widget=ClickButton_1] button"
CLICK_1 = bytes.fromhex("9201 81 ab 436c69636b427574746f6e 90".replace(" ", ""))


class Served:
    """A live server with its web listener, and the start times of the
    ClickButton 1 action."""

    def __init__(self) -> None:
        self.port = free_port()
        self.server = ComSocketServer(f"127.0.0.1:{self.port}")
        self.server.cycle, self.server.progress, self.server.web = 0, False, "127.0.0.1:0"
        self.stamps: list[int] = []
        self.acted = threading.Event()
        self.server.on(1, "ClickButton", self.action)
        self.server.accept(0)  # binds the web listener

    def action(self, event, clock=time.perf_counter_ns) -> None:
        self.stamps.append(clock())
        self.acted.set()

    def start(self) -> None:
        if not self.server.accept(30):
            raise RuntimeError("no client within 30 s")
        self.server.serve()

    def tap(self, touch, clock=time.perf_counter_ns) -> float:
        """Microseconds from just before `touch()` to the action."""
        self.acted.clear()
        start = clock()
        touch()
        if not self.acted.wait(5):
            raise RuntimeError("a tap did not reach its action within 5 s")
        return (self.stamps[-1] - start) / 1000

    def close(self) -> None:
        self.server.close()  # the session
        self.server.close()  # the listeners


def browser_taps(served: Served, browser: Browser, commands: list[float],
                 clock=time.perf_counter_ns) -> list[float]:
    """The round's taps; adds to `commands` the round's median time of a
    DevTools command that does nothing, timed after each tap, in µs."""
    x, y = browser.center(BUTTON)
    taps, noops = [], []
    for _ in range(TAPS):
        browser.touch_start([(x, y, 0)])
        taps.append(served.tap(browser.touch_end))
        start = clock()
        browser.cdp("Runtime.evaluate", expression="0")
        noops.append((clock() - start) / 1000)
        time.sleep(PAUSE_S)
    commands.append(median(noops))
    return taps


def raw_taps(served: Served, sock: socket.socket) -> list[float]:
    taps = []
    for _ in range(TAPS):
        taps.append(served.tap(lambda: sock.send(CLICK_1)))
        time.sleep(PAUSE_S)
    return taps


def dial(served: Served) -> socket.socket:
    """A raw TCP client of `served`, being served."""
    dialed: list[socket.socket] = []
    dialing = threading.Thread(target=lambda: dialed.append(connect(served.port)))
    dialing.start()
    served.start()
    dialing.join()
    # One frame, one segment, at once, as the module's own connections.
    dialed[0].setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return dialed[0]


def main() -> None:
    web, raw = Served(), Served()
    with Browser() as browser:
        browser.open(f"http://{web.server.web_address}/")
        browser.wait_for("document.documentElement.dataset.connection === 'open'", timeout=30)
        web.start()
        sock = dial(raw)
        commands: list[float] = []
        kinds = {"browser": lambda: browser_taps(web, browser, commands), "raw": lambda: raw_taps(raw, sock)}
        p50s: dict[str, list[float]] = {kind: [] for kind in kinds}
        p99s: dict[str, list[float]] = {kind: [] for kind in kinds}
        names = list(kinds)
        for turn in range(ROUNDS):
            for kind in names[turn % 2:] + names[:turn % 2]:
                taps = kinds[kind]()
                p50s[kind].append(percentile(taps, 50))
                p99s[kind].append(percentile(taps, 99))
        sent = browser.js("return window.vantuPage.sent;")
    sock.close()
    web.close()
    raw.close()
    if (len(web.stamps), len(raw.stamps), sent) != (ROUNDS * TAPS,) * 3:
        raise RuntimeError(f"{len(web.stamps)} browser and {len(raw.stamps)} raw actions ran and "
                           f"the page sent {sent} frames, for {ROUNDS * TAPS} taps of each")
    results = {"tap_cdp_p50_us": median(commands)}
    for kind in names:
        results[f"tap_{kind}_p50_us"] = median(p50s[kind])
        results[f"tap_{kind}_p99_us"] = median(p99s[kind])
    for which in ("p50", "p99"):
        results[f"tap_browser_{which}_vs_raw"] = results[f"tap_browser_{which}_us"] / results[f"tap_raw_{which}_us"]
    report(results)


if __name__ == "__main__":
    main()
