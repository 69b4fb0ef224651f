#!/usr/bin/env python3
"""The Windows build of Tintrava under Wine: the window, the player's lamp
trace, the hand-over to a running copy and the installer.

    windows_test.py CASE --program tintrava.exe --lamp libtintrava-virtual-lamp.dll
                    --wine WINE [--setup tintrava-setup-X.exe] [--screenshot PATH]

Each case has a Wine prefix of its own, made for it in a temporary folder.
The virtual lamp is loaded as ftd2xx.dll from beside the program, the way
FTDI's driver is found. Windows are found by caption and driven with xdotool
at the same client coordinates as on Linux (tests/e2e/tintrava_e2e.py); the
lamp's trace is checked with the same functions as there.

The X display is TINTRAVA_E2E_DISPLAY; without it the case starts its own Xvfb.
"""

import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from tintrava_e2e import (CANCEL_BUTTON, MAIN_CAPTION, MAIN_SIZE, MODEL_ITEM_X, MODEL_ITEMS_Y,  # noqa: E402
                          SAVE_BUTTON, START_BUTTON, TEXT_LAMP, Call, Display, Failure, check_text_exchange,
                          click, colour_writes, die_with_parent, discoveries, exchanges, palette, screenshot,
                          set_minutes, stop_playback, wait_for, window_geometry, window_state, writes, xdotool)

# Wine takes its time for a first window of a fresh prefix.
WINE_TIMEOUT = 120.0
HEADER = "\ufeffFarbNr;Bezeichnung;Minuten\r\n"
ORANGE_GRUEN_FILE = HEADER + "5;Orange;0\r\n2;Grün;0\r\n"
ORANGE_GRUEN = ["C:FF7D00", "C:00EC00", "C:000000"]  # table row 3, then off
WINE_MS_SANS_SERIF = "/usr/share/wine/fonts/sserife.fon"  # Debian: fonts-wine


class Wine:
    """A Wine prefix of the case's own and the programs started in it."""

    def __init__(self, args, top):
        self.args = args
        self.top = top
        self.prefix = os.path.join(top, "wineprefix")
        self.env = dict(os.environ)
        for name in ("TINTRAVA_D2XX_LIBRARY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            self.env.pop(name, None)
        self.env.update({
            "WINEPREFIX": self.prefix, "WINEARCH": "win64", "WINEDEBUG": "-all",
            # No Mono or Gecko install prompts in a prefix used only here.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # The case's own folders, as for every start of the program.
            "HOME": self.own_dir("home"),
            "XDG_CONFIG_HOME": self.own_dir("config"),
            "XDG_RUNTIME_DIR": self.own_dir("runtime"),
        })
        self.processes = []

    def own_dir(self, name):
        path = os.path.join(self.top, name)
        os.makedirs(path, mode=0o700, exist_ok=True)
        return path

    def boot(self):
        started = time.monotonic()
        env = dict(self.env)
        env.pop("DISPLAY", None)
        subprocess.run([self.args.wine, "wineboot", "--init"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=600, check=False)
        self.wait_server()
        fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        if not os.path.isdir(fonts):
            raise Failure("wineboot made no Wine prefix")
        # Windows keeps "MS Sans Serif" in Fonts\sserife.fon; Debian's Wine
        # has the same font (fonts-wine) but does not put it into a new prefix.
        shutil.copy2(WINE_MS_SANS_SERIF, fonts)
        print(f"Wine prefix ready in {time.monotonic() - started:.0f} s", flush=True)

    def wait_server(self):
        server = shutil.which("wineserver") or os.path.join(os.path.dirname(self.args.wine), "wineserver")
        subprocess.run([server, "-w"], env=self.env, timeout=600, check=False)

    def stop(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        server = shutil.which("wineserver") or os.path.join(os.path.dirname(self.args.wine), "wineserver")
        subprocess.run([server, "-k"], env=self.env, timeout=60, check=False)

    @staticmethod
    def native(path):
        """A path as the Windows program sees it: Wine maps / to drive Z:."""
        return "Z:" + path.replace("/", "\\")

    def start(self, exe, *args, env=None, **kwargs):
        full = dict(self.env)
        full.update(env or {})
        process = subprocess.Popen([self.args.wine, exe, *args], env=full, preexec_fn=die_with_parent, **kwargs)
        self.processes.append(process)
        return process

    def run(self, exe, *args, timeout=WINE_TIMEOUT, env=None):
        process = self.start(exe, *args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise Failure(f"{os.path.basename(exe)} {' '.join(args)} did not end within {timeout:.0f} s")
        return process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def user_folder(self, *parts):
        """A folder of the Wine user's profile (AppData/Local, ...)."""
        users = [u for u in glob.glob(os.path.join(self.prefix, "drive_c", "users", "*"))
                 if os.path.basename(u) != "Public"]
        if len(users) != 1:
            raise Failure(f"expected one user in the Wine prefix, found {users}")
        return os.path.join(users[0], *parts)

    def registry_key(self, key):
        """Whether the key is in the registry (reg query answers 0)."""
        rc, _, _ = self.run("reg", "query", key)
        return rc == 0


class Program:
    """tintrava.exe under Wine, with the virtual lamp as its ftd2xx.dll."""

    def __init__(self, wine, exe, devices=TEXT_LAMP, conf=None):
        self.wine = wine
        self.exe = exe
        self.folder = os.path.dirname(exe)
        self.conf_path = os.path.join(self.folder, "my.conf")
        self.devices_path = os.path.join(wine.top, "lamps.txt")
        self.trace_path = os.path.join(wine.top, "trace.log")
        shutil.copy2(wine.args.lamp, os.path.join(self.folder, "ftd2xx.dll"))
        if conf is not None:
            with open(self.conf_path, "w", newline="") as f:
                f.write(conf)
        with open(self.devices_path, "w", encoding="latin-1") as f:
            f.write(devices)
        if not os.path.exists(self.trace_path):
            open(self.trace_path, "w").close()
        self.process = None

    def lamp_env(self):
        return {"TINTRAVA_VIRTUAL_LAMP": Wine.native(self.devices_path),
                "TINTRAVA_VIRTUAL_LAMP_LOG": Wine.native(self.trace_path)}

    def start(self, *args):
        self.stderr = open(os.path.join(self.wine.top, "stderr.log"), "ab")
        self.process = self.wine.start(self.exe, *args, env=self.lamp_env(), stdout=self.stderr,
                                       stderr=self.stderr)
        return self

    def running(self):
        return self.process.poll() is None

    def calls(self):
        # One program drives the lamp in a case's prefix; Windows' process
        # ids in the trace are not the ones Linux knows.
        with open(self.trace_path, encoding="latin-1") as f:
            lines = f.read().split("\n")
        return [Call(line) for line in lines[:-1] if line]

    def wait_calls(self, what, predicate, timeout=60.0):
        def check():
            if not self.running():
                raise Failure(f"the program ended (exit status {self.process.returncode}) while waiting for {what}")
            calls = self.calls()
            return calls if predicate(calls) else None
        return wait_for(what, check, timeout)

    def windows(self, caption, size=None):
        out = xdotool("search", "--all", "--onlyvisible", "--name", f"^{re.escape(caption)}$", check=False)
        found = []
        for wid in (int(w) for w in out.split()):
            state = window_state(wid)
            if state is None or state["override_redirect"] or not state["viewable"]:
                continue
            if size is not None and state["size"] != tuple(size):
                continue
            found.append(wid)
        return found

    def window(self, caption, size=None, timeout=WINE_TIMEOUT):
        def find():
            if not self.running():
                raise Failure(f"the program ended (exit status {self.process.returncode}) "
                              f"while waiting for window \"{caption}\"")
            found = self.windows(caption, size=size)
            return found[0] if found else None
        return wait_for(f"window \"{caption}\"" + (f" at {size[0]} x {size[1]}" if size else ""), find, timeout)

    def window_gone(self, caption, wid):
        def gone():
            state = window_state(wid)
            return state is None or not state["viewable"]
        wait_for(f"window \"{caption}\" to close", gone)

    def main_window(self):
        wid = self.window(MAIN_CAPTION, size=MAIN_SIZE)
        self.wait_calls("the first device listing (the discovery timer)", lambda cs: discoveries(cs))
        return wid

    def stop(self):
        if self.process and self.running():
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def copy_program(wine, folder_name="Tintrava"):
    folder = os.path.join(wine.top, folder_name)
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, "tintrava.exe")
    shutil.copy2(wine.args.program, exe)
    return exe


# "Minuten +" (window coordinates of the button, 75 x 25). MS Sans Serif's
# 8 pt bitmaps draw it 46 x 9 pixels, its 10 pt ones 54 x 10; with those
# "Zeile löschen" and "Abfolge starten" do not fit their buttons.
MINUTES_PLUS_BUTTON = (593, 80, 75, 25)
MINUTES_PLUS_8PT_AT_MOST = (48, 9)


def caption_size(image, rect, inset=3):
    """Width and height of what differs from the face of the button at rect
    (x, y, w, h in the image), its frame (inset pixels) left out."""
    x, y, w, h = rect
    grey = subprocess.run(["convert", image, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace", "Gray",
                           "-depth", "8", "gray:-"], capture_output=True, check=True, timeout=60).stdout
    inner = [(c, r) for r in range(inset, h - inset) for c in range(inset, w - inset)]
    face = sorted(grey[r * w + c] for c, r in inner)[len(inner) // 2]
    text = [(c, r) for c, r in inner if abs(grey[r * w + c] - face) > 60]
    if not text:
        raise Failure(f"no caption found in the button at {rect}")
    xs = [c for c, _ in text]
    ys = [r for _, r in text]
    return max(xs) - min(xs) + 1, max(ys) - min(ys) + 1


def choose_model(program, item):
    """Picks the model at item (0..3) in "Hardwareauswahl" and saves it."""
    dialog = program.window("Hardwareauswahl")
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[item]))
    click(dialog, SAVE_BUTTON)
    program.window_gone("Hardwareauswahl", dialog)


def played(program, wid, what, expected):
    """Starts the sequence, waits for the lamp to have heard expected (the
    last being off) and checks each exchange as the Linux tests do."""
    before = len(program.calls())
    click(wid, START_BUTTON)
    calls = program.wait_calls(what, lambda cs: any(c.heard == expected[-1] for c in writes(cs[before:])))
    heard = [c.heard for c in colour_writes(calls[before:])]
    if heard != expected:
        raise Failure(f"{what}: the lamp heard {heard}, expected {expected}")
    return calls[before:]


# ---------------------------------------------------------------------------
# Cases

def case_window_starts(wine, args):
    """--help and --version answer on standard output; without my.conf the
    hardware dialog comes up, "speichern" writes the choice with Windows'
    line end beside the program, and the main window opens at its size."""
    exe = copy_program(wine)
    rc, out, err = wine.run(exe, "--version")
    if rc != 0 or out.replace("\r\n", "\n") != "Tintrava 1.50\n":
        raise Failure(f"--version: status {rc}, output {out!r}, errors {err!r}")
    # Into a pipe in UTF-8, as on Linux.
    rc, out, err = wine.run(exe, "--help")
    if rc != 0 or not out.startswith("Aufruf: tintrava [Optionen] [DATEI]") or "geöffnet" not in out:
        raise Failure(f"--help: status {rc}, output {out!r}, errors {err!r}")
    rc, out, err = wine.run(exe, "--falsch")
    if rc != 2 or "unbekannte Option \u201e--falsch\u201c" not in err:
        raise Failure(f"--falsch: status {rc}, output {out!r}, errors {err!r}")

    program = Program(wine, exe).start()
    choose_model(program, 2)
    with open(program.conf_path, "rb") as f:
        content = f.read()
    if content != b"3\r\n":
        raise Failure(f"my.conf holds {content!r}, expected b'3\\r\\n'")
    wid = program.main_window()
    x, y, w, h = window_geometry(wid)
    if (w, h) != MAIN_SIZE:
        raise Failure(f"the main window is {w} x {h}, expected {MAIN_SIZE}")
    idle = os.path.join(wine.top, "idle.png")
    screenshot(idle, (x, y, w, h))
    width, height = caption_size(idle, MINUTES_PLUS_BUTTON)
    print(f"\"Minuten +\" is drawn {width} x {height} pixels")
    if width > MINUTES_PLUS_8PT_AT_MOST[0] or height > MINUTES_PLUS_8PT_AT_MOST[1]:
        raise Failure(f"\"Minuten +\" is larger than MS Sans Serif 8 pt draws it "
                      f"({MINUTES_PLUS_8PT_AT_MOST[0]} x {MINUTES_PLUS_8PT_AT_MOST[1]} at most; screen: {idle})")

    # The screenshot shows the window playing, as on Linux
    # (docs/screenshot-window.png).
    for name in ("Orange", "Türkis", "Violett"):
        click(wid, palette(name))
    set_minutes(program, wid, 2, 5)
    set_minutes(program, wid, 3, 10)
    click(wid, START_BUTTON)
    program.wait_calls("three colour commands", lambda cs: len(colour_writes(cs)) >= 3)
    x, y, w, h = window_geometry(wid)
    shot = os.path.join(wine.top, "window.png")
    screenshot(shot, (x, y, w, h))
    if os.environ.get("TINTRAVA_UPDATE_SCREENSHOT") == "1" and args.screenshot:
        shutil.copyfile(shot, args.screenshot)
        print(f"screenshot written to {args.screenshot}")
    program.stop()


def case_plays_two_steps(wine, args):
    """Two steps of 0 minutes: the lamp (ftd2xx.dll beside the program) is
    probed with VER, hears Orange and Grün of table row 3 one tick each,
    then off; every exchange is the Linux one."""
    program = Program(wine, copy_program(wine), conf="3\r\n").start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, palette("Grün"))
    for row in (1, 2):
        set_minutes(program, wid, row, 0)
    played(program, wid, "two steps and the lamp off", ORANGE_GRUEN)
    commands = ["VER", "CFF7D00", "C00EC00", "C000000"]
    # The off command's reply is read and the device closed after it was heard.
    calls = program.wait_calls("the exchange of the off command to end",
                               lambda cs: len([ex for ex in exchanges(cs) if ex[-1].call == "FT_Close"])
                               >= len(commands))
    complete = [ex for ex in exchanges(calls) if ex[-1].call == "FT_Close"]
    for ex, command in zip(complete, commands):
        check_text_exchange(ex, command)
    if any(ex[0].serial != "VL000001" for ex in complete):
        raise Failure("an exchange went to another device than the lamp VL000001")


def case_cancel_switches_off(wine, args):
    """"Abbrechen" while a one-minute step plays switches the lamp off and
    the player sends nothing more."""
    program = Program(wine, copy_program(wine), conf="3\r\n").start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    program.wait_calls("two Orange commands", lambda cs: sum(c.heard == "C:FF7D00" for c in writes(cs)) >= 2)
    stop_playback(program, wid, "C:000000")


def case_hand_over(wine, args, name="Abfolge Grün.tintrava"):
    """A second start with a file hands it to the running copy and ends;
    the running copy opens it: its steps play."""
    exe = copy_program(wine)
    first = Program(wine, exe, conf="3\r\n").start()
    wid = first.main_window()
    path = os.path.join(wine.top, name)
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(ORANGE_GRUEN_FILE)
    rc, out, err = wine.run(exe, Wine.native(path), env=first.lamp_env())
    if rc != 0:
        raise Failure(f"the second start ended with status {rc}: {err}")
    if not first.running():
        raise Failure("the running copy ended")
    # The running copy has surely taken the message once its event loop has
    # listed the devices twice more.
    before = len(first.calls())
    first.wait_calls("two more device listings", lambda cs: len(discoveries(cs[before:])) >= 2)
    played(first, wid, "the steps of the handed file", ORANGE_GRUEN)


def case_hand_over_unicode(wine, args):
    """The same with a name outside Windows' ANSI code page."""
    case_hand_over(wine, args, name="Abfolge Ω Grün.tintrava")


def case_installer(wine, args):
    """The installer installs silently for this user without administrator
    rights: programs, Start-menu entry, .tintrava opened by Tintrava,
    uninstaller in the user's list. The installed copy keeps my.conf in
    %LOCALAPPDATA%\\tintrava. The uninstaller removes it all silently; only
    the user's settings stay."""
    if not args.setup:
        raise Failure("no --setup given")
    setup = os.path.join(wine.top, os.path.basename(args.setup))
    shutil.copy2(args.setup, setup)
    rc, _, err = wine.run(setup, "/S", timeout=300)
    if rc != 0:
        raise Failure(f"the installer ended with status {rc}: {err}")
    wine.wait_server()

    local = wine.user_folder("AppData", "Local")
    install = os.path.join(local, "Programs", "Tintrava")
    start_menu = wine.user_folder("AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", "Tintrava.lnk")
    expected = [os.path.join(install, *p) for p in (("bin", "tintrava.exe"), ("bin", "tintrava-play.exe"),
                                                    ("share", "tintrava", "installed"), ("Uninstall.exe",))]
    expected.append(start_menu)
    missing = [p for p in expected if not os.path.isfile(p)]
    if missing:
        raise Failure(f"not installed: {missing}")
    keys = ["HKCU\\Software\\Classes\\.tintrava", "HKCU\\Software\\Classes\\Tintrava.Abfolge\\shell\\open\\command",
            "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tintrava"]
    absent = [k for k in keys if not wine.registry_key(k)]
    if absent:
        raise Failure(f"registry keys missing: {absent}")
    rc, out, _ = wine.run("reg", "query", "HKCU\\Software\\Classes\\Tintrava.Abfolge\\shell\\open\\command", "/ve")
    if "tintrava.exe" not in out or "%1" not in out:
        raise Failure(f"the open command of .tintrava files: {out!r}")

    # The installed program asks for the model and keeps it in the user's folder.
    installed = Program(wine, os.path.join(install, "bin", "tintrava.exe")).start()
    choose_model(installed, 0)
    installed.main_window()
    installed.stop()
    wine.wait_server()
    os.remove(os.path.join(install, "bin", "ftd2xx.dll"))  # the test's, not the installer's
    user_conf = os.path.join(local, "tintrava", "my.conf")
    if not os.path.isfile(user_conf):
        raise Failure(f"the installed program did not write {user_conf}")
    if os.path.exists(installed.conf_path):
        raise Failure("the installed program wrote my.conf beside itself")

    rc, _, err = wine.run(os.path.join(install, "Uninstall.exe"), "/S", timeout=300)
    if rc != 0:
        raise Failure(f"the uninstaller ended with status {rc}: {err}")
    # The uninstaller runs on from a copy of itself in the temporary folder.
    wait_for("the uninstaller to finish", lambda: not os.path.exists(install), timeout=WINE_TIMEOUT)
    wine.wait_server()
    left = [p for p in expected if os.path.exists(p)]
    if left:
        raise Failure(f"left behind: {left}")
    still = [k for k in keys if wine.registry_key(k)]
    if still:
        raise Failure(f"registry keys left behind: {still}")
    if not os.path.isfile(user_conf):
        raise Failure("the uninstaller removed the user's settings")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--program", required=True)
    parser.add_argument("--lamp", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--setup", default="")
    parser.add_argument("--screenshot", default="")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="tintrava-wine-") as top:
        wine = Wine(args, top)
        try:
            with Display():
                wine.env["DISPLAY"] = os.environ["DISPLAY"]
                wine.boot()
                CASES[args.case](wine, args)
        except Failure as failure:
            print(f"FAIL: {failure}", file=sys.stderr)
            try:
                shot = os.path.abspath(f"windows-{args.case}-failure.png")
                screenshot(shot)
                print(f"screen at the failure: {shot}", file=sys.stderr)
                log = os.path.join(top, "stderr.log")
                if os.path.exists(log):
                    print(open(log, errors="replace").read(), file=sys.stderr)
            except Exception as e:  # the report must not hide the failure itself
                print(f"(no screenshot: {e})", file=sys.stderr)
            return 1
        finally:
            wine.stop()
    print(f"PASS: {args.case} ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
