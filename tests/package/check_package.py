#!/usr/bin/env python3
"""Checks what a user gets from installing Tintrava.

    check_package.py install --program BUILD/tintrava
        cmake --install of the build folder into a temporary prefix: every
        installed file is there and the validators accept the menu entry and
        the AppStream metadata.
    check_package.py package_deb --program BUILD/tintrava --lamp LAMP.so
        cpack -G DEB: the package's control data and maintainer scripts,
        lintian without errors, the same files unpacked with dpkg-deb -x, and
        the unpacked program started under X as a user whose lamp model is
        in its config folder: the main window comes up, the hardware dialog
        does not. The X display is TINTRAVA_E2E_DISPLAY, as for the
        end-to-end tests.

The build folder is the folder of --program; TINTRAVA_CMAKE and TINTRAVA_CPACK
name the cmake and cpack to use. Python 3 standard library only.
"""

import argparse
import configparser
import glob
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from tintrava_e2e import Failure, main  # noqa: E402
from user_program import (UserProgram, check_window_icon, running_as_root, shared_case_folder,  # noqa: E402
                          user_folder, window_class)

APP_ID = "io.github.tintrava.Tintrava"
ICON_SIZES = (48, 128, 256)

# Every file an installation brings, relative to the prefix.
INSTALLED = [
    "bin/tintrava",
    "bin/tintrava-play",
    f"share/applications/{APP_ID}.desktop",
    f"share/icons/hicolor/scalable/apps/{APP_ID}.svg",
    *[f"share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png" for s in ICON_SIZES],
    f"share/metainfo/{APP_ID}.metainfo.xml",
    f"share/mime/packages/{APP_ID}.xml",
    "lib/udev/rules.d/60-tintrava.rules",
    "share/tintrava/installed",
    "share/man/man1/tintrava.1.gz",
    "share/man/man1/tintrava-play.1.gz",
    "share/doc/tintrava/copyright",
    "share/doc/tintrava/changelog.gz",
]


def run(command, **kwargs):
    print("$", " ".join(command))
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=600, **kwargs)
    except FileNotFoundError:
        raise Failure(f"'{command[0]}' is missing (scripts/test installs it)")
    output = (result.stdout + result.stderr).strip()
    if output:
        print(output)
    return result


def must_run(command, **kwargs):
    result = run(command, **kwargs)
    if result.returncode != 0:
        raise Failure(f"{' '.join(command)} failed with exit status {result.returncode}")
    return result


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise Failure(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def check_installed(prefix):
    """The files of an installation below prefix (the folder that holds bin/
    and share/), and what they refer to."""
    missing = [f for f in INSTALLED if not os.path.isfile(os.path.join(prefix, f))]
    if missing:
        raise Failure(f"not installed below {prefix}: {', '.join(missing)}")
    program = os.path.join(prefix, "bin/tintrava")
    if not os.access(program, os.X_OK):
        raise Failure(f"{program} is not executable")
    player = subprocess.run([os.path.join(prefix, "bin/tintrava-play"), "--version"], capture_output=True,
                            text=True, timeout=60)
    if player.returncode != 0 or not player.stdout.startswith("tintrava-play "):
        raise Failure(f"the installed tintrava-play --version gave {player.returncode}: {player.stdout!r}")
    for size in ICON_SIZES:
        got = png_size(os.path.join(prefix, f"share/icons/hicolor/{size}x{size}/apps/{APP_ID}.png"))
        if got != (size, size):
            raise Failure(f"the {size} px icon is {got[0]} x {got[1]} px")
    with gzip.open(os.path.join(prefix, "share/man/man1/tintrava.1.gz"), "rt") as f:
        if not f.read().startswith(".TH TINTRAVA 1"):
            raise Failure("the manual page is not a troff page of section 1")

    desktop_path = os.path.join(prefix, f"share/applications/{APP_ID}.desktop")
    metainfo_path = os.path.join(prefix, f"share/metainfo/{APP_ID}.metainfo.xml")
    must_run(["desktop-file-validate", desktop_path])
    must_run(["appstreamcli", "validate", "--no-net", metainfo_path])

    # The menu entry starts the installed program and finds the installed icon.
    entry = read_desktop_entry(desktop_path)
    exec_program = entry["Exec"].split()[0]
    if os.path.join(prefix, "bin", exec_program) != program:
        raise Failure(f"Exec={entry['Exec']} does not start the installed {program}")
    icon = entry["Icon"]
    icons = glob.glob(os.path.join(prefix, "share/icons/hicolor/*/apps", icon + ".*"))
    if len(icons) != len(ICON_SIZES) + 1:
        raise Failure(f"Icon={icon} names {len(icons)} installed icon files, expected {len(ICON_SIZES) + 1}")
    for key in ("Name", "Name[de]", "Comment", "Comment[de]"):
        if not entry.get(key):
            raise Failure(f"the menu entry has no {key}")
    # A double-click on a sequence file opens it in Tintrava: the entry takes
    # files and names the type the installed MIME package defines.
    if "%F" not in entry["Exec"].split()[1:]:
        raise Failure(f"Exec={entry['Exec']} takes no files")
    with open(os.path.join(prefix, f"share/mime/packages/{APP_ID}.xml"), encoding="utf-8") as f:
        mime_xml = f.read()
    for mime_type in filter(None, entry.get("MimeType", "").split(";")):
        if f'type="{mime_type}"' not in mime_xml:
            raise Failure(f"MimeType {mime_type} of the menu entry is not defined by the installed MIME package")
    if not entry.get("MimeType"):
        raise Failure("the menu entry names no MIME type")

    with open(metainfo_path, encoding="utf-8") as f:
        metainfo = f.read()
    for needed in (f"<id>{APP_ID}</id>", f'<launchable type="desktop-id">{APP_ID}.desktop</launchable>',
                   "<project_license>GPL-3.0-or-later</project_license>",
                   "<metadata_license>CC0-1.0</metadata_license>", "<modalias>usb:v0403p"):
        if needed not in metainfo:
            raise Failure(f"the AppStream metadata lacks {needed}")
    with open(os.path.join(prefix, "share/doc/tintrava/copyright"), encoding="utf-8") as f:
        if "License: GPL-3+" not in f.read():
            raise Failure("the copyright file does not name the GPL, version 3 or later")
    print(f"installed files below {prefix}: complete")
    return entry


def read_desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    return dict(parser["Desktop Entry"])


# ---------------------------------------------------------------------------

def check_install(build_dir):
    with tempfile.TemporaryDirectory(prefix="tintrava-install-") as tmp:
        prefix = os.path.join(tmp, "prefix")
        must_run([os.environ.get("TINTRAVA_CMAKE", "cmake"), "--install", build_dir, "--prefix", prefix])
        check_installed(prefix)
        unexpected = sorted(os.path.relpath(os.path.join(d, f), prefix)
                            for d, _, files in os.walk(prefix) for f in files
                            if os.path.relpath(os.path.join(d, f), prefix) not in INSTALLED)
        if unexpected:
            raise Failure(f"installed but not expected: {', '.join(unexpected)}")


def check_maintainer_scripts(control_dir, tmp):
    """postinst and postrm reload the udev rules and re-trigger FTDI devices,
    and succeed both without udevadm (a container) and with one that fails
    (no udev daemon running)."""
    fake_bin = os.path.join(tmp, "fake-bin")
    os.makedirs(fake_bin)
    calls = os.path.join(tmp, "udevadm-calls")
    with open(os.path.join(fake_bin, "udevadm"), "w") as f:
        f.write(f'#!/bin/sh\necho "$*" >> "{calls}"\nexit 1\n')
    os.chmod(os.path.join(fake_bin, "udevadm"), 0o755)
    no_bin = os.path.join(tmp, "no-bin")
    os.makedirs(no_bin)
    expected = ["control --reload-rules", "trigger --subsystem-match=usb --attr-match=idVendor=0403"]
    for script, argument in (("postinst", "configure"), ("postrm", "remove"), ("postrm", "purge")):
        path = os.path.join(control_dir, script)
        if not os.path.isfile(path) or not os.access(path, os.X_OK):
            raise Failure(f"the package has no executable {script}")
        for bin_dir in (no_bin, fake_bin):
            if os.path.exists(calls):
                os.remove(calls)
            result = run(["/bin/sh", path, argument], env={"PATH": bin_dir})
            if result.returncode != 0:
                raise Failure(f"{script} {argument} failed (exit status {result.returncode}) "
                              f"{'without udevadm' if bin_dir == no_bin else 'with a failing udevadm'}")
            if bin_dir == fake_bin:
                with open(calls) as f:
                    got = f.read().split("\n")[:-1]
                if got != expected:
                    raise Failure(f"{script} {argument} ran udevadm {got}, expected {expected}")


def case_package_deb(case):
    build_dir = os.path.dirname(os.path.abspath(case.args.program))
    tmp = shared_case_folder(case, "package")
    out = os.path.join(tmp, "out")
    must_run([os.environ.get("TINTRAVA_CPACK", "cpack"), "-G", "DEB", "-B", out,
              "--config", os.path.join(build_dir, "CPackConfig.cmake")], cwd=build_dir)
    debs = glob.glob(os.path.join(out, "*.deb"))
    if len(debs) != 1:
        raise Failure(f"cpack made {debs}, expected one .deb")
    deb = debs[0]
    arch = must_run(["dpkg", "--print-architecture"]).stdout.strip()
    fields = {name: must_run(["dpkg-deb", "-f", deb, name]).stdout.strip()
              for name in ("Package", "Version", "Architecture", "Section", "Maintainer", "Description", "Depends")}
    if os.path.basename(deb) != f"tintrava_{fields['Version']}_{arch}.deb" or fields["Architecture"] != arch:
        raise Failure(f"package {os.path.basename(deb)} (Architecture {fields['Architecture']}), "
                      f"expected tintrava_{fields['Version']}_{arch}.deb")
    if fields["Package"] != "tintrava" or fields["Section"] != "electronics":
        raise Failure(f"Package {fields['Package']}, Section {fields['Section']}: expected tintrava, electronics")
    if not fields["Maintainer"] or len(fields["Description"].split("\n")) < 2:
        raise Failure("the package lacks a maintainer or a long description")
    # Computed from the program's shared libraries.
    for library in ("libqt6widgets6", "libftdi1-2", "libc6"):
        if not re.search(rf"(^|, ){re.escape(library)}( |,|$)", fields["Depends"]):
            raise Failure(f"Depends does not name {library}: {fields['Depends']}")

    control = os.path.join(tmp, "control")
    must_run(["dpkg-deb", "-e", deb, control])
    check_maintainer_scripts(control, tmp)

    # Warnings and notes are shown; errors fail.
    lintian = run(["lintian", "--no-cfg", "--display-info", "--fail-on", "error", deb])
    if lintian.returncode != 0 or re.search(r"^E: ", lintian.stdout, re.M):
        raise Failure(f"lintian reports errors on the package (exit status {lintian.returncode})")

    root = os.path.join(tmp, "root")
    must_run(["dpkg-deb", "-x", deb, root])
    prefix = os.path.join(root, "usr")
    entry = check_installed(prefix)

    # Started from the unpacked package by a user who may not write beside
    # the program, with the lamp model in that user's config folder.
    bin_dir = os.path.join(prefix, "bin")
    for d in (root, prefix, bin_dir):
        os.chmod(d, 0o555 if d == bin_dir else 0o755)
    config_home = os.path.join(tmp, "config")
    user_folder(config_home, owned=True)
    user_folder(os.path.join(config_home, "tintrava"), owned=True)
    with open(os.path.join(config_home, "tintrava", "my.conf"), "w") as f:
        f.write("3\n")
    try:
        start_unpacked(case, tmp, bin_dir, config_home, entry)
    finally:
        # The case's folder is removed afterwards, by a user who needs to write.
        os.chmod(bin_dir, 0o755)
    if os.path.exists(os.path.join(bin_dir, "my.conf")):
        raise Failure("the installed program wrote my.conf beside itself")


def start_unpacked(case, tmp, bin_dir, config_home, entry):
    program = UserProgram(case, tmp, os.path.join(bin_dir, "tintrava"), config_home).start()
    wid = program.main_window()
    if program.windows("Hardwareauswahl"):
        raise Failure("the installed program asked for the lamp model although the config folder holds it")
    check_window_icon(wid, "Tintrava V.1.50")
    wm_class = window_class(wid)
    print(f"main window: WM_CLASS {wm_class}, StartupWMClass={entry.get('StartupWMClass')}")
    if entry.get("StartupWMClass") not in wm_class:
        raise Failure(f"StartupWMClass={entry.get('StartupWMClass')} of the menu entry does not match "
                      f"the window's WM_CLASS {wm_class}")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "install":
        parser = argparse.ArgumentParser()
        parser.add_argument("mode")
        parser.add_argument("--program", required=True)
        args = parser.parse_args()
        try:
            check_install(os.path.dirname(os.path.abspath(args.program)))
        except Failure as failure:
            print(f"FAIL: {failure}", file=sys.stderr)
            sys.exit(1)
        print("PASS: install")
        sys.exit(0)
    sys.exit(main({"package_deb": case_package_deb}))
