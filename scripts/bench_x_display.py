"""A private X display for the window runs of the benchmark: Xvfb with openbox, a pinger that
asks the window to answer _NET_WM_PING every few milliseconds and records how long each
answer takes, and a key press for the Exit button."""

import os
import select
import subprocess
import threading
import time

from Xlib import X, display
from Xlib.protocol import event

PING_EVERY_S = 0.010


class XDisplay:
    def __init__(self, work):
        self._processes = []
        read_end, write_end = os.pipe()
        log = open(os.path.join(work, "xvfb.log"), "w")
        self._processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
             "-extension", "GLX", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=log, stderr=subprocess.STDOUT))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self.env = {"DISPLAY": self.name, "GSETTINGS_BACKEND": "memory", "GDK_BACKEND": "x11",
                    "NO_AT_BRIDGE": "1"}
        env = dict(os.environ, **self.env)
        self._processes.append(subprocess.Popen(["openbox"], env=env, stdout=log,
                                                stderr=subprocess.STDOUT))
        self._wait_for_window_manager()

    def _wait_for_window_manager(self):
        connection = display.Display(self.name)
        check = connection.intern_atom("_NET_SUPPORTING_WM_CHECK")
        deadline = time.monotonic() + 10
        try:
            while connection.screen().root.get_full_property(check, X.AnyPropertyType) is None:
                if time.monotonic() > deadline:
                    raise RuntimeError("openbox did not start")
                time.sleep(0.05)
        finally:
            connection.close()

    def start_pinging(self, pid):
        return Pinger(self.name, pid)

    def press_return(self):
        subprocess.run(["xdotool", "key", "Return"], env=dict(os.environ, **self.env),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        for process in reversed(self._processes):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


class Pinger:
    """Pings the top-level window of one process; stop() returns (sent ns, answered ns)."""

    def __init__(self, name, pid):
        self._pid = pid
        self._connection = display.Display(name)
        # The window goes away at the end of a run while pings may still be on their way.
        self._connection.set_error_handler(lambda *_: None)
        self._root = self._connection.screen().root
        self._atoms = {n: self._connection.intern_atom(n) for n in
                       ("WM_PROTOCOLS", "_NET_WM_PING", "_NET_WM_PID", "_NET_CLIENT_LIST")}
        self._root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self._sent = {}
        self._answers = []
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _find_window(self):
        clients = self._root.get_full_property(self._atoms["_NET_CLIENT_LIST"], X.AnyPropertyType)
        for window_id in (clients.value if clients else []):
            window = self._connection.create_resource_object("window", window_id)
            try:
                pid = window.get_full_property(self._atoms["_NET_WM_PID"], X.AnyPropertyType)
                protocols = window.get_wm_protocols()
            except Exception:
                continue
            if pid and pid.value[0] == self._pid and self._atoms["_NET_WM_PING"] in protocols:
                return window
        return None

    def _run(self):
        try:
            self._ping_until_stopped()
        except Exception:  # the display went away: the run is over
            pass

    def _ping_until_stopped(self):
        window = None
        serial = 0
        next_send = time.monotonic()
        fd = self._connection.fileno()
        while not self._stopping.is_set():
            now = time.monotonic()
            if window is None and now >= next_send:
                window = self._find_window()
                next_send = now + (0 if window else 0.05)
            if window is not None and now >= next_send:
                serial += 1
                ping = event.ClientMessage(
                    window=window, client_type=self._atoms["WM_PROTOCOLS"],
                    data=(32, [self._atoms["_NET_WM_PING"], serial, window.id, 0, 0]))
                self._sent[serial] = time.monotonic_ns()
                window.send_event(ping, event_mask=X.NoEventMask)
                self._connection.flush()
                next_send = now + PING_EVERY_S
            select.select([fd], [], [], max(0.0, next_send - time.monotonic()))
            while self._connection.pending_events():
                answer = self._connection.next_event()
                if (answer.type == X.ClientMessage
                        and answer.data[1][0] == self._atoms["_NET_WM_PING"]):
                    sent = self._sent.pop(answer.data[1][1], None)
                    if sent is not None:
                        self._answers.append((sent, time.monotonic_ns()))

    def stop(self):
        self._stopping.set()
        self._thread.join(5)
        self._connection.close()
        return self._answers


def start(work):
    return XDisplay(work)
