"""A private X display with a window manager, the accessibility bus and a bell counter, and
the means to read and drive a window on it from outside as a person would: AT-SPI to read
labels, buttons and progress bars, xdotool for the mouse and keyboard, ImageMagick for
screenshots."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback

import pyatspi


SANITIZER_REPORT = re.compile(r"ERROR: (Address|Leak)Sanitizer|runtime error:")


class TestFailure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise TestFailure(message)


def expect_no_sanitizer_report(output):
    """A program that ended by itself must not have left sanitizer reports behind."""
    expect(not SANITIZER_REPORT.search(output), "sanitizer report:\n" + output)


def sanitizer_env(env):
    """env with the leak checker told about the toolkit's own leaks, which are not ours."""
    suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
    return dict(env, LSAN_OPTIONS=f"suppressions={suppressions}:print_suppressions=0")


class ProgramUnderTest:
    """One window program started on the private display, its output kept in a log."""

    def __init__(self):
        self.app = None
        self.app_log = None
        self.application = None

    def start_program(self, command, cwd, env, log_path, bus_name, timeout_s):
        self.app_log = open(log_path, "w")
        self.app = subprocess.Popen(command, cwd=cwd, env=env, stdout=self.app_log,
                                    stderr=subprocess.STDOUT)
        self.application = wait_until(f"{bus_name} on the accessibility bus",
                                      lambda: find_application(bus_name), timeout_s)

    def alive(self):
        return self.app.poll() is None

    def program_output(self):
        with open(self.app_log.name) as output:
            return output.read().strip()

    def check_clean_exit(self):
        expect_no_sanitizer_report(self.program_output())

    def stop_program(self):
        stop_process(self.app)
        if self.app is not None:
            output = self.program_output()
            if output:
                log("program output:\n" + output)


def run_case(args, case, start, temp_prefix, failed_shot):
    """Runs case(subject) on a private X display, subject = start(session, work_dir): 0 when
    it passed; on any fault 1, with a screenshot named failed_shot and the logs kept."""
    work_dir = make_temp_dir(temp_prefix)
    status = 1
    try:
        with XSession(args.bell_watch, work_dir) as session:
            subject = None
            try:
                subject = start(session, work_dir)
                case(subject)
                status = 0
                log(f"{args.case}: passed")
            except Exception as failure:  # any fault of the program fails the case
                log(f"{args.case}: FAILED: {failure!r}")
                traceback.print_exc()
                session.screenshot(os.path.join(args.shots, failed_shot + ".png"))
            finally:
                if subject is not None:
                    subject.close()
    finally:
        if status == 0:
            remove_dir(work_dir)
        else:
            log(f"logs kept in {work_dir}")
    return status


def wait_until(description, predicate, timeout_s, interval_s=0.1):
    """Polls predicate until it returns something true; returns that value."""
    deadline = time.monotonic() + timeout_s
    while True:
        try:
            value = predicate()
        except Exception:  # the accessible tree changes under our feet while windows come and go
            value = None
        if value:
            return value
        if time.monotonic() >= deadline:
            raise TestFailure(f"timed out after {timeout_s} s waiting for {description}")
        time.sleep(interval_s)


def stop_process(process, grace_s=3):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace_s)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class BellCounter:
    """Counts the X bells rung on the display (the program's beeps)."""

    def __init__(self, command, env):
        self.count = 0
        self._process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, text=True)
        if self._process.stdout.readline().strip() != "ready":
            raise TestFailure("bell watcher did not start")
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self._process.stdout:
            if line.strip() == "bell":
                self.count += 1

    def stop(self):
        stop_process(self._process)


class XSession:
    """Xvfb on a free display number, openbox, the AT-SPI bus and a bell counter."""

    def __init__(self, bell_watch, log_dir):
        self._bell_watch = bell_watch
        self._log_dir = log_dir
        self._processes = []
        self.env = None
        self.bells = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _spawn(self, name, command):
        log = open(os.path.join(self._log_dir, name + ".log"), "w")
        process = subprocess.Popen(command, env=self.env, stdout=log, stderr=subprocess.STDOUT)
        self._processes.append(process)
        return process

    def _start(self):
        # Xvfb picks a free display itself and tells us its number through a pipe.
        read_end, write_end = os.pipe()
        xvfb_log = open(os.path.join(self._log_dir, "xvfb.log"), "w")
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-extension", "GLX", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=xvfb_log, stderr=subprocess.STDOUT)
        self._processes.append(xvfb)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            display = pipe.readline().strip()
        if not display:
            raise TestFailure("Xvfb did not start")

        self.env = dict(os.environ)
        for name in ("NO_AT_BRIDGE", "GTK_A11Y", "GTK_MODULES", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        self.env.update({"DISPLAY": ":" + display, "GSETTINGS_BACKEND": "memory",
                         "GDK_BACKEND": "x11"})
        os.environ.update({"DISPLAY": ":" + display})

        self._spawn("at-spi-bus", ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        self._spawn("openbox", ["openbox"])
        self.bells = BellCounter([self._bell_watch], self.env)
        wait_until("the window manager", self._window_manager_running, 10)

    def _window_manager_running(self):
        result = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                capture_output=True, text=True)
        return "window id" in result.stdout

    def close(self):
        if self.bells is not None:
            self.bells.stop()
        for process in reversed(self._processes):
            stop_process(process)
        self._processes.clear()

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # Silent: import rings the bell when it is done, which the bell counter would count.
        subprocess.run(["import", "-silent", "-window", "root", path], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True,
                              capture_output=True, text=True).stdout

    def window_id(self, title):
        output = self.xdotool("search", "--sync", "--onlyvisible", "--name", f"^{title}$")
        return output.split()[0]

    def request_close(self, title):
        """Alt+F4 on the window, which the window manager turns into a close request."""
        window = self.window_id(title)
        self.xdotool("windowactivate", "--sync", window)
        self.xdotool("key", "--clearmodifiers", "alt+F4")

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def type_text(self, text):
        self.xdotool("type", "--delay", "5", text)

    def click(self, accessible):
        """A left click in the middle of the control, with the real mouse."""
        box = accessible.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        x, y = box.x + box.width // 2, box.y + box.height // 2
        self.xdotool("mousemove", "--sync", str(x), str(y), "click", "1")


# --- Reading the accessible tree -----------------------------------------------------------

def find_application(name):
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == name:
            return application
    return None


def descendants(accessible):
    for child in accessible:
        if child is None:
            continue
        yield child
        yield from descendants(child)


def find_window(application, title):
    if application is None:
        return None
    for window in application:
        if window is not None and window.name == title and is_showing(window):
            return window
    return None


def find_control(window, role, name=None):
    for accessible in descendants(window):
        if accessible.getRole() == role and (name is None or accessible.name == name):
            return accessible
    return None


def has_state(accessible, state):
    return accessible.getState().contains(state)


def is_showing(accessible):
    return has_state(accessible, pyatspi.STATE_SHOWING)


def is_enabled(accessible):
    return has_state(accessible, pyatspi.STATE_SENSITIVE)


def is_focused(accessible):
    return has_state(accessible, pyatspi.STATE_FOCUSED)


def text_of(accessible):
    text = accessible.queryText()
    return text.getText(0, text.characterCount)


def progress_fraction(accessible):
    """How far the bar is filled, 0.0 to 1.0 (GTK reports the fraction, not the position)."""
    value = accessible.queryValue()
    span = value.maximumValue - value.minimumValue
    return (value.currentValue - value.minimumValue) / span if span > 0 else 0.0


def make_temp_dir(prefix):
    return tempfile.mkdtemp(prefix=prefix)


def remove_dir(path):
    shutil.rmtree(path, ignore_errors=True)


def log(message):
    print(message, flush=True)
    sys.stdout.flush()
