"""The age of the joystick position an action sees, without and with
`coalesce`. A client process streams Joystick 1 frames at 50 Hz, frame n
carrying n as delta.x, to a live server (cycle 0, progress off) whose action
takes 25 ms: longer than the period, so frames queue behind it. The age of
a run is the action's start minus the send time of the frame it got, both
CLOCK_MONOTONIC. Rounds alternate the two settings; each figure is the
median of its rounds.

    python coalesce.py
"""

import subprocess
import sys
import time

from vantu_protocol import ComSocketServer
from bench_support import HERE, free_port, median, module_session, percentile, report

COUNT = 500
PERIOD_MS = 20
ACTION_S = 0.025
ROUNDS = 2


class Runs:
    """What the action saw: when each run started and ended, and the frame
    number it got."""

    def __init__(self) -> None:
        self.starts: list[int] = []
        self.ends: list[int] = []
        self.frames: list[int] = []

    def action(self, event, clock=time.perf_counter_ns) -> None:
        self.starts.append(clock())
        self.frames.append(int(event.delta.x))
        time.sleep(ACTION_S)
        self.ends.append(clock())


def one_round(coalesce: bool) -> tuple[list[float], Runs]:
    """The age of every run, in ms, and the runs."""
    port = free_port()
    server = ComSocketServer(f"127.0.0.1:{port}")
    server.cycle, server.progress, server.coalesce = 0, False, coalesce
    client = subprocess.Popen([sys.executable, str(HERE / "stream.py"), str(port), str(COUNT),
                               str(PERIOD_MS), "Joystick"], stdout=subprocess.PIPE, text=True)
    runs = Runs()
    module_session(server, "Joystick", [1], runs.action)
    sent = [int(line) for line in client.communicate(timeout=60)[0].split()]
    if client.returncode != 0 or len(sent) != COUNT:
        raise RuntimeError(f"the client sent {len(sent)} of {COUNT} frames")
    # Skipping may drop any frame but the last, and never reorders.
    if runs.frames[-1:] != [COUNT - 1] or runs.frames != sorted(set(runs.frames)):
        raise RuntimeError("the action did not get the frames in order, ending with the last")
    if not coalesce and len(runs.frames) != COUNT:
        raise RuntimeError(f"without coalesce, {len(runs.frames)} of {COUNT} frames ran")
    return [(start - sent[n]) / 1e6 for start, n in zip(runs.starts, runs.frames)], runs


def main() -> None:
    kinds = {"off": False, "on": True}
    p50s: dict[str, list[float]] = {kind: [] for kind in kinds}
    p90s: dict[str, list[float]] = {kind: [] for kind in kinds}
    counts: dict[str, list[int]] = {kind: [] for kind in kinds}
    durations: list[float] = []
    names = list(kinds)
    for turn in range(ROUNDS):
        for kind in names[turn % 2:] + names[:turn % 2]:
            ages, runs = one_round(kinds[kind])
            p50s[kind].append(percentile(ages, 50))
            p90s[kind].append(percentile(ages, 90))
            counts[kind].append(len(ages))
            durations += [(end - start) / 1e6 for start, end in zip(runs.starts, runs.ends)]
    # The action's own time as it ran here: a sleep overshoots a little.
    results = {"coalesce_action_ms": median(durations), "coalesce_frames_sent": COUNT}
    for kind in names:
        results[f"coalesce_{kind}_p50_ms"] = median(p50s[kind])
        results[f"coalesce_{kind}_p90_ms"] = median(p90s[kind])
        results[f"coalesce_{kind}_frames_run"] = median(counts[kind])
        results[f"coalesce_{kind}_p50_vs_action"] = (results[f"coalesce_{kind}_p50_ms"]
                                                     / results["coalesce_action_ms"])
    report(results)


if __name__ == "__main__":
    main()
