"""Runs an end-to-end case file again on a private D-Bus session with its own
accessibility bus (dbus-run-session), with a Python that has the GObject
bindings. Python 3 standard library only."""

import os
import shutil
import subprocess
import sys

BUS_MARK = "TINTRAVA_E2E_A11Y_BUS"


def _has_gi(python):
    return subprocess.run([python, "-c", "import gi"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def on_private_bus(script):
    """Runs the script again inside dbus-run-session, with a Python that has
    the GObject bindings (the system's, where python3-gi lives)."""
    if os.environ.get(BUS_MARK) == "1":
        return
    if not shutil.which("dbus-run-session"):
        print("FAIL: 'dbus-run-session' is missing (Debian: dbus)", file=sys.stderr)
        sys.exit(1)
    python = sys.executable
    if not _has_gi(python):
        python = next((p for p in ("/usr/bin/python3", shutil.which("python3") or "") if p and _has_gi(p)), None)
        if not python:
            print("FAIL: no Python with the GObject bindings (Debian: python3-gi, gir1.2-atspi-2.0)",
                  file=sys.stderr)
            sys.exit(1)
    env = dict(os.environ, **{BUS_MARK: "1", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})
    os.execvpe("dbus-run-session", ["dbus-run-session", "--", python, os.path.abspath(script), *sys.argv[1:]], env)
