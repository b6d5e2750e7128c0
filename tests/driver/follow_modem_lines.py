#!/usr/bin/env python3
# usage: follow_modem_lines.py QMP_SOCKET FIFO_PATTERN < TRACE
# Reads QEMU's -trace usb_serial_handle_control output as it grows. FTDI's modem-control request
# ("dev B:A got control 0x4001, value 0xVVVV": bits 8 and 9 say DTR and RTS are being set, bits 0
# and 1 to what) goes as "dtr 1", "rts 0", ... to the --control FIFO of the melor-sim behind the
# adapter: FIFO_PATTERN with %s replaced by the adapter's id, found at address B.A by "info usb".
import contextlib, json, os, re, socket, sys

CONTROL = re.compile(r"usb_serial_handle_control dev (\d+):(\d+) got control 0x4001, value 0x([0-9a-f]+)")


def ask(qmp, command, **arguments):
    qmp.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
    qmp.flush()
    while "return" not in (reply := json.loads(qmp.readline())):
        pass  # the greeting, or an event
    return reply["return"]


connection = socket.socket(socket.AF_UNIX)
connection.connect(sys.argv[1])
qmp = connection.makefile("rw")
ask(qmp, "qmp_capabilities")
for line in sys.stdin:
    if match := CONTROL.search(line):
        usb = ask(qmp, "human-monitor-command", **{"command-line": "info usb"})
        if adapter := re.search(rf"Device {match[1]}\.{match[2]},.*, ID: (\S+)", usb):
            value = int(match[3], 16)
            news = "".join(f"{name} {value >> bit & 1}\n" for name, bit in (("dtr", 0), ("rts", 1))
                           if value >> (8 + bit) & 1)
            with contextlib.suppress(OSError):  # a melor-sim that has ended has no reader left
                fifo = os.open(sys.argv[2].replace("%s", adapter[1]), os.O_WRONLY | os.O_NONBLOCK)
                with os.fdopen(fifo, "w") as control:
                    control.write(news)
