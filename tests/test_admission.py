"""Who may connect: the allow list, checked at accept, and takeover, through
which a returning client ends the session it replaces."""

import os
import re
import shutil
import signal
import socket
import threading
import time

import pytest

from vantu_protocol import ComSocketServer, ConfirmResult, ServerStatus
from support import finish, frame, free_port, is_listening, scenario, start_peer, start_scenario, wait_for

CLICK_1 = "send:" + frame("ClickButton", 1, []).hex()
CONFIRM_IDLE_1 = "9301a449646c6581ad436f6e6669726d526573756c7491c3"
LIVE = {"cycle": 0, "progress": False}
NETNS = pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("nft"),
                           reason="needs root, unshare and nft for a private network")


def knock(host: str, port: int, source: str) -> socket.socket:
    """A client bound to address `source`, which a thread of this process
    connects as soon as the server listens. It may see the server's reset
    already when connecting."""
    sock = socket.socket(socket.AF_INET6 if ":" in source else socket.AF_INET)
    sock.bind((source, 0))

    def connect():
        wait_for(lambda: is_listening(port), what="the listener")
        try:
            sock.connect((host, port))
        except ConnectionResetError:
            pass
    threading.Thread(target=connect, daemon=True).start()
    return sock


def test_defaults():
    server = ComSocketServer("127.0.0.1:1")
    assert (server.allow, server.takeover) == (None, False)


@pytest.mark.parametrize("value, read", [
    (["192.168.1.0/24", "127.0.0.1", "::1", "fe80::/10"], ("192.168.1.0/24", "127.0.0.1", "::1", "fe80::/10")),
    (("10.1.2.3/8", "::ffff:10.0.0.0/104", "0.0.0.0/0"), ("10.1.2.3/8", "::ffff:10.0.0.0/104", "0.0.0.0/0")),
    ([], ()), (None, None),
])
def test_allow_reads_back_as_given(value, read):
    server = ComSocketServer("127.0.0.1:1")
    server.allow = value
    assert server.allow == read


@pytest.mark.parametrize("value, error, named", [
    (["127.0.0.1", "300.1.1.1"], ValueError, "'300.1.1.1'"), (["10.0.0.0/33"], ValueError, "'10.0.0.0/33'"),
    (["fe80::/129"], ValueError, "'fe80::/129'"), ([""], ValueError, "''"), (["a/b/c"], ValueError, "'a/b/c'"),
    (["10.0.0.1/"], ValueError, "'10.0.0.1/'"), (["10.0.0.1/+8"], ValueError, r"'10.0.0.1/\+8'"),
    (["1.2.3"], ValueError, "'1.2.3'"), (["fe80::1%lo"], ValueError, "'fe80::1%lo'"),
    (["127.0.0.1\0"], ValueError, r"'127.0.0.1\\x00'"), ([" 127.0.0.1"], ValueError, "' 127.0.0.1'"),
    (["127.0.0.1", 1], TypeError, "int"), ([b"127.0.0.1"], TypeError, "bytes"),
    ("127.0.0.1", TypeError, "str"), ({"127.0.0.1"}, TypeError, "set"),
    (("takeover", True), TypeError, None), (("takeover", 1), TypeError, None),
])
def test_bad_values_change_nothing(value, error, named):
    server = ComSocketServer("127.0.0.1:1")
    server.allow = ["::1"]
    name, value = value if isinstance(value, tuple) and value[0] == "takeover" else ("allow", value)
    if name == "takeover":
        value = None if value is True else value
    before = getattr(server, name)
    with pytest.raises(error, match=re.compile(f"{name}.*{named or ''}")):
        setattr(server, name, value)
    assert getattr(server, name) == before
    with pytest.raises(AttributeError):
        delattr(server, name)


@pytest.mark.parametrize("host, allow, source, allowed", [
    ("127.0.0.1", ["127.0.0.1"], "127.0.0.1", True),
    ("127.0.0.1", ["127.0.0.1"], "127.0.0.2", False),
    ("127.0.0.1", ["::1", "127.0.0.0/30"], "127.0.0.3", True),
    ("127.0.0.1", ["127.0.0.0/31"], "127.0.0.2", False),
    ("127.0.0.1", ["10.0.0.0/8", "127.0.0.2/32"], "127.0.0.2", True),
    ("127.0.0.1", [], "127.0.0.1", False),
    ("[::1]", ["::1"], "::1", True),
    ("[::1]", ["::/127"], "::1", True),
    ("[::1]", ["127.0.0.1", "fe80::/10", "::2"], "::1", False),
    ("[::]", ["127.0.0.2"], "127.0.0.2", True),  # an IPv4-mapped peer of a dual-stack listener
    ("[::]", ["::ffff:127.0.0.0/126"], "127.0.0.3", True),
    ("[::]", ["::ffff:127.0.0.2"], "127.0.0.3", False),
])
def test_peers_are_let_in_or_turned_away(served, host, allow, source, allowed):
    s = served(connect=None, host=host, allow=allow)
    peer = knock("127.0.0.1" if host == "[::]" else host.strip("[]"), s.port, source)
    # A refused peer is no client: the wait goes on to its end.
    assert s.server.accept(1) is allowed
    if allowed:
        s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
        assert peer.recv(100).hex() == CONFIRM_IDLE_1 and "Refused" not in s.output.err
    else:
        port = peer.getsockname()[1]
        assert s.output.wait_err(f"Refused a connection from {source} port {port}: ").count("\n") == 1
        with pytest.raises(OSError, match="Errno (104|107)"):  # reset, or never connected
            peer.recv(1)
    peer.close()


# A phone is served; another comes: the same one back after its Wi-Fi
# dropped, a refused one, or one for a server that keeps no listener.
TAKEOVER = """
    import subprocess
    kind, newcomer = sys.argv[1], sys.argv[2]
    if kind == "half-open":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    events = []
    s = Served("from:127.0.0.3", "eof", connect="accept", capture=False, cycle=0, progress=False,
               allow=["127.0.0.1", "127.0.0.3"], takeover=kind != "no takeover",
               actions={"ClickButton_1": events.append})
    if kind == "half-open":  # the old phone's packets are dropped from now on
        for rule in ["add table inet t", "add chain inet t c { type filter hook input priority 0; }",
                     "add rule inet t c ip saddr 127.0.0.3 drop", "add rule inet t c ip daddr 127.0.0.3 drop"]:
            subprocess.run(["nft", *rule.split()], check=True)
    s.client(f"from:{newcomer}", CLICK_1, "eof")
    over = s.server.wait(20 if kind in ("silent", "half-open") else 1)
    print("over", over, s.server.connected, flush=True)
    if over:
        s.server.close()
        print("accept", s.server.accept(0), flush=True)
        s.serve()
        wait_for(lambda: events, what="the newcomer's frame")
        print("action", len(events), flush=True)
        if kind == "silent":
            print("old phone", finish(s.peer), flush=True)
    s.end()
""".replace("CLICK_1", repr(CLICK_1))


@pytest.mark.parametrize("kind, newcomer, printed", [
    ("silent", "127.0.0.1", ["over True False", "accept True", "action 1", "old phone ['connected', 'eof ']"]),
    pytest.param("half-open", "127.0.0.1", ["over True False", "accept True", "action 1"], marks=NETNS),
    ("no takeover", "127.0.0.1", ["over False True"]),
    ("refused", "127.0.0.2", ["over False True"]),
])
def test_a_returning_phone(kind, newcomer, printed):
    result = scenario(TAKEOVER, kind, newcomer, prefix=("unshare", "-n") if kind == "half-open" else ())
    assert result.stdout.splitlines() == printed, result.stderr
    assert ("Refused a connection from 127.0.0.2 port" in result.stderr) is (kind == "refused")


def test_close_keeps_the_listener_while_a_connection_is_held(served):
    s = served("eof", connect="accept", takeover=True, **LIVE)
    s.server.close()
    assert finish(s.peer) == ["connected", "eof "] and is_listening(s.port)
    newcomer = s.client(f"recv:{len(CONFIRM_IDLE_1) // 2}")  # waits in the listener
    assert s.server.accept(10)
    s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
    assert finish(newcomer)[-1] == "recv " + CONFIRM_IDLE_1
    s.server.close()
    assert is_listening(s.port)
    s.server.close()  # no connection held: the listener goes
    assert not is_listening(s.port)
    with socket.socket() as again:
        again.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        again.bind(("127.0.0.1", s.port))
        again.listen()


@pytest.mark.parametrize("ending", ["close() from another thread", "freeing the object"])
def test_the_listener_goes_with_an_accept_wait_or_the_object(ending):
    port = free_port()
    server = ComSocketServer(f"127.0.0.1:{port}")
    server.takeover = True
    if ending == "freeing the object":
        assert server.accept(0) is False and is_listening(port)
        del server
    else:
        threading.Timer(0.3, server.close).start()
        assert server.accept() is False
    assert not is_listening(port)


def test_a_flood_of_refused_peers_leaves_the_session_and_nothing_behind():
    result = scenario("""
        def descriptors():
            return sorted(os.listdir("/proc/self/fd"))
        def resident():
            with open("/proc/self/statm") as f:
                return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        events = []
        s = Served("from:127.0.0.1", *[CLICK_1, "sleep:0.005"] * 400, "eof", connect="accept", capture=False,
                   allow=["127.0.0.1"], takeover=True, cycle=0, progress=False,
                   actions={"ClickButton_1": lambda e: events.append(1)})
        finish(start_flood(s.port, 200))  # warm-up
        fds, before = descriptors(), resident()
        count = len(events)
        finish(start_flood(s.port, 1000))
        grown = resident() - before
        during = len(events) - count
        print("session", s.server.wait(0), s.server.connected, flush=True)
        wait_for(lambda: len(events) == 400, what="every frame")
        print("descriptors", descriptors() == fds, flush=True)
        print("grown", grown, "frames during the flood", during, flush=True)
        s.end()
    """.replace("CLICK_1", repr(CLICK_1)), timeout=120)
    lines = result.stdout.splitlines()
    assert lines[:2] == ["session False True", "descriptors True"], result.stderr
    _, grown, *_, during = lines[2].split()
    assert int(during) > 0, lines
    # ASan holds freed memory in quarantine: resident size tells nothing there.
    assert int(grown) < 200 * 1024 or "ASAN_OPTIONS" in os.environ, lines
    assert result.stderr.count("Refused a connection from 127.0.0.2 port ") == 1200
    print(lines[2])


def test_the_robot_program_with_takeover_stops_once_and_drives_on():
    from test_readme import PROGRAMS
    port = free_port()
    # A long idle_timeout: only the takeover can end the old phone's session.
    code = PROGRAMS["robot.py"].replace("server.allow =", "server.takeover = True\nserver.allow =")
    code = code.replace("server.idle_timeout = 1.0", "server.idle_timeout = 60.0")
    program = start_scenario(code, f"127.0.0.1:{port}", helpers=False)
    drive = "send:" + frame("Joystick", 1, [[0.5, 1.0], 0.5]).hex()
    try:
        assert program.stdout.readline() == "waiting for a phone\n"
        old = start_peer(port, drive, "eof")  # then silent: its Wi-Fi dropped
        assert program.stdout.readline() == "motors +0.75 +0.25\n"
        new = start_peer(port, drive, "close")
        assert finish(old) == ["connected", "eof "]  # shut down by the takeover
        lines = [program.stdout.readline() for _ in range(5)]
        finish(new)
        program.send_signal(signal.SIGINT)
        out, err = program.communicate(timeout=20)
        assert lines + out.splitlines(keepends=True) == [
            "motors +0.00 +0.00\n", "waiting for a phone\n", "motors +0.75 +0.25\n",
            "motors +0.00 +0.00\n", "waiting for a phone\n", "motors +0.00 +0.00\n"], err
    finally:
        program.kill()
