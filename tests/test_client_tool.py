"""examples/client.py: its encoder against the msgpack package, its reply
decoder, and a run against a real server."""

import importlib.util
import subprocess
import sys

import msgpack
import pytest

from support import HERE, Output, free_port
from vantu_protocol import ComSocketServer, ConfirmResult, ErrorResult, ServerStatus, WidgetRegistry

CLIENT_PATH = HERE.parent / "examples" / "client.py"
_spec = importlib.util.spec_from_file_location("client", CLIENT_PATH)
client = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(client)

# command line, the frame positionally, the same frame by field name
EVENTS = [
    ("click 1", [1, {"ClickButton": []}], {"id": 1, "data": {"ClickButton": {}}}),
    ("confirm 200", [200, {"ConfirmButton": []}], {"id": 200, "data": {"ConfirmButton": {}}}),
    ("toggle 3 on", [3, {"ToggleButton": [True]}], {"id": 3, "data": {"ToggleButton": {"value": True}}}),
    ("press 4 off", [4, {"PressButton": [False]}], {"id": 4, "data": {"PressButton": {"pressed": False}}}),
    ("direction 5 255", [5, {"DirectionalButton": [255]}],
     {"id": 5, "data": {"DirectionalButton": {"direction": 255}}}),
    ("joystick 0 0.5 -1 0.1", [0, {"Joystick": [[0.5, -1.0], 0.1]}],
     {"id": 0, "data": {"Joystick": {"delta": {"x": 0.5, "y": -1.0}, "intensity": 0.1}}}),
]


@pytest.mark.parametrize("line, positional, by_name", EVENTS)
def test_encoding_is_what_msgpack_writes(line, positional, by_name):
    words = line.split()
    assert client.encode_event(words) == msgpack.packb(positional, use_single_float=True)
    assert client.encode_event(words, by_name=True) == msgpack.packb(by_name, use_single_float=True)


def test_raw_bytes_are_sent_unchanged():
    assert client.encode_event(["raw", "92", "01c0"]) == b"\x92\x01\xc0"


@pytest.mark.parametrize("line", [
    "toggle 3 maybe", "toggle 3", "click 1 on", "click", "click 256", "click -1",
    "direction 5 256", "joystick 6 1 2", "joystick 6 a 2 3", "fly 1", "raw zz",
])
def test_bad_events_are_refused(line):
    with pytest.raises(ValueError):
        client.encode_event(line.split())


@pytest.mark.parametrize("id, status, payload, text", [
    (1, "Idle", {"ConfirmResult": [True]}, "reply to 1: Idle, ConfirmResult(True)"),
    (200, "NotInit", {"ConfirmResult": [False]}, "reply to 200: NotInit, ConfirmResult(False)"),
    (2, "Error", {"ErrorResult": ["bad"]}, "reply to 2: Error, ErrorResult('bad')"),
    (3, "Busy", {"ErrorResult": [""]}, "reply to 3: Busy, ErrorResult('')"),
    (4, "Idle", {"ErrorResult": ["é" * 16]}, f"reply to 4: Idle, ErrorResult('{'é' * 16}')"),
    (5, "Idle", {"ErrorResult": ["x" * 300]}, f"reply to 5: Idle, ErrorResult('{'x' * 300}')"),
    (6, "Idle", {"ErrorResult": ["y" * 70000]}, f"reply to 6: Idle, ErrorResult('{'y' * 70000}')"),
    (7, "Idle", {"Other": [True]}, "unexpected reply [7, 'Idle', {'Other': [True]}]"),
    (8, "Idle", {"ConfirmResult": [True], "ErrorResult": ["x"]}, "unexpected reply"),
])
def test_replies_are_decoded_from_any_split_of_the_stream(id, status, payload, text):
    data = msgpack.packb([id, status, payload]) * 2
    for cut in sorted({0, 1, 3, len(data) // 2, len(data) - 1}):
        replies = client.Replies()
        described = replies.feed(data[:cut]) + replies.feed(data[cut:])
        assert [line[:len(text)] for line in described] == [text, text]
        assert replies.pending == b""


def test_unknown_reply_marker_is_reported():
    with pytest.raises(ValueError, match="0xc0"):
        client.Replies().feed(b"\x93\x01\xc0")


def serve_one_client(port, *args, stdin):
    """Runs the client against a real server; returns (events seen, client output)."""
    server = ComSocketServer(f"127.0.0.1:{port}")
    seen = []

    def action(event):
        seen.append(event)
        if isinstance(event, WidgetRegistry.DirectionalButton):
            server.callback(len(seen), ServerStatus.Busy, ErrorResult("no way"))
        else:
            server.callback(len(seen), ServerStatus.Idle, ConfirmResult(True))

    for id, widget in enumerate(["ClickButton", "ConfirmButton", "ToggleButton",
                                 "PressButton", "DirectionalButton", "Joystick"]):
        server.on(id, widget, action)
    peer = subprocess.Popen([sys.executable, str(CLIENT_PATH), f"127.0.0.1:{port}", *args],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    peer.stdin.write(stdin)
    peer.stdin.close()
    output = Output()
    try:
        server.open()
        server.serve()
        out = peer.stdout.read()
        assert peer.wait(timeout=60) == 0, out
        server.close()
        # The loop's last line, which must not land in a later test's output.
        output.wait_line("Terminating.")
    finally:
        output.restore()
    return seen, out


@pytest.mark.parametrize("form", [[], ["--by-name"]])
def test_every_widget_kind_reaches_a_real_server(form):
    events = "click 0\nconfirm 1 # a comment\n\ntoggle 2 on\npress 3 off\ndirection 4 9\njoystick 5 0.5 -2 0.25\n"
    seen, out = serve_one_client(free_port(), "--file", "-", "--wait", "1", *form, stdin=events)
    click, confirm, toggle, press, direction, joystick = seen
    assert type(click) is WidgetRegistry.ClickButton and type(confirm) is WidgetRegistry.ConfirmButton
    assert toggle.value is True and press.pressed is False and direction.direction == 9
    assert (joystick.delta.x, joystick.delta.y, joystick.intensity) == (0.5, -2.0, 0.25)
    replies = [line for line in out.splitlines() if line.startswith("client: reply")]
    assert replies == [f"client: reply to {n}: Idle, ConfirmResult(True)" for n in range(1, 5)] + [
        "client: reply to 5: Busy, ErrorResult('no way')", "client: reply to 6: Idle, ConfirmResult(True)"]
