"""Clients of the module's two transports for the tests: raw TCP, and the
web listener's HTTP and WebSocket, through the `websockets` library as a
browser would speak it, or through a raw socket for what no library sends."""

from __future__ import annotations

import os
import socket
import struct
import threading
from http import HTTPStatus

import msgpack
from websockets.sync.client import ClientConnection, connect

from support import is_listening, wait_for


def http(address: str, head: bytes) -> tuple[int, dict[str, str], bytes]:
    """Sends `head` to the web listener at `address` and reads the answer to
    its end (to the end of its head for an upgrade): status, headers (names
    in lower case) and body."""
    host, _, port = address.rpartition(":")
    with socket.create_connection((host.strip("[]"), int(port)), timeout=20) as sock:
        sock.sendall(head)
        answer = b""
        while not (answer.startswith(b"HTTP/1.1 101 ") and b"\r\n\r\n" in answer):
            if not (chunk := sock.recv(65536)):
                break
            answer += chunk
    head_bytes, _, body = answer.partition(b"\r\n\r\n")
    status_line, *lines = head_bytes.decode().split("\r\n")
    headers = {name.lower(): value.strip() for name, _, value in (l.partition(":") for l in lines)}
    version, status, reason = status_line.split(" ", 2)
    assert version == "HTTP/1.1" and reason == HTTPStatus(int(status)).phrase, status_line
    return int(status), headers, body


def get(address: str, target: str = "/", host: str | None = None, extra: str = "",
        method: str = "GET") -> tuple[int, dict[str, str], bytes]:
    return http(address, f"{method} {target} HTTP/1.1\r\nHost: {host or address}\r\n{extra}\r\n".encode())


UPGRADE = ("Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n")


def client_frame(opcode: int, payload: bytes, fin: bool = True, rsv: int = 0,
                 mask: bool = True) -> bytes:
    """A client's WebSocket frame, built by hand."""
    size = len(payload)
    length = (bytes([size]) if size < 126 else bytes([126]) + struct.pack("!H", size)
              if size < 65536 else bytes([127]) + struct.pack("!Q", size))
    head = bytes([(0x80 if fin else 0) | rsv << 4 | opcode]) + bytes([length[0] | (0x80 if mask else 0)])
    if not mask:
        return head + length[1:] + payload
    key = os.urandom(4)
    return head + length[1:] + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


def raw_websocket(address: str) -> socket.socket:
    """A socket through which the upgrade to a WebSocket went, for frames
    that no library sends."""
    host, _, port = address.rpartition(":")
    sock = socket.create_connection((host.strip("[]"), int(port)), timeout=20)
    sock.sendall(f"GET /ws HTTP/1.1\r\nHost: {address}\r\n{UPGRADE}\r\n".encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += sock.recv(1)
    assert answer.startswith(b"HTTP/1.1 101 "), answer
    return sock


def read_close(sock: socket.socket) -> int | None:
    """The code of the server's close frame, after any other frames; None
    when the stream ends without one."""
    data = b""
    while True:
        while len(data) >= 2 and len(data) >= 2 + (data[1] & 0x7F):
            size = data[1] & 0x7F
            frame, data = data[:2 + size], data[2 + size:]
            if frame[0] & 0x0F == 8:
                return struct.unpack("!H", frame[2:4])[0]
        chunk = sock.recv(65536)
        if not chunk:
            return None
        data += chunk


class Link:
    """A controller of either transport, as the session tests see it: raw
    TCP ("raw") or a WebSocket through the `websockets` library ("web"),
    which `server` accepts (unless `accept` is false: a listener it keeps
    then takes the connection in)."""

    def __init__(self, kind: str, server, port: int, accept: bool = True) -> None:
        self.kind = kind
        self.unpacker = msgpack.Unpacker()
        if kind == "web":
            # The web listener completes the upgrade by itself; the
            # connection then waits for accept().
            self.ws: ClientConnection = connect(f"ws://{server.web_address}/ws", compression=None,
                                                open_timeout=20).__enter__()
            assert not accept or server.accept(20)
            return
        connected: list[socket.socket] = []

        def dial() -> None:
            wait_for(lambda: is_listening(port), what="the listener")
            connected.append(socket.create_connection(("127.0.0.1", port), timeout=20))
        thread = threading.Thread(target=dial)
        thread.start()
        assert not accept or server.accept(20)
        thread.join()
        self.sock = connected[0]

    def send(self, data: bytes) -> None:
        if self.kind == "web":
            self.ws.send(data)
        else:
            self.sock.sendall(data)

    def result(self) -> list:
        """The next result frame, decoded."""
        if self.kind == "web":
            return msgpack.unpackb(self.ws.recv(timeout=20))
        while True:
            for value in self.unpacker:
                return value
            self.unpacker.feed(self.sock.recv(65536))

    def leave(self) -> None:
        """Goes as a phone does: a WebSocket with its close, raw TCP with the
        end of its stream."""
        if self.kind == "web":
            self.ws.close()
        else:
            self.sock.close()

    def ended(self) -> bool:
        """Whether the server ended the connection."""
        try:
            if self.kind == "web":
                self.ws.recv(timeout=20)
                return False
            return self.sock.recv(1) == b""
        except Exception:  # the library's ConnectionClosed, or a reset
            return True
