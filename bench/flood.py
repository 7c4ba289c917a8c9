"""A refused client for the admission benchmark, run as a separate process:
connects from 127.0.0.2 to the port as fast as it can, and drops each
connection at once, until standard input closes.

    python flood.py PORT

Prints the number of connections it made.
"""

import select
import socket
import struct
import sys


def main() -> None:
    port, made = int(sys.argv[1]), 0
    while not select.select([sys.stdin], [], [], 0)[0]:
        with socket.socket() as sock:
            # Closing with a reset leaves no TIME_WAIT on either side, so the
            # source ports do not run out.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.bind(("127.0.0.2", 0))
            try:
                sock.connect(("127.0.0.1", port))
            except ConnectionError:
                pass
        made += 1
    print(made)


if __name__ == "__main__":
    main()
