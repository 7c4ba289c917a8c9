"""Serving for live control: loop settings, sessions that end and say why,
waits without the interpreter lock, timeouts and keepalive."""

import os
import shutil
import signal
import threading
import time

import pytest

from vantu_protocol import ComSocketServer, ConfirmResult, ErrorResult, ServerStatus
from support import finish, frame, free_port, is_listening, scenario, start_scenario, wait_for

CLICK_1 = "send:" + frame("ClickButton", 1, []).hex()
LIVE = {"cycle": 0, "progress": False}


def test_defaults():
    server = ComSocketServer("127.0.0.1:1")
    assert (server.cycle, server.progress, server.idle_timeout, server.send_timeout,
            server.connected) == (0.5, True, None, None, False)


@pytest.mark.parametrize("name, value, error", [
    ("cycle", -0.001, ValueError), ("cycle", float("nan"), ValueError),
    ("cycle", float("inf"), ValueError), ("cycle", 10 ** 400, ValueError),
    ("cycle", "0", TypeError), ("cycle", None, TypeError), ("cycle", True, TypeError),
    ("progress", 0, TypeError), ("progress", None, TypeError),
    ("idle_timeout", 0, ValueError), ("idle_timeout", -1.0, ValueError),
    ("idle_timeout", float("-inf"), ValueError), ("idle_timeout", "1", TypeError),
    ("send_timeout", 0.0, ValueError), ("send_timeout", float("nan"), ValueError),
    ("send_timeout", b"1", TypeError),
])
def test_bad_values_change_nothing(name, value, error):
    server = ComSocketServer("127.0.0.1:1")
    before = getattr(server, name)
    with pytest.raises(error, match=name):
        setattr(server, name, value)
    assert getattr(server, name) == before
    with pytest.raises(AttributeError):
        delattr(server, name)


@pytest.mark.parametrize("name, value, read", [
    ("cycle", 0, 0.0), ("cycle", 2, 2.0), ("cycle", 0.05, 0.05), ("progress", False, False),
    ("idle_timeout", 1, 1.0), ("idle_timeout", None, None), ("send_timeout", 0.25, 0.25),
])
def test_good_values_read_back(name, value, read):
    server = ComSocketServer("127.0.0.1:1")
    setattr(server, name, value)
    assert getattr(server, name) == read and type(getattr(server, name)) is type(read)


@pytest.mark.parametrize("call, error", [
    (lambda s: s.wait(-1), ValueError), (lambda s: s.wait("1"), TypeError),
    (lambda s: s.accept(float("nan")), ValueError), (lambda s: s.accept(timeout=[]), TypeError),
    (lambda s: s.wait(), RuntimeError),  # before any serve()
])
def test_bad_calls(call, error):
    server = ComSocketServer("127.0.0.1:1")
    with pytest.raises(error, match="timeout|^Bad Server state$"):
        call(server)
    assert not server.connected


def raise_and_keep(kept):
    def action(event):
        kept.append(ValueError("boom"))
        raise kept[-1]
    return action


@pytest.mark.parametrize("settings", [{}, LIVE], ids=["defaults", "live"])
@pytest.mark.parametrize("steps, outcome", [
    (["close"], True),
    (["reset"], True),
    ([CLICK_1, "eof"], ValueError),
    (["send:9103", "eof"], "invalid length 1, expected struct Frame with 2 elements"),
])
def test_wait_says_how_the_session_ended(served, settings, steps, outcome):
    kept = []
    s = served(*steps, actions={"ClickButton_1": raise_and_keep(kept)}, **settings)
    for _ in range(2):  # the same answer until the next serve()
        if outcome is True:
            assert s.server.wait(20) is True
        elif outcome is ValueError:
            with pytest.raises(ValueError) as info:
                s.server.wait(20)
            assert info.value is kept[0]
            assert "action" in [tb.tb_frame.f_code.co_name for tb in _walk(info.value.__traceback__)]
        else:
            with pytest.raises(ValueError, match=f"^{outcome}$"):
                s.server.wait(20)
        assert not s.server.connected


def _walk(tb):
    while tb:
        yield tb
        tb = tb.tb_next


@pytest.mark.parametrize("ending", ["action raises", "close()"])
def test_many_waits_at_once_see_one_end(served, ending):
    kept = []
    s = served("sleep:0.3", CLICK_1, "eof", actions={"ClickButton_1": raise_and_keep(kept)}, **LIVE)
    results = []

    def wait():
        try:
            results.append(s.server.wait(20))
        except ValueError as e:
            results.append(e)

    threads = [threading.Thread(target=wait) for _ in range(8)]
    if ending == "close()":
        threads.append(threading.Thread(target=s.server.close))
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 8 and len({id(r) for r in results}) == 1
    assert results[0] is (True if ending == "close()" else kept[0])


def test_wait_timeout_and_close_from_another_thread(served):
    s = served("eof", **LIVE)
    assert s.server.wait(0.2) is False and s.server.connected
    threading.Timer(0.2, s.server.close).start()
    assert s.server.wait(20) is True and not s.server.connected
    assert finish(s.peer) == ["connected", "eof "]


def test_connected_through_a_session(served):
    s = served("sleep:0.5", "close", connect=None, serve=False, **LIVE)
    assert not s.server.connected
    assert s.server.accept(20) and s.server.connected
    s.serve()
    assert s.server.connected
    assert s.server.wait(20) and not s.server.connected
    s.server.close()
    assert not s.server.connected


def test_accept_times_out_without_holding_the_lock_and_changes_nothing():
    server = ComSocketServer(f"127.0.0.1:{free_port()}")
    ticks = []
    ticker = threading.Thread(target=lambda: [ticks.append(time.sleep(0.01)) for _ in range(20)])
    ticker.start()
    assert server.accept(0.5) is False
    ticker.join()
    assert len(ticks) == 20, "other threads run while accept() waits"
    assert not is_listening(int(server.address.rsplit(":", 1)[1])) and not server.connected
    with pytest.raises(RuntimeError, match="^Bad Server state$"):
        server.serve()


def test_close_ends_a_wait_in_accept_then_accept_serves(served):
    s = served(progress=False)  # its client comes later
    threading.Timer(0.3, s.server.close).start()
    assert s.server.accept() is False
    events = []
    s.server.on(1, "ClickButton", events.append)
    s.client(CLICK_1, "eof")
    assert s.server.accept(20) is True
    s.serve()
    wait_for(lambda: events, what="the action")
    s.server.close()
    assert finish(s.peer) == ["connected", "eof "]


def test_idle_timeout_shuts_a_silent_client_out(served):
    s = served("eof", cycle=0, idle_timeout=0.3)
    assert s.server.wait(20) is True
    assert finish(s.peer) == ["connected", "eof "]
    assert s.server.close() is None  # the loop waited for it
    assert s.server.close() is None  # and a live loop's close() may come twice


def test_send_timeout_against_a_client_that_never_reads(served):
    s = served("sleep:30", send_timeout=0.2, **LIVE)
    big = ErrorResult("x" * 60_000)
    with pytest.raises(TimeoutError, match="0.2 s"):
        for _ in range(10_000):
            s.server.callback(2, ServerStatus.Error, big)
    assert s.server.wait(0) is True and not s.server.connected
    with pytest.raises(RuntimeError, match=r"os error (32|104)"):
        s.server.callback(2, ServerStatus.Idle, ConfirmResult(True))


def test_settings_reach_the_next_serve_quiet_loop_prints_nothing(served):
    s = served(CLICK_1, "sleep:0.3", CLICK_1, "eof", actions={"ClickButton_1": print})
    s.server.progress = False
    s.server.cycle = 0
    s.output.wait_line("done", count=2)  # the running loop kept its settings
    s.stop()
    quiet = served(CLICK_1, "close", actions={"ClickButton_1": lambda e: None}, **LIVE)
    assert quiet.server.wait(20)
    quiet.server.close()
    time.sleep(0.3)
    assert quiet.output.out == "" and quiet.output.err == ""


def test_no_reads_after_the_end_of_stream_with_cycle_0(served):
    s = served("close", cycle=0)
    assert s.server.wait(20)
    time.sleep(1)  # two cycles of the default loop
    s.stop()
    assert s.lines().count("Received size : 0") == 1


@pytest.mark.parametrize("call", ["accept()", "wait()"])
def test_ctrl_c_ends_a_wait(call):
    proc = start_scenario("""
        call = sys.argv[1]
        if call == "wait()":
            s = Served("sleep:30", connect="accept", capture=False)
        else:
            s = Served(capture=False)  # no client: accept() waits for ever
        print("waiting", flush=True)
        try:
            {"accept()": s.server.accept, "wait()": s.server.wait}[call]()
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        for peer in s.peers:
            peer.kill()
    """, call)
    assert proc.stdout.readline() == "waiting\n"
    time.sleep(0.3)
    proc.send_signal(signal.SIGINT)
    out, _ = proc.communicate(timeout=20)
    assert out == "interrupted\n"


@pytest.mark.once
@pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("unshare") or not shutil.which("nft"),
                    reason="needs root, unshare and nft for a private network")
def test_keepalive_notices_a_client_that_vanished():
    # In a network namespace of its own, a rule then drops every packet: the
    # client is gone without a word, as a phone that left the Wi-Fi.
    result = scenario("""
        import subprocess
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        s = Served("sleep:60", port=9000, connect="accept", capture=False, progress=False)
        for rule in ["add table inet t", "add chain inet t c { type filter hook input priority 0; }",
                     "add rule inet t c drop"]:
            subprocess.run(["nft", *rule.split()], check=True)
        start = time.monotonic()
        print("over", s.server.wait(60), round(time.monotonic() - start), s.server.connected, flush=True)
        s.peer.kill()
    """, prefix=("unshare", "-n"), timeout=90)
    _, over, seconds, connected = result.stdout.split()
    assert (over, connected) == ("True", "False"), result.stderr
    assert "Connection timed out" in result.stderr
    print(f"noticed after {seconds} s")
