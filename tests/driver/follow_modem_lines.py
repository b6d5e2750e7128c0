#!/usr/bin/env python3
"""Tells each melor-sim the modem-line changes its emulated adapter saw.

usage: follow_modem_lines.py TRACE QMP_SOCKET FIFO_PATTERN

TRACE is QEMU's output with -trace usb_serial_handle_control, followed as it grows. A line
"usb_serial_handle_control dev B:A got control 0x4001, value 0xVVVV" is the FTDI modem-control
request: bits 8 and 9 of the value say that DTR and RTS are being set, bits 0 and 1 to what. The
adapter at USB address B.A is looked up by its id in QEMU's "info usb" (through a QMP socket of
its own: the address changes with every plug), and each change goes to the --control FIFO of the
melor-sim behind it, FIFO_PATTERN with %s replaced by the id, as "dtr 1", "rts 0", ...
"""
import json
import os
import re
import socket
import sys
import time

CONTROL = re.compile(r"usb_serial_handle_control dev (\d+):(\d+) got control 0x4001, value 0x([0-9a-f]+)")


def changes(value):
    return "".join(f"{name} {value >> bit & 1}\n"
                   for name, bit in (("dtr", 0), ("rts", 1)) if value >> (8 + bit) & 1)


def lines_of(path):
    """Whole lines of the file, waiting for it and for more at its end."""
    while not os.path.exists(path):
        time.sleep(0.05)
    pending = ""
    with open(path, errors="replace") as trace:
        while True:
            pending += trace.readline()
            if pending.endswith("\n"):
                yield pending
                pending = ""
            else:
                time.sleep(0.01)


class Monitor:
    def __init__(self, path):
        while not os.path.exists(path):
            time.sleep(0.05)
        connection = socket.socket(socket.AF_UNIX)
        connection.connect(path)
        self.io = connection.makefile("rw")
        self.io.readline()  # the greeting
        self.ask("qmp_capabilities")

    def ask(self, command, **arguments):
        self.io.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        self.io.flush()
        while "return" not in (reply := json.loads(self.io.readline())):
            pass  # an event
        return reply["return"]

    def adapter_id(self, bus, address):
        usb = self.ask("human-monitor-command", **{"command-line": "info usb"})
        found = re.search(rf"Device {bus}\.{address},.*, ID: (\S+)", usb)
        return found and found[1]


def tell(fifo, text):
    try:  # a melor-sim that has ended has no reader left: its news is dropped
        fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
    except OSError:
        return
    with os.fdopen(fd, "w") as control:
        control.write(text)


def main():
    trace, qmp, pattern = sys.argv[1:4]
    monitor = Monitor(qmp)
    for line in lines_of(trace):
        if match := CONTROL.search(line):
            if adapter := monitor.adapter_id(match[1], match[2]):
                tell(pattern.replace("%s", adapter), changes(int(match[3], 16)))


if __name__ == "__main__":
    main()
