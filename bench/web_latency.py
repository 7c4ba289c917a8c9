"""A 50 Hz stream to its action over the web listener's WebSocket, next to
the same stream over raw TCP; and the raw stream while a page is reloaded
ten times a second, next to without.

latency.py's 300 numbered DirectionalButton frames, 20 ms apart, go to one
live server (cycle 0, progress off, web listener on) in rounds of three
kinds, their order rotated: raw (stream.py), ws (ws_stream.py, one binary
message per frame) and reload (stream.py while reload.py reads the page
from the web listener every 100 ms over a new connection). Latency runs
from the client's clock just before a send to the action; for ws also from
just before the client library's write to the socket ("ws_wire"). Each
figure is the median of the rounds.

    python web_latency.py
"""

import subprocess
import sys
import time

from vantu_protocol import ComSocketServer
from bench_support import HERE, free_port, median, module_session, percentile, report, stamper
from latency import COUNT, IDS, PERIOD_MS, WIDGET

ROUNDS = 3
KINDS = ("raw", "ws", "reload")


def client(script: str, target: str) -> subprocess.Popen:
    return subprocess.Popen([sys.executable, str(HERE / script), target, str(COUNT),
                             str(PERIOD_MS)], stdout=subprocess.PIPE, text=True)


def session(server: ComSocketServer, port: int, kind: str) -> tuple[list[list[int]], list[int], float]:
    """One streamed session: the client's times of each frame (one or two),
    the action's times, and for reload the pages read per second."""
    times: list[int] = []
    reloader = None
    if kind == "reload":
        reloader = subprocess.Popen([sys.executable, str(HERE / "reload.py"), server.web_address],
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    sender = client("ws_stream.py", server.web_address) if kind == "ws" else client("stream.py", str(port))
    started = time.monotonic()
    module_session(server, WIDGET, IDS, stamper(times))
    rate = 0.0
    if reloader is not None:
        pages = int(reloader.communicate("", timeout=60)[0])
        if reloader.returncode != 0:
            raise RuntimeError("the page reloads failed")
        rate = pages / (time.monotonic() - started)
    sent = [[int(t) for t in line.split()] for line in sender.communicate(timeout=60)[0].splitlines()]
    if sender.returncode != 0 or len(sent) != COUNT or len(times) != COUNT:
        raise RuntimeError(f"{len(times)} of {len(sent)} frames sent reached the action")
    return sent, times, rate


def main() -> None:
    port = free_port()
    server = ComSocketServer(f"127.0.0.1:{port}")
    server.cycle, server.progress, server.web = 0, False, "127.0.0.1:0"
    server.accept(0)  # binds the web listener, whose address the clients need
    names = ["raw", "ws", "ws_wire", "reload"]
    p50s: dict[str, list[float]] = {name: [] for name in names}
    p99s: dict[str, list[float]] = {name: [] for name in names}
    rates = []
    for turn in range(ROUNDS):
        for kind in KINDS[turn % 3:] + KINDS[:turn % 3]:
            sent, times, rate = session(server, port, kind)
            if kind == "reload":
                rates.append(rate)
            for column, name in enumerate([kind, "ws_wire"][:len(sent[0])]):
                latencies = [(got - at[column]) / 1000 for got, at in zip(times, sent)]
                if min(latencies) <= 0:
                    raise RuntimeError("a frame arrived before it was sent: the clocks differ")
                p50s[name].append(percentile(latencies, 50))
                p99s[name].append(percentile(latencies, 99))
    server.close()  # the web listener
    results = {"reload_pages_per_s": median(rates)}
    for name in names:
        for which, values in (("p50", p50s), ("p99", p99s)):
            results[f"stream_{name}_{which}_us"] = median(values[name])
    for name in names[1:]:
        for which in ("p50", "p99"):
            results[f"stream_{name}_{which}_vs_raw"] = (results[f"stream_{name}_{which}_us"]
                                                       / results[f"stream_raw_{which}_us"])
    report(results)


if __name__ == "__main__":
    main()
