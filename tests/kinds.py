"""The widget kinds as the C++ table states them (`widget_kinds` in
src/base/widget_kinds.hpp), for the tests that go over every kind: their
names in tag order, their fields in position order with their C++ types,
and for each type a value to send and what the event then reads back."""

from __future__ import annotations

import re
import struct
from dataclasses import dataclass
from pathlib import Path

import msgpack

TABLE = Path(__file__).resolve().parent.parent / "src" / "base" / "widget_kinds.hpp"

STRUCT = re.compile(r"struct (\w+) \{([^}]*)\};")
MEMBER = re.compile(r"([\w:]+) (\w+)(?: = [^;]*)?;")
ROW = re.compile(r'record<widget::(\w+)>\(\s*"(\w+)"((?:\s*,\s*field\([^)]*\))*)\s*\)')
FIELD = re.compile(r'field\("(\w+)",\s*&widget::\w+::(\w+)\)')


def f32(value: float) -> float:
    return struct.unpack("f", struct.pack("f", value))[0]


# By C++ field type: the value a frame carries, and what the event's field
# then reads (a Coord as [x, y]).
WIRE_SAMPLES = {"bool": (True, True), "std::uint8_t": (255, 255), "float": (0.1, f32(0.1)),
                "Coord": ([0.5, -1.0], [0.5, -1.0])}


@dataclass(frozen=True)
class Kind:
    tag: int
    name: str
    fields: tuple[tuple[str, str], ...]  # (name, C++ type), in position order

    @property
    def field_names(self) -> tuple[str, ...]:
        return tuple(name for name, _ in self.fields)

    def frame(self, id: int, by_name: bool = False) -> bytes:
        """A frame of this kind with the sample of each field, its fields
        by position or by name."""
        values = [WIRE_SAMPLES[kind][0] for _, kind in self.fields]
        fields = dict(zip(self.field_names, values)) if by_name else values
        return msgpack.packb([id, {self.name: fields}], use_single_float=True)

    def expected(self) -> list:
        """What the fields of an event decoded from frame() read back."""
        return [WIRE_SAMPLES[kind][1] for _, kind in self.fields]

    def read(self, event) -> list:
        values = [getattr(event, name) for name in self.field_names]
        return [[v.x, v.y] if kind == "Coord" else v for v, (_, kind) in zip(values, self.fields)]


def _kinds() -> tuple[Kind, ...]:
    source = TABLE.read_text()
    members = {name: dict((m, t) for t, m in MEMBER.findall(body))
               for name, body in STRUCT.findall(source)}
    return tuple(Kind(tag, name, tuple((field, members[struct_name][member])
                                       for field, member in FIELD.findall(row)))
                 for tag, (struct_name, name, row) in enumerate(ROW.findall(source)))


KINDS = _kinds()
