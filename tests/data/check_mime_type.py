#!/usr/bin/env python3
"""Builds a MIME database from the program's shared-mime-info file alone and
checks what the desktop will make of it: *.tintrava is
application/x-tintrava-sequence, a kind of text/csv, with a German name and
an icon of its own (a text page where the icon theme has none).

    check_mime_type.py PATH/io.github.tintrava.Tintrava.xml
"""
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

TYPE = "application/x-tintrava-sequence"
# The icon installed under hicolor/*/mimetypes, named after the type.
ICON = TYPE.replace("/", "-")
NS = "{http://www.freedesktop.org/standards/shared-mime-info}"


def main() -> int:
    source = sys.argv[1]
    if not shutil.which("update-mime-database"):
        print("update-mime-database is missing (Debian: shared-mime-info)")
        return 1
    with tempfile.TemporaryDirectory() as tmp:
        packages = os.path.join(tmp, "mime", "packages")
        os.makedirs(packages)
        shutil.copy(source, packages)
        result = subprocess.run(["update-mime-database", "-V", os.path.join(tmp, "mime")],
                                capture_output=True, text=True)
        # Faults in a package file are reported but do not change the exit status.
        complaints = [line for line in (result.stdout + result.stderr).splitlines()
                      if "rror" in line or "arning" in line]
        if result.returncode != 0 or complaints:
            print(result.stdout + result.stderr)
            return 1
        with open(os.path.join(tmp, "mime", "globs2")) as f:
            globs = [line.strip().split(":") for line in f if not line.startswith("#")]
        with open(os.path.join(tmp, "mime", "subclasses")) as f:
            subclasses = [line.split() for line in f]
        icons = {}
        for name in ("icons", "generic-icons"):
            with open(os.path.join(tmp, "mime", name)) as f:
                icons[name] = [line.strip().split(":", 1) for line in f if line.strip()]
        tree = ET.parse(os.path.join(tmp, "mime", *TYPE.split("/")) + ".xml")
    faults = []
    if not any(g[1:] == [TYPE, "*.tintrava"] for g in globs):
        faults.append(f"no glob *.tintrava for {TYPE}: {globs}")
    if [TYPE, "text/csv"] not in subclasses:
        faults.append(f"{TYPE} is not a sub-class of text/csv: {subclasses}")
    if icons["icons"] != [[TYPE, ICON]]:
        faults.append(f"icon {icons['icons']}, expected [[{TYPE!r}, {ICON!r}]]")
    if icons["generic-icons"] != [[TYPE, "text-x-generic"]]:
        faults.append(f"generic icon {icons['generic-icons']}, expected text-x-generic")
    german = [c.text for c in tree.getroot().iter(NS + "comment")
              if c.get("{http://www.w3.org/XML/1998/namespace}lang") == "de"]
    if german != ["Tintrava-Abfolge"]:
        faults.append(f"German name {german}, expected ['Tintrava-Abfolge']")
    for fault in faults:
        print(fault)
    print("MIME type as expected" if not faults else f"{len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
