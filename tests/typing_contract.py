"""The shipped type stubs and the module must agree on how the module is used.

`tests/typecheck` gives this file to `mypy --strict` and then runs it. Every
line marked `# type: ignore[...]` is something mypy must reject (strict mode
reports an ignore that is not needed) and that also fails at run time.
"""

from __future__ import annotations

from collections.abc import Callable, Hashable
from typing import assert_type

import vantu_protocol
from vantu_protocol import (ComSocketServer, ConfirmResult, ErrorResult, Protocol, ServerStatus,
                            VantuPiServer, WidgetRegistry)


def rejected(attempt: Callable[[], object], error: type[BaseException]) -> None:
    try:
        attempt()
    except error:
        return
    raise AssertionError("accepted at run time")


def describe(event: WidgetRegistry) -> str:
    match event:
        case WidgetRegistry.ClickButton() | WidgetRegistry.ConfirmButton():
            return type(event).__name__
        case WidgetRegistry.ToggleButton(value) | WidgetRegistry.PressButton(value):
            assert_type(value, bool)
            return f"switch {value}"
        case WidgetRegistry.DirectionalButton(direction):
            assert_type(direction, int)
            return f"direction {direction}"
        case WidgetRegistry.Joystick(delta, intensity):
            assert_type(delta.x + delta.y, float)
            assert_type(intensity, float)
            return f"joystick {intensity}"
    return "unknown"


def ToggleButton_3(event: WidgetRegistry.ToggleButton, note: str = "") -> str:
    return f"switch {event.value}{note}"


def hash_of(value: Hashable) -> int:
    return hash(value)


def set_address() -> None:
    server.address = "127.0.0.1:1"  # type: ignore[misc]


def set_cycle_text() -> None:
    server.cycle = "0.1"  # type: ignore[assignment]


server = VantuPiServer.use_socket("127.0.0.1:0")
assert_type(server, ComSocketServer)
assert_type(server.address, str)
wrapper = vantu_protocol.on(server)(ToggleButton_3)
assert wrapper(WidgetRegistry.ToggleButton(True), note="!") == "switch True!"
assert server._get_action("ToggleButton_3") is ToggleButton_3
server.on(4, "PressButton", describe)
assert server._get_action("PressButton_4") is describe

assert describe(WidgetRegistry.ClickButton()) == "WidgetRegistry_ClickButton"
assert describe(WidgetRegistry.DirectionalButton(200)) == "direction 200"
assert isinstance(WidgetRegistry.PressButton(False), WidgetRegistry)
assert ServerStatus.Idle == 1 and int(Protocol.Usb) == 3
status: ServerStatus = ServerStatus.Busy
server.cycle, server.progress, server.idle_timeout, server.send_timeout = 0, False, 1.0, None
assert_type(server.wait(0.0) if server.connected else server.accept(0.01), bool)
payloads: list[ConfirmResult | ErrorResult] = [ConfirmResult(True), ErrorResult("no")]

# Rejected by both.
rejected(lambda: wrapper(WidgetRegistry.PressButton(True)), AttributeError)  # type: ignore[arg-type]
rejected(lambda: ServerStatus(), TypeError)  # type: ignore[call-arg]
rejected(lambda: WidgetRegistry(), TypeError)  # type: ignore[call-arg]
rejected(lambda: hash_of(ServerStatus.Idle), TypeError)  # type: ignore[arg-type]
rejected(lambda: ServerStatus.Idle < ServerStatus.Busy, TypeError)  # type: ignore[operator]
rejected(lambda: WidgetRegistry.ToggleButton(1), TypeError)  # type: ignore[arg-type]
rejected(lambda: ConfirmResult(1), TypeError)  # type: ignore[arg-type]
rejected(lambda: server.callback(1, 1, ConfirmResult(True)), TypeError)  # type: ignore[arg-type]
rejected(lambda: WidgetRegistry.ClickButton(True), TypeError)  # type: ignore[call-arg]
rejected(lambda: vantu_protocol.on("server"), TypeError)  # type: ignore[arg-type]
rejected(set_address, AttributeError)
rejected(set_cycle_text, TypeError)
rejected(lambda: server.wait("1"), TypeError)  # type: ignore[arg-type]
print("typing contract: run-time half passed")
