#!/usr/bin/env python3
"""Measures the CPU that `elq770ctl record` takes while the device streams.

Usage: record_cpu.py ELQ770CTL ELQ770_SIM [SECONDS]   (SECONDS defaults to 30)

The simulator streams on a pseudo-terminal (a measurement every 20 ms, with
its peaks and alarm words); `record` records it into a file, its standard
output not a terminal (no live status line). After a 2 s warm-up, the
record process's user and system time (all its threads, from /proc/PID/stat)
is taken over SECONDS of wall time, then the run is stopped with Ctrl-C.
The packets and bytes per second are counted in the file over the same
window, by the packets' own time stamps. A figure, not a test: it depends on
the machine and on what else runs on it (the load is printed).
"""
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

WARM_UP_S = 2.0
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of the process, all its threads, in seconds."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # fields 14 and 15 of stat(5)


def packets_between(path, start_s, end_s):
    """Packets and their bytes (without the direction byte) stamped inside the window."""
    with open(path, "rb") as f:
        data = f.read()
    packets = byte_count = 0
    at = 24
    while at + 16 <= len(data):
        seconds, micros, captured, _ = struct.unpack_from("<IIII", data, at)
        at += 16 + captured
        if at > len(data):
            break
        if start_s <= seconds + micros / 1e6 < end_s:
            packets += 1
            byte_count += captured - 1
    return packets, byte_count


def wait_for_link(link, process, what):
    for _ in range(500):
        if os.path.islink(link) or os.path.exists(link):
            return
        if process.poll() is not None:
            break
        time.sleep(0.01)
    raise RuntimeError(f"{what} made no link")


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    ctl, sim = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 30.0
    work = tempfile.mkdtemp(prefix="record-cpu-")
    link = os.path.join(work, "tty")
    out = os.path.join(work, "line.pcap")
    print(f"machine: {os.cpu_count()} cores, load before: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    device = subprocess.Popen([sim, "--link", link, "--seed", "1"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    record = None
    try:
        wait_for_link(link, device, "the simulator")
        record = subprocess.Popen([ctl, "record", "--port", link, "--out", out],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        time.sleep(WARM_UP_S)
        if record.poll() is not None:
            raise RuntimeError("record ended early: " + record.stdout.read().decode(errors="replace"))
        cpu0, device_cpu0 = cpu_seconds(record.pid), cpu_seconds(device.pid)
        wall0, epoch0 = time.monotonic(), time.time()
        time.sleep(seconds)
        cpu1, device_cpu1 = cpu_seconds(record.pid), cpu_seconds(device.pid)
        wall1, epoch1 = time.monotonic(), time.time()
        record.send_signal(signal.SIGINT)
        summary = record.communicate(timeout=10)[0].decode(errors="replace").strip()
    finally:
        if record is not None and record.poll() is None:
            record.kill()
        device.send_signal(signal.SIGTERM)
        device.wait(timeout=10)

    wall = wall1 - wall0
    packets, byte_count = packets_between(out, epoch0, epoch1)
    shutil.rmtree(work, ignore_errors=True)
    print(f"record ran {wall:.1f} s after a {WARM_UP_S:.0f} s warm-up; its summary: {summary}")
    print(f"figure: record while the device streams   {100 * (cpu1 - cpu0) / wall:.2f} % of one core"
          f"   ({1000 * (cpu1 - cpu0):.0f} ms CPU in {wall:.1f} s)")
    print(f"figure: packets recorded   {packets / wall:.1f} packets/s, {byte_count / wall:.0f} bytes/s")
    print(f"note: the simulator itself   {100 * (device_cpu1 - device_cpu0) / wall:.2f} % of one core")
    print(f"load after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
