"""The WebSocket client for the web latency benchmark, run as a separate
process: stream.py's frames and schedule, each frame one binary message to
the web listener, as the remote page sends them.

    python ws_stream.py WEB_ADDRESS COUNT PERIOD_MS [KIND]

Then it closes the WebSocket (a close frame, as a page that goes does) and
prints two CLOCK_MONOTONIC nanosecond times for each frame, on a line: just
before ws.send(), and just before the library hands the frame's bytes to
the socket. Between the two is the library's own work in Python, which a
browser's WebSocket does in C++.
"""

import socket
import time

from websockets.sync.client import connect

from stream import arguments, paced

BINARY = 0x2


class StampedSocket(socket.socket):
    """A TCP socket that notes the time of each binary message it is given:
    not the handshake, a pong or the close."""

    def __init__(self) -> None:
        super().__init__(socket.AF_INET, socket.SOCK_STREAM)
        self.stamps: list[int] = []

    def sendall(self, data, *flags) -> None:
        if data and data[0] & 0x0F == BINARY:
            self.stamps.append(time.perf_counter_ns())
        super().sendall(data, *flags)


def main() -> None:
    address, encoded, period_ns = arguments()
    host, _, port = address.rpartition(":")
    sock = StampedSocket()
    sock.connect((host, int(port)))
    # One frame, one segment, at once. The library sets it as well; set
    # here so that no version of it leaves it off.
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    # The module accepts no extension: a browser's frames go uncompressed,
    # and so do these.
    with connect(f"ws://{address}/ws", sock=sock, compression=None, open_timeout=30) as ws:
        sent = paced(ws.send, encoded, period_ns)
    if len(sock.stamps) != len(sent):
        raise RuntimeError(f"{len(sock.stamps)} binary writes for {len(sent)} messages")
    print("\n".join(f"{at} {wire}" for at, wire in zip(sent, sock.stamps)))


if __name__ == "__main__":
    main()
