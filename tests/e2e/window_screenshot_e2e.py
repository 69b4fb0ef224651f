#!/usr/bin/env python3
"""The screenshot the AppStream metadata shows: the main window alone,
playing a sequence, cropped to the window. Written to the --screenshot path
(docs/screenshot-window.png) only when TINTRAVA_UPDATE_SCREENSHOT=1;
otherwise into the case's temporary folder. Cases as in tintrava_e2e.py."""

import os
import shutil
import struct
import sys

from tintrava_e2e import (START_BUTTON, TEXT_LAMP, Failure, click, colour_writes, main, palette, screenshot,
                          set_minutes, window_geometry, xdotool)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise Failure(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def case_screenshot_window(case):
    program = case.program(conf="3\n", devices=TEXT_LAMP)
    home = os.path.join(case.tmp, "home")
    os.makedirs(home, mode=0o700)
    program.start(env={"HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config")})
    wid = program.main_window()
    for name in ("Orange", "Türkis", "Violett"):
        click(wid, palette(name))
    set_minutes(program, wid, 2, 5)
    set_minutes(program, wid, 3, 10)
    xdotool("windowmove", wid, 0, 0)
    click(wid, START_BUTTON)
    program.wait_calls("three colour commands", lambda cs: len(colour_writes(cs)) >= 3)

    area = window_geometry(wid)
    # Nothing but the window: it must lie whole on the screen to be cut out.
    if area[0] != 0 or area[1] != 0:
        raise Failure(f"the main window is at {area[:2]}, not at the screen's corner")
    shot = os.path.join(program.folder, "screenshot-window.png")
    screenshot(shot, area)
    if png_size(shot) != (area[2], area[3]):
        raise Failure(f"the screenshot is {png_size(shot)}, the window {area[2:]}")
    if os.environ.get("TINTRAVA_UPDATE_SCREENSHOT") == "1":
        if not case.args.screenshot:
            raise Failure("TINTRAVA_UPDATE_SCREENSHOT=1 but no --screenshot path given")
        shutil.copyfile(shot, case.args.screenshot)
        print(f"screenshot written to {case.args.screenshot}")
    else:
        print("screenshot taken (set TINTRAVA_UPDATE_SCREENSHOT=1 to store it in the source tree)")


if __name__ == "__main__":
    sys.exit(main({"screenshot_window": case_screenshot_window}))
