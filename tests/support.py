"""The harness shared by the tests that need a real client or a fresh
interpreter: a served server with its client processes (Served, made by the
`served` fixture of conftest.py), scripts run in their own process
(scenario, start_scenario), and the pieces they are made of."""

from __future__ import annotations

import os
import random
import socket
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
from pathlib import Path
from typing import Callable

import msgpack

from vantu_protocol import ComSocketServer

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


CLIENT_TOOL = HERE.parent / "examples" / "client.py"


def start_peer(port: int, *steps: str, host: str = "127.0.0.1", tool: bool = False,
               stdin: str | None = None, cwd: Path | None = None) -> subprocess.Popen[str]:
    """A client process that connects to `host`:`port` and runs `steps`
    (see peer.py); with `tool`, the example client tool instead, with
    `steps` as its arguments after the address, reading `stdin` as its
    standard input."""
    program = CLIENT_TOOL if tool else HERE / "peer.py"
    with tempfile.TemporaryFile("w+") as source:
        source.write(stdin or "")
        source.seek(0)
        return subprocess.Popen([sys.executable, str(program), f"{host}:{port}", *steps],
                                stdin=None if stdin is None else source,
                                stdout=subprocess.PIPE, text=True, cwd=cwd)


FLOOD = """
import socket, sys
host, port, count, source = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
for _ in range(count):
    with socket.socket() as c:
        c.bind((source, 0))
        try:
            c.connect((host, port))
        except ConnectionResetError:
            pass
print("knocked", count, flush=True)
"""


def start_flood(port: int, count: int, source: str = "127.0.0.2",
                host: str = "127.0.0.1") -> subprocess.Popen[str]:
    """A process that connects `count` times from `source`, one connection
    after another as fast as it can, and closes each at once."""
    return subprocess.Popen([sys.executable, "-c", FLOOD, host, str(port), str(count), source],
                            stdout=subprocess.PIPE, text=True)


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


class Served:
    """A server on a free port (or `port`) of `host`, with `actions`
    ({"Widget_id": callable}) registered and `settings` (server attributes,
    such as cycle=0) set. Given `steps`, a first client starts and runs them
    (see start_peer, which takes `tool` and `stdin`); `connect` ("open",
    "accept", or None to leave it to the test) then connects it and, with
    `serve`, the loop serves it. Further clients come from client().

    With `capture`, what file descriptors 1 and 2 receive goes to `output`
    until end(); make it in the test body (see Output). Without, for a
    script of its own or a fixture shared by several tests, the lines go
    where they would anyway.
    """

    def __init__(self, *steps: str, actions: dict | None = None, connect: str | None = "open",
                 serve: bool = True, capture: bool = True, port: int | None = None,
                 host: str = "127.0.0.1", tool: bool = False, stdin: str | None = None,
                 **settings) -> None:
        self.port = port or free_port()
        self.host = host
        self.server = ComSocketServer(f"{host}:{self.port}")
        self.peers: list[subprocess.Popen[str]] = []
        # The threads of the loops served, and whether the last one prints
        # progress lines, among them its last one, "Terminating.".
        self.loops: set[str] = set()
        self.progress = False
        self.output = Output() if capture else None
        try:
            for name, value in settings.items():
                setattr(self.server, name, value)
            for key, action in (actions or {}).items():
                widget, _, id = key.rpartition("_")
                self.server.on(int(id), widget, action)
            if steps:
                self.client(*steps, tool=tool, stdin=stdin)
                if connect:
                    getattr(self.server, connect)()
                if serve:
                    self.serve()
        except BaseException:
            self.end()  # nobody else will: the caller gets no object
            raise

    @property
    def peer(self) -> subprocess.Popen[str]:
        return self.peers[0]

    def client(self, *steps: str, **options) -> subprocess.Popen[str]:
        """Starts one more client (see start_peer for `options`)."""
        self.peers.append(start_peer(self.port, *steps, host=self.host.strip("[]"), **options))
        return self.peers[-1]

    def serve(self) -> None:
        self.progress = self.server.progress
        before = _threads()
        self.server.serve()
        self.loops |= _threads() - before

    def lines(self) -> list[str]:
        return self.output.lines()

    def stop(self) -> list[str]:
        """close(), then the loop's last line and the first client's output."""
        self.server.close()
        if self.progress and self.output:
            self.output.wait_line("Terminating.")
        return finish(self.peer)

    def end(self) -> None:
        """Stops a loop that still runs and waits until the loops are gone,
        so that none writes into a later test's output; ends the capture and
        the clients."""
        try:
            if self.server is not None:
                try:
                    self.server.close()
                except RuntimeError:
                    pass  # the loop failed, or its close() came already
            wait_for(lambda: not self.loops & _threads(), 30, "the end of the serve loops")
        finally:
            if self.output:
                self.output.restore()
            for peer in self.peers:
                if peer.poll() is None:
                    peer.kill()
                    peer.wait()


def _threads() -> set[str]:
    """The ids of this process's threads. A serve loop is one of its own."""
    return set(os.listdir("/proc/self/task"))


SCRIPT_HELPERS = """
import gc, os, sys, time
sys.path.insert(0, {tests!r})
from support import *
from vantu_protocol import *
"""


def _script(body: str, args: tuple, helpers: bool, env: dict | None, prefix: tuple) -> dict:
    code = textwrap.dedent(body)
    if helpers:
        code = SCRIPT_HELPERS.format(tests=str(HERE)) + code
    environment = {**os.environ, **(env or {})}
    return {"args": [*prefix, sys.executable, "-c", code, *map(str, args)], "text": True,
            "env": {name: value for name, value in environment.items() if value is not None}}


def start_scenario(body: str, *args, helpers: bool = True, env: dict | None = None,
                   prefix: tuple = ()) -> subprocess.Popen[str]:
    """Starts `body` in a fresh interpreter, `args` in sys.argv[1:], with its
    standard output and error piped. With `helpers`, these helpers and the
    module's names are imported first; without, the code runs as a program
    of its own would. `env` entries replace those of the environment, or
    with None remove them; `prefix` is a command that runs the interpreter.

    For what cannot happen in the test's own process: serve loops that
    cannot be stopped from Python (their server object is gone, or a later
    serve() disconnected them) and end with the process, the interpreter's
    exit, signals, programs run as a user runs them.
    """
    return subprocess.Popen(**_script(body, args, helpers, env, prefix),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def scenario(body: str, *args, timeout: float = 30, helpers: bool = True, env: dict | None = None,
             prefix: tuple = ()) -> subprocess.CompletedProcess[str]:
    """start_scenario, run to its end: its output and exit status."""
    return subprocess.run(**_script(body, args, helpers, env, prefix), capture_output=True,
                          timeout=timeout)


def joystick(seq: int, id: int = 1) -> bytes:
    """A joystick frame that carries `seq` as its x, exactly (below 2**24)."""
    return frame("Joystick", id, [[float(seq), 0.0], 1.0])


class Stream:
    """A client in a thread of this process: connects to `port` and sends
    each of `frames` `period` seconds after the one before, cut into writes
    of `chunk` bytes if given (one frame per write if not), then keeps the
    connection open (or closes it, with `close`) until stop(). `sent[i]` is
    when frame i went out (time.monotonic)."""

    def __init__(self, port: int, frames: list[bytes], period: float = 0.0,
                 chunk: int | None = None, close: bool = False, rcvbuf: int | None = None) -> None:
        self.sock = socket.socket()
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.frames, self.period, self.chunk, self.close = frames, period, chunk, close
        self.sent: list[float] = []
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, args=(port,), daemon=True)
        self.thread.start()

    def _run(self, port: int) -> None:
        wait_for(lambda: is_listening(port), what="the listener")
        self.sock.connect(("127.0.0.1", port))
        start = time.monotonic()
        for i, data in enumerate(self.frames):
            delay = start + i * self.period - time.monotonic()
            if delay > 0 and self.stopping.wait(delay):
                return
            self.sent.append(time.monotonic())
            step = self.chunk or len(data)
            try:
                for at in range(0, len(data), step):
                    self.sock.sendall(data[at:at + step])
            except OSError:
                return  # the server ended the session
        if self.close:
            self.sock.close()

    def stop(self) -> None:
        self.stopping.set()
        self.thread.join(30)
        self.sock.close()
