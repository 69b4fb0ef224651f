#!/usr/bin/env python3
"""Checks what a user gets from installing Tintrava.

    check_package.py install --program BUILD/tintrava
        cmake --install of the build folder into a temporary prefix: every
        installed file is there and the validators accept the menu entry, the
        AppStream metadata and the manual pages.
    check_package.py package_deb --program BUILD/tintrava --lamp LAMP.so
        dpkg-buildpackage -us -uc -b of debian/ in a copy of the source tree:
        the two packages tintrava and tintrava-play, their control data,
        contents and maintainer scripts, lintian --pedantic with no error, no
        warning and no hardening tag, the hardening visible in the programs,
        and the unpacked program started under X as a user whose lamp model
        is in its config folder: the main window comes up, the hardware
        dialog does not. The X display is TINTRAVA_E2E_DISPLAY, as for the
        end-to-end tests.

The build folder is the folder of --program, the source tree
TINTRAVA_SOURCE_DIR; TINTRAVA_CMAKE names the cmake to use. Python 3
standard library only.
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

from tintrava_e2e import Failure, die_with_parent, main  # noqa: E402
from user_program import (NOBODY, UserProgram, check_window_icon, running_as_root, shared_case_folder,  # noqa: E402
                          user_folder, window_class)

APP_ID = "io.github.tintrava.Tintrava"
# Makes Wine's "MS Sans Serif" known by its family to an installed program.
FONT_CONF = "65-tintrava-ms-sans-serif.conf"
MIME_TYPE = "application/x-tintrava-sequence"
MIME_ICON = MIME_TYPE.replace("/", "-")
ICON_SIZES = (48, 128, 256)
# The main window's fixed size: the AppStream screenshot shows it alone.
MAIN_WINDOW_SIZE = (702, 480)

# What each package holds, relative to the prefix. tintrava-play is the
# player without a window, with the udev rule and the marker that tells an
# installed program to keep its settings in the user's config folder.
PLAYER_FILES = [
    "bin/tintrava-play",
    "lib/udev/rules.d/60-tintrava.rules",
    "share/man/man1/tintrava-play.1.gz",
    "share/man/de/man1/tintrava-play.1.gz",
    "share/tintrava/installed",
]
WINDOW_FILES = [
    "bin/tintrava",
    f"share/applications/{APP_ID}.desktop",
    f"share/icons/hicolor/scalable/apps/{APP_ID}.svg",
    *[f"share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png" for s in ICON_SIZES],
    f"share/icons/hicolor/scalable/mimetypes/{MIME_ICON}.svg",
    *[f"share/icons/hicolor/{s}x{s}/mimetypes/{MIME_ICON}.png" for s in ICON_SIZES],
    f"share/metainfo/{APP_ID}.metainfo.xml",
    f"share/mime/packages/{APP_ID}.xml",
    "share/man/man1/tintrava.1.gz",
    "share/man/de/man1/tintrava.1.gz",
    f"share/fontconfig/conf.avail/{FONT_CONF}",
]
# Beside the prefix: fontconfig's link to the font configuration (/etc for
# /usr, PREFIX/etc for any other prefix).
FONT_LINK = f"etc/fonts/conf.d/{FONT_CONF}"
# cmake --install brings one copyright and changelog; debhelper one set per
# package, and the notes that lintian's remarks on German words are none.
CMAKE_DOCS = ["share/doc/tintrava/copyright", "share/doc/tintrava/changelog.gz"]
PACKAGE_DOCS = {package: [f"share/doc/{package}/copyright", f"share/doc/{package}/changelog.gz",
                          f"share/lintian/overrides/{package}"]
                for package in ("tintrava", "tintrava-play")}

# The German manual pages' sections, as man shows them, and what each page
# must say there.
# In the order of man-pages(7).
GERMAN_SECTIONS = ["NAME", "ÜBERSICHT", "BESCHREIBUNG", "OPTIONEN", "RÜCKGABEWERT", "UMGEBUNG", "DATEIEN",
                   "SIEHE AUCH"]
ENGLISH_SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "ENVIRONMENT", "FILES", "SEE ALSO"]
MAN_PAGES = {
    # page: (synopsis lines, the other page, exit statuses)
    "tintrava": (["tintrava [DATEI]", "tintrava -h | --help | -v | --version"], "tintrava-play(1)",
                 ["0", "1", "2"]),
    "tintrava-play": (["tintrava-play [--modell N] DATEI", "tintrava-play -h | --help | -v | --version"],
                      "tintrava(1)", ["0", "1", "2", "3", "4", "128+N"]),
}
# Advice to plug the lamp out and in: the package's udevadm trigger has
# applied the rule already.
REPLUG = re.compile(r"wieder\s+ein(zu)?(ge)?steck|aus-\s+und\s+wieder|ab-\s+und\s+wieder|neu\s+ein(zu)?(ge)?steck|"
                    r"replug|plugged\s+out|plug(ged)?\s+in\s+again|out\s+and\s+in", re.I)


def run(command, **kwargs):
    print("$", " ".join(command))
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=3000, **kwargs)
    except FileNotFoundError:
        raise Failure(f"'{command[0]}' is missing (scripts/test installs it)")
    output = (result.stdout + result.stderr).strip()
    if output:
        print(output)
    return result


def must_run(command, quiet=False, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs) if quiet else run(command, **kwargs)
    if result.returncode != 0:
        raise Failure(f"{' '.join(command)} failed with exit status {result.returncode}")
    return result


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        raise Failure(f"{path} is not a PNG file")
    return struct.unpack(">II", head[16:24])


def source_dir():
    path = os.environ.get("TINTRAVA_SOURCE_DIR", "")
    if not os.path.isfile(os.path.join(path, "debian", "control")):
        raise Failure(f"TINTRAVA_SOURCE_DIR={path!r} is not the source tree")
    return path


def private_folders(base, owner_is_nobody):
    """XDG_RUNTIME_DIR, HOME and XDG_CONFIG_HOME of one start of a program:
    mode 0700, owned by the user it runs as, so that no other copy of
    Tintrava (the user's own, another test's) can take its lock or files."""
    folders = {}
    for name, sub in (("XDG_RUNTIME_DIR", "runtime"), ("HOME", "home"), ("XDG_CONFIG_HOME", "home/.config")):
        path = os.path.join(base, sub)
        os.makedirs(path, exist_ok=True)
        os.chmod(path, 0o700)
        if owner_is_nobody:
            os.chown(path, NOBODY, NOBODY)
        folders[name] = path
    return folders


def run_installed(program, args, tmp):
    """The installed program run once for its output, with folders of its own."""
    base = tempfile.mkdtemp(prefix="run-", dir=tmp)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", **private_folders(base, owner_is_nobody=False))
    result = subprocess.run([program, *args], capture_output=True, text=True, timeout=60, env=env)
    if result.returncode != 0:
        raise Failure(f"{program} {' '.join(args)} gave exit status {result.returncode}: {result.stderr.strip()}")
    return result.stdout


def render_man_page(path):
    """The page as man shows it, without formatting; man's warnings fail."""
    # Wide enough that no file name is broken across lines.
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="250", MAN_KEEP_FORMATTING="", MANROFFSEQ="")
    env.pop("LANGUAGE", None)
    result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", path], capture_output=True, text=True,
                            timeout=60, env=env)
    if result.returncode != 0 or result.stderr.strip():
        raise Failure(f"man {path}: exit status {result.returncode}, {result.stderr.strip()}")
    # Hyphens and minus signs as typed.
    return re.sub(r".\x08", "", result.stdout).replace("\u2010", "-").replace("\u2212", "-")


def man_sections(text):
    """{section heading: its text} of a rendered page."""
    sections, current = {}, None
    for line in text.split("\n"):
        if re.fullmatch(r"[A-ZÄÖÜ][A-ZÄÖÜ -]*", line):
            current = line
            sections[current] = []
        elif current:
            sections[current].append(line.strip())
    return {name: re.sub(r"\s+", " ", " ".join(lines)).strip() for name, lines in sections.items()}


def check_man_pages(prefix, tmp):
    """German pages under man/de, English ones in the default place; both
    with the full synopsis, the options --help names, the files, the exit
    statuses and SEE ALSO of each other; no advice to replug the lamp."""
    for page, (synopsis, other, statuses) in MAN_PAGES.items():
        help_text = run_installed(os.path.join(prefix, "bin", page), ["--help"], tmp)
        options = sorted(set(re.findall(r"(?<![\w-])(--?[a-zA-Z][\w-]*)", help_text.split("Optionen:", 1)[1])))
        for lang, place, sections in (("de", "share/man/de/man1", GERMAN_SECTIONS),
                                      ("en", "share/man/man1", ENGLISH_SECTIONS)):
            path = os.path.join(prefix, place, f"{page}.1.gz")
            with gzip.open(path, "rt") as f:
                if not f.read().startswith(f".TH {page.upper()} 1 "):
                    raise Failure(f"{path} is not a troff page of section 1")
            text = render_man_page(path)
            found = man_sections(text)
            if [name for name in found if name in sections] != sections:
                raise Failure(f"{path}: sections {list(found)}, expected {sections} in this order")
            name, synopsis_section, options_section, status, files, see_also = (
                found[sections[i]] for i in (0, 1, 3, 4, 6, 7))
            if not name.startswith(f"{page} - "):
                raise Failure(f"{path}: NAME is {name!r}")
            for line in synopsis:
                if line not in synopsis_section:
                    raise Failure(f"{path}: the synopsis lacks {line!r}: {synopsis_section!r}")
            for option in options:
                if not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", options_section):
                    raise Failure(f"{path}: the option {option} of --help is not described")
            for needed in ("my.conf", "letzte-abfolge.tintrava", "60-tintrava.rules"):
                if needed not in files:
                    raise Failure(f"{path}: {sections[6]} does not name {needed}")
            for code in statuses:
                if not re.search(rf"(^|[\s;]){re.escape(code)}([\s,;]|$)", status):
                    raise Failure(f"{path}: {sections[4]} does not list the status {code}: {status!r}")
            if other not in see_also:
                raise Failure(f"{path}: {sections[7]} does not name {other}")
            if REPLUG.search(text):
                raise Failure(f"{path} tells the user to replug the lamp: {REPLUG.search(text).group(0)!r}")
            if lang == "de" and ("Datei" not in text or "Lampe" not in text):
                raise Failure(f"{path} is not German")
    print("manual pages: German and English, complete")


def validate_desktop_entry(path):
    """desktop-file-validate, which in Debian 12 (0.26) predates the key
    SingleMainWindow of the Desktop Entry Specification 1.5 and calls it an
    error; every other complaint counts."""
    result = run(["desktop-file-validate", path])
    complaints = [line for line in (result.stdout + result.stderr).splitlines()
                  if line.strip() and '"SingleMainWindow"' not in line]
    if complaints or (result.returncode != 0 and "SingleMainWindow" not in result.stdout + result.stderr):
        raise Failure(f"desktop-file-validate rejects {path}: {complaints}")


def check_installed(prefix, expected, tmp):
    """The files of an installation below prefix (the folder that holds bin/
    and share/), and what they refer to."""
    missing = [f for f in expected if not os.path.isfile(os.path.join(prefix, f))]
    if missing:
        raise Failure(f"not installed below {prefix}: {', '.join(missing)}")
    program = os.path.join(prefix, "bin/tintrava")
    if not os.access(program, os.X_OK):
        raise Failure(f"{program} is not executable")
    version = run_installed(os.path.join(prefix, "bin/tintrava-play"), ["--version"], tmp)
    if not version.startswith("tintrava-play "):
        raise Failure(f"the installed tintrava-play --version said {version!r}")
    for folder, name in (("apps", APP_ID), ("mimetypes", MIME_ICON)):
        for size in ICON_SIZES:
            got = png_size(os.path.join(prefix, f"share/icons/hicolor/{size}x{size}/{folder}/{name}.png"))
            if got != (size, size):
                raise Failure(f"the {size} px icon {name} is {got[0]} x {got[1]} px")
    check_man_pages(prefix, tmp)

    desktop_path = os.path.join(prefix, f"share/applications/{APP_ID}.desktop")
    metainfo_path = os.path.join(prefix, f"share/metainfo/{APP_ID}.metainfo.xml")
    validate_desktop_entry(desktop_path)
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
    # One main window; a second start hands its files over to it.
    if entry.get("SingleMainWindow") != "true":
        raise Failure(f"the menu entry says SingleMainWindow={entry.get('SingleMainWindow')}, expected true")
    # A double-click on a sequence file opens it in Tintrava: the entry takes
    # files and names the type the installed MIME package defines, whose
    # icon is installed.
    if "%F" not in entry["Exec"].split()[1:]:
        raise Failure(f"Exec={entry['Exec']} takes no files")
    with open(os.path.join(prefix, f"share/mime/packages/{APP_ID}.xml"), encoding="utf-8") as f:
        mime_xml = f.read()
    for mime_type in filter(None, entry.get("MimeType", "").split(";")):
        if f'type="{mime_type}"' not in mime_xml:
            raise Failure(f"MimeType {mime_type} of the menu entry is not defined by the installed MIME package")
    if entry.get("MimeType") != MIME_TYPE + ";":
        raise Failure(f"the menu entry names MimeType={entry.get('MimeType')}, expected {MIME_TYPE};")
    if f'<icon name="{MIME_ICON}"/>' not in mime_xml:
        raise Failure(f"the MIME package does not name the icon {MIME_ICON}")

    with open(metainfo_path, encoding="utf-8") as f:
        metainfo = f.read()
    for needed in (f"<id>{APP_ID}</id>", f'<launchable type="desktop-id">{APP_ID}.desktop</launchable>',
                   "<project_license>GPL-3.0-or-later</project_license>",
                   "<metadata_license>CC0-1.0</metadata_license>"):
        if needed not in metainfo:
            raise Failure(f"the AppStream metadata lacks {needed}")
    # No modalias can name the lamps' product strings; one for FTDI's vendor
    # id would offer the program for every FTDI device.
    if "<modalias>" in metainfo:
        raise Failure("the AppStream metadata claims hardware by modalias")
    images = re.findall(r"<image>https://github\.com/tintrava/tintrava/raw/main/([^<]+)</image>", metainfo)
    if len(images) != 1 or metainfo.count("<image") != 1:
        raise Failure(f"the AppStream metadata names the screenshots {images}, expected one in the repository")
    image = os.path.join(source_dir(), images[0])
    if not os.path.isfile(image):
        raise Failure(f"the screenshot {images[0]} of the AppStream metadata is not in the source tree")
    if png_size(image) != MAIN_WINDOW_SIZE:
        raise Failure(f"the screenshot {images[0]} is {png_size(image)}, not the main window alone "
                      f"{MAIN_WINDOW_SIZE}")
    for copyright_file in glob.glob(os.path.join(prefix, "share/doc/*/copyright")):
        with open(copyright_file, encoding="utf-8") as f:
            if "License: GPL-3+" not in f.read():
                raise Failure(f"{copyright_file} does not name the GPL, version 3 or later")
    print(f"installed files below {prefix}: complete")
    return entry


def check_font_link(link, target):
    if not os.path.islink(link) or os.readlink(link) != target:
        raise Failure(f"{link} is not a link to {target}")


WINE_FONTS = "/usr/share/wine/fonts/"


def check_font_conf(conf, tmp):
    """With the package's font configuration, fontconfig finds Wine's "MS Sans
    Serif" by its family, and none of Wine's other fonts."""
    if not os.path.isfile(WINE_FONTS + "ms_sans_serif.ttf"):
        print("fonts-wine is not installed: the font configuration is not tried")
        return
    config = os.path.join(tmp, "fonts.conf")
    with open(config, "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">\n'
                f"<fontconfig><include>/etc/fonts/fonts.conf</include><include>{conf}</include>"
                f"<cachedir>{os.path.join(tmp, 'fc-cache')}</cachedir></fontconfig>\n")
    env = dict(os.environ, FONTCONFIG_FILE=config)
    matched = must_run(["fc-match", "-f", "%{file}", "MS Sans Serif"], env=env).stdout
    if matched != WINE_FONTS + "ms_sans_serif.ttf":
        raise Failure(f"with {conf}, MS Sans Serif is {matched}")
    listed = sorted(line for line in must_run(["fc-list", "-f", "%{file}\n"], env=env).stdout.split("\n")
                    if line.startswith(WINE_FONTS))
    if listed != [WINE_FONTS + "ms_sans_serif.ttf"]:
        raise Failure(f"with {conf}, fontconfig knows these of Wine's fonts: {listed}")
    print(f"font configuration: MS Sans Serif is {matched}")


def read_desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    return dict(parser["Desktop Entry"])


def files_below(prefix):
    return sorted(os.path.relpath(os.path.join(d, f), prefix) for d, _, files in os.walk(prefix) for f in files)


# ---------------------------------------------------------------------------

def check_install(build_dir):
    with tempfile.TemporaryDirectory(prefix="tintrava-install-") as tmp:
        prefix = os.path.join(tmp, "prefix")
        must_run([os.environ.get("TINTRAVA_CMAKE", "cmake"), "--install", build_dir, "--prefix", prefix])
        expected = PLAYER_FILES + WINDOW_FILES + CMAKE_DOCS
        check_installed(prefix, expected, tmp)
        check_font_link(os.path.join(prefix, FONT_LINK), os.path.join(prefix, "share/fontconfig/conf.avail", FONT_CONF))
        expected = expected + [FONT_LINK]
        unexpected = [f for f in files_below(prefix) if f not in expected]
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


def copy_source(source, dest):
    """The source tree without build folders, git's data and what git
    ignores, as scripts/package copies it."""
    top_ignored = re.compile(r"^(\.git|build|build-.*)$")

    def ignore(folder, names):
        ignored = {n for n in names if n == "__pycache__"}
        if os.path.samefile(folder, source):
            ignored |= {n for n in names if top_ignored.match(n)}
        return ignored
    shutil.copytree(source, dest, ignore=ignore, symlinks=True)


def build_packages(tmp):
    """dpkg-buildpackage -us -uc -b in a copy of the source tree; the .debs
    and the .changes land in tmp."""
    tree = os.path.join(tmp, "tintrava")
    copy_source(source_dir(), tree)
    jobs = os.cpu_count() or 1
    env = dict(os.environ, DEB_BUILD_OPTIONS=f"parallel={jobs}")
    # The packages are built as a user's shell would: none of the test's
    # locale or platform settings.
    for name in ("QT_QPA_PLATFORM", "LANGUAGE", "LC_ALL"):
        env.pop(name, None)
    must_run(["dpkg-buildpackage", "-us", "-uc", "-b"], cwd=tree, env=env)
    shutil.rmtree(tree)


def control_fields(deb):
    text = must_run(["dpkg-deb", "-f", deb]).stdout
    fields, name = {}, None
    for line in text.split("\n"):
        if line.startswith((" ", "\t")) and name:
            fields[name] += "\n" + line
        elif ":" in line:
            name, value = line.split(":", 1)
            fields[name] = value.strip()
    return fields


def relation_names(field):
    """The package names of a Depends-style field."""
    return [re.match(r"\s*([a-z0-9][a-z0-9.+-]*)", alternative).group(1)
            for part in field.split(",") if part.strip() for alternative in part.split("|")]


def check_control(debs, version):
    fields = {package: control_fields(deb) for package, deb in debs.items()}
    arch = must_run(["dpkg", "--print-architecture"]).stdout.strip()
    for package, f in fields.items():
        if f.get("Package") != package or f.get("Architecture") != arch or f.get("Version") != version:
            raise Failure(f"{debs[package]}: Package {f.get('Package')}, Architecture {f.get('Architecture')}, "
                          f"Version {f.get('Version')}")
        if f.get("Section") != "electronics" or not f.get("Maintainer") or \
                len(f.get("Description", "").split("\n")) < 3:
            raise Failure(f"{package}: Section {f.get('Section')}, no maintainer or no long description")
    player, window = fields["tintrava-play"], fields["tintrava"]
    # The player is for a small computer without a screen: no Qt.
    player_depends = relation_names(player.get("Depends", ""))
    if [d for d in player_depends if d.startswith("libqt")] or "Recommends" in player:
        raise Failure(f"tintrava-play depends on Qt or recommends more: {player.get('Depends')}; "
                      f"{player.get('Recommends')}")
    for library in ("libftdi1-2", "libusb-1.0-0", "libc6"):
        if library not in player_depends:
            raise Failure(f"tintrava-play's Depends does not name {library}: {player.get('Depends')}")
    # The window brings the player, and with it the udev rule; shared
    # libraries from dpkg-shlibdeps.
    window_depends = relation_names(window.get("Depends", ""))
    if f"tintrava-play (= {version})" not in [d.strip() for d in window.get("Depends", "").split(",")]:
        raise Failure(f"tintrava does not depend on tintrava-play (= {version}): {window.get('Depends')}")
    for library in ("libqt6widgets6", "libc6", "libftdi1-2", "libusb-1.0-0"):
        if library not in window_depends:
            raise Failure(f"tintrava's Depends does not name {library}: {window.get('Depends')}")
    # One copy per user is kept without Qt's network module.
    if "libqt6network6" in window_depends:
        raise Failure(f"tintrava depends on Qt Network: {window.get('Depends')}")
    # Qt's German buttons and file dialogs and the windows' two fonts: the
    # program runs without them (English Qt texts, a fallback font), so by
    # Debian policy 7.2 they are Recommends, which apt installs by default.
    recommends = relation_names(window.get("Recommends", ""))
    for needed in ("qt6-translations-l10n", "fonts-wine", "fonts-liberation2"):
        if needed not in recommends:
            raise Failure(f"tintrava does not recommend {needed}: {window.get('Recommends')}")
    print(f"tintrava-play Depends: {player.get('Depends')}")
    print(f"tintrava Depends: {window.get('Depends')}; Recommends: {window.get('Recommends')}")


def check_lintian(changes):
    """lintian --pedantic on both packages: no error, no warning, and no
    hardening tag or left-over section even among the notes."""
    result = run(["lintian", "--no-cfg", "--pedantic", "--display-info", "--display-experimental", changes])
    tags = re.findall(r"^([EWIPX]): (\S+): (\S+)(.*)$", result.stdout, re.M)
    bad = [t for t in tags if t[0] in "EW" or "hardening" in t[2] or t[2] == "binary-has-unneeded-section"]
    if bad:
        raise Failure(f"lintian: {[' '.join(t).strip() for t in bad]}")
    if result.returncode not in (0, 1) or (result.returncode == 1 and not tags):
        raise Failure(f"lintian failed with exit status {result.returncode}")
    print(f"lintian: {len(tags)} notes, no error, warning or hardening tag")


def check_hardening(program):
    """What dpkg-buildflags' hardening leaves in a program: a position
    independent executable, bound at load time with a read-only relocation
    table, the stack protector and fortified functions, no .comment."""
    header = must_run(["readelf", "-h", "-d", "-l", "-S", "-W", program], quiet=True).stdout
    if not re.search(r"Type:\s+DYN", header) or not re.search(r"\(FLAGS_1\).*\bPIE\b", header):
        raise Failure(f"{program} is not a position independent executable")
    if not re.search(r"\(FLAGS\).*\bBIND_NOW\b", header) or not re.search(r"\(FLAGS_1\).*\bNOW\b", header):
        raise Failure(f"{program} is not linked with -z now")
    if "GNU_RELRO" not in header:
        raise Failure(f"{program} is not linked with -z relro")
    if re.search(r"\]\s+\.comment\s", header):
        raise Failure(f"{program} keeps its .comment section")
    # libftdi1 and libusb are loaded when the lamp is first looked for, not
    # by the dynamic linker at every start.
    needed = re.findall(r"\(NEEDED\).*\[(.+?)\]", header)
    linked = [library for library in needed if library.startswith(("libftdi", "libusb"))]
    if linked:
        raise Failure(f"{program} is linked with {linked}")
    symbols = must_run(["readelf", "--dyn-syms", "-W", program], quiet=True).stdout
    if "__stack_chk_fail" not in symbols:
        raise Failure(f"{program} has no stack protector")
    fortified = sorted(set(re.findall(r"\b(__\w+_chk)@", symbols)) - {"__stack_chk_fail"})
    if not fortified:
        raise Failure(f"{program} uses no fortified functions (_FORTIFY_SOURCE)")
    print(f"{os.path.basename(program)}: PIE, BIND_NOW, RELRO, stack protector, fortified {', '.join(fortified)}")


def case_package_deb(case):
    tmp = shared_case_folder(case, "package")
    build_packages(tmp)
    version = must_run(["dpkg-parsechangelog", "-l", os.path.join(source_dir(), "debian", "changelog"),
                        "-S", "Version"]).stdout.strip()
    arch = must_run(["dpkg", "--print-architecture"]).stdout.strip()
    debs = {package: os.path.join(tmp, f"{package}_{version}_{arch}.deb") for package in ("tintrava", "tintrava-play")}
    missing = [deb for deb in debs.values() if not os.path.isfile(deb)]
    if missing:
        raise Failure(f"dpkg-buildpackage did not make {missing}: {os.listdir(tmp)}")
    check_control(debs, version)
    check_lintian(os.path.join(tmp, f"tintrava_{version}_{arch}.changes"))

    # Each package holds its own files, the udev rule the player's, and
    # together they are a whole installation.
    root = os.path.join(tmp, "root")
    for package, expected in (("tintrava-play", PLAYER_FILES), ("tintrava", WINDOW_FILES)):
        alone = os.path.join(tmp, package)
        must_run(["dpkg-deb", "-x", debs[package], alone])
        got = files_below(os.path.join(alone, "usr"))
        tops = ["etc", "usr"] if package == "tintrava" else ["usr"]
        if sorted(expected + PACKAGE_DOCS[package]) != got or sorted(os.listdir(alone)) != tops:
            raise Failure(f"{package} holds {got} in {os.listdir(alone)}, "
                          f"expected {sorted(expected + PACKAGE_DOCS[package])} in {tops}")
        if package == "tintrava":
            if files_below(os.path.join(alone, "etc")) != [FONT_LINK[len("etc/"):]]:
                raise Failure(f"tintrava holds {files_below(os.path.join(alone, 'etc'))} in /etc")
            check_font_link(os.path.join(alone, FONT_LINK), f"/usr/share/fontconfig/conf.avail/{FONT_CONF}")
            check_font_conf(os.path.join(alone, "usr/share/fontconfig/conf.avail", FONT_CONF), tmp)
        shutil.rmtree(alone)
        must_run(["dpkg-deb", "-x", debs[package], root])
    prefix = os.path.join(root, "usr")
    for program in ("tintrava", "tintrava-play"):
        check_hardening(os.path.join(prefix, "bin", program))

    control = os.path.join(tmp, "control")
    must_run(["dpkg-deb", "-e", debs["tintrava-play"], control])
    check_maintainer_scripts(control, tmp)

    entry = check_installed(prefix, PLAYER_FILES + WINDOW_FILES, tmp)

    # Started from the unpacked package by a user who may not write beside
    # the program, with the lamp model in that user's config folder.
    bin_dir = os.path.join(prefix, "bin")
    for d in (root, prefix, bin_dir):
        os.chmod(d, 0o555 if d == bin_dir else 0o755)
    user = os.path.join(tmp, "user")
    user_folder(user)
    folders = private_folders(user, owner_is_nobody=running_as_root())
    config_home = folders["XDG_CONFIG_HOME"]
    user_folder(os.path.join(config_home, "tintrava"), owned=True)
    with open(os.path.join(config_home, "tintrava", "my.conf"), "w") as f:
        f.write("3\n")
    try:
        start_unpacked(case, tmp, bin_dir, folders, entry)
    finally:
        # The case's folder is removed afterwards, by a user who needs to write.
        os.chmod(bin_dir, 0o755)
    if os.path.exists(os.path.join(bin_dir, "my.conf")):
        raise Failure("the installed program wrote my.conf beside itself")


class PackagedProgram(UserProgram):
    """The unpacked program as its user starts it, with a runtime folder,
    home and config folder of its own."""

    def __init__(self, case, folder, executable, folders):
        super().__init__(case, folder, executable, folders["XDG_CONFIG_HOME"])
        self.folders = folders

    def private_folders(self):
        return self.folders


def start_unpacked(case, tmp, bin_dir, folders, entry):
    program = PackagedProgram(case, tmp, os.path.join(bin_dir, "tintrava"), folders).start()
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
