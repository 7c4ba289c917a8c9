"""The interpreter exits while a serve loop runs, and clients misbehave: the
process must end normally, with its own exit status, whatever the loop is
doing, and a failing connection must give clean errors."""

import os
import sys
import time

import pytest

from vantu_protocol import ConfirmResult, ErrorResult, ServerStatus
from support import finish, frame, quiet_ports, scenario, start_scenario

SCRIPT = """
    import threading
    port, phase = int(sys.argv[1]), sys.argv[2]
    steps = {"sleeping": ["sleep:5"], "waiting": ["sleep:5"],
             "acting": ["send:" + frame("ClickButton", 1, []).hex(), "sleep:5"]}[phase]
    started = threading.Event()
    s = Served(*steps, port=port, capture=False,
               actions={"ClickButton_1": lambda e: (started.set(), time.sleep(5))})
    if phase == "acting":
        started.wait(30)
    else:
        time.sleep({"sleeping": 0.1, "waiting": 0.8}[phase])
    s.peer.kill()
    sys.exit(7)
"""

# At least fifty exits in all; the runs of a phase go side by side, as they
# mostly sleep.
RUNS_PER_PHASE = 17


@pytest.mark.parametrize("phase", ["sleeping", "waiting", "acting"])
def test_exit_while_serving(phase):
    runs = [start_scenario(SCRIPT, port, phase) for port in quiet_ports(RUNS_PER_PHASE)]
    for run in runs:
        out, err = run.communicate(timeout=90)
        assert run.returncode == 7, err
        assert err == ""
        if phase == "acting":
            # The interpreter ended while the action ran.
            assert out.splitlines()[-1] == "running action"


def is_send_error(error: Exception) -> bool:
    """Broken pipe or reset by peer, in the module's error format."""
    return str(error).endswith(("(os error 32)", "(os error 104)"))


def assert_sends_fail_cleanly(server):
    for _ in range(3):
        with pytest.raises(RuntimeError) as info:
            for _ in range(100):
                server.callback(1, ServerStatus.Idle, ConfirmResult(True))
                time.sleep(0.01)
        assert is_send_error(info.value), info.value


CLICK_1 = frame("ClickButton", 1, [])


@pytest.mark.parametrize("cut", [1, 5, len(CLICK_1) - 1])
def test_client_resetting_mid_frame_ends_the_loop_with_a_clear_error(served, cut):
    s = served("send:" + CLICK_1[:cut].hex(), "sleep:0.8", "reset")
    finish(s.peer)
    err = s.output.wait_err("\n")
    # The reset normally reaches the read; should the kernel hand over the
    # bytes and then the end of the stream, it is a truncated frame.
    assert (err == "Failed to read frame : Connection reset by peer (os error 104)\n"
            or err.startswith("IO error while reading")), err
    with pytest.raises(RuntimeError, match="^sending on a closed channel$"):
        s.server.close()
    assert_sends_fail_cleanly(s.server)


def flood(server) -> RuntimeError:
    """Sends large results until a send fails; once the client's buffers
    are full, each send blocks until the client reads or leaves."""
    big = ErrorResult("x" * 60_000)
    with pytest.raises(RuntimeError) as info:
        for _ in range(100_000):
            server.callback(2, ServerStatus.Error, big)
    return info.value


def test_callback_to_a_client_that_stopped_reading(served):
    s = served("sleep:1.5", "close")
    assert is_send_error(flood(s.server))
    finish(s.peer)
    assert_sends_fail_cleanly(s.server)


def test_action_flooding_a_client_that_stopped_reading(served):
    errors = []

    def answer(event):
        errors.append(flood(s.server))

    s = served("send:" + CLICK_1.hex(), "sleep:1.5", "close", actions={"ClickButton_1": answer})
    s.output.wait_line("after function")
    finish(s.peer)
    [error] = errors
    assert is_send_error(error), error


@pytest.mark.parametrize("pause", [0, 0.3, 0.8, 1.6])
def test_close_does_not_wait_for_a_silent_client(served, pause):
    # The client neither sends nor closes: without close() the loop would
    # wait for it for ever, whether it is in its pause or in its read.
    s = served("eof")
    time.sleep(pause)
    assert s.stop() == ["connected", "eof "]


def test_default_sigpipe_does_not_kill_on_sends_to_a_closed_peer():
    result = scenario("""
        import signal
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)
        errors = []
        def answer_many(event=None):
            for _ in range(20):
                try:
                    s.server.callback(1, ServerStatus.Idle, ConfirmResult(True))
                except RuntimeError as e:
                    errors.append(str(e))
                time.sleep(0.01)
        s = Served("send:" + frame("ClickButton", 1, []).hex(), "close", serve=False, capture=False,
                   actions={"ClickButton_1": answer_many})
        finish(s.peer)
        s.server.serve()
        answer_many()
        main_errors = len(errors)
        wait_for(lambda: len(errors) > main_errors, 20, "the action's errors")
        time.sleep(0.3)
        print("errors", main_errors, len(errors) - main_errors, sorted(set(errors)))
    """)
    assert result.returncode == 0, (result.returncode, result.stderr)
    [line] = [line for line in result.stdout.splitlines() if line.startswith("errors")]
    _, from_main, from_action, texts = line.split(" ", 3)
    assert int(from_main) > 0 and int(from_action) > 0
    assert all(text.endswith(("(os error 32)'", "(os error 104)'"))
               for text in texts.strip("[]").split(", ")), texts


# AddressSanitizer's runtime stops itself inside a forced unwind at a
# thread's end, and its checks report the null reference by which C++
# runtimes catch one.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="sanitizer runtimes do not follow a forced unwind")
def test_exit_while_the_loop_waits_for_the_lock():
    # A finalizer outlasts the action's sleep, so the serve thread asks for
    # the lock back while the interpreter finalizes. Until 3.13 the
    # interpreter ends it there: it unwinds the thread's C++ frames
    # (pthread_exit), which must work with the C++ runtime and unwinder the
    # module was linked with. Since 3.14 it leaves the thread blocked in that
    # wait for good (CPython gh-87135); the process must still end, with its
    # status and nothing on standard error. The action's globals are not
    # __main__'s: the loop's reference to it would keep the witness alive
    # past finalization.
    result = scenario("""
        class Witness:
            def __init__(self):
                self.write, self.sleep, self.listdir = os.write, time.sleep, os.listdir
            def __del__(self):
                before = len(self.listdir("/proc/self/task"))
                self.sleep(1.5)
                after = len(self.listdir("/proc/self/task"))
                self.write(1, f"finalized: threads {before} -> {after}\\n".encode())
        started = []
        namespace = {"time": time, "started": started}
        exec("def action(event):\\n    started.append(1)\\n    time.sleep(0.5)\\n", namespace)
        port = free_port()
        server = ComSocketServer(f"127.0.0.1:{port}")
        server.on(1, "ClickButton", namespace["action"])
        peer = start_peer(port, "send:" + frame("ClickButton", 1, []).hex(), "sleep:5")
        server.open()
        server.serve()
        wait_for(lambda: started, 20, "the action")
        witness = Witness()
        peer.kill()
        sys.exit(3)
    """)
    assert (result.returncode, result.stderr) == (3, "")
    *_, last_step, finalized = result.stdout.splitlines()
    before, after = map(int, finalized.removeprefix("finalized: threads ").split(" -> "))
    # Whether the serve thread ended during finalization (an emulator may
    # run threads of its own, so only the difference counts).
    ended = 1 if sys.version_info < (3, 14) else 0
    assert (last_step, before - after) == ("running action", ended), result.stdout
