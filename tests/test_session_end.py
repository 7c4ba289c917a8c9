"""A session ends once, and then it is over: with actions slower than the
stream (a saturated loop), no action starts after the end is decided and
wait() returns once the running one has returned; a second serve() takes
over from a live loop between two frames; coalesce skips stale positions."""

import socket
import statistics
import threading
import time

import pytest

from vantu_protocol import ComSocketServer, ErrorResult, ServerStatus
from support import Stream, frame, free_port, joystick, scenario, wait_for

ACTION = 0.025
LIVE = {"cycle": 0, "progress": False}


class Actions:
    """What a slow joystick action saw: (seq, started, ended) per call; it
    raises at `fail_at`."""

    def __init__(self, fail_at: int | None = None) -> None:
        self.runs: list[tuple[int, float, float]] = []
        self.fail_at = fail_at
        self.raised: list[BaseException] = []

    def __call__(self, event) -> None:
        started = time.monotonic()
        time.sleep(ACTION)
        self.runs.append((int(event.delta.x), started, time.monotonic()))
        if int(event.delta.x) == self.fail_at:
            self.raised.append(ValueError("motor driver failed"))
            raise self.raised[-1]


def session(port: int, actions: Actions, **settings) -> ComSocketServer:
    server = ComSocketServer(f"127.0.0.1:{port}")
    for name, value in {**LIVE, **settings}.items():
        setattr(server, name, value)
    server.on(1, "Joystick", actions)
    return server


def fill_until_timeout(server: ComSocketServer) -> None:
    """callback() from another thread until the client, which never reads,
    makes it time out."""
    while True:
        try:
            server.callback(1, ServerStatus.Idle, ErrorResult("x" * 60000))
        except TimeoutError:
            return


# Each ending: settings, what the client does, what ends the session once
# ten actions have run, and what wait() gives.
ENDINGS = {
    "close() from another thread": ({}, {}, lambda s, port: s.close(), True),
    "a returning phone takes over": (
        {"takeover": True}, {},
        lambda s, port: socket.create_connection(("127.0.0.1", port)), True),
    "the idle timeout": ({"idle_timeout": 0.2}, {"count": 20}, None, True),
    "the phone leaves": ({}, {"count": 20, "close": True}, None, True),
    "a broken frame": ({}, {"count": 20, "tail": b"\xc1"}, None, ValueError),
    "a failed action": ({}, {}, "fail", ValueError),
    "a send timeout": ({"send_timeout": 0.2}, {"rcvbuf": 4096},
                       lambda s, port: fill_until_timeout(s), True),
}


@pytest.mark.parametrize("ending", ENDINGS)
def test_no_action_runs_after_the_end(ending):
    settings, client, trigger, outcome = ENDINGS[ending]
    port = free_port()
    actions = Actions(fail_at=10 if trigger == "fail" else None)
    server = session(port, actions, **settings)
    frames = [joystick(seq) for seq in range(client.get("count", 400))]
    if "tail" in client:
        frames.append(client["tail"])
    stream = Stream(port, frames, period=0.005, close=client.get("close", False),
                    rcvbuf=client.get("rcvbuf"))
    kept = []
    try:
        assert server.accept(20)
        server.serve()
        if callable(trigger):
            wait_for(lambda: len(actions.runs) >= 10, what="ten actions")
            decided = time.monotonic()
            threading.Thread(target=lambda: kept.append(trigger(server, port)), daemon=True).start()
        if outcome is True:
            assert server.wait(30) is True
        else:
            with pytest.raises(ValueError):
                server.wait(30)
        returned = time.monotonic()
        time.sleep(4 * ACTION)  # the stream goes on: a loop that went on would run more
        runs = list(actions.runs)
        assert runs and all(ended <= returned for _, _, ended in runs)
        assert not [seq for seq, started, _ in runs if started > returned]
        if ending.startswith("close()") or ending.startswith("a returning"):
            # The running action at most: the end comes before the next frame.
            assert len([seq for seq, started, _ in runs if started > decided]) <= 1
        if client.get("count"):
            assert [seq for seq, _, _ in runs] == list(range(len(runs)))
        if trigger == "fail":
            assert runs[-1][0] == 10
    finally:
        stream.stop()
        server.close()
        for sock in kept:
            if sock:
                sock.close()


def test_a_second_serve_takes_over_between_two_frames():
    port = free_port()
    seen: list[int] = []
    server = ComSocketServer(f"127.0.0.1:{port}")
    server.cycle, server.progress = 0, False
    server.on(1, "Joystick", lambda event: seen.append(int(event.delta.x)))
    stream = Stream(port, [joystick(seq) for seq in range(2000)], period=0.0005, chunk=7)
    try:
        assert server.accept(20)
        server.serve()
        for _ in range(40):
            time.sleep(0.02)
            server.serve()
        wait_for(lambda: len(seen) >= 2000 or not server.connected, 30, "every frame")
        assert seen == list(range(2000))
        assert server.connected
    finally:
        stream.stop()
        server.close()


@pytest.mark.once
def test_coalesce_runs_every_button_and_the_latest_position():
    ages = {}
    for coalesce in (False, True):
        port = free_port()
        runs: list[tuple[str, int, float]] = []

        def record(kind):
            def action(event):
                runs.append((kind, int(event.delta.x) if kind == "move" else event.pressed,
                             time.monotonic()))
                time.sleep(ACTION)
            return action
        server = ComSocketServer(f"127.0.0.1:{port}")
        server.cycle, server.progress, server.coalesce = 0, False, coalesce
        server.on(1, "Joystick", record("move"))
        server.on(2, "PressButton", record("press"))
        frames = [frame("PressButton", 2, [seq % 20 == 0]) if seq % 10 == 0 else joystick(seq)
                  for seq in range(100)]
        stream = Stream(port, frames, period=0.02)
        try:
            assert server.accept(20)
            server.serve()
            wait_for(lambda: len(stream.sent) == 100, 30, "the stream")
            wait_for(lambda: runs and runs[-1][:2] == ("move", 99), 30, "the last move")
        finally:
            stream.stop()
            server.close()
        moves = [seq for kind, seq, _ in runs if kind == "move"]
        assert [pressed for kind, pressed, _ in runs if kind == "press"] == [True, False] * 5
        assert moves == sorted(moves) and moves[-1] == 99
        assert (len(moves) < 90) == coalesce
        ages[coalesce] = statistics.median(at - stream.sent[seq] for kind, seq, at in runs
                                           if kind == "move")
    assert ages[True] < ages[False]


def test_a_blocked_standard_output_leaves_python_running():
    # The pipe takes the first lines of a frame, up to "running action", and
    # then no more, as a terminal paused with Ctrl-S: the loop waits in a
    # write after the action has run.
    result = scenario("""
        first_lines = len("Received size : 16\\nFound frame ! 1\\nrunning action\\n")
        read_end, write_end = os.pipe()
        os.write(write_end, b"x" * (65536 - first_lines))
        s = Served("send:" + frame("ClickButton", 1, []).hex(), capture=False, cycle=0,
                   actions={"ClickButton_1": lambda e: None}, connect=None, serve=False)
        os.dup2(write_end, 1)
        s.server.open()
        s.serve()
        ticks = 0
        deadline = time.monotonic() + 1
        while time.monotonic() < deadline:
            time.sleep(0.01)
            ticks += 1
        os.write(2, f"ticks {ticks}".encode())
        os._exit(0)
    """)
    assert int(result.stderr.split()[-1]) > 20
