"""Repeating an operation many times leaks nothing: after a warm-up, neither
resident memory nor the reference counts of the objects involved grow."""

import contextlib
import gc
import os
import sys

import pytest

from vantu_protocol import (ComSocketServer, ConfirmResult, ErrorResult, Protocol, ServerStatus,
                            VantuPiServer, WidgetRegistry, on)
from kinds import KINDS
from support import Served, finish, frame, free_port, scenario, wait_for

# AddressSanitizer holds freed memory in quarantine, so resident memory grows
# there by design, and every call is much slower: under it only the
# reference counts are checked, over fewer rounds.
SANITIZED = "libasan" in os.environ.get("LD_PRELOAD", "")
ROUNDS = 5_000 if SANITIZED else 100_000
# Ten bytes a round: a leaked object, or a leaked buffer of any size, exceeds it.
GROWTH_LIMIT = ROUNDS * 10

TOGGLE = WidgetRegistry.ToggleButton(True)
PRESS = WidgetRegistry.PressButton(False)
DIRECTION = WidgetRegistry.DirectionalButton(200)
TEXT = "a text longer than any small-string buffer: " + "x" * 300
CONFIRM = ConfirmResult(True)
ERROR = ErrorResult(TEXT)


class Indexable:
    def __index__(self):
        return 1


def resident_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def assert_no_growth(op, watched):
    for _ in range(ROUNDS // 10):
        op()
    gc.collect()
    counts = [sys.getrefcount(obj) for obj in watched]
    before = resident_bytes()
    for _ in range(ROUNDS):
        op()
    gc.collect()
    grown = resident_bytes() - before
    assert [sys.getrefcount(obj) for obj in watched] == counts
    if not SANITIZED:
        assert grown < GROWTH_LIMIT, f"resident memory grew by {grown} bytes"


def failing(error, fn, *args, **kwargs):
    """An operation that must raise `error` (by class name for the module's
    own PanicException, which is not importable)."""
    def op():
        try:
            fn(*args, **kwargs)
        except BaseException as e:
            if isinstance(error, str) and type(e).__name__ == error or \
                    isinstance(error, type) and isinstance(e, error):
                return
            raise
        raise AssertionError(f"{fn} did not raise {error}")
    return op


@contextlib.contextmanager
def stderr_discarded():
    """PanicException writes its message to file descriptor 2 as well."""
    saved = os.dup(2)
    with open(os.devnull, "w") as null:
        os.dup2(null.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


@pytest.fixture(scope="module")
def joystick():
    """A received joystick event: the only way to get a Coord. (Shared by
    the module's tests, so its lines are not captured: see Served.)"""
    events = []
    s = Served("send:" + frame("Joystick", 7, [[0.5, -1.0], 0.75]).hex(), "eof",
               actions={"Joystick_7": events.append}, capture=False)
    try:
        wait_for(lambda: events, what="the joystick event")
        s.stop()
    finally:
        s.end()
    return events[0]


CONSTRUCTIONS = {
    "ComSocketServer": (lambda: ComSocketServer(TEXT), [ComSocketServer, TEXT]),
    "use_socket": (lambda: VantuPiServer.use_socket(address=TEXT), [ComSocketServer, TEXT]),
    "ConfirmResult": (lambda: ConfirmResult(status=False), [ConfirmResult]),
    "ErrorResult": (lambda: ErrorResult(TEXT), [ErrorResult, TEXT]),
}


@pytest.mark.parametrize("name", CONSTRUCTIONS)
def test_constructions(name):
    op, watched = CONSTRUCTIONS[name]
    assert_no_growth(op, watched)


@pytest.mark.parametrize("kind", KINDS, ids=lambda kind: kind.name)
def test_widget_event_constructions(kind, request):
    """Every kind, its fields by position or (every other kind) by name; a
    byte field from an object with __index__."""
    samples = {"bool": True, "std::uint8_t": Indexable(), "float": 0.25}
    if any(field_type == "Coord" for _, field_type in kind.fields):
        samples["Coord"] = request.getfixturevalue("joystick").delta
    values = [samples[field_type] for _, field_type in kind.fields]
    cls = getattr(WidgetRegistry, kind.name)
    # True's count moves with whatever else runs in the process.
    watched = [cls, Indexable, *(value for value in values if value is not True)]
    if kind.tag % 2:
        fields = dict(zip(kind.field_names, values))
        assert_no_growth(lambda: cls(**fields), watched)
    else:
        assert_no_growth(lambda: cls(*values), watched)


def test_joystick_construction_and_reads(joystick):
    delta = joystick.delta
    coord_type = type(delta)
    assert_no_growth(lambda: WidgetRegistry.Joystick(delta, intensity=0.25),
                     [WidgetRegistry.Joystick, delta, coord_type])
    assert_no_growth(lambda: (joystick.delta.x, joystick.delta.y, joystick.intensity),
                     [joystick, coord_type])


COMPARISONS = {
    "same class": lambda: ServerStatus.Idle == ServerStatus.Busy,
    "int": lambda: ServerStatus.Idle != 1,
    "reflected": lambda: 3 == ServerStatus.Error,
    "index object": lambda: Protocol.Http == Indexable(),
    "other enumeration": lambda: ServerStatus.Idle == Protocol.Bluetooth,
    "huge int": lambda: ServerStatus.Idle == 1 << 80,
    "float": lambda: ServerStatus.Idle == 1.0,
    "int()": lambda: int(ServerStatus.NotInit) + int(Protocol.Usb),
    "repr": lambda: repr(Protocol.WebSocket) + str(ServerStatus.Busy),
    "ordering": failing(TypeError, lambda: ServerStatus.Busy < ServerStatus.Error),
    "hash": failing(TypeError, hash, ServerStatus.Idle),
}


@pytest.mark.parametrize("name", COMPARISONS)
def test_enumeration_operations(name):
    members = [ServerStatus.Idle, ServerStatus.Busy, ServerStatus.Error, ServerStatus.NotInit,
               Protocol.Http, Protocol.Bluetooth, Protocol.Usb, Protocol.WebSocket, Indexable]
    assert_no_growth(COMPARISONS[name], members)


def test_widget_event_reads():
    assert_no_growth(lambda: (TOGGLE.value, PRESS.pressed, DIRECTION.direction),
                     [TOGGLE, PRESS, DIRECTION])
    # A descriptor read on an instance of another variant is refused.
    assert_no_growth(failing(TypeError, WidgetRegistry.ToggleButton.value.__get__, PRESS),
                     [PRESS, WidgetRegistry.ToggleButton])


def test_registrations_replace_without_keeping_the_old_action():
    server = ComSocketServer("127.0.0.1:1")
    first, second = (lambda e: None), (lambda e: None)

    def register():
        server.on(1, "ClickButton", first)
        server.on(id=1, widget="ClickButton", action=second)
        server._get_action("ClickButton_1")
        server._get_action("ClickButton_2")

    assert_no_growth(register, [server, first, second])


def test_decorator_registrations():
    server = ComSocketServer("127.0.0.1:1")

    def ToggleButton_3(event):
        return event

    def decorate_and_call():
        on(server)(ToggleButton_3)(TOGGLE)

    assert_no_growth(decorate_and_call, [server, ToggleButton_3, TOGGLE])


SERVER = ComSocketServer("127.0.0.1:1")

ARGUMENT_ERRORS = {
    "server address": failing(TypeError, ComSocketServer, 1),
    "use_socket address": failing(TypeError, VantuPiServer.use_socket, b"x"),
    "unknown keyword": failing(TypeError, ComSocketServer, adress=TEXT),
    "ConfirmResult int": failing(TypeError, ConfirmResult, 1),
    "ErrorResult bytes": failing(TypeError, ErrorResult, TEXT.encode()),
    "ToggleButton int": failing(TypeError, WidgetRegistry.ToggleButton, 1),
    "DirectionalButton 256": failing(OverflowError, WidgetRegistry.DirectionalButton, 256),
    "DirectionalButton -1": failing(OverflowError, WidgetRegistry.DirectionalButton, -1),
    "DirectionalButton float": failing(TypeError, WidgetRegistry.DirectionalButton, 3.0),
    "ClickButton surplus": failing(TypeError, WidgetRegistry.ClickButton, TEXT),
    "Joystick delta": failing(TypeError, WidgetRegistry.Joystick, TEXT, 0.5),
    "on id": failing(TypeError, SERVER.on, "1", "ClickButton", len),
    "on id range": failing(OverflowError, SERVER.on, 1 << 70, "ClickButton", len),
    "on widget": failing(TypeError, SERVER.on, 1, None, len),
    "on missing": failing(TypeError, SERVER.on, 1, "ClickButton"),
    "_get_action key": failing(TypeError, SERVER._get_action, 1),
    "callback id": failing(TypeError, SERVER.callback, "1", ServerStatus.Idle, CONFIRM),
    "callback id range": failing(OverflowError, SERVER.callback, 256, ServerStatus.Idle, CONFIRM),
    "callback status": failing(TypeError, SERVER.callback, 1, 1, CONFIRM),
    "module on": failing(TypeError, on, TEXT),
    "decorator without function": failing(IndexError, on(SERVER)),
    "cycle type": failing(TypeError, setattr, SERVER, "cycle", TEXT),
    "idle_timeout zero": failing(ValueError, setattr, SERVER, "idle_timeout", 0),
    "progress int": failing(TypeError, setattr, SERVER, "progress", 1),
    "wait timeout": failing(TypeError, SERVER.wait, TEXT),
    "accept timeout": failing(ValueError, SERVER.accept, -1.0),
}

STATE_ERRORS = {
    "VantuPiServer()": failing(TypeError, VantuPiServer),
    "WidgetRegistry()": failing(TypeError, WidgetRegistry),
    "ServerStatus()": failing(TypeError, ServerStatus),
    "Protocol()": failing(TypeError, Protocol),
    "serve unconnected": failing(RuntimeError, SERVER.serve),
    "callback unconnected": failing(RuntimeError, SERVER.callback, 1, ServerStatus.Idle, ERROR),
    "wait unserved": failing(RuntimeError, SERVER.wait),
}


@pytest.mark.parametrize("name", ARGUMENT_ERRORS)
def test_argument_errors(name):
    assert_no_growth(ARGUMENT_ERRORS[name], [SERVER, TEXT, CONFIRM, ServerStatus.Idle, len])


@pytest.mark.parametrize("name", STATE_ERRORS)
def test_state_errors(name):
    assert_no_growth(STATE_ERRORS[name], [SERVER, ERROR, ServerStatus.Idle])


def test_coord_has_no_constructor(joystick):
    coord_type = type(joystick.delta)
    assert_no_growth(failing(TypeError, coord_type), [coord_type])


def Click_Button(event):
    """Its name does not end in a widget identifier."""


@pytest.mark.parametrize("what", ["bad payload", "bad name", "name not a str"])
def test_panics(what):
    class Named:
        __name__ = 42

    named = Named()
    op, watched = {
        "bad payload": (failing("PanicException", SERVER.callback, 1, ServerStatus.Idle, TEXT),
                        [SERVER, TEXT]),
        "bad name": (failing("PanicException", on(SERVER), Click_Button), [SERVER, Click_Button]),
        "name not a str": (failing("PanicException", on(SERVER), named), [SERVER, named]),
    }[what]
    with stderr_discarded():
        assert_no_growth(op, watched)


def test_callbacks_to_a_connected_client(served):
    s = served("drain", serve=False, capture=False)
    server = s.server

    def answer():
        server.callback(1, ServerStatus.Idle, CONFIRM)
        server.callback(id=200, status=ServerStatus.Error, data=ERROR)

    assert_no_growth(answer, [server, CONFIRM, ERROR, ServerStatus.Idle, ServerStatus.Error])
    server.close()
    rounds = ROUNDS + ROUNDS // 10
    confirm_size, error_size = 24, 3 + 6 + 1 + 12 + 1 + 3 + len(TEXT)
    assert finish(s.peer)[-1] == f"drained {rounds * (confirm_size + error_size)}"



def test_accept_that_times_out():
    server = ComSocketServer(f"127.0.0.1:{free_port()}")
    assert_no_growth(lambda: server.accept(0), [server])


def test_wait_raising_the_action_exception_again(served):
    s = served("send:" + frame("ClickButton", 1, []).hex(), "eof", connect="accept", capture=False,
               actions={"ClickButton_1": lambda event: 1 / 0}, cycle=0, progress=False)
    with stderr_discarded(), pytest.raises(ZeroDivisionError) as info:
        s.server.wait()
    # Raised anew each time from the traceback it had: it does not grow.
    assert_no_growth(failing(ZeroDivisionError, s.server.wait), [s.server, info.value])
    s.server.close()
    finish(s.peer)


def test_serving_cycles_leave_no_descriptor_and_no_thread():
    # Each batch serves six clients at once, each loop ending another way:
    # close(), a frame that does not decode, or the client leaving first.
    result = scenario("""
        def descriptors():
            return sorted(os.listdir("/proc/self/fd"))
        def threads():
            return len(os.listdir("/proc/self/task"))
        def loop_ended(server):
            try:
                server.close()
            except RuntimeError as e:
                return str(e) == "sending on a closed channel"
            return False
        fds, tasks = descriptors(), threads()
        click = frame("ClickButton", 1, []).hex()
        steps = {"close": [f"send:{click}", "drain"],
                 "bad frame": [f"send:{click}c1", "drain"],
                 "client leaves": [f"send:{click}", "close"]}
        kinds = list(steps) * 2
        ports = [free_port() for _ in kinds]
        servers = [ComSocketServer(f"127.0.0.1:{port}") for port in ports]
        ran, peers = [], []
        def answer(i):
            ran.append(i)
            try:
                servers[i].callback(1, ServerStatus.Idle, ConfirmResult(True))
            except RuntimeError:
                pass  # the client that leaves may be gone already
        for i in range(len(servers)):
            servers[i].on(1, "ClickButton", lambda e, i=i: answer(i))
        def serve_batches():
            for batch in range(8):
                ran.clear()
                batch_peers = [start_peer(port, *steps[kind]) for port, kind in zip(ports, kinds)]
                peers.extend(batch_peers)
                for server in servers:
                    server.open()
                    server.serve()
                wait_for(lambda: len(ran) == len(servers), 20, "every action")
                for server, kind, peer in zip(servers, kinds, batch_peers):
                    if kind == "bad frame":
                        # Its client ends when the next open() or the end of
                        # the server drops the connection.
                        wait_for(lambda: loop_ended(server), 20, "the failed loop")
                    else:
                        server.close()
                        finish(peer)
        serve_batches()
        servers.clear()
        gc.collect()
        for peer in peers:
            finish(peer)
        wait_for(lambda: threads() == tasks, 20, "the serve threads")
        print("threads", threads(), tasks)
        print("descriptors", descriptors(), fds)
    """, timeout=120)
    lines = result.stdout.splitlines()
    assert result.returncode == 0, result.stderr
    assert lines.count("Terminating.") == 8 * 4
    assert result.stderr.count("wrong msgpack marker Reserved") == 8 * 2
    threads, = [line for line in lines if line.startswith("threads")]
    descriptors, = [line for line in lines if line.startswith("descriptors")]
    _, now, before = threads.split(" ", 2)
    assert now == before
    now, before = descriptors.removeprefix("descriptors ").split("] ")
    assert now + "]" == before
