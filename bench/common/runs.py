"""What the run benchmarks share: a random image as an Intel HEX file, paced melor-sim devices
mapped as COM ports in a DOS-device folder, and pentrel-cli processes timed with their CPU use."""
import os
import random
import re
import subprocess
import time

BAUD = 57600


def write_hex_file(data, path):
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


def random_hex_file(size, work):
    """The benchmarks' image: `size` random bytes from a fixed seed, as work/image.hex."""
    path = os.path.join(work, "image.hex")
    write_hex_file(bytes(random.Random(64).getrandbits(8) for _ in range(size)), path)
    return path


class Devices:
    """`count` melor-sim devices paced at BAUD, named COM1, COM2, ... in work/dosdevices."""

    def __init__(self, bin_dir, work, count):
        self.folder = os.path.join(work, "dosdevices")
        os.makedirs(self.folder, exist_ok=True)
        self.ports = ["COM%d" % (k + 1) for k in range(count)]
        self.sims = [subprocess.Popen(
            [os.path.join(bin_dir, "melor-sim"), "--baud", str(BAUD), "--timeout", "900",
             "--link", os.path.join(self.folder, port)], stdout=subprocess.PIPE, text=True)
            for port in self.ports]
        for sim in self.sims:
            sim.stdout.readline()  # the pty's path: the device is ready

    def environment(self):
        return dict(os.environ, PENTREL_DOSDEVICES=self.folder)

    def stop(self):
        """Stops every device; returns the bytes each had on the wire, both directions."""
        wire = []
        for sim in self.sims:
            sim.terminate()
            summary = sim.communicate()[0].strip().splitlines()[-1]
            counts = re.search(r"(\d+) bytes in, (\d+) bytes out", summary)
            wire.append(int(counts.group(1)) + int(counts.group(2)))
        return wire


def run_timed(commands, environment, work):
    """Starts the commands at once and waits for all of them. Returns the seconds until the last
    ended, the CPU seconds each used (its own children included), their exit statuses and the
    last line each printed."""
    outputs = [os.path.join(work, "out.%d" % k) for k in range(len(commands))]
    start = time.monotonic()
    processes = []
    for command, output in zip(commands, outputs):
        with open(output, "w") as out:
            processes.append(subprocess.Popen(command, env=environment, stdout=out,
                                              stderr=subprocess.DEVNULL))
    cpu, statuses = [], []
    for process in processes:
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        cpu.append(usage.ru_utime + usage.ru_stime)
        statuses.append(process.returncode)
    elapsed = time.monotonic() - start
    last_lines = []
    for output in outputs:
        with open(output) as out:
            lines = out.read().strip().splitlines()
        last_lines.append(lines[-1] if lines else "")
    return elapsed, cpu, statuses, last_lines
