"""Window tests of korvan-download: start the real program on a private X display against the
modem simulator and drive it from outside, reading what it shows through AT-SPI.

    test_window.py CASE --app BIN --sim BIN --image-tool BIN --bell-watch BIN --shots DIR

Runs itself under a D-Bus session of its own.
"""

import os
import re
import subprocess
import sys
import time

MAIN_TITLE = "Korvan Download Utility"
PROMPT_TITLE = "Specify Download File"
MODEL = "KV2400-TEST"
COMPLETE_PATTERN = re.compile(r"Download complete!  \(([0-9a-f]{4})\)")
RECORD_SIZE = 1028
RECORD_COUNT = 224
SLOW_ERASE_MS = 6000
HERE = os.path.dirname(os.path.abspath(__file__))

from window_test_start import parse_args, rerun_under_dbus  # noqa: E402

rerun_under_dbus(__file__)

# Imported only inside the D-Bus session: pyatspi connects at import time.
import pyatspi  # noqa: E402
import window_session as ws  # noqa: E402
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from korvan_sim import Simulator, com_ports_mapped_away  # noqa: E402
from window_session import TestFailure, expect, log, wait_until  # noqa: E402


def crc16_x25(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0x8408 if crc & 1 else crc >> 1
    return crc ^ 0xFFFF


def expected_checksum_total(image_path):
    """What the completion message must show: the sum of the block checksums of the last 1024
    bytes of every record."""
    with open(image_path, "rb") as image:
        data = image.read()
    total = 0
    for index in range(RECORD_COUNT):
        record = data[index * RECORD_SIZE:(index + 1) * RECORD_SIZE]
        total = (total + crc16_x25(record[4:])) & 0xFFFF
    return total


class Run(ws.ProgramUnderTest):
    """One start of korvan-download with every COM port mapped: the simulator's line on COM3
    (searched first) when there is a simulator, a path that does not exist for the others."""

    def __init__(self, args, session, work_dir):
        super().__init__()
        self.args = args
        self.session = session
        self.work_dir = work_dir
        self.sim = None
        self.env = None

    def map_ports(self, with_modem, erase_ms):
        env = ws.sanitizer_env(self.session.env)
        devices = {}
        if with_modem:
            self._start_simulator(erase_ms)
            devices[3] = os.path.join(self.work_dir, "modem")
        self.env = com_ports_mapped_away(self.work_dir, devices, env)

    def _start_simulator(self, erase_ms):
        link = os.path.join(self.work_dir, "modem")
        try:
            self.sim = Simulator(self.args.sim, self.work_dir, "--link", link, "--erase-ms",
                                 str(erase_ms), model=MODEL)
        except RuntimeError as error:
            raise TestFailure(str(error))
        wait_until("the simulator's link", lambda: os.path.exists(link), 5)

    def start(self, *arguments):
        self.start_program([self.args.app, *arguments], self.work_dir, self.env,
                           os.path.join(self.work_dir, "app.log"), "korvan-download", 20)
        return self.main_window()

    def main_window(self):
        return wait_until("the progress window",
                          lambda: ws.find_window(self.application, MAIN_TITLE), 20)

    def prompt(self, timeout_s=30):
        return wait_until("the download file prompt",
                          lambda: ws.find_window(self.application, PROMPT_TITLE), timeout_s)

    def controls(self):
        window = self.main_window()
        return (ws.find_control(window, pyatspi.ROLE_LABEL),
                ws.find_control(window, pyatspi.ROLE_PROGRESS_BAR),
                ws.find_control(window, pyatspi.ROLE_PUSH_BUTTON, "Exit"))

    def status(self):
        return self.controls()[0].name

    def wait_status(self, description, predicate, timeout_s):
        return wait_until(description, lambda: predicate(self.status()), timeout_s)

    def wait_ended(self, timeout_s=10):
        wait_until("the program to end", lambda: not self.alive(), timeout_s)
        self.check_clean_exit()

    def shot(self, name):
        path = os.path.join(self.args.shots, name + ".png")
        self.session.screenshot(path)
        log(f"screenshot {path}")

    def close(self):
        self.stop_program()
        if self.sim is not None:
            self.sim.stop()


def extents(accessible):
    return accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def expect_layout(window, client_dlu, controls_dlu):
    """The controls sit where the dialog template puts them: dialog units scaled by the same
    factor as the client area, within a pixel and a half for rounding."""
    panel = extents(ws.find_control(window, pyatspi.ROLE_PANEL))
    unit_x = panel.width / client_dlu[0]
    unit_y = panel.height / client_dlu[1]
    for control, (x, y, width, height) in controls_dlu:
        box = extents(control)
        wanted = (panel.x + x * unit_x, panel.y + y * unit_y, width * unit_x, height * unit_y)
        actual = (box.x, box.y, box.width, box.height)
        expect(all(abs(a - w) <= 1.5 for a, w in zip(actual, wanted)),
               f"{control.getRoleName()} {control.name!r} at {actual}, expected about "
               f"{tuple(round(v) for v in wanted)}")


def expect_centred(box, centre, what):
    middle = (box.x + box.width / 2, box.y + box.height / 2)
    expect(all(abs(m - c) <= 20 for m, c in zip(middle, centre)),
           f"{what} is not centred: its middle is {middle}, expected about {centre}")


def expect_icon(run, title):
    """Both windows carry the program's own 32 by 32 icon."""
    window = run.session.window_id(title)
    icon = subprocess.run(["xprop", "-id", window, "_NET_WM_ICON"], env=run.session.env,
                          capture_output=True, text=True).stdout
    expect("Icon (32 x 32)" in icon, f"{title} has no 32x32 icon: {icon[:80]!r}")


def bar_position(run):
    """The progress bar's position in records, 0..224."""
    return round(ws.progress_fraction(run.controls()[1]) * RECORD_COUNT)


# --- Cases ----------------------------------------------------------------------------------

def case_full_run(run):
    """A whole download: close refused while programming, completion with its checksum total,
    Exit enabled at the end, and Exit ends the program; the line traced to a file."""
    image = os.path.join(run.work_dir, "firmware.dl")
    subprocess.run([run.args.image_tool, "make", image], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(run.work_dir, "modems.cfg"), "w") as modem_map:
        modem_map.write(f"{MODEL} {image}\n")
    trace_path = os.path.join(run.work_dir, "line.trace")

    window = run.start("--trace", trace_path)
    status, bar, exit_button = run.controls()
    expect(not ws.is_enabled(exit_button), "Exit is enabled at the start of the run")
    expect_layout(window, (187, 61), [(status, (7, 10, 172, 8)), (exit_button, (70, 40, 50, 14))])
    expect_centred(extents(window), (640, 512), "the progress window")
    expect_icon(run, MAIN_TITLE)
    expect(ws.has_state(exit_button, pyatspi.STATE_IS_DEFAULT), "Exit is not the default button")
    expect(not ws.is_showing(bar), "the progress bar is visible at the start")
    run.shot("full-run-1-start")

    run.wait_status("programming", lambda text: text == "Programming modem...", 30)
    wait_until("the progress bar to move",
               lambda: ws.is_showing(run.controls()[1]) and bar_position(run) >= 20, 10, 0.02)
    run.shot("full-run-2-programming")
    position = bar_position(run)
    expect(not ws.is_enabled(run.controls()[2]), "Exit is enabled during the run")

    run.session.request_close(MAIN_TITLE)
    run.session.key("Escape")
    time.sleep(0.5)
    expect(run.alive(), "the program ended on a close request during the run")
    expect(ws.find_window(run.application, MAIN_TITLE) is not None,
           "the progress window went away on a close request during the run")
    wait_until("programming to go on after the close request",
               lambda: bar_position(run) > position, 5, 0.02)
    bells_before_end = run.session.bells.count

    match = run.wait_status("the completion message", COMPLETE_PATTERN.fullmatch, 40)
    total = int(match.group(1), 16)
    expect(total == expected_checksum_total(image),
           f"completion shows {total:04x}, the image gives {expected_checksum_total(image):04x}")
    exit_button = run.controls()[2]
    wait_until("Exit to become enabled", lambda: ws.is_enabled(exit_button), 5)
    wait_until("the completion beep", lambda: run.session.bells.count == bells_before_end + 1, 5)
    run.shot("full-run-3-complete")

    run.session.click(exit_button)
    run.wait_ended()
    with open(trace_path) as trace:
        events = [line.split(" ms  ", 1)[1] for line in trace.read().splitlines()
                  if not line.startswith(" " * 15)]
    programmed = [event for event in events if event.startswith("TX COM3 record ")]
    expect(len(programmed) == 224 and programmed[-1] == "TX COM3 record 224, 1028 bytes",
           f"the trace shows {len(programmed)} records sent, the last {programmed[-1:]}")
    expect(events[-1] == "close COM3", f"the trace ends with {events[-1]!r}")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def case_responsive_during_wait(run):
    """While a step waits for the modem (a slow erase) the window keeps answering: it follows
    a move, refuses a close request, and the wait does not keep a core busy."""
    image = os.path.join(run.work_dir, "firmware.dl")
    subprocess.run([run.args.image_tool, "make", image], check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(run.work_dir, "modems.cfg"), "w") as modem_map:
        modem_map.write(f"{MODEL} {image}\n")
    run.start()
    run.wait_status("the erase", lambda text: text == "Erasing modem program memory...", 30)
    time.sleep(1.5)  # past the pause that shows the message, into the wait for the reply

    window_id = run.session.window_id(MAIN_TITLE)
    before = extents(run.main_window())
    run.session.xdotool("windowmove", "--sync", window_id, "100", "100")
    started = time.monotonic()
    wait_until("the window to report its new place",
               lambda: extents(run.main_window()).x != before.x, 2, 0.02)
    expect(time.monotonic() - started < 1.0, "the window answered slowly during the wait")

    cpu_before = cpu_seconds(run.app.pid)
    time.sleep(1.0)
    busy = cpu_seconds(run.app.pid) - cpu_before
    log(f"cpu during the wait: {busy:.2f} s in 1 s")
    expect(busy < 0.25, f"waiting for the modem used {busy:.2f} s of CPU in 1 s")

    run.session.request_close(MAIN_TITLE)
    time.sleep(0.5)
    expect(run.alive(), "the program ended on a close request during the wait")
    expect(run.status() == "Erasing modem program memory...",
           f"the erase wait was cut short: {run.status()!r}")
    run.shot("erase-wait-moved")


def case_close_after_failure(run):
    """No modem on any port: the failure message with a beep and Exit enabled; then a close
    request ends the program."""
    run.start()
    run.wait_status("the failure message",
                    lambda text: text == "Could not configure modem!", 20)
    wait_until("Exit to become enabled", lambda: ws.is_enabled(run.controls()[2]), 5)
    wait_until("the failure beep", lambda: run.session.bells.count == 1, 5)
    expect(not ws.is_showing(run.controls()[1]), "the progress bar was shown without a modem")
    run.shot("no-modem-end")
    run.session.request_close(MAIN_TITLE)
    run.wait_ended()


def case_escape_after_failure(run):
    """Once the run has ended, Escape ends the program."""
    run.start()
    run.wait_status("the failure message",
                    lambda text: text == "Could not configure modem!", 20)
    run.session.xdotool("windowactivate", "--sync", run.session.window_id(MAIN_TITLE))
    run.session.key("Escape")
    run.wait_ended()


def focused_control(window):
    for accessible in ws.descendants(window):
        if ws.is_focused(accessible):
            return accessible
    return None


def expect_fresh_prompt(run):
    prompt = run.prompt()
    field = ws.find_control(prompt, pyatspi.ROLE_TEXT)
    expect(field is not None, "the prompt has no path field")
    wait_until("the focus in the path field", lambda: ws.is_focused(field), 5)
    expect(ws.text_of(field) == "", f"the path field is not empty: {ws.text_of(field)!r}")
    return prompt, field


def expect_download_file_filters(chooser):
    """The chooser offers the download files, selected, then all files."""
    filters = ws.find_control(chooser, pyatspi.ROLE_COMBO_BOX)
    expect(filters is not None, "the file chooser has no filter choice")
    choices = [item.name for item in ws.descendants(filters)
               if item.getRole() == pyatspi.ROLE_MENU_ITEM]
    expect(choices == ["Download Files (*.dl)", "All Files (*.*)"],
           f"the file chooser offers {choices}")
    expect(filters.name == "Download Files (*.dl)", f"the chooser starts with {filters.name!r}")


def case_prompt_flow(run):
    """No image known: the prompt opens; an empty OK beeps and keeps it open; a path that does
    not validate brings a new, empty prompt; Browse puts the chosen file in the field and OK
    hands it to the validation; Cancel ends the program without a final message."""
    run.start()
    prompt, field = expect_fresh_prompt(run)
    run.shot("prompt-1-first")
    button = {name: ws.find_control(prompt, pyatspi.ROLE_PUSH_BUTTON, name)
              for name in ("OK", "Cancel", "Browse...")}
    expect_layout(prompt, (186, 46), [(field, (7, 7, 172, 14)), (button["OK"], (7, 25, 50, 14)),
                                      (button["Cancel"], (68, 25, 50, 14)),
                                      (button["Browse..."], (129, 25, 50, 14))])
    owner = extents(run.main_window())
    expect_centred(extents(prompt), (owner.x + owner.width / 2, owner.y + owner.height / 2),
                   "the prompt over the progress window")
    expect_icon(run, PROMPT_TITLE)
    expect(ws.has_state(button["OK"], pyatspi.STATE_IS_DEFAULT), "OK is not the default button")
    expect(not ws.is_enabled(run.controls()[2]), "Exit is enabled while the prompt is open")

    # Tab order: OK, Cancel, path field, Browse.
    for expected in ("Browse...", "OK", "Cancel"):
        run.session.key("Tab")
        wait_until(f"the focus on {expected}",
                   lambda: (focused_control(prompt) or field).name == expected, 5)
    run.session.key("Tab")
    wait_until("the focus back in the path field", lambda: ws.is_focused(field), 5)

    bells = run.session.bells.count
    run.session.click(ws.find_control(prompt, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    wait_until("the beep of an empty OK", lambda: run.session.bells.count == bells + 1, 5)
    time.sleep(0.3)
    expect(ws.find_window(run.application, PROMPT_TITLE) is not None,
           "the prompt closed on an empty OK")
    wait_until("the focus back in the path field", lambda: ws.is_focused(field), 5)

    missing = os.path.join(run.work_dir, "no-such-firmware.dl")
    run.session.type_text(missing)
    wait_until("the typed path", lambda: ws.text_of(field) == missing, 5)
    run.session.key("Return")
    # The program sleeps without answering between the two prompts, so we may never see the
    # moment without one: wait for a prompt that is not the old one.
    first_prompt = prompt
    wait_until("a new prompt",
               lambda: ws.find_window(run.application, PROMPT_TITLE) not in (None, first_prompt),
               15)
    prompt, field = expect_fresh_prompt(run)
    expect(run.status() == "Download file not found!", f"status after a bad path: {run.status()}")
    run.shot("prompt-2-again")

    picked = os.path.join(run.work_dir, "picked.dl")
    with open(picked, "wb") as stray:
        stray.write(b"not an image")
    run.session.click(ws.find_control(prompt, pyatspi.ROLE_PUSH_BUTTON, "Browse..."))
    chooser = wait_until("the file chooser",
                         lambda: ws.find_window(run.application, "Select a file"), 10)
    expect_download_file_filters(chooser)
    run.shot("prompt-3-browse")
    run.session.key("ctrl+l")
    run.session.type_text(picked)
    run.session.key("Return")
    wait_until("the chooser to close",
               lambda: ws.find_window(run.application, "Select a file") is None, 10)
    wait_until("the chosen file in the path field", lambda: ws.text_of(field) == picked, 5)

    # The chosen file reaches the validation, which finds it is no image: another prompt.
    run.session.click(ws.find_control(prompt, pyatspi.ROLE_PUSH_BUTTON, "OK"))
    second_prompt = prompt
    wait_until("a new prompt",
               lambda: ws.find_window(run.application, PROMPT_TITLE) not in (None, second_prompt),
               15)
    prompt, field = expect_fresh_prompt(run)
    expect(run.status() == "Invalid download file format!",
           f"status after choosing a file that is no image: {run.status()}")

    bells = run.session.bells.count
    run.session.click(ws.find_control(prompt, pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
    run.wait_ended()
    expect(run.session.bells.count == bells, "a final beep after Cancel")


CASES = {
    "full_run": (case_full_run, True),
    "close_after_failure": (case_close_after_failure, False),
    "escape_after_failure": (case_escape_after_failure, False),
    "prompt_flow": (case_prompt_flow, True),
    "responsive_during_wait": (case_responsive_during_wait, True),
}


def main():
    args = parse_args()
    case, with_modem = CASES[args.case]
    erase_ms = SLOW_ERASE_MS if args.case == "responsive_during_wait" else 100

    def start(session, work_dir):
        run = Run(args, session, work_dir)
        run.map_ports(with_modem, erase_ms)
        return run

    return ws.run_case(args, case, start, "korvan-ui-", f"failed-{args.case}")


if __name__ == "__main__":
    sys.exit(main())
