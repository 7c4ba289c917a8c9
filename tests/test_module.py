"""The module as a whole: what it exports and where its classes live, its
single exported symbol, initialisation, and the signatures it shows."""

import ctypes
import inspect
import subprocess
import sys

import pytest

import vantu_protocol
from vantu_protocol import ComSocketServer, VantuPiServer
from support import scenario

EXPORTS = [
    "VantuPiServer",
    "ComSocketServer",
    "Protocol",
    "ServerStatus",
    "ConfirmResult",
    "ErrorResult",
    "WidgetRegistry",
    "on",
]


def test_exports_in_order():
    assert vantu_protocol.__all__ == EXPORTS
    namespace: dict = {}
    exec("from vantu_protocol import *", namespace)
    assert sorted(k for k in namespace if k != "__builtins__") == sorted(EXPORTS)


def test_coord_is_not_exported():
    with pytest.raises(AttributeError):
        vantu_protocol.Coord


def test_second_initialisation_returns_the_same_module():
    lib = ctypes.PyDLL(vantu_protocol.__file__)
    lib.PyInit_vantu_protocol.restype = ctypes.py_object
    assert lib.PyInit_vantu_protocol() is vantu_protocol


def test_only_the_init_function_is_exported():
    nm = subprocess.run(["nm", "-D", "--defined-only", vantu_protocol.__file__],
                        capture_output=True, text=True, check=True)
    symbols = [line.split()[-1] for line in nm.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_vantu_protocol"]


# Runs `code` in a new sub-interpreter and prints the name and text of what
# it raised, or "ok". The module for it and its options moved in 3.13; an
# isolated interpreter has its own interpreter lock, a legacy one shares it.
SUB_INTERPRETER = """
import sys
def in_sub_interpreter(code, isolated):
    if sys.version_info >= (3, 13):
        import _interpreters as sub
        interp = sub.create(sub.new_config("isolated" if isolated else "legacy"))
        failure = sub.exec(interp, code)
        print(f"{failure.type.__name__} {failure.msg}" if failure else "ok")
    else:
        import _xxsubinterpreters as sub
        interp = sub.create(**({"isolated": isolated} if sys.version_info >= (3, 12) else {}))
        try:
            sub.run_string(interp, code)
            print("ok")
        except sub.RunFailedError as e:
            print(str(e).removeprefix("<class '").replace("'>:", ""))
    sub.destroy(interp)
"""


@pytest.mark.parametrize("isolated", [True, False] if sys.version_info >= (3, 12) else [False])
@pytest.mark.parametrize("first", ["main", "sub"])
def test_only_the_main_interpreter_imports_the_module(first, isolated):
    # Whichever imports first, the sub-interpreter is refused and the main
    # interpreter gets a working module.
    code = SUB_INTERPRETER + ("import vantu_protocol\n" if first == "main" else "") + (
        f"in_sub_interpreter('import vantu_protocol', {isolated})\n"
        "import vantu_protocol\n"
        "print(vantu_protocol.ComSocketServer('127.0.0.1:1').address)\n")
    out = scenario(code, helpers=False)
    assert out.returncode == 0, out.stderr
    refusal, address = out.stdout.splitlines()
    assert refusal.startswith("ImportError") and "subinterpreters" in refusal.replace("-", ""), refusal
    assert address == "127.0.0.1:1"


@pytest.mark.parametrize("name", ["VantuPiServer", "ComSocketServer", "Protocol", "ServerStatus",
                                  "ConfirmResult", "ErrorResult", "WidgetRegistry"])
def test_classes_live_in_builtins(name):
    cls = getattr(vantu_protocol, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name


def test_factory_class():
    with pytest.raises(TypeError, match="^No constructor defined$"):
        VantuPiServer()
    with pytest.raises(TypeError):
        type("Sub", (VantuPiServer,), {})
    assert VantuPiServer.use_socket.__text_signature__ == "(address)"


def test_use_socket_builds_fresh_servers():
    a = VantuPiServer.use_socket("127.0.0.1:9000")
    b = VantuPiServer.use_socket(address="127.0.0.1:9000")
    assert type(a) is ComSocketServer and type(b) is ComSocketServer
    assert a is not b
    assert a.address == b.address == "127.0.0.1:9000"
    with pytest.raises(TypeError, match="address"):
        VantuPiServer.use_socket(9000)


def test_module_function_on():
    assert vantu_protocol.on.__text_signature__ == "(server)"
    assert vantu_protocol.on.__self__ is vantu_protocol
    assert vantu_protocol.on.__module__ == "vantu_protocol"


@pytest.mark.parametrize("method, signature", [
    ("open", "($self)"),
    ("serve", "($self)"),
    ("close", "($self)"),
    ("on", "($self, id, widget, action)"),
    ("_get_action", "($self, key)"),
    ("callback", "($self, id, status, data)"),
    ("accept", "($self, timeout=None)"),
    ("wait", "($self, timeout=None)"),
])
def test_server_text_signatures(method, signature):
    assert getattr(ComSocketServer, method).__text_signature__ == signature
    assert ComSocketServer.__text_signature__ == "(address)"
    assert list(inspect.signature(ComSocketServer).parameters) == ["address"]
