"""A page reloaded ten times a second, for the web latency benchmark, run as
a separate process: every 100 ms, a new connection to the web listener, a
GET / and a read of the whole answer, until standard input closes.

    python reload.py WEB_ADDRESS

Prints the number of pages it read. Any answer but a whole page stops it
with an error.
"""

import select
import socket
import sys
import time

PERIOD_NS = 100_000_000


def page(address: str) -> None:
    host, _, port = address.rpartition(":")
    with socket.create_connection((host, int(port)), timeout=10) as sock:
        sock.sendall(f"GET / HTTP/1.1\r\nHost: {address}\r\n\r\n".encode())
        answer = bytearray()
        while chunk := sock.recv(65536):
            answer += chunk
    head, _, body = bytes(answer).partition(b"\r\n\r\n")
    length = [line for line in head.lower().split(b"\r\n") if line.startswith(b"content-length:")]
    if not head.startswith(b"HTTP/1.1 200 ") or not length or int(length[0][15:]) != len(body):
        raise RuntimeError(f"not a whole page: {head[:200]!r}, {len(body)} bytes of body")


def main() -> None:
    address, read = sys.argv[1], 0
    clock = time.perf_counter_ns
    start = clock()
    while not select.select([sys.stdin], [], [], 0)[0]:
        page(address)
        read += 1
        # An absolute schedule, as a browser's timer: a slow answer does not
        # shift the requests after it.
        pause = start + read * PERIOD_NS - clock()
        if pause > 0:
            time.sleep(pause / 1e9)
    print(read)


if __name__ == "__main__":
    main()
