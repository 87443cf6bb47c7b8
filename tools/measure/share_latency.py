#!/usr/bin/env python3
"""Measures the delay that `elq770ctl publish --share` adds to a
request-answer round, and the gateway's CPU with a client attached.

Usage: share_latency.py ELQ770CTL [ROUNDS]   (ROUNDS defaults to 1000; needs mosquitto)

A pseudo-terminal stands for the device: this script holds its master,
streams a measurement line every 50 ms (so that the gateway sees a live
device) and answers each request frame at once with a line of the device
text band, which the streamed lines never hold. One round is a request
frame written by the client, until the whole answer line has been read
back. The rounds are timed with the client on the pseudo-terminal directly,
then through a gateway of the script's own (a mosquitto broker of its own on
a free port of 127.0.0.1) on its RFC 2217 share and on its raw share. The
gateway's CPU (user + system, from /proc) is taken over the rounds and over
10 s with a client attached and idle. Figures, not a test: they depend on
the machine and its load (printed).
"""
import os
import select
import socket
import subprocess
import sys
import tempfile
import threading
import time

from line_rounds import MEASUREMENT, PAUSE_S, REQUEST, device_pty, free_port, load, machine_line, median_p99

ANSWER = bytes([0xF1, 0xE1, 0xB1, 0x11, 0x94, 0x0D])  # a device text character


class Device(threading.Thread):
    """Streams measurements and answers each request on the pty's master."""

    def __init__(self, fd):
        super().__init__(daemon=True)
        self.fd, self.stop = fd, False

    def run(self):
        got, next_line = b"", time.monotonic()
        while not self.stop:
            if select.select([self.fd], [], [], max(0, next_line - time.monotonic()))[0]:
                got += os.read(self.fd, 256)
                while REQUEST in got:
                    got = got[got.index(REQUEST) + len(REQUEST):]
                    os.write(self.fd, ANSWER)
            if time.monotonic() >= next_line:
                os.write(self.fd, MEASUREMENT)
                next_line += 0.05


def rounds(write, read, count):
    """Round times in microseconds: request written -> answer line read."""
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        write(REQUEST)
        got = b""
        deadline = time.monotonic() + 2
        while ANSWER not in got:
            if time.monotonic() > deadline:
                raise TimeoutError("no answer")
            got += read()
        times.append((time.perf_counter_ns() - start) / 1000.0)
        time.sleep(PAUSE_S)
    return times


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def connect(port):
    conn = socket.create_connection(("127.0.0.1", port))
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return conn


def through_share(ctl, slave, work, count, raw):
    broker_port, share_port = free_port(), free_port()
    with open(os.path.join(work, "mosquitto.conf"), "w") as conf:
        conf.write(f"listener {broker_port} 127.0.0.1\nallow_anonymous true\n")
    broker = subprocess.Popen(["mosquitto", "-c", os.path.join(work, "mosquitto.conf")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    args = [ctl, "publish", "--port", slave, "--broker", f"mqtt://127.0.0.1:{broker_port}", "--name", "m",
            "--share", str(share_port)] + (["--share-raw"] if raw else [])
    gateway = subprocess.Popen(args, stdout=subprocess.DEVNULL)
    try:
        time.sleep(2)
        conn = connect(share_port)
        cpu0, wall0 = cpu_seconds(gateway.pid), time.monotonic()
        times = rounds(conn.sendall, lambda: conn.recv(4096), count)
        busy = (cpu_seconds(gateway.pid) - cpu0) / (time.monotonic() - wall0)
        cpu0, wall0 = cpu_seconds(gateway.pid), time.monotonic()
        end = wall0 + 10
        while time.monotonic() < end:
            conn.recv(4096)
        idle = (cpu_seconds(gateway.pid) - cpu0) / (time.monotonic() - wall0)
        conn.close()
        return times, busy, idle
    finally:
        gateway.terminate()
        gateway.wait(timeout=10)
        broker.terminate()
        broker.wait(timeout=10)


def main():
    ctl = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    device_fd, port_fd, slave = device_pty()
    print(machine_line())
    device = Device(device_fd)
    device.start()
    direct = rounds(lambda b: os.write(port_fd, b), lambda: os.read(port_fd, 4096), count)
    work = tempfile.mkdtemp(prefix="share-latency-")
    results = [(label, through_share(ctl, slave, work, count, raw))
               for label, raw in (("--share (RFC 2217)", False), ("--share --share-raw", True))]
    device.stop = True
    dm, d99 = median_p99(direct)
    print(f"rounds: {count} (request frame -> whole answer line)")
    print(f"figure: {'direct pty':22s} median {dm:8.1f} us   p99 {d99:8.1f} us")
    for label, (times, busy, idle) in results:
        m, q = median_p99(times)
        print(f"figure: {label:22s} median {m:8.1f} us   p99 {q:8.1f} us"
              f"   added: median {m - dm:8.1f} us   p99 {q - d99:8.1f} us")
        print(f"figure: {label:22s} gateway CPU {100 * busy:5.2f} % during the rounds,"
              f" {100 * idle:5.2f} % with the client attached and idle (device at 20 lines/s)")
    print(f"load after: {load()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
