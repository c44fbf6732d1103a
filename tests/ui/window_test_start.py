"""What every window test does before it touches the accessibility bus: read its command line
and move into a D-Bus session of its own, which the accessibility bus needs.

    SCRIPT CASE --app BIN --sim BIN --image-tool BIN --bell-watch BIN --shots DIR
"""

import argparse
import os
import subprocess
import sys


def parse_args():
    parser = argparse.ArgumentParser()
    parser.add_argument("case")
    parser.add_argument("--app", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--image-tool", required=True)
    parser.add_argument("--bell-watch", required=True)
    parser.add_argument("--shots", required=True)
    args = parser.parse_args()
    for name in ("app", "sim", "image_tool", "bell_watch", "shots"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    return args


def rerun_under_dbus(script):
    """Runs script again under dbus-run-session, unless this already is that run."""
    if os.environ.get("KORVAN_UI_TEST_DBUS") == "1":
        return
    env = dict(os.environ, KORVAN_UI_TEST_DBUS="1")
    command = ["dbus-run-session", "--", sys.executable, os.path.abspath(script), *sys.argv[1:]]
    sys.exit(subprocess.run(command, env=env).returncode)
