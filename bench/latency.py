"""Event-to-action latency: a client process streams numbered
DirectionalButton frames at 50 Hz, one per send, to four receivers in turn:
the module with its defaults, the module with cycle 0 and progress off,
a plain-Python server thread, and a C program that only receives (the
floor). Latency runs from the client's clock just before a send to the
receiver's clock when the frame reaches the action, both CLOCK_MONOTONIC.
Rounds interleave the receivers; each figure is the median of the rounds.

    python latency.py FLOOR_PROGRAM
    python latency.py live      # one round of the live module alone

The second form is for comparing two builds of the module, each run with
its own PYTHONPATH (before_after.py).
"""

import subprocess
import sys
import time

from vantu_protocol import ComSocketServer
from bench_support import (HERE, free_port, listener, median, module_session, percentile,
                           plain_session, report, silence_stdout, stamper)

COUNT = 300
PERIOD_MS = 20
ROUNDS = 3
IDS = range((COUNT + 255) // 256)
WIDGET = "DirectionalButton"


def stream(port: int) -> subprocess.Popen:
    return subprocess.Popen([sys.executable, str(HERE / "stream.py"), str(port), str(COUNT),
                             str(PERIOD_MS)], stdout=subprocess.PIPE, text=True)


def module(live: bool):
    port = free_port()
    server = ComSocketServer(f"127.0.0.1:{port}")
    if live:
        server.cycle = 0
        server.progress = False

    def receive() -> tuple[subprocess.Popen, list[int]]:
        times: list[int] = []
        client = stream(port)
        module_session(server, WIDGET, IDS, stamper(times))
        return client, times
    return receive


def plain() -> tuple[subprocess.Popen, list[int]]:
    times: list[int] = []
    action = stamper(times)
    with listener() as sock:
        client = stream(sock.getsockname()[1])
        plain_session(sock, {f"{WIDGET}_{id}": action for id in IDS})
    return client, times


def floor(program: str):
    def receive() -> tuple[subprocess.Popen, list[int]]:
        with listener() as sock:
            fd = sock.fileno()
            receiver = subprocess.Popen([program, str(fd), str(COUNT)], pass_fds=[fd],
                                        stdout=subprocess.PIPE, text=True)
            client = stream(sock.getsockname()[1])
            lines = receiver.communicate()[0].split("\n")[:-1]
        numbers = [int(line.split()[0]) for line in lines]
        if receiver.returncode != 0 or numbers != list(range(COUNT)):
            raise RuntimeError("the floor program did not receive every frame in order")
        return client, [int(line.split()[1]) for line in lines]
    return receive


def latencies_us(receive) -> list[float]:
    client, times = receive()
    sent = [int(line) for line in client.communicate()[0].split()]
    if client.returncode != 0 or len(sent) != COUNT or len(times) != COUNT:
        raise RuntimeError(f"{len(times)} of {len(sent)} frames sent reached the action")
    latencies = [(got - at) / 1000 for got, at in zip(times, sent)]
    if min(latencies) <= 0:
        raise RuntimeError("a frame arrived before it was sent: the clocks differ")
    return latencies


def live_round() -> dict:
    latencies = latencies_us(module(live=True))
    return {"latency_live_p50_us": percentile(latencies, 50),
            "latency_live_p99_us": percentile(latencies, 99)}


def main() -> None:
    if "CLOCK_MONOTONIC" not in time.get_clock_info("perf_counter").implementation:
        raise RuntimeError("time.perf_counter_ns is not CLOCK_MONOTONIC here")
    out = silence_stdout()  # the default loop's progress lines
    if sys.argv[1:] == ["live"]:
        report(live_round(), out)
        return
    receivers = {"default": module(live=False), "live": module(live=True), "python": plain,
                 "floor": floor(sys.argv[1])}
    p50s: dict[str, list[float]] = {name: [] for name in receivers}
    p99s: dict[str, list[float]] = {name: [] for name in receivers}
    names = list(receivers)
    for turn in range(ROUNDS):
        # The order rotates from round to round: no receiver always goes first.
        for name in names[turn % len(names):] + names[:turn % len(names)]:
            latencies = latencies_us(receivers[name])
            p50s[name].append(percentile(latencies, 50))
            p99s[name].append(percentile(latencies, 99))
    results = {}
    for name in names:
        results[f"latency_{name}_p50_us"] = median(p50s[name])
        results[f"latency_{name}_p99_us"] = median(p99s[name])
    for key, ours, theirs in (("live_p50_vs_floor", "live_p50", "floor_p50"),
                              ("live_p50_vs_python", "live_p50", "python_p50"),
                              ("live_p99_vs_python", "live_p99", "python_p99")):
        results[f"latency_{key}"] = results[f"latency_{ours}_us"] / results[f"latency_{theirs}_us"]
    report(results, out)


if __name__ == "__main__":
    main()
