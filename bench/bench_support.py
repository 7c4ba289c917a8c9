"""Helpers shared by the Python benchmarks."""

import json
import os
import selectors
import socket
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

import msgpack

HERE = Path(__file__).resolve().parent

# ToggleButton 3 switched on, the frame of the dispatch benchmarks.
TOGGLE_FRAME = bytes.fromhex("9203 81 ac 546f67676c65427574746f6e 91 c3".replace(" ", ""))


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listener() -> socket.socket:
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(1)
    return sock


def start_reader(*ports: int) -> subprocess.Popen:
    return subprocess.Popen([sys.executable, str(HERE / "reader.py"), *map(str, ports)],
                            stdout=subprocess.PIPE, text=True)


def median(values) -> float:
    return statistics.median(values)


def percentile(values, which: int) -> float:
    return statistics.quantiles(values, n=100, method="inclusive")[which - 1]


def per_item_ns(times: list[int]) -> float:
    """Nanoseconds per step from the first time stamp to the last."""
    return (times[-1] - times[0]) / (len(times) - 1)


def silence_stdout() -> int:
    """Sends file descriptor 1, where the serve loop prints its progress
    lines, to /dev/null; returns a copy of the old one for the results."""
    out = os.dup(1)
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 1)
    os.close(null)
    return out


def report(results: dict, out_fd: int = 1) -> None:
    """The benchmark's one result line, a JSON object."""
    os.write(out_fd, (json.dumps(results) + "\n").encode())


def stamper(times: list):
    """The action of the quiet benchmarks, the same for the module and for
    plain Python: it only stamps the time. The defaults bind the append and
    the clock once, so a call looks up no global or attribute."""
    def action(event, append=times.append, clock=time.perf_counter_ns) -> None:
        append(clock())
    return action


def burst_rounds(burst: bytes, rounds: int, server, module_round, python_round):
    """Alternating rounds of the module's serve loop and a plain-Python
    dispatcher, each taking `burst` in one read from the burst client: the
    time per frame of each round, ours and theirs."""
    plain = listener()
    port = int(server.address.rsplit(":", 1)[1])
    client = subprocess.Popen([sys.executable, str(HERE / "burst.py"), burst.hex(), str(rounds),
                               str(port), str(plain.getsockname()[1])])
    ours, theirs = [], []
    for _ in range(rounds):
        ours.append(module_round(server))
        theirs.append(python_round(plain))
    client.wait()
    plain.close()
    return ours, theirs


def module_session(server, widget: str, ids, action) -> None:
    """Serves one client with `action` on `widget` for each id, until the
    client has gone and the loop's session is over."""
    for id in ids:
        server.on(id, widget, action)
    if not server.accept(60):
        raise RuntimeError("no client within 60 s")
    server.serve()
    ended = server.wait(120)
    server.close()
    if not ended:
        raise RuntimeError("the client did not finish within 120 s")


def plain_dispatch(conn: socket.socket, table: dict) -> None:
    """What a plain-Python server does for each frame, until the client has
    gone: wait, read, cut frames with msgpack.Unpacker, find the action in
    a dict and call it, without printing anything."""
    unpacker = msgpack.Unpacker()
    with selectors.DefaultSelector() as selector:
        selector.register(conn, selectors.EVENT_READ)
        while True:
            selector.select()
            data = conn.recv(65536)
            if not data:
                return
            unpacker.feed(data)
            for id, frame in unpacker:
                (widget, fields), = frame.items()
                action = table.get(f"{widget}_{id}")
                if action is not None:
                    action(fields)


def plain_session(plain: socket.socket, table: dict, dispatch=plain_dispatch,
                  settle: float = 0) -> None:
    """Serves one client of `plain` on a thread of its own, as a server
    program would, while this thread waits; `settle` seconds after the
    client connected, so that what it sends at once is there to read."""
    conn, _ = plain.accept()
    with conn:
        if settle:
            time.sleep(settle)
        thread = threading.Thread(target=dispatch, args=(conn, table))
        thread.start()
        thread.join()
