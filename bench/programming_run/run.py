#!/usr/bin/env python3
"""Times one programming run of a 64 KiB image of random data against melor-sim paced at
57600 baud, with pentrel-cli's default reads and with --plain-reads (the specified read
time-outs), and sets each beside its wire-time bound: every byte that crossed the line, in both
directions, at 10 bits a byte. Also reports the CPU time pentrel-cli used.

usage: run.py BIN_DIR [IMAGE_BYTES]"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from runs import BAUD, Devices, random_hex_file, run_timed  # noqa: E402


def timed_run(bin_dir, work, hex_path, options):
    devices = Devices(bin_dir, work, 1)
    command = [os.path.join(bin_dir, "pentrel-cli")] + options + [hex_path, devices.ports[0]]
    elapsed, cpu, statuses, last_lines = run_timed([command], devices.environment(), work)
    wire_bytes = devices.stop()[0]
    return elapsed, wire_bytes, cpu[0], statuses[0], last_lines[0]


def main():
    bin_dir = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 64 * 1024
    work = tempfile.mkdtemp(prefix="pentrel-bench.")
    hex_path = random_hex_file(size, work)
    print("programming run of %d bytes at %d baud" % (size, BAUD))
    print("  %-13s %10s %20s %7s %18s" % ("reads", "measured", "wire-time bound", "ratio",
                                        "pentrel-cli CPU"))
    failures = 0
    for name, options in (("default", []), ("--plain-reads", ["--plain-reads"])):
        elapsed, wire_bytes, cpu, status, result = timed_run(bin_dir, work, hex_path, options)
        bound = wire_bytes * 10 / BAUD
        print("  %-13s %8.2f s %8.2f s (%6d B) %7.2f %7.3f s (%.2f%%)"
              % (name, elapsed, bound, wire_bytes, elapsed / bound, cpu, 100 * cpu / elapsed))
        if status != 0:
            print("  the run failed: %s" % result)
            failures += 1
    shutil.rmtree(work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
