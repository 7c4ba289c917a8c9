"""The live latency and callback figures of two builds of the module, before
and after a change, in one run: each round runs, for each build in turn
(the order alternating), one round of latency.py's live receiver and
callback.py, each in a process whose PYTHONPATH is that build. Each figure
is the median of the rounds, next to the smallest and largest round: the
run-to-run spread that a ratio has to clear to mean anything.

    python before_after.py BEFORE_BUILD AFTER_BUILD [BEFORE_LABEL]
"""

import json
import os
import subprocess
import sys
from pathlib import Path

from bench_support import HERE, median, report

ROUNDS = 5
# (script and its arguments, the keys of its result line that are kept)
MEASURES = [(["latency.py", "live"], ["latency_live_p50_us", "latency_live_p99_us"]),
            (["callback.py"], ["callback_ns"])]


def run(build: str, args: list[str]) -> dict:
    env = {**os.environ, "PYTHONPATH": build}
    done = subprocess.run([sys.executable, str(HERE / args[0]), *args[1:]], env=env,
                          capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        raise RuntimeError(f"{args} with {build} failed:\n{done.stderr}")
    return json.loads(done.stdout.splitlines()[-1])


def check_module(build: str) -> None:
    """Each build's processes load that build's module, not another found first."""
    where = subprocess.run([sys.executable, "-c", "import vantu_protocol; print(vantu_protocol.__file__)"],
                           env={**os.environ, "PYTHONPATH": build}, capture_output=True, text=True,
                           check=True).stdout.strip()
    if Path(where).resolve().parent != Path(build).resolve():
        raise RuntimeError(f"the module for {build} came from {where}")


def main() -> None:
    builds = {"before": sys.argv[1], "after": sys.argv[2]}
    for build in builds.values():
        check_module(build)
    keys = [key for _, kept in MEASURES for key in kept]
    rounds: dict[str, dict[str, list[float]]] = {name: {key: [] for key in keys} for name in builds}
    names = list(builds)
    for turn in range(ROUNDS):
        for name in names[turn % 2:] + names[:turn % 2]:
            for args, kept in MEASURES:
                measured = run(builds[name], args)
                for key in kept:
                    rounds[name][key].append(measured[key])
    figures: dict[str, float] = {}
    for key in keys:
        stem, unit = key.removeprefix("latency_").rsplit("_", 1)
        for name in names:
            values = rounds[name][key]
            figures[f"{stem}_{name}_{unit}"] = median(values)
            figures[f"{stem}_{name}_min_{unit}"] = min(values)
            figures[f"{stem}_{name}_max_{unit}"] = max(values)
        figures[f"{stem}_after_vs_before"] = figures[f"{stem}_after_{unit}"] / figures[f"{stem}_before_{unit}"]
    label = sys.argv[3] if len(sys.argv) > 3 else builds["before"]
    report({"before_after_label": label, **figures})


if __name__ == "__main__":
    main()
