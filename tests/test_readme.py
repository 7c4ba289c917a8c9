"""The examples of the README and of docs/ do what they say: their programs
serve the client sessions they show, their snippets run, and their bytes are
what MessagePack writes for the values they name. The behaviour itself is
tested elsewhere; here the manual is held to it, run as a reader would run
it."""

import re
import signal

import msgpack
import pytest

from support import HERE, finish, free_port, is_listening, scenario, start_peer, start_scenario, wait_for

# The README and the pages it links to, as one manual.
MANUAL = "\n".join(page.read_text() for page in
                   [HERE.parent / "README.md", *sorted((HERE.parent / "docs").glob("*.md"))])
BLOCKS = re.findall(r"^```(\w+)\n(.*?)^```$", MANUAL, re.MULTILINE | re.DOTALL)
# Whole programs open with a comment naming their file: "# lamp.py: ...".
PROGRAMS = {m[1]: code for lang, code in BLOCKS
            if lang == "python" and (m := re.match(r"# (\w+\.py): ", code))}
SNIPPETS = [code for lang, code in BLOCKS if lang == "python" and code not in PROGRAMS.values()]
[SESSION] = [code for lang, code in BLOCKS if code.startswith("# session.txt")]
[TRANSCRIPT] = [code for lang, code in BLOCKS if lang == "console" and "--file" in code]

# Every value whose encoding the manual spells out.
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
    # Against msgpack, a client's own library, rather than the server: the
    # server's bytes are checked by the C++ tests and the serving tests.
    documented = set(re.findall(r"`((?:[0-9A-F]{2} )+[0-9A-F]{2})`", MANUAL))
    expected = {msgpack.packb(v, use_single_float=True).hex(" ").upper() for v in WIRE_EXAMPLES}
    assert documented == expected


@pytest.mark.parametrize("snippet", SNIPPETS)
def test_snippet_runs(snippet):
    result = scenario(snippet, helpers=False)
    assert result.returncode == 0, result.stderr


@pytest.mark.once
def test_program_answers_clients_one_after_another(tmp_path):
    (tmp_path / "session.txt").write_text(SESSION)
    command, *shown = TRANSCRIPT.splitlines()
    arguments = command.split()[4:]  # after "$ python3 examples/client.py ADDRESS"

    def session(port):
        transcript = finish(start_peer(port, *arguments, tool=True, cwd=tmp_path), 60)
        assert transcript == [line.replace("127.0.0.1:9000", f"127.0.0.1:{port}") for line in shown]

    port = free_port()
    printed, err = run_program("lamp.py", port, [session, session])
    assert err == ""
    waiting = f"waiting for a client on 127.0.0.1:{port}"
    lines = [line for line in printed if not line[0].isupper() and line != "done"]
    # The serve thread writes its lines without the interpreter lock: the
    # main thread's next line may come before a session's last one.
    assert [line for line in lines if line not in ("running action", "after function")] == [
        waiting, "lamp on", "steer by (0.5, 0.0)"] * 2 + [waiting, "stopped"]
    assert [line for line in lines if line not in (waiting, "stopped")] == [
        "running action", "lamp on", "after function", "running action", "steer by (0.5, 0.0)",
        "after function", "running action", "after function", "running action", "after function"] * 2


def client(port: int, *events: str) -> list[str]:
    """The example client, playing the phone for one connection."""
    lines = finish(start_peer(port, *events, "--wait", "0.3", tool=True), 60)
    return [line.removeprefix("client: ") for line in lines
            if not line.startswith(("client: connected", "client: sent"))]


def run_program(name: str, port: int, sessions) -> tuple[list[str], str]:
    """Runs one of the README's programs on `port`, plays `sessions` against
    it (each a function of the port), then stops it with Ctrl-C; its printed
    lines and its standard error. Its output is block-buffered, as into any
    file or pipe, so that a print is one write that a progress line of the
    serve thread cannot split."""
    program = start_scenario(PROGRAMS[name], f"127.0.0.1:{port}", helpers=False,
                             env={"PYTHONUNBUFFERED": None})
    try:
        for session in sessions:
            wait_for(lambda: is_listening(port), what="the program waiting for a phone")
            session(port)
        wait_for(lambda: is_listening(port), what="the program waiting again")
        program.send_signal(signal.SIGINT)
        out, err = program.communicate(timeout=20)
        assert program.returncode == 0, err
        return out.splitlines(), err
    finally:
        program.kill()


def test_robot_stops_whenever_the_phone_is_gone():
    def silent(port):
        # The phone's socket reads the end of the stream after a second of silence.
        assert finish(start_peer(port, "eof")) == ["connected", "eof "]
    lines, _ = run_program("robot.py", free_port(), [
        lambda port: client(port, "joystick", "1", "0.5", "1", "0.5"),
        lambda port: (client(port, "press", "2", "on") == ["reply to 2: Idle, ConfirmResult(True)"]
                      or pytest.fail("no reply to the brake")),
        silent,
        lambda port: client(port, "raw", "91", "03"),
    ])
    stop, wait = "motors +0.00 +0.00", "waiting for a phone"
    assert lines == [wait, "motors +0.75 +0.25", stop, wait, stop, stop, wait, stop, wait,
                     "session failed: invalid length 1, expected struct Frame with 2 elements",
                     stop, wait, stop]


def test_asyncio_program_steers_and_stops():
    lines, _ = run_program("robot_async.py", free_port(), [
        lambda port: client(port, "joystick", "1", "0.5", "-1", "1"),
    ])
    assert lines == ["steer +0.50 -1.00", "stop"]
