#!/usr/bin/env python3
"""Measures the latency that `elq770ctl record --relay` adds to the line.

Usage: relay_latency.py ELQ770CTL [ROUNDS]   (ROUNDS defaults to 1000)

A pseudo-terminal stands for the device: this script holds its master and
answers each request frame with a reply line at once. One round is a request
frame written by the "program", the first byte of the answer read back by it.
The rounds are timed twice: with the program on the device's port directly,
then with the program on the relay's LINK and the relay on the device's port.
A request and its answer each cross the relay once, so the relay's added
latency per crossing is half of the difference. It prints the median and the
99th percentile of both, and the added latency. A figure, not a test: it
depends on the machine and on what else runs on it (the load is printed).
"""
import os
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import tty

REQUEST = bytes([0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D])  # the request-data frame
ANSWER = bytes([0x21, 0x51, 0x72, 0x0D])                # a measurement line
PAUSE_S = 0.005  # between rounds: the relay waits in poll() as in real use


def read_exactly(fd, count, timeout_s=2.0):
    got = b""
    deadline = time.monotonic() + timeout_s
    while len(got) < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise TimeoutError(f"{len(got)} of {count} bytes")
        got += os.read(fd, count - len(got))
    return got


def rounds(program_fd, device_fd, count):
    """Round times in microseconds: request written -> first answer byte read."""
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        os.write(program_fd, REQUEST)
        if read_exactly(device_fd, len(REQUEST)) != REQUEST:
            raise RuntimeError("the request arrived changed")
        os.write(device_fd, ANSWER)
        first = read_exactly(program_fd, 1)
        times.append((time.perf_counter_ns() - start) / 1000.0)
        rest = read_exactly(program_fd, len(ANSWER) - 1)
        if first + rest != ANSWER:
            raise RuntimeError("the answer arrived changed")
        time.sleep(PAUSE_S)
    return times


def p99(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    ctl = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    device_fd, port_fd = os.openpty()
    tty.setraw(device_fd)
    tty.setraw(port_fd)
    port = os.ttyname(port_fd)
    print(f"machine: {os.cpu_count()} cores, load before: {' '.join(open('/proc/loadavg').read().split()[:3])}")

    direct = rounds(port_fd, device_fd, count)

    work = tempfile.mkdtemp(prefix="relay-latency-")
    link = os.path.join(work, "relay")
    relay = subprocess.Popen([ctl, "record", "--port", port, "--relay", link, "--out", os.path.join(work, "line.pcap")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        for _ in range(500):
            if os.path.islink(link):
                break
            time.sleep(0.01)
        else:
            raise RuntimeError("the relay made no link: " + relay.stderr.read().decode(errors="replace"))
        program_fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(program_fd)
        time.sleep(0.1)
        relayed = rounds(program_fd, device_fd, count)
        os.close(program_fd)
    finally:
        relay.send_signal(signal.SIGINT)
        relay.wait(timeout=10)

    dm, d99 = statistics.median(direct), p99(direct)
    rm, r99 = statistics.median(relayed), p99(relayed)
    print(f"rounds: {count} (request frame -> first answer byte)")
    print(f"figure: direct round        median {dm:8.1f} us   p99 {d99:8.1f} us")
    print(f"figure: through the relay   median {rm:8.1f} us   p99 {r99:8.1f} us")
    print(f"figure: relay added per crossing (half the difference)   median {(rm - dm) / 2:8.1f} us"
          f"   p99 {(r99 - d99) / 2:8.1f} us")
    print(f"load after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
