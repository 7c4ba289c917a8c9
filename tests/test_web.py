"""The web listener: its setting, its HTTP answers, who may load the page
and drive, and the WebSocket as a second transport of the same sessions."""

import json
import re
import socket
import subprocess
import sys
import threading
import time

import pytest
from websockets.exceptions import ConnectionClosed
from websockets.sync.client import connect

from vantu_protocol import ComSocketServer, ConfirmResult, ServerStatus
from support import frame, free_port
from web_clients import UPGRADE, Link, client_frame, get, http, raw_websocket, read_close

LIVE = {"cycle": 0, "progress": False}
CLICK = frame("ClickButton", 1, [])
MACHINE = socket.gethostname().split(".")[0]


@pytest.fixture
def web():
    """Servers with a web listener bound on a free port of 127.0.0.1 and the
    live settings; closed twice after the test (the loop, then the
    listeners)."""
    made = []

    def make(**settings):
        server = ComSocketServer(f"127.0.0.1:{free_port()}")
        server.web = "127.0.0.1:0"
        for name, value in {**LIVE, **settings}.items():
            setattr(server, name, value)
        assert server.accept(0.01) is False
        made.append(server)
        return server
    yield make
    for server in made:
        for _ in range(2):
            try:
                server.close()
            except RuntimeError:
                pass


@pytest.mark.parametrize("value, error", [
    ("0.0.0.0:8080", None), ("[::]:8080", None), ("localhost:0", None), (None, None),
    ("8080", ValueError), ("robot.local", ValueError), ("0.0.0.0:65536", ValueError),
    ("[::1]", ValueError), ("::1:80", ValueError), (":8080", ValueError), ("a b:80", ValueError),
    (8080, TypeError), (b"0.0.0.0:80", TypeError),
])
def test_web_takes_a_host_and_a_port(value, error):
    server = ComSocketServer("127.0.0.1:1")
    assert (server.web, server.web_address, server.web_hosts) == (None, None, ())
    if error:
        with pytest.raises(error, match="web"):
            server.web = value
        assert server.web is None
    else:
        server.web = value
        assert server.web == value


def test_web_address_from_bind_to_close(web):
    server = web()
    host, _, port = server.web_address.rpartition(":")
    assert host == "127.0.0.1" and int(port) > 0 and server.web == "127.0.0.1:0"
    server.close()
    assert server.web_address is None


def test_title_is_the_script_by_default(tmp_path):
    script = tmp_path / "robot.py"
    script.write_text("from vantu_protocol import ComSocketServer\n"
                      "s = ComSocketServer('127.0.0.1:1')\nprint(s.title)\ns.title = 'Lamp'\nprint(s.title)\n")
    out = subprocess.run([sys.executable, str(script)], capture_output=True, text=True).stdout
    assert out.split() == ["robot.py", "Lamp"]


@pytest.mark.parametrize("request_head, status, header", [
    ("GET / HTTP/1.1\r\nHost: {a}\r\n", 200, ("cache-control", "no-store")),
    ("GET /?reload=1 HTTP/1.0\r\nHost: localhost:9\r\n", 200, ("content-type", "text/html; charset=utf-8")),
    ("GET / HTTP/1.1\r\nHost: [::1]\r\n", 200, None),
    (f"GET / HTTP/1.1\r\nHost: {MACHINE}.local:8080\r\n", 200, None),
    ("GET / HTTP/1.1\r\nHost: robot.example\r\n", 200, None),
    ("GET / HTTP/1.1\r\nHost: evil.example\r\n", 403, None),
    ("GET / HTTP/1.1\r\nHost: {a}.evil.example\r\n", 403, None),
    ("GET / HTTP/1.1\r\n", 403, None),
    ("GET /favicon.ico HTTP/1.1\r\nHost: {a}\r\n", 404, None),
    ("POST / HTTP/1.1\r\nHost: {a}\r\nContent-Length: 2\r\n\r\nhi", 405, ("allow", "GET, HEAD")),
    ("GET /ws HTTP/1.1\r\nHost: {a}\r\n", 426, ("upgrade", "websocket")),
    ("GET /ws HTTP/1.1\r\nHost: {a}\r\n" + UPGRADE.replace(": 13", ": 8"), 426,
     ("sec-websocket-version", "13")),
    ("GET /ws HTTP/1.1\r\nHost: {a}\r\n" + UPGRADE.replace("dGhl", "d2hl="), 400, None),
    ("GET /ws HTTP/1.1\r\nHost: {a}\r\nOrigin: http://evil.example\r\n" + UPGRADE, 403, None),
    ("GET /ws HTTP/1.1\r\nHost: evil.example\r\n" + UPGRADE, 403, None),
    ("GET /ws HTTP/1.1\r\nHost: {a}\r\nOrigin: http://{a}\r\n" + UPGRADE, 101,
     ("sec-websocket-accept", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=")),
    ("GET / HTTP/2.0\r\nHost: {a}\r\n", 400, None),
    ("GET /\r\n", 400, None),
    ("GET / HTTP/1.1\r\nHost: {a}\r\nX-Filler: " + "x" * 9000 + "\r\n", 431, None),
])
def test_answers(web, request_head, status, header):
    server = web(web_hosts=["robot.example"])
    got, headers, _ = http(server.web_address, (request_head.format(a=server.web_address) + "\r\n").encode())
    assert got == status
    if header:
        assert headers[header[0]] == header[1]
    # Page requests and refused upgrades are never controllers.
    assert server.accept(0.05) is (status == 101)


def test_head_answers_without_the_page(web):
    server = web()
    status, headers, body = get(server.web_address)
    head_status, head_headers, head_body = get(server.web_address, method="HEAD")
    assert (status, head_status, head_body) == (200, 200, b"")
    assert head_headers["content-length"] == headers["content-length"] == str(len(body))


def test_the_page_lists_the_registered_widgets(web):
    server = web(title="Robot <1> & \"co\"")

    def drive(event):
        """Drive the robot.

        Long text that is not shown."""
    server.on(1, "Joystick", drive)
    server.on(1, "ToggleButton", lambda event: None)
    server.on(0, "PressButton", lambda event: None)
    server.on(7, "ClickButton", print)
    server.on(9, "Joystick5", drive)  # no frame reaches it: not on the page
    _, headers, body = get(server.web_address)
    page = body.decode()
    config = json.loads(re.search(r'<script id="config" type="application/json">(.*?)</script>', page,
                                  re.S)[1])
    assert [(w["key"], w["label"]) for w in config["widgets"]] == [
        ("PressButton_0", "PressButton 0"), ("ToggleButton_1", "ToggleButton 1"),
        ("Joystick_1", "Drive the robot."), ("ClickButton_7", print.__doc__.splitlines()[0])]
    assert config["title"] == server.title and "<title>Robot &lt;1&gt; &amp; &quot;co&quot;</title>" in page
    assert config["kinds"]["Joystick"] == [["delta", "Coord"], ["intensity", "f32"]]
    # One file, nothing from elsewhere: no URL but its own WebSocket's.
    assert len(body) <= 64 * 1024
    assert not re.search(r"""(src|href|action)\s*=\s*(?!["']?(data:|#))|url\(|@import|https?://""", page)
    assert "default-src 'none'" in headers["content-security-policy"]


def test_allow_cuts_a_refused_peer_off(web):
    server = web(allow=["127.0.0.2"])
    with pytest.raises(OSError):
        get(server.web_address)
    server.allow = ["127.0.0.1"]
    server.accept(0.01)  # the allow list reaches the web listener with the next accept()
    assert get(server.web_address)[0] == 200


@pytest.mark.once
def test_a_stalled_request_is_dropped(web):
    server = web()
    host, _, port = server.web_address.rpartition(":")
    with socket.create_connection((host, int(port)), timeout=30) as sock:
        sock.sendall(b"GET / HTTP/1.1\r\nHost: ")
        assert sock.recv(1) == b""


# What a client sends, and what the session ends with (None: the action ran).
MESSAGES = [
    ("fragments", [client_frame(2, CLICK[:5], fin=False), client_frame(9, b"between"),
                   client_frame(0, CLICK[5:])], None, None),
    ("empty", [client_frame(2, b"")], 1007, "IO error while reading marker"),
    ("cut short", [client_frame(2, CLICK[:-1])], 1007, "failed to fill whole buffer"),
    ("two frames", [client_frame(2, CLICK + CLICK)], 1007, "16 bytes follow it"),
    ("a trailing byte", [client_frame(2, CLICK + b"\x00")], 1007, "1 bytes follow it"),
    ("text", [client_frame(1, b"hello")], 1003, "WebSocket"),
    ("unmasked", [client_frame(2, CLICK, mask=False)], 1002, "WebSocket"),
    ("reserved bit", [client_frame(2, CLICK, rsv=4)], 1002, "WebSocket"),
    ("reserved opcode", [client_frame(3, CLICK)], 1002, "WebSocket"),
    ("over 64 KiB", [client_frame(2, b"\x90" * 65537)], 1009, "WebSocket"),
    # A loop with the defaults leaves the connection open, but says why.
    ("text, defaults", [client_frame(1, b"hello")], 1003, "WebSocket"),
]


@pytest.mark.parametrize("case, frames, code, text", MESSAGES, ids=[m[0] for m in MESSAGES])
def test_one_message_one_frame(web, case, frames, code, text):
    server = web(**({"cycle": 0.5, "progress": True} if "defaults" in case else {}))
    ran = []
    server.on(1, "ClickButton", ran.append)
    sock = raw_websocket(server.web_address)
    assert server.accept(20)
    server.serve()
    sock.sendall(b"".join(frames))
    if code is None:
        sock.sendall(client_frame(8, b"\x03\xe8"))
        assert read_close(sock) == 1000 and server.wait(20) is True and len(ran) == 1
        return
    assert read_close(sock) == code
    with pytest.raises(ValueError, match=re.escape(text)):
        server.wait(20)
    assert ran == []


def test_ping_close_and_the_idle_timeout(web):
    server = web(idle_timeout=0.6)
    with connect(f"ws://{server.web_address}/ws", compression=None) as ws:
        assert server.accept(20)
        server.serve()
        assert ws.ping(b"are you there").wait(20)
        time.sleep(1.5)  # silent, but the library answers the server's pings
        assert server.connected
    assert server.wait(20) is True  # the client's close ends the session
    server.close()
    sock = raw_websocket(server.web_address)  # answers no ping
    assert server.accept(20)
    server.serve()
    assert read_close(sock) == 1001 and server.wait(20) is True


@pytest.mark.parametrize("kind", ["raw", "web"])
@pytest.mark.parametrize("case", ["result", "leaves", "broken frame", "action raises", "close()"])
def test_sessions_over_both_transports(web, kind, case):
    server = web()
    port = int(server.address.rpartition(":")[2])
    raised = ValueError("boom")

    def action(event):
        if case == "action raises":
            raise raised
        server.callback(1, ServerStatus.Idle, ConfirmResult(True))
    server.on(1, "ClickButton", action)
    link = Link(kind, server, port)
    server.serve()
    if case == "broken frame":
        link.send(bytes.fromhex("9103"))
        with pytest.raises(ValueError, match="^invalid length 1, expected struct Frame with 2 elements$"):
            server.wait(20)
        assert link.ended()
        return
    link.send(CLICK)
    if case == "action raises":
        with pytest.raises(ValueError) as info:
            server.wait(20)
        assert info.value is raised and link.ended()
        return
    assert link.result() == [1, "Idle", {"ConfirmResult": [True]}]
    if case == "close()":
        server.close()
        assert link.ended() and server.wait(20) is True
    elif case == "leaves":
        link.leave()
        assert server.wait(20) is True and not server.connected


@pytest.mark.parametrize("first, second, takeover", [
    ("raw", "web", True), ("web", "raw", True), ("web", "web", True), ("web", "web", False),
])
def test_a_second_controller(web, first, second, takeover):
    server = web(takeover=takeover)
    port = int(server.address.rpartition(":")[2])
    ran = []
    server.on(1, "ClickButton", ran.append)
    old = Link(first, server, port)
    server.serve()
    if not takeover:
        status, headers, _ = http(server.web_address, f"GET /ws HTTP/1.1\r\nHost: {server.web_address}"
                                  f"\r\n{UPGRADE}\r\n".encode())
        assert (status, headers["retry-after"]) == (503, "1")
        old.send(CLICK)
        assert server.wait(0.3) is False and server.connected
        return
    new = Link(second, server, port, accept=False)
    assert server.wait(20) is True and old.ended()
    server.close()
    assert server.accept(20)
    server.serve()
    new.send(CLICK)
    deadline = time.monotonic() + 20
    while not ran and time.monotonic() < deadline:
        time.sleep(0.01)
    assert len(ran) == 1
