#!/usr/bin/env python3
"""A stand-in for the phone app: sends widget events to a vantu_protocol
server and prints the result frames it answers with.

    python examples/client.py 127.0.0.1:9000 toggle 3 on
    python examples/client.py 127.0.0.1:9000 joystick 6 0.5 -1 0.75
    python examples/client.py 127.0.0.1:9000 --file events.txt
    python examples/client.py 127.0.0.1:9000 --file -      (type events, Ctrl-D ends)

Events, one per line in a file (blank lines and # comments are skipped):

    click ID                    confirm ID
    toggle ID on|off            press ID on|off
    direction ID CODE           joystick ID X Y INTENSITY
    raw HEX...                  (bytes sent as they are, e.g. raw 92 01 c0)
    sleep SECONDS               (a pause)

IDs and direction codes are 0 to 255. Frames are encoded here by hand,
independently of the server: positionally, [id, {"ToggleButton": [true]}],
or with --by-name as maps, {"id": 3, "data": {"ToggleButton": {"value": true}}}.
Each reply is printed as "reply to ID: STATUS, ConfirmResult(True)" or
"..., ErrorResult('text')".
"""

from __future__ import annotations

import argparse
import socket
import struct
import sys
import time
from collections.abc import Iterable, Iterator
from typing import Union

Value = Union[None, bool, int, float, str, list["Value"], dict[str, "Value"]]


class Record(dict[str, Value]):
    """Fields in wire order: an array of the values, or a map with --by-name."""


# --- encoding -------------------------------------------------------------


def pack(value: Value, by_name: bool = False) -> bytes:
    """The MessagePack bytes of `value`, in the few forms that frames need."""
    if isinstance(value, Record) and not by_name:
        value = list(value.values())
    if value is None:
        return b"\xc0"
    if isinstance(value, bool):
        return b"\xc3" if value else b"\xc2"
    if isinstance(value, int):
        if not 0 <= value <= 0xFF:
            raise ValueError(f"{value} is out of range 0 to 255")
        return bytes([value]) if value < 0x80 else bytes([0xCC, value])
    if isinstance(value, float):
        # 32 bits: the width of every float field on the server's side.
        return b"\xca" + struct.pack(">f", value)
    if isinstance(value, str):
        data = value.encode()
        return (bytes([0xA0 | len(data)]) if len(data) < 32 else bytes([0xD9, len(data)])) + data
    if isinstance(value, list):
        return bytes([0x90 | len(value)]) + b"".join(pack(item, by_name) for item in value)
    return bytes([0x80 | len(value)]) + b"".join(pack(k) + pack(v, by_name) for k, v in value.items())


def on_off(word: str) -> bool:
    if word.lower() in ("on", "true", "1", "yes"):
        return True
    if word.lower() in ("off", "false", "0", "no"):
        return False
    raise ValueError(f"expected on or off, got {word!r}")


def byte(word: str, what: str) -> int:
    value = int(word)
    if not 0 <= value <= 0xFF:
        raise ValueError(f"{what} must be 0 to 255, got {value}")
    return value


def widget(command: str, values: list[str]) -> tuple[str, Record]:
    """The widget name and fields for one command, such as toggle ["on"]."""
    match command, values:
        case "click", []:
            return "ClickButton", Record()
        case "confirm", []:
            return "ConfirmButton", Record()
        case "toggle", [state]:
            return "ToggleButton", Record(value=on_off(state))
        case "press", [state]:
            return "PressButton", Record(pressed=on_off(state))
        case "direction", [code]:
            return "DirectionalButton", Record(direction=byte(code, "direction"))
        case "joystick", [x, y, intensity]:
            return "Joystick", Record(delta=Record(x=float(x), y=float(y)), intensity=float(intensity))
    raise ValueError(f"cannot send {' '.join([command, *values])!r}: see --help for the events")


def encode_event(words: list[str], by_name: bool = False) -> bytes:
    """The bytes for one command line such as ["toggle", "3", "on"]."""
    if words[0] == "raw":
        return bytes.fromhex("".join(words[1:]))
    if len(words) < 2:
        raise ValueError(f"{words[0]!r} needs an id")
    name, fields = widget(words[0], words[2:])
    return pack(Record(id=byte(words[1], "id"), data={name: fields}), by_name)


# --- decoding of result frames ---------------------------------------------


class Truncated(Exception):
    """The bytes end inside a value: wait for more."""


def unpack(data: bytes, at: int = 0) -> tuple[Value, int]:
    """One MessagePack value of the kinds result frames use, and where it ends."""

    def take(count: int) -> bytes:
        if at + count > len(data):
            raise Truncated
        return data[at:at + count]

    marker = take(1)[0]
    at += 1
    if marker < 0x80:
        return marker, at
    if marker == 0xCC:
        return take(1)[0], at + 1
    if marker in (0xC2, 0xC3):
        return marker == 0xC3, at
    if 0xA0 <= marker <= 0xBF or 0xD9 <= marker <= 0xDB:
        size = marker & 0x1F
        if marker >= 0xD9:
            width = 1 << (marker - 0xD9)
            size = int.from_bytes(take(width), "big")
            at += width
        return take(size).decode(errors="replace"), at + size
    if 0x80 <= marker <= 0x9F:
        items: list[Value] = []
        for _ in range((marker & 0x0F) * (2 if marker < 0x90 else 1)):
            item, at = unpack(data, at)
            items.append(item)
        if marker >= 0x90:
            return items, at
        return {str(k): v for k, v in zip(items[::2], items[1::2])}, at
    raise ValueError(f"unexpected marker 0x{marker:02x} in a result frame")


def describe_reply(value: Value) -> str:
    match value:
        case [int(id), str(status), {"ConfirmResult": [bool(confirmed)], **rest}] if not rest:
            return f"reply to {id}: {status}, ConfirmResult({confirmed})"
        case [int(id), str(status), {"ErrorResult": [str(error)], **rest}] if not rest:
            return f"reply to {id}: {status}, ErrorResult({error!r})"
    return f"unexpected reply {value!r}"


class Replies:
    """Splits the server's byte stream into result frames."""

    def __init__(self) -> None:
        self.pending = b""

    def feed(self, chunk: bytes) -> list[str]:
        self.pending += chunk
        described = []
        while self.pending:
            try:
                value, used = unpack(self.pending)
            except Truncated:
                break
            self.pending = self.pending[used:]
            described.append(describe_reply(value))
        return described


# --- the connection ---------------------------------------------------------


def connect(address: str, timeout: float) -> socket.socket:
    """Keeps trying for `timeout` seconds: the server may not be listening yet."""
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


def read_replies(sock: socket.socket, replies: Replies, wait: float) -> Iterator[str]:
    """Result frames that arrive until `wait` seconds pass without any."""
    sock.settimeout(wait)
    while True:
        try:
            chunk = sock.recv(4096)
        except TimeoutError:
            return
        if not chunk:
            yield "server closed the connection"
            return
        yield from replies.feed(chunk)


def commands(lines: Iterable[str]) -> Iterator[list[str]]:
    for line in lines:
        words = line.split("#", 1)[0].split()
        if words:
            yield words


def run(address: str, events: Iterable[list[str]], wait: float, connect_timeout: float,
        by_name: bool) -> int:
    sock = connect(address, connect_timeout)
    print(f"client: connected to {address}", flush=True)
    replies = Replies()
    for words in events:
        if words[0] == "sleep":
            time.sleep(float(words[1]))
            continue
        data = encode_event(words, by_name)
        sock.sendall(data)
        print(f"client: sent {' '.join(words)}: {data.hex(' ')}", flush=True)
        for reply in read_replies(sock, replies, wait):
            print(f"client: {reply}", flush=True)
    sock.close()
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").split("\n\n")[0],
                                     epilog=(__doc__ or "").split("\n\n", 2)[2],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("address", help="HOST:PORT of the server")
    parser.add_argument("event", nargs="*", help="one event, e.g. toggle 3 on")
    parser.add_argument("--file", help="read events from this file, one per line ('-' for stdin)")
    parser.add_argument("--by-name", action="store_true", help="encode records as maps keyed by field name")
    parser.add_argument("--wait", type=float, default=1.5,
                        help="seconds to wait for replies after each event (default 1.5)")
    parser.add_argument("--connect-timeout", type=float, default=10,
                        help="keep trying to connect for this long (default 10)")
    args = parser.parse_args(argv)
    events: Iterable[list[str]]
    if args.file:
        events = commands(sys.stdin if args.file == "-" else open(args.file))
    elif args.event:
        events = [args.event]
    else:
        parser.error("give an event or --file")
    try:
        return run(args.address, events, args.wait, args.connect_timeout, args.by_name)
    except (ValueError, OSError) as e:
        print(f"client: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
