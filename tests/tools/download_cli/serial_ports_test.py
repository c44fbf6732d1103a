#!/usr/bin/env python3
"""The serial ports as a Linux machine has them: the numbering from /sys, the listing, the
reason a port is skipped and the trace of the line.

The machine is a fake one (KORVAN_SYSTEM_ROOT): its /sys lists the devices, its /dev links
them to pseudo-terminals, so nothing reaches a real serial port.

Run one case:  KORVAN_TEST_BIN=build/bin python3 serial_ports_test.py SerialPorts.test_...
"""

import hashlib
import json
import os
import re
import socket
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from end_to_end_test import (CLI, CLI_TIMEOUT_S, MODEM_FOUND, RECORD_COUNT, RECORD_SIZE,  # noqa: E402
                             EndToEnd, complete_run_after_validation)

PORT_16550A = "4"

# Holds a pty of its own, locked as a serial program locks its port, under the name of the
# program that most often holds a modem on Linux.
HOLDER_PROGRAM = r"""
import fcntl, os, sys
master, slave = os.openpty()
fcntl.flock(slave, fcntl.LOCK_EX)
with open("/proc/self/comm", "w") as comm:
    comm.write("ModemManager")
print(os.ttyname(slave), flush=True)
sys.stdin.read()
"""


class FakeMachine:
    """/sys and /dev of a machine under root, linked the way the kernel links them."""

    def __init__(self, root):
        self.root = Path(root)
        (self.root / "sys/class/tty").mkdir(parents=True)
        (self.root / "sys/dev/char").mkdir(parents=True)
        (self.root / "dev").mkdir()
        (self.root / "proc").mkdir()

    def _write(self, relative, text):
        path = self.root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text + "\n")

    def _tty(self, device_dir, name, node_target):
        tty_dir = self.root / device_dir / "tty" / name
        tty_dir.mkdir(parents=True)
        (tty_dir / "device").symlink_to(self.root / device_dir)
        (self.root / "sys/class/tty" / name).symlink_to(tty_dir)
        (self.root / "dev" / name).symlink_to(node_target)
        # The kernel finds a node's tty by its device number.
        number = os.stat(node_target).st_rdev
        (self.root / f"sys/dev/char/{os.major(number)}:{os.minor(number)}").symlink_to(tty_dir)
        return tty_dir

    def add_uart(self, line, uart_type, node_target):
        tty_dir = self._tty(f"sys/devices/platform/serial8250/serial8250:0.{line}",
                            f"ttyS{line}", node_target)
        (tty_dir / "type").write_text(uart_type + "\n")

    def add_usb_serial(self, name, socket, node_target, driver, identity):
        """A USB serial adapter; identity: idVendor, idProduct, manufacturer, product, serial."""
        usb = f"sys/devices/pci0000:00/0000:00:14.0/usb1/1-{socket}"
        for field, value in identity.items():
            self._write(f"{usb}/{field}", value)
        port = f"{usb}/1-{socket}:1.0/{name}"
        self._tty(port, name, node_target)
        (self.root / port / "driver").symlink_to(f"../../../../../../bus/usb-serial/drivers/{driver}")

    def add_ftdi(self, name, socket, node_target):
        self.add_usb_serial(name, socket, node_target, "ftdi_sio", {
            "idVendor": "0403", "idProduct": "6001", "manufacturer": "FTDI",
            "product": "FT232R USB UART", "serial": "A50285BI"})

    def set_console(self, name):
        self._write("sys/devices/virtual/tty/console/active", name)
        (self.root / "sys/class/tty/console").symlink_to(self.root / "sys/devices/virtual/tty/console")


class SerialPorts(EndToEnd):

    def machine_environment(self, machine):
        """No KORVAN_COM<n>: the program numbers the fake machine's devices itself."""
        environment = {key: value for key, value in os.environ.items()
                       if not key.startswith("KORVAN_COM")}
        environment["KORVAN_SYSTEM_ROOT"] = str(machine.root)
        return environment

    def run_with(self, environment, *arguments):
        return subprocess.run([str(CLI), *arguments], cwd=self.folder, env=environment,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=CLI_TIMEOUT_S)

    def test_usb_modem_is_found_without_settings_and_console_and_phantom_stay_untouched(self):
        image = self.make_image("firmware.dl")
        simulator = self.start_simulator(None)
        console = self.add_silent_line(None)
        phantom = self.add_silent_line(None)
        machine = FakeMachine(self.folder / "machine")
        machine.add_uart(0, PORT_16550A, console.path)
        machine.set_console("ttyS0")
        machine.add_uart(1, "0", phantom.path)
        machine.add_ftdi("ttyUSB0", 2, simulator.path)
        environment = self.machine_environment(machine)

        listing = json.loads(self.run_with(environment, "--list-ports", "--json").stdout)
        rows = {row["name"] or row["port"]: row for row in listing["ports"]}
        self.assertEqual(rows["ttyUSB0"]["port"], "COM3")
        self.assertEqual((rows["ttyUSB0"]["kind"], rows["ttyUSB0"]["driver"],
                          rows["ttyUSB0"]["vendor_id"], rows["ttyUSB0"]["product_id"]),
                         ("usb", "ftdi_sio", "0403", "6001"))
        self.assertEqual(rows["ttyUSB0"]["state"], "free")
        self.assertEqual((rows["ttyS0"]["searched"], rows["ttyS0"]["state"]), (False, "console"))
        self.assertEqual((rows["ttyS1"]["searched"], rows["ttyS1"]["state"]), (False, "phantom"))
        self.assertEqual([row["port"] for row in listing["ports"] if row["searched"]],
                         [f"COM{number}" for number in range(1, 10)])

        result = self.run_with(environment, "--image", "firmware.dl")

        self.assertEqual(result.stdout.splitlines(), MODEM_FOUND + ["Validating download file..."] +
                         complete_run_after_validation(image), result.stderr)
        self.assertEqual(result.returncode, 0)
        self.assert_flashed(simulator, image)
        self.assertEqual(bytes(console.received), b"")
        self.assertEqual(bytes(phantom.received), b"")

    def test_port_filter_keeps_only_the_adapters_it_names(self):
        image = self.make_image("firmware.dl")
        uart = self.add_silent_line(None)
        ch340 = self.add_silent_line(None)
        ftdi = self.start_simulator(None)
        machine = FakeMachine(self.folder / "machine")
        machine.add_uart(1, PORT_16550A, uart.path)
        # The CH340 is COM3, searched first: only the filter keeps it from hearing a byte.
        machine.add_usb_serial("ttyUSB1", 1, ch340.path, "ch341-uart", {
            "idVendor": "1a86", "idProduct": "7523", "product": "USB Serial"})
        machine.add_ftdi("ttyUSB0", 2, ftdi.path)
        environment = self.machine_environment(machine)

        def run_filtered(filters, *arguments):
            options = [word for text in filters for word in ("--port-filter", text)]
            return self.run_with(environment, *options, *arguments)

        def kept(*filters):
            result = run_filtered(filters, "--list-ports", "--json")
            rows = json.loads(result.stdout)["ports"]
            return sorted(row["name"] for row in rows if row["kept_by_filter"]), result.stderr

        self.assertEqual(kept("vid=0403,pid=6001,serial=A50285BI"), (["ttyUSB0"], ""))
        self.assertEqual(kept("vid=0403,serial=a50285bi", "VID=0x1A86"), (["ttyUSB1"], ""))
        no_match = "No serial port has a USB adapter that matches --port-filter vid=0403,pid=6015"
        self.assertEqual(kept("vid=0403,pid=6015"), ([], no_match + "\n"))
        text = run_filtered(["vid=0403"], "--list-ports").stdout.splitlines()
        self.assertEqual(text[0].split()[:2], ["PORT", "FILTER"])
        self.assertEqual([line.split()[:2] for line in text if "ttyUSB" in line],
                         [["COM3", "left"], ["COM4", "kept"]])

        search = run_filtered(["vid=0403,pid=6015"], "--image", "firmware.dl")
        self.assertEqual((search.stdout, search.returncode),
                         (no_match + " (see --list-ports)\n", 1))

        line = run_filtered(["vid=0403"], "--all-ports", "--image", "firmware.dl")
        self.assertEqual(line.returncode, 0, line.stdout + line.stderr)
        self.assert_flashed(ftdi, image)
        none = run_filtered(["vid=0403,pid=6015"], "--all-ports", "--image", "firmware.dl")
        self.assertIn("station: " + no_match, none.stdout.splitlines())
        self.assertEqual(none.returncode, 1)
        self.assertEqual(ftdi.log().count("configure"), 1)
        self.assertEqual((bytes(uart.received), bytes(ch340.received)), (b"", b""))

    def test_port_held_by_another_program_is_skipped_with_its_name(self):
        holder = subprocess.Popen([sys.executable, "-c", HOLDER_PROGRAM], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
        try:
            held_path = holder.stdout.readline().strip()
            self.ports[3] = held_path

            result = self.run_cli()
            listing = self.run_cli("--list-ports")
        finally:
            holder.stdin.close()
            holder.stdout.close()
            holder.wait(timeout=10)

        self.assert_output(result, ["Configuring modem, please wait...",
                                    "Could not configure modem!"], 1)
        self.assertEqual(result.stderr.splitlines()[0],
                         f"COM3 ({held_path}): in use by ModemManager (pid {holder.pid})")
        com3 = next(line for line in listing.lines if line.startswith("COM3 "))
        self.assertIn(held_path, com3)
        self.assertIn(f"in use by ModemManager (pid {holder.pid})", com3)

    def test_trace_of_a_whole_run_names_every_packet(self):
        image = self.make_image("firmware.dl", "--seed", "5", "--random-tags")
        simulator = self.start_simulator(3)
        trace_path = self.folder / "line.trace"

        result = self.run_cli("--image", "firmware.dl", "--trace", str(trace_path))

        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        events = parse_trace(trace_path.read_text())
        # Each event's bytes are all in the dump below it.
        for event in events:
            if event["length"] is not None:
                self.assertEqual(len(event["bytes"]), event["length"], event["text"])
        times = [event["ms"] for event in events]
        self.assertEqual(times, sorted(times))

        line = [(event["text"], len(event["bytes"])) for event in events
                if event["length"] is not None and "COM3" in event["text"]]
        names = [text.split(" COM3 ", 1)[1] for text, _ in line]
        self.assertEqual([name for name in names if name.startswith("AT line")],
                         ['AT line "AT"', 'AT line "ATI3"', 'AT line "AT*Y120"',
                          'AT line "AT*D"', 'AT line "ATZ"'])
        programming = [name for name in names if "record" in name]
        self.assertEqual(programming, [f"{kind} {number}" for number in range(1, RECORD_COUNT + 1)
                                       for kind in ("record", "acknowledgement of record")])
        sizes = {}
        for text, size in line:
            name = text.split(" COM3 ", 1)[1]
            kind = re.sub(r" \d+$", "", name) if "record" in name else name
            sizes[kind] = sizes.get(kind, 0) + size
        self.assertEqual(sizes["record"], RECORD_COUNT * RECORD_SIZE)
        self.assertEqual(sizes["acknowledgement of record"], RECORD_COUNT * 4)
        for request, request_size in (("configure", 6), ("erase", 12), ("restore", 6)):
            self.assertEqual((sizes[request], sizes[f"{request} reply"]), (request_size, 16))
        sent_records = b"".join(event["bytes"] for event in events
                                if re.search(r"TX COM3 record \d+$", event["text"]))
        self.assertEqual(sent_records, image[:RECORD_COUNT * RECORD_SIZE])
        self.assertEqual([event["text"] for event in events if event["length"] is None][-1],
                         "close COM3")
        self.assertEqual(simulator.flashed(), image[:RECORD_COUNT * RECORD_SIZE])

    def test_report_line_and_outcome_say_which_adapter_machine_and_image(self):
        image = self.make_image("firmware.dl", "--seed", "11")
        simulator = self.start_simulator(None)
        machine = FakeMachine(self.folder / "machine")
        machine.add_ftdi("ttyUSB0", 2, simulator.path)
        by_id = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
        (machine.root / "dev/serial/by-id").mkdir(parents=True)
        (machine.root / "dev/serial/by-id" / by_id).symlink_to("../../ttyUSB0")

        result = self.run_with(self.machine_environment(machine), "--ports", "COM3", "--events",
                               "--report", "report.jsonl", "--image", "firmware.dl")

        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        [outcome] = [event for event in map(json.loads, result.stdout.splitlines())
                     if event["event"] == "outcome"]
        [report_line] = map(json.loads, (self.folder / "report.jsonl").read_text().splitlines())
        who = {"usb_serial": "A50285BI", "by_id": by_id, "host": socket.gethostname(),
               "image_sha256": hashlib.sha256(image).hexdigest()}
        for reported in (outcome, report_line):
            self.assertEqual({key: reported.get(key) for key in who}, who, reported)
        self.assertEqual(report_line["result"], "complete")
        self.assert_flashed(simulator, image)


EVENT = re.compile(r"^ *(\d+) ms  (.*?)(?:, (\d+) bytes)?(?: \(.*\))?$")
DUMP = re.compile(r"^ {15}[0-9a-f]{4} ((?: [0-9a-f]{2})+)")


def parse_trace(text):
    """Events of a trace file: time, text, declared length and the bytes dumped below."""
    events = []
    for line in text.splitlines():
        dump = DUMP.match(line)
        if dump:
            events[-1]["bytes"] += bytes.fromhex(dump.group(1))
            continue
        event = EVENT.match(line)
        if not event:
            raise AssertionError(f"not a trace line: {line!r}")
        length = int(event.group(3)) if event.group(3) else None
        events.append({"ms": int(event.group(1)), "text": event.group(2), "length": length,
                       "bytes": b""})
    return events


if __name__ == "__main__":
    unittest.main()
