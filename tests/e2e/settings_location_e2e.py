#!/usr/bin/env python3
"""Where the real program keeps "my.conf": in the user's config folder when
its own folder is read-only (an installed program), beside it when that
folder is writable (a portable copy). Cases as in tintrava_e2e.py."""

import os
import shutil
import subprocess
import sys

from tintrava_e2e import (MODEL_ITEM_X, MODEL_ITEMS_Y, SAVE_BUTTON, TEXT_LAMP, Failure, Program, Trace, click,
                          main)
from user_program import UserProgram, check_window_icon, shared_case_folder, user_folder


def read(path):
    with open(path, "rb") as f:
        return f.read()


def choose_model(program, position):
    """Answers the hardware dialog that comes up at start with the model at
    position and "speichern"; returns the main window."""
    dialog = program.window("Hardwareauswahl")
    dialog_icon = check_window_icon(dialog, "Hardwareauswahl")
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[position]))
    click(dialog, SAVE_BUTTON)
    program.window_gone("Hardwareauswahl", dialog)
    wid = program.main_window()
    # The main window's icon is written from the built-in pixels, the
    # dialog's by Qt from the same pixels: the two must not differ.
    if check_window_icon(wid, "Tintrava V.1.50") != dialog_icon:
        raise Failure("the main window's icon differs from the hardware dialog's")
    return wid


def program_in(case, writable):
    folder = shared_case_folder(case, "run")
    bin_dir = os.path.join(folder, "bin")
    user_folder(bin_dir, owned=writable)
    executable = os.path.join(bin_dir, "tintrava")
    shutil.copy2(case.args.program, executable)
    os.chmod(executable, 0o755)
    if not writable:
        os.chmod(bin_dir, 0o555)
    config_home = os.path.join(folder, "config")
    user_folder(config_home, owned=True)
    return folder, executable, config_home


def case_settings_installed(case):
    """A program in a read-only folder asks at its first start, saves the
    choice to $XDG_CONFIG_HOME/tintrava/my.conf (creating the folder) and
    finds it there at the next start without asking again."""
    folder, executable, config_home = program_in(case, writable=False)
    try:
        settings_installed(case, folder, executable, config_home)
    finally:
        # The case's folder is removed afterwards, by a user who needs to write.
        os.chmod(os.path.dirname(executable), 0o755)


def settings_installed(case, folder, executable, config_home):
    program = UserProgram(case, folder, executable, config_home).start()
    choose_model(program, 1)
    if not os.path.exists(program.user_conf_path):
        raise Failure(f"my.conf was not written to the config folder {program.user_conf_path}")
    if read(program.user_conf_path) != b"2\n":
        raise Failure(f"{program.user_conf_path} holds {read(program.user_conf_path)!r}, expected b'2\\n'")
    if os.path.exists(program.conf_path):
        raise Failure("my.conf appeared beside the program in its read-only folder")
    program.stop()

    again = UserProgram(case, folder, executable, config_home).start()
    again.main_window()
    # The start-up check follows the first show at once, before the first
    # listing; a dialog would be there by now.
    if again.windows("Hardwareauswahl"):
        raise Failure("the hardware dialog came up again although the config folder holds a valid choice")


def case_settings_portable(case):
    """A program in a writable folder keeps my.conf beside it and leaves the
    config folder alone."""
    folder, executable, config_home = program_in(case, writable=True)
    program = UserProgram(case, folder, executable, config_home).start()
    choose_model(program, 3)
    if not os.path.exists(program.conf_path) or read(program.conf_path) != b"4\n":
        raise Failure(f"my.conf beside the program is missing or wrong, expected b'4\\n'")
    if os.path.exists(os.path.dirname(program.user_conf_path)):
        raise Failure(f"a portable program created {os.path.dirname(program.user_conf_path)}")
    program.stop()

    again = UserProgram(case, folder, executable, config_home).start()
    again.main_window()
    if again.windows("Hardwareauswahl"):
        raise Failure("the hardware dialog came up again although my.conf beside the program is valid")


class InstalledProgram(Program):
    """The program installed below prefix, started as it is (by root in CI,
    who may write to its bin folder) with config_home as its HOME and
    XDG_CONFIG_HOME."""

    def __init__(self, case, prefix, config_home):
        self.case = case
        self.folder = os.path.join(case.tmp, "work")
        os.makedirs(self.folder, exist_ok=True)
        self.executable = os.path.join(prefix, "bin", "tintrava")
        self.conf_path = os.path.join(prefix, "bin", "my.conf")
        self.user_conf_path = os.path.join(config_home, "tintrava", "my.conf")
        self.config_home = config_home
        self.devices_path = os.path.join(self.folder, "lamps.txt")
        self.trace = Trace(os.path.join(self.folder, "trace.log"))
        self.stderr_path = os.path.join(self.folder, "stderr.log")
        self.process = None
        self.set_devices(TEXT_LAMP)
        open(self.trace.path, "w").close()
        case.programs.append(self)

    def start(self):
        return super().start(env={"HOME": self.config_home, "XDG_CONFIG_HOME": self.config_home})


def case_settings_cmake_install(case):
    """A program installed with cmake --install keeps my.conf in the user's
    config folder even where it may write beside itself (root), and ignores
    a my.conf lying there; tintrava-play follows the same rule."""
    build_dir = os.path.dirname(os.path.abspath(case.args.program))
    prefix = os.path.join(case.tmp, "prefix")
    result = subprocess.run([os.environ.get("TINTRAVA_CMAKE", "cmake"), "--install", build_dir, "--prefix", prefix],
                            capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise Failure(f"cmake --install failed: {result.stdout}{result.stderr}")
    if not os.path.isfile(os.path.join(prefix, "share", "tintrava", "installed")):
        raise Failure("cmake --install brought no share/tintrava/installed")
    bin_dir = os.path.join(prefix, "bin")
    beside = os.path.join(bin_dir, "my.conf")
    # What a start as root would once have left there: valid, and ignored.
    with open(beside, "w") as f:
        f.write("2\n")
    config_home = os.path.join(case.tmp, "config")
    os.makedirs(config_home)

    program = InstalledProgram(case, prefix, config_home).start()
    choose_model(program, 3)
    if not os.path.exists(program.user_conf_path) or read(program.user_conf_path) != b"4\n":
        raise Failure(f"{program.user_conf_path} is missing or does not hold b'4\\n'")
    if read(beside) != b"2\n":
        raise Failure(f"my.conf beside the installed program changed: {read(beside)!r}")
    if sorted(os.listdir(bin_dir)) != ["my.conf", "tintrava", "tintrava-play"]:
        raise Failure(f"the installed program's folder holds {sorted(os.listdir(bin_dir))}")
    program.stop()

    env = dict(os.environ, HOME=config_home, XDG_CONFIG_HOME=config_home)
    player = subprocess.run([os.path.join(bin_dir, "tintrava-play"), "--help"], capture_output=True, text=True,
                            timeout=60, env=env)
    if player.returncode != 0 or f"({program.user_conf_path})" not in player.stdout:
        raise Failure(f"the installed tintrava-play does not name {program.user_conf_path}: {player.stdout!r}")


if __name__ == "__main__":
    sys.exit(main({
        "settings_installed": case_settings_installed,
        "settings_portable": case_settings_portable,
        "settings_cmake_install": case_settings_cmake_install,
    }))
