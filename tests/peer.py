"""A scripted TCP client for the tests, run as a separate process.

The server's open() holds the interpreter lock while it waits, so a client
in the test's own interpreter could never connect. Usage:

    python peer.py HOST:PORT [from:SOURCE] STEP...

With from:, the client's end is bound to address SOURCE. Steps: rcvbuf:BYTES (a small
receive buffer, so that a client that stops reading soon fills the server's
buffers), send:HEX, fill:COUNT:HEXBYTE (COUNT copies of one byte), sleep:SECONDS, recv:COUNT (read until COUNT bytes or the
end of the stream; prints "recv HEX"), eof (read until the end of the
stream; prints "eof" with what was left, or "reset" when the server reset it), drain (read until the end of the
stream; prints "drained" and the byte count), reset (close with RST), close.
"""

import socket
import struct
import sys
import time


def connect(address: str, source: str | None) -> socket.socket:
    # HOST may be a name: create_connection tries each of its addresses.
    host, _, port = address.rpartition(":")
    deadline = time.monotonic() + 20
    while True:
        try:
            return socket.create_connection((host, int(port)), timeout=20,
                                            source_address=source and (source, 0))
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.02)


def read_exact(sock: socket.socket, count: int) -> bytes:
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            break
        data += chunk
    return data


def read_to_end(sock: socket.socket) -> bytes:
    data = b""
    while chunk := sock.recv(65536):
        data += chunk
    return data


def drain(sock: socket.socket) -> int:
    count = 0
    while chunk := sock.recv(1 << 20):
        count += len(chunk)
    return count


def main() -> None:
    steps = sys.argv[2:]
    source = steps.pop(0).removeprefix("from:") if steps and steps[0].startswith("from:") else None
    sock = connect(sys.argv[1], source)
    print("connected", flush=True)
    for step in steps:
        kind, _, arg = step.partition(":")
        if kind == "rcvbuf":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, int(arg))
        elif kind == "send":
            sock.sendall(bytes.fromhex(arg))
        elif kind == "fill":
            count, _, byte = arg.partition(":")
            sock.sendall(bytes.fromhex(byte) * int(count))
        elif kind == "sleep":
            time.sleep(float(arg))
        elif kind == "recv":
            print("recv", read_exact(sock, int(arg)).hex(), flush=True)
        elif kind == "eof":
            try:
                print("eof", read_to_end(sock).hex(), flush=True)
            except ConnectionResetError:
                print("reset", flush=True)
        elif kind == "drain":
            print("drained", drain(sock), flush=True)
        elif kind == "reset":
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
            return
        elif kind == "close":
            sock.close()
            return
        else:
            raise SystemExit(f"unknown step {step}")
    sock.close()


if __name__ == "__main__":
    main()
