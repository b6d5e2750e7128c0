#!/usr/bin/env python3
"""Times one programming run of a 64 KiB image of random data against melor-sim paced at
57600 baud, and sets it beside the wire-time bound: every byte that crossed the line, in both
directions, at 10 bits a byte. Also reports the CPU time pentrel-cli used.

usage: run.py BIN_DIR [IMAGE_BYTES]"""
import os
import random
import re
import resource
import subprocess
import sys
import tempfile
import time

BAUD = 57600


def hex_file(data, path):
    """An Intel HEX file with data from 0x1D000000, 16 bytes a record."""
    with open(path, "w") as out:
        upper = None
        for at in range(0, len(data), 16):
            address = 0x1D000000 + at
            if address >> 16 != upper:
                upper = address >> 16
                fields = bytes([2, 0, 0, 4, upper >> 8, upper & 0xFF])
                out.write(":" + fields.hex().upper() + "%02X\n" % (-sum(fields) & 0xFF))
            chunk = data[at:at + 16]
            fields = bytes([len(chunk), (address >> 8) & 0xFF, address & 0xFF, 0]) + chunk
            out.write(":" + fields.hex().upper() + "%02X\n" % (-sum(fields) & 0xFF))
        out.write(":00000001FF\n")


def main():
    bin_dir = sys.argv[1]
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 64 * 1024
    work = tempfile.mkdtemp(prefix="pentrel-bench.")
    image = bytes(random.Random(64).getrandbits(8) for _ in range(size))
    hex_path = os.path.join(work, "image.hex")
    hex_file(image, hex_path)
    os.mkdir(os.path.join(work, "dosdevices"))

    sim = subprocess.Popen(
        [os.path.join(bin_dir, "melor-sim"), "--baud", str(BAUD), "--timeout", "600",
         "--link", os.path.join(work, "dosdevices", "COM1")],
        stdout=subprocess.PIPE, text=True)
    sim.stdout.readline()  # the pty's path: the device is ready

    environment = dict(os.environ, PENTREL_DOSDEVICES=os.path.join(work, "dosdevices"))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    run = subprocess.run([os.path.join(bin_dir, "pentrel-cli"), hex_path, "COM1"],
                         env=environment, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True)
    elapsed = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)

    sim.terminate()
    summary = sim.communicate()[0].strip().splitlines()[-1]
    counts = re.search(r"(\d+) bytes in, (\d+) bytes out", summary)
    wire_bytes = int(counts.group(1)) + int(counts.group(2))
    bound = wire_bytes * 10 / BAUD
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)

    print("programming run of %d bytes at %d baud" % (size, BAUD))
    print("  result          : %s" % run.stdout.strip().splitlines()[-1])
    print("  measured        : %.2f s" % elapsed)
    print("  wire-time bound : %.2f s (%d bytes on the wire, both directions)" % (bound, wire_bytes))
    print("  ratio           : %.2f" % (elapsed / bound))
    print("  pentrel-cli CPU : %.3f s (%.2f%% of one core)" % (cpu, 100 * cpu / elapsed))
    subprocess.run(["rm", "-rf", work])
    return 0 if run.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
