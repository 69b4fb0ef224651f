#!/usr/bin/env python3
"""Runs a Windows test program under Wine in a fresh prefix of its own and
ends that prefix's wineserver afterwards.

  under_wine.py WINE PROGRAM [ARGUMENT...]"""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    wine, program, *arguments = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="tintrava-wine-") as top:
        env = dict(os.environ, WINEPREFIX=os.path.join(top, "prefix"), WINEDEBUG="-all", WINEARCH="win64",
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        env.pop("DISPLAY", None)
        subprocess.run([wine, "wineboot", "--init"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=False)
        try:
            status = subprocess.run([wine, program, *arguments], env=env, timeout=300).returncode
        finally:
            server = shutil.which("wineserver") or os.path.join(os.path.dirname(wine), "wineserver")
            subprocess.run([server, "-k"], env=env, timeout=60, check=False)
    return status


if __name__ == "__main__":
    sys.exit(main())
