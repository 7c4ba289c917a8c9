"""examples/client.py: its encoder against the msgpack package, its reply
decoder, its stream summary, and runs against a real server."""

import importlib.util
import math
import re

import msgpack
import pytest

from support import CLIENT_TOOL
from vantu_protocol import ConfirmResult, ErrorResult, ServerStatus, WidgetRegistry

_spec = importlib.util.spec_from_file_location("client", CLIENT_TOOL)
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


def serve_one_client(served, *args, stdin="", answer=True, **settings):
    """Runs the client against a real server with these loop `settings`;
    returns (events seen, client output lines)."""
    seen = []

    def action(event):
        seen.append(event)
        if not answer:
            return
        if isinstance(event, WidgetRegistry.DirectionalButton):
            s.server.callback(len(seen), ServerStatus.Busy, ErrorResult("no way"))
        else:
            s.server.callback(len(seen), ServerStatus.Idle, ConfirmResult(True))

    widgets = ["ClickButton", "ConfirmButton", "ToggleButton", "PressButton", "DirectionalButton", "Joystick"]
    # Served once `s` is bound: with cycle=0 the first action may run at once.
    s = served(*args, tool=True, stdin=stdin, serve=False,
               actions={f"{widget}_{id}": action for id, widget in enumerate(widgets)}, **settings)
    s.serve()
    assert s.server.wait(timeout=60) is True  # the client left, every frame it sent handled
    return seen, s.stop()


@pytest.mark.once
@pytest.mark.parametrize("form", [[], ["--by-name"]])
def test_every_widget_kind_reaches_a_real_server(served, form):
    events = "click 0\nconfirm 1 # a comment\n\ntoggle 2 on\npress 3 off\ndirection 4 9\njoystick 5 0.5 -2 0.25\n"
    seen, lines = serve_one_client(served, "--file", "-", "--wait", "1", *form, stdin=events)
    click, confirm, toggle, press, direction, joystick = seen
    assert type(click) is WidgetRegistry.ClickButton and type(confirm) is WidgetRegistry.ConfirmButton
    assert toggle.value is True and press.pressed is False and direction.direction == 9
    assert (joystick.delta.x, joystick.delta.y, joystick.intensity) == (0.5, -2.0, 0.25)
    replies = [line for line in lines if line.startswith("client: reply")]
    assert replies == [f"client: reply to {n}: Idle, ConfirmResult(True)" for n in range(1, 5)] + [
        "client: reply to 5: Busy, ErrorResult('no way')", "client: reply to 6: Idle, ConfirmResult(True)"]


# A stream's widget, how its replies are tallied, and the step of the sweep each event shows.
STREAMS = [
    ("direction 4", "Busy", lambda event: event.direction),
    ("joystick 5", "Idle", lambda event: round(math.atan2(event.delta.y, event.delta.x) * 32 / math.pi) % 64),
]


@pytest.mark.parametrize("answer", [True, False])
@pytest.mark.parametrize("stream, status, step", STREAMS)
def test_stream_reports_the_round_trips_of_a_real_server(served, stream, status, step, answer):
    seen, lines = serve_one_client(served, "stream", *stream.split(), "--rate", "100", "--seconds", "0.4",
                                   "--wait", "0.5", answer=answer, cycle=0, progress=False)
    assert [step(event) for event in seen] == list(range(40))
    sent, *summary = lines[2:]
    assert sent.startswith("client: sent 40 frames in ")
    if answer:
        answered, figures = summary
        assert answered == f"client: 40 of 40 frames answered ({status} 40)"
        assert re.fullmatch(r"client: round trip in ms: p50 [\d.]+, p90 [\d.]+, p99 [\d.]+,"
                            r" max [\d.]+", figures)
    else:
        assert summary == ["client: no replies to the 40 frames (the server may not answer them with"
                           " callback)"]


@pytest.mark.parametrize("round_trips, sent, statuses, expected", [
    ([n / 1000 for n in range(100, 0, -1)], 120, {"Idle": 90, "Error": 10},
     ["100 of 120 frames answered (Idle 90, Error 10)",
      "round trip in ms: p50 50.00, p90 90.00, p99 99.00, max 100.00"]),
    ([0.004, 0.001], 2, {"Idle": 3}, ["2 of 2 frames answered (Idle 3)",
     "1 replies more than frames sent: the round trips are not to be trusted",
     "round trip in ms: p50 1.00, p90 4.00, p99 4.00, max 4.00"]),
])
def test_stream_summary_uses_nearest_rank_percentiles(round_trips, sent, statuses, expected):
    assert client.summary(round_trips, sent, client.Counter(statuses)) == expected


@pytest.mark.parametrize("elapsed, due", [(-0.01, 0), (0, 1), (0.099, 1), (0.1, 2), (0.95, 10), (50, 10)])
def test_stream_frames_fall_due_on_a_timetable_from_the_start(elapsed, due):
    assert client.frames_due(elapsed, 10, 10) == due


@pytest.mark.parametrize("words", ["stream click 1", "stream joystick", "stream direction 256",
                                   "stream direction 5 --rate 0", "stream joystick 1 --seconds nan"])
def test_bad_streams_are_refused_before_connecting(words):
    with pytest.raises(SystemExit) as exit:
        client.main(["127.0.0.1:1", *words.split()])
    assert exit.value.code == 2
