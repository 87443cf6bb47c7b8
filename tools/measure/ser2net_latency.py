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
import socket
import subprocess
import sys
import tempfile
import time

from line_rounds import answered_rounds, device_pty, free_port, load, machine_line, median_p99


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
    result = answered_rounds(conn.sendall, conn.recv, conn.fileno(), device_fd, count)
    conn.close()
    time.sleep(0.2)  # ser2net lets the port go
    return result


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    device_fd, port_fd, port = device_pty()
    print(machine_line())
    direct = answered_rounds(lambda b: os.write(port_fd, b), lambda n: os.read(port_fd, n), port_fd, device_fd, count)
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

    dm, d99 = median_p99(direct)
    print(f"rounds: {count} (request frame -> first answer byte)")
    print(f"figure: {'direct pty':28s} median {dm:8.1f} us   p99 {d99:8.1f} us")
    for label, times in results:
        m, q = median_p99(times)
        print(f"figure: {label:28s} median {m:8.1f} us   p99 {q:8.1f} us"
              f"   added: median {m - dm:8.1f} us   p99 {q - d99:8.1f} us")
    print(f"load after: {load()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
