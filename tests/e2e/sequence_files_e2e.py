#!/usr/bin/env python3
"""End-to-end tests of sequence files in the real program under X: saving
with Ctrl+S through the real file dialog, as CSV too, a file named on the
command line (a spreadsheet's quoted one too), the file commands switched off
while a sequence plays, the last sequence kept on close, and a bad file
refused with the grid left as it was.

What the grid holds is seen through the lamp: steps of 0 minutes play one
tick each, so starting the sequence shows every step's colour in order.

    sequence_files_e2e.py CASE --program PATH --lamp PATH [--viewer PATH] [--screenshot PATH]
"""

import ctypes
import os
import sys
import tempfile

from tintrava_e2e import (BYTE_LAMP, CANCEL_BUTTON, START_BUTTON, TEXT_LAMP, Failure, Program, add_wavelength,
                          click, colour_writes, discoveries, focus, main, palette, set_minutes, wait_for,
                          window_geometry, writes, xdotool)

# The "Verbindung:" label in the right-hand panel (561 + 40, 344), where the pop-up menu opens.
MENU_LABEL = (561 + 40 + 10, 344 + 6)

# Table row 2 (my.conf "2"): Rosa, Türkis, Gelb, then off.
ROSA_TUERKIS_GELB = ["C:FF69BE", "C:00DCFF", "C:FFC800", "C:000000"]
ROSA_TUERKIS_GELB_FILE = ("\ufeffFarbNr;Bezeichnung;Minuten\r\n9;Rosa;0\r\n6;Türkis;0\r\n8;Gelb;0\r\n").encode("utf-8")

# As LibreOffice Calc saves it with "quote all text cells": text quoted,
# numbers bare, LF, no byte-order mark.
ROSA_TUERKIS_GELB_QUOTED = ('"FarbNr";"Bezeichnung";"Minuten"\n9;"Rosa";0\n6;"Türkis";0\n8;"Gelb";0\n').encode("utf-8")

# Line 4 names colour 14, which does not exist.
BAD_FILE = "FarbNr;Bezeichnung;Minuten\n5;Orange;0\n2;Grün;0\n14;Rot;0\n".encode("utf-8")

def program(case, conf="2\n", devices=TEXT_LAMP, folder=None):
    if folder is None:
        folder = tempfile.mkdtemp(dir=case.tmp)
    p = Program(case, folder, conf, devices)
    case.programs.append(p)
    return p


def close_window(wid):
    """Asks the window to close as a window manager's close button does
    (WM_DELETE_WINDOW); there is no window manager to do it here."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
    x.XFlush.argtypes = [ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x.XOpenDisplay(os.environ["DISPLAY"].encode())
    if not display:
        raise Failure("cannot open the X display to close the window")
    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = wid
    event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.format = 32
    event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    sent = x.XSendEvent(display, wid, 0, 0, ctypes.byref(event))
    x.XFlush(display)
    x.XCloseDisplay(display)
    if not sent:
        raise Failure("the close request could not be sent")


def popups(program):
    """The program's visible windows captioned "Tintrava". xdotool does not
    find a pop-up menu by its name, only among the windows of its process."""
    out = xdotool("search", "--onlyvisible", "--pid", program.pid, "", check=False)
    return {int(w) for w in out.split() if xdotool("getwindowname", w, check=False).strip() == "Tintrava"}


def open_menu(program, wid):
    """Right-click on "Verbindung:"; returns the pop-up menu's window."""
    before = popups(program)
    xdotool("mousemove", "--window", wid, *MENU_LABEL, "click", 3)
    return wait_for("the pop-up menu", lambda: next(iter(popups(program) - before), None))


def click_menu_entry(menu, from_bottom):
    """Clicks an entry of the pop-up menu, counted from the bottom (0:
    "Letzte Abfolge laden", 1: "Abfolge speichern…", 2: "Abfolge öffnen…").
    The entries below the separator are of one height; the menu holds four
    entries, a separator and a frame of a pixel or two."""
    _x, _y, width, height = window_geometry(menu)
    entry = (height - 2 - 3) / 4.0
    y = int(height - 1 - entry * (from_bottom + 0.5))
    xdotool("mousemove", "--window", menu, width // 3, y, "click", 1)


def type_file_name(program, caption, path):
    """Types a path into the file dialog's name field (it has the focus) and confirms it."""
    dialog = program.window(caption)
    focus(dialog)
    xdotool("type", "--delay", 20, path)
    xdotool("key", "Return")
    program.window_gone(caption, dialog)


def press_return_on_box(program):
    """Confirms the program's message or error box (caption "Tintrava")."""
    box = program.window("Tintrava")
    focus(box)
    xdotool("key", "Return")
    program.window_gone("Tintrava", box)


def played(program, what, expected):
    """Starts the sequence and waits for the lamp to have heard expected, the last being off."""
    wid = program.main_window()
    before = len(program.calls())
    click(wid, START_BUTTON)
    calls = program.wait_calls(what, lambda cs: any(c.heard == expected[-1] for c in writes(cs[before:])))
    heard = [c.heard for c in colour_writes(calls[before:])]
    if heard != expected:
        raise Failure(f"{what}: the lamp heard {heard}, expected {expected}")


def event_loop_went_on(program):
    """Waits until the program has surely handled every key and click sent
    so far: its event loop has since run two more lamp listings (the
    discovery timer, or the player's commands, each a second apart)."""
    before = len(program.calls())
    program.wait_calls("two more device listings of the running program",
                       lambda cs: len(discoveries(cs[before:])) >= 2)


def nothing_opens(program, captions):
    event_loop_went_on(program)
    for caption in captions:
        if program.windows(caption):
            raise Failure(f"window \"{caption}\" opened although a sequence plays")


def add_rosa_tuerkis_gelb(program, wid):
    for name in ("Rosa", "Türkis", "Gelb"):
        click(wid, palette(name))
    for row in (1, 2, 3):
        set_minutes(program, wid, row, 0)


def case_save_with_ctrl_s(case):
    """Ctrl+S, a name typed without extension into the real file dialog:
    the file gets ".tintrava" and holds the steps byte for byte."""
    p = program(case, conf="3\n").start()
    wid = p.main_window()
    click(wid, palette("Orange"))
    set_minutes(p, wid, 1, 10)
    add_wavelength(p, wid, 442)
    set_minutes(p, wid, 2, 5)
    focus(wid)
    xdotool("key", "ctrl+s")
    target = os.path.join(p.folder, "abfolge")
    type_file_name(p, "Abfolge speichern", target)
    saved = target + ".tintrava"
    wait_for(f"{saved} to be written", lambda: os.path.exists(saved))
    with open(saved, "rb") as f:
        content = f.read()
    expected = b"\xef\xbb\xbfFarbNr;Bezeichnung;Minuten\r\n5;Orange;10\r\n13;442 nm;5\r\n"
    if content != expected:
        raise Failure(f"{saved} holds {content!r}, expected {expected!r}")
    if os.path.exists(target):
        raise Failure(f"{target} written without the extension")


def case_save_as_csv(case):
    """Ctrl+S, a name typed without extension, the type "CSV (Semikolon)"
    chosen below it (Tab, Down): the file gets ".csv" and the same content."""
    p = program(case, conf="3\n").start()
    wid = p.main_window()
    click(wid, palette("Orange"))
    set_minutes(p, wid, 1, 10)
    focus(wid)
    xdotool("key", "ctrl+s")
    dialog = p.window("Abfolge speichern")
    focus(dialog)
    target = os.path.join(p.folder, "abfolge")
    xdotool("type", "--delay", 20, target)
    xdotool("key", "Tab", "Down", "Return")
    p.window_gone("Abfolge speichern")
    saved = target + ".csv"
    wait_for(f"{saved} to be written", lambda: os.path.exists(saved))
    with open(saved, "rb") as f:
        content = f.read()
    expected = b"\xef\xbb\xbfFarbNr;Bezeichnung;Minuten\r\n5;Orange;10\r\n"
    if content != expected:
        raise Failure(f"{saved} holds {content!r}, expected {expected!r}")
    for other in (target, target + ".tintrava"):
        if os.path.exists(other):
            raise Failure(f"{other} written")


def case_open_quoted_csv(case):
    """A file as a spreadsheet saves it with its text quoted, named on the
    command line: the grid holds its steps."""
    p = program(case)
    path = os.path.join(p.folder, "aus calc.csv")
    with open(path, "wb") as f:
        f.write(ROSA_TUERKIS_GELB_QUOTED)
    p.start(path)
    played(p, "the steps of the quoted file", ROSA_TUERKIS_GELB)


def case_open_from_command_line(case):
    """tintrava FILE: after the start-up check the grid holds the file's steps."""
    p = program(case)
    path = os.path.join(p.folder, "drei farben.tintrava")
    with open(path, "wb") as f:
        f.write(ROSA_TUERKIS_GELB_FILE)
    p.start(path)
    played(p, "the steps of the file", ROSA_TUERKIS_GELB)


def case_file_commands_off_while_playing(case):
    """While a sequence plays the menu entries are disabled and Ctrl+O and
    Ctrl+S do nothing; after "Abbrechen" the same clicks and keys open the
    dialogs."""
    p = program(case, conf="3\n", devices=BYTE_LAMP).start()
    wid = p.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    p.wait_calls("the first colour", lambda cs: colour_writes(cs))

    for from_bottom, caption in ((2, "Abfolge öffnen"), (1, "Abfolge speichern"), (0, "Tintrava")):
        menu = open_menu(p, wid)
        click_menu_entry(menu, from_bottom)
        event_loop_went_on(p)
        # A disabled entry leaves the menu open; it is closed by hand.
        if menu in popups(p):
            xdotool("key", "Escape")
            wait_for("the menu to close", lambda: menu not in popups(p))
        nothing_opens(p, [caption])
    focus(wid)
    xdotool("key", "ctrl+o")
    xdotool("key", "ctrl+s")
    nothing_opens(p, ["Abfolge öffnen", "Abfolge speichern"])

    click(wid, CANCEL_BUTTON)
    p.wait_calls("the lamp being switched off", lambda cs: any(c.heard == "colour:11" for c in writes(cs)))
    for from_bottom, caption in ((2, "Abfolge öffnen"), (1, "Abfolge speichern")):
        menu = open_menu(p, wid)
        click_menu_entry(menu, from_bottom)
        dialog = p.window(caption)
        focus(dialog)
        xdotool("key", "Escape")
        p.window_gone(caption, dialog)
    for key, caption in (("ctrl+o", "Abfolge öffnen"), ("ctrl+s", "Abfolge speichern")):
        focus(wid)
        xdotool("key", key)
        dialog = p.window(caption)
        focus(dialog)
        xdotool("key", "Escape")
        p.window_gone(caption, dialog)


def case_last_sequence(case):
    """Closing the window with steps keeps them beside my.conf; at the next
    start "Letzte Abfolge laden" brings them back."""
    p = program(case).start()
    wid = p.main_window()
    add_rosa_tuerkis_gelb(p, wid)
    close_window(wid)
    wait_for("the program to end after the close", lambda: not p.running())
    if p.process.returncode != 0:
        raise Failure(f"the program ended with exit status {p.process.returncode}")
    last = os.path.join(p.folder, "letzte-abfolge.tintrava")
    with open(last, "rb") as f:
        content = f.read()
    if content != ROSA_TUERKIS_GELB_FILE:
        raise Failure(f"{last} holds {content!r}, expected {ROSA_TUERKIS_GELB_FILE!r}")

    again = program(case, conf=None, folder=p.folder).start()
    wid = again.main_window()
    click_menu_entry(open_menu(again, wid), 0)
    played(again, "the last sequence", ROSA_TUERKIS_GELB)


def case_bad_file(case):
    """A file with an unknown colour on line 4, opened with Ctrl+O, gives the
    error box and leaves the grid as it was; named on the command line, the
    program starts with an empty grid after the box."""
    p = program(case).start()
    wid = p.main_window()
    add_rosa_tuerkis_gelb(p, wid)
    bad = os.path.join(p.folder, "kaputt.tintrava")
    with open(bad, "wb") as f:
        f.write(BAD_FILE)
    focus(wid)
    xdotool("key", "ctrl+o")
    type_file_name(p, "Abfolge öffnen", bad)
    press_return_on_box(p)
    played(p, "the steps from before the bad file", ROSA_TUERKIS_GELB)
    p.stop()

    again = program(case).start(bad)
    press_return_on_box(again)
    wid = again.main_window()
    # An empty grid: "Abfolge starten" says there is nothing to play.
    click(wid, START_BUTTON)
    press_return_on_box(again)
    if colour_writes(again.calls()):
        raise Failure("colours sent although the grid should be empty")


if __name__ == "__main__":
    sys.exit(main({
        "save_with_ctrl_s": case_save_with_ctrl_s,
        "save_as_csv": case_save_as_csv,
        "open_quoted_csv": case_open_quoted_csv,
        "open_from_command_line": case_open_from_command_line,
        "file_commands_off_while_playing": case_file_commands_off_while_playing,
        "last_sequence": case_last_sequence,
        "bad_file": case_bad_file,
    }))
