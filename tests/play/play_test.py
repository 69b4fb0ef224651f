#!/usr/bin/env python3
"""tintrava-play against the virtual lamp, natively or (with --wine) the
Windows build under Wine. Each case checks the lamp's trace: what the lamp
heard, on which line settings, and that nothing at all was sent when the
player refused to play.

  play_test.py --player PATH --lamp PATH [--wine WINE] CASE...
"""
import argparse
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

import trace_shape  # noqa: E402

TRACES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e", "traces")

HEADER = "\ufeffFarbNr;Bezeichnung;Minuten\r\n"
# Zero-minute steps last one tick each; the one-minute step a minute.
PLAY_FILE = HEADER + "5;Orange;0\r\n13;550 nm;0\r\n2;Grün;1\r\n"
SHORT_FILE = HEADER + "5;Orange;0\r\n13;550 nm;0\r\n"
LONG_FILE = HEADER + "1;Rot;1\r\n2;Grün;1\r\n"
BAD_FILE = HEADER + "5;Orange;0\r\n14;Rot;1\r\n"

# Files larger are refused unread (sequence/sequence_file.h).
SIZE_LIMIT = 64 * 1024 * 1024
# The most steps the window lets a user build, each of the longest kind: a
# wavelength with as many leading blanks as its input box takes.
LARGEST_FILE = HEADER + ("13;" + " " * 252 + "500 nm;0\r\n") * 200_000

# Lamp values of table row 3 (--modell 3, "Nivra Säule").
ORANGE, WAVE_550, GREEN, RED, OFF = "C:FF7D00", "C:66DE00", "C:00EC00", "C:FF0000", "C:000000"
TEXT_LINE, BYTE_LINE = "line=115200/8/2/0", "line=9600/8/2/0"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Rig:
    """One case's folder: device file, trace, sequence files, the player."""

    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.trace = os.path.join(work, "trace.log")
        self.devices = os.path.join(work, "devices.txt")
        self.plug("Sela-Lumen|VL000001|text")

    def own_folder(self, name):
        path = os.path.join(self.work, name)
        os.makedirs(path, mode=0o700, exist_ok=True)
        return path

    def native(self, path):
        """A path as the program sees it (Wine maps / to drive Z:)."""
        return "Z:" + path.replace("/", "\\") if self.args.wine else path

    def plug(self, *lines):
        with open(self.devices, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")

    def file(self, name, text):
        path = os.path.join(self.work, name)
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        return path

    def env(self, library=True):
        env = dict(os.environ)
        for name in ("TINTRAVA_D2XX_LIBRARY", "DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env["TINTRAVA_VIRTUAL_LAMP"] = self.native(self.devices)
        env["TINTRAVA_VIRTUAL_LAMP_LOG"] = self.native(self.trace)
        # Folders of the case's own: no other copy of Tintrava (the user's,
        # another test's) shares its settings or its lock. A Wine prefix is
        # private to the run already and keeps the home it was made with.
        env["XDG_CONFIG_HOME"] = self.own_folder("config")
        env["XDG_RUNTIME_DIR"] = self.own_folder("runtime")
        if not self.args.wine:
            env["HOME"] = self.own_folder("home")
        if library:
            env["TINTRAVA_D2XX_LIBRARY"] = self.native(self.args.lamp)
        if self.args.wine:
            env.update(self.args.wine_env)
        return env

    def command(self, player, *arguments):
        prefix = [self.args.wine] if self.args.wine else []
        return prefix + [player] + [self.native(a) if os.path.isabs(a) else a for a in arguments]

    def start(self, *arguments, player=None, library=True, **kwargs):
        return subprocess.Popen(self.command(player or self.args.player, *arguments), env=self.env(library),
                                cwd=self.work, **kwargs)

    def run(self, *arguments, timeout=60, **kwargs):
        process = self.start(*arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise Failure(f"tintrava-play {' '.join(arguments)} did not end within {timeout} s")
        text = lambda b: b.decode("utf-8", "replace").replace("\r\n", "\n")
        return process.returncode, text(out), text(err)

    def calls(self):
        if not os.path.exists(self.trace):
            return []
        calls = []
        with open(self.trace, encoding="utf-8") as f:
            for line in f:
                fields = dict(part.split("=", 1) for part in line.rstrip("\n").split("\t"))
                calls.append(fields)
        return calls

    def heard(self):
        """(what the lamp made of each write, the write's line settings, time in ms)."""
        out = []
        for call in self.calls():
            if call["call"] == "FT_Write" and call["heard"] != "-":
                line = call["args"].split(" ")[1]
                for what in call["heard"].split(","):
                    out.append((what, line, float(call["t"])))
        return out


def collapse(items):
    out = []
    for item in items:
        if not out or out[-1] != item:
            out.append(item)
    return out


def expect_heard(rig, expected, line):
    heard = rig.heard()
    check(collapse([h[0] for h in heard]) == expected,
          f"lamp heard {collapse([h[0] for h in heard])}, expected {expected}")
    check(all(h[1] == line for h in heard), f"line settings {set(h[1] for h in heard)}, expected {line}")
    return heard


# ---------------------------------------------------------------- cases

def case_plays(rig):
    """Zero- and one-minute steps: probe, each step's colour, the last one
    re-sent every second for a minute, then off; one log line per step."""
    path = rig.file("abend.tintrava", PLAY_FILE)
    rc, out, err = rig.run("--modell", "3", path, timeout=180)
    check(rc == 0, f"status {rc}, stderr: {err}")
    heard = expect_heard(rig, ["VER", ORANGE, WAVE_550, GREEN, OFF], TEXT_LINE)
    greens = [h[2] for h in heard if h[0] == GREEN]
    # Once a second; a machine too busy to keep up skips ticks, never adds any.
    check(30 <= len(greens) <= 63, f"{len(greens)} green commands in a one-minute step")
    off = [h[2] for h in heard if h[0] == OFF]
    check(len(off) == 1, f"{len(off)} off commands")
    check(59_000 <= off[0] - greens[0] <= 120_000, f"green lasted {(off[0] - greens[0]) / 1000:.1f} s")
    steps = [line for line in out.splitlines() if "Schritt" in line]
    check(len(steps) == 3, f"expected one line per step, got: {out!r}")
    for step, text in zip(steps, ["Schritt 1/3: Orange", "Schritt 2/3: 550 nm", "Schritt 3/3: Grün"]):
        check(text in step, f"{text!r} not in {step!r}")
    check("Restdauer dieser Farbe: 00:00:59 | Gesamtrestdauer: 00:00:59" in steps[2], steps[2])
    check("Abfolge beendet" in out.splitlines()[-1], f"no closing line: {out!r}")


def case_byte_lamp(rig):
    """A lamp that does not answer VER gets two-byte frames at 9600 baud."""
    rig.plug("Sela-Lumen|VB000001|byte")
    rc, out, err = rig.run("--modell", "1", rig.file("kurz.csv", SHORT_FILE))
    check(rc == 0, f"status {rc}, stderr: {err}")
    heard = [h for h in rig.heard() if h[0] != "garbled"]
    check(collapse([h[0] for h in heard]) == ["colour:5", "colour:2", "colour:11"],
          f"byte lamp heard {collapse([h[0] for h in heard])}")
    check(all(h[1] == BYTE_LINE for h in heard), "frames not at 9600 baud")


def compare_trace(rig, name):
    """The run's lamp calls, call for call and with their waits, against the
    recorded shape; TINTRAVA_RECORD_TRACE=1 records it instead."""
    calls = trace_shape.read_calls(rig.trace)
    lines = trace_shape.shape(calls, pause_after_off=False)
    path = os.path.join(TRACES, name)
    if os.environ.get("TINTRAVA_RECORD_TRACE") == "1":
        with open(path, "w", encoding="utf-8") as f:
            f.write(f"# The lamp calls of a played sequence ({name}); tests/support/trace_shape.py\n")
            f.write("\n".join(lines) + "\n")
        print(f"recorded {path}")
        return
    difference = trace_shape.differences(trace_shape.read_shape(path), lines)
    check(not difference, f"the lamp calls differ from {name}: {difference}\nwhole shape:\n" + "\n".join(lines))


def case_trace_text(rig):
    """Two steps of 0 minutes on a text lamp: the same calls, arguments and
    waits as recorded."""
    rc, out, err = rig.run("--modell", "3", rig.file("kurz.tintrava", SHORT_FILE))
    check(rc == 0, f"status {rc}, stderr: {err}")
    compare_trace(rig, "player-text.trace")


def case_trace_byte(rig):
    """The same on a byte lamp."""
    rig.plug("VC0123456789V012345678|VB000002|byte")
    rc, out, err = rig.run("--modell", "3", rig.file("kurz.tintrava", SHORT_FILE))
    check(rc == 0, f"status {rc}, stderr: {err}")
    compare_trace(rig, "player-byte.trace")


def copy_player(rig, folder):
    os.makedirs(folder, exist_ok=True)
    player = os.path.join(folder, os.path.basename(rig.args.player))
    shutil.copy2(rig.args.player, player)
    return player


def case_settings_file(rig):
    """The model comes from my.conf beside the program, read like the window
    reads it; without my.conf and --modell the player refuses (status 2)."""
    path = rig.file("kurz.tintrava", HEADER + "5;Orange;0\r\n")
    with_conf = os.path.join(rig.work, "mit")
    player = copy_player(rig, with_conf)
    with open(os.path.join(with_conf, "my.conf"), "w") as f:
        f.write("  $3\nanything\n")
    rc, out, err = rig.run(path, player=player)
    check(rc == 0, f"status {rc}, stderr: {err}")
    expect_heard(rig, ["VER", ORANGE, OFF], TEXT_LINE)

    os.remove(rig.trace)
    without = copy_player(rig, os.path.join(rig.work, "ohne"))
    rc, out, err = rig.run(path, player=without)
    check(rc == 2, f"status {rc} without a model")
    check("Lampenmodell" in err and "my.conf" in err, f"stderr: {err!r}")
    check(rig.calls() == [], "the lamp driver was called without a model")

    with open(os.path.join(with_conf, "my.conf"), "w") as f:
        f.write("5\n")
    rc, out, err = rig.run(path, player=player)
    check(rc == 2 and "keine gültige Auswahl" in err, f"status {rc}, stderr {err!r} for model 5")
    check(rig.calls() == [], "the lamp driver was called with an invalid model")


def wait_for_reds(rig, process, count):
    deadline = time.monotonic() + 60
    while sum(1 for h in rig.heard() if h[0] == RED) < count:
        check(process.poll() is None, f"player ended early with status {process.returncode}")
        check(time.monotonic() < deadline, f"the first step was not sent {count} times within 60 s")
        time.sleep(0.1)


def stop(process):
    if process.poll() is None:
        process.kill()
        process.communicate()


def interrupt(rig, signum, name):
    rig.plug("Sela-Lumen|VL000001|text")
    if os.path.exists(rig.trace):
        os.remove(rig.trace)
    path = rig.file("lang.tintrava", LONG_FILE)
    process = rig.start("--modell", "3", path, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        wait_for_reds(rig, process, 2)
        process.send_signal(signum)
        out, err = process.communicate(timeout=30)
    finally:
        stop(process)
    check(process.returncode == 128 + signum, f"status {process.returncode} after {name}")
    heard = expect_heard(rig, ["VER", RED, OFF], TEXT_LINE)
    check(heard[-1][0] == OFF, f"the lamp was not switched off last after {name}")
    out = out.decode("utf-8", "replace")
    check(f"Abgebrochen ({name}), die Lampe ist ausgeschaltet." in out, f"stdout after {name}: {out!r}")


def case_interrupt(rig):
    """Ctrl+C mid-step switches the lamp off and ends with status 130."""
    interrupt(rig, signal.SIGINT, "Strg+C")


def case_terminate(rig):
    """SIGTERM (a stopped timer job) does the same, with status 143."""
    interrupt(rig, signal.SIGTERM, "SIGTERM")


def case_other_signals(rig):
    """Every signal that would end the process switches the lamp off first;
    the status is 128 + the signal's number."""
    for name in ("SIGHUP", "SIGQUIT", "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGPWR", "SIGVTALRM", "SIGPROF",
                 "SIGXCPU", "SIGRTMIN"):
        interrupt(rig, getattr(signal, name), name if name != "SIGRTMIN" else "SIGRTMIN+0")


def case_ignored_signals(rig):
    """A signal ignored when the player started (nohup, a script's
    background job) stays ignored; the others still switch the lamp off."""
    def ignore():
        signal.signal(signal.SIGHUP, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
    path = rig.file("lang.tintrava", LONG_FILE)
    process = rig.start("--modell", "3", path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=ignore)
    try:
        wait_for_reds(rig, process, 2)
        process.send_signal(signal.SIGHUP)
        process.send_signal(signal.SIGINT)
        reds = sum(1 for h in rig.heard() if h[0] == RED)
        # Still playing: the step is sent on, once a second.
        wait_for_reds(rig, process, reds + 2)
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate(timeout=30)
    finally:
        stop(process)
    check(process.returncode == 143, f"status {process.returncode}")
    expect_heard(rig, ["VER", RED, OFF], TEXT_LINE)


ONE_STEP = HEADER + "5;Orange;0\r\n"


def case_lamp_not_reached(rig):
    """Status 3 and a German sentence on stderr when no colour reached a
    lamp, or the final off did not; "ausgeschaltet" only when it did."""
    path = rig.file("eins.tintrava", ONE_STEP)
    # One step: the probe, the step's colour and the off are the lamp's three writes.
    for devices, status, words in (
            ((), 3, "die Lampe wurde nie erreicht: keine Lampe gefunden."),
            (("Sela-Lumen|VL000001|text|open-fails",), 3, "nie erreicht: die Lampe ließ sich nicht öffnen."),
            (("Sela-Lumen|VL000001|text|write-fails",), 3, "nie erreicht"),
            (("Sela-Lumen|VL000001|text|short-write",), 3, "nie erreicht: die Lampe hat den Befehl nicht"),
            (("Sela-Lumen|VL000001|text|write-fails-after=2",), 3,
             "der Ausschaltbefehl hat die Lampe nicht erreicht: die Lampe hat den Befehl nicht"),
            (("Sela-Lumen|VB000001|byte|write-fails-after=2",), 3, "der Ausschaltbefehl hat die Lampe nicht"),
            (("Sela-Lumen|VL000001|text|write-fails-after=3",), 0, None)):
        rig.plug(*devices)
        if os.path.exists(rig.trace):
            os.remove(rig.trace)
        rc, out, err = rig.run("--modell", "3", path)
        check(rc == status, f"{devices}: status {rc}, stderr {err!r}")
        if words is None:
            check("Abfolge beendet, die Lampe ist ausgeschaltet." in out and not err, f"{devices}: {out!r} {err!r}")
        else:
            check(words in err, f"{devices}: stderr {err!r}")
            check("ausgeschaltet" not in out, f"{devices}: stdout {out!r}")


def filled_pipe():
    """A pipe nobody reads, already full: every write to it blocks."""
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    try:
        while True:
            os.write(write_end, b"x" * 4096)
    except BlockingIOError:
        pass
    os.set_blocking(write_end, True)
    return read_end, write_end


def case_stalled_output(rig):
    """A standard output nobody reads holds up neither the lamp commands nor
    the final off; SIGTERM still ends the run at once with the lamp off, and
    a normal end writes its last line once the output moves again."""
    read_end, write_end = filled_pipe()
    try:
        process = rig.start("--modell", "3", rig.file("lang.tintrava", LONG_FILE), stdout=write_end,
                            stderr=write_end)
        try:
            wait_for_reds(rig, process, 4)
            process.send_signal(signal.SIGTERM)
            # Not a speed test: without the writer threads it would never end.
            process.wait(timeout=20)
        finally:
            stop(process)
        check(process.returncode == 143, f"status {process.returncode}")
        heard = expect_heard(rig, ["VER", RED, OFF], TEXT_LINE)
        check(heard[-1][0] == OFF, "the lamp was not switched off last")
    finally:
        os.close(read_end)
        os.close(write_end)

    os.remove(rig.trace)
    read_end, write_end = filled_pipe()
    try:
        process = rig.start("--modell", "3", rig.file("kurz.tintrava", SHORT_FILE), stdout=write_end,
                            stderr=subprocess.DEVNULL)
        os.close(write_end)
        try:
            deadline = time.monotonic() + 60
            while not any(h[0] == OFF for h in rig.heard()):
                check(process.poll() is None, f"ended with status {process.returncode} before the lamp was off")
                check(time.monotonic() < deadline, "the lamp was not switched off within 60 s")
                time.sleep(0.1)
            check(process.poll() is None, "ended although its last line could not be written")
            output = b""
            while True:
                chunk = os.read(read_end, 65536)
                if not chunk:
                    break
                output += chunk
            process.wait(timeout=30)
        finally:
            stop(process)
        check(process.returncode == 0, f"status {process.returncode}")
        lines = output.decode("utf-8", "replace").replace("x", "").splitlines()
        check(lines and "Abfolge beendet, die Lampe ist ausgeschaltet." in lines[-1], f"output ends {lines[-2:]!r}")
        expect_heard(rig, ["VER", ORANGE, WAVE_550, OFF], TEXT_LINE)
    finally:
        os.close(read_end)


def case_not_regular(rig):
    """A FIFO, a device or a folder is refused at once with the window's
    words (status 1), before the driver is asked anything; so is "-"."""
    fifo = os.path.join(rig.work, "fifo.tintrava")
    os.mkfifo(fifo)
    for path, reason in ((fifo, "Das ist keine gewöhnliche Datei."), ("/dev/null", "Das ist keine gewöhnliche Datei."),
                         (rig.work, "Das ist ein Ordner.")):
        rc, out, err = rig.run("--modell", "3", path, timeout=30)
        check(rc == 1 and f"konnte nicht geöffnet werden: {reason}" in err, f"{path}: status {rc}, stderr {err!r}")
    rc, out, err = rig.run("--modell", "3", "-")
    check(rc == 2 and "Standardeingabe" in err, f"-: status {rc}, stderr {err!r}")
    check(rig.calls() == [], f"the driver was called: {rig.calls()[:3]}")


def case_german(rig):
    """The system's own texts come in the user's language: a driver library
    that cannot be loaded is reported in German, down to the loader's reason."""
    env = {"LANG": "de_DE.UTF-8", "LC_ALL": "de_DE.UTF-8", "LANGUAGE": "de_DE:de"}
    missing = os.path.join(rig.work, "fehlt.so")
    old = {k: os.environ.get(k) for k in env}
    os.environ.update(env)
    try:
        rig.args.lamp_saved, rig.args.lamp = rig.args.lamp, missing
        rc, out, err = rig.run("--modell", "3", rig.file("eins.tintrava", ONE_STEP))
    finally:
        rig.args.lamp = rig.args.lamp_saved
        for k, v in old.items():
            if v is None:
                os.environ.pop(k, None)
            else:
                os.environ[k] = v
    check(rc == 3, f"status {rc}, stderr {err!r}")
    check("TINTRAVA_D2XX_LIBRARY: " + missing in err and "Datei oder Verzeichnis nicht gefunden" in err
          and "kein Lampentreiber" in err, f"stderr: {err!r}")


def case_bad_files(rig):
    """A file that is not a sequence, or cannot be read, ends with its error
    and status 1 before the driver is even asked for devices."""
    rc, out, err = rig.run("--modell", "3", rig.file("kaputt.tintrava", BAD_FILE))
    check(rc == 1, f"status {rc} for a bad file")
    check("Zeile 3" in err and "14" in err and "kaputt.tintrava" in err, f"stderr: {err!r}")
    rc, out, err = rig.run("--modell", "3", os.path.join(rig.work, "fehlt.tintrava"))
    check(rc == 1 and "konnte nicht geöffnet werden: Die Datei gibt es nicht." in err,
          f"status {rc}, stderr {err!r} for a missing file")
    big = rig.file("gross.tintrava", HEADER + "5;Orange;0\r\n")
    with open(big, "r+b") as f:
        f.truncate(SIZE_LIMIT + 1)  # sparse: costs no disk
    rc, out, err = rig.run("--modell", "3", big)
    check(rc == 1 and "größer als 64 MiB" in err, f"status {rc}, stderr {err!r} for a file over 64 MiB")
    rc, out, err = rig.run("--modell", "3", rig.file("leer.tintrava", HEADER))
    check(rc == 1 and "keine Farben" in err, f"status {rc}, stderr {err!r} for a file without steps")
    check(rig.calls() == [], f"the driver was called: {rig.calls()[:3]}")


def case_largest_file(rig):
    """The largest sequence the window saves is played: its first step
    reaches the lamp; Ctrl+C then ends the run as usual."""
    path = rig.file("groesste.tintrava", LARGEST_FILE)
    check(os.path.getsize(path) > 50_000_000, f"the file has only {os.path.getsize(path)} bytes")
    process = rig.start("--modell", "3", path, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 120
        while not any(h[0] not in ("VER", "garbled") for h in rig.heard()):
            if process.poll() is not None:
                raise Failure(f"player ended with status {process.returncode}: "
                              f"{process.stderr.read().decode('utf-8', 'replace')}")
            check(time.monotonic() < deadline, "no colour reached the lamp within 120 s")
            time.sleep(0.1)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
            process.communicate()
    check(process.returncode == 130, f"status {process.returncode}, stderr {err!r}")
    check("Schritt 1/200000: " in out.decode("utf-8", "replace"), f"stdout: {out[:300]!r}")
    check(rig.heard()[-1][0] == OFF, "the lamp was not switched off last")


def case_options(rig):
    """--help and --version in German; wrong calls end with status 2."""
    rc, out, err = rig.run("--help")
    check(rc == 0 and "Aufruf: tintrava-play" in out and "--modell" in out, f"--help: {rc} {out!r}")
    check("128+N" in out and "\n  3 " in out and "\n  4 " in out, f"--help lists no statuses: {out!r}")
    for option in ("--version", "-v", "-V"):
        rc, out, err = rig.run(option)
        check(rc == 0 and out.startswith("tintrava-play "), f"{option}: {rc} {out!r}")
    path = rig.file("kurz.tintrava", SHORT_FILE)
    for arguments in ([], ["--modell", "5", path], ["--modell", "x", path], ["--modell"], ["--lauter", path],
                      ["--modell", "1", path, path], ["--help=x"], ["--version=1", path]):
        rc, out, err = rig.run(*arguments)
        check(rc == 2 and err.startswith("tintrava-play: "), f"{arguments}: status {rc}, stderr {err!r}")
    rc, out, err = rig.run("--help=x")
    check("Die Option \u201e--help\u201c nimmt keinen Wert an." in err, f"--help=x: {err!r}")
    check(rig.calls() == [], "the driver was called")


def case_ftdi_name(rig):
    """Without TINTRAVA_D2XX_LIBRARY the player loads FTDI's library by its
    usual name (ftd2xx.dll beside the program on Windows)."""
    folder = os.path.join(rig.work, "programm")
    player = copy_player(rig, folder)
    env_extra = {}
    if rig.args.wine:
        shutil.copy2(rig.args.lamp, os.path.join(folder, "ftd2xx.dll"))
    else:
        shutil.copy2(rig.args.lamp, os.path.join(folder, "libftd2xx.so"))
        os.environ["LD_LIBRARY_PATH"] = folder
    try:
        rc, out, err = rig.run("--modell", "3", rig.file("kurz.tintrava", SHORT_FILE), player=player, library=False)
    finally:
        os.environ.pop("LD_LIBRARY_PATH", None)
    check(rc == 0, f"status {rc}, stderr: {err}")
    expect_heard(rig, ["VER", ORANGE, WAVE_550, OFF], TEXT_LINE)


def case_terminal(rig):
    """On a terminal one line is rewritten in place."""
    primary, secondary = pty.openpty()
    process = rig.start("--modell", "3", rig.file("kurz.tintrava", SHORT_FILE), stdout=secondary,
                        stderr=subprocess.PIPE)
    os.close(secondary)
    output = b""
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        ready, _, _ = select.select([primary], [], [], 1)
        if ready:
            try:
                chunk = os.read(primary, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
        elif process.poll() is not None:
            break
    os.close(primary)
    process.wait(timeout=30)
    text = output.decode("utf-8", "replace").replace("\r\n", "\n")
    check(process.returncode == 0, f"status {process.returncode}")
    check("\rSchritt 1/2: Orange" in text and "\rSchritt 2/2: 550 nm" in text, f"output: {text!r}")
    updating = [line for line in text.split("\n") if "Schritt" in line]
    check(len(updating) == 1, f"steps on {len(updating)} lines: {text!r}")


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def prepare_wine(args, top):
    prefix = os.path.join(top, "wineprefix")
    args.wine_env = {"WINEPREFIX": prefix, "WINEDEBUG": "-all", "WINEARCH": "win64",
                     # No Mono or Gecko install prompts in a prefix used only here.
                     "WINEDLLOVERRIDES": "mscoree,mshtml="}
    env = dict(os.environ, **args.wine_env)
    env.pop("DISPLAY", None)
    started = time.monotonic()
    subprocess.run([args.wine, "wineboot", "--init"], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600, check=False)
    print(f"Wine prefix ready in {time.monotonic() - started:.0f} s", flush=True)


def stop_wine(args):
    server = shutil.which("wineserver") or os.path.join(os.path.dirname(args.wine), "wineserver")
    if os.path.exists(server):
        subprocess.run([server, "-k"], env=dict(os.environ, **args.wine_env), timeout=60, check=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--player", required=True)
    parser.add_argument("--lamp", required=True)
    parser.add_argument("--wine")
    parser.add_argument("cases", nargs="+", choices=sorted(CASES))
    args = parser.parse_args()
    args.player = os.path.abspath(args.player)
    args.lamp = os.path.abspath(args.lamp)
    failed = 0
    with tempfile.TemporaryDirectory(prefix="tintrava-play-") as top:
        if args.wine:
            prepare_wine(args, top)
        try:
            for name in args.cases:
                work = os.path.join(top, name)
                os.makedirs(work)
                started = time.monotonic()
                try:
                    CASES[name](Rig(args, work))
                    print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
                except Failure as failure:
                    failed += 1
                    print(f"FAIL {name}: {failure}", flush=True)
        finally:
            if args.wine:
                stop_wine(args)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
