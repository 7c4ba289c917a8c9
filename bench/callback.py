"""callback() against plain Python (msgpack.packb, then socket.sendall) sending
the same result frame to the same reader process, in alternating batches.
A third batch sends the already encoded bytes with socket.send: the cost of
the one system call that neither side can avoid."""

import socket
import time

import msgpack

from vantu_protocol import ComSocketServer, ConfirmResult, ServerStatus
from bench_support import free_port, listener, median, report, start_reader

FRAME = [1, "Idle", {"ConfirmResult": [True]}]
BATCH = 2000
ROUNDS = 40


def timed(send) -> float:
    start = time.perf_counter_ns()
    for _ in range(BATCH):
        send()
    return (time.perf_counter_ns() - start) / BATCH


def main() -> None:
    port = free_port()
    server = ComSocketServer(f"127.0.0.1:{port}")
    plain = listener()
    reader = start_reader(port, plain.getsockname()[1])
    server.open()
    conn, _ = plain.accept()
    # The module's connection has Nagle's algorithm off as well.
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    confirm, idle = ConfirmResult(True), ServerStatus.Idle
    encoded = msgpack.packb(FRAME)
    ours, theirs, floor = [], [], []
    for _ in range(ROUNDS):
        ours.append(timed(lambda: server.callback(1, idle, confirm)))
        theirs.append(timed(lambda: conn.sendall(msgpack.packb(FRAME))))
        floor.append(timed(lambda: conn.send(encoded)))
    server.close()
    conn.close()
    counts = [int(line) for line in reader.communicate()[0].split()]
    size = len(msgpack.packb(FRAME))
    assert counts == [ROUNDS * BATCH * size, 2 * ROUNDS * BATCH * size], counts
    report({"callback_ns": median(ours), "callback_python_ns": median(theirs),
            "callback_ratio_vs_python": median(ours) / median(theirs),
            "callback_send_floor_ns": median(floor)})


if __name__ == "__main__":
    main()
