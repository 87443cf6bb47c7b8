#!/usr/bin/env python3
"""One `elq770ctl publish` gateway against a broker that accepts and drops.

Usage: publish_flapping.py ELQ770CTL ELQ770_SIM [SECONDS [HOLD_S [ack]]]
       (SECONDS defaults to 3600, HOLD_S to 2)

The script's own peer listens on a free port of 127.0.0.1 and behaves like a
broker whose rules drop the client, or where a second client with the same
client id takes the session over: it answers each CONNECT with a CONNACK
(accepted) and closes the connection HOLD_S seconds later. It acknowledges
nothing unless "ack" is given (then each QoS 1 PUBLISH gets its PUBACK while
the connection lasts). The simulator streams on a pseudo-terminal as the
device. Over SECONDS the script samples the gateway's resident memory
(VmRSS, /proc/PID/status) every 5 s and counts what the peer receives; at
the end it stops the gateway with SIGTERM and prints: resident memory at the
start (after the first connection), its peak and at the end; the lines the
gateway wrote (stdout and stderr); the connections, the waits between them,
and the retained topics (status, info) received more than once on one
connection. A figure, not a test: it never fails because the machine is slow
(the load is printed). ELQ_KEEP=1 keeps the work folder with the logs.
"""
import os
import select
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SAMPLE_S = 5.0
NAME = "flap"
TOPIC = f"elq770/{NAME}/"


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def take_packet(buffer):
    """(type, flags, body, rest) for a whole packet at the front, else None."""
    length = 0
    at = 1
    shift = 0
    while True:
        if at >= len(buffer):
            return None
        length |= (buffer[at] & 0x7F) << shift
        if not buffer[at] & 0x80:
            break
        at += 1
        shift += 7
    if len(buffer) < at + 1 + length:
        return None
    return buffer[0] >> 4, buffer[0] & 0x0F, buffer[at + 1:at + 1 + length], buffer[at + 1 + length:]


class Peer:
    """Accepts one connection at a time, answers CONNACK, drops it after hold_s."""

    def __init__(self, hold_s, ack):
        self.hold_s = hold_s
        self.ack = ack
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.connections = []  # (start time, [topic, ...])

    def serve_until(self, end):
        while time.monotonic() < end:
            ready, _, _ = select.select([self.listener], [], [], min(1.0, max(0.0, end - time.monotonic())))
            if ready:
                connection, _ = self.listener.accept()
                self.serve_one(connection)

    def serve_one(self, connection):
        start = time.monotonic()
        topics = []
        buffer = b""
        while time.monotonic() < start + self.hold_s:
            ready, _, _ = select.select([connection], [], [], 0.05)
            if not ready:
                continue
            chunk = connection.recv(65536)
            if not chunk:
                break
            buffer += chunk
            while (packet := take_packet(buffer)) is not None:
                kind, flags, body, buffer = packet
                if kind == 1:
                    connection.sendall(b"\x20\x02\x00\x00")
                elif kind == 3:
                    length = int.from_bytes(body[:2], "big")
                    topics.append(body[2:2 + length].decode("utf-8", "replace"))
                    qos = (flags >> 1) & 3
                    if qos == 1 and self.ack:
                        connection.sendall(b"\x40\x02" + body[2 + length:4 + length])
        connection.close()
        self.connections.append((start, topics))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    ctl, sim = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 3600.0
    hold_s = float(sys.argv[4]) if len(sys.argv) > 4 else 2.0
    ack = len(sys.argv) > 5 and sys.argv[5] == "ack"
    for program in (ctl, sim):
        if not os.access(program, os.X_OK):
            sys.exit(f"publish_flapping.py: no {program} (build it first)")
    work = tempfile.mkdtemp(prefix="elq770-flapping.")
    peer = Peer(hold_s, ack)
    print(f"machine: {os.cpu_count()} cores, load before: {open('/proc/loadavg').read().split()[:3]}")
    print(f"peer: 127.0.0.1:{peer.port}, holds each connection {hold_s:g} s, "
          f"{'acknowledges QoS 1' if ack else 'acknowledges nothing'}; {seconds:g} s")
    link = os.path.join(work, "tty")
    simulator = subprocess.Popen([sim, "--link", link], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    gateway = None
    try:
        for _ in range(500):
            if os.path.islink(link):
                break
            time.sleep(0.01)
        out = open(os.path.join(work, "gateway.out"), "w")
        err = open(os.path.join(work, "gateway.err"), "w")
        gateway = subprocess.Popen([ctl, "publish", "--port", link, "--broker", f"mqtt://127.0.0.1:{peer.port}",
                                    "--name", NAME], stdout=out, stderr=err)
        started = time.monotonic()
        end = started + seconds
        samples = []
        while time.monotonic() < end and gateway.poll() is None:
            peer.serve_until(min(end, time.monotonic() + SAMPLE_S))
            if gateway.poll() is None:
                samples.append((time.monotonic() - started, resident_kb(gateway.pid)))
        exited_early = gateway.poll()
        gateway.send_signal(signal.SIGTERM)
        code = gateway.wait(timeout=15)
        out.close()
        err.close()
    finally:
        if gateway is not None and gateway.poll() is None:
            gateway.kill()
        simulator.terminate()
        simulator.wait()

    with open(os.path.join(work, "gateway.out")) as f:
        out_lines = f.read().splitlines()
    with open(os.path.join(work, "gateway.err")) as f:
        err_lines = f.read().splitlines()
    starts = [start for start, _ in peer.connections]
    gaps = [b - a for a, b in zip(starts, starts[1:])]
    doubled = sum(1 for _, topics in peer.connections for leaf in ("status", "info")
                  if topics.count(TOPIC + leaf) > 1)
    publishes = sum(len(topics) for _, topics in peer.connections)
    if exited_early is not None:
        print(f"note: the gateway ended by itself after {samples[-1][0] if samples else 0:.0f} s, exit {exited_early}")
    if samples:
        kb = [k for _, k in samples]
        print(f"figure: resident memory: start {kb[0] / 1024:.1f} MB, peak {max(kb) / 1024:.1f} MB "
              f"(at {samples[kb.index(max(kb))][0]:.0f} s), end {kb[-1] / 1024:.1f} MB; {len(samples)} samples")
    print(f"figure: log lines: {len(out_lines) + len(err_lines)} ({len(out_lines)} stdout, {len(err_lines)} stderr) "
          f"in {seconds:g} s")
    print(f"figure: connections: {len(peer.connections)}; waits between them: "
          + (f"first {', '.join(f'{g:.1f}' for g in gaps[:5])} s, then median {statistics.median(gaps[5:]):.1f} s"
             if len(gaps) > 5 else ", ".join(f"{g:.1f} s" for g in gaps)))
    print(f"figure: PUBLISH packets received {publishes}; connections with status or info twice: {doubled}")
    print(f"exit code after SIGTERM: {code}; load after: {open('/proc/loadavg').read().split()[:3]}")
    print("gateway's stderr:")
    for line in err_lines:
        print(f"  {line}")
    if os.environ.get("ELQ_KEEP") == "1":
        print(f"work folder kept: {work}")
    else:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
