#!/usr/bin/env python3
"""Measures the delay that ser2net adds to a request-answer round.

Usage: ser2net_latency.py [ROUNDS]   (ROUNDS defaults to 1000; needs ser2net)

A pseudo-terminal stands for the device: this script holds its master and
answers each request frame with a reply line at once. One round is a request
frame written by the "program", the first byte of the answer read back by it.
The rounds are timed three times: with the program on the pseudo-terminal
directly, then through a ser2net of the script's own (on free ports of
127.0.0.1, its configuration in a temporary folder) with a raw TCP accepter
(socket://) and with an RFC 2217 accepter (rfc2217://, the negotiation
left to ser2net's own opening and the answers checked free of Telnet),
each with ser2net's default character delay (it gathers the line's bytes
for a few character times before it sends them on) and with
`chardelay: false`. It prints the median and the 99th percentile of each
and what ser2net adds. A figure, not a test: it depends on the machine and
its load (printed).
"""
import os
import select
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import tty

REQUEST = bytes([0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D])  # the request-data frame
ANSWER = bytes([0x21, 0x51, 0x72, 0x0D])                # a measurement line
PAUSE_S = 0.005


def read_exactly(read, fd, count, timeout_s=2.0):
    got = b""
    deadline = time.monotonic() + timeout_s
    while len(got) < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise TimeoutError(f"{len(got)} of {count} bytes")
        part = read(count - len(got))
        if not part:
            raise RuntimeError("the connection closed")
        got += part
    return got


def rounds(write, read, fd, device_fd, count):
    """Round times in microseconds: request written -> first answer byte read."""
    device_read = lambda n: os.read(device_fd, n)
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        write(REQUEST)
        if read_exactly(device_read, device_fd, len(REQUEST)) != REQUEST:
            raise RuntimeError("the request arrived changed")
        os.write(device_fd, ANSWER)
        first = read_exactly(read, fd, 1)
        times.append((time.perf_counter_ns() - start) / 1000.0)
        if first + read_exactly(read, fd, len(ANSWER) - 1) != ANSWER:
            raise RuntimeError("the answer arrived changed")
        time.sleep(PAUSE_S)
    return times


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def through(port, device_fd, count):
    conn = socket.create_connection(("127.0.0.1", port))
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    time.sleep(0.3)  # ser2net's opening negotiation, if any, is read away
    conn.setblocking(False)
    try:
        while conn.recv(4096):
            pass
    except BlockingIOError:
        pass
    conn.setblocking(True)
    result = rounds(conn.sendall, conn.recv, conn.fileno(), device_fd, count)
    conn.close()
    time.sleep(0.2)  # ser2net lets the port go
    return result


def p99(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    device_fd, port_fd = os.openpty()
    tty.setraw(device_fd)
    tty.setraw(port_fd)
    port = os.ttyname(port_fd)
    print(f"machine: {os.cpu_count()} cores, load before: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    direct = rounds(lambda b: os.write(port_fd, b), lambda n: os.read(port_fd, n), port_fd, device_fd, count)
    os.close(port_fd)  # ser2net opens the port itself

    work = tempfile.mkdtemp(prefix="ser2net-latency-")
    configs = [(label, accepter, delay, free_port())
               for delay in (True, False)
               for label, accepter in (("socket://", "tcp"), ("rfc2217://", "telnet(rfc2217),tcp"))]
    with open(os.path.join(work, "ser2net.yaml"), "w") as conf:
        for i, (_, accepter, delay, at) in enumerate(configs):
            conf.write(f"connection: &c{i}\n  accepter: {accepter},127.0.0.1,{at}\n"
                       f"  connector: serialdev,{port},9600n81,local\n")
            if not delay:
                conf.write("  options:\n    chardelay: false\n")
    server = subprocess.Popen(["ser2net", "-n", "-u", "-c", os.path.join(work, "ser2net.yaml"),
                               "-P", os.path.join(work, "pid")])
    try:
        time.sleep(0.5)
        results = [(f"{label} {'default' if delay else 'chardelay off'}", through(at, device_fd, count))
                   for label, _, delay, at in configs]
    finally:
        server.terminate()
        server.wait(timeout=10)

    dm, d99 = statistics.median(direct), p99(direct)
    print(f"rounds: {count} (request frame -> first answer byte)")
    print(f"figure: {'direct pty':28s} median {dm:8.1f} us   p99 {d99:8.1f} us")
    for label, times in results:
        m, q = statistics.median(times), p99(times)
        print(f"figure: {label:28s} median {m:8.1f} us   p99 {q:8.1f} us"
              f"   added: median {m - dm:8.1f} us   p99 {q - d99:8.1f} us")
    print(f"load after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
