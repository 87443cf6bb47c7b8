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
import signal
import subprocess
import sys
import tempfile
import time
import tty

from line_rounds import answered_rounds, device_pty, load, machine_line, median_p99


def rounds(program_fd, device_fd, count):
    return answered_rounds(lambda b: os.write(program_fd, b), lambda n: os.read(program_fd, n), program_fd,
                           device_fd, count)


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    ctl = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    device_fd, port_fd, port = device_pty()
    print(machine_line())

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

    dm, d99 = median_p99(direct)
    rm, r99 = median_p99(relayed)
    print(f"rounds: {count} (request frame -> first answer byte)")
    print(f"figure: direct round        median {dm:8.1f} us   p99 {d99:8.1f} us")
    print(f"figure: through the relay   median {rm:8.1f} us   p99 {r99:8.1f} us")
    print(f"figure: relay added per crossing (half the difference)   median {(rm - dm) / 2:8.1f} us"
          f"   p99 {(r99 - d99) / 2:8.1f} us")
    print(f"load after: {load()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
