#!/usr/bin/env python3
"""Measures the quiet gaps inside melor-sim's replies as a reader sees them: the time between one
read that got bytes and the next, within one reply. The fast reply mode ends a read after a quiet
gap, so its interval must outlast the longest gap in the middle of a reply, with margin.

Reads back 64 KiB (128 replies of 527 bytes) from melor-sim paced at 57600 baud, once with each
byte handed over as it crosses the line and once in bursts 16 ms apart (--burst-ms 16, as a USB
serial adapter with its default latency timer delivers), and prints the gaps' median, 99th
percentile and maximum.

usage: measure.py BIN_DIR"""
import os
import select
import statistics
import subprocess
import sys
import termios
import time
import tty

BAUD = 57600


def frame(payload):
    body = bytes(payload) + bytes([-sum(payload) & 0xFF])
    escaped = b"".join(bytes([5, b]) if b in (0x55, 0x04, 0x05) else bytes([b]) for b in body)
    return b"\x55" * 4 + escaped + b"\x04"


def read_command(address):
    return frame([0x01, 0, 128, 0] + list(address.to_bytes(4, "little")))


def reply_read_times(fd):
    """The monotonic times of the reads that together brought one reply frame."""
    times, escape = [], False
    while True:
        if not select.select([fd], [], [], 3)[0]:
            raise RuntimeError("melor-sim did not answer")
        chunk = os.read(fd, 4096)
        times.append(time.monotonic())
        for byte in chunk:
            if not escape and byte == 0x04:
                return times
            escape = not escape and byte == 0x05


def gaps_of(bin_dir, extra):
    sim = subprocess.Popen([os.path.join(bin_dir, "melor-sim"), "--baud", str(BAUD),
                            "--timeout", "300"] + extra, stdout=subprocess.PIPE, text=True)
    fd = os.open(sim.stdout.readline().strip(), os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    termios.tcflush(fd, termios.TCIOFLUSH)
    gaps = []
    for address in range(0x9D000000, 0x9D010000, 0x200):
        os.write(fd, read_command(address))
        times = reply_read_times(fd)
        gaps += [(b - a) * 1000 for a, b in zip(times, times[1:])]
    os.close(fd)
    sim.terminate()
    sim.communicate()
    return sorted(gaps)


def main():
    print("quiet gaps inside a reply, as a reader sees them (128 replies of 527 bytes at %d baud)"
          % BAUD)
    print("  %-26s %8s %8s %8s %8s" % ("delivery", "reads", "median", "p99", "max"))
    for name, extra in (("byte by byte", []), ("bursts 16 ms apart", ["--burst-ms", "16"])):
        gaps = gaps_of(sys.argv[1], extra)
        p99 = gaps[min(len(gaps) - 1, int(len(gaps) * 0.99))]
        print("  %-26s %8d %6.2f ms %6.2f ms %6.2f ms"
              % (name, len(gaps) + 128, statistics.median(gaps), p99, gaps[-1]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
