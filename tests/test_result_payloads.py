"""ConfirmResult and ErrorResult, the payloads of callback(): signatures,
argument checks, and what callback() accepts as its data."""

import inspect
import sys

import pytest

from vantu_protocol import ComSocketServer, ConfirmResult, ErrorResult, ServerStatus


@pytest.mark.parametrize("cls, signature, args, kwargs", [
    (ConfirmResult, "(status)", (True,), {}),
    (ConfirmResult, "(status)", (), {"status": False}),
    (ErrorResult, "(error)", ("boom",), {}),
    (ErrorResult, "(error)", (), {"error": "fehlgeschlagen: ü €"}),
])
def test_payload_has_signature_and_no_readable_fields(cls, signature, args, kwargs):
    assert cls.__module__ == "builtins"
    assert cls.__text_signature__ == signature == str(inspect.signature(cls))
    payload = cls(*args, **kwargs)
    assert not hasattr(payload, "status") and not hasattr(payload, "error")


@pytest.mark.parametrize("cls, args, kwargs, error, names", [
    (ConfirmResult, (1,), {}, TypeError, "'status'"),
    (ConfirmResult, (None,), {}, TypeError, "'status'"),
    (ConfirmResult, (), {}, TypeError, "'status'"),
    (ConfirmResult, (), {"value": True}, TypeError, "'value'"),
    (ErrorResult, (b"boom",), {}, TypeError, "'error'"),
    (ErrorResult, (True, "x"), {}, TypeError, None),
    (ErrorResult, ("\ud800",), {}, UnicodeEncodeError, None),
])
def test_constructor_rejects(cls, args, kwargs, error, names):
    with pytest.raises(error, match=names):
        cls(*args, **kwargs)


def test_numpy_bool_status():
    np = pytest.importorskip("numpy")
    ConfirmResult(np.bool_(True))
    with pytest.raises(TypeError):
        ConfirmResult(np.int8(1))


def test_constructions_keep_reference_counts_stable():
    text = "a text long enough to live outside the small string buffer"
    before = sys.getrefcount(text), sys.getrefcount(ErrorResult)
    for _ in range(2000):
        ErrorResult(error=text)
        with pytest.raises(TypeError):
            ErrorResult(text, text)
    assert (sys.getrefcount(text), sys.getrefcount(ErrorResult)) == before


# Without a connection, callback binds the payload first and only then
# finds no connection: a bound payload ends in "Bad Server state".
@pytest.mark.parametrize("payload", [ConfirmResult(True), ErrorResult("boom")])
def test_payload_objects_are_bound(payload):
    with pytest.raises(RuntimeError, match="^Bad Server state$"):
        ComSocketServer("127.0.0.1:0").callback(1, ServerStatus.Idle, payload)


@pytest.mark.parametrize("data, type_name", [(5, "int"), ("boom", "str"), (None, "NoneType")])
def test_other_data_is_a_fatal_binding_error(data, type_name):
    with pytest.raises(BaseException) as caught:
        ComSocketServer("127.0.0.1:0").callback(1, ServerStatus.Idle, data)
    assert type(caught.value).__name__ == "PanicException"
    assert not isinstance(caught.value, Exception)
    message = str(caught.value)
    assert message.startswith("Python data failed to be bound: ")
    for name in ("ResultBinding", "Confirm", "Error", "ConfirmResult", "ErrorResult",
                 f"'{type_name}' object cannot be converted"):
        assert name in message
