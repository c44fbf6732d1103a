"""What the end-to-end tests, the window tests, the bench and the demo scripts share: the
modem simulator on a pty of its own, the COM ports mapped away from every real serial
device, and the lines a running program writes, as they come.

As a command, prints the shell exports that map the COM ports away:
    eval "$(python3 tests/support/korvan_sim.py com-ports-away FOLDER [N=DEVICE ...])"
"""

import os
import select
import shlex
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

SIM_MODEL = "KORVAN 56K V.90 MODEM"
COM_PORT_COUNT = 9


def com_ports_mapped_away(folder, devices=None, environment=None):
    """The environment (os.environ unless given) with KORVAN_COM1..9 set: the port numbers
    in devices to their device, every other one to a path in folder that does not exist, so
    nothing reaches a real serial port (COM1 is the kernel console on many machines)."""
    mapped = dict(os.environ if environment is None else environment)
    devices = devices or {}
    for number in range(1, COM_PORT_COUNT + 1):
        mapped[f"KORVAN_COM{number}"] = str(
            devices.get(number, Path(folder) / f"no-such-port-COM{number}"))
    return mapped


class Simulator:
    """korvan-modem-sim on a fresh pty, with its event log, flash output, standard error
    and, when asked, its wire trace in folder under name."""

    def __init__(self, program, folder, *options, name="sim", model=SIM_MODEL,
                 wire_trace=False):
        folder = Path(folder)
        self.log_path = folder / f"{name}.log"
        self.flash_path = folder / f"{name}-flash.bin"
        self.error_path = folder / f"{name}.err"
        self.trace_path = folder / f"{name}.trace" if wire_trace else None
        self.summary = ""
        command = [str(program), "--model", model, "--log", str(self.log_path),
                   "--flash-out", str(self.flash_path)]
        if wire_trace:
            command += ["--wire-trace", str(self.trace_path)]
        self._errors = open(self.error_path, "w")
        self.process = subprocess.Popen([*command, *options], stdout=subprocess.PIPE,
                                        stderr=self._errors, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        self.path = self.process.stdout.readline().strip() if ready else ""
        if not self.path.startswith("/dev/"):
            self.stop()
            raise RuntimeError(f"simulator did not start: {self.path!r} {self.errors()}")

    def stop(self):
        """Ends the simulator; returns the summary it prints on its way out."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            out, _ = self.process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, _ = self.process.communicate()
        self._errors.close()
        self.summary = out.strip()
        return self.summary

    def running(self):
        return self.process.poll() is None

    def errors(self):
        return self.error_path.read_text() if self.error_path.exists() else ""

    def log(self):
        return self.log_path.read_text().splitlines() if self.log_path.exists() else []

    def log_once_it_shows(self, line, seconds=5):
        """The log once it holds line (the host may exit right after its last write)."""
        deadline = time.monotonic() + seconds
        while line not in self.log() and time.monotonic() < deadline:
            time.sleep(0.02)
        return self.log()

    def flashed(self):
        return self.flash_path.read_bytes() if self.flash_path.exists() else b""

    def _trace_lines(self):
        try:
            with open(self.trace_path) as trace:
                return [line.rstrip("\n").split(" ", 2) for line in trace]
        except FileNotFoundError:
            return []

    def events(self):
        """The wire trace's event lines so far, as (monotonic ns, text)."""
        return [(int(parts[0]), parts[2]) for parts in self._trace_lines()
                if len(parts) == 3 and parts[1] == "event"]

    def wire(self):
        """The wire trace's chunks across the line: (monotonic ns, 'in' or 'out', bytes)."""
        return [(int(parts[0]), parts[1], int(parts[2])) for parts in self._trace_lines()
                if len(parts) == 3 and parts[1] in ("in", "out")]

    def remove_files(self):
        """Drops what the simulator wrote: a soak makes hundreds of them."""
        for path in (self.log_path, self.flash_path, self.error_path, self.trace_path):
            if path is not None:
                path.unlink(missing_ok=True)


class OutputLines:
    """Keeps the lines a running program writes (text or bytes), as they come, each with
    the monotonic time in ns it arrived."""

    def __init__(self, stream):
        self.stamped = []
        self._reader = threading.Thread(target=self._read, args=(stream,), daemon=True)
        self._reader.start()

    def _read(self, stream):
        for line in stream:
            if isinstance(line, bytes):
                line = line.decode(errors="replace")
            self.stamped.append((time.monotonic_ns(), line.rstrip("\n")))

    @property
    def lines(self):
        return [line for _, line in self.stamped]

    def pieces(self):
        """(ns, text) of every non-blank piece: a progress bar redraws with carriage
        returns, and each piece counts as a line."""
        return [(stamp, piece.strip()) for stamp, line in self.stamped
                for piece in line.split("\r") if piece.strip()]

    def first(self, text):
        """When the first line holding text arrived, or None."""
        return next((stamp for stamp, line in self.stamped if text in line), None)

    def finish(self, timeout):
        self._reader.join(timeout)
        return self.lines


def main(arguments):
    if len(arguments) < 2 or arguments[0] != "com-ports-away":
        sys.exit("usage: korvan_sim.py com-ports-away FOLDER [N=DEVICE ...]")
    devices = {int(number): device for number, device in
               (mapping.split("=", 1) for mapping in arguments[2:])}
    mapped = com_ports_mapped_away(arguments[1], devices, environment={})
    for name, value in sorted(mapped.items()):
        print(f"export {name}={shlex.quote(value)}")


if __name__ == "__main__":
    main(sys.argv[1:])
