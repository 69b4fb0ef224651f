#!/usr/bin/env python3
"""Where the real program keeps "my.conf": in the user's config folder when
its own folder is read-only (an installed program), beside it when that
folder is writable (a portable copy). Cases as in tintrava_e2e.py."""

import os
import shutil
import sys

from tintrava_e2e import (MODEL_ITEM_X, MODEL_ITEMS_Y, SAVE_BUTTON, Failure, click, main)
from user_program import UserProgram, check_window_icon, shared_case_folder, user_folder


def read(path):
    with open(path, "rb") as f:
        return f.read()


def choose_model(program, position):
    """Answers the hardware dialog that comes up at start with the model at
    position and "speichern"; returns the main window."""
    dialog = program.window("Hardwareauswahl")
    check_window_icon(dialog, "Hardwareauswahl")
    click(dialog, (MODEL_ITEM_X, MODEL_ITEMS_Y[position]))
    click(dialog, SAVE_BUTTON)
    program.window_gone("Hardwareauswahl", dialog)
    wid = program.main_window()
    check_window_icon(wid, "Tintrava V.1.50")
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


if __name__ == "__main__":
    sys.exit(main({
        "settings_installed": case_settings_installed,
        "settings_portable": case_settings_portable,
    }))
