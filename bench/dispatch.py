"""Dispatch of a burst of frames that arrives in one read: the serve loop
against a plain-Python dispatcher (msgpack.Unpacker, a dict lookup, the same
progress lines, the same action), in alternating rounds. The time per frame
runs from the first action of a burst to its last. Progress lines go to
/dev/null for both."""

import os
import threading
import time

import msgpack

from vantu_protocol import ComSocketServer
from bench_support import (TOGGLE_FRAME as FRAME, burst_rounds, free_port, median, per_item_ns,
                           plain_session, report, silence_stdout)

# 56 toggle frames fill one read.
COUNT = 1024 // len(FRAME)
ROUNDS = 15


class Stamps:
    def __init__(self) -> None:
        self.times: list[int] = []
        self.complete = threading.Event()

    def action(self, event) -> None:
        self.times.append(time.perf_counter_ns())
        if len(self.times) == COUNT:
            self.complete.set()

    def per_frame_ns(self) -> float:
        return per_item_ns(self.times)


def python_dispatch(conn, table) -> None:
    unpacker = msgpack.Unpacker()
    handled = 0
    while handled < COUNT:
        data = conn.recv(1024)
        os.write(1, b"Received size : %d\n" % len(data))
        unpacker.feed(data)
        for id, data in unpacker:
            (widget, fields), = data.items()
            action = table.get(f"{widget}_{id}")
            if action is None:
                os.write(1, f"No key {widget}_{id} found\n".encode())
            else:
                os.write(1, b"Found frame ! %d\n" % id)
                os.write(1, b"running action\n")
                action(fields)
                os.write(1, b"after function\n")
            os.write(1, b"done\n")
            handled += 1


def module_round(server) -> float:
    stamps = Stamps()
    server.on(3, "ToggleButton", stamps.action)
    server.open()
    server.serve()
    stamps.complete.wait()
    server.close()
    return stamps.per_frame_ns()


def python_round(plain) -> float:
    stamps = Stamps()
    # The whole burst is there before the first read.
    plain_session(plain, {"ToggleButton_3": stamps.action}, python_dispatch, settle=0.1)
    return stamps.per_frame_ns()


def main() -> None:
    out = silence_stdout()
    server = ComSocketServer(f"127.0.0.1:{free_port()}")
    ours, theirs = burst_rounds(FRAME * COUNT, ROUNDS, server, module_round, python_round)
    report({"dispatch_ns_per_frame": median(ours), "dispatch_python_ns_per_frame": median(theirs),
            "dispatch_ratio_vs_python": median(ours) / median(theirs)}, out)


if __name__ == "__main__":
    main()
