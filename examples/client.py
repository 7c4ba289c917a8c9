#!/usr/bin/env python3
"""A stand-in for the phone app: sends widget events to a vantu_protocol
server and prints the result frames it answers with.

    python examples/client.py 127.0.0.1:9000 toggle 3 on
    python examples/client.py 127.0.0.1:9000 joystick 6 0.5 -1 0.75
    python examples/client.py 127.0.0.1:9000 --file events.txt
    echo "click 1" | python examples/client.py 127.0.0.1:9000 --file -

Events (one per line in a file; blank lines and # comments are skipped):

    click ID                    confirm ID
    toggle ID on|off            press ID on|off
    direction ID CODE           joystick ID X Y INTENSITY
    sleep SECONDS               (pause; in files only)

Frames are encoded here by hand, independently of the server, in the
canonical form [id, {"WidgetName": [fields...]}].
"""

from __future__ import annotations

import argparse
import socket
import struct
import sys
import time
from typing import Iterable, Iterator

# --- encoding -------------------------------------------------------------


def pack_uint(value: int) -> bytes:
    if value < 0x80:
        return bytes([value])
    if value <= 0xFF:
        return b"\xcc" + bytes([value])
    raise ValueError(f"identifier out of range: {value}")


def pack_str(text: str) -> bytes:
    data = text.encode()
    if len(data) < 32:
        return bytes([0xA0 | len(data)]) + data
    return b"\xd9" + bytes([len(data)]) + data


def pack_array(items: list[bytes]) -> bytes:
    return bytes([0x90 | len(items)]) + b"".join(items)


def pack_bool(value: bool) -> bytes:
    return b"\xc3" if value else b"\xc2"


def pack_f32(value: float) -> bytes:
    return b"\xca" + struct.pack(">f", value)


def on_off(word: str) -> bool:
    if word.lower() in ("on", "true", "1", "yes"):
        return True
    if word.lower() in ("off", "false", "0", "no"):
        return False
    raise ValueError(f"expected on or off, got {word!r}")


WIDGETS = {
    # command: (widget name, number of values, encoder of the field list)
    "click": ("ClickButton", 0, lambda v: []),
    "toggle": ("ToggleButton", 1, lambda v: [pack_bool(on_off(v[0]))]),
    "confirm": ("ConfirmButton", 0, lambda v: []),
    "press": ("PressButton", 1, lambda v: [pack_bool(on_off(v[0]))]),
    "direction": ("DirectionalButton", 1, lambda v: [pack_uint(int(v[0]))]),
    "joystick": ("Joystick", 3, lambda v: [pack_array([pack_f32(float(v[0])), pack_f32(float(v[1]))]),
                                           pack_f32(float(v[2]))]),
}


def encode_event(words: list[str]) -> bytes:
    """The frame for one command line such as ["toggle", "3", "on"]."""
    if len(words) < 2 or words[0] not in WIDGETS:
        raise ValueError(f"unknown event: {' '.join(words)!r} (try: {', '.join(WIDGETS)})")
    name, count, fields = WIDGETS[words[0]]
    values = words[2:]
    if len(values) != count:
        raise ValueError(f"{words[0]} takes {count} value(s) after the id, got {len(values)}")
    return pack_array([pack_uint(int(words[1])), b"\x81" + pack_str(name) + pack_array(fields(values))])


# --- decoding of result frames ---------------------------------------------


class Truncated(Exception):
    """The bytes end inside a value: wait for more."""


def unpack(data: bytes, at: int = 0) -> tuple[object, int]:
    """One MessagePack value of the kinds result frames use."""

    def take(count: int) -> bytes:
        if at + count > len(data):
            raise Truncated
        return data[at:at + count]

    if at >= len(data):
        raise Truncated
    marker = data[at]
    at += 1
    if marker < 0x80:
        return marker, at
    if marker == 0xCC:
        return take(1)[0], at + 1
    if marker in (0xC2, 0xC3):
        return marker == 0xC3, at
    if 0xA0 <= marker <= 0xBF or marker in (0xD9, 0xDA, 0xDB):
        if marker <= 0xBF:
            size = marker & 0x1F
        else:
            width = {0xD9: 1, 0xDA: 2, 0xDB: 4}[marker]
            size = int.from_bytes(take(width), "big")
            at += width
        return take(size).decode(), at + size
    if 0x90 <= marker <= 0x9F or 0x80 <= marker <= 0x8F:
        items = []
        count = (marker & 0x0F) * (2 if marker < 0x90 else 1)
        for _ in range(count):
            item, at = unpack(data, at)
            items.append(item)
        if marker < 0x90:
            return dict(zip(items[::2], items[1::2])), at
        return items, at
    raise ValueError(f"unexpected marker 0x{marker:02x} in a result frame")


def describe_result(value: object) -> str:
    try:
        id, status, payload = value  # type: ignore[misc]
        [(kind, [field])] = payload.items()  # type: ignore[union-attr]
    except (TypeError, ValueError):
        return f"unexpected reply {value!r}"
    if kind == "ConfirmResult":
        return f"reply to {id}: status {status}, confirmed {field}"
    return f"reply to {id}: status {status}, error {field!r}"


# --- the connection ---------------------------------------------------------


def connect(address: str, timeout: float) -> socket.socket:
    host, _, port = address.rpartition(":")
    deadline = time.monotonic() + timeout
    while True:
        try:
            sock = socket.create_connection((host.strip("[]"), int(port)), timeout=timeout)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            return sock
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def read_replies(sock: socket.socket, pending: bytearray, wait: float) -> Iterator[str]:
    """Result frames that arrive within `wait` seconds of silence."""
    sock.settimeout(wait)
    while True:
        try:
            chunk = sock.recv(4096)
        except socket.timeout:
            return
        if not chunk:
            yield "server closed the connection"
            return
        pending += chunk
        while pending:
            try:
                value, used = unpack(bytes(pending))
            except Truncated:
                break
            del pending[:used]
            yield describe_result(value)


def commands(lines: Iterable[str]) -> Iterator[list[str]]:
    for line in lines:
        words = line.split("#", 1)[0].split()
        if words:
            yield words


def run(address: str, events: Iterable[list[str]], wait: float, connect_timeout: float) -> int:
    sock = connect(address, connect_timeout)
    print(f"client: connected to {address}", flush=True)
    pending = bytearray()
    for words in events:
        if words[0] == "sleep":
            time.sleep(float(words[1]))
            continue
        data = encode_event(words)
        sock.sendall(data)
        print(f"client: sent {' '.join(words)}: {data.hex(' ')}", flush=True)
        for reply in read_replies(sock, pending, wait):
            print(f"client: {reply}", flush=True)
    sock.close()
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("address", help="HOST:PORT of the server")
    parser.add_argument("event", nargs="*", help="one event, e.g. toggle 3 on")
    parser.add_argument("--file", help="read events from this file, one per line ('-' for stdin)")
    parser.add_argument("--wait", type=float, default=1.5,
                        help="seconds to wait for replies after each event (default 1.5)")
    parser.add_argument("--connect-timeout", type=float, default=10,
                        help="keep trying to connect for this long (default 10)")
    args = parser.parse_args(argv)
    if args.file:
        source = sys.stdin if args.file == "-" else open(args.file)
        events: Iterable[list[str]] = commands(source)
    elif args.event:
        events = [args.event]
    else:
        parser.error("give an event or --file")
    try:
        return run(args.address, events, args.wait, args.connect_timeout)
    except (ValueError, OSError) as e:
        print(f"client: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
