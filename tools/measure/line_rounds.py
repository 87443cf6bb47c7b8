"""What the latency figures under tools/measure/ share: the line's frames, a
pseudo-terminal standing for the device, request-answer rounds timed from
the request written to the first answer byte read, and their percentiles.
"""
import os
import select
import socket
import statistics
import time
import tty

REQUEST = bytes([0xF1, 0xE1, 0x11, 0xA1, 0x84, 0x0D])  # the request-data frame
MEASUREMENT = bytes([0x21, 0x51, 0x72, 0x0D])         # a measurement line
PAUSE_S = 0.005  # between rounds: the program under measure waits in poll() as in real use


def load():
    return " ".join(open("/proc/loadavg").read().split()[:3])


def machine_line():
    return f"machine: {os.cpu_count()} cores, load before: {load()}"


def device_pty():
    """(device_fd, port_fd, port name): the master the script answers on, and the port a program opens."""
    device_fd, port_fd = os.openpty()
    tty.setraw(device_fd)
    tty.setraw(port_fd)
    return device_fd, port_fd, os.ttyname(port_fd)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_exactly(read, fd, count, timeout_s=2.0):
    """count bytes through read(n), waiting on fd at most timeout_s in all."""
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


def answered_rounds(write, read, fd, device_fd, count, answer=MEASUREMENT):
    """Round times in microseconds: the program's request written (write), the
    script answering it on device_fd at once, the first answer byte read back
    (read, waiting on fd); both frames checked unchanged."""
    device_read = lambda n: os.read(device_fd, n)
    times = []
    for _ in range(count):
        start = time.perf_counter_ns()
        write(REQUEST)
        if read_exactly(device_read, device_fd, len(REQUEST)) != REQUEST:
            raise RuntimeError("the request arrived changed")
        os.write(device_fd, answer)
        first = read_exactly(read, fd, 1)
        times.append((time.perf_counter_ns() - start) / 1000.0)
        if first + read_exactly(read, fd, len(answer) - 1) != answer:
            raise RuntimeError("the answer arrived changed")
        time.sleep(PAUSE_S)
    return times


def p99(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * 0.99))]


def median_p99(values):
    return statistics.median(values), p99(values)
