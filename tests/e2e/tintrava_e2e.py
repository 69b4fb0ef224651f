#!/usr/bin/env python3
"""End-to-end tests of the real Tintrava program under X.

Each case copies the program into a fresh folder (my.conf lives beside it),
starts it with the virtual lamp as its D2XX driver, drives its windows with
xdotool at their fixed client coordinates and reads the virtual lamp's call
trace to see what reached the lamp.

    tintrava_e2e.py CASE --program PATH --lamp PATH [--viewer PATH] [--screenshot PATH]

The X display is TINTRAVA_E2E_DISPLAY; without it the case starts its own Xvfb.
There is no window manager: windows sit where the program puts them, have no
frames, and keyboard focus is given to them explicitly.

Python 3 standard library only.
"""

import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

from other_user import reachable_temp_base  # noqa: E402

# Generous limits: a loaded machine must not fail a case, only slow it down.
WINDOW_TIMEOUT = 20.0
LAMP_TIMEOUT = 30.0
POLL = 0.1

MAIN_CAPTION = "Tintrava V.1.50"
MAIN_SIZE = (702, 480)  # the main window's fixed size

# Main window, client coordinates: centre of each palette entry (left 16, 209 x 25).
PALETTE_TOPS = {
    "Weiß": 16, "Rosa": 48, "Magenta": 80, "Violett": 112, "Indigo": 144, "Blau": 176,
    "Türkis": 208, "Grün": 240, "Gelb": 272, "Orange": 304, "Rot": 336, "Wellenlängen-Angabe": 368,
}
START_BUTTON = (561 + 24 + 83 // 2, 192 + 25 // 2)   # "Abfolge starten" in the right-hand panel
CANCEL_BUTTON = (438 + 75 // 2, 368 + 25 // 2)      # "Abbrechen" on the playback overlay
GRID_LEFT, GRID_TOP, GRID_ROW_HEIGHT = 248, 40, 24  # StringGrid1; row 0 is the header

# Hardware dialog, client coordinates: the four models inside RadioGroup1
# (8, 40, 313 x 345), laid out evenly below its caption, and the two buttons.
MODEL_ITEMS_Y = [95, 176, 257, 338]
MODEL_ITEM_X = 80
SAVE_BUTTON = (240 + 75 // 2, 400 + 25 // 2)
DECLINE_BUTTON = (16 + 75 // 2, 400 + 25 // 2)

TEXT_LAMP = "Sela-Lumen|VL000001|text\n"
BYTE_LAMP = "VC0123456789V012345678|VB000002|byte\n"


class Failure(Exception):
    pass


def wait_for(what, predicate, timeout=WINDOW_TIMEOUT):
    """Polls predicate until it gives something true and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(POLL)


def die_with_parent():
    # Children must not outlive a test that is killed (a CTest time-out).
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def hex_of(text):
    return text.encode("latin-1").hex().upper()


def text_command(text):
    return hex_of(text + "\r\n")


# ---------------------------------------------------------------------------
# X display and xdotool

class Display:
    """TINTRAVA_E2E_DISPLAY, or a private Xvfb that ends with the case."""

    def __init__(self):
        self.name = os.environ.get("TINTRAVA_E2E_DISPLAY", "")
        self.xvfb = None
        self.holder = None

    def __enter__(self):
        for tool in ("xdotool", "import"):
            if not shutil.which(tool):
                raise Failure(f"'{tool}' is missing (Debian: xdotool, imagemagick)")
        if not self.name:
            if not shutil.which("Xvfb"):
                raise Failure("TINTRAVA_E2E_DISPLAY is not set and Xvfb is missing (Debian: xvfb)")
            read_end, write_end = os.pipe()
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=die_with_parent)
            os.close(write_end)
            number = b""
            with os.fdopen(read_end, "rb") as pipe:
                while not number.endswith(b"\n"):
                    chunk = pipe.read(1)
                    if not chunk:
                        break
                    number += chunk
            if not number.strip().isdigit():
                raise Failure("Xvfb did not start")
            self.name = ":" + number.strip().decode()
        os.environ["DISPLAY"] = self.name
        # An X server resets when its last client leaves, and refuses
        # connections for a moment while it does (between two tests, say).
        # One client that stays connected for the whole case rules that out.
        def connected():
            if self.holder is None or self.holder.poll() is not None:
                self.holder = subprocess.Popen(["xdotool", "sleep", "86400"], stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
                return None
            result = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, text=True, timeout=15)
            return result.stdout.strip() if result.returncode == 0 and self.holder.poll() is None else None
        size = wait_for(f"a connection to X display {self.name}", connected)
        print(f"X display {self.name} ({size})")
        return self

    def __exit__(self, *exc):
        if self.holder and self.holder.poll() is None:
            self.holder.kill()
            self.holder.wait()
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()


def xdotool(*args, check=True):
    result = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, timeout=30)
    if check and result.returncode != 0:
        raise Failure(f"xdotool {' '.join(map(str, args))} failed: {result.stderr.strip()}")
    return result.stdout


def window_state(wid):
    """What X knows of a window: whether it is mapped and viewable, whether
    it is override-redirect (a pop-up menu or tool tip, never a window or
    box of its own) and its size. None once the window is gone."""
    result = subprocess.run(["xwininfo", "-id", str(wid)], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        if not shutil.which("xwininfo"):
            raise Failure("'xwininfo' is missing (Debian: x11-utils)")
        return None
    fields = dict(line.strip().split(": ", 1) for line in result.stdout.splitlines() if ": " in line)
    return {
        "viewable": fields.get("Map State") == "IsViewable",
        "override_redirect": fields.get("Override Redirect State") == "yes",
        "size": (int(fields.get("Width", 0)), int(fields.get("Height", 0))),
    }


def window_geometry(wid):
    values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", wid).split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screenshot(path, area=None):
    args = ["import", "-window", "root"]
    if area:
        x, y, w, h = area
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    result = subprocess.run(args + [path], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise Failure(f"screenshot failed: {result.stderr.strip()}")


# ---------------------------------------------------------------------------
# The virtual lamp's trace

class Call:
    """One trace line: a driver call as the virtual lamp saw it."""

    def __init__(self, line):
        fields = dict(field.split("=", 1) for field in line.split("\t"))
        self.t = float(fields["t"])
        self.pid = int(fields["pid"])
        self.call = fields["call"]
        self.serial = fields["serial"]
        self.status = fields["status"]
        self.args = dict(re.findall(r"(\w+)=(\S*)", fields["args"]))
        self.result = dict(re.findall(r"(\w+)=(\S*)", fields["result"]))
        self.data = fields["data"]
        self.heard = fields["heard"]
        self.colour = fields["colour"]
        self.line = line

    def __repr__(self):
        return self.line


class Trace:
    def __init__(self, path):
        self.path = path

    def calls(self, pid):
        with open(self.path, encoding="latin-1") as f:
            lines = f.read().split("\n")
        # The last line may still be on its way; only whole lines count.
        return [c for c in (Call(line) for line in lines[:-1] if line) if c.pid == pid]


def writes(calls):
    return [c for c in calls if c.call == "FT_Write"]


def colour_writes(calls):
    """Writes that the lamp took as a colour, in order: 'C:RRGGBB' or 'colour:N'."""
    return [c for c in writes(calls) if c.heard.startswith(("C:", "colour:"))]


def discoveries(calls):
    return [c for c in calls if c.call == "FT_ListDevices" and c.args.get("flags") == "NUMBER_ONLY"]


def exchanges(calls):
    """Splits the calls into open ... close exchanges. Checks that no call
    on a device happens outside one and that none overlap. An exchange still
    running when the trace was read comes last without its close."""
    result = []
    current = None
    for c in calls:
        if c.call == "FT_ListDevices":
            if current is not None:
                raise Failure(f"device listed while a device is open:\n{c}")
            continue
        if c.call == "FT_OpenEx":
            if current is not None:
                raise Failure(f"device opened again before it was closed:\n{c}")
            if c.status != "FT_OK":
                continue
            current = [c]
            continue
        if current is None:
            raise Failure(f"call without an open device:\n{c}")
        current.append(c)
        if c.call == "FT_Close":
            if c.status != "FT_OK":
                raise Failure(f"close failed:\n{c}")
            result.append(current)
            current = None
    if current is not None:
        result.append(current)
    return result


def check_text_exchange(ex, command):
    """open, 115200 baud, time-outs 100/100, 8N2, write command + CR LF,
    then at least 200 ms later queue status and read of 20, then close."""
    names = [c.call for c in ex]
    expected = ["FT_OpenEx", "FT_SetBaudRate", "FT_SetTimeouts", "FT_SetDataCharacteristics", "FT_Write",
                "FT_GetQueueStatus", "FT_Read", "FT_Close"]
    if names != expected:
        raise Failure(f"text exchange for {command!r} made the calls {names}, expected {expected}")
    opened, baud, timeouts, line, write, _queue, read, _close = ex
    if opened.args != {"key": opened.serial, "flags": "SERIAL"}:
        raise Failure(f"device not opened by its serial: {opened}")
    if baud.args.get("baud") != "115200":
        raise Failure(f"text exchange at the wrong baud rate: {baud}")
    if (timeouts.args.get("read"), timeouts.args.get("write")) != ("100", "100"):
        raise Failure(f"wrong time-outs: {timeouts}")
    if (line.args.get("bits"), line.args.get("stop"), line.args.get("parity")) != ("8", "2", "0"):
        raise Failure(f"wrong data characteristics: {line}")
    if write.data != text_command(command):
        raise Failure(f"wrote {write.data}, expected {command!r} + CR LF ({text_command(command)}):\n{write}")
    if read.args.get("want") != "20":
        raise Failure(f"reply read with the wrong size: {read}")
    gap = read.t - write.t
    if gap < 200.0:
        raise Failure(f"reply read only {gap:.1f} ms after the command (at least 200 ms expected):\n{write}\n{read}")
    return gap


def check_byte_exchange(ex, frame):
    """open, 9600 baud, 8N2, write the two frame bytes, close; no time-outs, no read."""
    names = [c.call for c in ex]
    expected = ["FT_OpenEx", "FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_Write", "FT_Close"]
    if names != expected:
        raise Failure(f"byte exchange for {frame} made the calls {names}, expected {expected}")
    _opened, baud, line, write, _close = ex
    if baud.args.get("baud") != "9600":
        raise Failure(f"byte frame at the wrong baud rate: {baud}")
    if (line.args.get("bits"), line.args.get("stop"), line.args.get("parity")) != ("8", "2", "0"):
        raise Failure(f"wrong data characteristics: {line}")
    if write.data != frame or write.args.get("line") != "9600/8/2/0":
        raise Failure(f"wrote {write.data} at {write.args.get('line')}, expected {frame} at 9600/8/2/0:\n{write}")


def check_intervals(what, ws):
    """Consecutive sends of the player come one per tick, a second apart on
    average. A late tick is followed by an early one, so only the average is
    checked, within wide bounds: they catch several sends per tick or a timer
    far off its second, never a slow machine."""
    gaps = [b.t - a.t for a, b in zip(ws, ws[1:])]
    average = (ws[-1].t - ws[0].t) / len(gaps)
    print(f"{what}: intervals between sends (ms): {', '.join(f'{g:.0f}' for g in gaps)}; average {average:.0f}")
    if not 600.0 <= average <= 5000.0:
        raise Failure(f"{what}: sends are not about a second apart: {gaps}")


# ---------------------------------------------------------------------------
# The program

class Program:
    """A copy of the program in its own folder, with its device file and trace."""

    def __init__(self, case, folder, conf, devices):
        self.case = case
        self.folder = folder
        self.executable = os.path.join(folder, "tintrava")
        self.conf_path = os.path.join(folder, "my.conf")
        self.devices_path = os.path.join(folder, "lamps.txt")
        self.trace = Trace(os.path.join(folder, "trace.log"))
        self.process = None
        self.stderr_path = os.path.join(folder, "stderr.log")
        shutil.copy2(case.args.program, self.executable)
        if conf is not None:
            with open(self.conf_path, "w") as f:
                f.write(conf)
        self.set_devices(devices)
        open(self.trace.path, "w").close()

    def set_devices(self, content):
        # Written whole and renamed over the old file: the lamp never sees half of it.
        with open(self.devices_path + ".new", "w", encoding="latin-1") as f:
            f.write(content)
        os.replace(self.devices_path + ".new", self.devices_path)

    def start(self, *args, env=None):
        """Starts the program with args; env entries are added to (or, set
        to None, removed from) its environment."""
        full_env = dict(os.environ)
        full_env.update({
            "QT_QPA_PLATFORM": "xcb",
            "TINTRAVA_D2XX_LIBRARY": self.case.args.lamp,
            "TINTRAVA_VIRTUAL_LAMP": self.devices_path,
            "TINTRAVA_VIRTUAL_LAMP_LOG": self.trace.path,
            # The program runs once per user and keeps its lock there; each
            # case has its own, so cases, other runs and the user's own copy
            # never see each other. So with home and config folders.
            "XDG_RUNTIME_DIR": self.case.runtime_dir(),
            "HOME": self.case.own_dir("home"),
            "XDG_CONFIG_HOME": self.case.own_dir("config"),
        })
        for name, value in (env or {}).items():
            if value is None:
                full_env.pop(name, None)
            else:
                full_env[name] = value
        with open(self.stderr_path, "ab") as err:
            self.process = subprocess.Popen([self.executable, *args], cwd=self.folder, env=full_env, stdout=err,
                                            stderr=err, preexec_fn=die_with_parent)
        self.case.processes.append(self.process)
        return self

    @property
    def pid(self):
        return self.process.pid

    def calls(self):
        return self.trace.calls(self.pid)

    def running(self):
        return self.process.poll() is None

    def windows(self, caption, visible=True, size=None):
        """The program's own windows (of its process) with caption: mapped
        ones only unless visible=False; of the given size when there is one.
        Pop-up menus and tool tips carry the application's title as their
        caption too; they are no window of their own and never count."""
        args = ["search", "--all", "--pid", self.pid]
        if visible:
            args.append("--onlyvisible")
        out = xdotool(*args, "--name", f"^{re.escape(caption)}$", check=False)
        found = []
        for wid in (int(w) for w in out.split()):
            state = window_state(wid)
            if state is None or state["override_redirect"]:
                continue
            if visible and not state["viewable"]:
                continue
            if size is not None and state["size"] != tuple(size):
                continue
            found.append(wid)
        return found

    def window(self, caption, size=None):
        def find():
            if not self.running():
                raise Failure(f"the program ended (exit status {self.process.returncode}) "
                              f"while waiting for window \"{caption}\"")
            found = self.windows(caption, size=size)
            return found[0] if found else None
        what = f"window \"{caption}\" of the program" + (f" at {size[0]} x {size[1]}" if size else "")
        return wait_for(what, find)

    def window_gone(self, caption, wid=None):
        """Waits until window wid (when known; else every window with that
        caption) is no longer mapped."""
        if wid is None:
            wait_for(f"window \"{caption}\" to close", lambda: not self.windows(caption))
            return

        def gone():
            state = window_state(wid)
            return state is None or not state["viewable"]
        wait_for(f"window \"{caption}\" ({wid}) to close", gone)

    def main_window(self):
        """The main window, mapped at its size, once the program's event
        loop runs: the discovery timer has listed the devices at least once."""
        wid = self.window(MAIN_CAPTION, size=MAIN_SIZE)
        wait_for("the first device listing (the discovery timer)", lambda: discoveries(self.calls()))
        return wid

    def wait_calls(self, what, predicate, timeout=LAMP_TIMEOUT):
        def check():
            if not self.running():
                raise Failure(f"the program ended (exit status {self.process.returncode}) while waiting for {what}")
            calls = self.calls()
            return calls if predicate(calls) else None
        return wait_for(what, check, timeout)

    def stop(self):
        if self.process and self.running():
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


_last_click = {"wid": None, "point": (0, 0), "at": 0.0}


def click(wid, point, repeat=1):
    x, y = point
    # Two clicks on one spot within the double-click time are a double-click,
    # and a palette entry takes a double-click as one click. A user clicking
    # an entry twice in a row moves the pointer a little; so do we.
    last = _last_click
    if (repeat == 1 and last["wid"] == wid and time.monotonic() - last["at"] < 2.0
            and abs(last["point"][0] - x) < 20 and abs(last["point"][1] - y) < 20):
        x += -30 if last["point"][0] >= x else 30
    last.update(wid=wid, point=(x, y), at=time.monotonic())
    args = ["mousemove", "--window", wid, x, y, "click"]
    if repeat > 1:
        args += ["--repeat", repeat, "--delay", 80]
    xdotool(*args, 1)


def focus(wid):
    """Gives the keyboard to a window; without a window manager nobody else does."""
    xdotool("windowfocus", wid)
    wait_for(f"keyboard focus on window {wid}", lambda: xdotool("getwindowfocus").strip() == str(wid), 10)


def answer_box(program, caption, text):
    """Types text into the program's input box and confirms it with Return."""
    box = program.window(caption)
    focus(box)
    if text:
        xdotool("type", "--delay", 40, text)
    xdotool("key", "Return")
    program.window_gone(caption, box)


def palette(name):
    return 16 + 209 // 2, PALETTE_TOPS[name] + 25 // 2


def grid_row(row):
    return GRID_LEFT + 100, GRID_TOP + GRID_ROW_HEIGHT // 2 + GRID_ROW_HEIGHT * row


def set_minutes(program, wid, row, minutes):
    """Double-click on the row opens "Zeit ändern" for it."""
    click(wid, grid_row(row), repeat=2)
    answer_box(program, "Zeit ändern", str(minutes))


def add_wavelength(program, wid, nm):
    click(wid, palette("Wellenlängen-Angabe"))
    answer_box(program, "Wellenlänge", str(nm))


# ---------------------------------------------------------------------------
# Cases

class Case:
    def __init__(self, args):
        self.args = args
        self.processes = []
        self.programs = []
        self.tmp = None

    def runtime_dir(self):
        """The case's XDG_RUNTIME_DIR, private to this user as the real one is."""
        return self.own_dir("runtime")

    def own_dir(self, name):
        """A folder of the case's own for the programs it starts (mode 0700)."""
        path = os.path.join(self.tmp, name)
        os.makedirs(path, mode=0o700, exist_ok=True)
        return path

    def program(self, conf="3\n", devices=TEXT_LAMP, folder=None):
        if folder is None:
            folder = tempfile.mkdtemp(dir=self.tmp)
        p = Program(self, folder, conf, devices)
        self.programs.append(p)
        return p

    def stop_all(self):
        for p in self.programs:
            p.stop()
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()


def stop_playback(program, wid, off_colour):
    """Clicks "Abbrechen" and checks that the lamp is switched off and the
    player sends nothing more: the discovery timer lists the devices again
    twice without any colour in between."""
    before = len(program.calls())
    clicked = time.monotonic() * 1000.0
    click(wid, CANCEL_BUTTON)
    calls = program.wait_calls(f"the lamp being switched off ({off_colour})",
                               lambda cs: any(c.heard == off_colour for c in colour_writes(cs[before:])))
    after_click = colour_writes(calls[before:])
    off_index = next(i for i, c in enumerate(after_click) if c.heard == off_colour)
    off = after_click[off_index]
    print(f"'Abbrechen': lamp off {off.t - clicked:.0f} ms after the click")
    # A tick already due when the click came may still send its colour (two
    # on a machine so slow that a tick takes a second).
    if off_index > 2:
        raise Failure(f"the player went on sending after 'Abbrechen': {[c.heard for c in after_click]}")
    off_at = calls.index(off)
    calls = program.wait_calls("the discovery timer to run again after the stop",
                               lambda cs: len(discoveries(cs[off_at:])) >= 2)
    later = colour_writes(calls[off_at + 1:])
    if later:
        raise Failure(f"colours sent after the lamp was switched off: {[c.heard for c in later]}")


def case_text_lamp(case):
    """A text lamp: probed with VER, then the Orange of table row 3 every
    second, each exchange closed again; "Abbrechen" switches it off."""
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    calls = program.wait_calls("four Orange colour commands",
                               lambda cs: sum(c.heard == "C:FF7D00" for c in writes(cs)) >= 4)

    exs = exchanges(calls)
    complete = [ex for ex in exs if ex[-1].call == "FT_Close"]
    commands = ["VER"] + ["CFF7D00"] * (len(complete) - 1)
    gaps = [check_text_exchange(ex, cmd) for ex, cmd in zip(complete, commands)]
    print(f"text exchanges: {len(complete)}, command to reply read (ms): {', '.join(f'{g:.0f}' for g in gaps)}")
    probe_reply = next(c for c in complete[0] if c.call == "FT_Read")
    if probe_reply.result.get("got") in (None, "0"):
        raise Failure(f"the text lamp's answer to VER did not arrive: {probe_reply}")
    if any(ex[0].serial != "VL000001" for ex in exs):
        raise Failure("an exchange went to another device than the lamp VL000001")
    check_intervals("Orange", [c for c in writes(calls) if c.heard == "C:FF7D00"])

    stop_playback(program, wid, "C:000000")
    final = [ex for ex in exchanges(program.calls()) if ex[-1].call == "FT_Close"]
    check_text_exchange(next(ex for ex in final if any(c.heard == "C:000000" for c in ex)), "C000000")


def case_byte_lamp(case):
    """A lamp that does not answer VER gets two-byte frames at 9600 baud 8N2:
    FF 45 for Orange every second, FF 4B to switch it off."""
    program = case.program(conf="3\n", devices=BYTE_LAMP).start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    calls = program.wait_calls("three Orange byte frames",
                               lambda cs: sum(c.data == "FF45" for c in writes(cs)) >= 3)

    complete = [ex for ex in exchanges(calls) if ex[-1].call == "FT_Close"]
    check_text_exchange(complete[0], "VER")
    probe_reply = complete[0][6]
    if probe_reply.result.get("got") != "0":
        raise Failure(f"a byte lamp answered VER: {probe_reply}")
    for ex in complete[1:]:
        check_byte_exchange(ex, "FF45")
    frames = [c for c in writes(calls) if c.data == "FF45"]
    if any(c.heard != "colour:5" or c.colour != "5" for c in frames):
        raise Failure(f"the byte lamp did not take the frames as Orange: {frames}")
    check_intervals("Orange frames", frames)

    stop_playback(program, wid, "colour:11")
    off = next(c for c in writes(program.calls()) if c.heard == "colour:11")
    if off.data != "FF4B":
        raise Failure(f"switched off with {off.data}, expected FF4B")


def case_wavelength(case):
    """Wavelength steps typed into the input box send the blended colour of
    table row 1: 450 nm is C3E16D2; 442 nm is C571FC0 (the blend's fraction
    in single precision)."""
    program = case.program(conf="1\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    add_wavelength(program, wid, 450)
    add_wavelength(program, wid, 442)
    set_minutes(program, wid, 1, 0)
    click(wid, START_BUTTON)
    calls = program.wait_calls("two commands for 442 nm",
                               lambda cs: sum(c.heard == "C:571FC0" for c in writes(cs)) >= 2)
    heard = [c.heard for c in colour_writes(calls)]
    if heard[:3] != ["C:3E16D2", "C:571FC0", "C:571FC0"]:
        raise Failure(f"the lamp heard {heard}, expected C:3E16D2 once (0 minutes), then C:571FC0")
    complete = [ex for ex in exchanges(calls) if ex[-1].call == "FT_Close"]
    for ex, command in zip(complete, ["VER", "C3E16D2", "C571FC0", "C571FC0"]):
        check_text_exchange(ex, command)
    stop_playback(program, wid, "C:000000")


def case_zero_minutes(case):
    """Steps of 0 minutes last one tick each; after the last the lamp is
    switched off and the player stops; starting again begins at step 1."""
    program = case.program(conf="2\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    for name in ("Rosa", "Türkis", "Gelb"):
        click(wid, palette(name))
    for row in (1, 2, 3):
        set_minutes(program, wid, row, 0)
    expected = ["C:FF69BE", "C:00DCFF", "C:FFC800", "C:000000"]

    for run in (1, 2):
        before = len(program.calls())
        click(wid, START_BUTTON)
        calls = program.wait_calls(f"run {run} to end with the lamp off",
                                   lambda cs: any(c.heard == "C:000000" for c in writes(cs[before:])))
        heard = [c.heard for c in colour_writes(calls[before:])]
        if heard != expected:
            raise Failure(f"run {run}: the lamp heard {heard}, expected {expected}")
        check_intervals(f"run {run}", colour_writes(calls[before:]))
        off_at = next(i for i, c in enumerate(calls) if i >= before and c.heard == "C:000000")
        calls = program.wait_calls("the discovery timer to run again after the end",
                                   lambda cs: len(discoveries(cs[off_at:])) >= 2)
        later = colour_writes(calls[off_at + 1:])
        if later:
            raise Failure(f"colours sent after the end of the sequence: {[c.heard for c in later]}")


def case_hardware_saved(case):
    """Without my.conf the hardware dialog comes up; choosing "Nivra Säule"
    and "speichern" writes 3 and the program uses table row 3 at once; the
    next start does not ask again."""
    program = case.program(conf=None, devices=TEXT_LAMP).start()
    dialog = program.window("Hardwareauswahl")
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[2]))
    click(dialog, SAVE_BUTTON)
    program.window_gone("Hardwareauswahl", dialog)
    with open(program.conf_path, "rb") as f:
        content = f.read()
    if content != b"3\n":
        raise Failure(f"my.conf holds {content!r}, expected b'3\\n'")
    wid = program.main_window()

    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    calls = program.wait_calls("the first colour command", lambda cs: colour_writes(cs))
    if colour_writes(calls)[0].heard != "C:FF7D00":
        raise Failure(f"Orange sent as {colour_writes(calls)[0].heard}, expected C:FF7D00 (table row 3)")
    program.stop()

    again = case.program(conf=None, devices=TEXT_LAMP, folder=program.folder).start()
    again.main_window()
    # The start-up check follows the first show at once, before the first
    # listing; a dialog would be there by now.
    if again.windows("Hardwareauswahl"):
        raise Failure("the hardware dialog came up again although my.conf holds a valid choice")


def case_hardware_declined(case):
    """Declining the hardware dialog shows the closing message and ends the
    program; no my.conf is written."""
    program = case.program(conf=None, devices=TEXT_LAMP).start()
    dialog = program.window("Hardwareauswahl")
    click(dialog, DECLINE_BUTTON)
    box = program.window("Tintrava")
    focus(box)
    xdotool("key", "Return")
    wait_for("the program to end", lambda: not program.running())
    print(f"program ended with exit status {program.process.returncode}")
    if program.process.returncode != 0:
        raise Failure(f"the program ended with exit status {program.process.returncode}")
    if os.path.exists(program.conf_path):
        raise Failure("my.conf was written although the dialog was declined")


def case_screenshot(case):
    """The program playing a sequence, beside the virtual lamp's window when
    the viewer is built. Written to the --screenshot path only when
    TINTRAVA_UPDATE_SCREENSHOT=1; otherwise into the case's temporary folder."""
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    for name in ("Orange", "Türkis", "Violett"):
        click(wid, palette(name))
    set_minutes(program, wid, 2, 5)
    set_minutes(program, wid, 3, 10)

    windows = [wid]
    margin = 24
    xdotool("windowmove", wid, margin, margin)
    if case.args.viewer:
        if not os.access(case.args.viewer, os.X_OK):
            raise Failure(f"the lamp viewer {case.args.viewer} is not built")
        viewer = subprocess.Popen([case.args.viewer, program.trace.path], env=dict(os.environ, QT_QPA_PLATFORM="xcb"),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        case.processes.append(viewer)

        def viewer_window():
            if viewer.poll() is not None:
                raise Failure(f"the lamp viewer ended with exit status {viewer.returncode}")
            out = xdotool("search", "--all", "--onlyvisible", "--pid", viewer.pid, "--name", ".", check=False)
            return [int(w) for w in out.split()]
        view = wait_for("the lamp viewer's window", viewer_window)[0]
        x, y, w, h = window_geometry(wid)
        # One lamp needs a narrow window; as high as the program's, beside it.
        xdotool("windowsize", view, 320, h)
        xdotool("windowmove", view, x + w + margin, margin)
        windows.append(view)

    click(wid, START_BUTTON)
    program.wait_calls("three colour commands", lambda cs: len(colour_writes(cs)) >= 3)

    boxes = [window_geometry(w) for w in windows]
    left = min(b[0] for b in boxes) - margin
    top = min(b[1] for b in boxes) - margin
    right = max(b[0] + b[2] for b in boxes) + margin
    bottom = max(b[1] + b[3] for b in boxes) + margin
    area = (max(left, 0), max(top, 0), right - max(left, 0), bottom - max(top, 0))
    shot = os.path.join(program.folder, "screenshot.png")
    screenshot(shot, area)
    if os.path.getsize(shot) == 0:
        raise Failure("the screenshot is empty")
    if os.environ.get("TINTRAVA_UPDATE_SCREENSHOT") == "1":
        if not case.args.screenshot:
            raise Failure("TINTRAVA_UPDATE_SCREENSHOT=1 but no --screenshot path given")
        os.makedirs(os.path.dirname(case.args.screenshot), exist_ok=True)
        shutil.copyfile(shot, case.args.screenshot)
        print(f"screenshot written to {case.args.screenshot}")
    else:
        print("screenshot taken (set TINTRAVA_UPDATE_SCREENSHOT=1 to store it in the source tree)")


CASES = {
    "text_lamp": case_text_lamp,
    "byte_lamp": case_byte_lamp,
    "wavelength": case_wavelength,
    "zero_minutes": case_zero_minutes,
    "hardware_saved": case_hardware_saved,
    "hardware_declined": case_hardware_declined,
    "screenshot": case_screenshot,
}


def report_failure(case, name, failure):
    print(f"FAIL: {failure}", file=sys.stderr)
    try:
        shot = os.path.abspath(f"e2e-{name}-failure.png")
        screenshot(shot)
        print(f"screen at the failure: {shot}", file=sys.stderr)
    except Exception as e:  # the report must not hide the failure itself
        print(f"(no screenshot: {e})", file=sys.stderr)
    for i, p in enumerate(case.programs):
        try:
            kept = os.path.abspath(f"e2e-{name}-trace{i}.log")
            shutil.copyfile(p.trace.path, kept)
            print(f"lamp trace of program {i}: {kept}", file=sys.stderr)
            if p.process:
                for caption in ("Tintrava", "Hardwareauswahl", "Wellenlänge", "Zeit ändern"):
                    if p.windows(caption):
                        print(f"program {i} shows window \"{caption}\"", file=sys.stderr)
            with open(p.stderr_path, errors="replace") as f:
                err = f.read().strip()
            if err:
                print(f"program {i} stderr:\n{err}", file=sys.stderr)
        except Exception as e:
            print(f"(no details of program {i}: {e})", file=sys.stderr)


def main(cases=None):
    """Runs one case by name. Other case files import this module and pass
    their own table of cases."""
    cases = CASES if cases is None else cases
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("case", choices=sorted(cases))
    parser.add_argument("--program", required=True, help="the built tintrava executable")
    parser.add_argument("--lamp", required=True, help="libtintrava-virtual-lamp.so")
    parser.add_argument("--viewer", default="", help="tintrava-lamp-view, when built")
    parser.add_argument("--screenshot", default="", help="where TINTRAVA_UPDATE_SCREENSHOT=1 stores the screenshot")
    args = parser.parse_args()
    # A CTest time-out or Ctrl-C must still clean up.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    case = Case(args)
    started = time.monotonic()
    try:
        # Where a program run as another user can reach its folder too.
        with tempfile.TemporaryDirectory(prefix="tintrava-e2e-", dir=reachable_temp_base()) as tmp, Display():
            case.tmp = tmp
            try:
                cases[args.case](case)
            except Failure as failure:
                report_failure(case, args.case, failure)
                return 1
            finally:
                case.stop_all()
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    print(f"PASS: {args.case} ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
