#!/usr/bin/env python3
"""What the console does before a modem is touched: the image named by --image checked
first, every port that cannot be opened named, and --identify, which asks the modem who it
is and changes nothing.

Run one case:  KORVAN_TEST_BIN=build/bin python3 before_the_modem_test.py BeforeTheModem.test_...
"""

import json
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from end_to_end_test import EndToEnd, Simulator, checksum_total  # noqa: E402

LIST_PORTS_HINT = "; see korvan-download-cli --list-ports"
# Answers ATI3 with a clear-screen sequence in its identification.
HOSTILE_MODEL = "KORVAN 56K V.90 MODEM\x1b[2J"


class BeforeTheModem(EndToEnd):

    def test_missing_or_invalid_image_ends_the_run_before_any_port_hears_a_byte(self):
        self.make_image("short.dl", "--records", "223")
        line = self.add_silent_line(3)

        for image, message in (("missing.dl", "Download file not found!"),
                               ("short.dl", "Invalid download file format!")):
            single = self.run_cli("--image", image)
            self.assert_output(single, [message], 1)

            station = self.run_cli("--ports", "COM3", "--image", image)
            self.assertEqual(station.returncode, 1, station.stdout)
            self.assertEqual(station.stderr, f"korvan-download-cli: {image}: {message}\n")

        self.assertEqual(bytes(line.received), b"")

    def test_every_port_that_cannot_be_opened_is_named_and_no_modem_points_to_the_list(self):
        missing = self.folder / "ttyUSB7"
        named = self.run_cli("--port", str(missing))

        self.assert_output(named, ["Configuring modem, please wait...",
                                   "Could not configure modem!"], 1)
        self.assertEqual(named.stderr.splitlines(), [
            f"{missing}: no such device",
            f"no modem answered: no port could be opened ({missing})" + LIST_PORTS_HINT,
        ])

        silent = self.add_silent_line(3)
        searched = self.run_cli()

        self.assert_output(searched, ["Configuring modem, please wait...",
                                      "Could not configure modem!"], 1)
        errors = searched.stderr.splitlines()
        self.assertEqual(errors[:2], [
            f"COM4 ({self.folder / 'no-such-port-COM4'}): no such device",
            f"COM2 ({self.folder / 'no-such-port-COM2'}): no such device",
        ])
        self.assertEqual(len(errors), 9)
        self.assertEqual(errors[-1], f"no modem answered on COM3 ({silent.path}) at 115200 "
                                     "and 57600 baud" + LIST_PORTS_HINT)

    def test_identify_reports_modem_and_image_and_sends_nothing_past_ati3(self):
        image = self.make_image("firmware.dl", "--seed", "4")
        self.write_modem_map('"KORVAN 33.6" other.dl\n"KORVAN 56K" firmware.dl\n')
        simulator = Simulator(self.folder, "--bauds", "57600", model=HOSTILE_MODEL)
        self.simulators.append(simulator)
        self.ports[3] = simulator.path

        text = self.run_cli("--identify")

        self.assert_output(text, [
            "Port:            COM3",
            f"Device:          {simulator.path}",
            "Line speed:      57600 baud",
            "Identification:  KORVAN 56K V.90 MODEM\\x1b[2J",
            'modems.cfg line: 2: "KORVAN 56K" firmware.dl',
            "Image:           firmware.dl",
            "Image valid:     yes",
            f"Checksum total:  {checksum_total(image):04x}",
        ], 0)

        as_json = self.run_cli("--identify", "--json", "--image", "absent.dl")

        self.assertEqual(as_json.returncode, 1, as_json.stderr)
        self.assertEqual(json.loads(as_json.stdout), {
            "result": "identified", "port": "COM3", "device": simulator.path, "baud": 57600,
            "identification": HOSTILE_MODEL, "map_line": 2,
            "map_text": '"KORVAN 56K" firmware.dl', "image": "absent.dl",
            "image_source": "--image", "image_valid": False,
            "image_problem": "Download file not found!"})
        # At 115200 the modem hears garbage; what it understood is AT and ATI3, nothing more.
        understood = [line for line in simulator.log() if not line.startswith("garbled")]
        self.assertEqual(understood, ["AT AT", "AT ATI3"] * 2)
        self.assertEqual(simulator.flashed(), b"")

        # Named ports are probed in one process: their trace is one file, not a directory.
        traced = self.run_cli("--identify", "--ports", "COM3", "--trace", "identify.trace")

        self.assertEqual(traced.returncode, 0, traced.stderr)
        self.assertIn('AT line "ATI3"', (self.folder / "identify.trace").read_text())


if __name__ == "__main__":
    unittest.main()
