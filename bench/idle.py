"""CPU used by a serving process whose client is connected and sends
nothing, over 10 seconds, measured in that process."""

import resource
import time

from vantu_protocol import ComSocketServer
from bench_support import free_port, report, start_reader

SECONDS = 10


def cpu_seconds() -> float:
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def main() -> None:
    port = free_port()
    server = ComSocketServer(f"127.0.0.1:{port}")
    reader = start_reader(port)
    server.open()
    server.serve()
    time.sleep(1)  # past the loop's first pause, into its wait for data
    before, start = cpu_seconds(), time.monotonic()
    time.sleep(SECONDS)
    used, elapsed = cpu_seconds() - before, time.monotonic() - start
    server.close()
    reader.wait()
    report({"idle_cpu_percent": 100 * used / elapsed})


if __name__ == "__main__":
    main()
