#!/usr/bin/env python3
"""A complete round trip on this machine: a server with an action for each
widget kind, and the example client in a second process playing the phone.

    python examples/demo.py [HOST:PORT]

Without an address the demo serves on 127.0.0.1 and a free port.
"""

from __future__ import annotations

import socket
import subprocess
import sys
from pathlib import Path

import vantu_protocol
from vantu_protocol import ComSocketServer, ConfirmResult, ErrorResult, ServerStatus, WidgetRegistry

EVENTS = """\
click 1
toggle 3 on
confirm 2
press 4 on
direction 5 200
joystick 6 0.5 -1 0.75
"""


def free_address() -> str:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return f"127.0.0.1:{s.getsockname()[1]}"


def say(text: str) -> None:
    print(f"server: {text}", flush=True)


def build_server(address: str) -> ComSocketServer:
    server = ComSocketServer(address)
    on = vantu_protocol.on(server)

    @on
    def ClickButton_1(event: WidgetRegistry.ClickButton) -> None:
        say("button 1 clicked")
        server.callback(1, ServerStatus.Idle, ConfirmResult(True))

    @on
    def ToggleButton_3(event: WidgetRegistry.ToggleButton) -> None:
        say(f"toggle 3 switched {'on' if event.value else 'off'}")
        server.callback(3, ServerStatus.Idle, ConfirmResult(event.value))

    def confirm(event: WidgetRegistry.ConfirmButton) -> None:
        say("confirmation 2 received")
        server.callback(2, ServerStatus.Busy, ConfirmResult(True))

    server.on(2, "ConfirmButton", confirm)

    @on
    def PressButton_4(event: WidgetRegistry.PressButton) -> None:
        say(f"button 4 {'pressed' if event.pressed else 'released'}")
        server.callback(4, ServerStatus.Idle, ConfirmResult(event.pressed))

    @on
    def DirectionalButton_5(event: WidgetRegistry.DirectionalButton) -> None:
        say(f"direction code {event.direction}")
        server.callback(5, ServerStatus.Error, ErrorResult(f"no direction {event.direction} here"))

    @on
    def Joystick_6(event: WidgetRegistry.Joystick) -> None:
        match event:
            case WidgetRegistry.Joystick(delta, intensity):
                say(f"joystick moved by ({delta.x}, {delta.y}) at intensity {intensity}")
        server.callback(6, ServerStatus.Idle, ConfirmResult(True))

    return server


def main() -> int:
    address = sys.argv[1] if len(sys.argv) > 1 else free_address()
    server = build_server(address)
    client = subprocess.Popen(
        [sys.executable, str(Path(__file__).with_name("client.py")), address, "--file", "-"],
        stdin=subprocess.PIPE, text=True,
    )
    assert client.stdin is not None
    client.stdin.write(EVENTS)
    client.stdin.close()
    say(f"waiting for a client on {address}")
    server.open()
    say("client connected; serving")
    server.serve()
    status = client.wait(timeout=60)
    server.close()
    say("closed")
    return status


if __name__ == "__main__":
    sys.exit(main())
