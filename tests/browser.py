"""Debian's headless Chromium for the tests of the browser remote page,
driven through Selenium and the DevTools protocol, dressed as a phone.

    with Browser(dark=True) as b:
        b.open(url)
        b.wait_for("document.documentElement.dataset.connection === 'open'")
        x, y = b.center("[data-widget=Joystick_1] .pad")
        b.touch_start([(x + 40, y, 1)])                   # one thumb on the joystick
        b.touch_start([(x + 40, y, 1), (*b.center("[data-widget=PressButton_3] button"), 2)])
        b.touch_end([(x + 40, y, 1)])                     # the second thumb lifts
        b.touch_end([])

Touches go through Input.dispatchTouchEvent with touch emulation on, so the
page sees them as Pointer Events of type "touch", one pointerId per touch
id. A touch is (x, y, id) in viewport CSS pixels. touch_start and touch_end
name the touches on the screen after them; the Browser keeps track of which
are down, since Chromium's touchEnd lifts the points it is given, not the
ones left out.

Only Debian's packages are used (chromium, chromium-driver): Selenium
Manager is kept offline so that it never downloads a browser or a driver.
"""

from __future__ import annotations

import os
import time
from typing import Any, Iterable

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
PHONE = (390, 844)

Point = tuple[float, float, int]


class Browser:
    """A headless Chromium with a phone's screen: 390x844 CSS pixels (844x390
    with `landscape`) at device scale `scale`, touch input, and the light or
    (with `dark`) dark colour scheme. Use it as a context manager."""

    def __init__(self, *, dark: bool = False, landscape: bool = False, scale: float = 3) -> None:
        self.width, self.height = PHONE[::-1] if landscape else PHONE
        self.dark = dark
        self.scale = scale
        self.driver: webdriver.Chrome | None = None
        self.down: dict[int, Point] = {}

    def __enter__(self) -> Browser:
        os.environ["SE_OFFLINE"] = "true"
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                    "--no-first-run", "--hide-scrollbars", f"--window-size={self.width},{self.height}"):
            options.add_argument(arg)
        self.driver = webdriver.Chrome(service=Service(executable_path=CHROMEDRIVER), options=options)
        self.cdp("Emulation.setDeviceMetricsOverride", width=self.width, height=self.height,
                 deviceScaleFactor=self.scale, mobile=True)
        self.cdp("Emulation.setTouchEmulationEnabled", enabled=True, maxTouchPoints=5)
        scheme = "dark" if self.dark else "light"
        self.cdp("Emulation.setEmulatedMedia", features=[{"name": "prefers-color-scheme", "value": scheme}])
        return self

    def __exit__(self, *exc: object) -> None:
        if self.driver is not None:
            self.driver.quit()
            self.driver = None

    def cdp(self, method: str, **params: Any) -> Any:
        """One DevTools protocol command."""
        assert self.driver is not None, "use Browser as a context manager"
        return self.driver.execute_cdp_cmd(method, params)

    def js(self, script: str, *args: Any) -> Any:
        """Runs `script` as a function body (use `return`) with `arguments`."""
        assert self.driver is not None, "use Browser as a context manager"
        return self.driver.execute_script(script, *args)

    def open(self, url: str) -> None:
        assert self.driver is not None, "use Browser as a context manager"
        self.driver.get(url)

    def wait_for(self, predicate: str, timeout: float = 5.0) -> Any:
        """Polls the JavaScript expression `predicate` until it is truthy and
        returns its value; raises TimeoutError with the expression if it
        stays falsy for `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while True:
            value = self.js(f"return ({predicate});")
            if value:
                return value
            if time.monotonic() > deadline:
                raise TimeoutError(f"still false after {timeout} s: {predicate}")
            time.sleep(0.02)

    def rect(self, selector: str) -> dict[str, float]:
        """The element's box in viewport CSS pixels (x, y, width, height),
        scrolled into view first if it is not wholly visible. Scrolling moves
        what was measured before: for a gesture on two elements of a page
        taller than the screen, measure both with no scroll in between."""
        box = self.js("""
            const e = document.querySelector(arguments[0]);
            if (!e) return null;
            let r = e.getBoundingClientRect();
            if (r.top < 0 || r.left < 0 || r.bottom > innerHeight || r.right > innerWidth) {
                e.scrollIntoView({block: "center", inline: "center"});
                r = e.getBoundingClientRect();
            }
            return {x: r.left, y: r.top, width: r.width, height: r.height};
        """, selector)
        if box is None:
            raise LookupError(f"no element matches {selector!r}")
        return {k: float(v) for k, v in box.items()}

    def center(self, selector: str) -> tuple[float, float]:
        """The centre of the element, in the coordinates that touches take."""
        r = self.rect(selector)
        return r["x"] + r["width"] / 2, r["y"] + r["height"] / 2

    def _touch(self, kind: str, points: Iterable[Point]) -> None:
        self.cdp("Input.dispatchTouchEvent", type=kind,
                 touchPoints=[{"x": x, "y": y, "id": i, "radiusX": 8, "radiusY": 8, "force": 1}
                              for x, y, i in points])

    def touch_start(self, points: Iterable[Point]) -> None:
        """Puts down the touches of `points` that are not down yet; those
        down already stay where they are."""
        points = list(points)
        self._touch("touchStart", points)
        self.down.update((p[2], p) for p in points)

    def touch_move(self, points: Iterable[Point]) -> None:
        """Moves the touches with these ids, all down, to these places."""
        points = list(points)
        self._touch("touchMove", points)
        self.down.update((p[2], p) for p in points)

    def touch_end(self, points_remaining: Iterable[Point] = ()) -> None:
        """Lifts every touch whose id is not in `points_remaining`."""
        keep = {p[2] for p in points_remaining}
        lifted = [p for i, p in self.down.items() if i not in keep]
        if lifted:
            self._touch("touchEnd", lifted)
        self.down = {i: p for i, p in self.down.items() if i in keep}

    def tap(self, selector: str) -> None:
        """A one-finger tap on the element's centre."""
        x, y = self.center(selector)
        self.touch_start([(x, y, 0)])
        self.touch_end([])

    def screenshot(self, path: str) -> None:
        """A PNG of the viewport at the phone's size times its scale."""
        assert self.driver is not None, "use Browser as a context manager"
        if not self.driver.save_screenshot(path):
            raise OSError(f"could not write {path}")
