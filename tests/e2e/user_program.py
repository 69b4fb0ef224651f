"""The program as a normal user on a desktop runs it, for the end-to-end
cases: from a folder it may not write to, with its own config folder.

A test running as root (CI) starts the program as user nobody, since root may
write anywhere and the folder's permissions would not count. Everything that
user needs (the program, the virtual lamp, the trace) sits in the case's
folder, readable by everyone; so do the program's own home and runtime
folders.
"""

import os
import sys
import time
import shutil
import subprocess

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

from other_user import NOBODY, reachable_by_others, running_as_root  # noqa: E402,F401
from tintrava_e2e import Failure, Program, TEXT_LAMP, Trace, die_with_parent  # noqa: E402


def user_folder(path, owned=False, mode=0o755):
    """A folder the program's user may enter and read; with owned=True also
    one it may write to (its own)."""
    os.makedirs(path, exist_ok=True)
    os.chmod(path, mode)
    if owned and running_as_root():
        os.chown(path, NOBODY, NOBODY)


def shared_case_folder(case, name):
    """A folder in the case's temporary folder that the program's user can reach."""
    os.chmod(case.tmp, 0o755)
    path = os.path.join(case.tmp, name)
    user_folder(path)
    return path


class UserProgram(Program):
    """`executable` run with XDG_CONFIG_HOME=config_home and the virtual lamp;
    as nobody when the test runs as root. my.conf beside the program is
    conf_path; my.conf in the config folder is user_conf_path. Its home and
    runtime folder are its own, in folder: no other copy of Tintrava (the
    user's, another test's) shares its lock."""

    def __init__(self, case, folder, executable, config_home, devices=TEXT_LAMP):
        if running_as_root():
            for path in (folder, executable, config_home):
                if not reachable_by_others(path, uid=NOBODY):
                    raise Failure(f"user {NOBODY} cannot reach {path}: "
                                  "run the program from a folder every user may enter")
        self.case = case
        self.folder = folder
        self.executable = executable
        self.config_home = config_home
        self.conf_path = os.path.join(os.path.dirname(executable), "my.conf")
        self.user_conf_path = os.path.join(config_home, "tintrava", "my.conf")
        self.devices_path = os.path.join(folder, "lamps.txt")
        self.trace = Trace(os.path.join(folder, "trace.log"))
        self.stderr_path = os.path.join(folder, "stderr.log")
        self.process = None
        self.home = os.path.join(folder, "user-home")
        user_folder(self.home, owned=True)
        self.runtime = os.path.join(folder, "user-runtime")
        user_folder(self.runtime, owned=True, mode=0o700)
        self.lamp = os.path.join(folder, os.path.basename(case.args.lamp))
        if not os.path.exists(self.lamp):
            shutil.copy2(case.args.lamp, self.lamp)
        self.set_devices(devices)
        for path in (self.trace.path, self.stderr_path):
            if not os.path.exists(path):
                open(path, "w").close()
            os.chmod(path, 0o666)

    def private_folders(self):
        """The home, config and runtime folders the program gets as its own."""
        return {"HOME": self.home, "XDG_CONFIG_HOME": self.config_home, "XDG_RUNTIME_DIR": self.runtime}

    def start(self):
        env = dict(os.environ)
        env.pop("XAUTHORITY", None)
        env.update(self.private_folders())
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "TINTRAVA_D2XX_LIBRARY": self.lamp,
            "TINTRAVA_VIRTUAL_LAMP": self.devices_path,
            "TINTRAVA_VIRTUAL_LAMP_LOG": self.trace.path,
        })
        command = [self.executable]
        if running_as_root():
            if not shutil.which("setpriv"):
                raise Failure("setpriv is missing (Debian: util-linux)")
            command = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups", *command]
        with open(self.stderr_path, "ab") as err:
            self.process = subprocess.Popen(command, cwd=self.folder, env=env, stdout=err, stderr=err,
                                            preexec_fn=die_with_parent)
        self.case.processes.append(self.process)
        self.case.programs.append(self)
        return self


def window_icon(wid):
    """The window's _NET_WM_ICON as numbers (for each size its width, height
    and pixels), or [] while it has none."""
    result = subprocess.run(["xprop", "-id", str(wid), "-notype", "-f", "_NET_WM_ICON", "32c", " = $0+\n",
                             "_NET_WM_ICON"], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        raise Failure(f"xprop failed: {result.stderr.strip()} (Debian: x11-utils)")
    if "=" not in result.stdout or "not found" in result.stdout:
        return []
    return [int(value) for value in result.stdout.split("=", 1)[1].split(",")]


def icon_sizes(values):
    """The sizes an icon property holds; a property whose sizes do not add up
    to its length is a failure."""
    sizes, at = [], 0
    while at + 2 <= len(values):
        width, height = values[at], values[at + 1]
        sizes.append((width, height))
        at += 2 + width * height
    if at != len(values):
        raise Failure(f"_NET_WM_ICON of {len(values)} numbers does not hold whole images ({sizes})")
    return sizes


def window_class(wid):
    """The window's WM_CLASS: [instance, class]."""
    result = subprocess.run(["xprop", "-id", str(wid), "-notype", "WM_CLASS"],
                            capture_output=True, text=True, timeout=30)
    if result.returncode != 0 or "=" not in result.stdout:
        raise Failure(f"no WM_CLASS on window {wid}: {result.stdout.strip()} {result.stderr.strip()}")
    return [part.strip().strip('"') for part in result.stdout.split("=", 1)[1].split(",")]


def check_window_icon(wid, caption):
    """Waits for the window's icon for the task bar and checks that it holds
    the program's two sizes; returns its numbers."""
    # The main window gets its icon just after its first paint, so the icon
    # may follow the window by a moment.
    deadline = time.monotonic() + 10.0
    while not (values := window_icon(wid)):
        if time.monotonic() > deadline:
            raise Failure(f"window \"{caption}\" has no icon")
        time.sleep(0.1)
    sizes = icon_sizes(values)
    if sizes != [(48, 48), (128, 128)]:
        raise Failure(f"window \"{caption}\" has an icon of sizes {sizes}, not 48 and 128")
    return values
