#!/usr/bin/env python3
# usage: follow_modem_lines.py TRACE QMP_SOCKET FIFO_PATTERN
# Follows QEMU's -trace usb_serial_handle_control output as it grows. FTDI's modem-control request
# ("dev B:A got control 0x4001, value 0xVVVV": bits 8 and 9 say DTR and RTS are being set, bits 0
# and 1 to what) goes as "dtr 1", "rts 0", ... to the --control FIFO of the melor-sim behind the
# adapter: FIFO_PATTERN with %s replaced by the adapter's id, found at address B.A by "info usb".
import json, os, re, socket, sys, time

CONTROL = re.compile(r"usb_serial_handle_control dev (\d+):(\d+) got control 0x4001, value 0x([0-9a-f]+)")


def lines_of(path):
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


def monitor(path):
    while not os.path.exists(path):
        time.sleep(0.05)
    connection = socket.socket(socket.AF_UNIX)
    connection.connect(path)
    return connection.makefile("rw")


def ask(qmp, command, **arguments):
    qmp.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
    qmp.flush()
    while "return" not in (reply := json.loads(qmp.readline())):
        pass  # the greeting, or an event
    return reply["return"]


def tell(fifo, value):
    text = "".join(f"{name} {value >> bit & 1}\n" for name, bit in (("dtr", 0), ("rts", 1))
                   if value >> (8 + bit) & 1)
    try:  # a melor-sim that has ended has no reader left: its news is dropped
        with os.fdopen(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK), "w") as control:
            control.write(text)
    except OSError:
        pass


trace, qmp_path, pattern = sys.argv[1:4]
qmp = monitor(qmp_path)
ask(qmp, "qmp_capabilities")
for line in lines_of(trace):
    if match := CONTROL.search(line):
        usb = ask(qmp, "human-monitor-command", **{"command-line": "info usb"})
        if adapter := re.search(rf"Device {match[1]}\.{match[2]},.*, ID: (\S+)", usb):
            tell(pattern.replace("%s", adapter[1]), int(match[3], 16))
