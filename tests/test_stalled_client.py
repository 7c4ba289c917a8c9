"""A phone that stops reading: callback() waits without the interpreter lock,
frames stay whole, close() and Ctrl-C end the wait, and wait() says how the
session really ended."""

import signal
import threading
import time

import msgpack
import pytest

from vantu_protocol import ErrorResult, ServerStatus
from support import finish, frame, start_scenario, wait_for

LIVE = {"cycle": 0, "progress": False}
STALLED = "rcvbuf:65536"  # then the client reads nothing for a while
CLICK_1 = "send:" + frame("ClickButton", 1, []).hex()


def send_until_it_fails(server, errors: list | None = None) -> None:
    """60 kB frames until one raises, into `errors` if given."""
    try:
        for _ in range(10_000):
            server.callback(2, ServerStatus.Error, ErrorResult("x" * 60_000))
    except BaseException as e:
        if errors is None:
            raise
        errors.append(e)


def unpack(eof_line: str) -> tuple[list, bool]:
    """A peer's "eof HEX" line as frames, and whether no cut frame ends it."""
    received = bytes.fromhex(eof_line.split(" ", 1)[1])
    unpacker = msgpack.Unpacker()
    unpacker.feed(received)
    return list(unpacker), unpacker.tell() == len(received)


def test_other_threads_use_the_server_while_a_callback_waits(served):
    s = served(STALLED, "sleep:30", **LIVE)
    errors = []
    writers = [threading.Thread(target=send_until_it_fails, args=(s.server, errors))
               for _ in range(2)]
    writers[0].start()
    time.sleep(1)  # the buffers fill
    ticks = []
    ticker = threading.Thread(target=lambda: [ticks.append(time.sleep(0.01)) for _ in range(10)])
    ticker.start()
    ticker.join(5)
    assert len(ticks) == 10 and s.server.connected
    s.server.on(5, "ClickButton", print)  # neither raises "Already borrowed"
    writers[1].start()
    time.sleep(0.2)
    assert writers[0].is_alive() and writers[1].is_alive() and not errors
    s.server.close()
    for writer in writers:
        writer.join(5)
    assert [str(e) for e in errors] == ["Bad Server state"] * 2


def test_three_writers_lose_and_corrupt_no_frame(served):
    answered = []
    s = served(STALLED, *[CLICK_1] * 20, "sleep:0.5", "eof", serve=False, **LIVE,
               actions={"ClickButton_1": lambda e: answered.append(
                   s.server.callback(1, ServerStatus.Idle, ErrorResult("action")))})
    s.serve()  # once `s` is there for the actions
    threads = [threading.Thread(target=lambda id=id: [
        s.server.callback(id, ServerStatus.Busy, ErrorResult(f"{n:05}" + "y" * 20_000))
        for n in range(30)]) for id in (2, 3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(30)
    wait_for(lambda: len(answered) == 20, what="the actions' answers")
    s.server.close()
    frames, whole = unpack(finish(s.peer)[-1])
    texts = {id: [f[2]["ErrorResult"][0][:5] for f in frames if f[0] == id] for id in (1, 2, 3)}
    assert whole and texts[1] == ["actio"] * 20
    assert texts[2] == texts[3] == [f"{n:05}" for n in range(30)]


def release_then_raise(release: threading.Event, timeout: float = 20):
    release.wait(timeout)
    raise KeyError("late")


# How a session ends when several causes meet: a failure inside an action is
# what wait() reports, even when a callback of that action ended the
# connection first; otherwise the first cause wins.
@pytest.mark.parametrize("case, steps, idle, outcome", [
    ("action's callback times out", [STALLED, CLICK_1, "sleep:30"], None, TimeoutError),
    ("action swallows its timeout", [STALLED, CLICK_1, "sleep:30"], None, True),
    ("another thread's callback times out", [STALLED, "sleep:30"], None, True),
    ("close() before the action raises", [CLICK_1, "sleep:30"], None, True),
    ("idle timeout during a long action", [CLICK_1, "sleep:30"], 0.2, KeyError),
    ("end of stream after the action's timeout", [STALLED, CLICK_1, "sleep:1", "close"], None,
     TimeoutError),
])
def test_wait_tells_how_the_session_ended(served, case, steps, idle, outcome):
    release = threading.Event()
    action = {"action swallows its timeout": lambda: send_until_it_fails(s.server, []),
              "close() before the action raises": lambda: release_then_raise(release),
              "idle timeout during a long action": lambda: release_then_raise(release, 0.6),
              }.get(case, lambda: send_until_it_fails(s.server))
    s = served(*steps, actions={"ClickButton_1": lambda event: action()}, send_timeout=0.3,
               idle_timeout=idle, serve=False, **LIVE)
    s.serve()
    if case == "another thread's callback times out":
        pytest.raises(TimeoutError, send_until_it_fails, s.server)
    elif case == "close() before the action raises":
        s.server.close()
        release.set()
    if outcome is True:
        assert s.server.wait(20) is True
    else:
        pytest.raises(outcome, s.server.wait, 20)
    assert not s.server.connected


@pytest.mark.parametrize("where", ["main thread", "action"])
def test_ctrl_c_ends_a_blocked_callback(where):
    # The client reads after a while: a connection kept after the interrupt
    # must then carry only whole frames. (No click for the main thread: bytes
    # left unread would make close() a reset.)
    proc = start_scenario("""
        import threading
        where = sys.argv[1]
        served = threading.Event()  # the click may come before Served returns

        def flood(*_):
            served.wait()
            while True:
                s.server.callback(2, ServerStatus.Error, ErrorResult("x" * 60_000))
        s = Served("rcvbuf:65536", *["send:" + frame("ClickButton", 1, []).hex()] * (where == "action"),
                   "sleep:6", "eof", actions={"ClickButton_1": flood}, connect="accept",
                   serve=where == "action", capture=False, cycle=0, progress=False)
        served.set()
        print("sending", flush=True)
        try:
            s.server.wait() if where == "action" else flood()
        except KeyboardInterrupt:
            print("interrupted", s.server.connected, flush=True)
        if where == "main thread":
            if s.server.connected:
                s.server.callback(9, ServerStatus.Idle, ConfirmResult(True))
            s.server.close()
            print(finish(s.peer)[-1], flush=True)
        s.peer.kill()
    """, where)
    assert proc.stdout.readline() == "sending\n"
    time.sleep(1.5)  # the buffers fill, and the sender waits
    proc.send_signal(signal.SIGINT)
    started = time.monotonic()
    interrupted = proc.stdout.readline()
    took = time.monotonic() - started
    print(f"{where}: KeyboardInterrupt {took:.3f} s after SIGINT")
    assert took < 4, "the interrupt came before the client read again"
    out, err = proc.communicate(timeout=20)
    assert proc.returncode == 0 and interrupted.startswith("interrupted"), err
    if where == "main thread":
        frames, whole = unpack(out.splitlines()[-1])
        # Nothing of the frame written: the connection stays. Part of it: the
        # connection is shut down after it.
        assert whole == (interrupted == "interrupted True\n")
        assert frames[-1][0] == (9 if whole else 2)
