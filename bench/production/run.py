#!/usr/bin/env python3
"""Programs the same 64 KiB random image into 1, 2, 4 and 8 melor-sim devices paced at 57600
baud at once, with pentrel-cli's default reads and with --plain-reads (the specified read
time-outs), and prints for each batch the seconds it took, the boards per hour that makes, how
it compares with one board, and the CPU time pentrel used per device.

usage: run.py BIN_DIR [IMAGE_BYTES]"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from runs import BAUD, Devices, random_hex_file, run_timed  # noqa: E402

BATCHES = (1, 2, 4, 8)


def batch_commands(bin_dir, hex_path, ports, options):
    """The one pentrel-cli that programs a batch: with several ports it runs a child process per
    port, whose CPU time counts as its own."""
    cli = [os.path.join(bin_dir, "pentrel-cli")] + options
    return [cli + [hex_path] + ports]


def run_batch(bin_dir, work, hex_path, count, options):
    devices = Devices(bin_dir, work, count)
    commands = batch_commands(bin_dir, hex_path, devices.ports, options)
    elapsed, cpu, statuses, last_lines = run_timed(commands, devices.environment(), work)
    devices.stop()
    failed = [line for status, line in zip(statuses, last_lines) if status != 0]
    return elapsed, sum(cpu) / count, failed


def main():
    bin_dir = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 64 * 1024
    work = tempfile.mkdtemp(prefix="pentrel-bench.")
    hex_path = random_hex_file(size, work)
    print("%d bytes into each of 1, 2, 4 and 8 devices at once, %d baud, on %d cores"
          % (size, BAUD, os.cpu_count()))
    print("  %-13s %7s %11s %13s %9s %22s"
          % ("reads", "devices", "batch", "boards/hour", "vs one", "pentrel CPU per device"))
    failures = 0
    for name, options in (("default", []), ("--plain-reads", ["--plain-reads"])):
        single = None
        for count in BATCHES:
            elapsed, cpu, failed = run_batch(bin_dir, work, hex_path, count, options)
            single = single or elapsed
            print("  %-13s %7d %9.2f s %13.0f %8.2fx %12.3f s (%.2f%%)"
                  % (name, count, elapsed, count * 3600 / elapsed, elapsed / single, cpu,
                     100 * cpu / elapsed))
            for line in failed:
                print("  a run failed: %s" % line)
            failures += len(failed)
    shutil.rmtree(work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
