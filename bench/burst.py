"""The client for the dispatch benchmark, run as a separate process.

    python burst.py HEX ROUNDS PORT...

In each round, for each port in turn: connects, sends the bytes of HEX in
one sendall (the server reads them after it has accepted, so they arrive
in one read), shuts its sending side, and waits until the server ends the
connection.
"""

import socket
import sys

from reader import connect


def main() -> None:
    burst, rounds = bytes.fromhex(sys.argv[1]), int(sys.argv[2])
    ports = [int(arg) for arg in sys.argv[3:]]
    for _ in range(rounds):
        for port in ports:
            with connect(port) as sock:
                sock.sendall(burst)
                # A server that serves until its client has gone sees the end here.
                sock.shutdown(socket.SHUT_WR)
                while sock.recv(4096):
                    pass


if __name__ == "__main__":
    main()
