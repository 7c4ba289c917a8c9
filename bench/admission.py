"""Who may connect, and what it costs.

Flood: a live session (cycle 0, progress off) of a server with takeover and
an allow list of 127.0.0.1 gets the latency benchmark's 50 Hz stream, in
rounds that alternate without and with a refused client (flood.py) that
connects from 127.0.0.2 as fast as it can all the while. Every refused
connection is accepted, reset and reported by the serve thread, which also
serves the session. A third kind of round floods a server without takeover,
whose connections the system refuses, as there is no listener: what the
flood costs the machine, without the serve loop's part.

Takeover (root only, in a private network namespace): a phone from
127.0.0.3 is served, then its packets are dropped, so its connection is
half-open; a new phone from 127.0.0.1 connects and sends a ClickButton
frame at once. The time runs from just before its connect() to the frame's
action, through the program's wait(), close(), accept() and serve(), as in
the README's robot program; it is split at wait()'s return and after
accept(). Rounds alternate a live loop and one with the default settings.

    python admission.py
"""

import json
import os
import shutil
import socket
import subprocess
import sys
import threading
import time

from vantu_protocol import ComSocketServer
from bench_support import HERE, free_port, median, module_session, percentile, report, silence_stdout, stamper
from latency import COUNT, IDS, WIDGET, stream
from reader import connect

ROUNDS = 3
TAKEOVERS = 10
CLICK_1 = bytes.fromhex("9201 81 ab 436c69636b427574746f6e 90".replace(" ", ""))
OLD_PHONE = "127.0.0.3"
ALLOW = ["127.0.0.1", OLD_PHONE]


def server(port: int, live: bool = True, takeover: bool = True) -> ComSocketServer:
    s = ComSocketServer(f"127.0.0.1:{port}")
    s.allow, s.takeover = ALLOW, takeover
    if live:
        s.cycle, s.progress = 0, False
    return s


ROUND_KINDS = {"quiet": (False, True), "flood": (True, True), "flood_no_listener": (True, False)}


def session_latencies_us(kind: str) -> tuple[list[float], int]:
    """One streamed session: each frame's latency, and the connections the
    refused client made meanwhile."""
    flooded, takeover = ROUND_KINDS[kind]
    port = free_port()
    times: list[int] = []
    flood = None
    if flooded:
        flood = subprocess.Popen([sys.executable, str(HERE / "flood.py"), str(port)],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    client = stream(port)
    module_session(server(port, takeover=takeover), WIDGET, IDS, stamper(times))
    sent = [int(line) for line in client.communicate(timeout=60)[0].split()]
    made = int(flood.communicate("", timeout=60)[0]) if flood else 0
    if client.returncode != 0 or len(sent) != COUNT or len(times) != COUNT:
        raise RuntimeError(f"{len(times)} of {len(sent)} frames sent reached the action")
    return [(got - at) / 1000 for got, at in zip(times, sent)], made


def flood_figures() -> dict:
    p50s: dict[str, list[float]] = {kind: [] for kind in ROUND_KINDS}
    p99s: dict[str, list[float]] = {kind: [] for kind in ROUND_KINDS}
    rates: dict[str, list[float]] = {kind: [] for kind in ROUND_KINDS}
    kinds = list(ROUND_KINDS)
    for turn in range(ROUNDS):
        # The order rotates from round to round: no kind always goes first.
        for kind in kinds[turn:] + kinds[:turn]:
            started = time.monotonic()
            latencies, made = session_latencies_us(kind)
            p50s[kind].append(percentile(latencies, 50))
            p99s[kind].append(percentile(latencies, 99))
            rates[kind].append(made / (time.monotonic() - started))
    results = {}
    for kind in kinds:
        results[f"{kind}_p50_us"] = median(p50s[kind])
        results[f"{kind}_p99_us"] = median(p99s[kind])
        if kind != "quiet":
            results[f"{kind}_refused_per_s"] = median(rates[kind])
            for which in ("p50", "p99"):
                results[f"{kind}_{which}_vs_quiet"] = results[f"{kind}_{which}_us"] / results[f"quiet_{which}_us"]
    return results


def nft(*rules: str) -> None:
    for rule in rules:
        subprocess.run(["nft", *rule.split()], check=True)


def one_takeover(live: bool) -> tuple[float, float, float]:
    """Milliseconds from the new phone's connect() to wait()'s return, to
    accept()'s return, and to its first action."""
    port, clock = free_port(), time.perf_counter_ns
    s = server(port, live)
    acted = threading.Event()
    stamps: list[int] = []
    s.on(1, "ClickButton", lambda event: (stamps.append(clock()), acted.set()))
    phones: list[socket.socket] = []
    dialing = threading.Thread(target=lambda: phones.append(connect(port, OLD_PHONE)))
    dialing.start()
    if not s.accept(10):
        raise RuntimeError("the old phone did not connect")
    dialing.join()
    old = phones[0]
    s.serve()
    old.send(CLICK_1)
    if not acted.wait(10):
        raise RuntimeError("the old phone's frame did not arrive")
    acted.clear()
    nft("add table inet t", "add chain inet t c { type filter hook input priority 0; }",
        f"add rule inet t c ip saddr {OLD_PHONE} drop", f"add rule inet t c ip daddr {OLD_PHONE} drop")
    new = socket.socket()
    start = clock()
    new.connect(("127.0.0.1", port))
    new.send(CLICK_1)
    if s.wait(20) is not True:
        raise RuntimeError("the session was not taken over")
    waited = clock()
    s.close()
    if not s.accept(0):
        raise RuntimeError("the new phone was not waiting")
    accepted = clock()
    s.serve()
    if not acted.wait(10):
        raise RuntimeError("the new phone's frame did not arrive")
    s.close()
    s.close()
    nft("delete table inet t")
    new.close()
    old.close()
    return tuple((at - start) / 1e6 for at in (waited, accepted, stamps[1]))


def takeover_figures() -> dict:
    """Runs inside the private network namespace."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    runs: dict[str, list[tuple[float, float, float]]] = {"live": [], "default": []}
    for turn in range(TAKEOVERS):
        for name in ("live", "default") if turn % 2 == 0 else ("default", "live"):
            runs[name].append(one_takeover(name == "live"))
    results = {}
    for name, times in runs.items():
        for part, label in enumerate(("wait_returned", "accepted", "first_action")):
            results[f"takeover_{name}_{label}_ms"] = median([t[part] for t in times])
        results[f"takeover_{name}_first_action_max_ms"] = max(t[2] for t in times)
    return results


def main() -> None:
    out = silence_stdout()
    if sys.argv[1:] == ["takeover"]:
        report(takeover_figures(), out)
        return
    # One line per refused connection: thousands, to nowhere. Errors of
    # the benchmark itself still reach standard error.
    err, null = os.dup(2), os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    results = flood_figures()
    os.dup2(err, 2)
    if os.geteuid() == 0 and shutil.which("unshare") and shutil.which("nft"):
        child = subprocess.run(["unshare", "-n", sys.executable, __file__, "takeover"],
                               capture_output=True, text=True, timeout=300, check=True)
        results.update(json.loads(child.stdout.splitlines()[-1]))
    report(results, out)


if __name__ == "__main__":
    main()
