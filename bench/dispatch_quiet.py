"""Dispatch of a burst of frames in one read with nothing printed: a serve
loop with cycle 0 and progress off against a plain-Python dispatcher without
prints (msgpack.Unpacker, a dict lookup), both calling the same action that
only stamps the time, in alternating rounds. The time per frame runs from
the first action of a burst to its last."""

from vantu_protocol import ComSocketServer
from bench_support import (TOGGLE_FRAME, burst_rounds, free_port, median, module_session,
                           per_item_ns, plain_session, report, stamper)

COUNT = 40
ROUNDS = 100


def checked(times: list[int]) -> float:
    if len(times) != COUNT:
        raise RuntimeError(f"{len(times)} of {COUNT} frames reached the action")
    return per_item_ns(times)


def module_round(server) -> float:
    times: list[int] = []
    module_session(server, "ToggleButton", [3], stamper(times))
    return checked(times)


def python_round(plain) -> float:
    times: list[int] = []
    plain_session(plain, {"ToggleButton_3": stamper(times)})
    return checked(times)


def main() -> None:
    server = ComSocketServer(f"127.0.0.1:{free_port()}")
    server.cycle = 0
    server.progress = False
    ours, theirs = burst_rounds(TOGGLE_FRAME * COUNT, ROUNDS, server, module_round, python_round)
    report({"dispatch_quiet_ns_per_frame": median(ours),
            "dispatch_quiet_python_ns_per_frame": median(theirs),
            "dispatch_quiet_ratio_vs_python": median(ours) / median(theirs)})


if __name__ == "__main__":
    main()
