"""The client for the latency benchmarks, run as a separate process.

    python stream.py PORT COUNT PERIOD_MS [KIND]

Connects, waits a moment for the server to start serving, then sends COUNT
frames, one per send, PERIOD_MS apart. KIND DirectionalButton (the default):
frame n carries n as id n // 256 and direction n % 256; KIND Joystick: frame
n is Joystick 1 with n as delta.x. Then it closes the connection and prints
the CLOCK_MONOTONIC nanoseconds taken just before each send, one line each.
"""

import socket
import sys
import time

import msgpack

from reader import connect

LEAD_IN_S = 0.2

KINDS = {
    "DirectionalButton": lambda n: [n // 256, {"DirectionalButton": [n % 256]}],
    # Below 2**24, n is exact as the 32-bit float the module decodes.
    "Joystick": lambda n: [1, {"Joystick": [[float(n), 0.0], 1.0]}],
}


def frames(count: int, kind: str = "DirectionalButton") -> list[bytes]:
    return [msgpack.packb(KINDS[kind](n)) for n in range(count)]


def paced(send, encoded: list[bytes], period_ns: int) -> list[int]:
    """Sends each of `encoded` with `send`, `period_ns` apart after a lead-in:
    the clock just before each send."""
    sent = []
    clock = time.perf_counter_ns
    start = clock() + int(LEAD_IN_S * 1e9)
    for n, frame in enumerate(encoded):
        # The schedule is absolute, so a late wake-up does not shift the
        # frames after it.
        pause = start + n * period_ns - clock()
        if pause > 0:
            time.sleep(pause / 1e9)
        sent.append(clock())
        send(frame)
    return sent


def arguments() -> tuple[str, list[bytes], int]:
    """The target, the frames and the period in ns, from the command line."""
    count, period_ns = int(sys.argv[2]), int(float(sys.argv[3]) * 1e6)
    return sys.argv[1], frames(count, *sys.argv[4:5]), period_ns


def main() -> None:
    port, encoded, period_ns = arguments()
    with connect(int(port)) as sock:
        # One frame, one segment, at once: no wait for the peer's ACK.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sent = paced(sock.send, encoded, period_ns)
        sock.shutdown(socket.SHUT_WR)
    print("\n".join(map(str, sent)))


if __name__ == "__main__":
    main()
