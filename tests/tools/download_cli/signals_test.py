#!/usr/bin/env python3
"""korvan-download-cli under what shells, terminals, service managers and operators do:
closed pipes, Ctrl-C, SIGTERM, a replaced program file and a port another program holds.

The modems are simulated on ptys, paced like a fast line where a signal has to land in the
middle of the programming.

Run one case:  KORVAN_TEST_BIN=build/bin python3 signals_test.py Signals.test_closed_output
"""

import fcntl
import json
import os
import shutil
import signal
import subprocess
import unittest

from end_to_end_test import CLI, RECORD_COUNT
from korvan_sim import OutputLines  # on the path end_to_end_test set
from production_line_test import RUN_TIMEOUT_S, StationFixture

# At this pace the 224 records take about 5 s: time for a signal to land among them.
PACED = ("--line-rate", "460800")


class Signals(StationFixture):

    def tearDown(self):
        super().tearDown()
        if self.station is not None:
            for stream in (self.station.stdout, self.station.stderr):
                if stream is not None:
                    stream.close()

    def start_single_run(self, simulator, stdout=subprocess.PIPE):
        self.station = subprocess.Popen(
            [str(CLI), "--port", simulator.path, "--image", "firmware.dl"], cwd=self.folder,
            env=self.environment(), stdin=subprocess.DEVNULL, stdout=stdout,
            stderr=subprocess.PIPE, text=True, start_new_session=True)
        return self.station

    def wait_for_record(self, simulator, number):
        self.wait_for(lambda: f"record {number}" in " ".join(simulator.log()),
                      f"record {number}")

    def every_process_of_the_station(self):
        """The station and its children, as a service manager's stop finds them."""
        children = (f"/proc/{self.station.pid}/task/{self.station.pid}/children")
        with open(children) as listing:
            return [self.station.pid] + [int(pid) for pid in listing.read().split()]

    def report_lines(self):
        return self.report.read_text().splitlines() if self.report.exists() else []

    # One run ----------------------------------------------------------------------------

    def test_closed_output_does_not_end_the_run(self):
        simulator = self.start_simulator("modem")
        run = self.start_single_run(simulator)
        # As `| head -n 6` does: six lines read, then the pipe closed.
        for _ in range(6):
            run.stdout.readline()
        run.stdout.close()

        status = run.wait(timeout=RUN_TIMEOUT_S)

        self.assertEqual(status, 0, run.stderr.read())
        self.assert_flashed(simulator)

    def test_ctrl_c_during_programming_lets_the_run_finish(self):
        simulator = self.start_simulator("modem", *PACED)
        run = self.start_single_run(simulator)
        self.wait_for_record(simulator, 50)

        run.send_signal(signal.SIGINT)
        out, err = run.communicate(timeout=RUN_TIMEOUT_S)

        self.assertEqual(run.returncode, 0, err)
        self.assertIn("interrupted: the download goes on to its end", err)
        self.assertIn("press Ctrl-C again to abort at once", err)
        self.assertTrue(out.splitlines()[-1].startswith("Download complete!"), out)
        self.assert_flashed(simulator)

    def test_second_ctrl_c_aborts_the_run(self):
        simulator = self.start_simulator("modem", *PACED)
        run = self.start_single_run(simulator)
        self.wait_for_record(simulator, 50)
        run.send_signal(signal.SIGINT)
        errors = OutputLines(run.stderr)
        self.wait_for(lambda: any("goes on to its end" in line for line in errors.lines),
                      "the note of the first Ctrl-C")

        run.send_signal(signal.SIGINT)

        self.assertEqual(run.wait(timeout=RUN_TIMEOUT_S), -signal.SIGINT)
        records = [line for line in simulator.log() if line.startswith("record ")]
        self.assertLess(len(records), RECORD_COUNT)

    def test_ctrl_c_before_the_erase_ends_the_run_at_once(self):
        simulator = self.start_simulator("modem")
        run = self.start_single_run(simulator)
        self.assertEqual(run.stdout.readline(), "Configuring modem, please wait...\n")

        run.send_signal(signal.SIGINT)

        # Within the one-second pause of that first message, not after the run.
        self.assertEqual(run.wait(timeout=RUN_TIMEOUT_S), -signal.SIGINT)
        self.assertNotIn("erase", simulator.log())
        self.assertNotIn("goes on to its end", run.stderr.read())

    # A station --------------------------------------------------------------------------

    def test_stop_of_every_station_process_finishes_and_reports_every_download(self):
        modems = [self.start_simulator(f"modem{n}", *PACED) for n in (1, 2)]
        # A line a crashed writer left half-written: the next line must not glue onto it.
        self.report.write_text('{"port":"COM3","res')
        self.start_station("--ports", ",".join(modem.path for modem in modems),
                           "--report", str(self.report))
        for modem in modems:
            self.wait_for_record(modem, 20)

        for pid in self.every_process_of_the_station():
            os.kill(pid, signal.SIGTERM)
        status, lines, err = self.finish_station()

        self.assertEqual(status, 0, (lines, err))
        for modem in modems:
            self.assert_flashed(modem)
        half, *objects = self.report_lines()
        self.assertEqual(half, '{"port":"COM3","res')
        self.assertEqual(sorted(json.loads(line)["port"] for line in objects),
                         sorted(modem.path for modem in modems))
        for line in objects:
            self.assertEqual(json.loads(line)["result"], "complete")

    def test_second_ctrl_c_stops_a_station_and_reports_the_runs_cut_short(self):
        modem = self.start_simulator("modem", *PACED)
        self.start_station("--ports", modem.path, "--report", str(self.report))
        self.wait_for_record(modem, 20)

        self.interrupt_station()
        output = OutputLines(self.station.stdout)
        self.wait_for(lambda: any("Interrupted" in line for line in output.lines),
                      "the note of the first Ctrl-C")
        self.interrupt_station()
        status = self.station.wait(timeout=RUN_TIMEOUT_S)

        self.assertEqual(status, 1)
        [cut_short] = [json.loads(line) for line in self.report_lines()]
        self.assertEqual((cut_short["result"], cut_short["message"]),
                         ("failed", "The download ended without an outcome (ended by signal 9)"))
        self.assertLess(cut_short["records"], RECORD_COUNT)

    def test_station_keeps_flashing_after_its_program_file_is_replaced(self):
        program = self.folder / "korvan-download-cli"
        shutil.copy(CLI, program)
        station_port = self.folder / "station-port"
        self.start_station("--watch", "--ports", str(station_port), "--report",
                           str(self.report), program=program)
        self.wait_for(lambda: os.readlink(f"/proc/{self.station.pid}/exe") == str(program),
                      "the station running the copy")
        # As a package upgrade does: the new file renamed over the old one.
        upgrade = self.folder / "upgrade"
        upgrade.write_text("#!/bin/sh\nexit 3\n")
        upgrade.chmod(0o755)
        upgrade.replace(program)

        modem = self.start_simulator("modem")
        station_port.symlink_to(modem.path)
        output = OutputLines(self.station.stdout)
        self.wait_for(lambda: len(self.report_lines()) == 1,
                      lambda: f"report line; the station said {output.lines}")
        self.interrupt_station()
        status = self.station.wait(timeout=RUN_TIMEOUT_S)
        err = self.station.stderr.read()

        self.assertEqual(status, 0, err)
        self.assert_complete_object(json.loads(self.report_lines()[0]), str(station_port))
        self.assert_flashed(modem)

    def test_busy_port_in_watch_mode_is_flashed_once_free(self):
        modem = self.start_simulator("modem")
        holder = os.open(modem.path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            fcntl.flock(holder, fcntl.LOCK_EX)
            self.start_station("--watch", "--ports", modem.path, "--report", str(self.report))
            output = OutputLines(self.station.stdout)
            self.wait_for(lambda: any(line.startswith(f"{modem.path}: Waiting: in use by ")
                                      for line in output.lines), "the reason for the wait")
        finally:
            os.close(holder)
        self.wait_for(lambda: len(self.report_lines()) == 1, "a report line")
        self.interrupt_station()
        status = self.station.wait(timeout=RUN_TIMEOUT_S)
        lines = output.finish(RUN_TIMEOUT_S)

        self.assertEqual(status, 0, self.station.stderr.read())
        self.assertEqual(lines[-1], "station: 1 flashed, 1 complete")
        self.assert_complete_object(json.loads(self.report_lines()[0]), modem.path)
        self.assert_flashed(modem)
        # The attempts on the busy port showed none of their own lines.
        self.assertNotIn(f"{modem.path}: Could not configure modem!", lines)


if __name__ == "__main__":
    unittest.main()
