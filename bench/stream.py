"""The client for the latency benchmark, run as a separate process.

    python stream.py PORT COUNT PERIOD_MS

Connects, waits a moment for the server to start serving, then sends COUNT
DirectionalButton frames, one per send, PERIOD_MS apart; frame n carries n
as id n // 256 and direction n % 256. Then it closes the connection and
prints the CLOCK_MONOTONIC nanoseconds taken just before each send, one
line each.
"""

import socket
import sys
import time

import msgpack

from reader import connect

LEAD_IN_S = 0.2


def frames(count: int) -> list[bytes]:
    return [msgpack.packb([n // 256, {"DirectionalButton": [n % 256]}]) for n in range(count)]


def main() -> None:
    port, count, period_ns = int(sys.argv[1]), int(sys.argv[2]), int(float(sys.argv[3]) * 1e6)
    encoded = frames(count)
    sent = []
    clock = time.perf_counter_ns
    with connect(port) as sock:
        # One frame, one segment, at once: no wait for the peer's ACK.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        start = clock() + int(LEAD_IN_S * 1e9)
        for n, frame in enumerate(encoded):
            # The schedule is absolute, so a late wake-up does not shift the
            # frames after it.
            pause = start + n * period_ns - clock()
            if pause > 0:
                time.sleep(pause / 1e9)
            sent.append(clock())
            sock.send(frame)
        sock.shutdown(socket.SHUT_WR)
    print("\n".join(map(str, sent)))


if __name__ == "__main__":
    main()
