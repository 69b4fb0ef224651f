#!/usr/bin/env python3
"""The real program with the real screen reader: Debian's Orca, started on the
case's private D-Bus session and accessibility bus, listens to the program
under X while xdotool presses the keys a blind user would press; what Orca
says is written to a file by a speech server of ours (orca/tintrava_speech_log.py)
instead of reaching speech-dispatcher, and compared with the German phrases
the user must hear (Orca's extra words are allowed).

    orca_e2e.py CASE --program PATH --lamp PATH [...]

Orca runs with its own settings folder, HOME and XDG folders, started by
orca/run_orca.py, which (unlike /usr/bin/orca) leaves any other Orca of the
user alone. Needs orca (Debian) beside what keyboard_e2e.py needs.
"""

import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from private_bus import on_private_bus  # noqa: E402

if __name__ == "__main__":
    on_private_bus(__file__)

from keyboard_e2e import key, keyboard_on, main, start_accessibility_bus  # noqa: E402
from tintrava_e2e import Failure, TEXT_LAMP, die_with_parent, wait_for  # noqa: E402

ORCA_MODULES = "/usr/lib/python3/dist-packages/orca"
SPEECH_TIMEOUT = 60.0


class Orca:
    """Orca with private settings; its speech is read from a log file."""

    def __init__(self, case):
        self.case = case
        root = os.path.join(case.tmp, "orca")
        self.home = os.path.join(root, "home")
        self.prefs = os.path.join(root, "settings")
        self.log = os.path.join(root, "speech.log")
        self.debug_log = os.path.join(root, "debug.log")
        for folder in (self.home, self.prefs):
            os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(HERE, "orca", "tintrava_speech_log.py"), self.prefs)
        profile = {
            "profile": ["Default", "default"],
            "speechServerFactory": "tintrava_speech_log",
            "speechServerInfo": None,
            "enableSpeech": True,
            "keyboardLayout": 1,  # desktop: the keypad keys
            "enableTutorialMessages": False,
        }
        with open(os.path.join(self.prefs, "user-settings.conf"), "w") as f:
            json.dump({"general": dict(profile, startingProfile=["Default", "default"]),
                       "profiles": {"default": profile}, "keybindings": {}, "pronunciations": {}}, f)
        open(self.log, "w").close()
        self.read_to = 0
        self.process = None

    def start(self):
        if not os.path.isdir(ORCA_MODULES):
            raise Failure("Orca is not installed (Debian: orca)")
        env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   XDG_RUNTIME_DIR=self.case.runtime_dir(), TINTRAVA_ORCA_SPEECH_LOG=self.log)
        with open(os.path.join(self.case.tmp, "orca-stderr.log"), "ab") as err:
            self.process = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "orca", "run_orca.py"),
                                             self.prefs, self.debug_log],
                                            env=env, stdout=err, stderr=err, preexec_fn=die_with_parent)
        self.case.processes.append(self.process)
        # Orca announces itself once it listens.
        wait_for("Orca to start speaking", lambda: self.lines(), SPEECH_TIMEOUT)
        self.mark()

    def lines(self):
        if self.process.poll() is not None:
            raise Failure(f"Orca ended (exit status {self.process.returncode})")
        with open(self.log, encoding="utf-8") as f:
            return [line.rstrip("\n").split("\t", 1)[-1] for line in f if line.endswith("\n")]

    def mark(self):
        """What Orca says from now on is what the next checks look at."""
        self.read_to = len(self.lines())

    def since_mark(self):
        return self.lines()[self.read_to:]

    def hears(self, what, *phrases, absent=()):
        """Waits until Orca has said every phrase since the mark (each within
        one utterance), then checks that none of `absent` was said."""
        def said():
            spoken = self.since_mark()
            return spoken if all(any(p in line for line in spoken) for p in phrases) else None
        try:
            spoken = wait_for(what, said, SPEECH_TIMEOUT)
        except Failure:
            raise Failure(f"{what}: Orca did not say {list(phrases)}; it said {self.since_mark()}")
        for phrase in absent:
            if any(phrase in line for line in spoken):
                raise Failure(f"{what}: Orca said {phrase!r}: {spoken}")
        print(f"{what}: {spoken}")
        self.mark()
        return spoken

    def quiet_after(self, what, absent, settle=1.5):
        """Nothing of `absent` said for a while after the mark: for what must
        not follow (the wait is no timing assertion, only a chance for a
        wrong utterance to show)."""
        time.sleep(settle)
        spoken = self.since_mark()
        for phrase in absent:
            if any(phrase in line for line in spoken):
                raise Failure(f"{what}: Orca said {phrase!r}: {spoken}")


def case_orca_speech(case):
    """Orca at start, on the palette, after Space, on the buttons, in the list
    (rows counted without the header), in where-am-I and flat review, and
    when the lamp is unplugged and plugged in again."""
    start_accessibility_bus()
    orca = Orca(case)
    orca.start()
    home = os.path.join(case.tmp, "home")
    program = case.program(conf="3\n", devices=TEXT_LAMP).start(
        env={"HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config")})
    program.main_window()
    keyboard_on(program, "Tintrava V.1.50")
    # The first discovery finds the lamp about when the window comes.
    orca.hears("start", "Tintrava V.1.50", "Weiß", "Fügt diese Farbe am Ende der Liste hinzu", "Verbindung: USB")

    key("space")
    orca.hears("Space on Weiß", "Weiß hinzugefügt, 1 Schritt", absent=("Tabelle", "Zeile"))
    orca.quiet_after("after Space on Weiß", ("Tabelle", "Zeile", "eingestellte Tintrava"))
    key("KP_Enter")
    orca.hears("where am I on Weiß", "Weiß", absent=("Tabelle", "Zeile"))

    key("Down")
    orca.hears("Down to Rosa", "Rosa")
    key("space")
    orca.hears("Space on Rosa", "Rosa hinzugefügt, 2 Schritte", absent=("Tabelle",))
    key("Down", "Return")
    orca.hears("Enter on Magenta", "Magenta hinzugefügt, 3 Schritte", absent=("Tabelle",))

    # From Magenta, Tab passes the rest of the palette to the list.
    key(*["Tab"] * 10)
    orca.hears("Tab into the list", "Tabelle mit 3 Zeilen 3 Spalten", "Weiß", absent=("4 Zeilen",))
    key("KP_Enter")
    orca.hears("where am I in the list", "Zeile 1 von 3", absent=("von 4",))
    key("Down")
    orca.hears("Down in the list", "Rosa")
    key("KP_Enter")
    orca.hears("where am I on the second step", "Zeile 2 von 3")
    key("plus")
    orca.hears("+ in the list", "Rosa: 2 Minuten")
    key("Delete")
    orca.hears("Delete in the list", "Rosa gelöscht, 2 Schritte")

    key("Tab")
    orca.hears("Tab to Zeile löschen", "Zeile löschen")
    key("Tab")
    orca.hears("Tab to Minuten +", "Minuten +")
    key("space")
    orca.hears("Space on Minuten +", "Magenta: 2 Minuten")

    key("KP_Add", "KP_Add")
    orca.hears("flat review of the window", "Verbindung", "USB")
    key("KP_Subtract")  # flat review off again
    orca.mark()

    program.set_devices("#" + TEXT_LAMP)
    orca.hears("the lamp unplugged", "Verbindung: keine Verbindung")
    program.set_devices(TEXT_LAMP)
    orca.hears("the lamp plugged in", "Verbindung: USB")


CASES = {
    "orca_speech": case_orca_speech,
}

if __name__ == "__main__":
    sys.exit(main(CASES))
