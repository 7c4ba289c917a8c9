"""The README's examples do what it says: its program serves the client
sessions it shows, its snippets run, and its bytes are what MessagePack
writes for the values it names."""

import os
import re
import signal
import socket
import subprocess
import sys

import msgpack
import pytest

from support import HERE, free_port, is_listening, python_script, wait_for

README = (HERE.parent / "README.md").read_text()
BLOCKS = re.findall(r"^```(\w+)\n(.*?)^```$", README, re.MULTILINE | re.DOTALL)
# Whole programs open with a comment naming their file: "# lamp.py: ...".
PROGRAMS = {m[1]: code for lang, code in BLOCKS
            if lang == "python" and (m := re.match(r"# (\w+\.py): ", code))}
SNIPPETS = [code for lang, code in BLOCKS if lang == "python" and code not in PROGRAMS.values()]
[SESSION] = [code for lang, code in BLOCKS if code.startswith("# session.txt")]
[TRANSCRIPT] = [code for lang, code in BLOCKS if lang == "console" and "--file" in code]

# Every value whose encoding the README spells out.
WIRE_EXAMPLES = [
    [1, {"ClickButton": []}],
    [3, {"ToggleButton": [True]}],
    [5, {"DirectionalButton": [200]}],
    [6, {"Joystick": [[0.5, -1.0], 0.75]}],
    {"id": 3, "data": {"ToggleButton": {"value": True}}},
    [1, "Idle", {"ConfirmResult": [True]}],
    [2, "Error", {"ErrorResult": ["bad"]}],
]


def test_every_byte_example_is_the_encoding_of_its_value():
    documented = set(re.findall(r"`((?:[0-9A-F]{2} )+[0-9A-F]{2})`", README))
    expected = {msgpack.packb(v, use_single_float=True).hex(" ").upper() for v in WIRE_EXAMPLES}
    assert documented == expected


@pytest.mark.parametrize("snippet", SNIPPETS)
def test_snippet_runs(snippet):
    result = python_script(snippet)
    assert result.returncode == 0, result.stderr


def test_program_answers_clients_one_after_another(tmp_path):
    port = free_port()
    address = f"127.0.0.1:{port}"
    (tmp_path / "lamp.py").write_text(PROGRAMS["lamp.py"])
    (tmp_path / "session.txt").write_text(SESSION)
    with open(tmp_path / "server.out", "w+") as out:
        # Buffered, so that each print reaches the file in one write and
        # cannot be split by a progress line of the serve thread.
        env = {k: v for k, v in os.environ.items() if k != "PYTHONUNBUFFERED"}
        program = subprocess.Popen([sys.executable, "lamp.py", address], cwd=tmp_path, stdout=out,
                                   stderr=subprocess.STDOUT, text=True, env=env)
        try:
            command, *shown = TRANSCRIPT.replace("127.0.0.1:9000", address).splitlines()
            for _ in range(2):
                client = subprocess.run([sys.executable, HERE.parent / "examples" / "client.py",
                                         *command.split()[3:]],
                                        cwd=tmp_path, capture_output=True, text=True, timeout=60)
                assert client.stdout.splitlines() == shown, client.stderr
            wait_for(lambda: is_listening(port), what="the program waiting again")
            program.send_signal(signal.SIGINT)
            assert program.wait(timeout=20) == 0
        finally:
            program.kill()
        out.seek(0)
        printed = out.read().splitlines()
    assert [line for line in printed if not line[0].isupper() and line != "done"] == [
        f"waiting for a client on {address}", "running action", "lamp on", "after function",
        "running action", "steer by (0.5, 0.0)", "after function", "running action", "after function",
        "running action", "after function"] * 2 + [f"waiting for a client on {address}", "stopped"]


def client(address: str, *events: str) -> list[str]:
    """The example client, playing the phone for one connection."""
    done = subprocess.run([sys.executable, HERE.parent / "examples" / "client.py", "--wait", "0.3",
                           address, *events], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return [line.removeprefix("client: ") for line in done.stdout.splitlines()
            if not line.startswith(("client: connected", "client: sent"))]


def run_program(tmp_path, name: str, sessions) -> list[str]:
    """Runs one of the README's programs, plays `sessions` against it (each
    a list of client events), then stops it with Ctrl-C; its printed lines."""
    port = free_port()
    (tmp_path / name).write_text(PROGRAMS[name])
    program = subprocess.Popen([sys.executable, name, f"127.0.0.1:{port}"], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        for events in sessions:
            wait_for(lambda: is_listening(port), what="the program waiting for a phone")
            events(f"127.0.0.1:{port}")
        wait_for(lambda: is_listening(port), what="the program waiting again")
        program.send_signal(signal.SIGINT)
        out, err = program.communicate(timeout=20)
        assert program.returncode == 0, err
        return out.splitlines()
    finally:
        program.kill()


def test_robot_stops_whenever_the_phone_is_gone(tmp_path):
    def silent(address):
        host, port = address.split(":")
        with socket.create_connection((host, int(port)), timeout=20) as phone:
            assert phone.recv(1) == b"", "the connection ends after a second of silence"
    lines = run_program(tmp_path, "robot.py", [
        lambda address: client(address, "joystick", "1", "0.5", "1", "0.5"),
        lambda address: (client(address, "press", "2", "on") == ["reply to 2: Idle, ConfirmResult(True)"]
                         or pytest.fail("no reply to the brake")),
        silent,
        lambda address: client(address, "raw", "91", "03"),
    ])
    stop, wait = "motors +0.00 +0.00", "waiting for a phone"
    assert lines == [wait, "motors +0.75 +0.25", stop, wait, stop, stop, wait, stop, wait,
                     "session failed: invalid length 1, expected struct Frame with 2 elements",
                     stop, wait, stop]


def test_asyncio_program_steers_and_stops(tmp_path):
    lines = run_program(tmp_path, "robot_async.py", [
        lambda address: client(address, "joystick", "1", "0.5", "-1", "1"),
    ])
    assert lines == ["steer +0.50 -1.00", "stop"]
