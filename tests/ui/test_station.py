"""Window tests of korvan-station: the real program on a private X display, flashing simulated
modems through real korvan-download-cli children, driven and read from outside through AT-SPI.

    test_station.py CASE --app BIN --sim BIN --image-tool BIN --bell-watch BIN --shots DIR

Runs itself under a D-Bus session of its own.
"""

import fcntl
import json
import os
import signal
import subprocess
import sys
import time

TITLE = "Korvan Download Station"
HERE = os.path.dirname(os.path.abspath(__file__))
RECORD_COUNT = 224
FLASH_TIMEOUT_S = 90

from window_test_start import parse_args, rerun_under_dbus  # noqa: E402

rerun_under_dbus(__file__)

# Imported only inside the D-Bus session: pyatspi connects at import time.
import pyatspi  # noqa: E402
import window_session as ws  # noqa: E402
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from korvan_sim import Simulator, com_ports_mapped_away  # noqa: E402
from window_session import TestFailure, expect, log, wait_until  # noqa: E402


class PortHolder:
    """Another program holding a port, locked as serial programs lock theirs, under the name
    a modem manager has; it lets go on release()."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        fcntl.flock(self.fd, fcntl.LOCK_EX)

    def release(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class Bench(ws.ProgramUnderTest):
    """A folder with an image, modems.cfg and the simulated modems, each on a link named after
    its role; the station started there with those links as its ports."""

    def __init__(self, args, session, folder):
        super().__init__()
        self.args = args
        self.session = session
        self.folder = folder
        self.sims = {}
        self.report = os.path.join(folder, "report.jsonl")
        self.traces = os.path.join(folder, "traces")
        os.mkdir(self.traces)
        subprocess.run([args.image_tool, "make", os.path.join(folder, "firmware.dl")],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(folder, "modems.cfg"), "w") as modem_map:
            modem_map.write('"KORVAN 56K" firmware.dl\n')

    def add_modem(self, name, *options, **settings):
        link = self.port(name)
        try:
            self.sims[name] = Simulator(self.args.sim, self.folder, "--link", link, *options,
                                        name=name, **settings)
        except RuntimeError as error:
            raise TestFailure(str(error))
        wait_until(f"the link of {name}", lambda: os.path.exists(link), 5)
        return self.sims[name]

    def port(self, name):
        return os.path.join(self.folder, name)

    def start(self, *arguments):
        env = com_ports_mapped_away(self.folder, {}, ws.sanitizer_env(self.session.env))
        self.start_program([self.args.app, *arguments], self.folder, env,
                           os.path.join(self.folder, "station.log"), "korvan-station", 30)
        return self.window()

    def window(self):
        return wait_until("the station window",
                          lambda: ws.find_window(self.application, TITLE), 20)

    def tiles(self):
        """Each tile's label texts in order, by the port its first label names."""
        by_parent = {}
        for accessible in ws.descendants(self.window()):
            if accessible.getRole() == pyatspi.ROLE_LABEL:
                parent = accessible.parent
                by_parent.setdefault(id(parent), (parent, []))[1].append(accessible.name)
        tiles = {}
        for parent, texts in by_parent.values():
            bars = [child for child in parent if child is not None
                    and child.getRole() == pyatspi.ROLE_PROGRESS_BAR]
            if bars:
                tiles[texts[0]] = (texts, parent, bars[0])
        return tiles

    def tile_texts(self, name):
        tile = self.tiles().get(self.port(name))
        return tile[0] if tile else []

    def tile_records(self, name):
        _, _, bar = self.tiles()[self.port(name)]
        return round(ws.progress_fraction(bar) * RECORD_COUNT)

    def wait_tile(self, name, description, predicate, timeout_s=FLASH_TIMEOUT_S):
        def shown():
            texts = self.tile_texts(name)
            return texts if predicate(texts) else None
        return wait_until(f"{name}'s tile to show {description}", shown, timeout_s)

    def open_details(self, name):
        """Double-clicks the port's tile; the Details window it opens."""
        _, tile, _ = self.tiles()[self.port(name)]
        box = tile.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        self.session.xdotool("mousemove", "--sync", str(box.x + 20), str(box.y + 10),
                             "click", "--repeat", "2", "--delay", "80", "1")
        return wait_until("the details", lambda: ws.find_window(
            self.application, f"Details: {self.port(name)}"), 10)

    def header_texts(self):
        """The labels outside the tiles: the header's lines and the status bar."""
        tile_texts = {text for texts, _, _ in self.tiles().values() for text in texts}
        return [accessible.name for accessible in ws.descendants(self.window())
                if accessible.getRole() == pyatspi.ROLE_LABEL
                and accessible.name not in tile_texts]

    def button(self, name):
        return ws.find_control(self.window(), pyatspi.ROLE_PUSH_BUTTON, name)

    def report_lines(self):
        if not os.path.exists(self.report):
            return []
        with open(self.report) as report:
            return [json.loads(line) for line in report.read().splitlines()]

    def shot(self, name):
        path = os.path.join(self.args.shots, "station-" + name + ".png")
        self.session.screenshot(path)
        log(f"screenshot {path} (bells so far: {self.session.bells.count})")

    def close(self):
        self.stop_program()
        for sim in self.sims.values():
            sim.stop()


def has(*words):
    return lambda texts: all(word in texts for word in words)


def case_bench_of_four(bench):
    """One modem fine, one failing at record 100, one without an image in modems.cfg, one
    whose port another program holds for its first seconds. The tiles show each one's word,
    the report holds a line for each, and a close asked for while the last flash runs lets
    it finish before the program ends."""
    bench.add_modem("fine")
    bench.add_modem("failing", "--wrong-tag", "100")
    bench.add_modem("unknown", model="ACME 33600 DATA PUMP")
    # Paced like a real line, so its flash is still running when the close is asked for.
    late = bench.add_modem("held", "--line-rate", "115200")
    holder = PortHolder(late.path)
    ports = ",".join(bench.port(name) for name in ("fine", "failing", "unknown", "held"))
    try:
        bench.start("--ports", ports, "--report", bench.report, "--trace", bench.traces)
        held = bench.wait_tile("held", "busy", has("busy"), 30)
        expect(any("in use by " in text and f"(pid {os.getpid()})" in text for text in held),
               f"the busy tile does not say who holds the port: {held}")
        expect(bench.button("Close") is not None and bench.button("Pause") is not None,
               "the window lacks its Close or Pause button")

        bench.wait_tile("fine", "complete", has("complete"))
        bench.wait_tile("failing", "failed", has("failed", "Could not program modem!"))
        bench.wait_tile("unknown", "no image", has("no image", "Download file not specified!"))
        expect("complete" not in bench.tile_texts("held"), "the held port was flashed")
        fine = bench.tile_texts("fine")
        expect(any(text.startswith("checksum total ") for text in fine),
               f"the complete tile has no checksum total: {fine}")
        expect("KORVAN 56K V.90 MODEM" in fine and "224/224" in fine,
               f"the complete tile lacks the identification or the records: {fine}")
        expect("99/224" in bench.tile_texts("failing"),
               f"the failed tile: {bench.tile_texts('failing')}")
        wait_until(f"the totals (header: {bench.header_texts()})", lambda: any(
            text.startswith("Flashed 3   Complete 1   Failed 2") for text in bench.header_texts()),
            5)
        expect(f"Image: from {bench.folder}/modems.cfg" in bench.header_texts(),
               bench.header_texts())
        expect(f"Report: {bench.report}" in bench.header_texts(), bench.header_texts())
        bench.shot("1-three-done-one-busy")

        # Pause: the header says so, and Resume is offered.
        bench.session.click(bench.button("Pause"))
        wait_until("the header to say paused",
                   lambda: any(text.startswith("Paused") for text in bench.header_texts()), 5)
        bench.session.click(wait_until("Resume", lambda: bench.button("Resume"), 5))
        wait_until("the header to say watching",
                   lambda: "Watching for modems" in bench.header_texts(), 5)

        # Details of the failed tile: its final message, report fields and trace file.
        details = bench.open_details("failing")
        text = ws.text_of(ws.find_control(details, pyatspi.ROLE_TEXT))
        bench.shot("2-details")
        for wanted in ("Last final message: Could not program modem!", "  result: failed",
                       "  records: 99", f"Trace file: {bench.traces}/"):
            expect(wanted in text, f"the details lack {wanted!r}:\n{text}")
        bench.session.click(ws.find_control(details, pyatspi.ROLE_PUSH_BUTTON, "OK"))
        wait_until("the details to close", lambda: ws.find_window(
            bench.application, f"Details: {bench.port('failing')}") is None, 5)
    finally:
        holder.release()

    bench.wait_tile("held", "running", lambda texts: "running" in texts, 30)
    wait_until("programming", lambda: bench.tile_records("held") > 0, 40, 0.05)
    bench.session.request_close(TITLE)
    question = wait_until("the question whether to quit", lambda: ws.find_control(
        bench.application, pyatspi.ROLE_PUSH_BUTTON, "Quit when done"), 10)
    bench.shot("3-close-asked")
    bench.session.click(question)
    wait_until("the header to say it closes when done", lambda: any(
        text == "Closing once the flash in progress finishes" for text in bench.header_texts()), 5)
    expect("complete" not in bench.tile_texts("held"),
           "the flash ended before the close was asked for: the case proves nothing")
    bench.shot("4-closing")
    # Still answering: the bar moves on while the window waits for the flash.
    position = bench.tile_records("held")
    wait_until("the flash to go on", lambda: not bench.alive() or
               bench.tile_records("held") > position, 30, 0.05)

    wait_until("the station to end once the flash is done", lambda: not bench.alive(),
               FLASH_TIMEOUT_S)
    bench.check_clean_exit()
    expect(bench.app.returncode == 1,
           f"the station ended with {bench.app.returncode}, expected 1 (two flashes failed)")
    lines = {line["port"]: line for line in bench.report_lines()}
    expect(sorted(lines) == sorted(bench.port(name) for name in
                                   ("fine", "failing", "unknown", "held")),
           f"report ports: {sorted(lines)}")
    results = {name: (lines[bench.port(name)]["result"], lines[bench.port(name)]["records"])
               for name in ("fine", "failing", "unknown", "held")}
    expect(results == {"fine": ("complete", 224), "failing": ("failed", 99),
                       "unknown": ("cancelled", 0), "held": ("complete", 224)},
           f"report results: {results}")
    expect(len(bench.report_lines()) == 4, f"{len(bench.report_lines())} report lines")
    expect(late.flashed() == bench.sims["fine"].flashed() and len(late.flashed()) > 0,
           "the held modem's flash differs from the fine one's")
    # A failure rings twice, a completion once: two complete, two failed.
    wait_until("six bells", lambda: bench.session.bells.count >= 6, 5)
    expect(bench.session.bells.count == 6, f"{bench.session.bells.count} bells, expected 6")


def case_close_when_idle(bench):
    """With nothing running, Close ends the program at once."""
    bench.start("--ports", bench.port("nothing-here"))
    tile = wait_until("the waiting tile", lambda: bench.tile_texts("nothing-here"), 10)
    expect("waiting" in tile, f"the tile of an empty port: {tile}")
    bench.shot("idle")
    bench.session.click(bench.button("Close"))
    wait_until("the program to end", lambda: not bench.alive(), 10)
    bench.check_clean_exit()
    expect(bench.app.returncode == 0, f"exit status {bench.app.returncode}")


def case_termination_under_dialogs(bench):
    """A termination request (a service manager's stop, the session's end) while a dialog
    is open closes the window, and the dialog with it, once no flash runs: under the question
    whether to quit, after the flash in progress; under the Details of an idle port, at once."""
    bench.add_modem("slow", "--line-rate", "115200")
    bench.start("--ports", bench.port("slow"), "--report", bench.report)
    wait_until("programming", lambda: bench.tile_records("slow") > 0, 40, 0.05)
    bench.session.request_close(TITLE)
    wait_until("the question whether to quit", lambda: ws.find_control(
        bench.application, pyatspi.ROLE_PUSH_BUTTON, "Quit when done"), 10)
    bench.app.send_signal(signal.SIGTERM)
    wait_until("the station to end once the flash is done", lambda: not bench.alive(),
               FLASH_TIMEOUT_S)
    bench.check_clean_exit()
    expect(bench.app.returncode == 0, f"exit status {bench.app.returncode}")
    results = [(line["result"], line["records"]) for line in bench.report_lines()]
    expect(results == [("complete", 224)], f"report: {results}")

    bench.start("--ports", bench.port("nothing-here"))
    bench.open_details("nothing-here")
    bench.app.send_signal(signal.SIGTERM)
    wait_until("the idle station to end", lambda: not bench.alive(), 10)
    bench.check_clean_exit()
    expect(bench.app.returncode == 0, f"exit status {bench.app.returncode}")


CASES = {
    "bench_of_four": case_bench_of_four,
    "close_when_idle": case_close_when_idle,
    "termination_under_dialogs": case_termination_under_dialogs,
}


def main():
    args = parse_args()
    return ws.run_case(args, CASES[args.case], lambda session, work_dir: Bench(
        args, session, work_dir), "korvan-station-", f"failed-station-{args.case}")


if __name__ == "__main__":
    sys.exit(main())
