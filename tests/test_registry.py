"""Registering actions: on(), _get_action() and the on(server) decorator."""

import gc
import sys
import weakref

import pytest

import vantu_protocol
from vantu_protocol import ComSocketServer


def panic(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    return info.value.args[0]


@pytest.fixture
def server():
    return ComSocketServer("127.0.0.1:1")


def handler(event):
    return event


@pytest.mark.parametrize("id, widget, key", [
    (1, "ClickButton", "ClickButton_1"),
    (3, "Toggle Button", "Toggle_3"),
    (3, "  ToggleButton more words", "ToggleButton_3"),
    (9, "\tClickButton\n", "ClickButton_9"),
    (9, "\u00a0ClickButton", "ClickButton_9"),
    (9, "\u3000ClickButton\u2028x", "ClickButton_9"),
    (7, "", "_7"),
    (5, "joystick", "joystick_5"),
    (255, "DirectionalButton", "DirectionalButton_255"),
    (0, "Joystick", "Joystick_0"),
])
def test_on_stores_under_the_identity_key(server, id, widget, key):
    assert server.on(id, widget, handler) is None
    assert server._get_action(key) is handler
    assert server._get_action(key + "0") is None


def test_keyword_arguments(server):
    server.on(action=handler, widget="PressButton", id=4)
    assert server._get_action(key="PressButton_4") is handler


@pytest.mark.parametrize("args, error", [
    ((256, "ClickButton", handler), OverflowError),
    ((-1, "ClickButton", handler), OverflowError),
    ((10**30, "ClickButton", handler), OverflowError),
    (("1", "ClickButton", handler), TypeError),
    ((1.0, "ClickButton", handler), TypeError),
    ((1, b"ClickButton", handler), TypeError),
    ((1, "ClickButton"), TypeError),
])
def test_on_rejects_bad_arguments(server, args, error):
    with pytest.raises(error):
        server.on(*args)
    assert server._get_action("ClickButton_1") is None


def test_type_errors_name_the_argument(server):
    with pytest.raises(TypeError, match="'id'"):
        server.on("1", "ClickButton", handler)
    with pytest.raises(TypeError, match="'widget'"):
        server.on(1, 2, handler)
    with pytest.raises(TypeError, match="'key'"):
        server._get_action(1)


def test_lookups_that_find_nothing(server):
    assert server._get_action("ClickButton_1") is None
    server.on(1, "ClickButton", handler)
    assert server._get_action("ClickButton_01") is None
    assert server._get_action("clickbutton_1") is None


def test_any_object_is_accepted_as_action(server):
    server.on(1, "ClickButton", 42)
    assert server._get_action("ClickButton_1") == 42


def test_replacing_an_action_drops_the_old_one(server):
    first, second = object(), object()
    before = sys.getrefcount(first)
    server.on(1, "ClickButton", first)
    assert sys.getrefcount(first) == before + 1
    server.on(1, "ClickButton", second)
    assert sys.getrefcount(first) == before
    assert server._get_action("ClickButton_1") is second


def test_releasing_the_server_releases_its_actions():
    action = object()
    server = ComSocketServer("127.0.0.1:1")
    before = sys.getrefcount(action)
    server.on(1, "ClickButton", action)
    del server
    gc.collect()
    assert sys.getrefcount(action) == before


def test_a_server_in_a_reference_cycle_is_collected():
    server = ComSocketServer("127.0.0.1:1")

    @vantu_protocol.on(server)
    def ClickButton_1(event, server=server):
        server.callback(1, None, None)

    witness = weakref.ref(server._get_action("ClickButton_1"))
    del server, ClickButton_1
    gc.collect()
    assert witness() is None


def test_decorator_registers_the_function_and_returns_a_wrapper(server):
    @vantu_protocol.on(server)
    def ClickButton_1(*args, **kwargs):
        return args, kwargs

    registered = server._get_action("ClickButton_1")
    assert registered is not ClickButton_1
    assert registered.__name__ == "ClickButton_1"
    assert ClickButton_1(1, 2, x=3) == ((1, 2), {"x": 3})
    assert registered(4) == ((4,), {})


def test_wrapper_passes_exceptions_through(server):
    @vantu_protocol.on(server)
    def PressButton_2():
        raise KeyError("inner")

    with pytest.raises(KeyError, match="inner"):
        PressButton_2()


@pytest.mark.parametrize("name, key", [
    ("Joystick_2_left", "Joystick_2"),
    ("PressButton_007", "PressButton_7"),
    ("ConfirmButton_+4", "ConfirmButton_4"),
    ("_3", "_3"),
])
def test_decorated_names(server, name, key):
    def func():
        pass

    func.__name__ = name
    vantu_protocol.on(server)(func)
    assert server._get_action(key) is func


@pytest.mark.parametrize("name", [
    "ClickButton", "Click_Button_1", "ClickButton_300", "ClickButton_", "ClickButton_-1",
    "ClickButton_ 1", "<lambda>", "Click\x00Button_1x",
])
def test_malformed_names_are_fatal_and_register_nothing(server, name):
    def func():
        pass

    func.__name__ = name
    decorator = vantu_protocol.on(server)
    # The message quotes the whole name, past a NUL too.
    assert name in panic(lambda: decorator(func))
    for key in ("ClickButton_1", "Click_1", "ClickButton_300"):
        assert server._get_action(key) is None


def test_names_that_are_not_text_are_fatal(server):
    decorator = vantu_protocol.on(server)
    message = panic(lambda: decorator(42))
    assert "AttributeError" in message

    class Named:
        __name__ = 5

    assert "TypeError" in panic(lambda: decorator(Named()))


def test_decorator_without_argument(server):
    with pytest.raises(IndexError):
        vantu_protocol.on(server)()


def test_decorator_factory_needs_a_server():
    with pytest.raises(TypeError, match="'server'"):
        vantu_protocol.on(object())
    with pytest.raises(TypeError):
        vantu_protocol.on()


def test_decorator_keeps_its_server_alive():
    server = ComSocketServer("127.0.0.1:1")
    before = sys.getrefcount(server)
    decorator = vantu_protocol.on(server)
    assert sys.getrefcount(server) == before + 1
    del decorator
    assert sys.getrefcount(server) == before
