#!/usr/bin/env python3
"""Whole downloads: korvan-download-cli against korvan-modem-sim over pseudo-terminals.

Every COM port is mapped (KORVAN_COM1..9) either to a simulator, to a pty that nobody
answers, or to a path that does not exist, so no test ever reaches a real serial port.
The simulator runs unpaced: only the engine's own pauses cost time.

Run one case:  KORVAN_TEST_BIN=build/bin python3 end_to_end_test.py EndToEnd.test_happy_path
"""

import functools
import os
import select
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "support"))
from korvan_sim import SIM_MODEL, com_ports_mapped_away  # noqa: E402
from korvan_sim import Simulator as _Simulator  # noqa: E402

BIN = Path(os.environ.get("KORVAN_TEST_BIN", "build/test/bin"))
CLI = BIN / "korvan-download-cli"
SIM = BIN / "korvan-modem-sim"
IMAGE_TOOL = BIN / "korvan-image"

RECORD_SIZE = 1028
RECORD_COUNT = 224
CLI_TIMEOUT_S = 90

# What the host sends a port on which it looks for a modem, once per line speed: "AT" and a
# carriage return, then the configure packet (code 0x0100, context word 0, check field)
# twice.
CONFIGURE_PACKET = bytes([0x00, 0x01, 0x00, 0x00, 0x02, 0xA6])
SEARCH_BYTES_PER_SPEED = b"AT\r" + CONFIGURE_PACKET * 2


def _crc_table():
    table = []
    for byte in range(256):
        register = byte
        for _ in range(8):
            register = (register >> 1) ^ 0x8408 if register & 1 else register >> 1
        table.append(register)
    return table


_CRC_TABLE = _crc_table()


def crc16_x25(data):
    """CRC-16/X-25: reflected 0x1021, initial 0xFFFF, final XOR 0xFFFF."""
    register = 0xFFFF
    for byte in data:
        register = (register >> 8) ^ _CRC_TABLE[(register ^ byte) & 0xFF]
    return register ^ 0xFFFF


def checksum_total(image):
    """Sum modulo 65536 of the CRC over bytes 4..1027 of each of the first 224 records."""
    total = 0
    for index in range(RECORD_COUNT):
        record = image[index * RECORD_SIZE:(index + 1) * RECORD_SIZE]
        total += crc16_x25(record[4:])
    return total & 0xFFFF


def progress_lines(last_position):
    """The plain progress lines for positions 0..last_position: one per new ten percent."""
    lines, shown = [], 0
    for position in range(last_position + 1):
        tens = position * 100 // RECORD_COUNT // 10
        if tens > shown:
            shown = tens
            lines.append(f"Programming: {position * 100 // RECORD_COUNT}% "
                         f"({position}/{RECORD_COUNT})")
    return lines


MODEM_FOUND = [
    "Configuring modem, please wait...",
    "Autobauding modem...",
    "Enabling download mode...",
]
ERASE_AND_PROGRAM = [
    "Erasing modem program memory...",
    "Programming modem...",
]


def complete_run_after_validation(image):
    return (ERASE_AND_PROGRAM + progress_lines(RECORD_COUNT) + [
        "Restoring modem configuration...",
        "Resetting modem...",
        f"Download complete!  ({checksum_total(image):04x})",
    ])


# korvan-modem-sim from the build under test: Simulator(folder, *options, name=, model=).
Simulator = functools.partial(_Simulator, SIM)


class SilentLine:
    """A pty that opens fine and never answers; records what the host sends it and when."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)
        self.received = bytearray()
        self.first_byte_at = None
        self._stopping = False
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        while not self._stopping:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if chunk and self.first_byte_at is None:
                self.first_byte_at = time.monotonic()
            self.received += chunk

    def close(self):
        self._stopping = True
        self._reader.join()
        os.close(self.slave)
        os.close(self.master)


class EndToEnd(unittest.TestCase):

    def setUp(self):
        for tool in (CLI, SIM, IMAGE_TOOL):
            self.assertTrue(tool.exists(), f"{tool} not built")
        self._folder = tempfile.TemporaryDirectory(prefix="korvan-e2e-")
        self.folder = Path(self._folder.name)
        self.simulators = []
        self.silent_lines = []
        self.ports = {}

    def tearDown(self):
        for simulator in self.simulators:
            if simulator.process.poll() is None:
                simulator.stop()
        for line in self.silent_lines:
            line.close()
        self._folder.cleanup()

    # Fixtures -------------------------------------------------------------------------

    def make_image(self, name, *options):
        path = self.folder / name
        subprocess.run([str(IMAGE_TOOL), "make", str(path), *options], check=True)
        return path.read_bytes()

    def start_simulator(self, com, *options, name="sim"):
        simulator = Simulator(self.folder, *options, name=name)
        self.simulators.append(simulator)
        if com is not None:
            self.ports[com] = simulator.path
        return simulator

    def add_silent_line(self, com):
        line = SilentLine()
        self.silent_lines.append(line)
        self.ports[com] = line.path
        return line

    def write_modem_map(self, text):
        (self.folder / "modems.cfg").write_text(text)

    def cli_environment(self):
        """Every COM port mapped: to its simulator or silent line, else to a missing path."""
        return com_ports_mapped_away(self.folder, self.ports)

    def run_cli(self, *arguments, stdin_text=""):
        """Runs the front end in the test folder."""
        environment = self.cli_environment()
        started = time.monotonic()
        result = subprocess.run([str(CLI), *arguments], cwd=self.folder, env=environment,
                                input=stdin_text, capture_output=True, text=True,
                                timeout=CLI_TIMEOUT_S)
        result.seconds = time.monotonic() - started
        result.lines = result.stdout.splitlines()
        return result

    def assert_output(self, result, expected_lines, expected_status):
        self.assertEqual(result.lines, expected_lines, result.stderr)
        self.assertEqual(result.returncode, expected_status, result.stderr)

    def assert_flashed(self, simulator, image):
        self.assertEqual(simulator.flashed(), image[:RECORD_COUNT * RECORD_SIZE])

    # Complete runs ----------------------------------------------------------------------

    def test_happy_path(self):
        image = self.make_image("firmware.dl", "--seed", "7", "--random-tags")
        self.write_modem_map(f'"KORVAN 56K" firmware.dl\n')
        simulator = self.start_simulator(3)

        result = self.run_cli()

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)
        log = simulator.log_once_it_shows("AT ATZ")
        self.assertEqual(log.count("configure"), 1)
        self.assertEqual(log.count("erase"), 1)
        records = [line for line in log if line.startswith("record ")]
        self.assertEqual([line.split()[1] for line in records],
                         [str(number) for number in range(1, RECORD_COUNT + 1)])
        self.assertEqual(log[log.index("restore"):][-1], "AT ATZ")
        self.assertEqual(simulator.stop(),
                         f"modem-sim: records programmed {RECORD_COUNT}, checksum total "
                         f"{checksum_total(image):04x}")

    def test_checksum_helper_matches_the_published_check_value(self):
        # The independent checksum the other cases compare with must itself be right.
        self.assertEqual(crc16_x25(b"123456789"), 0x906E)
        self.assertEqual(crc16_x25(bytes([0x00, 0x01, 0x00, 0x00])), 0xA602)

    def test_modem_answering_only_at_57600(self):
        image = self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--bauds", "57600")

        result = self.run_cli("--image", "firmware.dl")

        # At 115200 the modem hears garbage and stays quiet, which shows nothing.
        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)
        log = simulator.log()
        self.assertTrue(log[0].startswith("garbled") and log[0].endswith("at 115200 baud"), log)
        first_answered = next(i for i, line in enumerate(log) if line.startswith("AT "))
        self.assertTrue(all(line.startswith("garbled") for line in log[:first_answered]))
        self.assertEqual(log.count("configure"), 1)

    def test_modem_on_com5_behind_silent_ports(self):
        image = self.make_image("firmware.dl")
        silent = {com: self.add_silent_line(com) for com in (1, 2, 3, 4)}
        simulator = self.start_simulator(5)

        result = self.run_cli("--image", "firmware.dl")

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)
        # Each silent port heard the search at both speeds, in the fixed port order.
        for com, line in silent.items():
            self.assertEqual(bytes(line.received), SEARCH_BYTES_PER_SPEED * 2, f"COM{com}")
        order = sorted(silent, key=lambda com: silent[com].first_byte_at)
        self.assertEqual(order, [3, 4, 2, 1])

    def test_modems_cfg_chooses_between_two_images(self):
        first = self.make_image("first.dl", "--seed", "1")
        second = self.make_image("second.dl", "--seed", "2")
        self.assertNotEqual(checksum_total(first), checksum_total(second))
        # The first entry names another modem, the single word is no entry, the third
        # matches inside the identification text.
        self.write_modem_map('"KORVAN 33.6" first.dl\nlonely-word\nV.90 second.dl\n'
                             'KORVAN first.dl\n')
        simulator = self.start_simulator(3)

        result = self.run_cli()

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(second), 0)
        self.assert_flashed(simulator, second)

    def test_prompt_until_a_valid_image(self):
        image = self.make_image("good.dl", "--seed", "3")
        self.make_image("short.dl", "--records", "223")
        simulator = self.start_simulator(3)

        result = self.run_cli(stdin_text="missing.dl\nshort.dl\ngood.dl\n")

        self.assert_output(result, MODEM_FOUND + [
            "Validating download file...",
            "Download file not specified!",
            "Download file: missing.dl",
            "Validating download file...",
            "Download file not found!",
            "Download file: short.dl",
            "Validating download file...",
            "Invalid download file format!",
            "Download file: good.dl",
            "Validating download file...",
        ] + complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)

    def test_port_option_searches_only_that_device_and_image_option_wins(self):
        image = self.make_image("firmware.dl")
        # A map entry that matches but names no file: --image must take its place.
        self.write_modem_map('"KORVAN 56K" absent.dl\n')
        simulator = self.start_simulator(None, "--bauds", "57600")
        decoy = self.start_simulator(3, name="decoy")

        result = self.run_cli("--port", simulator.path, "--image", "firmware.dl")

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)
        self.assertEqual(decoy.log(), [])

    def test_modem_already_in_download_mode(self):
        # It ignores AT commands, so nothing of the identification shows, yet the configure
        # packet that follows every speed finds it.
        image = self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--ignore-at")

        result = self.run_cli("--image", "firmware.dl")

        self.assert_output(result, ["Configuring modem, please wait...",
                                    "Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)

    def test_configure_failing_at_115200_is_found_again_at_57600(self):
        image = self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--corrupt-configure", "1,2")

        result = self.run_cli("--image", "firmware.dl")

        # At 115200 the modem is identified and switched over, but both configure replies
        # are spoilt; at 57600 it no longer answers AT but its configure reply is good.
        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)
        self.assertEqual(simulator.log().count("configure"), 3)

    def test_noise_in_replies_does_not_disturb_the_download(self):
        image = self.make_image("firmware.dl", "--seed", "11")
        simulator = self.start_simulator(3, "--noisy-at", "--extra-bytes")

        result = self.run_cli("--image", "firmware.dl")

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           complete_run_after_validation(image), 0)
        self.assert_flashed(simulator, image)

    # Ends without a download ------------------------------------------------------------

    def test_cancel_at_the_prompt_sends_no_erase(self):
        simulator = self.start_simulator(3)
        cli = subprocess.Popen([str(CLI)], cwd=self.folder, env=self.cli_environment(),
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
        try:
            # A script reading the output as it comes sees every line, and the prompt, while
            # the program still waits for its answer: nothing sits in a buffer.
            shown = self.read_until(cli.stdout, b"Download file: ", CLI_TIMEOUT_S)
            self.assertIsNone(cli.poll())
            self.assertEqual(shown.decode().split("\n"), MODEM_FOUND + [
                "Validating download file...",
                "Download file not specified!",
                "Download file: ",
            ])
            # End of input: Cancel.
            rest, errors = cli.communicate(input=b"", timeout=CLI_TIMEOUT_S)
        finally:
            if cli.poll() is None:
                cli.kill()
                cli.communicate()
        self.assertEqual(rest, b"\n", errors)
        self.assertEqual(cli.returncode, 2, errors)
        log = simulator.log()
        self.assertIn("configure", log)
        self.assertNotIn("erase", log)

    @staticmethod
    def read_until(stream, ending, seconds):
        """What the stream delivers until it ends with ending; fails after seconds."""
        received = b""
        deadline = time.monotonic() + seconds
        while not received.endswith(ending):
            ready, _, _ = select.select([stream], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                raise AssertionError(f"no {ending!r} after {seconds} s; got {received!r}")
            chunk = os.read(stream.fileno(), 4096)
            if not chunk:
                raise AssertionError(f"output ended before {ending!r}; got {received!r}")
            received += chunk
        return received

    def test_no_modem(self):
        result = self.run_cli()
        self.assert_output(result, [
            "Configuring modem, please wait...",
            "Could not configure modem!",
        ], 1)

    def test_erase_not_confirmed(self):
        self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--no-erase-confirm")
        cli = subprocess.Popen([str(CLI), "--image", "firmware.dl"], cwd=self.folder,
                               env=self.cli_environment(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            # Each line reaches a script reading the pipe while the program still waits
            # for the erase to be confirmed: nothing sits in a buffer.
            shown = self.read_until(cli.stdout, b"Erasing modem program memory...\n",
                                    CLI_TIMEOUT_S)
            self.assertIsNone(cli.poll(), "the erase wait is over before its line was read")
            rest, errors = cli.communicate(timeout=CLI_TIMEOUT_S)
        finally:
            if cli.poll() is None:
                cli.kill()
                cli.communicate()

        self.assertEqual((shown + rest).decode().splitlines(), MODEM_FOUND + [
            "Validating download file...",
            "Erasing modem program memory...",
            "Could not erase modem program memory!",
        ], errors)
        self.assertEqual(cli.returncode, 1, errors)
        log = simulator.log()
        self.assertEqual(log.count("erase"), 2)
        self.assertFalse(any(line.startswith("record ") for line in log))

    def test_wrong_tag_at_record_100_stops_before_record_101(self):
        image = self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--wrong-tag", "100")

        result = self.run_cli("--image", "firmware.dl")

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           ERASE_AND_PROGRAM + progress_lines(99) +
                           ["Could not program modem!"], 1)
        records = [line.split()[1] for line in simulator.log() if line.startswith("record ")]
        self.assertEqual(records, [str(n) for n in range(1, 100)] + ["100", "100"])
        self.assertNotIn("restore", simulator.log())

    def test_restore_not_confirmed(self):
        self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--no-restore-confirm")

        result = self.run_cli("--image", "firmware.dl")

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           ERASE_AND_PROGRAM + progress_lines(RECORD_COUNT) + [
                               "Restoring modem configuration...",
                               "Could not restore modem configuration!",
                           ], 1)
        log = simulator.log()
        self.assertEqual(log.count("restore"), 2)
        self.assertNotIn("AT ATZ", log)

    def test_hang_up_mid_programming(self):
        self.make_image("firmware.dl")
        simulator = self.start_simulator(3, "--hangup-at", "120")

        result = self.run_cli("--image", "firmware.dl")

        self.assert_output(result, MODEM_FOUND + ["Validating download file..."] +
                           ERASE_AND_PROGRAM + progress_lines(119) +
                           ["Could not program modem!"], 1)
        self.assertIn("hangup at record 120", simulator.log())
        # The pauses of a run up to there take about 7 s; a hang would hit the time-out.
        self.assertLess(result.seconds, 30)


if __name__ == "__main__":
    unittest.main()
