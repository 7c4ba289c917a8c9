"""The widget event classes of WidgetRegistry built by hand: constructors,
field conversion, immutability, match statements and reference counts."""

import inspect
import sys
import weakref

import pytest

import vantu_protocol
from vantu_protocol import WidgetRegistry as W
from kinds import KINDS


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


def test_the_classes_are_the_kinds_of_the_table_in_tag_order():
    assert [name for name, value in vars(W).items() if isinstance(value, type)] == \
        [kind.name for kind in KINDS]


@pytest.mark.parametrize("name, signature, match_args", [
    (kind.name, f"({', '.join(kind.field_names)})", kind.field_names or None) for kind in KINDS
])
def test_variant_class_surface(name, signature, match_args):
    cls = getattr(W, name)
    assert (cls.__name__, cls.__module__, cls.__base__) == (f"WidgetRegistry_{name}", "builtins", W)
    assert not hasattr(vantu_protocol, cls.__name__)
    assert cls.__text_signature__ == signature == str(inspect.signature(cls))
    assert cls.__match_args__ == match_args
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_base_class_is_subclassable_but_not_constructible():
    assert W.__module__ == "builtins"
    for cls in (W, type("Custom", (W,), {})):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            cls()


@pytest.mark.parametrize("cls, args, kwargs, field, expected", [
    (W.ToggleButton, (True,), {}, "value", True),
    (W.ToggleButton, (), {"value": False}, "value", False),
    (W.PressButton, (), {"pressed": True}, "pressed", True),
    (W.DirectionalButton, (255,), {}, "direction", 255),
    (W.DirectionalButton, (), {"direction": 0}, "direction", 0),
    (W.DirectionalButton, (True,), {}, "direction", 1),
    (W.DirectionalButton, (Index(42),), {}, "direction", 42),
])
def test_constructor_stores_converted_field(cls, args, kwargs, field, expected):
    obj = cls(*args, **kwargs)
    got = getattr(obj, field)
    assert got == expected and type(got) is type(expected)
    assert isinstance(obj, W) and type(obj) is cls


@pytest.mark.parametrize("cls, args, kwargs, error, names", [
    (W.ToggleButton, (1,), {}, TypeError, "'value'"),
    (W.PressButton, (None,), {}, TypeError, "'pressed'"),
    (W.DirectionalButton, (256,), {}, OverflowError, "'direction'"),
    (W.DirectionalButton, (-1,), {}, OverflowError, "'direction'"),
    (W.DirectionalButton, (Index(2**70),), {}, OverflowError, "'direction'"),
    (W.DirectionalButton, (3.0,), {}, TypeError, "'direction'"),
    (W.Joystick, ((0.5, 1.0), 0.5), {}, TypeError, "'delta'"),
    (W.ClickButton, (1,), {}, TypeError, None),
    (W.ConfirmButton, (), {"value": True}, TypeError, None),
    (W.ToggleButton, (), {}, TypeError, "'value'"),
    (W.ToggleButton, (True,), {"value": True}, TypeError, "'value'"),
    (W.ToggleButton, (), {"pressed": True}, TypeError, "'pressed'"),
    (W.Joystick, (None,), {}, TypeError, None),
])
def test_constructor_rejects(cls, args, kwargs, error, names):
    with pytest.raises(error, match=names):
        cls(*args, **kwargs)


def test_numpy_bool_is_a_truth_value():
    np = pytest.importorskip("numpy")
    assert W.ToggleButton(np.bool_(True)).value is True
    assert W.PressButton(pressed=np.bool_(False)).pressed is False
    with pytest.raises(TypeError, match="'value'"):
        W.ToggleButton(np.int64(1))


def describe(event):
    match event:
        case W.ToggleButton(True):
            return "on"
        case W.PressButton(pressed=p):
            return f"press {p}"
        case W.DirectionalButton(d) if d > 127:
            return f"high {d}"
        case W.ClickButton() | W.ConfirmButton():
            return "button"
        case W():
            return "other widget"
    return "not a widget"


@pytest.mark.parametrize("event, expected", [
    (W.ToggleButton(True), "on"),
    (W.ToggleButton(False), "other widget"),
    (W.PressButton(True), "press True"),
    (W.DirectionalButton(200), "high 200"),
    (W.DirectionalButton(3), "other widget"),
    (W.ConfirmButton(), "button"),
    (3, "not a widget"),
])
def test_match_statement(event, expected):
    assert describe(event) == expected


@pytest.mark.parametrize("obj, field", [
    (W.ToggleButton(True), "value"),
    (W.PressButton(True), "pressed"),
    (W.DirectionalButton(1), "direction"),
])
def test_instances_are_immutable(obj, field):
    with pytest.raises(AttributeError):
        setattr(obj, field, getattr(obj, field))
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


@pytest.mark.parametrize("owner, field, receiver", [
    (W.ToggleButton, "value", W.PressButton(True)),
    (W.DirectionalButton, "direction", W.ClickButton()),
    (W.Joystick, "intensity", W.DirectionalButton(1)),
    (W.Joystick, "delta", W.ToggleButton(False)),
])
def test_descriptor_checks_receiver_class(owner, field, receiver):
    with pytest.raises(TypeError, match=owner.__name__):
        owner.__dict__[field].__get__(receiver, type(receiver))


def test_new_cannot_store_another_variant_in_a_class():
    with pytest.raises(TypeError):
        W.ToggleButton.__new__(W.PressButton, True)
    with pytest.raises(TypeError):
        W.__new__(W.ToggleButton)


def test_constructions_keep_reference_counts_stable():
    index = Index(7)
    refs = lambda: [sys.getrefcount(o) for o in (W.ToggleButton, W.DirectionalButton, index)]
    before = refs()
    for _ in range(2000):
        W.ToggleButton(True).value
        W.DirectionalButton(index).direction
        for call in (lambda: W.ToggleButton(1), lambda: W.DirectionalButton(256),
                     lambda: W.DirectionalButton(direction=index, extra=index)):
            with pytest.raises((TypeError, OverflowError)):
                call()
    assert refs() == before
