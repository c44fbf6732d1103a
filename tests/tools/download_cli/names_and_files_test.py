#!/usr/bin/env python3
"""Port names that lead nowhere, files named twice, text from outside and who holds a port.

Each case names one way a name, a path or a stranger's text could make the program flash the
wrong modem, destroy a file or garble the operator's terminal.

Run one case:  KORVAN_TEST_BIN=build/bin python3 names_and_files_test.py NamesAndFiles.test_...
"""

import fcntl
import json
import os
import re
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from end_to_end_test import CLI, RECORD_COUNT  # noqa: E402
from production_line_test import RUN_TIMEOUT_S, Line  # noqa: E402
from serial_ports_test import FakeMachine  # noqa: E402
from korvan_sim import com_ports_mapped_away  # noqa: E402  (on the path end_to_end_test set)

USAGE_ERROR = 64

# Holds the pty named on its command line (or one of its own) under the name given, locked
# as a serial program locks its port when asked; prints the path once it holds it.
HOLDER_PROGRAM = r"""
import fcntl, os, sys
name, lock, path = sys.argv[1], sys.argv[2] == "lock", sys.argv[3] if len(sys.argv) > 3 else ""
if path:
    held = os.open(path, os.O_RDWR | os.O_NOCTTY)
else:
    master, held = os.openpty()
    path = os.ttyname(held)
if lock:
    fcntl.flock(held, fcntl.LOCK_EX)
with open("/proc/self/comm", "w") as comm:
    comm.write(name)
print(path, flush=True)
sys.stdin.read()
"""


class NamesAndFiles(Line):

    def setUp(self):
        super().setUp()
        self.holders = []

    def tearDown(self):
        for holder in self.holders:
            holder.stdin.close()
            holder.stdout.close()
            holder.wait(timeout=10)
        super().tearDown()

    def run_cli(self, *arguments, environment=None, timeout=RUN_TIMEOUT_S):
        return subprocess.run([str(CLI), *arguments], cwd=self.folder,
                              env=environment or self.environment(), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=timeout)

    def hold(self, name, lock, path=""):
        holder = subprocess.Popen([sys.executable, "-c", HOLDER_PROGRAM, name,
                                   "lock" if lock else "open", *([path] if path else [])],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.holders.append(holder)
        return holder, holder.stdout.readline().strip()

    # Port names ---------------------------------------------------------------------

    def test_com_name_without_a_device_fails_alone(self):
        on_com3 = self.start_simulator("com3")
        environment = com_ports_mapped_away(self.folder, {3: on_com3.path, 6: ""})  # COM6: none

        result = self.run_cli("--ports", "COM6", "--report", str(self.report),
                              environment=environment)

        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("COM6: no device", result.stdout.splitlines())
        [report_object] = self.report_objects()
        self.assertEqual((report_object["port"], report_object["result"],
                          report_object["message"]), ("COM6", "failed", "no device"))
        self.assertEqual(on_com3.log(), [])

    def test_port_list_with_an_empty_name_or_one_device_twice_is_a_usage_error(self):
        modem = self.start_simulator("modem")
        by_id = self.folder / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
        by_id.symlink_to(modem.path)
        environment = com_ports_mapped_away(self.folder, {3: modem.path})

        for ports in ("", "COM3,,COM4", f"{by_id},{modem.path}"):
            result = self.run_cli("--ports", ports, environment=environment, timeout=20)
            self.assertEqual(result.returncode, USAGE_ERROR, (ports, result.stderr))
        self.assertIn("twice", result.stderr)
        self.assertEqual(modem.log(), [])

    def test_watch_finds_an_adapter_plugged_in_after_the_start_under_its_com_name(self):
        machine = FakeMachine(self.folder / "machine")
        environment = {key: value for key, value in os.environ.items()
                       if not key.startswith("KORVAN_COM")}
        environment["KORVAN_SYSTEM_ROOT"] = str(machine.root)
        self.start_station("--watch", "--ports", "COM3", "--image", "firmware.dl", "--report",
                           str(self.report), environment=environment)
        # Plugged in once the station has looked at COM3 a few times and found nothing.
        time.sleep(1)
        modem = self.start_simulator("late")
        machine.add_ftdi("ttyUSB0", 2, modem.path)
        self.wait_for(lambda: self.report_objects(), "a report of the late modem")
        self.interrupt_station()
        self.station.communicate(timeout=RUN_TIMEOUT_S)

        [report_object] = self.report_objects()
        self.assertEqual((report_object["port"], report_object["result"]), ("COM3", "complete"))
        self.assertEqual(report_object["device"], str(machine.root / "dev/ttyUSB0"))
        self.assert_flashed(modem)

    def test_all_ports_takes_a_device_numbered_beyond_com9(self):
        machine = FakeMachine(self.folder / "machine")
        # Seven adapters on locked lines take COM3..COM9 and end at once; the eighth is COM10.
        for socket in range(1, 8):
            for end in (held := os.openpty()):
                self.addCleanup(os.close, end)
            fcntl.flock(held[1], fcntl.LOCK_EX)
            machine.add_ftdi(f"ttyUSB{socket - 1}", socket, os.ttyname(held[1]))
        modem = self.start_simulator("com10")
        machine.add_ftdi("ttyUSB7", 8, modem.path)
        environment = {key: value for key, value in os.environ.items()
                       if not key.startswith("KORVAN_COM")}
        environment["KORVAN_SYSTEM_ROOT"] = str(machine.root)

        self.start_station("--all-ports", "--events", "--image", "firmware.dl",
                           environment=environment)
        status, lines, err = self.finish_station()

        outcomes = {event["port"]: event["result"] for event in map(json.loads, lines)
                    if event["event"] == "outcome"}
        self.assertEqual(outcomes.get("COM10"), "complete", (lines, err))
        self.assert_flashed(modem)

    def test_all_ports_says_which_device_it_leaves_out(self):
        machine = FakeMachine(self.folder / "machine")
        modem = self.start_simulator("modem")
        machine.add_ftdi("ttyUSB0", 2, modem.path)
        environment = dict(os.environ, KORVAN_SYSTEM_ROOT=str(machine.root))
        environment = com_ports_mapped_away(self.folder, {3: ""}, environment)

        result = self.run_cli("--all-ports", environment=environment, timeout=20)

        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(f"korvan-download-cli: --all-ports leaves out {machine.root}/dev/ttyUSB0: "
                      "its number COM3 is set by KORVAN_COM3", result.stderr.splitlines())
        self.assertEqual(modem.log(), [])

    # Files named twice ----------------------------------------------------------------

    def test_trace_or_report_on_a_file_that_is_no_place_for_it_is_refused(self):
        modem = self.start_simulator("modem")
        fifo = self.folder / "fifo"
        os.mkfifo(fifo)
        (self.folder / "traces").mkdir()
        map_text = (self.folder / "modems.cfg").read_bytes()
        single = ["--port", modem.path, "--image", "firmware.dl"]
        station = ["--ports", modem.path, "--image", "firmware.dl"]

        # A missing check truncates the file or blocks on the FIFO until the time-out.
        for arguments in (single + ["--trace", "firmware.dl"],
                          single + ["--trace", "modems.cfg"],
                          single + ["--trace", str(fifo)],
                          single + ["--trace", "traces"],
                          station + ["--report", "firmware.dl"],
                          station + ["--trace", "firmware.dl"]):
            result = self.run_cli(*arguments, timeout=20)
            self.assertEqual(result.returncode, USAGE_ERROR, (arguments, result.stderr))
            self.assertTrue(result.stderr.splitlines()[1].startswith("Usage: korvan-download-cli"),
                            result.stderr)
        self.assertEqual((self.folder / "firmware.dl").read_bytes(), self.image)
        self.assertEqual((self.folder / "modems.cfg").read_bytes(), map_text)
        self.assertEqual(modem.log(), [])

    @unittest.skipUnless(os.geteuid() == 0, "only root follows links into others' files")
    def test_as_root_a_link_into_a_file_its_owner_does_not_own_is_not_followed(self):
        modem = self.start_simulator("modem")
        victim = self.folder / "shadow"
        victim.write_text("root's secret\n")
        planted = self.folder / "planted.trace"
        planted.symlink_to(victim)
        os.lchown(planted, 65534, 65534)  # a link another user could have left in /tmp

        result = self.run_cli("--port", modem.path, "--image", "firmware.dl", "--trace",
                              str(planted), timeout=20)

        self.assertEqual(result.returncode, USAGE_ERROR, result.stderr)
        self.assertEqual(victim.read_text(), "root's secret\n")
        self.assertEqual(modem.log(), [])

    def test_trace_that_cannot_be_written_leaves_the_flash_and_its_status(self):
        modem = self.start_simulator("modem")

        result = self.run_cli("--port", modem.path, "--image", "firmware.dl", "--trace",
                              "/dev/full")

        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.splitlines(),
                         ["korvan-download-cli: the trace file /dev/full could not be written "
                          "whole: No space left on device"])
        self.assert_flashed(modem)

    def test_station_traces_each_run_into_a_file_its_report_line_names(self):
        modems = [self.start_simulator(f"modem{n}") for n in (1, 2)]
        traces = self.folder / "traces"
        traces.mkdir()

        self.start_station("--ports", ",".join(modem.path for modem in modems), "--trace",
                           str(traces), "--report", str(self.report))
        status, _, err = self.finish_station()

        self.assertEqual(status, 0, err)
        objects = self.report_objects()
        self.assertEqual(sorted(Path(report_object["trace"]).parent
                                for report_object in objects), [traces, traces])
        self.assertEqual(sorted(path.name for path in traces.iterdir()),
                         sorted(Path(report_object["trace"]).name for report_object in objects))
        for report_object in objects:
            name = Path(report_object["trace"]).name
            self.assertRegex(name, r"^dev-pts-\d+-\d{8}T\d{6}\.\d{3}Z\.trace$")
            self.assertIn(f"record {RECORD_COUNT}", Path(report_object["trace"]).read_text())

    # Text from outside ----------------------------------------------------------------

    def test_modem_answer_with_terminal_sequences_arrives_escaped(self):
        modem = self.start_simulator("hostile", model="ACME\x1b]0;owned\x07\x1b[2J MODEM")

        self.start_station("--ports", modem.path, "--report", str(self.report))
        status, lines, err = self.finish_station()

        self.assertEqual(status, 1, err)
        self.assertIn(f"{modem.path}: Identification: ACME\\x1b]0;owned\\x07\\x1b[2J MODEM", lines)
        self.assertNotIn("\x1b", "\n".join(lines) + err)
        raw_report = self.report.read_text()
        self.assertIn("ACME\\u001b]0;owned\\u0007", raw_report)
        self.assertEqual(self.report_objects()[0]["identification"],
                         "ACME\x1b]0;owned\x07\x1b[2J MODEM")

    def test_listing_escapes_usb_strings_and_says_how_to_keep_modem_manager_away(self):
        machine = FakeMachine(self.folder / "machine")
        (machine.root / "proc").rmdir()
        (machine.root / "proc").symlink_to("/proc")  # the holder is a real process
        holder, held = self.hold("ModemManager", True)
        machine.add_ftdi("ttyUSB0", 2, held)
        product = "sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/product"
        (machine.root / product).write_bytes(b"FT232R\x1b[2J\xff\n")
        environment = {key: value for key, value in os.environ.items()
                       if not key.startswith("KORVAN_COM")}
        environment["KORVAN_SYSTEM_ROOT"] = str(machine.root)

        text = self.run_cli("--list-ports", environment=environment)
        listing = json.loads(self.run_cli("--list-ports", "--json",
                                          environment=environment).stdout)

        self.assertNotIn("\x1b", text.stdout)
        com3 = next(line for line in text.stdout.splitlines() if line.startswith("COM3 "))
        self.assertIn('"FT232R\\x1b[2J\\xff"', com3)
        self.assertIn(f"in use by ModemManager (pid {holder.pid})", com3)
        rule = 'ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", ENV{ID_MM_DEVICE_IGNORE}="1"'
        self.assertIn(f"  {rule}", text.stdout.splitlines())
        self.assertRegex(text.stdout, r"/etc/udev/rules\.d/\S+\.rules")
        self.assertIn("udevadm control --reload", text.stdout)
        [row] = [row for row in listing["ports"] if row["name"] == "ttyUSB0"]
        self.assertEqual((row["product"], row["udev_rule"]), ("FT232R\x1b[2J\xff", rule))

    # Who holds a port -----------------------------------------------------------------

    def test_every_holder_is_named_the_lock_holder_first(self):
        # The plain opener starts first, so a search in pid order would name it first.
        opener, path = self.hold("minicom", False)
        locker, _ = self.hold("ModemManager", True, path)
        environment = com_ports_mapped_away(self.folder, {3: path})
        holders = f"in use by ModemManager (pid {locker.pid}) and minicom (pid {opener.pid})"

        listing = self.run_cli("--list-ports", environment=environment)
        search = self.run_cli("--image", "firmware.dl", environment=environment)

        com3 = next(line for line in listing.stdout.splitlines() if line.startswith("COM3 "))
        self.assertIn(holders, com3)
        self.assertIn(f"COM3 ({path}): {holders}", search.stderr.splitlines())


if __name__ == "__main__":
    unittest.main()
