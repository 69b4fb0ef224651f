#!/usr/bin/env python3
"""End-to-end tests of the real program by keyboard and through the
accessibility bus (AT-SPI).

    keyboard_e2e.py CASE --program PATH --lamp PATH [...]

Keys are xdotool key events only; what the program shows is read the way a
screen reader reads it, through AT-SPI. Each case runs on a private D-Bus
session (dbus-run-session) with its own accessibility bus, and the program is
started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1. Needs python3-gi,
gir1.2-atspi-2.0, at-spi2-core and dbus (Debian).

There is no window manager: the program itself must put the keyboard focus
on its window at start and after its boxes close.
"""

import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from private_bus import on_private_bus  # noqa: E402

if __name__ == "__main__":
    on_private_bus(__file__)

import warnings  # noqa: E402

import gi  # noqa: E402

# AT-SPI 2.46 marks the plain getters used here as deprecated; they still work.
warnings.filterwarnings("ignore", message=r"Atspi\..* is deprecated", category=DeprecationWarning)

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

from tintrava_e2e import *  # noqa: E402,F401,F403
from tintrava_e2e import Failure, TEXT_LAMP, colour_writes, main, wait_for, window_geometry, xdotool  # noqa: E402

PALETTE = ["Weiß", "Rosa", "Magenta", "Violett", "Indigo", "Blau", "Türkis", "Grün", "Gelb", "Orange", "Rot",
           "Wellenlängen-Angabe"]
HEADERS = ["FarbNr", "Bezeichnung", "Minuten"]
ADDS_COLOUR = "Fügt diese Farbe am Ende der Liste hinzu"
ASKS_WAVELENGTH = "Fragt nach einer Wellenlänge und fügt sie am Ende der Liste hinzu"
# Table row 3 (my.conf holds 3) on the text lamp.
WEISS, ROT, OFF = "C:C8C8C8", "C:FF0000", "C:000000"


# ---------------------------------------------------------------------------
# The accessibility bus

def start_accessibility_bus():
    """Asking for the desktop starts the bus and its registry; the program
    finds them when it starts."""
    Atspi.get_desktop(0).get_child_count()


def children(acc):
    return [acc.get_child_at_index(i) for i in range(acc.get_child_count())]


def walk(acc):
    yield acc
    if acc.get_role() == Atspi.Role.TABLE:  # cells are read through the table
        return
    for child in children(acc):
        yield from walk(child)


def application(program):
    def find():
        if not program.running():
            raise Failure(f"the program ended (exit status {program.process.returncode})")
        desktop = Atspi.get_desktop(0)
        for app in children(desktop):
            try:
                if app.get_process_id() == program.pid:
                    return app
            except gi.repository.GLib.Error:
                continue
        return None
    return wait_for("the program on the accessibility bus", find)


def main_window_of(app):
    def find():
        for w in children(app):
            if w.get_name() == "Tintrava V.1.50":
                if w.get_role() != Atspi.Role.FRAME:
                    raise Failure(f"the main window is a {w.get_role_name()}, not a frame")
                return w
        return None
    return wait_for("the main window on the accessibility bus", find)


def dialog_of(app, caption):
    def find():
        return next((w for w in children(app) if w.get_name() == caption), None)
    return wait_for(f"\"{caption}\" on the accessibility bus", find)


def find_all(root, role=None, name=None):
    return [a for a in walk(root)
            if (role is None or a.get_role() == role) and (name is None or a.get_name() == name)]


def find_one(root, role, name):
    found = find_all(root, role, name)
    if len(found) != 1:
        raise Failure(f"expected one {role.value_nick} named {name!r} on the accessibility bus, found {len(found)}")
    return found[0]


def grid_of(window):
    tables = find_all(window, Atspi.Role.TABLE)
    if len(tables) != 1:
        raise Failure(f"expected one table in the main window, found {len(tables)}")
    return tables[0]


def grid_rows(table):
    """The grid's rows as the screen reader reads them: its column
    descriptions, then its rows, the steps."""
    columns = Atspi.Table.get_n_columns(table)
    rows = ["|".join(Atspi.Table.get_column_description(table, c) for c in range(columns))]
    for r in range(Atspi.Table.get_n_rows(table)):
        rows.append("|".join(Atspi.Table.get_accessible_at(table, r, c).get_name()
                             for c in range(Atspi.Table.get_n_columns(table))))
    return rows


def wait_rows(table, expected, what):
    last = []

    def check():
        last[:] = grid_rows(table)
        return last == expected
    try:
        wait_for(what, check, 15)
    except Failure:
        raise Failure(f"{what}: the grid reads {last}, expected {expected}")


def selected_row(table):
    rows = Atspi.Table.get_selected_rows(table)
    return rows[0] if len(rows) == 1 else None


def text_of(acc):
    return Atspi.Text.get_text(acc, 0, Atspi.Text.get_character_count(acc))


def actions_of(acc):
    return [Atspi.Action.get_action_name(acc, i) for i in range(Atspi.Action.get_n_actions(acc))]


# ---------------------------------------------------------------------------
# Keys

def key(*names):
    for name in names:
        xdotool("key", "--clearmodifiers", name)


def keyboard_on(program, caption):
    """The program's window has the keyboard focus: the program must give it
    itself, as there is no window manager to do it."""
    wid = program.window(caption)
    try:
        wait_for(f"keyboard focus on \"{caption}\"", lambda: xdotool("getwindowfocus").strip() == str(wid), 15)
    except Failure:
        focused = xdotool("getwindowfocus", check=False).strip()
        raise Failure(f"\"{caption}\" (window {wid}) did not take the keyboard focus by itself; "
                      f"window {focused} has it")
    return wid


def type_into_box(program, caption, text):
    box = keyboard_on(program, caption)
    xdotool("type", "--delay", 40, text)
    key("Return")
    program.window_gone(caption, box)


# ---------------------------------------------------------------------------
# Cases

def case_keyboard_only(case):
    """Weiß, a wavelength (550) and Rot added by keyboard; "+" on Rot, Gelb
    added and deleted with Delete, Weiß and 550 nm set to 0 minutes with F2
    and Enter; F5 plays, Escape stops. The grid is read through AT-SPI, the
    lamp's trace shows each step and the lamp switched off at the end."""
    start_accessibility_bus()
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    program.main_window()
    keyboard_on(program, "Tintrava V.1.50")
    window = main_window_of(application(program))
    table = grid_of(window)
    header = "|".join(HEADERS)

    key("space")                                   # Weiß has the focus at start
    key(*["Down"] * 11, "Return")                  # Wellenlängen-Angabe
    type_into_box(program, "Wellenlänge", "550")
    keyboard_on(program, "Tintrava V.1.50")
    key("Up", "space")                             # Rot
    key("Up", "Up", "Return")                      # Gelb
    wait_rows(table, [header, "4|Weiß|1", "13|550 nm|1", "1|Rot|1", "8|Gelb|1"], "four steps added by keyboard")

    # From Gelb, Tab passes Orange, Rot and Wellenlängen-Angabe to the grid.
    key("Tab", "Tab", "Tab", "Tab")
    if selected_row(table) != 0:
        raise Failure(f"the grid's selection is on row {selected_row(table)}, expected the first step (row 0)")
    key("End")
    wait_for("the last step selected", lambda: selected_row(table) == 3, 10)
    key("Delete")                                   # Gelb
    wait_rows(table, [header, "4|Weiß|1", "13|550 nm|1", "1|Rot|1"], "Gelb deleted")
    key("plus")                                     # Rot: the selection moved up to it
    wait_rows(table, [header, "4|Weiß|1", "13|550 nm|1", "1|Rot|2"], "Rot raised to 2 minutes")
    key("Home", "F2")
    type_into_box(program, "Zeit ändern", "0")
    keyboard_on(program, "Tintrava V.1.50")
    key("Down", "Return")
    type_into_box(program, "Zeit ändern", "0")
    keyboard_on(program, "Tintrava V.1.50")
    wait_rows(table, [header, "4|Weiß|0", "13|550 nm|0", "1|Rot|2"], "Weiß and 550 nm at 0 minutes")

    before = len(program.calls())
    key("F5")
    calls = program.wait_calls("Rot on the lamp twice",
                               lambda cs: sum(c.heard == ROT for c in colour_writes(cs[before:])) >= 2)
    heard = [c.heard for c in colour_writes(calls[before:])]
    print(f"the lamp heard: {heard}")
    if len(heard) < 4 or heard[0] != WEISS or heard[1] in (WEISS, ROT, OFF) or heard[2:4] != [ROT, ROT]:
        raise Failure(f"the lamp heard {heard}, expected {WEISS}, the colour of 550 nm, then {ROT} repeated")
    overlay = find_one(window, Atspi.Role.LABEL, "Abfolge aktiv")
    texts = [c.get_name() for c in children(overlay) if c.get_role() == Atspi.Role.LABEL]
    if not any(t.startswith("Restdauer dieser Farbe: ") for t in texts) or \
            not any(t.startswith("Gesamtrestdauer: ") for t in texts):
        raise Failure(f"the remaining times are not readable while playing: {texts}")

    before = len(program.calls())
    key("Escape")
    calls = program.wait_calls("the lamp switched off", lambda cs: any(c.heard == OFF for c in colour_writes(cs[before:])))
    off_at = next(i for i, c in enumerate(calls) if i >= before and c.heard == OFF)
    calls = program.wait_calls("the discovery timer to run again after the stop",
                               lambda cs: sum(c.call == "FT_ListDevices" and c.args.get("flags") == "NUMBER_ONLY"
                                              for c in cs[off_at:]) >= 2)
    later = colour_writes(calls[off_at + 1:])
    if later:
        raise Failure(f"colours sent after Escape switched the lamp off: {[c.heard for c in later]}")
    wait_rows(table, [header, "4|Weiß|0", "13|550 nm|0", "1|Rot|2"], "the grid after playing")
    # The keyboard is back on the grid: Delete works on it again.
    key("Delete")
    wait_rows(table, [header, "4|Weiß|0", "1|Rot|2"], "a step deleted after playing")


def case_atspi_main_window(case):
    """Through AT-SPI: the twelve palette entries are push buttons named by
    their captions whose Press action adds the step; the grid's column
    headers; the indicator "Verbindung" reads "USB", and "keine Verbindung"
    once the lamp is unplugged."""
    start_accessibility_bus()
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    program.main_window()
    window = main_window_of(application(program))

    buttons = [a.get_name() for a in find_all(window, Atspi.Role.PUSH_BUTTON) if a.get_name() in PALETTE]
    if buttons != PALETTE:
        raise Failure(f"palette push buttons {buttons}, expected {PALETTE}")
    table = grid_of(window)
    descriptions = [Atspi.Table.get_column_description(table, c) for c in range(3)]
    if descriptions != HEADERS:
        raise Failure(f"the grid's column descriptions are {descriptions}, expected {HEADERS}")

    expected = ["|".join(HEADERS)]
    for name, number in (("Rot", 1), ("Indigo", 12), ("Weiß", 4)):
        button = find_one(window, Atspi.Role.PUSH_BUTTON, name)
        if button.get_description() != ADDS_COLOUR:
            raise Failure(f"{name}: description {button.get_description()!r}")
        names = actions_of(button)
        if "Press" not in names:
            raise Failure(f"{name}: no Press action, only {names}")
        if not Atspi.Action.do_action(button, names.index("Press")):
            raise Failure(f"{name}: Press failed")
        expected.append(f"{number}|{name}|1")
        wait_rows(table, expected, f"{name} pressed through AT-SPI")
    # The header row is the column headers, no row of the table.
    headers = [Atspi.Table.get_column_header(table, c).get_name() for c in range(Atspi.Table.get_n_columns(table))]
    if headers != HEADERS:
        raise Failure(f"the grid's column headers are {headers}, expected {HEADERS}")
    wavelength = find_one(window, Atspi.Role.PUSH_BUTTON, "Wellenlängen-Angabe")
    if wavelength.get_description() != ASKS_WAVELENGTH:
        raise Failure(f"Wellenlängen-Angabe: description {wavelength.get_description()!r}")

    indicator = find_one(window, Atspi.Role.COMBO_BOX, "Verbindung")
    wait_for("the indicator to read USB", lambda: text_of(indicator) == "USB")
    print("indicator before unplugging:", indicator.get_name(), text_of(indicator))
    program.set_devices("#" + TEXT_LAMP)
    wait_for("the indicator to read keine Verbindung", lambda: text_of(indicator) == "keine Verbindung")
    if indicator.get_name() != "Verbindung":
        raise Failure(f"the indicator is now named {indicator.get_name()!r}")
    print("indicator after unplugging:", indicator.get_name(), text_of(indicator))
    program.set_devices(TEXT_LAMP)
    wait_for("the indicator to read USB again", lambda: text_of(indicator) == "USB")


def grab_ppm(path, area):
    """A part of the screen as an 8-bit binary PPM, easy to read without libraries."""
    x, y, w, h = area
    result = subprocess.run(["import", "-window", "root", "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8",
                             f"ppm:{path}"], capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise Failure(f"screenshot failed: {result.stderr.strip()}")


def case_hardware_keyboard(case):
    """Without my.conf the hardware dialog takes the keyboard; Enter and
    Escape do nothing before a model is chosen, Down chooses "Nivra Kegel
    (groß)", Enter saves 2; then the keyboard is on "Weiß" in the main window."""
    start_accessibility_bus()
    program = case.program(conf=None, devices=TEXT_LAMP).start()
    wid = keyboard_on(program, "Hardwareauswahl")
    dialog = dialog_of(application(program), "Hardwareauswahl")
    model = find_one(dialog, Atspi.Role.RADIO_BUTTON, "Nivra Kegel (groß)")
    key("Return", "Escape", "Down")
    # The keys arrive in order: once Down has chosen the model, Enter and
    # Escape have been handled before it.
    wait_for("\"Nivra Kegel (groß)\" chosen with Down",
             lambda: model.get_state_set().contains(Atspi.StateType.CHECKED), 15)
    if wid not in program.windows("Hardwareauswahl") or os.path.exists(program.conf_path):
        raise Failure("Enter or Escape ended the hardware dialog before a model was chosen")
    key("Return")
    program.window_gone("Hardwareauswahl", wid)
    with open(program.conf_path, "rb") as f:
        content = f.read()
    if content != b"2\n":
        raise Failure(f"my.conf holds {content!r}, expected b'2\\n'")
    keyboard_on(program, "Tintrava V.1.50")
    window = main_window_of(application(program))
    key("space")
    wait_rows(grid_of(window), ["|".join(HEADERS), "4|Weiß|1"], "Weiß added after the dialog")


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure(f"unexpected screenshot format {fields}")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[pos + 1:]

    def pixel(x, y):
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])
    return width, height, pixel


def case_focus_frame(case):
    """The focus frame on a light (Weiß) and a dark (Indigo) palette entry, in
    screenshots of the palette: a black and a white line inside the entry, on
    the focused entry only."""
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    keyboard_on(program, "Tintrava V.1.50")
    x, y, _w, _h = window_geometry(wid)
    entry = {"Weiß": (16, (255, 255, 255)), "Indigo": (144, (40, 11, 53))}

    def check(shot, focused):
        _, _, pixel = read_ppm(shot)
        for name, (top, fill) in entry.items():
            # Columns across the entry, clear of the caption in the middle.
            for px in (16 + 3 + 10, 16 + 209 - 3 - 11):
                line = [pixel(px, top + dy) for dy in range(0, 25)]
                has_frame = line[3] == (0, 0, 0) and line[4] == (255, 255, 255) and \
                    line[21] == (0, 0, 0) and line[20] == (255, 255, 255)
                if name == focused and not has_frame:
                    raise Failure(f"{name} has the focus but no frame at x={px}: {line}")
                if name != focused and (line[3] != fill or line[4] != fill):
                    raise Failure(f"{name} has no focus but is not plain {fill} at x={px}: {line[:6]}")
            side = [pixel(16 + dx, top + 12) for dx in range(0, 8)]
            if name == focused and (side[3] != (0, 0, 0) or side[4] != (255, 255, 255)):
                raise Failure(f"{name}: no frame at its left side: {side}")
        print(f"{focused or 'no entry'}: focus frame as expected in {shot}")

    # Nothing pressed yet: the focus is on Weiß from the start, but the frame
    # shows only once the keyboard is used (a mouse user never sees it).
    shot = os.path.join(program.folder, "focus-none.ppm")
    wait_for("the window drawn", lambda: (grab_ppm(shot, (x, y, 240, 180)) or True) and
             read_ppm(shot)[2](16 + 100, 144 + 2) == (40, 11, 53), 15)
    check(shot, None)
    key("Down", "Up")
    shot = os.path.join(program.folder, "focus-weiss.ppm")

    def weiss_framed():
        grab_ppm(shot, (x, y, 240, 180))
        return read_ppm(shot)[2](16 + 13, 16 + 3) == (0, 0, 0)
    wait_for("the focus frame on Weiß after a key", weiss_framed, 15)
    check(shot, "Weiß")
    key("Down", "Down", "Down", "Down")
    shot = os.path.join(program.folder, "focus-indigo.ppm")

    def indigo_framed():
        grab_ppm(shot, (x, y, 240, 180))
        return read_ppm(shot)[2](16 + 13, 144 + 4) == (255, 255, 255)
    wait_for("the focus frame on Indigo", indigo_framed, 15)
    check(shot, "Indigo")
    for name in ("focus-none.ppm", "focus-weiss.ppm", "focus-indigo.ppm"):
        png = os.path.join(os.getcwd(), f"e2e-{name.replace('.ppm', '.png')}")
        subprocess.run(["convert", os.path.join(program.folder, name), png], check=False)


CASES = {
    "keyboard_only": case_keyboard_only,
    "atspi_main_window": case_atspi_main_window,
    "focus_frame": case_focus_frame,
    "hardware_keyboard": case_hardware_keyboard,
}

if __name__ == "__main__":
    sys.exit(main(CASES))
