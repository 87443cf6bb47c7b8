#!/usr/bin/env python3
"""Measures the peak memory of `elq770ctl decode` and `monitor --from`.

Usage: decode_memory.py ELQ770CTL [MEGABYTES]   (MEGABYTES defaults to 40)

Writes a recording of about MEGABYTES MB in a temporary folder: the device's
stream as `record` writes it, one packet per reply line every 20 ms (a
measurement, now and then a peak or an alarm word) with a request frame
every second. Then runs `decode`, `decode --json` and `monitor --from` on it
under /usr/bin/time -v, their output thrown away, and prints each one's
maximum resident set and wall time, beside the same for a header-only file
(what the program needs whatever the file). A figure, not a test: it depends
on the machine and on what else runs on it (the load is printed).
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

START_S = 1765250000  # 2025-12-09
STEP_US = 20000


def reply_line(word):
    """A reply line as the device sends it: nibbles with a 1 below, their sum, CR."""
    nibbles = 2 if word <= 255 else 4
    data = bytes((((word >> (4 * i)) & 0x0F) << 4) | 0x01 for i in range(nibbles - 1, -1, -1))
    return data + bytes([sum(data) & 0xFF, 13])


def packet(time_us, direction, data):
    length = len(data) + 1
    return struct.pack("<IIII", time_us // 1000000, time_us % 1000000, length, length) + bytes([direction]) + data


def write_recording(path, megabytes):
    header = struct.pack("<IHHiIII", 0xa1b2c3d4, 2, 4, 0, 0, 65535, 147)
    request = bytes([0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D])
    target = megabytes * 1000 * 1000
    count = 0
    with open(path, "wb") as out:
        out.write(header)
        written = len(header)
        chunk = []
        while written < target:
            time_us = START_S * 1000000 + count * STEP_US
            if count % 50 == 0:
                chunk.append(packet(time_us, 1, request))
            word = 65012 if count % 97 == 0 else (500 + 70 if count % 25 == 0 else 30 + count % 40)
            chunk.append(packet(time_us + 900, 0, reply_line(word)))
            count += 1
            if len(chunk) >= 4096:
                block = b"".join(chunk)
                out.write(block)
                written += len(block)
                chunk = []
        block = b"".join(chunk)
        out.write(block)
    return os.path.getsize(path), count


def measure(ctl, args):
    """Maximum resident set in kB and wall seconds of one run, its output discarded."""
    run = subprocess.run(["/usr/bin/time", "-v", ctl] + args, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} failed ({run.returncode}): {run.stderr[-500:]}")
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr).group(1))
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", run.stderr).group(1)
    seconds = sum(float(part) * 60 ** i for i, part in enumerate(reversed(wall.split(":"))))
    return rss, seconds


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    ctl = sys.argv[1]
    megabytes = int(sys.argv[2]) if len(sys.argv) > 2 else 40
    work = tempfile.mkdtemp(prefix="decode-memory-")
    try:
        print(f"machine: {os.cpu_count()} cores, load before: {' '.join(open('/proc/loadavg').read().split()[:3])}")
        big = os.path.join(work, "big.pcap")
        size, lines = write_recording(big, megabytes)
        empty = os.path.join(work, "empty.pcap")
        with open(empty, "wb") as out:
            out.write(struct.pack("<IHHiIII", 0xa1b2c3d4, 2, 4, 0, 0, 65535, 147))
        print(f"note: recording of {size / 1e6:.1f} MB, {lines} reply lines")
        for name, args in (("decode", ["decode"]), ("decode --json", ["decode", "--json"]),
                           ("monitor --from", ["monitor", "--from"])):
            base_rss, _ = measure(ctl, args + [empty])
            rss, seconds = measure(ctl, args + [big])
            print(f"figure: {name:15s} peak memory {rss / 1024:7.1f} MB on the {size / 1e6:.0f} MB recording"
                  f" ({rss / 1024 / (size / 2**20):.2f} times its size; {seconds:.1f} s),"
                  f" {base_rss / 1024:.1f} MB on a header-only file")
        print(f"load after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
