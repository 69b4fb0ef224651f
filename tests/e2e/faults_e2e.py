#!/usr/bin/env python3
"""End-to-end cases of the real program where the world is unkind: a second
start, a lock left by a killed copy, no display, a file-size limit, a
"my.conf" that cannot be read, a copy of the user's own that runs.

    faults_e2e.py CASE --program PATH --lamp PATH
"""

import os
import pwd
import re
import resource
import signal
import socket
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tintrava_e2e import *  # noqa: E402,F401,F403
from tintrava_e2e import Failure, MAIN_CAPTION, MAIN_SIZE, window_geometry, MODEL_ITEM_X, MODEL_ITEMS_Y, SAVE_BUTTON, DECLINE_BUTTON  # noqa: E402
from tintrava_e2e import click, colour_writes, die_with_parent, focus, main, wait_for, xdotool  # noqa: E402
from tintrava_e2e import START_BUTTON, palette, stop_playback  # noqa: E402

BOX = "Tintrava"  # caption of the program's message and error boxes
LOCK = "io.github.tintrava.Tintrava.lock"


def confirm_box(program):
    """Answers the program's message box with Return."""
    box = program.window(BOX)
    focus(box)
    xdotool("key", "Return")
    return box


def wait_end(program, timeout=20.0):
    wait_for("the program to end", lambda: not program.running(), timeout)
    return program.process.returncode


def stderr_of(program):
    with open(program.stderr_path, encoding="utf-8", errors="replace") as f:
        return f.read()


def check_still_running(program, wid):
    """The program lives on and its event loop runs: the discovery timer
    lists the devices twice more."""
    before = len(program.calls())
    program.wait_calls("the first copy's discovery timer to go on",
                       lambda cs: len([c for c in cs[before:] if c.call == "FT_ListDevices"]) >= 2)
    if wid not in program.windows(MAIN_CAPTION):
        raise Failure("the first copy's main window is gone")


def stacking():
    """The root window's children, top-most first."""
    out = subprocess.run(["xwininfo", "-root", "-children"], capture_output=True, text=True, timeout=30).stdout
    return [int(m.group(1), 16) for m in re.finditer(r"^\s+(0x[0-9a-f]+) ", out, re.M)]


def above(upper, lower):
    order = stacking()
    return upper in order and lower in order and order.index(upper) < order.index(lower)


def cover(case, wid):
    """Puts another program's window over the main window."""
    x, y, w, h = window_geometry(wid)
    other = subprocess.Popen(["xmessage", "-geometry", f"{w + 40}x{h + 40}+{max(x - 20, 0)}+{max(y - 20, 0)}",
                              "Ein anderes Programm"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             preexec_fn=die_with_parent)
    case.processes.append(other)

    def found():
        if other.poll() is not None:
            raise Failure(f"xmessage ended with exit status {other.returncode}")
        # xmessage does not name its process on its window; the class will do.
        out = xdotool("search", "--onlyvisible", "--class", "^Xmessage$", check=False)
        return [int(w) for w in out.split()]
    covering = wait_for("the covering window", found)[0]
    wait_for("the covering window above the main window", lambda: above(covering, wid))
    return covering


HANDED_SEQUENCE = "\ufeffFarbNr;Bezeichnung;Minuten\r\n5;Orange;0\r\n"


def second_start_is_refused(case, first, first_wid, with_file=True):
    """A second start ends with status 0 without ever touching the lamp; the
    first copy runs on. With a file: no box, the first copy opens the file.
    Without: the box "Tintrava läuft bereits."."""
    second = case.program(conf="3\n")
    if with_file:
        with open(os.path.join(second.folder, "Abfolge.tintrava"), "w", encoding="utf-8", newline="") as f:
            f.write(HANDED_SEQUENCE)
        second.start("Abfolge.tintrava")
        box = None
    else:
        second.start()
        box = confirm_box(second)
    status = wait_end(second)
    print(f"second start{' with a file' if with_file else ''}: box {box}, exit status {status}")
    if status != 0:
        raise Failure(f"the second start ended with exit status {status}\n{stderr_of(second)}")
    if second.calls():
        raise Failure(f"the second start used the lamp driver: {second.calls()[:3]}")
    check_still_running(first, first_wid)
    if first.windows(BOX):
        raise Failure("the first copy shows a box after the second start")
    if not with_file:
        return
    # The running copy holds the handed sequence: played, its one step of
    # 0 minutes lights the lamp orange (row 3), then the lamp goes off.
    before = len(colour_writes(first.calls()))
    click(first_wid, START_BUTTON)
    first.wait_calls("the handed sequence played and switched off",
                     lambda cs: [c.heard for c in colour_writes(cs)[before:]][:2] == ["C:FF7D00", "C:000000"])


def case_second_start(case):
    """Two starts by one user: the second hands over its file and ends, the
    first comes to the front, keeps running and keeps the lamp; a third
    start without a file shows its box and ends the same way."""
    first = case.program(conf="3\n").start()
    wid = first.main_window()
    covering = cover(case, wid)
    second_start_is_refused(case, first, wid)
    # Without a window manager nothing stands between the program and the
    # X server, so its raise takes effect.
    if not above(wid, covering):
        raise Failure("the running copy did not come to the front at the second start")
    second_start_is_refused(case, first, wid, with_file=False)


def case_stale_lock(case):
    """A copy killed outright leaves its lock behind; the next start takes it
    over and runs, and then itself keeps a further start out."""
    first = case.program(conf="3\n").start()
    first.main_window()
    lock = os.path.join(case.runtime_dir(), LOCK)
    if not os.path.exists(lock):
        raise Failure(f"the running program holds no lock at {lock}")
    first.process.send_signal(signal.SIGKILL)
    first.process.wait()
    if not os.path.exists(lock):
        raise Failure("the killed copy's lock is gone; the case tests nothing")

    again = case.program(conf="3\n").start()
    wid = again.main_window()
    if again.windows(BOX):
        raise Failure("the start after a killed copy shows a box")
    with open(lock) as f:
        holder = int(f.readline())
    if holder != again.pid:
        raise Failure(f"the lock names pid {holder}, not the running copy {again.pid}")
    second_start_is_refused(case, again, wid)


def check_no_session(program, expected):
    status = wait_end(program)
    err = stderr_of(program)
    print(f"exit status {status}; standard error:\n{err.strip()}")
    if status != 1:
        raise Failure(f"exit status {status}, expected 1 (a negative status is a signal: {status < 0})")
    for text in expected:
        if text not in err:
            raise Failure(f"standard error lacks {text!r}")
    if "Reinstalling" in err or "core dumped" in err:
        raise Failure("Qt's abort came through")
    if program.calls():
        raise Failure("the program used the lamp driver without a display")


def case_no_display(case):
    """Neither DISPLAY nor WAYLAND_DISPLAY: a German sentence and exit status 1.
    The offscreen platform needs no display and starts all the same."""
    unset = {"DISPLAY": None, "WAYLAND_DISPLAY": None, "QT_QPA_PLATFORM": None}
    program = case.program(conf="3\n").start(env=unset)
    check_no_session(program, ["tintrava: Keine grafische Sitzung gefunden",
                               "weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt"])

    program = case.program(conf="3\n").start(env=dict(unset, QT_QPA_PLATFORM="offscreen"))
    # Its discovery timer goes on listing: the event loop runs (wait_calls
    # fails should the program end meanwhile).
    program.wait_calls("the offscreen copy's discovery timer to list the devices three times",
                       lambda cs: len([c for c in cs if c.call == "FT_ListDevices"
                                       and c.args.get("flags") == "NUMBER_ONLY"]) >= 3)
    program.stop()


def default_runtime_folder():
    """The runtime folder a copy of the user's own would use: XDG_RUNTIME_DIR
    when it is set and the user's, else Qt's runtime-USER in the temporary
    folder."""
    given = os.environ.get("XDG_RUNTIME_DIR", "")
    if given and os.path.isdir(given) and os.stat(given).st_uid == os.geteuid():
        return given
    return os.path.join(os.environ.get("TMPDIR") or "/tmp", f"runtime-{pwd.getpwuid(os.geteuid()).pw_name}")


def lock_holder(folder):
    """The pid of the running copy whose lock is in folder, or None."""
    try:
        with open(os.path.join(folder, LOCK)) as f:
            pid = int(f.readline())
    except (OSError, ValueError):
        return None
    return pid if os.path.exists(f"/proc/{pid}") else None


def case_user_copy_running(case):
    """A copy of Tintrava that the same user runs with the default runtime
    folder (the user's own, or one a test without a folder of its own
    started) does not take the test's program over: the test's program
    starts its own main window and plays the file named on its command line,
    and the other copy is left alone."""
    folder = default_runtime_folder()
    foreign = None
    holder = lock_holder(folder)
    if holder is None:
        # Started as the user's own copy would be: the environment as it is.
        env = {"XDG_RUNTIME_DIR": os.environ.get("XDG_RUNTIME_DIR")}
        foreign = case.program(conf="3\n").start(env=env)
        foreign.main_window()
        holder = wait_for(f"the other copy's lock in {folder}", lambda: lock_holder(folder))
        if holder != foreign.pid:
            raise Failure(f"the lock in {folder} names pid {holder}, not the other copy {foreign.pid}")
    print(f"the default runtime folder {folder} is held by pid {holder}")

    program = case.program(conf="3\n")
    path = os.path.join(program.folder, "Abfolge.tintrava")
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(HANDED_SEQUENCE)
    program.start(path)

    def first_window():
        if not program.running():
            raise Failure(f"the test's program ended (exit status {program.process.returncode})")
        if program.windows(BOX):
            raise Failure("the test's program shows a box at start (\"Tintrava läuft bereits.\"?): "
                          "it found the other copy and handed its file over")
        return program.windows(MAIN_CAPTION, size=MAIN_SIZE)
    wait_for("the test's program's main window or box", first_window)
    wid = program.main_window()
    if lock_holder(case.runtime_dir()) != program.pid:
        raise Failure(f"the test's program holds no lock in its own runtime folder {case.runtime_dir()}")
    # The grid holds the file: its one step of 0 minutes lights the lamp
    # orange (row 3), then the lamp goes off.
    click(wid, START_BUTTON)
    program.wait_calls("the file's sequence played and switched off",
                       lambda cs: [c.heard for c in colour_writes(cs)][:2] == ["C:FF7D00", "C:000000"])
    if lock_holder(folder) != holder:
        raise Failure(f"the lock in {folder} changed hands during the test")
    if foreign is not None:
        if not foreign.running() or foreign.windows(BOX):
            raise Failure("the other copy ended or shows a box: the test's program reached it")
        if colour_writes(foreign.calls()):
            raise Failure("the other copy played a sequence: the file was handed to it")


def free_display_number():
    for n in range(399, 100, -1):
        if os.path.exists(f"/tmp/.X11-unix/X{n}"):
            continue
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", 6000 + n)) != 0:
                return n
    raise Failure("no free X display number")


def case_unreachable_display(case):
    """DISPLAY names a display that is not there, then one whose port answers
    but is no X server: both end with a German sentence and exit status 1
    instead of Qt's abort."""
    n = free_display_number()
    program = case.program(conf="3\n").start(env={"DISPLAY": f":{n}", "WAYLAND_DISPLAY": None})
    check_no_session(program, [f"tintrava: Keine grafische Sitzung gefunden: die X-Anzeige \u201E:{n}\u201C "
                               "ist nicht erreichbar"])

    # Something listens on the display's port and hangs up at once.
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 6000 + n))
    server.listen(8)

    def hang_up():
        while True:
            try:
                conn, _ = server.accept()
            except OSError:
                return
            conn.close()
    threading.Thread(target=hang_up, daemon=True).start()
    try:
        program = case.program(conf="3\n").start(env={"DISPLAY": f"127.0.0.1:{n}", "WAYLAND_DISPLAY": None})
        check_no_session(program, ["tintrava: Die grafische Oberfl\u00E4che konnte nicht gestartet werden"])
    finally:
        server.close()


def sigxfsz_ignored(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("SigIgn:"):
                return bool(int(line.split()[1], 16) & (1 << (signal.SIGXFSZ - 1)))
    raise Failure("no SigIgn in /proc status")


def case_file_size_limit(case):
    """Under a file-size limit a save fails with the error box and the old
    my.conf stays; the model chosen serves this run, and the next start
    asks again, where the same choice is then saved."""
    program = case.program(conf="9\n").start()
    dialog = program.window("Hardwareauswahl")
    if not sigxfsz_ignored(program.pid):
        raise Failure("the program does not ignore SIGXFSZ")

    # A one-byte limit: the new file's "1\n" cannot be written whole. The
    # virtual lamp's trace (appended beyond that byte) stops meanwhile.
    _soft, hard = resource.prlimit(program.pid, resource.RLIMIT_FSIZE)
    resource.prlimit(program.pid, resource.RLIMIT_FSIZE, (1, hard))
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[0]))
    click(dialog, SAVE_BUTTON)
    try:
        box = program.window(BOX)
    except Failure:
        if not program.running():
            raise Failure(f"the save killed the program (status {program.process.returncode})")
        raise
    resource.prlimit(program.pid, resource.RLIMIT_FSIZE, (hard, hard))
    if not program.running():
        raise Failure(f"the program ended (status {program.process.returncode})")
    with open(program.conf_path, "rb") as f:
        if f.read() != b"9\n":
            raise Failure("my.conf changed although the save failed")
    leftovers = [n for n in os.listdir(program.folder) if n.startswith("my.conf") and n != "my.conf"]
    if leftovers:
        raise Failure(f"the failed save left files behind: {leftovers}")
    focus(box)
    xdotool("key", "Return")
    program.window_gone(BOX, box)
    program.window_gone("Hardwareauswahl", dialog)
    program.main_window()
    program.stop()

    again = case.program(conf=None, folder=program.folder).start()
    dialog = again.window("Hardwareauswahl")
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[0]))
    click(dialog, SAVE_BUTTON)
    again.window_gone("Hardwareauswahl", dialog)
    with open(again.conf_path, "rb") as f:
        content = f.read()
    if content != b"1\n":
        raise Failure(f"my.conf holds {content!r} after the save without a limit, expected b'1\\n'")
    again.main_window()
    if not again.running():
        raise Failure("the program ended after the save")


def case_unreadable_conf(case):
    """my.conf is a folder: the error box, then the hardware dialog as for an
    invalid file; declining it shows the closing message and ends the program.
    No colour ever reaches the lamp."""
    program = case.program(conf=None)
    os.mkdir(program.conf_path)
    program.start()
    confirm_box(program)          # the read error
    dialog = program.window("Hardwareauswahl")
    click(dialog, DECLINE_BUTTON)
    confirm_box(program)          # "Ohne Auswahl einer Hardware ..."
    status = wait_end(program)
    if status != 0:
        raise Failure(f"the program ended with exit status {status}")
    if not os.path.isdir(program.conf_path):
        raise Failure("my.conf is no longer the folder it was")
    sent = colour_writes(program.calls())
    if sent:
        raise Failure(f"colours reached the lamp: {sent}")


def case_unreadable_conf_chosen(case):
    """my.conf is a folder: the error box, the hardware dialog; "speichern"
    fails for the same reason and says so, yet the model chosen serves this
    run: the main window comes and a sequence plays with that model's
    colours."""
    program = case.program(conf=None)
    os.mkdir(program.conf_path)
    program.start()
    confirm_box(program)          # the read error
    dialog = program.window("Hardwareauswahl")
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[0]))   # "Nivra Kegel (klein)": table row 1
    click(dialog, SAVE_BUTTON)
    confirm_box(program)          # the write error
    program.window_gone("Hardwareauswahl")
    wid = program.main_window()
    if not os.path.isdir(program.conf_path):
        raise Failure("my.conf is no longer the folder it was")
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    program.wait_calls("Orange of table row 1 (C:FF9600)",
                       lambda cs: any(c.heard == "C:FF9600" for c in colour_writes(cs)))
    stop_playback(program, wid, "C:000000")


if __name__ == "__main__":
    sys.exit(main({
        "second_start": case_second_start,
        "stale_lock": case_stale_lock,
        "no_display": case_no_display,
        "unreachable_display": case_unreachable_display,
        "file_size_limit": case_file_size_limit,
        "unreadable_conf": case_unreadable_conf,
        "user_copy_running": case_user_copy_running,
        "unreadable_conf_chosen": case_unreadable_conf_chosen,
    }))
