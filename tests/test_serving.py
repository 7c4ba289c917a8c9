"""The serve loop end to end, with a real client in another process."""

import gc
import os
import signal
import threading
import time

import msgpack
import pytest

from vantu_protocol import ComSocketServer, ConfirmResult, ErrorResult, ServerStatus, WidgetRegistry
from kinds import KINDS
from support import finish, frame, scenario

TOGGLE_3_ON = frame("ToggleButton", 3, [True])
CLICK_1 = frame("ClickButton", 1, [])
FIVE_LINES = ["Received size : {n}", "Found frame ! {id}", "running action", "after function", "done"]


def send(data: bytes) -> str:
    return "send:" + data.hex()


def lines_for(data: bytes, id: int) -> list[str]:
    return [line.format(n=len(data), id=id) for line in FIVE_LINES]


def test_one_frame_runs_its_action_with_the_event(served):
    calls = []
    s = served(send(TOGGLE_3_ON), "eof",
               actions={"ToggleButton_3": lambda *a, **k: calls.append((a, k))})
    lines = s.output.wait_line("done")
    assert lines == lines_for(TOGGLE_3_ON, 3)
    [(args, kwargs)] = calls
    assert kwargs == {} and len(args) == 1
    event = args[0]
    assert type(event) is WidgetRegistry.ToggleButton and event.value is True
    s.stop()


def test_frame_without_action(served):
    s = served(send(TOGGLE_3_ON), "eof")
    assert s.output.wait_line("done") == [f"Received size : {len(TOGGLE_3_ON)}",
                                          "No key ToggleButton_3 found", "done"]
    s.stop()


def test_return_value_is_dropped(served):
    s = served(send(CLICK_1), "eof", actions={"ClickButton_1": lambda e: 42})
    assert s.output.wait_line("done") == lines_for(CLICK_1, 1)
    s.stop()


def test_every_widget_kind_reaches_its_action(served):
    # Every other kind sends its fields by name.
    frames = [kind.frame(kind.tag + 1, by_name=kind.tag % 2 == 1) for kind in KINDS]
    events = []
    actions = {f"{kind.name}_{kind.tag + 1}": events.append for kind in KINDS}
    s = served(*(send(f) for f in frames), "eof", actions=actions)
    s.output.wait_line("done", count=len(KINDS))
    assert [type(event) for event in events] == [getattr(WidgetRegistry, kind.name) for kind in KINDS]
    for kind, event in zip(KINDS, events):
        got = kind.read(event)
        assert got == kind.expected() and list(map(type, got)) == list(map(type, kind.expected()))
    joystick = events[[kind.name for kind in KINDS].index("Joystick")]
    assert (joystick.delta.x, joystick.delta.y) == (0.5, -1.0)
    assert joystick.intensity == 0.10000000149011612
    assert joystick.delta is not joystick.delta
    copy = WidgetRegistry.Joystick(joystick.delta, 0.5)
    assert (copy.delta.x, copy.delta.y, copy.intensity) == (0.5, -1.0, 0.5)
    match joystick:
        case WidgetRegistry.Joystick(delta, intensity):
            assert delta.y == -1.0 and intensity == joystick.intensity
        case _:
            pytest.fail("no match")
    with pytest.raises(AttributeError):
        joystick.intensity = 1.0
    s.stop()


def test_several_frames_in_one_send_are_all_dispatched_in_order(served):
    frames = [frame("DirectionalButton", 9, [d]) for d in range(20)]
    seen = []
    s = served(send(b"".join(frames)), "eof",
               actions={"DirectionalButton_9": lambda e: seen.append(e.direction)})
    s.output.wait_line("done", count=20)
    assert seen == list(range(20))
    s.stop()


def test_frames_cut_at_every_position_are_completed_by_later_reads(served):
    whole = frame("Joystick", 7, [[0.5, -1.0], 0.75])
    steps = []
    for cut in range(1, len(whole)):
        steps += [send(whole[:cut]), "sleep:0.01", send(whole[cut:])]
    seen = []
    s = served(*steps, "eof", actions={"Joystick_7": lambda e: seen.append(e.intensity)})
    s.output.wait_line("done", count=len(whole) - 1, timeout=30)
    assert seen == [0.75] * (len(whole) - 1)
    s.stop()


def test_a_frame_split_across_cycles(served):
    seen = []
    s = served(send(TOGGLE_3_ON[:5]), "sleep:1.2", send(TOGGLE_3_ON[5:]), "eof",
               actions={"ToggleButton_3": seen.append})
    lines = s.output.wait_line("done")
    assert lines[0] == "Received size : 5"
    assert lines[1] == f"Received size : {len(TOGGLE_3_ON) - 5}"
    assert len(seen) == 1
    s.stop()


def test_frames_longer_than_one_read(served):
    big = msgpack.packb({"id": 3, "note": "x" * 5000, "data": {"ToggleButton": [True]}})
    seen = []
    s = served(send(big), "eof", actions={"ToggleButton_3": seen.append})
    s.output.wait_line("done")
    assert len(seen) == 1
    s.stop()


def test_endless_partial_frame_is_refused(served):
    # A by-name frame whose "note" field announces 1 MiB of text.
    s = served(send(bytes.fromhex("82a26964") + b"\x03" + bytes.fromhex("a4") + b"note"
                    + b"\xdb\x00\x10\x00\x00"), "fill:70000:79", "eof")
    err = s.output.wait_err("Frame too large")
    assert "65536" in err
    with pytest.raises(RuntimeError, match="^sending on a closed channel$"):
        s.server.close()


def test_client_closing_mid_frame_is_a_decode_failure(served):
    s = served(send(TOGGLE_3_ON[:-1]), "close")
    s.output.wait_err("IO error while reading marker: failed to fill whole buffer")
    finish(s.peer)


# The text goes out whole: a NUL in it must not cut it short.
@pytest.mark.parametrize("data, message", [
    (bytes.fromhex("9103"), "invalid length 1, expected struct Frame with 2 elements\n"),
    (msgpack.packb([3, {"Tog\x00gle": []}]),
     "unknown variant `Tog\x00gle`, expected one of " + ", ".join(f"`{k.name}`" for k in KINDS) + "\n"),
], ids=["short array", "NUL in the variant name"])
def test_undecodable_frame_ends_the_loop(served, data, message):
    s = served(send(data), "eof")
    s.output.wait_err(message)
    with pytest.raises(RuntimeError, match="^sending on a closed channel$"):
        s.server.close()


def test_client_closing_gives_zero_reads_until_close(served):
    s = served("close")
    s.output.wait_line("Received size : 0", count=2)
    assert s.stop() == ["connected"]


def test_close_stops_a_loop_whose_client_sends_nothing(served):
    # The client only waits for the end of the stream: the loop must not
    # need one more frame to notice the stop.
    s = served("eof")
    time.sleep(0.8)
    s.server.close()
    s.output.wait_line("Terminating.")
    assert finish(s.peer) == ["connected", "eof "]
    with pytest.raises(RuntimeError, match="^sending on a closed channel$"):
        s.server.close()


@pytest.mark.parametrize("error, message", [
    (ValueError("boom"), "Action failed ValueError: boom\n"),
    (ValueError(), "Action failed ValueError: \n"),
    (ValueError("a\x00b"), "Action failed ValueError: a\x00b\n"),  # whole, past the NUL
], ids=["text", "no text", "NUL in the text"])
def test_action_exceptions_end_the_loop(served, error, message):
    def fail(event):
        raise error

    s = served(send(CLICK_1), "eof", actions={"ClickButton_1": fail})
    assert s.output.wait_err(message)


def test_qualified_type_name_and_unprintable_exceptions(served):
    class Outer:
        class Problem(Exception):
            def __str__(self):
                raise RuntimeError("no text")

    def fail(event):
        raise Outer.Problem()

    s = served(send(CLICK_1), "eof", actions={"ClickButton_1": fail})
    s.output.wait_err("Action failed test_qualified_type_name_and_unprintable_exceptions."
                      "<locals>.Outer.Problem: <exception str() failed>")


def test_non_callable_action_fails_when_run(served):
    s = served(send(CLICK_1), "eof", actions={"ClickButton_1": 42})
    s.output.wait_err("Action failed TypeError: 'int' object is not callable")


def test_registration_after_serve_needs_a_new_serve():
    result = scenario("""
        s = Served("sleep:1.5", "send:" + frame("ClickButton", 1, []).hex(), "sleep:30", capture=False)
        server = s.server
        server.on(1, "ClickButton", lambda e: print("action ran", flush=True))
        assert server._get_action("ClickButton_1") is not None
        time.sleep(2.5)
        server.serve()
        s.client("send:" + frame("ClickButton", 1, []).hex(), "sleep:30")
        server.open()
        server.serve()
        time.sleep(1.5)
        for peer in s.peers:
            peer.kill()
        os._exit(0)
    """)
    lines = result.stdout.splitlines()
    assert "No key ClickButton_1 found" in lines
    assert lines.count("action ran") == 1
    assert lines.index("No key ClickButton_1 found") < lines.index("action ran")


def test_releasing_the_server_leaves_the_loop_serving():
    result = scenario("""
        s = Served("sleep:1.6", "send:" + frame("ClickButton", 1, []).hex(), "sleep:30", capture=False,
                   actions={"ClickButton_1": lambda e: print("action ran", flush=True)})
        s.server = None
        gc.collect()
        time.sleep(3)
        s.peer.kill()
        os._exit(0)
    """)
    lines = result.stdout.splitlines()
    # One line for each cycle: before the wait that ends with the frame, and
    # before the next wait.
    assert lines.count("Link broken") == 2
    assert lines.index("Link broken") < lines.index("action ran") < lines.index("done")


def test_queued_stop_wins_over_disconnection(served):
    s = served("eof")
    s.server.close()
    s.server = None
    gc.collect()
    s.output.wait_line("Terminating.")
    assert "Link broken" not in s.output.lines()
    assert finish(s.peer) == ["connected", "eof "]


@pytest.mark.parametrize("id, status, data, expected", [
    (1, ServerStatus.Idle, ConfirmResult(True), "9301a449646c6581ad436f6e6669726d526573756c7491c3"),
    (200, ServerStatus.Error, ErrorResult("boom"), "93ccc8a54572726f7281ab4572726f72526573756c7491a4626f6f6d"),
    (2, ServerStatus.Error, ErrorResult("bad"), "9302a54572726f7281ab4572726f72526573756c7491a3626164"),
])
def test_callback_writes_one_result_frame(served, id, status, data, expected):
    # The encoder's bytes have unit tests in C++; this is what a client
    # reads from callback(), with positional and keyword arguments alike.
    size = len(expected) // 2
    s = served(f"recv:{2 * size}", serve=False)
    s.server.callback(id, status, data)
    s.server.callback(id=id, status=status, data=data)
    assert finish(s.peer)[-1] == "recv " + expected * 2
    s.server.close()


def test_callback_from_an_action(served):
    def answer(event):
        s.server.callback(3, ServerStatus.Busy, ConfirmResult(event.value))

    reply = msgpack.packb([3, "Busy", {"ConfirmResult": [True]}])
    s = served(send(TOGGLE_3_ON), f"recv:{len(reply)}", "eof",
               actions={"ToggleButton_3": answer})
    s.output.wait_line("done")
    assert f"recv {reply.hex()}" in s.stop()


def test_callback_after_close_inside_an_action(served):
    # The action is held until close() has taken the connection away: its
    # callback then finds none, and the loop still stops once it returns.
    closed, outcome = threading.Event(), []

    def answer(event):
        closed.wait(60)
        try:
            s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
            outcome.append("sent")
        except RuntimeError as e:
            outcome.append(str(e))

    s = served(send(CLICK_1), "eof", actions={"ClickButton_1": answer})
    s.output.wait_line("running action")
    s.server.close()
    closed.set()
    assert s.output.wait_line("Terminating.") == lines_for(CLICK_1, 1) + ["Terminating."]
    assert outcome == ["Bad Server state"]
    assert s.output.err == ""
    assert finish(s.peer) == ["connected", "eof "]


@pytest.mark.parametrize("data", [1, "text", None, ServerStatus.Idle])
def test_callback_with_a_bad_payload_is_fatal_before_the_connection_is_looked_at(data):
    server = ComSocketServer("127.0.0.1:1")
    with pytest.raises(BaseException) as info:
        server.callback(1, ServerStatus.Idle, data)
    assert type(info.value).__name__ == "PanicException"
    message = info.value.args[0]
    assert message.startswith("Python data failed to be bound: ")
    for name in ("ResultBinding", "Confirm", "Error", "ConfirmResult", "ErrorResult"):
        assert name in message


@pytest.mark.parametrize("args, error, name", [
    ((1, 1, ConfirmResult(True)), TypeError, "status"),
    (("1", ServerStatus.Idle, ConfirmResult(True)), TypeError, "id"),
    ((256, ServerStatus.Idle, ConfirmResult(True)), OverflowError, "id"),
])
def test_callback_argument_errors(args, error, name):
    with pytest.raises(error, match=name):
        ComSocketServer("127.0.0.1:1").callback(*args)


def test_callback_to_a_closed_peer_raises_without_sigpipe(served):
    s = served("close", serve=False)
    time.sleep(0.3)
    errors = []
    for _ in range(20):
        try:
            s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
        except RuntimeError as e:
            errors.append(str(e))
        time.sleep(0.02)
    assert errors, "writing to a closed peer must fail"
    assert all(e.endswith("(os error 32)") or e.endswith("(os error 104)") for e in errors), errors
    finish(s.peer)
    assert s.server.close() is None, "a connection the peer reset is closed quietly"


def test_signals_during_the_wait_are_retried(served):
    received = []
    previous = signal.signal(signal.SIGUSR1, lambda *a: received.append(1))
    # Blocked here, process-directed signals go to the serve thread, whose
    # poll and read then see EINTR.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
    try:
        seen = []
        s = served("sleep:1.5", send(CLICK_1), "eof", actions={"ClickButton_1": seen.append})
        for _ in range(30):
            os.kill(os.getpid(), signal.SIGUSR1)
            time.sleep(0.03)
        s.output.wait_line("done")
        assert len(seen) == 1
        assert "Failed to read frame" not in s.output.err
        s.stop()
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGUSR1})
        signal.signal(signal.SIGUSR1, previous)
