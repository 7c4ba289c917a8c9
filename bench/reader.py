"""The client end for the benchmarks, run as a separate process: connects to
each port given, in order, and reads everything until each connection ends.

    python reader.py PORT...

Prints the number of bytes read from each connection, one line each.
"""

import selectors
import socket
import sys
import time


def connect(port: int, source: str = "") -> socket.socket:
    """Connects to 127.0.0.1 from address `source` (any by default), as
    soon as the port listens."""
    deadline = time.monotonic() + 30
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), source_address=(source, 0))
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.01)


def main() -> None:
    ports = [int(arg) for arg in sys.argv[1:]]
    socks = [connect(port) for port in ports]
    counts = {sock: 0 for sock in socks}
    selector = selectors.DefaultSelector()
    for sock in socks:
        selector.register(sock, selectors.EVENT_READ)
    open_count = len(socks)
    while open_count:
        for key, _ in selector.select():
            chunk = key.fileobj.recv(1 << 20)
            if chunk:
                counts[key.fileobj] += len(chunk)
            else:
                selector.unregister(key.fileobj)
                open_count -= 1
    for sock in socks:
        print(counts[sock])
        sock.close()


if __name__ == "__main__":
    main()
