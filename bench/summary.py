"""Joins the results of every benchmark into a table for people and, as the
last line, one JSON object.

    python summary.py CODEC_OUTPUT RESULT_LINE_FILE...
"""

import json
import re
import sys

# The ratio lines that bench/codec prints after Google Benchmark's table,
# by benchmark: the name of its keys and of its reference's.
CODEC_LINE = re.compile(r"^(\w+)\s+([\d.]+) ns\s+(\w+)\s+([\d.]+) ns\s+ratio ([\d.]+)")
CODEC_KEYS = {"decode_parse": ("parse", "msgpack_cxx"), "encode_byte_sink": ("encode", "msgpack_cxx"),
              "split_every_byte": ("split_every_byte", "whole"),
              "split_1024_reads": ("split_1024_reads", "whole")}

# (what, time key, reference time key, ratio key, target ratio or None, unit)
ROWS = [
    ("parse, worked example 1", "parse_ns", "parse_msgpack_cxx_ns", "parse_ratio_vs_msgpack_cxx",
     0.3, "ns"),
    ("encode into inline storage", "encode_ns", "encode_msgpack_cxx_ns",
     "encode_ratio_vs_msgpack_cxx", 0.5, "ns"),
    ("burst cut at every byte", "split_every_byte_ns", "split_every_byte_whole_ns",
     "split_every_byte_ratio_vs_whole", None, "ns"),
    ("burst in 1024-byte reads", "split_1024_reads_ns", "split_1024_reads_whole_ns",
     "split_1024_reads_ratio_vs_whole", None, "ns"),
    ("callback to a TCP reader", "callback_ns", "callback_python_ns", "callback_ratio_vs_python",
     0.6, "ns"),
    ("dispatch, per frame of a burst", "dispatch_ns_per_frame", "dispatch_python_ns_per_frame",
     "dispatch_ratio_vs_python", 0.7, "ns"),
    ("  the same, nothing printed", "dispatch_quiet_ns_per_frame",
     "dispatch_quiet_python_ns_per_frame", "dispatch_quiet_ratio_vs_python", 0.3, "ns"),
    ("latency p50, live vs C floor", "latency_live_p50_us", "latency_floor_p50_us",
     "latency_live_p50_vs_floor", 1.3, "µs"),
    ("latency p50, live vs Python", "latency_live_p50_us", "latency_python_p50_us",
     "latency_live_p50_vs_python", 0.85, "µs"),
    ("latency p99, live vs Python", "latency_live_p99_us", "latency_python_p99_us",
     "latency_live_p99_vs_python", 1.0, "µs"),
    ("latency p50, refused flood", "flood_p50_us", "quiet_p50_us", "flood_p50_vs_quiet", None, "µs"),
    ("latency p99, refused flood", "flood_p99_us", "quiet_p99_us", "flood_p99_vs_quiet", None, "µs"),
    ("  p99, flood with no listener", "flood_no_listener_p99_us", "quiet_p99_us",
     "flood_no_listener_p99_vs_quiet", None, "µs"),
]

# The receivers of the latency benchmark, by the name in their keys.
RECEIVERS = [("module, defaults", "default"), ("module, cycle 0, no progress", "live"),
             ("plain-Python thread", "python"), ("C floor: poll, recv, stamp", "floor")]


def codec_results(path: str) -> dict:
    results = {}
    with open(path) as f:
        for line in f:
            match = CODEC_LINE.match(line)
            if match and match[1] in CODEC_KEYS:
                name, reference = CODEC_KEYS[match[1]]
                results[f"{name}_ns"] = float(match[2])
                results[f"{name}_{reference}_ns"] = float(match[4])
                results[f"{name}_ratio_vs_{reference}"] = float(match[5])
    return results


def verdict(value: float, target: float, below: bool = False) -> str:
    return "met" if (value < target if below else value <= target) else "MISSED"


def latency_table(results: dict) -> None:
    """Both percentiles of every receiver of the latency benchmark."""
    if "latency_floor_p50_us" not in results:
        return
    print(f"\n{'event to action, 50 Hz':32} {'p50':>12} {'p99':>12}")
    for what, name in RECEIVERS:
        print(f"{'  ' + what:32} {results[f'latency_{name}_p50_us']:9.1f} µs"
              f" {results[f'latency_{name}_p99_us']:9.1f} µs")


def main() -> None:
    results = codec_results(sys.argv[1])
    for path in sys.argv[2:]:
        with open(path) as f:
            results.update(json.loads(f.read().strip().splitlines()[-1]))
    print(f"{'benchmark':32} {'ours':>12} {'reference':>12} {'ratio':>7}  target")
    for what, ours, theirs, ratio, target, unit in ROWS:
        if ratio not in results:
            print(f"{what:32} {'missing':>12}")
            continue
        judged = "" if target is None else f"  <= {target} {verdict(results[ratio], target)}"
        print(f"{what:32} {results[ours]:9.1f} {unit} {results[theirs]:9.1f} {unit}"
              f" {results[ratio]:7.3f}{judged}")
        if ratio == "callback_ratio_vs_python" and "callback_send_floor_ns" in results:
            # A bare socket.send of the encoded bytes: the floor of both sides.
            print(f"{'  one socket.send of the bytes':32} {results['callback_send_floor_ns']:9.1f} ns")
    idle = results.get("idle_cpu_percent")
    if idle is not None:
        print(f"{'idle CPU, client connected':32} {idle:10.4f} %{'':21}  < 0.1 % "
              f"{verdict(idle, 0.1, below=True)}")
    takeover = results.get("takeover_live_first_action_ms")
    if takeover is not None:
        print(f"{'takeover of a half-open phone':32} {takeover:9.2f} ms{'':22}  < 100 ms "
              f"{verdict(takeover, 100, below=True)}")
    latency_table(results)
    print(json.dumps(results))


if __name__ == "__main__":
    main()
