"""Hostile bytes over the wire: each case ends the serve loop with the
decoder's error on standard error, and the server's memory stays small
whatever length the bytes announce."""

import struct

import pytest

from support import quiet_ports, start_scenario

GIB4 = 0xFFFFFFFF
TOGGLE_DATA = bytes.fromhex("81ac") + b"ToggleButton" + bytes.fromhex("91c3")


def by_name(key: bytes, value: bytes) -> bytes:
    """A frame in map form whose first entry is `key`: `value`, then a valid
    id and data; a decoder must read or skip `value` first."""
    return bytes([0x83]) + key + value + bytes.fromhex("a26964") + b"\x03" \
        + bytes.fromhex("a464617461") + TOGGLE_DATA


def toggle(fields: bytes, id: int = 3) -> bytes:
    return bytes([0x92, id, 0x81, 0xAC]) + b"ToggleButton" + fields


UNUSED = bytes.fromhex("a1") + b"x"
EOF = "IO error while reading data: unexpected end of file"
NO_MARKER = "IO error while reading marker: failed to fill whole buffer"
BAD_UTF8 = "string found to be invalid utf8: invalid utf-8 sequence of 1 bytes from index 0"

# A declared length far beyond the bytes sent, for every kind that has one.
HUGE = {
    "str8": b"\xd9\xff" + b"a" * 10,
    "str16": b"\xda\xff\xff" + b"a" * 10,
    "str32": b"\xdb" + struct.pack(">I", GIB4) + b"a" * 10,
    "bin8": b"\xc4\xff" + b"a" * 10,
    "bin16": b"\xc5\xff\xff" + b"a" * 10,
    "bin32": b"\xc6" + struct.pack(">I", GIB4) + b"a" * 10,
    "array16": b"\xdc\xff\xff" + b"\x01" * 10,
    "array32": b"\xdd" + struct.pack(">I", GIB4) + b"\x01" * 10,
    "map16": b"\xde\xff\xff" + b"\x01" * 10,
    "map32": b"\xdf" + struct.pack(">I", GIB4) + b"\x01" * 10,
    "ext8": b"\xc7\xff\x01" + b"a" * 10,
    "ext16": b"\xc8\xff\xff\x01" + b"a" * 10,
    "ext32": b"\xc9" + struct.pack(">I", GIB4) + b"\x01" + b"a" * 10,
}

# (bytes, what standard error must hold). Where a case's error depends on
# where the bytes end, the client's closing supplies that end.
CASES = {
    # Skipped as an unknown field's value, so read through to the end.
    **{f"huge {kind} skipped": (by_name(UNUSED, value),
                                NO_MARKER if kind.startswith(("array", "map")) else EOF)
       for kind, value in HUGE.items()},
    "huge str32 as the frame": (HUGE["str32"], EOF),
    "huge bin32 as the frame": (HUGE["bin32"], EOF),
    "huge array32 as the frame": (b"\xdd" + struct.pack(">I", GIB4) + b"\x03" + TOGGLE_DATA,
                                  "array had incorrect length, expected 2"),
    "huge map32 as the frame": (b"\xdf" + struct.pack(">I", GIB4) + bytes.fromhex("a26964") + b"\x03",
                                NO_MARKER),
    "huge ext32 as the frame": (HUGE["ext32"], "invalid type: newtype struct, expected struct Frame"),
    "huge str32 as the variant": (bytes([0x92, 3, 0x81]) + HUGE["str32"], EOF),
    "huge array32 as the fields": (toggle(b"\xdd" + struct.pack(">I", GIB4) + b"\xc3"),
                                   "array had incorrect length, expected 1"),
    "20000 nested arrays skipped": (by_name(UNUSED, b"\x91" * 20000), "depth limit exceeded"),
    "20000 nested maps skipped": (by_name(UNUSED, (b"\x81" + UNUSED) * 20000), "depth limit exceeded"),
    "20000 nested arrays and maps skipped": (by_name(UNUSED, (b"\x91\x81" + UNUSED) * 10000),
                                             "depth limit exceeded"),
    # Only skipped values nest: elsewhere the first container is refused.
    "20000 nested arrays as the variant": (bytes([0x92, 3]) + b"\x91" * 20000,
                                           "invalid type: sequence, expected variant identifier"),
    "invalid utf8 as the frame": (b"\xa2\xc3\x28", BAD_UTF8),
    # As a byte string the name is unknown, so the text itself is refused.
    "invalid utf8 variant": (bytes([0x92, 3, 0x81, 0xA2, 0xC3, 0x28, 0x90]), BAD_UTF8),
    "invalid utf8 bare variant": (bytes([0x92, 3, 0xA2, 0xC3, 0x28]), BAD_UTF8),
    "invalid utf8 id": (bytes([0x92, 0xA2, 0xC3, 0x28]), "wrong msgpack marker FixStr(2)"),
    "invalid utf8 field value": (toggle(b"\x91\xa2\xc3\x28"), "wrong msgpack marker FixStr(2)"),
    "invalid utf8 field key": (toggle(b"\x81\xa2\xc3\x28\xc3"),
                               "missing field `value`"),
    "reserved as the frame": (b"\xc1", "wrong msgpack marker Reserved"),
    "reserved as the id": (bytes([0x92, 0xC1]), "wrong msgpack marker Reserved"),
    "reserved as the variant": (bytes([0x92, 3, 0xC1]), "wrong msgpack marker Reserved"),
    "reserved as the variant name": (bytes([0x92, 3, 0x81, 0xC1, 0x90]), "wrong msgpack marker Reserved"),
    "reserved as the fields": (toggle(b"\xc1"), "wrong msgpack marker Reserved"),
    "reserved as a field": (toggle(b"\x91\xc1"), "wrong msgpack marker Reserved"),
    "reserved as a field key": (toggle(b"\x81\xc1\xc3"), "wrong msgpack marker Reserved"),
    "reserved as a skipped value": (by_name(UNUSED, b"\xc1"), "wrong msgpack marker Reserved"),
    "reserved as a frame key": (by_name(b"\xc1", b"\x01"), "wrong msgpack marker Reserved"),
}

SERVER = """
    def peak_kib():
        with open("/proc/self/status") as f:
            return int(next(line for line in f if line.startswith("VmHWM")).split()[1])

    def threads():
        return len(os.listdir("/proc/self/task"))

    port, data = int(sys.argv[1]), sys.argv[2]
    s = Served("send:" + data, "close", port=port, serve=False, capture=False,
               actions={"ToggleButton_3": print})
    before = peak_kib()
    # Counted, not assumed to be 1: an emulator may run a thread of its own.
    alone = threads()
    s.serve()
    wait_for(lambda: threads() == alone, 30, "the end of the loop")
    finish(s.peer)
    print("grown", peak_kib() - before)
"""

# A few MiB at most: the bytes actually received, never what they announce.
MAX_GROWTH_KIB = 16 * 1024


@pytest.fixture(scope="module")
def outcomes():
    """Every case's server, run side by side: they mostly wait."""
    ports = quiet_ports(len(CASES))
    runs = {name: start_scenario(SERVER, port, data.hex())
            for port, (name, (data, _)) in zip(ports, CASES.items())}
    return {name: run.communicate(timeout=120) + (run.returncode,) for name, run in runs.items()}


@pytest.mark.parametrize("name", CASES)
def test_hostile_bytes_end_the_loop_with_the_decoder_error(outcomes, name):
    out, err, status = outcomes[name]
    assert status == 0, err
    assert CASES[name][1] in err
    [grown] = [int(line.split()[1]) for line in out.splitlines() if line.startswith("grown")]
    assert grown < MAX_GROWTH_KIB
