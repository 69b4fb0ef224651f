#!/usr/bin/env python3
"""How the window and tintrava-play behave while a sequence plays.

    bench_playing.py --build BUILD_DIR [--baseline BUILD_DIR] [--pings N]
                     [--cancels N] [--steps N] [--runs N]

- WM ping: _NET_WM_PING client messages sent to the main window (as a window
  manager sends them) and the time until the window's reply reaches the
  root window; the reply is made on the window's thread, so it shows how long
  input and paint events wait. Idle, then while a sequence plays on a text
  lamp (virtual lamp).
- "Abbrechen": clicked (XTest) at a random moment while playing, from 0 to
  300 ms after a colour command was written, i.e. mostly during an exchange;
  click to the first moment the overlay's lime is gone from the screen
  (the window's pixels polled), and click to the off command in the lamp's
  trace.
- tintrava-play against tools/bench/minimal_player.c doing the same
  exchanges for the same steps (virtual lamp, no trace): CPU time (user +
  system) and peak memory (ru_maxrss, i.e. VmHWM) of the whole run.

With --baseline, the window and the player of another build (same layout:
tintrava, tintrava-play, libtintrava-virtual-lamp.so) are measured the same
way, for a before/after comparison. bench.py calls run() with --only playing.
Needs python3-xlib.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))

from tintrava_e2e import (CANCEL_BUTTON, MAIN_CAPTION, START_BUTTON, TEXT_LAMP, Display, Failure, Trace,  # noqa: E402
                          click, die_with_parent, palette, wait_for, writes, xdotool)

try:
    from Xlib import X, display as xdisplay, protocol
    from Xlib.ext import xtest
except ImportError:  # reported when run
    X = None

HEADER = "\ufeffFarbNr;Bezeichnung;Minuten\r\n"
# Table row 3 (--modell 3): what the steps below are sent as.
STEPS = [("5", "Orange", "CFF7D00"), ("3", "Blau", "C0000FF")]
LIME = (0, 255, 0)
OVERLAY_PIXEL = (300, 460)  # inside the overlay, where nothing else is drawn on it


def vmhwm_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    raise Failure(f"no VmHWM for process {pid}")


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


class Window:
    """The program in a folder of its own (my.conf beside it, text lamp, trace)."""

    def __init__(self, build):
        self.folder = tempfile.mkdtemp(prefix="tintrava-bench-playing-")
        env = dict(os.environ)
        env["QT_QPA_PLATFORM"] = "xcb"
        for name in ("runtime", "config", "home", "locks"):
            os.mkdir(os.path.join(self.folder, name), 0o700)
        env["TINTRAVA_LOCK_DIR"] = os.path.join(self.folder, "locks")
        env["XDG_RUNTIME_DIR"] = os.path.join(self.folder, "runtime")
        env["XDG_CONFIG_HOME"] = os.path.join(self.folder, "config")
        env["HOME"] = os.path.join(self.folder, "home")
        executable = os.path.join(self.folder, "tintrava")
        shutil.copy2(os.path.join(build, "tintrava"), executable)
        with open(os.path.join(self.folder, "my.conf"), "w") as f:
            f.write("3\n")
        devices = os.path.join(self.folder, "lamps.txt")
        with open(devices, "w") as f:
            f.write(TEXT_LAMP)
        self.trace = Trace(os.path.join(self.folder, "trace.log"))
        open(self.trace.path, "w").close()
        env["TINTRAVA_D2XX_LIBRARY"] = os.path.join(build, "libtintrava-virtual-lamp.so")
        env["TINTRAVA_VIRTUAL_LAMP"] = devices
        env["TINTRAVA_VIRTUAL_LAMP_LOG"] = self.trace.path
        self.process = subprocess.Popen([executable], cwd=self.folder, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)

        def find():
            out = xdotool("search", "--all", "--pid", self.process.pid, "--onlyvisible", "--name",
                          f"^{MAIN_CAPTION}$", check=False)
            return int(out.split()[0]) if out.split() else None
        self.wid = wait_for("the main window", find)

    def calls(self):
        return self.trace.calls(self.process.pid)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


class X11:
    """One connection for pings, clicks and reading pixels."""

    def __init__(self, wid):
        self.d = xdisplay.Display()
        self.root = self.d.screen().root
        # Qt sends its reply to the root window for StructureNotify and
        # SubstructureRedirect listeners; the redirect belongs to a window
        # manager, so the bench listens for StructureNotify.
        self.root.change_attributes(event_mask=X.StructureNotifyMask | X.SubstructureNotifyMask)
        self.win = self.d.create_resource_object("window", wid)
        self.wid = wid
        self.protocols = self.d.intern_atom("WM_PROTOCOLS")
        self.ping_atom = self.d.intern_atom("_NET_WM_PING")
        self.serial = 1000
        self.d.sync()

    def send_ping(self):
        self.serial += 1
        event = protocol.event.ClientMessage(window=self.win, client_type=self.protocols,
                                             data=(32, [self.ping_atom, self.serial, self.wid, 0, 0]))
        self.win.send_event(event, event_mask=0)
        self.d.flush()
        return self.serial

    def wait_pong(self, serial, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            while self.d.pending_events():
                e = self.d.next_event()
                if (e.type == X.ClientMessage and e.client_type == self.protocols
                        and e.data[1][0] == self.ping_atom and e.data[1][1] == serial):
                    return time.monotonic()
            import select
            select.select([self.d.fileno()], [], [], 0.05)
        raise Failure("no reply to _NET_WM_PING")

    def ping_ms(self):
        serial = self.send_ping()
        sent = time.monotonic()
        return (self.wait_pong(serial) - sent) * 1000.0

    def click(self, point):
        geometry = self.win.translate_coords(self.root, 0, 0)
        x, y = -geometry.x + point[0], -geometry.y + point[1]
        xtest.fake_input(self.d, X.MotionNotify, x=x, y=y)
        self.d.sync()
        xtest.fake_input(self.d, X.ButtonPress, 1)
        xtest.fake_input(self.d, X.ButtonRelease, 1)
        self.d.flush()
        return time.monotonic()

    def pixel(self, point):
        image = self.win.get_image(point[0], point[1], 1, 1, X.ZPixmap, 0xFFFFFFFF)
        b, g, r = image.data[0], image.data[1], image.data[2]
        return r, g, b


def start_playing(window):
    click(window.wid, START_BUTTON)
    wait_for("a colour command", lambda: any(c.heard == "C:FF7D00" for c in writes(window.calls())), 30)


def measure_window(build, pings, cancels):
    window = Window(build)
    try:
        x = X11(window.wid)
        time.sleep(2.0)
        idle = []
        for _ in range(pings):
            idle.append(x.ping_ms())
            time.sleep(random.uniform(0.02, 0.06))
        click(window.wid, palette("Orange"))
        time.sleep(0.5)
        start_playing(window)
        playing = []
        for _ in range(pings):
            playing.append(x.ping_ms())
            time.sleep(random.uniform(0.02, 0.06))

        shown, off = [], []
        for _ in range(cancels):
            # A moment during (mostly) an exchange: 0 to 300 ms after a write.
            seen = len(writes(window.calls()))
            wait_for("the next colour command", lambda: len(writes(window.calls())) > seen, 30)
            time.sleep(random.uniform(0.0, 0.3))
            before = len(window.calls())
            clicked = x.click(CANCEL_BUTTON)
            while x.pixel(OVERLAY_PIXEL) == LIME:
                if time.monotonic() - clicked > 10:
                    raise Failure("the overlay stayed after 'Abbrechen'")
            shown.append((time.monotonic() - clicked) * 1000.0)
            calls = wait_for("the off command", lambda: [c for c in writes(window.calls()[before:])
                                                          if c.heard == "C:000000"], 30)
            off.append(calls[0].t - clicked * 1000.0)
            time.sleep(0.3)
            start_playing(window)
        return {"idle": idle, "playing": playing, "shown": shown, "off": off}
    finally:
        window.stop()


def run_player(build, steps, command):
    env = dict(os.environ)
    work = tempfile.mkdtemp(prefix="tintrava-bench-player-")
    try:
        for name in ("runtime", "config", "home", "locks"):
            os.mkdir(os.path.join(work, name), 0o700)
        # Lamp holds of its own: other programs on a virtual lamp of the same
        # serial must not make this run a busy lamp.
        env.update(XDG_RUNTIME_DIR=os.path.join(work, "runtime"), XDG_CONFIG_HOME=os.path.join(work, "config"),
                   HOME=os.path.join(work, "home"), TINTRAVA_LOCK_DIR=os.path.join(work, "locks"))
        env.pop("TINTRAVA_VIRTUAL_LAMP_LOG", None)
        env.pop("TINTRAVA_VIRTUAL_LAMP", None)  # one text lamp
        lamp = os.path.join(build, "libtintrava-virtual-lamp.so")
        env["TINTRAVA_D2XX_LIBRARY"] = lamp
        if command == "player":
            path = os.path.join(work, "bench.tintrava")
            with open(path, "w", encoding="utf-8", newline="") as f:
                f.write(HEADER + "".join(f"{STEPS[i % 2][0]};{STEPS[i % 2][1]};0\r\n" for i in range(steps)))
            argv = [os.path.join(build, "tintrava-play"), "--modell", "3", path]
        else:
            argv = [os.path.join(build, "tintrava-minimal-player"), lamp] + [STEPS[i % 2][2] for i in range(steps)]
        # No preexec_fn: a forked copy of this interpreter would count in
        # the child's peak memory and CPU; spawned, only the player does.
        process = subprocess.Popen(argv, env=env, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # VmHWM of the player itself (ru_maxrss would include the memory of
        # the process before its exec, i.e. this interpreter's).
        peak = 0
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid:
                break
            try:
                peak = max(peak, vmhwm_kib(process.pid))
            except (OSError, Failure):
                pass
            time.sleep(0.02)
        process.returncode = os.waitstatus_to_exitcode(status)
        if process.returncode != 0:
            raise Failure(f"{argv[0]} ended with status {process.returncode}")
        return (usage.ru_utime + usage.ru_stime) * 1000.0, peak
    finally:
        shutil.rmtree(work, ignore_errors=True)


def measure_players(builds, steps, runs):
    results = {}
    for _ in range(runs):
        for label, build, command in builds:
            cpu, rss = run_player(build, steps, command)
            results.setdefault(label, []).append((cpu, rss))
    return results


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def run(build, baseline=None, pings=200, cancels=20, steps=10, runs=5):
    """Measures and returns the table's rows (text)."""
    if X is None:
        raise Failure("python3-xlib is missing (Debian: python3-xlib)")
    rows = [f"playing (load average {load()}):"]
    windows = [("window", build)] + ([("window before", baseline)] if baseline else [])
    for label, b in windows:
        r = measure_window(b, pings, cancels)
        for part in ("idle", "playing"):
            v = r[part]
            if not v:
                continue
            rows.append(f"  {label}: WM ping reply {part:8s} p50/p90/p99/max "
                        f"{pct(v, 50):.1f}/{pct(v, 90):.1f}/{pct(v, 99):.1f}/{max(v):.1f} ms")
        rows.append(f"  {label}: 'Abbrechen' -> overlay gone on screen: median {statistics.median(r['shown']):.0f} ms, "
                    f"worst of {cancels} {max(r['shown']):.0f} ms")
        rows.append(f"  {label}: 'Abbrechen' -> off command written: median {statistics.median(r['off']):.0f} ms, "
                    f"worst of {cancels} {max(r['off']):.0f} ms")
    players = [("tintrava-play", build, "player"), ("minimal C player", build, "minimal")]
    if baseline:
        players.append(("tintrava-play before", baseline, "player"))
    results = measure_players(players, steps, runs)
    base_cpu = statistics.median(c for c, _ in results["minimal C player"])
    base_rss = statistics.median(m for _, m in results["minimal C player"])
    for label, _, _ in players:
        cpu = statistics.median(c for c, _ in results[label])
        rss = statistics.median(m for _, m in results[label])
        rows.append(f"  {label:22s} {steps} steps: CPU {cpu:6.1f} ms ({cpu / base_cpu:.2f}x), "
                    f"peak memory {rss / 1024:.1f} MiB ({rss / base_rss:.2f}x)  [median of {runs}]")
    rows.append(f"  (load average after: {load()})")
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--baseline", default="", help="another build to compare with")
    parser.add_argument("--pings", type=int, default=200)
    parser.add_argument("--cancels", type=int, default=20)
    parser.add_argument("--steps", type=int, default=10, help="0-minute steps the players play (default 10)")
    parser.add_argument("--runs", type=int, default=5, help="runs of each player (default 5)")
    args = parser.parse_args()
    try:
        with Display():
            rows = run(os.path.abspath(args.build), os.path.abspath(args.baseline) if args.baseline else None,
                       args.pings, args.cancels, args.steps, args.runs)
    except Failure as e:
        print(f"bench_playing: {e}", file=sys.stderr)
        return 1
    print("\n".join(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main())
