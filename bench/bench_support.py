"""Helpers shared by the Python benchmarks."""

import json
import os
import socket
import statistics
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listener() -> socket.socket:
    sock = socket.socket()
    sock.bind(("127.0.0.1", 0))
    sock.listen(1)
    return sock


def start_reader(*ports: int) -> subprocess.Popen:
    return subprocess.Popen([sys.executable, str(HERE / "reader.py"), *map(str, ports)],
                            stdout=subprocess.PIPE, text=True)


def median(values) -> float:
    return statistics.median(values)


def report(results: dict, out_fd: int = 1) -> None:
    """The benchmark's one result line, a JSON object."""
    os.write(out_fd, (json.dumps(results) + "\n").encode())
