"""Helpers shared by the tests that need a real client."""

from __future__ import annotations

import os
import random
import socket
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path
from typing import Callable

import msgpack

HERE = Path(__file__).resolve().parent


def quiet_ports(count: int) -> list[int]:
    """Distinct free ports below the kernel's ephemeral range: the client
    sockets that other processes open meanwhile cannot take them, as they
    can take a port that binding to port 0 handed out."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
        low = int(f.read().split()[0])
    ports: set[int] = set()
    while len(ports) < count:
        port = random.randrange(low // 2, low)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
        ports.add(port)
    return list(ports)


def free_port() -> int:
    return quiet_ports(1)[0]


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
    """What file descriptors 1 and 2 receive while it is active, through
    pipes read by threads. The serve loop writes from its own thread, so
    tests wait for lines instead of reading once. (pytest's capfd empties
    its file after each read: a line written in between would be lost.)

    Start it inside the test body: pytest puts its own capture back between
    fixture setup and the test. `restore` ends it.
    """

    def __init__(self) -> None:
        self.text = {1: b"", 2: b""}
        self.saved: dict[int, int] = {}
        for fd in (1, 2):
            read_end, write_end = os.pipe()
            self.saved[fd] = os.dup(fd)
            os.dup2(write_end, fd)
            os.close(write_end)
            threading.Thread(target=self._read, args=(fd, read_end), daemon=True).start()

    def _read(self, fd: int, read_end: int) -> None:
        while chunk := os.read(read_end, 65536):
            self.text[fd] += chunk
        os.close(read_end)

    def restore(self) -> None:
        for fd, saved in self.saved.items():
            os.dup2(saved, fd)
            os.close(saved)
        self.saved = {}

    @property
    def out(self) -> str:
        return self.text[1].decode(errors="replace")

    @property
    def err(self) -> str:
        return self.text[2].decode(errors="replace")

    def lines(self) -> list[str]:
        return self.out.splitlines()

    def wait_line(self, line: str, count: int = 1, timeout: float = 30) -> list[str]:
        wait_for(lambda: self.lines().count(line) >= count, timeout, repr(line))
        return self.lines()

    def wait_err(self, text: str, timeout: float = 30) -> str:
        wait_for(lambda: text in self.err, timeout, repr(text))
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
