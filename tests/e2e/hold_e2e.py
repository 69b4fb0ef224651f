#!/usr/bin/env python3
"""End-to-end cases of programs sharing a lamp, a file handed over while the
window is busy, and the ends the system forces: two players on one virtual
lamp, the window and a player, a second start with a file while a dialog is
open, SIGTERM and SIGHUP, a display that goes away.

    hold_e2e.py CASE --program PATH --lamp PATH

tintrava-play is taken from beside the program. Lamp holds go to a folder of
the case's own (TINTRAVA_LOCK_DIR), shared by every program of the case.
"""

import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tintrava_e2e import (Failure, MAIN_CAPTION, START_BUTTON, CANCEL_BUTTON, answer_box, click, colour_writes,  # noqa: E402
                          die_with_parent, focus, main, palette, wait_for, xdotool)

BOX = "Tintrava"
IN_USE = "Die Lampe wird gerade von einem anderen Programm benutzt."
ORANGE_ONE_MINUTE = "\ufeffFarbNr;Bezeichnung;Minuten\r\n5;Orange;1\r\n"
VIOLETT_NOW = "\ufeffFarbNr;Bezeichnung;Minuten\r\n7;Violett;0\r\n"
HANDED = "\ufeffFarbNr;Bezeichnung;Minuten\r\n5;Orange;0\r\n"
ROT_GRUEN_FILE = "\ufeffFarbNr;Bezeichnung;Minuten\r\n1;Rot;1\r\n2;Grün;1\r\n".encode("utf-8")


def lock_dir(case):
    path = os.path.join(case.tmp, "locks")
    os.makedirs(path, exist_ok=True)
    return path


class Player:
    """tintrava-play on a program's virtual lamp: same device file, same trace."""

    def __init__(self, case, lamp_of, sequence):
        self.case = case
        self.path = os.path.join(os.path.dirname(os.path.abspath(case.args.program)), "tintrava-play")
        if not os.access(self.path, os.X_OK):
            raise Failure(f"tintrava-play is not built beside the program: {self.path}")
        self.lamp_of = lamp_of
        self.file = os.path.join(lamp_of.folder, f"player-{len(case.processes)}.tintrava")
        with open(self.file, "w", encoding="utf-8", newline="") as f:
            f.write(sequence)
        self.err_path = self.file + ".stderr"
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.update({
            "TINTRAVA_D2XX_LIBRARY": case.args.lamp,
            "TINTRAVA_VIRTUAL_LAMP": lamp_of.devices_path,
            "TINTRAVA_VIRTUAL_LAMP_LOG": lamp_of.trace.path,
            "TINTRAVA_LOCK_DIR": lock_dir(case),
            "XDG_CONFIG_HOME": os.path.join(case.tmp, "player-config"),
        })
        with open(self.err_path, "wb") as err:
            self.process = subprocess.Popen([self.path, "--modell", "3", self.file], env=env, stdout=subprocess.DEVNULL,
                                            stderr=err, preexec_fn=die_with_parent)
        case.processes.append(self.process)

    @property
    def pid(self):
        return self.process.pid

    def calls(self):
        return self.lamp_of.trace.calls(self.pid)

    def end(self, timeout=60.0):
        wait_for(f"tintrava-play {self.pid} to end", lambda: self.process.poll() is not None, timeout)
        return self.process.returncode

    def wait_colours(self, what, predicate):
        def check():
            if self.process.poll() is not None:
                raise Failure(f"tintrava-play ended with status {self.process.returncode} while waiting for "
                              f"{what}:\n{self.stderr()}")
            return predicate(colour_writes(self.calls()))
        return wait_for(what, check, 30.0)

    def stderr(self):
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def check_refused(self):
        """Ends with status 4, says why, and never opened the lamp."""
        status = self.end()
        err = self.stderr()
        print(f"player {self.pid}: exit status {status}, stderr: {err.strip()}")
        if status != 4:
            raise Failure(f"the player on a held lamp ended with status {status}, expected 4:\n{err}")
        if IN_USE not in err:
            raise Failure(f"the player did not say the lamp is in use:\n{err}")
        opened = [c for c in self.calls() if c.call != "FT_ListDevices"]
        if opened:
            raise Failure(f"the refused player drove the lamp: {opened[:3]}")


def program_with_locks(case, **kwargs):
    p = case.program(**kwargs)
    original = p.start

    def start(*args, env=None):
        return original(*args, env=dict(env or {}, TINTRAVA_LOCK_DIR=lock_dir(case)))
    p.start = start
    return p


def case_two_players(case):
    """A player holds the lamp while it plays: a second one on the same lamp
    ends with status 4 and sends nothing; once the first has ended, the lamp
    is free again."""
    lamp = program_with_locks(case)   # only its device file and trace are used
    first = Player(case, lamp, ORANGE_ONE_MINUTE)
    first.wait_colours("the first player's Orange", lambda cs: [c for c in cs if c.heard == "C:FF7D00"])
    second = Player(case, lamp, VIOLETT_NOW)
    second.check_refused()
    # The first plays on, alone.
    before = len(colour_writes(first.calls()))
    first.wait_colours("the first player to go on", lambda cs: len(cs) >= before + 2)
    first.process.send_signal(signal.SIGINT)
    status = first.end()
    heard = [c.heard for c in colour_writes(first.calls())]
    print(f"first player: exit status {status}, the lamp heard {heard}")
    if heard[-1] != "C:000000" or set(heard[:-1]) != {"C:FF7D00"}:
        raise Failure(f"the first player's lamp heard {heard}")

    third = Player(case, lamp, VIOLETT_NOW)
    status = third.end()
    if status != 0:
        raise Failure(f"a player after the first had ended got status {status}:\n{third.stderr()}")
    # Violett of table row 3, then off.
    if [c.heard for c in colour_writes(third.calls())] != ["C:FF00B4", "C:000000"]:
        raise Failure(f"the third player's lamp heard {[c.heard for c in colour_writes(third.calls())]}")


def case_window_and_player(case):
    """The window playing holds the lamp against a player; a player playing
    holds it against the window, which shows its box and does not start."""
    window = program_with_locks(case).start()
    wid = window.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    window.wait_calls("the window's Orange", lambda cs: any(c.heard == "C:FF7D00" for c in colour_writes(cs)))
    Player(case, window, VIOLETT_NOW).check_refused()
    before = len(window.calls())
    click(wid, CANCEL_BUTTON)
    calls = window.wait_calls("the lamp off",
                              lambda cs: any(c.heard == "C:000000" for c in colour_writes(cs[before:])))
    # The hold ends just after the off's exchange; the discovery timer's
    # next listing comes after that.
    off_at = max(i for i, c in enumerate(calls) if c.heard == "C:000000")
    window.wait_calls("a listing after the off", lambda cs: any(c.call == "FT_ListDevices" for c in cs[off_at + 1:]))

    player = Player(case, window, ORANGE_ONE_MINUTE)
    player.wait_colours("the player's Orange", lambda cs: cs)
    before = len(window.calls())
    click(wid, START_BUTTON)
    box = window.window(BOX)
    focus(box)
    xdotool("key", "Return")
    window.window_gone(BOX)
    # The window's discovery timer goes on; nothing of the window reaches the lamp.
    window.wait_calls("two more listings", lambda cs: len([c for c in cs[before:] if c.call == "FT_ListDevices"]) >= 3)
    sent = [c for c in window.calls()[before:] if c.call != "FT_ListDevices"]
    if sent:
        raise Failure(f"the window drove the lamp the player holds: {sent[:3]}")
    if not player.process.poll() is None:
        raise Failure(f"the player ended (status {player.process.returncode}) while it should still play")
    player.process.send_signal(signal.SIGINT)
    player.end()


def case_handed_file_waits(case):
    """A second start with a file while the running copy shows its input
    box: the second start ends without a box; the file waits until the box
    is closed, then the usual question comes, and "Ja" opens it."""
    first = case.program(conf="3\n").start()
    wid = first.main_window()
    click(wid, palette("Rot"))
    click(wid, palette("Wellenlängen-Angabe"))
    dialog = first.window("Wellenlänge")

    second = case.program(conf="3\n")
    with open(os.path.join(second.folder, "Abfolge.tintrava"), "w", encoding="utf-8", newline="") as f:
        f.write(HANDED)
    second.start("Abfolge.tintrava")
    # No box: it ends by itself.
    wait_for("the second start to end", lambda: not second.running())
    if second.process.returncode != 0:
        raise Failure(f"the second start ended with status {second.process.returncode}")
    if second.calls():
        raise Failure("the second start used the lamp driver")
    # Nothing under the open box: no question while it is there.
    before = len(first.calls())
    first.wait_calls("the first copy's discovery timer to go on",
                     lambda cs: len([c for c in cs[before:] if c.call == "FT_ListDevices"]) >= 3)
    if first.windows(BOX):
        raise Failure("the question came while the input box was still open")
    if dialog not in first.windows("Wellenlänge"):
        raise Failure("the input box is gone")

    focus(dialog)
    xdotool("key", "Escape")
    first.window_gone("Wellenlänge")
    question = first.window(BOX)
    focus(question)
    xdotool("key", "Tab")    # from "Nein", the default, to "Ja"
    xdotool("key", "space")
    first.window_gone(BOX)
    before = len(colour_writes(first.calls()))
    click(wid, START_BUTTON)
    first.wait_calls("the handed sequence played and switched off",
                     lambda cs: [c.heard for c in colour_writes(cs)[before:]][:2] == ["C:FF7D00", "C:000000"])


def add_rot_gruen(program, wid):
    click(wid, palette("Rot"))
    click(wid, palette("Grün"))


def check_last(program, what):
    last = os.path.join(program.folder, "letzte-abfolge.tintrava")
    if not os.path.exists(last):
        raise Failure(f"{what}: no last sequence at {last}")
    with open(last, "rb") as f:
        content = f.read()
    if content != ROT_GRUEN_FILE:
        raise Failure(f"{what}: {last} holds {content!r}, expected {ROT_GRUEN_FILE!r}")
    os.remove(last)


def case_system_ends(case):
    """SIGTERM and SIGHUP keep the last sequence as closing the window does,
    also with a box open, and end the program with 128 + the signal."""
    folder = None
    for sig, with_box in ((signal.SIGTERM, False), (signal.SIGHUP, False), (signal.SIGTERM, True)):
        p = case.program(conf="3\n", folder=folder).start()
        folder = p.folder
        wid = p.main_window()
        add_rot_gruen(p, wid)
        if with_box:
            click(wid, palette("Wellenlängen-Angabe"))
            p.window("Wellenlänge")
        p.process.send_signal(sig)
        wait_for("the program to end", lambda: not p.running())
        status = p.process.returncode
        print(f"{sig.name}{' with a box open' if with_box else ''}: exit status {status}")
        if status != 128 + sig:
            raise Failure(f"ended with status {status} after {sig.name}, expected {128 + sig}")
        check_last(p, sig.name)


def case_display_lost(case):
    """The X server goes away under the running program: the last sequence
    is kept all the same."""
    private = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    case.processes.append(private)
    number = private.stdout.readline().strip().decode()
    if not number.isdigit():
        raise Failure("the private Xvfb did not start")
    shared = os.environ["DISPLAY"]
    os.environ["DISPLAY"] = f":{number}"
    try:
        holder = subprocess.Popen(["xdotool", "sleep", "86400"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        case.processes.append(holder)
        p = case.program(conf="3\n").start()
        wid = p.main_window()
        add_rot_gruen(p, wid)
        # Let the clicks be handled: the second row's colour is on the lamp's
        # path only after the grid has it, so wait for a listing after them.
        before = len(p.calls())
        p.wait_calls("a listing after the clicks",
                     lambda cs: len([c for c in cs[before:] if c.call == "FT_ListDevices"]) >= 2)
        private.terminate()
        private.wait(10)
        wait_for("the program to end", lambda: not p.running())
    finally:
        os.environ["DISPLAY"] = shared
    print(f"display gone: exit status {p.process.returncode}")
    check_last(p, "display lost")


if __name__ == "__main__":
    sys.exit(main({
        "two_players": case_two_players,
        "window_and_player": case_window_and_player,
        "handed_file_waits": case_handed_file_waits,
        "system_ends": case_system_ends,
        "display_lost": case_display_lost,
    }))
