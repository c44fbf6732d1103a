#!/usr/bin/env python3
"""The production line: korvan-download-cli flashing several simulated modems at once.

Each case runs whole downloads with the engine's real pauses (about 15 s each), so there
are few of them, each covering what a station depends on.

Run one case:  KORVAN_TEST_BIN=build/bin python3 production_line_test.py Line.test_batch_of_four
"""

import json
import os
import signal
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

from end_to_end_test import (CLI, IMAGE_TOOL, RECORD_COUNT, RECORD_SIZE, SIM, Simulator,
                             checksum_total)
from korvan_sim import OutputLines, com_ports_mapped_away  # on the path end_to_end_test set

RUN_TIMEOUT_S = 90


class StationFixture(unittest.TestCase):
    """A test folder with an image, modems.cfg and a report path; simulators and a station."""

    def setUp(self):
        for tool in (CLI, SIM, IMAGE_TOOL):
            self.assertTrue(tool.exists(), f"{tool} not built")
        self._folder = tempfile.TemporaryDirectory(prefix="korvan-line-")
        self.folder = Path(self._folder.name)
        self.simulators = []
        self.station = None
        subprocess.run([str(IMAGE_TOOL), "make", str(self.folder / "firmware.dl"), "--seed",
                        "3"], check=True)
        self.image = (self.folder / "firmware.dl").read_bytes()
        (self.folder / "modems.cfg").write_text('"KORVAN 56K" firmware.dl\n')
        self.report = self.folder / "report.jsonl"
        self.version = subprocess.run([str(CLI), "--version"], capture_output=True,
                                      text=True).stdout.split()[-1]

    def tearDown(self):
        if self.station is not None and self.station.poll() is None:
            self.station.kill()
            self.station.communicate()
        for simulator in self.simulators:
            if simulator.process.poll() is None:
                simulator.stop()
        self._folder.cleanup()

    def start_simulator(self, name, *options, **settings):
        simulator = Simulator(self.folder, *options, name=name, **settings)
        self.simulators.append(simulator)
        return simulator

    def environment(self):
        """No COM port may reach a real serial device: all nine lead nowhere."""
        return com_ports_mapped_away(self.folder)

    def start_station(self, *arguments, environment=None, program=CLI):
        # A session of its own, so a signal to its group is what Ctrl-C on a terminal does.
        self.station = subprocess.Popen(
            [str(program), *arguments], cwd=self.folder, env=environment or self.environment(),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        return self.station

    def finish_station(self):
        out, err = self.station.communicate(timeout=RUN_TIMEOUT_S)
        return self.station.returncode, out.splitlines(), err

    def interrupt_station(self):
        os.killpg(self.station.pid, signal.SIGINT)

    def report_objects(self):
        if not self.report.exists():
            return []
        return [json.loads(line) for line in self.report.read_text().splitlines()]

    def wait_for(self, condition, what, seconds=RUN_TIMEOUT_S):
        deadline = time.monotonic() + seconds
        while not condition():
            self.assertIsNone(self.station.poll(), f"the station ended while waiting for {what}")
            self.assertLess(time.monotonic(), deadline,
                            f"no {what() if callable(what) else what}")
            time.sleep(0.05)

    def assert_flashed(self, simulator):
        self.assertEqual(simulator.flashed(), self.image[:RECORD_COUNT * RECORD_SIZE])

    def assert_complete_object(self, report_object, port):
        self.assertEqual(report_object["port"], port)
        self.assertEqual(report_object["result"], "complete")
        self.assertEqual(report_object["records"], RECORD_COUNT)
        self.assertEqual(report_object["checksum"], f"{checksum_total(self.image):04x}")
        self.assertEqual(report_object["message"],
                         f"Download complete!  ({checksum_total(self.image):04x})")
        self.assertEqual(report_object["identification"], "KORVAN 56K V.90 MODEM")
        self.assertEqual(report_object["version"], self.version)



class Line(StationFixture):

    def test_batch_of_four(self):
        good = [self.start_simulator(f"good{n}") for n in (1, 2)]
        failing = self.start_simulator("failing", "--wrong-tag", "100")
        unknown = self.start_simulator("unknown", model="ACME 33600 DATA PUMP")
        ports = [good[0].path, failing.path, unknown.path, good[1].path]
        self.report.write_text('{"kept":"a line from yesterday"}\n')

        self.start_station("--ports", ",".join(ports), "--report", str(self.report))
        status, lines, err = self.finish_station()

        self.assertEqual(status, 1, err)
        kept, *objects = self.report_objects()
        self.assertEqual(kept, {"kept": "a line from yesterday"})
        by_port = {report_object["port"]: report_object for report_object in objects}
        self.assertEqual(sorted(by_port), sorted(ports))
        for simulator in good:
            self.assert_complete_object(by_port[simulator.path], simulator.path)
            self.assert_flashed(simulator)

        failed = by_port[failing.path]
        self.assertEqual((failed["result"], failed["message"], failed["records"]),
                         ("failed", "Could not program modem!", 99))
        self.assertNotIn("record 101", " ".join(failing.log()))

        cancelled = by_port[unknown.path]
        self.assertEqual((cancelled["result"], cancelled["message"], cancelled["image"]),
                         ("cancelled", "Download file not specified!", ""))
        self.assertEqual(cancelled["identification"], "ACME 33600 DATA PUMP")
        self.assertNotIn("erase", unknown.log())

        # Off a terminal every event line names its port; the summary table follows.
        events = lines[:lines.index("")]
        self.assertTrue(all(any(line.startswith(port + ": ") for port in ports)
                            for line in events), events)
        self.assertIn(f"{unknown.path}: Download file not specified!", events)
        self.assertTrue(lines[lines.index("") + 1].startswith("Port"))
        for report_object in objects:
            started = report_object["start"]
            self.assertRegex(started, r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
            self.assertGreaterEqual(report_object["end"], started)
            self.assertGreater(report_object["duration"], 0)

    def test_all_ports_through_the_com_mapping_as_events(self):
        on_com3 = self.start_simulator("com3")
        on_com5 = self.start_simulator("com5")
        environment = com_ports_mapped_away(self.folder, {3: on_com3.path, 5: on_com5.path})

        self.start_station("--all-ports", "--events", "--image", "firmware.dl",
                           environment=environment)
        status, lines, err = self.finish_station()

        self.assertEqual(status, 0, err)
        events = [json.loads(line) for line in lines]
        self.assertEqual({event["port"] for event in events}, {"COM3", "COM5"})
        self.assertTrue(all("time" in event for event in events))
        outcomes = {event["port"]: event for event in events if event["event"] == "outcome"}
        self.assertEqual({port: outcome["result"] for port, outcome in outcomes.items()},
                         {"COM3": "complete", "COM5": "complete"})
        progress = [event["records"] for event in events
                    if event["port"] == "COM5" and event["event"] == "progress"]
        self.assertEqual(progress, list(range(RECORD_COUNT + 1)))
        self.assert_flashed(on_com3)
        self.assert_flashed(on_com5)

    def test_watch_flashes_each_modem_once_until_interrupted(self):
        station_port = self.folder / "station-port"
        first = self.start_simulator("first")
        station_port.symlink_to(first.path)
        self.start_station("--watch", "--ports", str(station_port), "--report",
                           str(self.report))
        output = OutputLines(self.station.stdout)

        self.wait_for(lambda: len(self.report_objects()) == 1, "first report")
        # Left in place, the flashed modem is not flashed again.
        time.sleep(1.5)
        self.assertEqual(first.log().count("configure"), 1)
        self.assertEqual(len(self.report_objects()), 1)

        # Unplugged, and plugged again only once the station has seen it go: the next
        # modem's pty may well get the first one's number.
        first.stop()
        station_port.unlink()
        self.wait_for(lambda: f"{station_port}: Modem removed: waiting for the next one"
                      in output.lines, "removal noticed")
        second = self.start_simulator("second")
        station_port.symlink_to(second.path)
        self.wait_for(lambda: len(self.report_objects()) == 2, "second report")
        self.interrupt_station()
        status = self.station.wait(timeout=RUN_TIMEOUT_S)
        err = self.station.stderr.read()
        lines = output.finish(RUN_TIMEOUT_S)

        self.assertEqual(status, 0, err)
        # The summary keeps each port's last run and a tally, not a row per flash.
        summary = lines[lines.index("") + 1:]
        self.assertEqual([line.split()[:2] for line in summary[1:-1]],
                         [[str(station_port), "complete"]], lines)
        self.assertEqual(summary[-1], "station: 2 flashed, 2 complete")
        for report_object in self.report_objects():
            self.assert_complete_object(report_object, str(station_port))
        self.assert_flashed(first)
        self.assert_flashed(second)
        self.assertEqual(second.log().count("configure"), 1)

    def test_ctrl_c_lets_the_downloads_in_progress_finish(self):
        modems = [self.start_simulator(f"modem{n}") for n in (1, 2)]
        self.start_station("--ports", ",".join(modem.path for modem in modems),
                           "--report", str(self.report))

        self.wait_for(lambda: all(modem.log().count("erase") for modem in modems),
                      "erase on both modems")
        self.interrupt_station()
        status, lines, err = self.finish_station()

        self.assertEqual(status, 0, err)
        self.assertIn("station: Interrupted: the downloads in progress finish first (Ctrl-C "
                      "again stops them at once)", lines)
        for modem in modems:
            self.assert_flashed(modem)
        self.assertEqual([report_object["result"] for report_object in self.report_objects()],
                         ["complete", "complete"])


if __name__ == "__main__":
    unittest.main()
