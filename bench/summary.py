"""Joins the results of every benchmark into a table for people and, as the
last line, one JSON object.

    python summary.py CODEC_OUTPUT RESULT_LINE_FILE...
"""

import json
import re
import sys

# The ratio lines that bench/codec prints after Google Benchmark's table.
CODEC_LINE = re.compile(r"^(\w+)\s+([\d.]+) ns\s+(\w+)\s+([\d.]+) ns\s+ratio ([\d.]+)")
CODEC_KEYS = {"decode_parse": "parse", "encode_bufferize": "bufferize", "encode_byte_sink": "encode"}

# (what, time key, reference time key, ratio key, target ratio)
ROWS = [
    ("parse, worked example 1", "parse_ns", "parse_msgpack_cxx_ns", "parse_ratio_vs_msgpack_cxx", 0.3),
    ("bufferize, result example 1", "bufferize_ns", "bufferize_msgpack_cxx_ns",
     "bufferize_ratio_vs_msgpack_cxx", 0.5),
    ("encode into inline storage", "encode_ns", "encode_msgpack_cxx_ns", "encode_ratio_vs_msgpack_cxx",
     0.5),
    ("callback to a TCP reader", "callback_ns", "callback_python_ns", "callback_ratio_vs_python", 0.6),
    ("dispatch, per frame of a burst", "dispatch_ns_per_frame", "dispatch_python_ns_per_frame",
     "dispatch_ratio_vs_python", 0.7),
]


def codec_results(path: str) -> dict:
    results = {}
    with open(path) as f:
        for line in f:
            match = CODEC_LINE.match(line)
            if match and match[1] in CODEC_KEYS:
                name = CODEC_KEYS[match[1]]
                results[f"{name}_ns"] = float(match[2])
                results[f"{name}_msgpack_cxx_ns"] = float(match[4])
                results[f"{name}_ratio_vs_msgpack_cxx"] = float(match[5])
    return results


def verdict(value: float, target: float, below: bool = False) -> str:
    return "met" if (value < target if below else value <= target) else "MISSED"


def main() -> None:
    results = codec_results(sys.argv[1])
    for path in sys.argv[2:]:
        with open(path) as f:
            results.update(json.loads(f.read().strip().splitlines()[-1]))
    print(f"{'benchmark':32} {'ours':>12} {'reference':>12} {'ratio':>7}  target")
    for what, ours, theirs, ratio, target in ROWS:
        if ratio not in results:
            print(f"{what:32} {'missing':>12}")
            continue
        print(f"{what:32} {results[ours]:9.1f} ns {results[theirs]:9.1f} ns {results[ratio]:7.3f}"
              f"  <= {target} {verdict(results[ratio], target)}")
        if ratio == "callback_ratio_vs_python" and "callback_send_floor_ns" in results:
            # A bare socket.send of the encoded bytes: the floor of both sides.
            print(f"{'  one socket.send of the bytes':32} {results['callback_send_floor_ns']:9.1f} ns")
    idle = results.get("idle_cpu_percent")
    if idle is not None:
        print(f"{'idle CPU, client connected':32} {idle:10.4f} %{'':21}  < 0.1 % "
              f"{verdict(idle, 0.1, below=True)}")
    print(json.dumps(results))


if __name__ == "__main__":
    main()
