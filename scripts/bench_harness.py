"""Measures whole download runs against the modem simulator and writes the results table and
the timeline picture. Started by scripts/bench, which builds the programs first.

Every run maps the nine COM ports to simulated modems or to paths that do not exist, so no
real serial device is ever opened."""

import argparse
import json
import os
import platform
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from korvan_sim import OutputLines, Simulator, com_ports_mapped_away  # noqa: E402

RECORDS = 224
RECORD_BYTES = 1028
TICK_S = 0.025
# One tick per step: search, validation, erase, one per record, restore, completion.
TICKS_PER_RUN = 3 + RECORDS + 2
# Pauses of a run in which the first speed tried answers: "Configuring" 1 s, "Autobauding"
# 2 s, download-mode entry 1 s, "Validating" 1 s, "Erasing" 1 s, "Restoring" 1 s,
# "Resetting" 1 s.
FIXED_PAUSES_S = 8.0
# What one speed costs on a port that opens but never answers: "AT" waits 1 s, then two
# configure attempts of 500 ms each.
SILENT_SPEED_S = 2.0
# The simulator answers a command packet once the line has been quiet this long after it;
# a run has three (configure, erase, restore).
SIM_PACKET_IDLE_S = 0.020
SIM_ERASE_S = 0.300
MODEL = "KORVAN 56K V.90 MODEM"
# The watch-mode station looks at its ports every 200 ms and flashes a port again only once
# it has seen the modem gone; pty numbers come back, so a second's absence makes sure.
SOAK_GONE_S = 1.0
# An unpaced flash takes about 15 s (its fixed pauses and ticks); far longer is a hang.
SOAK_FLASH_TIMEOUT_S = 120
# Flashes before the soak's baseline sample: the first ones settle the allocator's pools and
# the output buffers, which is no leak.
SOAK_SETTLE_FLASHES = 10
# Resident size may move by a few pages between samples without anything leaking.
SOAK_RSS_NOISE_KB = 64


class BenchError(Exception):
    pass


def monotonic_ns():
    return time.monotonic_ns()


def start_simulator(bin_dir, work, name, args):
    """One korvan-modem-sim on a pty of its own, with a wire trace to measure the run by."""
    try:
        return Simulator(os.path.join(bin_dir, "korvan-modem-sim"), work, *args, name=name,
                         model=MODEL, wire_trace=True)
    except RuntimeError as error:
        raise BenchError(str(error))


def running(process):
    """Whether the child still runs, without reaping it: its rusage is read when it is."""
    try:
        return os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None
    except ChildProcessError:
        return False


def peak_rss_kb(pid):
    """The process's resident high-water mark so far. The rusage of a child cannot say:
    its maximum also counts the forked copy of this script that ran before the exec."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


class PeakRss:
    """Samples a running child's resident high-water mark every 50 ms until it ends."""

    def __init__(self, pid):
        self.kb = 0
        self._pid = pid
        self._thread = threading.Thread(target=self._sample, daemon=True)
        self._thread.start()

    def _sample(self):
        while True:
            kb = peak_rss_kb(self._pid)
            if kb is None:
                return
            self.kb = max(self.kb, kb)
            time.sleep(0.05)

    def join(self):
        self._thread.join(5)
        return self.kb


def wait_with_usage(process, timeout_s):
    """Waits for the child; returns (exit status, rusage) of that child alone."""
    deadline = time.monotonic() + timeout_s
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid == process.pid:
            process.returncode = os.waitstatus_to_exitcode(status)
            return process.returncode, usage
        if time.monotonic() > deadline:
            process.kill()
            pid, status, usage = os.wait4(process.pid, 0)
            process.returncode = os.waitstatus_to_exitcode(status)
            raise BenchError("run did not end within %d s" % timeout_s)
        time.sleep(0.005)


def floor_of_run(chunks, rate, silent_speeds):
    """The least time the design allows for the run whose wire chunks are given."""
    wire_bytes = sum(count for _, _, count in chunks)
    parts = {
        "wire": wire_bytes * 10.0 / rate,
        "ticks": TICKS_PER_RUN * TICK_S,
        "pauses": FIXED_PAUSES_S + silent_speeds * SILENT_SPEED_S,
        "simulator": SIM_ERASE_S + 3 * SIM_PACKET_IDLE_S,
    }
    return sum(parts.values()), parts, wire_bytes


def make_workspace(bin_dir, work):
    image = os.path.join(work, "firmware.dl")
    subprocess.run([os.path.join(bin_dir, "korvan-image"), "make", image], check=True,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(work, "modems.cfg"), "w") as cfg:
        cfg.write('"%s" firmware.dl\n' % MODEL)
    return image


def check_flash(sim, image):
    with open(image, "rb") as f:
        expected = f.read(RECORDS * RECORD_BYTES)
    try:
        with open(sim.flash_path, "rb") as f:
            flashed = f.read()
    except FileNotFoundError:
        flashed = b""
    if flashed != expected:
        raise BenchError("the simulated modem does not hold the image after the run")


def read_report(path):
    """The report's objects so far. A line the station has not finished writing yet (no
    newline) is left for the next look."""
    try:
        with open(path) as report:
            text = report.read()
    except FileNotFoundError:
        return []
    return [json.loads(line) for line in text.split("\n")[:-1] if line.strip()]


def port_failures(report, ports):
    """One text per port that did not complete: its result and final message from the
    report, or that the report has nothing for it."""
    runs = {run.get("port"): run for run in read_report(report)}
    failures = []
    for port in ports:
        run = runs.get(port)
        if run is None:
            failures.append("%s: not in the report" % port)
        elif run.get("result") != "complete":
            failures.append(run_failure(port, run))
    return failures or ["every port in the report completed"]


def run_failure(port, run):
    """A report object that is not complete, as one line: how far it got and why not."""
    return "%s: %s after %s/%d records: %s" % (port, run.get("result"), run.get("records"),
                                               RECORDS, run.get("message"))


def fresh_folder(path):
    """An empty folder for this run's station logs, kept afterwards for reading: a log left
    from an earlier run must not pass for this one's."""
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


class Bench:
    def __init__(self, bin_dir, out_dir, quick, soak_flashes=200):
        self.bin = os.path.abspath(bin_dir)
        self.out = out_dir
        self.quick = quick
        self.soak_flashes = soak_flashes
        self.repeats = 1 if quick else 3
        self.work = tempfile.mkdtemp(prefix="korvan-bench.")
        self.image = make_workspace(self.bin, self.work)
        self.logs = fresh_folder(os.path.join(out_dir, "logs"))
        self.rows = []
        self.notes = []
        self.timeline = None
        self.x = None
        self._run_number = 0

    def name(self, what):
        self._run_number += 1
        return "%s-%d" % (what, self._run_number)

    # --- one whole run -------------------------------------------------------------------

    def sim_for(self, rate, what, extra=()):
        bauds = "115200,57600" if rate == 115200 else str(rate)
        return start_simulator(self.bin, self.work, self.name(what),
                         ["--line-rate", str(rate), "--bauds", bauds] + list(extra))

    def console_run(self, rate):
        sim = self.sim_for(rate, "console-%d" % rate)
        try:
            env = com_ports_mapped_away(self.work, {3: sim.path})
            start = monotonic_ns()
            process = subprocess.Popen([os.path.join(self.bin, "korvan-download-cli")],
                                       cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            reader = OutputLines(process.stdout)
            rss = PeakRss(process.pid)
            status, usage = wait_with_usage(process, 300)
            end = monotonic_ns()
            peak = rss.join()
            reader.finish(5)
        finally:
            sim.stop()
        if status != 0 or reader.first("Download complete!") is None:
            raise BenchError("console run at %d ended with %d: %s" %
                             (rate, status, reader.pieces()[-1:] or "no output"))
        check_flash(sim, self.image)
        return self._result(sim, rate, start, end, usage, peak, reader.pieces())

    def window_run(self, rate):
        sim = self.sim_for(rate, "window-%d" % rate)
        try:
            env = com_ports_mapped_away(self.work, {3: sim.path})
            env.update(self.x.env)
            start = monotonic_ns()
            process = subprocess.Popen([os.path.join(self.bin, "korvan-download")],
                                       cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            pinger = self.x.start_pinging(process.pid)
            rss = PeakRss(process.pid)
            self._leave_window_when_done(sim, process)
            status, usage = wait_with_usage(process, 30)
            end = monotonic_ns()
            peak = rss.join()
            pings = pinger.stop()
        finally:
            sim.stop()
        check_flash(sim, self.image)
        result = self._result(sim, rate, start, end, usage, peak, [])
        result["pings"] = pings
        return result

    def _leave_window_when_done(self, sim, process):
        """Presses Return (the Exit button) once the run has reset the modem and the window
        has had time to report; Exit is enabled only when the run has ended."""
        deadline = time.monotonic() + 300
        while not any(text == "AT ATZ" for _, text in sim.events()):
            if not running(process) or time.monotonic() > deadline:
                raise BenchError("window run did not reach the modem reset")
            time.sleep(0.02)
        while running(process) and time.monotonic() < deadline:
            self.x.press_return()
            time.sleep(0.05)

    def _result(self, sim, rate, start, end, usage, peak_kb, lines):
        chunks = sim.wire()
        silent_speeds = 0 if rate == 115200 else 1
        floor, parts, wire_bytes = floor_of_run(chunks, rate, silent_speeds)
        wall = (end - start) / 1e9
        first_byte = next(t for t, d, _ in chunks if d == "in")
        # Until the first "AT": one tick, then the 1 s "Configuring" pause; after the last
        # byte ("OK" to "ATZ"): one tick to the completion message.
        # A speed that does not answer comes first and leaves no bytes in the trace.
        startup = (first_byte - start) / 1e9 - (TICK_S + 1.0) - silent_speeds * SILENT_SPEED_S
        tail = (end - chunks[-1][0]) / 1e9 - TICK_S
        return {"rate": rate, "wall": wall, "floor": floor, "parts": parts,
                "wire_bytes": wire_bytes, "cpu": usage.ru_utime + usage.ru_stime,
                "rss_kb": peak_kb or 0, "start": start, "end": end, "chunks": chunks,
                "events": sim.events(), "lines": lines, "startup": startup, "tail": tail}

    # --- search --------------------------------------------------------------------------

    def search_time(self, modem_port, silent_ports):
        """Seconds from start until the console leaves the search ("Validating...")."""
        sims = []
        try:
            modem = self.sim_for(115200, "search-modem")
            sims.append(modem)
            mapping = {modem_port: modem.path}
            for port in silent_ports:
                silent = start_simulator(self.bin, self.work, self.name("silent"), ["--silent"])
                sims.append(silent)
                mapping[port] = silent.path
            env = com_ports_mapped_away(self.work, mapping)
            start = monotonic_ns()
            process = subprocess.Popen([os.path.join(self.bin, "korvan-download-cli")],
                                       cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            reader = OutputLines(process.stdout)
            deadline = time.monotonic() + 120
            while reader.first("Validating download file") is None:
                if not running(process) or time.monotonic() > deadline:
                    raise BenchError("search did not find the modem on COM%d" % modem_port)
                time.sleep(0.005)
            found = reader.first("Validating download file")
            process.terminate()
            process.wait()
            reader.finish(5)
        finally:
            for sim in sims:
                sim.stop()
        return (found - start) / 1e9

    # --- production line -----------------------------------------------------------------

    def cli_has_ports(self):
        result = subprocess.run([os.path.join(self.bin, "korvan-download-cli"), "--help"],
                                capture_output=True, text=True)
        return "--ports" in result.stdout + result.stderr

    def line_batch(self, count):
        """One batch of count paced modems; (wall s, CPU s of the station and its children).
        The station's output goes to a log in the output folder and its report names each
        port's result, so a failed batch says which port failed and why."""
        sims = []
        name = self.name("line-%d" % count)
        log_path = os.path.join(self.logs, name + ".log")
        report = os.path.join(self.work, name + ".jsonl")
        try:
            for _ in range(count):
                sims.append(self.sim_for(115200, "line"))
            env = com_ports_mapped_away(self.work)
            command = [os.path.join(self.bin, "korvan-download-cli"), "--ports",
                       ",".join(sim.path for sim in sims), "--report", report]
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = monotonic_ns()
            with open(log_path, "w") as log:
                process = subprocess.Popen(command, cwd=self.work, env=env,
                                           stdin=subprocess.DEVNULL, stdout=log,
                                           stderr=subprocess.STDOUT)
                status, _ = wait_with_usage(process, 600)
            end = monotonic_ns()
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
        finally:
            for sim in sims:
                sim.stop()
        if status != 0:
            raise BenchError("%d-modem batch ended with %d (station output in %s): %s" %
                             (count, status, log_path,
                              "; ".join(port_failures(report, [s.path for s in sims]))))
        for sim in sims:
            check_flash(sim, self.image)
        cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
        return (end - start) / 1e9, cpu

    # --- the table -----------------------------------------------------------------------

    def add(self, figure, goal, values, unit, ratio_to=None, limit=None, fmt="%.2f"):
        """One table row from repeated measurements: median [min-max]."""
        if not values:
            self.rows.append((figure, goal, "not measured", "", ""))
            return
        median = statistics.median(values)
        measured = (fmt + " %s") % (median, unit)
        if len(values) > 1:
            measured += (" [" + fmt + "–" + fmt + "]") % (min(values), max(values))
        ratio = ""
        verdict = ""
        if ratio_to:
            ratio = "%.3f" % (median / ratio_to)
        if limit is not None:
            verdict = "met" if median <= limit else "missed"
        self.rows.append((figure, goal, measured, ratio, verdict))

    def run(self, sections):
        if "runs" in sections:
            self.measure_runs()
        if "search" in sections:
            self.measure_search()
        if "line" in sections:
            self.measure_line()
        if "soak" in sections:
            self.measure_soak()
        if "station" in sections:
            self.measure_station_window()

    def measure_runs(self):
        rates = [115200] if self.quick else [115200, 57600]
        for rate in rates:
            console = [self.console_run(rate) for _ in range(self.repeats)]
            if self.timeline is None:
                self.timeline = console[0]
            self._run_rows("console", rate, console)
            if self.x is not None:
                window = [self.window_run(rate) for _ in range(self.repeats)]
                self._run_rows("window", rate, window)
                self._ping_rows(rate, window)
            else:
                self.rows.append(("window at %d" % rate, "", "not measured: no Xvfb", "", ""))

    def _run_rows(self, front_end, rate, runs):
        floor = statistics.median(r["floor"] for r in runs)
        startup = statistics.median(r["startup"] for r in runs)
        tail = statistics.median(r["tail"] for r in runs)
        within = statistics.median(r["wall"] - r["floor"] - r["startup"] - r["tail"] for r in runs)
        self.notes.append(
            "%s at %d baud, time above the floor (medians): %.3f s before the first byte "
            "(program start), %.3f s during the run, %.3f s after the last byte (completion "
            "message and exit%s)." % (front_end.capitalize(), rate, startup, within, tail,
                                      "; the bench presses Exit every 50 ms once the modem "
                                      "is reset" if front_end == "window" else ""))
        timings = [t for t in (record_timings(r) for r in runs) if t]
        if timings:
            turn, wire, answer = (statistics.median(t[i] for t in timings) for i in range(3))
            self.notes.append(
                "%s at %d baud, per record (medians): the host's turn %.2f ms (one 25 ms tick "
                "and its reaction), the record on the wire %.2f ms (%.2f at the line rate), the "
                "modem's turn %.2f ms (%.2f for 4 bytes)." %
                (front_end.capitalize(), rate, turn, wire, RECORD_BYTES * 10e3 / rate, answer,
                 4 * 10e3 / rate))
        self.add("whole run, %s, %d baud (floor %.2f s)" % (front_end, rate, floor),
                 "≤ 1.02 × floor", [r["wall"] for r in runs], "s", ratio_to=floor,
                 limit=1.02 * floor)
        cpu_goal = 5.0 if front_end == "console" else 10.0
        self.add("CPU share of wall time, %s, %d baud" % (front_end, rate),
                 "≤ %.0f %%" % cpu_goal, [100.0 * r["cpu"] / r["wall"] for r in runs], "%",
                 limit=cpu_goal, fmt="%.1f")
        rss_goal = 10.0 if front_end == "console" else 50.0
        self.add("peak RSS, %s, %d baud" % (front_end, rate), "≤ %.0f MB" % rss_goal,
                 [r["rss_kb"] / 1024.0 for r in runs], "MB", limit=rss_goal, fmt="%.1f")

    def _ping_rows(self, rate, runs):
        for phase in ("erase wait", "programming"):
            p50s, p99s, counts = [], [], []
            for r in runs:
                latencies = pings_in_phase(r, phase)
                if latencies:
                    p50s.append(percentile(latencies, 50))
                    p99s.append(percentile(latencies, 99))
                    counts.append(len(latencies))
            if not counts:
                self.rows.append(("window answer to _NET_WM_PING, %s, %d baud" % (phase, rate),
                                  "p99 ≤ 50 ms", "no answer seen", "", "missed"))
                continue
            self.add("window answer to _NET_WM_PING, %s, %d baud, p50 (%d pings)" %
                     (phase, rate, statistics.median(counts)), "", p50s, "ms", fmt="%.1f")
            self.add("window answer to _NET_WM_PING, %s, %d baud, p99" % (phase, rate),
                     "≤ 50 ms", p99s, "ms", limit=50.0, fmt="%.1f")

    def measure_search(self):
        silent_count = 2 if self.quick else 8
        # COM3, COM4, COM2, COM1, COM5, COM6, COM7, COM8 come before COM9.
        order = [3, 4, 2, 1, 5, 6, 7, 8, 9]
        modem_port = order[silent_count]
        silent_ports = order[:silent_count]
        direct, behind, missing = [], [], []
        for _ in range(self.repeats):
            direct.append(self.search_time(3, []))
            behind.append(self.search_time(modem_port, silent_ports))
            missing.append(self.search_time(9, []))
        base = statistics.median(direct)
        per_speed = [(t - base) / (2 * silent_count) for t in behind]
        self.add("search: each speed of a silent port (modem on COM%d behind %d)" %
                 (modem_port, silent_count), "about %.1f s" % SILENT_SPEED_S, per_speed, "s",
                 ratio_to=SILENT_SPEED_S, limit=SILENT_SPEED_S * 1.05, fmt="%.3f")
        self.add("search: 8 ports that do not exist (modem on COM9) minus modem on COM3", "0 s",
                 [t - base for t in missing], "s", limit=0.05, fmt="%.3f")

    def measure_line(self):
        if not self.cli_has_ports():
            self.rows.append(("production line, 1/2/4/8 modems", "8 ≤ 1.10 × one",
                              "not available in this build", "", ""))
            return
        counts = [1, 8] if self.quick else [1, 2, 4, 8]
        walls = {}
        for count in counts:
            results = [self.line_batch(count) for _ in range(self.repeats)]
            walls[count] = [wall for wall, _ in results]
            one = statistics.median(walls[1])
            self.add("production line, %d modem%s, wall" % (count, "s" if count > 1 else ""),
                     "≤ 1.10 × one" if count == 8 else "", walls[count], "s", ratio_to=one,
                     limit=1.10 * one if count == 8 else None)
            self.add("production line, %d modem%s, CPU of one core" %
                     (count, "s" if count > 1 else ""), "≤ 50 %",
                     [100.0 * cpu / wall for wall, cpu in results], "%", limit=50.0,
                     fmt="%.1f")

    # --- the station window -------------------------------------------------------------

    def station_window_batch(self, count):
        """count paced modems flashed by korvan-station: (wall s from the program's start to
        the last report line, the window's own CPU s in that time, ping answers (sent ns,
        answered ns) in that time). The window is then closed with SIGTERM, its close
        request, which with nothing running closes it at once."""
        sims = []
        name = self.name("station-window-%d" % count)
        log_path = os.path.join(self.logs, name + ".log")
        report = os.path.join(self.work, name + ".jsonl")
        ports = []
        try:
            for _ in range(count):
                sims.append(self.sim_for(115200, "station"))
            ports = [sim.path for sim in sims]
            env = com_ports_mapped_away(self.work)
            env.update(self.x.env)
            command = [os.path.join(self.bin, "korvan-station"), "--ports", ",".join(ports),
                       "--image", self.image, "--report", report]
            with open(log_path, "w") as log:
                start = monotonic_ns()
                process = subprocess.Popen(command, cwd=self.work, env=env,
                                           stdin=subprocess.DEVNULL, stdout=log,
                                           stderr=subprocess.STDOUT)
                pinger = self.x.start_pinging(process.pid)
                try:
                    deadline = time.monotonic() + SOAK_FLASH_TIMEOUT_S * 2
                    while len(read_report(report)) < count:
                        if not running(process) or time.monotonic() > deadline:
                            raise BenchError("the station window did not flash its %d modems "
                                             "(output in %s): %s" % (count, log_path, "; ".join(
                                                 port_failures(report, ports))))
                        time.sleep(0.02)
                    end = monotonic_ns()
                    cpu = own_cpu_seconds(process.pid)
                finally:
                    pings = pinger.stop()
                    process.send_signal(signal.SIGTERM)
                status, _ = wait_with_usage(process, 60)
        finally:
            for sim in sims:
                sim.stop()
        failures = [f for f in port_failures(report, ports)
                    if f != "every port in the report completed"]
        if status != 0 or failures:
            raise BenchError("station window batch of %d ended with %d (output in %s): %s" %
                             (count, status, log_path, "; ".join(failures)))
        for sim in sims:
            check_flash(sim, self.image)
        answers = [(answered - sent) / 1e6 for sent, answered in pings if start <= sent <= end]
        return (end - start) / 1e9, cpu, answers

    def measure_station_window(self):
        if self.x is None or not os.path.exists(os.path.join(self.bin, "korvan-station")):
            self.rows.append(("station window, 32 modems", "", "not measured: no Xvfb or no "
                              "korvan-station in this build", "", ""))
            return
        one = [self.station_window_batch(1) for _ in range(self.repeats)]
        many = [self.station_window_batch(32) for _ in range(self.repeats)]
        one_wall = statistics.median(wall for wall, _, _ in one)
        self.add("station window, 1 modem, wall", "", [wall for wall, _, _ in one], "s",
                 ratio_to=one_wall)
        self.add("station window, 32 modems, wall", "≤ 1.05 × one",
                 [wall for wall, _, _ in many], "s", ratio_to=one_wall, limit=1.05 * one_wall)
        self.add("station window, 32 modems, the window's CPU of one core", "≤ 10 %",
                 [100.0 * cpu / wall for wall, cpu, _ in many], "%", limit=10.0, fmt="%.1f")
        answered = [answers for _, _, answers in many if answers]
        if not answered:
            self.rows.append(("station window, 32 modems, answer to _NET_WM_PING",
                              "p99 ≤ 50 ms", "no answer seen", "", "missed"))
            return
        self.add("station window, 32 modems, answer to _NET_WM_PING, p50 (%d pings)" %
                 statistics.median(len(a) for a in answered), "",
                 [percentile(a, 50) for a in answered], "ms", fmt="%.1f")
        self.add("station window, 32 modems, answer to _NET_WM_PING, p99", "≤ 50 ms",
                 [percentile(a, 99) for a in answered], "ms", limit=50.0, fmt="%.1f")

    # --- watch-mode soak -----------------------------------------------------------------

    def measure_soak(self):
        """Many flashes one after another on a station in watch mode, two ports at once, with
        modems that come and go; the station's descriptors and resident size after each
        round show whether a day of production would leak."""
        ports = [os.path.join(self.work, "port-" + letter) for letter in "ab"]
        report = os.path.join(self.work, "soak.jsonl")
        log_path = os.path.join(self.logs, "soak.log")
        station, log = self.start_station(ports, report, log_path)
        samples = {}  # flashes done -> (open descriptors, VmRSS kB)
        failures = []
        begin = time.monotonic()
        try:
            while len(samples) == 0 or max(samples) < self.soak_flashes:
                done = max(samples) if samples else 0
                batch = ports[:min(len(ports), self.soak_flashes - done)]
                failures += self.soak_round(station, batch, report, log_path)
                samples[done + len(batch)] = station_usage(station.pid)
        finally:
            status = stop_station(station)
            log.close()
        elapsed = time.monotonic() - begin
        write_samples(samples, os.path.join(self.logs, "soak-samples.txt"))
        self.soak_rows(samples, failures, read_report(report), status, elapsed, log_path)

    def start_station(self, ports, report, log_path):
        """The watch-mode station on the given ports, its output to a log kept for reading."""
        log = open(log_path, "w")
        command = [os.path.join(self.bin, "korvan-download-cli"), "--watch", "--ports",
                   ",".join(ports), "--report", report]
        station = subprocess.Popen(command, cwd=self.work, env=com_ports_mapped_away(self.work),
                                   stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT)
        return station, log

    def soak_round(self, station, ports, report, log_path):
        """One flash on each of the given ports at once: a modem appears behind each port's
        link, the station flashes it, the modem and the link go away. Returns a text for
        each flash that did not complete."""
        # A second early: the station stamps a run's start in milliseconds, this in seconds.
        plugged = time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(time.time() - 1))
        sims = []
        try:
            for port in ports:
                sims.append(start_simulator(self.bin, self.work, self.name("soak"), []))
                os.symlink(sims[-1].path, port)
            runs = wait_for_runs(station, report, plugged, ports, log_path)
        finally:
            for sim in sims:
                sim.stop()
            for port in ports:
                if os.path.lexists(port):
                    os.remove(port)
        failures = [flash_failure(port, runs.get(port), sim, self.image)
                    for port, sim in zip(ports, sims)]
        for sim in sims:
            sim.remove_files()
        time.sleep(SOAK_GONE_S)
        return [failure for failure in failures if failure]

    def soak_rows(self, samples, failures, runs, status, elapsed, log_path):
        flashes = max(samples)
        complete = flashes - len(failures)
        self.rows.append(("soak: watch mode, 2 ports, flashes complete", "all %d" % flashes,
                          "%d of %d" % (complete, flashes), "",
                          "met" if complete == flashes else "missed"))
        self.soak_usage_rows(samples)
        self.add("soak: one flash, unpaced (the report's duration)", "",
                 [float(run["duration"]) for run in runs if run.get("result") == "complete"],
                 "s")
        self.notes.append("Soak: %d flashes in %.0f s; the station exited with %d once "
                          "interrupted; its output is in %s." %
                          (flashes, elapsed, status, log_path))
        for failure in failures[:10]:
            self.notes.append("Soak, a flash that did not complete: " + failure)

    def soak_usage_rows(self, samples):
        """The station's descriptors and resident size at the baseline flash against the
        last, and their range in between: growth with the flash count is a leak."""
        flashes = max(samples)
        base = min((n for n in samples if n >= SOAK_SETTLE_FLASHES), default=min(samples))
        (fds_base, rss_base), (fds_end, rss_end) = samples[base], samples[flashes]
        self.rows.append(("soak: station's open descriptors, flash %d → %d" % (base, flashes),
                          "no growth", "%d → %d (%+d)" % (fds_base, fds_end, fds_end - fds_base),
                          "", "met" if fds_end <= fds_base else "missed"))
        self.rows.append(("soak: station's VmRSS, flash %d → %d" % (base, flashes),
                          "growth ≤ %d kB" % SOAK_RSS_NOISE_KB,
                          "%.2f MB → %.2f MB (%+d kB)" % (rss_base / 1024.0, rss_end / 1024.0,
                                                         rss_end - rss_base), "",
                          "met" if rss_end - rss_base <= SOAK_RSS_NOISE_KB else "missed"))
        later = [samples[n] for n in sorted(samples) if n >= base]
        self.notes.append("Soak, from flash %d on: %d–%d open descriptors, %d–%d kB resident "
                          "(sampled after each round of flashes, both ports idle)." %
                          (base, min(f for f, _ in later), max(f for f, _ in later),
                           min(r for _, r in later), max(r for _, r in later)))

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)


def own_cpu_seconds(pid):
    """User and system time of the process itself so far, its children apart."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def station_usage(pid):
    """(open descriptors, VmRSS kB) of the station itself, its children apart."""
    fds = len(os.listdir("/proc/%d/fd" % pid))
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return fds, int(line.split()[1])
    raise BenchError("the station's status has no VmRSS")


def wait_for_runs(station, report, plugged, ports, log_path):
    """The report's objects for the given ports of runs started since the modems were
    plugged (ISO 8601 UTC), by port, once each port has one or the flash has taken far too
    long. By start time, not by count: a run that ends only after its round gave up on it
    must not pass for the next round's. A station that ends on its own ends the soak."""
    deadline = time.monotonic() + SOAK_FLASH_TIMEOUT_S
    while True:
        runs = {run.get("port"): run for run in read_report(report)
                if run.get("start", "") >= plugged}
        if all(port in runs for port in ports) or time.monotonic() > deadline:
            return runs
        if station.poll() is not None:
            raise BenchError("the watch-mode station ended with %d during the soak (output "
                             "in %s)" % (station.returncode, log_path))
        time.sleep(0.05)


def flash_failure(port, run, sim, image):
    """Why one soak flash did not complete, or None when it did and the modem holds the
    image."""
    if run is None:
        return "%s: no report within %d s" % (port, SOAK_FLASH_TIMEOUT_S)
    if run.get("result") != "complete":
        return run_failure(port, run)
    try:
        check_flash(sim, image)
    except BenchError as error:
        return "%s: %s" % (port, error)
    return None


def write_samples(samples, path):
    """Every sample of the soak, for a look at the trend behind the two figures."""
    with open(path, "w") as out:
        out.write("# flashes done, open descriptors, VmRSS kB\n")
        for flashes in sorted(samples):
            out.write("%d %d %d\n" % ((flashes,) + samples[flashes]))


def stop_station(station):
    """Interrupts the station, which lets a download in progress finish, and returns its
    exit status; one that does not exit in time is killed."""
    if station.poll() is None:
        station.send_signal(signal.SIGINT)
        try:
            station.wait(SOAK_FLASH_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            station.kill()
            station.wait()
    return station.returncode


def percentile(values, p):
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(p / 100.0 * (len(ordered) - 1)))))
    return ordered[index]


def phase_bounds(run, phase):
    """(start ns, end ns) of a phase of a run, from the simulator's events and wire chunks:
    the erase wait runs from the erase packet to its reply, programming from that reply to
    the last record's acknowledgement."""
    events = run["events"]
    erase = next((t for t, text in events if text == "erase"), None)
    if erase is None:
        return None
    reply = next((t for t, d, _ in run["chunks"] if d == "out" and t > erase), None)
    last_record = [t for t, text in events if text.startswith("record %d " % RECORDS)]
    if reply is None or not last_record:
        return None
    if phase == "erase wait":
        return erase, reply
    last_ack = next((t for t, d, _ in run["chunks"] if d == "out" and t > last_record[-1]),
                    last_record[-1])
    return reply, last_ack


def record_timings(run):
    """Per record of the programming phase, in ms: from the previous acknowledgement's
    arrival to the record's first bit (the host's turn: one tick and its reaction), the
    record on the wire, and from its last byte to the acknowledgement's arrival (the
    modem's turn). The trace stamps each chunk with the arrival of its last byte."""
    bounds = phase_bounds(run, "programming")
    if bounds is None:
        return None
    byte_ms = 10e3 / run["rate"]
    turns, wires, answers = [], [], []
    previous_ack = None  # arrival of the last acknowledgement's last byte, ms
    record_start = record_end = None
    for stamp, direction, count in run["chunks"]:
        ms = stamp / 1e6
        if stamp < bounds[0]:
            previous_ack = ms if direction == "out" else previous_ack
            continue
        if stamp > bounds[1]:
            break
        if direction == "out":
            previous_ack = ms
            continue
        if record_end is not None and previous_ack is not None and previous_ack > record_end:
            # A new record begins: the previous one and its acknowledgement are complete.
            wires.append(record_end - record_start)
            answers.append(previous_ack - record_end)
            record_start = None
        if record_start is None:
            record_start = ms - count * byte_ms
            if previous_ack is not None:
                turns.append(record_start - previous_ack)
        record_end = ms
    if record_start is not None and previous_ack is not None and previous_ack > record_end:
        wires.append(record_end - record_start)
        answers.append(previous_ack - record_end)
    if not wires or not turns:
        return None
    return tuple(statistics.median(v) for v in (turns, wires, answers))


def pings_in_phase(run, phase):
    bounds = phase_bounds(run, phase)
    if bounds is None:
        return []
    start, end = bounds
    return [(answered - sent) / 1e6 for sent, answered in run["pings"]
            if start <= sent and sent <= end]


def machine_description():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    load = " ".join("%.2f" % x for x in os.getloadavg())
    return "%s, %d cores, %s, load average at start %s" % (cpu, os.cpu_count(),
                                                            platform.release(), load)


def write_results(bench, path, machine, started, elapsed):
    with open(path, "w") as out:
        out.write("# Benchmark results\n\n")
        out.write("Machine: %s.  \n" % machine)
        out.write("Measured %s, %s, %d run(s) per figure (median [min–max]), %.0f s in all.\n\n"
                  % (started, "scripts/bench --quick" if bench.quick else "scripts/bench",
                     bench.repeats, elapsed))
        out.write("| figure | goal | measured | ratio | |\n|---|---|---|---|---|\n")
        for row in bench.rows:
            out.write("| %s |\n" % " | ".join(row))
        if bench.timeline is not None:
            r = bench.timeline
            parts = r["parts"]
            out.write("\nWhere the floor of one %d baud run goes: wire %.2f s (%d bytes at 10 bits "
                      "per byte), ticks %.3f s (%d × 25 ms), fixed pauses %.2f s, simulator "
                      "%.2f s (erase and command-packet framing); floor %.2f s, measured "
                      "%.2f s.\n" % (r["rate"], parts["wire"], r["wire_bytes"], parts["ticks"],
                                     TICKS_PER_RUN, parts["pauses"], parts["simulator"],
                                     r["floor"], r["wall"]))
        for note in bench.notes:
            out.write("\n%s\n" % note)


def write_timeline(run, out_dir):
    """Bytes on the wire against time for one run, with the run's messages marked."""
    data = os.path.join(out_dir, "timeline.dat")
    start = run["start"]
    total = 0
    with open(data, "w") as out:
        out.write("0 0\n")
        for stamp, _, count in run["chunks"]:
            total += count
            out.write("%.4f %d\n" % ((stamp - start) / 1e9, total))
        out.write("%.4f %d\n" % ((run["end"] - start) / 1e9, total))
    marks = []
    seen = set()
    for stamp, line in run["lines"]:
        text = re.sub(r"\s+", " ", line)
        if text.startswith("Programming:") or text in seen:
            continue
        seen.add(text)
        marks.append(((stamp - start) / 1e9, text.replace('"', "'")))
    script = os.path.join(out_dir, "timeline.gp")
    parts = run["parts"]
    with open(script, "w") as gp:
        gp.write('set terminal pngcairo size 1400,700 font "DejaVu Sans,10"\n'
                 if terminal_available("pngcairo") else 'set terminal png size 1400,700\n')
        gp.write('set output "%s"\n' % os.path.join(out_dir, "timeline.png"))
        gp.write('set title "One run at %d baud: %.2f s measured, floor %.2f s = wire %.2f + '
                 'ticks %.2f + pauses %.2f + simulator %.2f"\n' %
                 (run["rate"], run["wall"], run["floor"], parts["wire"], parts["ticks"],
                  parts["pauses"], parts["simulator"]))
        gp.write('set xlabel "seconds since start"\nset ylabel "bytes on the wire (both '
                 'directions)"\nset key bottom right\nset grid\nset yrange [0:%d]\n' %
                 int(total * 1.25))
        for i, (x, text) in enumerate(marks):
            y = total * (1.22 - 0.045 * (i % 6))
            gp.write('set arrow from %.3f,0 to %.3f,%d nohead lc rgb "#999999" dt 2\n' %
                     (x, x, int(y)))
            gp.write('set label "%s" at %.3f,%d font ",8"\n' % (text, x, int(y)))
        gp.write('plot "%s" using 1:2 with steps lw 2 title "bytes delivered"\n' % data)
    subprocess.run(["gnuplot", script], check=True)


def terminal_available(name):
    result = subprocess.run(["gnuplot", "-e", "set terminal"], capture_output=True, text=True)
    return (" %s " % name) in result.stdout + result.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", default="runs,search,line")
    parser.add_argument("--soak-flashes", type=int, default=200)
    args = parser.parse_args()
    if args.soak_flashes < 1:
        parser.error("--soak-flashes needs at least one flash")

    sections = set(args.only.split(","))
    machine = machine_description()
    started = time.strftime("%Y-%m-%d %H:%M %Z")
    begin = time.monotonic()
    bench = Bench(args.bin, args.out, args.quick, args.soak_flashes)
    try:
        if "runs" in sections or "station" in sections:
            import bench_x_display
            bench.x = bench_x_display.start(bench.work)
        bench.run(sections)
    finally:
        if bench.x is not None:
            bench.x.stop()
        bench.cleanup()
    results = os.path.join(args.out, "results.md")
    write_results(bench, results, machine, started, time.monotonic() - begin)
    if bench.timeline is not None:
        write_timeline(bench.timeline, args.out)
    with open(results) as table:
        sys.stdout.write(table.read())


if __name__ == "__main__":
    try:
        main()
    except BenchError as error:
        print("bench: " + str(error), file=sys.stderr)
        sys.exit(1)
