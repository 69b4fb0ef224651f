#!/usr/bin/env python3
"""Sequence files through LibreOffice Calc, headless: what Tintrava writes,
Calc reads into the expected cells (numbers as numbers, names as text); what
Calc writes from them, with and without "quote all text cells", Tintrava
reads back to the same steps; Calc's comma-separated and Windows-1252 files
are refused with the advice how to save them.

  calc_roundtrip.py --tool PATH [--soffice PATH]

The reading and writing is the program's own (storage/sequence_storage) in a
small tool; Calc gets its own HOME and profile folder.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ET

# What a person builds: umlauts, wavelengths as typed, minutes at the edges.
STEPS = [
    (5, "Orange", 10),
    (13, "442 nm", 0),
    (4, "Weiß", 2147483647),
    (13, " 500 nm", -5),
    (13, "0x1F4 nm", 3),
    (2, "Grün", 1),
    (6, "Türkis", 120),
    (12, "Indigo", 0),
]
HEADER = ["FarbNr", "Bezeichnung", "Minuten"]

# The CSV filter's options: separator 59 (;), text delimiter 34 ("),
# character set 76 (UTF-8), from line 1; for writing also token 7, "quote all
# text cells", and token 9, "save cell contents as shown".
CSV_FILTER = "Text - txt - csv (StarCalc)"
READ_OPTIONS = "59,34,76,1"
def write_options(separator=59, charset=76, quote_all=False):
    return f"{separator},34,{charset},1,,0,{'true' if quote_all else 'false'},true,true"

ADVICE = "Bitte als CSV mit Semikolon als Trennzeichen und UTF-8 speichern."

NS = {
    "table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
    "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
    "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Calc:
    def __init__(self, soffice, work):
        self.soffice = soffice
        self.home = os.path.join(work, "home")
        self.profile = os.path.join(work, "profile")
        os.makedirs(self.home)
        self.env = dict(os.environ, HOME=self.home)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "SAL_USE_VCLPLUGIN"):
            self.env.pop(name, None)

    def run(self, *arguments):
        command = [self.soffice, "-env:UserInstallation=file://" + self.profile, "--headless",
                   "--norestore", "--nolockcheck", *arguments]
        started = time.monotonic()
        done = subprocess.run(command, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=600)
        output = done.stdout.decode("utf-8", "replace")
        print(f"soffice {' '.join(arguments)}: {time.monotonic() - started:.1f} s", flush=True)
        return done.returncode, output

    def version(self):
        rc, output = self.run("--version")
        check(rc == 0, f"soffice --version: status {rc}: {output}")
        return output.strip()

    def convert(self, paths, target, outdir, infilter=None):
        """Each of paths converted to target ("fods", "csv:FILTER:OPTIONS") in outdir."""
        os.makedirs(outdir, exist_ok=True)
        arguments = ([f"--infilter={infilter}"] if infilter else []) + ["--convert-to", target, "--outdir", outdir]
        rc, output = self.run(*arguments, *paths)
        extension = target.split(":", 1)[0]
        made = [os.path.join(outdir, os.path.splitext(os.path.basename(p))[0] + "." + extension) for p in paths]
        for path in made:
            check(rc == 0 and os.path.exists(path), f"Calc made no {path} (status {rc}): {output}")
        return made


def cell_text(cell):
    """A cell's text as shown, with ODF's runs of spaces (text:s) expanded."""
    lines = []
    for p in cell.findall("text:p", NS):
        parts = [p.text or ""]
        for child in p:
            if child.tag == f"{{{NS['text']}}}s":
                parts.append(" " * int(child.get(f"{{{NS['text']}}}c", "1")))
            else:
                parts.append("".join(child.itertext()))
            parts.append(child.tail or "")
        lines.append("".join(parts))
    return "\n".join(lines)


def cells_of(fods):
    """The first sheet's rows as lists of (value type, value) cells."""
    sheet = ET.parse(fods).getroot().find(".//table:table", NS)
    rows = []
    for row in sheet.iter(f"{{{NS['table']}}}table-row"):
        cells = []
        for cell in row.findall("table:table-cell", NS):
            kind = cell.get(f"{{{NS['office']}}}value-type")
            if kind is None:
                continue
            value = cell.get(f"{{{NS['office']}}}value") if kind == "float" else cell_text(cell)
            repeat = int(cell.get(f"{{{NS['table']}}}number-columns-repeated", "1"))
            cells.extend([(kind, value)] * repeat)
        if cells:
            rows.append(cells)
    return rows


def expected_cells():
    rows = [[("string", name) for name in HEADER]]
    for number, name, minutes in STEPS:
        rows.append([("float", str(number)), ("string", name), ("float", str(minutes))])
    return rows


class Tool:
    def __init__(self, path, work):
        self.path = path
        self.env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"), HOME=os.path.join(work, "home"))

    def write(self, path, steps):
        text = "".join(f"{n}\t{name}\t{m}\n" for n, name, m in steps)
        done = subprocess.run([self.path, "write", path], input=text.encode("utf-8"), env=self.env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        check(done.returncode == 0, f"writing {path}: {done.stderr.decode('utf-8', 'replace')}")

    def read(self, path):
        """(steps, None) or (None, the error box's text)."""
        done = subprocess.run([self.path, "read", path], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        if done.returncode != 0:
            return None, done.stderr.decode("utf-8").strip()
        steps = []
        for line in done.stdout.decode("utf-8").splitlines():
            n, name, m = line.split("\t")
            steps.append((int(n), name, int(m)))
        return steps, None


def run(args, work):
    calc = Calc(args.soffice, work)
    tool = Tool(args.tool, work)
    print(calc.version(), flush=True)
    faults = []

    # Tintrava's own files, under either name the save dialog gives them.
    ours = [os.path.join(work, "abfolge.tintrava"), os.path.join(work, "tabelle.csv")]
    for path in ours:
        tool.write(path, STEPS)
    sheets = calc.convert(ours, "fods", os.path.join(work, "sheets"), f"{CSV_FILTER}:{READ_OPTIONS}")
    for path, sheet in zip(ours, sheets):
        got = cells_of(sheet)
        if got != expected_cells():
            faults.append(f"Calc read {os.path.basename(path)} as {got}")

    # What Calc writes from those cells. Calc names its output after the
    # sheet, so each form gets its own folder.
    forms = {
        "unquoted": write_options(),
        "quote all text cells": write_options(quote_all=True),
        "comma-separated": write_options(separator=44),
        "Windows-1252": write_options(charset=1),
    }
    written = {}
    for i, (form, options) in enumerate(forms.items()):
        written[form] = calc.convert(sheets[:1], f"csv:{CSV_FILTER}:{options}", os.path.join(work, f"out{i}"))[0]
    with open(written["quote all text cells"], "rb") as f:
        quoted_bytes = f.read()
    if not quoted_bytes.startswith(b'"FarbNr";"Bezeichnung";"Minuten"') or b'5;"Orange";10' not in quoted_bytes:
        faults.append(f"Calc did not quote the text cells: {quoted_bytes[:80]!r}")

    for form in ("unquoted", "quote all text cells"):
        steps, error = tool.read(written[form])
        if steps != STEPS:
            faults.append(f"Calc's {form} file read as {steps}: {error}")

    refusals = {
        "comma-separated": "Zeile 1: die Felder sind durch Kommas getrennt. " + ADVICE,
        # Weiß is on line 4.
        "Windows-1252": "Zeile 4: kein gültiger UTF-8-Text. " + ADVICE,
    }
    for form, expected in refusals.items():
        steps, error = tool.read(written[form])
        if steps is not None or error is None or not error.endswith(": " + expected):
            faults.append(f"Calc's {form} file: read as {steps}, error {error!r}, expected it to end in {expected!r}")

    for fault in faults:
        print("FAIL", fault, flush=True)
    return not faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--soffice", default=shutil.which("soffice"))
    args = parser.parse_args()
    if not args.soffice:
        print("FAIL soffice not found: LibreOffice Calc is needed (Debian: libreoffice-calc-nogui)", flush=True)
        return 1
    with tempfile.TemporaryDirectory(prefix="tintrava-calc-") as work:
        try:
            ok = run(args, work)
        except Failure as failure:
            print("FAIL", failure, flush=True)
            ok = False
    print("PASS" if ok else "FAILED", flush=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
