#!/usr/bin/env python3
"""A stand-in for the phone app: sends widget events to a vantu_protocol
server and prints the result frames it answers with.

    python examples/client.py 127.0.0.1:9000 toggle 3 on
    python examples/client.py 127.0.0.1:9000 joystick 6 0.5 -1 0.75
    python examples/client.py 127.0.0.1:9000 --file events.txt
    python examples/client.py 127.0.0.1:9000 --file -      (type events, Ctrl-D ends)
    python examples/client.py 127.0.0.1:9000 stream joystick 7 --rate 50 --seconds 10

Events, one per line in a file (blank lines and # comments are skipped):

    click ID                    confirm ID
    toggle ID on|off            press ID on|off
    direction ID CODE           joystick ID X Y INTENSITY
    raw HEX...                  (bytes sent as they are, e.g. raw 92 01 c0)
    sleep SECONDS               (a pause)
    stream direction|joystick ID
                                (--rate frames a second for --seconds: a
                                direction code sweeping 0 to 255, or a stick
                                going round the unit circle at intensity 1)

IDs and direction codes are 0 to 255. Frames are encoded here by hand,
independently of the server: positionally, [id, {"ToggleButton": [true]}],
or with --by-name as maps, {"id": 3, "data": {"ToggleButton": {"value": true}}}.
Each reply is printed as "reply to ID: STATUS, ConfirmResult(True)" or
"..., ErrorResult('text')".

A stream measures the path to the server, Wi-Fi included. Frames leave on a
fixed timetable whatever the replies do; the client never waits for one.
The Nth reply is taken as the answer to the Nth frame, so the server should
answer each frame once, with server.callback(...) in the action. At the end
the client prints how many frames were answered and their round-trip times
(p50, p90, p99 and max, in milliseconds), or that no reply came. For the
server's share to be small, set server.cycle = 0 before serve(): the default
cycle holds each read back by up to half a second.
"""

from __future__ import annotations

import argparse
import itertools
import math
import select
import socket
import struct
import sys
import time
from collections import Counter
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
        return [describe_reply(value) for value in self.values(chunk)]

    def values(self, chunk: bytes) -> list[Value]:
        self.pending += chunk
        values = []
        while self.pending:
            try:
                value, used = unpack(self.pending)
            except Truncated:
                break
            self.pending = self.pending[used:]
            values.append(value)
        return values


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


# --- streams ----------------------------------------------------------------


def stream_frames(words: list[str], by_name: bool) -> Iterator[bytes]:
    """Endless frames for ["stream", "direction" or "joystick", ID], each
    with a new value, as a moving thumb would send them."""
    fields: Iterator[Record]
    match words:
        case ["stream", "direction", id]:
            name = "DirectionalButton"
            fields = (Record(direction=n % 256) for n in itertools.count())
        case ["stream", "joystick", id]:
            name = "Joystick"
            fields = (Record(delta=Record(x=math.cos(n * math.pi / 32), y=math.sin(n * math.pi / 32)),
                             intensity=1.0) for n in itertools.count())
        case _:
            raise ValueError(f"cannot stream {' '.join(words[1:])!r}: give stream direction ID"
                             f" or stream joystick ID")
    key = byte(id, "id")
    return (pack(Record(id=key, data={name: record}), by_name) for record in fields)


def frames_due(elapsed: float, rate: float, total: int) -> int:
    """How many frames of the timetable start + n / rate are due `elapsed`
    seconds after the start. Counting from the start, not from the last
    send, keeps a late send from delaying every later one."""
    return 0 if elapsed < 0 else min(total, math.floor(elapsed * rate) + 1)


def percentile(ordered: list[float], percent: int) -> float:
    """The nearest-rank percentile: the smallest value that at least
    `percent` in a hundred of the values do not exceed."""
    return ordered[max(0, -(-percent * len(ordered) // 100) - 1)]


def stream(sock: socket.socket, words: list[str], rate: float, seconds: float, wait: float,
           by_name: bool) -> None:
    """Sends a stream on its timetable and matches the replies to the frames
    in order; then waits up to `wait` seconds for the replies still missing."""
    frames = stream_frames(words, by_name)
    total = max(1, round(rate * seconds))
    print(f"client: streaming {' '.join(words[1:])} for {seconds:g} s at {rate:g} frames a second",
          flush=True)
    saved_timeout = sock.gettimeout()
    sock.setblocking(False)
    outgoing = bytearray()
    sent_at: list[float] = []
    round_trips: list[float] = []
    statuses: Counter[str] = Counter()
    replies = Replies()
    lost = ""
    start = last_news = time.perf_counter()
    behind = 0.0
    try:
        while not lost:
            now = time.perf_counter()
            for n in range(len(sent_at), frames_due(now - start, rate, total)):
                behind = max(behind, now - (start + n / rate))
                outgoing += next(frames)
                sent_at.append(now)
            if outgoing:
                try:
                    del outgoing[:sock.send(outgoing)]
                    last_news = now
                except BlockingIOError:
                    pass
            if len(sent_at) == total and not outgoing and len(round_trips) >= total:
                break
            if len(sent_at) < total:
                timeout = start + len(sent_at) / rate - now
            else:
                timeout = last_news + wait - now
                if timeout <= 0:
                    break
            readable, _, _ = select.select([sock], [sock] if outgoing else [], [], max(0.0, timeout))
            if not readable:
                continue
            arrived = last_news = time.perf_counter()
            chunk = sock.recv(65536)
            if not chunk:
                lost = "server closed the connection"
            for value in replies.values(chunk):
                if len(round_trips) < len(sent_at):
                    round_trips.append(arrived - sent_at[len(round_trips)])
                match value:
                    case [int(), str(status), *_]:
                        statuses[status] += 1
                    case _:
                        statuses["unexpected"] += 1
    except (BrokenPipeError, ConnectionResetError) as e:
        lost = f"connection lost: {e}"
    finally:
        sock.settimeout(saved_timeout)
    span = sent_at[-1] - start if sent_at else 0.0
    print(f"client: sent {len(sent_at)} frames in {span:.2f} s, at most {behind * 1000:.1f} ms behind"
          f" the timetable", flush=True)
    if outgoing:
        print(f"client: {len(outgoing)} bytes still unsent: the server stopped reading", flush=True)
    if lost:
        print(f"client: {lost}", flush=True)
    for line in summary(round_trips, len(sent_at), statuses):
        print(f"client: {line}", flush=True)


def summary(round_trips: list[float], sent: int, statuses: Counter[str]) -> list[str]:
    """What the replies to a stream of `sent` frames say about the path."""
    if not statuses:
        return [f"no replies to the {sent} frames (the server may not answer them with callback)"]
    tally = ", ".join(f"{status} {count}" for status, count in statuses.most_common())
    lines = [f"{len(round_trips)} of {sent} frames answered ({tally})"]
    extra = sum(statuses.values()) - len(round_trips)
    if extra:
        lines.append(f"{extra} replies more than frames sent: the round trips are not to be trusted")
    ordered = sorted(round_trips)
    figures = [f"p{percent} {percentile(ordered, percent) * 1000:.2f}" for percent in (50, 90, 99)]
    lines.append(f"round trip in ms: {', '.join(figures)}, max {ordered[-1] * 1000:.2f}")
    return lines


def commands(lines: Iterable[str]) -> Iterator[list[str]]:
    for line in lines:
        words = line.split("#", 1)[0].split()
        if words:
            yield words


def run(address: str, events: Iterable[list[str]], wait: float, connect_timeout: float,
        by_name: bool, rate: float = 50, seconds: float = 10) -> int:
    sock = connect(address, connect_timeout)
    print(f"client: connected to {address}", flush=True)
    replies = Replies()
    for words in events:
        if words[0] == "sleep":
            time.sleep(float(words[1]))
            continue
        if words[0] == "stream":
            stream(sock, words, rate, seconds, wait, by_name)
            continue
        data = encode_event(words, by_name)
        sock.sendall(data)
        print(f"client: sent {' '.join(words)}: {data.hex(' ')}", flush=True)
        for reply in read_replies(sock, replies, wait):
            print(f"client: {reply}", flush=True)
    sock.close()
    return 0


def positive(word: str) -> float:
    value = float(word)
    if not 0 < value < math.inf:
        raise argparse.ArgumentTypeError(f"must be a positive number, got {word}")
    return value


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=(__doc__ or "").split("\n\n")[0],
                                     epilog=(__doc__ or "").split("\n\n", 2)[2],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("address", help="HOST:PORT of the server")
    parser.add_argument("event", nargs="*", help="one event, e.g. toggle 3 on or stream joystick 7")
    parser.add_argument("--file", help="read events from this file, one per line ('-' for stdin)")
    parser.add_argument("--by-name", action="store_true", help="encode records as maps keyed by field name")
    parser.add_argument("--wait", type=float, default=1.5,
                        help="seconds to wait for replies after each event, or for the missing"
                             " ones after a stream (default 1.5)")
    parser.add_argument("--connect-timeout", type=float, default=10,
                        help="keep trying to connect for this long (default 10)")
    parser.add_argument("--rate", type=positive, default=50,
                        help="frames a second in a stream (default 50)")
    parser.add_argument("--seconds", type=positive, default=10,
                        help="how long a stream lasts (default 10)")
    args = parser.parse_args(argv)
    events: Iterable[list[str]]
    if args.file:
        events = commands(sys.stdin if args.file == "-" else open(args.file))
    elif args.event:
        events = [args.event]
        if args.event[0] == "stream":
            try:  # a mistyped stream is reported before any connection attempt
                stream_frames(args.event, args.by_name)
            except ValueError as e:
                parser.error(str(e))
    else:
        parser.error("give an event or --file")
    try:
        return run(args.address, events, args.wait, args.connect_timeout, args.by_name,
                   args.rate, args.seconds)
    except (ValueError, OSError) as e:
        print(f"client: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
