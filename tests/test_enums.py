"""ServerStatus and Protocol: their members, comparisons with numbers and
with each other, no ordering, no hashing, and where a status is required."""

import operator

import pytest

from vantu_protocol import ComSocketServer, ConfirmResult, Protocol, ServerStatus


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if isinstance(self.value, Exception):
            raise self.value
        return self.value


@pytest.mark.parametrize("cls, name, value", [
    (ServerStatus, "NotInit", 0), (ServerStatus, "Idle", 1),
    (ServerStatus, "Busy", 2), (ServerStatus, "Error", 3),
    (Protocol, "WebSocket", 0), (Protocol, "Bluetooth", 1),
    (Protocol, "Http", 2), (Protocol, "Usb", 3),
])
def test_member(cls, name, value):
    member = getattr(cls, name)
    assert type(member) is cls and member is getattr(cls, name)
    assert repr(member) == str(member) == f"{cls.__name__}.{name}"
    assert int(member) == value and type(int(member)) is int
    assert bool(member) is True


@pytest.mark.parametrize("cls", [ServerStatus, Protocol])
def test_class_surface(cls):
    assert cls.__module__ == "builtins" and cls.__text_signature__ is None
    with pytest.raises(TypeError, match="^No constructor defined$"):
        cls()
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    with pytest.raises(TypeError):
        cls.Extra = 1


@pytest.mark.parametrize("left, right, equal", [
    (ServerStatus.Busy, ServerStatus.Busy, True),
    (ServerStatus.Busy, ServerStatus.Idle, False),
    (ServerStatus.Idle, 1, True),
    (1, ServerStatus.Idle, True),
    (ServerStatus.Idle, 2, False),
    (ServerStatus.Idle, True, True),
    (Index(3), Protocol.Usb, True),
    (ServerStatus.Idle, 1.0, False),
    (ServerStatus.Idle, "1", False),
    (ServerStatus.Idle, Protocol.Bluetooth, False),
    (ServerStatus.Idle, 2**64 + 1, False),
    (ServerStatus.Idle, Index(2**80), False),
    (ServerStatus.Idle, Index(ValueError("no index")), False),
])
def test_equality_never_raises(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is (not equal)


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("right", [ServerStatus.Error, 3])
def test_no_ordering(op, right):
    with pytest.raises(TypeError):
        op(ServerStatus.Busy, right)


@pytest.mark.parametrize("use", [hash, lambda m: {m}, lambda m: {m: 1}, operator.index,
                                 lambda m: [0, 1, 2][m]])
@pytest.mark.parametrize("member", [ServerStatus.Idle, Protocol.Http])
def test_neither_hashable_nor_an_index(use, member):
    with pytest.raises(TypeError):
        use(member)


@pytest.mark.parametrize("status", [1, Index(1), Protocol.Bluetooth, None])
def test_status_parameter_takes_only_server_status(status):
    server = ComSocketServer("127.0.0.1:0")
    with pytest.raises(TypeError, match="'status'"):
        server.callback(1, status, ConfirmResult(True))
