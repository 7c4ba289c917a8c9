"""Helpers shared by the tests that need a real client."""

from __future__ import annotations

import os
import socket
import subprocess
import sys
import textwrap
import time
from pathlib import Path
from typing import Callable

import msgpack

HERE = Path(__file__).resolve().parent


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_peer(port: int, *steps: str) -> subprocess.Popen[str]:
    """A client process that connects to `port` and runs `steps`."""
    return subprocess.Popen(
        [sys.executable, str(HERE / "peer.py"), str(port), *steps],
        stdout=subprocess.PIPE,
        text=True,
    )


def finish(peer: subprocess.Popen[str], timeout: float = 20) -> list[str]:
    out, _ = peer.communicate(timeout=timeout)
    assert peer.returncode == 0, out
    return out.splitlines()


def frame(widget: str, id: int, fields: list | dict) -> bytes:
    """An incoming frame in its canonical positional form."""
    return msgpack.packb([id, {widget: fields}])


def wait_for(predicate: Callable[[], bool], timeout: float = 10, what: str = "condition") -> None:
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


class Output:
    """Accumulates what pytest's capfd captured on file descriptors 1 and 2.

    The serve loop writes from its own thread, so tests wait for lines
    instead of reading once.
    """

    def __init__(self, capfd) -> None:
        self.capfd = capfd
        self.out = ""
        self.err = ""

    def poll(self) -> None:
        captured = self.capfd.readouterr()
        self.out += captured.out
        self.err += captured.err

    def lines(self) -> list[str]:
        self.poll()
        return self.out.splitlines()

    def wait_line(self, line: str, count: int = 1, timeout: float = 30) -> list[str]:
        wait_for(lambda: self.lines().count(line) >= count, timeout, repr(line))
        return self.lines()

    def wait_err(self, text: str, timeout: float = 30) -> str:
        def seen() -> bool:
            self.poll()
            return text in self.err

        wait_for(seen, timeout, repr(text))
        return self.err


def python_script(code: str, timeout: float = 30, env: dict | None = None) -> subprocess.CompletedProcess[str]:
    """Runs `code` in a fresh interpreter and returns what it did."""
    return subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        timeout=timeout,
        env={**os.environ, **(env or {})},
    )


def is_listening(port: int) -> bool:
    """Whether some socket of this machine listens on TCP `port`."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            next(f)
            for row in f:
                fields = row.split()
                local, state = fields[1], fields[3]
                if state == "0A" and int(local.rsplit(":", 1)[1], 16) == port:
                    return True
    return False


SCENARIO_HEADER = """
import gc, os, sys, time
sys.path.insert(0, {tests!r})
from support import *
from vantu_protocol import *
"""


def scenario(body: str, timeout: float = 30) -> subprocess.CompletedProcess[str]:
    """Runs `body` in a fresh interpreter with the test helpers imported.

    For serve loops that cannot be stopped from Python (their server object
    is gone, or a later serve() disconnected them): they end with the process.
    """
    return python_script(SCENARIO_HEADER.format(tests=str(HERE)) + textwrap.dedent(body), timeout)
