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
    ("joystick age p50 vs action time", "coalesce_on_p50_ms", "coalesce_action_ms",
     "coalesce_on_p50_vs_action", 2.0, "ms"),
    ("  the same, without coalesce", "coalesce_off_p50_ms", "coalesce_action_ms",
     "coalesce_off_p50_vs_action", None, "ms"),
    ("stream p50, WebSocket vs raw", "stream_ws_p50_us", "stream_raw_p50_us", "stream_ws_p50_vs_raw",
     1.15, "µs"),
    ("stream p99, WebSocket vs raw", "stream_ws_p99_us", "stream_raw_p99_us", "stream_ws_p99_vs_raw",
     None, "µs"),
    ("  p50 from the library's write", "stream_ws_wire_p50_us", "stream_raw_p50_us",
     "stream_ws_wire_p50_vs_raw", None, "µs"),
    ("  p99 from the library's write", "stream_ws_wire_p99_us", "stream_raw_p99_us",
     "stream_ws_wire_p99_vs_raw", None, "µs"),
    ("raw p50, page reloaded 10/s", "stream_reload_p50_us", "stream_raw_p50_us",
     "stream_reload_p50_vs_raw", None, "µs"),
    ("raw p99, page reloaded 10/s", "stream_reload_p99_us", "stream_raw_p99_us",
     "stream_reload_p99_vs_raw", None, "µs"),
    ("tap p50, browser vs raw TCP", "tap_browser_p50_us", "tap_raw_p50_us", "tap_browser_p50_vs_raw",
     None, "µs"),
    ("tap p99, browser vs raw TCP", "tap_browser_p99_us", "tap_raw_p99_us", "tap_browser_p99_vs_raw",
     None, "µs"),
    ("live p50, after vs before", "live_p50_after_us", "live_p50_before_us", "live_p50_after_vs_before",
     None, "µs"),
    ("live p99, after vs before", "live_p99_after_us", "live_p99_before_us", "live_p99_after_vs_before",
     None, "µs"),
    ("callback, after vs before", "callback_after_ns", "callback_before_ns", "callback_after_vs_before",
     None, "ns"),
]

# What a row's figure cannot go below, shown under it: (label, key, unit) by
# the row's ratio key. A bare socket.send of the encoded bytes is the floor
# of both sides of a callback; a DevTools command that does nothing, the
# harness's own part of a browser tap.
FLOORS = {"callback_ratio_vs_python": ("  one socket.send of the bytes", "callback_send_floor_ns", "ns"),
          "tap_browser_p50_vs_raw": ("  one DevTools command, no-op", "tap_cdp_p50_us", "µs")}

# The figures of before_after.py, by stem of their keys, and their unit. It
# runs only with a baseline given.
BEFORE_AFTER = [("live latency p50", "live_p50", "us"), ("live latency p99", "live_p99", "us"),
                ("callback", "callback", "ns")]
UNITS = {"us": "µs", "ns": "ns"}
OPTIONAL = {f"{stem}_after_vs_before" for _, stem, _ in BEFORE_AFTER}

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


def coalesce_table(results: dict) -> None:
    """The age of the joystick position an action sees, and how many frames ran."""
    if "coalesce_action_ms" not in results:
        return
    print(f"\n{'joystick age, ' + format(results['coalesce_action_ms'], '.1f') + ' ms action':32}"
          f" {'p50':>12} {'p90':>12}  frames run")
    for what, kind in (("without coalesce", "off"), ("with coalesce", "on")):
        print(f"{'  ' + what:32} {results[f'coalesce_{kind}_p50_ms']:9.1f} ms"
              f" {results[f'coalesce_{kind}_p90_ms']:9.1f} ms"
              f"  {results[f'coalesce_{kind}_frames_run']:g} of {results['coalesce_frames_sent']}")


def before_after_table(results: dict) -> None:
    """Both builds' figures, each the median of its rounds next to the
    smallest and largest round."""
    if "before_after_label" not in results:
        print("\nbefore/after: not run (VANTU_BASELINE unset)")
        return
    print(f"\nbefore = {results['before_after_label']}, after = this tree;"
          f" median [smallest, largest round]")
    print(f"{'':32} {'before':>28} {'after':>28} {'ratio':>7}")
    for what, stem, unit in BEFORE_AFTER:
        cells = [f"{results[f'{stem}_{name}_{unit}']:8.1f} [{results[f'{stem}_{name}_min_{unit}']:7.1f},"
                 f" {results[f'{stem}_{name}_max_{unit}']:7.1f}] {UNITS[unit]}" for name in ("before", "after")]
        print(f"{'  ' + what:32} {cells[0]:>28} {cells[1]:>28} {results[f'{stem}_after_vs_before']:7.3f}")


def main() -> None:
    results = codec_results(sys.argv[1])
    for path in sys.argv[2:]:
        with open(path) as f:
            results.update(json.loads(f.read().strip().splitlines()[-1]))
    print(f"{'benchmark':32} {'ours':>12} {'reference':>12} {'ratio':>7}  target")
    for what, ours, theirs, ratio, target, unit in ROWS:
        if ratio not in results:
            print(f"{what:32} {'not run' if ratio in OPTIONAL else 'missing':>12}")
            continue
        judged = "" if target is None else f"  <= {target} {verdict(results[ratio], target)}"
        print(f"{what:32} {results[ours]:9.1f} {unit} {results[theirs]:9.1f} {unit}"
              f" {results[ratio]:7.3f}{judged}")
        if ratio in FLOORS and FLOORS[ratio][1] in results:
            label, key, floor_unit = FLOORS[ratio]
            print(f"{label:32} {results[key]:9.1f} {floor_unit}")
    idle = results.get("idle_cpu_percent")
    if idle is not None:
        print(f"{'idle CPU, client connected':32} {idle:10.4f} %{'':21}  < 0.1 % "
              f"{verdict(idle, 0.1, below=True)}")
    takeover = results.get("takeover_live_first_action_ms")
    if takeover is not None:
        print(f"{'takeover of a half-open phone':32} {takeover:9.2f} ms{'':22}  < 100 ms "
              f"{verdict(takeover, 100, below=True)}")
    latency_table(results)
    coalesce_table(results)
    before_after_table(results)
    print(json.dumps(results))


if __name__ == "__main__":
    main()
