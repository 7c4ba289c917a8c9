"""The server object without the serve loop: construction, open, close."""

import signal
import socket
import time

import pytest

from vantu_protocol import ComSocketServer, ConfirmResult, ServerStatus
from support import finish, free_port, is_listening, scenario, start_peer, start_scenario, wait_for

# What a client reads after callback(1, Idle, ConfirmResult(True)): here only
# the sign that a connection carries results (test_serving checks the bytes).
CONFIRM_IDLE_1 = "9301a449646c6581ad436f6e6669726d526573756c7491c3"


def panic(call):
    """Runs `call`, which must fail fatally; returns the message."""
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    assert len(info.value.args) == 1
    return info.value.args[0]


def test_constructor_arguments():
    assert ComSocketServer("h:1").address == "h:1"
    assert ComSocketServer(address="h:2").address == "h:2"
    for bad_call in (lambda: ComSocketServer(1), lambda: ComSocketServer(b"h:1")):
        with pytest.raises(TypeError, match="'address'"):
            bad_call()
    with pytest.raises(TypeError):
        ComSocketServer()
    with pytest.raises(TypeError):
        ComSocketServer("h:1", "h:2")
    with pytest.raises(TypeError):
        ComSocketServer(host="h:1")


def test_address_is_read_only():
    server = ComSocketServer("h:1")
    with pytest.raises(AttributeError):
        server.address = "h:2"
    assert server.address == "h:1"


def test_close_without_connection_does_nothing():
    server = ComSocketServer("127.0.0.1:1")
    assert server.close() is None
    assert server.close() is None


def test_operations_that_need_a_connection():
    server = ComSocketServer("127.0.0.1:1")
    with pytest.raises(RuntimeError, match="^Bad Server state$"):
        server.serve()
    with pytest.raises(RuntimeError, match="^Bad Server state$"):
        server.callback(1, ServerStatus.Idle, ConfirmResult(True))


@pytest.mark.parametrize("address, detail", [
    ("localhost", "invalid socket address"),
    ("", "invalid socket address"),
    ("127.0.0.1\0junk:80", "invalid socket address"),
    ("localhost:http", "invalid port value"),
    ("localhost:70000", "invalid port value"),
    ("localhost:-1", "invalid port value"),
    ("no-such-host.invalid:80", "failed to lookup address information: "),
    ("192.0.2.1:80", "Cannot assign requested address"),
])
def test_listener_failures_are_fatal(address, detail, capfd):
    message = panic(ComSocketServer(address).open)
    assert message.startswith("Unable to intanstiate TCP Listener. ")
    assert detail in message
    assert message in capfd.readouterr().err


def test_address_in_use_keeps_the_earlier_connection(served):
    s = served(f"recv:{len(CONFIRM_IDLE_1) // 2}", serve=False, capture=False)
    with socket.socket() as blocker:
        blocker.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        blocker.bind(("127.0.0.1", s.port))
        blocker.listen()
        message = panic(s.server.open)
    assert "Address already in use" in message and "98" in message
    s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
    assert finish(s.peer)[-1] == "recv " + CONFIRM_IDLE_1
    s.server.close()


def test_close_without_serve_shuts_the_connection_down(served):
    s = served("eof", serve=False, capture=False)
    assert not is_listening(s.port), "the listener is closed once a client is accepted"
    s.server.close()
    assert finish(s.peer) == ["connected", "eof "]
    assert s.server.close() is None
    with pytest.raises(RuntimeError, match="^Bad Server state$"):
        s.server.serve()


def test_reopen_waits_for_a_new_client_and_drops_the_old_one(served):
    s = served("eof", serve=False, capture=False)
    second = s.client(f"recv:{len(CONFIRM_IDLE_1) // 2}")
    s.server.open()
    assert finish(s.peer) == ["connected", "eof "]
    s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
    assert finish(second)[-1] == "recv " + CONFIRM_IDLE_1
    s.server.close()


WAIT_IN_OPEN = """
    import signal
    seen = []
    signal.signal(signal.SIGUSR1, lambda *a: seen.append("usr1"))
    server = ComSocketServer(f"127.0.0.1:{sys.argv[1]}")
    try:
        server.open()
        print("opened", seen, flush=True)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        try:
            server.callback(1, ServerStatus.Idle, ConfirmResult(True))
        except RuntimeError as e:
            print("after:", e, flush=True)
"""


def run_waiting_server(port):
    proc = start_scenario(WAIT_IN_OPEN, port)
    wait_for(lambda: is_listening(port), what="the listener")
    return proc


def test_ctrl_c_ends_the_wait_in_open():
    port = free_port()
    proc = run_waiting_server(port)
    proc.send_signal(signal.SIGINT)
    # No client ever connects: without the signal check the wait never ends.
    out, _ = proc.communicate(timeout=20)
    assert out.splitlines() == ["interrupted", "after: Bad Server state"]
    assert not is_listening(port)


def test_signals_that_do_not_raise_leave_the_wait_going():
    port = free_port()
    proc = run_waiting_server(port)
    proc.send_signal(signal.SIGUSR1)
    time.sleep(0.3)
    assert proc.poll() is None and is_listening(port)
    peer = start_peer(port, "close")
    out, _ = proc.communicate(timeout=10)
    finish(peer)
    assert out.splitlines() == ["opened ['usr1']"]


def test_panic_exception_is_not_caught_by_except_exception():
    result = scenario("""
        from vantu_protocol import ComSocketServer
        try:
            ComSocketServer("nocolon").open()
        except Exception:
            print("caught as Exception")
        except BaseException as e:
            print(type(e).__name__, type(e).__mro__[1].__name__)
    """, helpers=False)
    assert result.stdout.splitlines() == ["PanicException BaseException"]


@pytest.mark.parametrize("host", [
    "[::1]",      # numeric IPv6
    "127.0.0.1",  # numeric IPv4
    "localhost",  # looked up; the client tries every address
])
def test_open_on_each_kind_of_address(served, host):
    s = served(f"recv:{len(CONFIRM_IDLE_1) // 2}", host=host, serve=False, capture=False)
    s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
    assert finish(s.peer)[-1] == "recv " + CONFIRM_IDLE_1
    s.server.close()
