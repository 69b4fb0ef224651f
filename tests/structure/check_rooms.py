#!/usr/bin/env python3
"""Holds the source tree to its rooms: an include only ever points down
(app -> ui -> storage -> sequence -> lamp -> lamp/d2xx; play, the player
without a window, sits beside app), and the plain C++ rooms (play, sequence,
lamp) include no Qt header."""
import re
import sys
from pathlib import Path

TOP = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
# Top to bottom. A file may include its own room and any room below it.
ROOMS = ["app", "play", "ui", "storage", "sequence", "lamp", "lamp/d2xx"]
PLAIN = {"play", "sequence", "lamp", "lamp/d2xx"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def room_of(path: str):
    best = None
    for room in ROOMS:
        if path == room or path.startswith(room + "/"):
            if best is None or len(room) > len(best):
                best = room
    return best


def main() -> int:
    faults = []
    for src in sorted(TOP.rglob("*")):
        if src.suffix not in {".h", ".cpp"} or not src.is_file():
            continue
        rel = src.relative_to(TOP).as_posix()
        room = room_of(rel)
        if room is None:
            continue
        for n, line in enumerate(src.read_text(encoding="utf-8").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m:
                continue
            kind, name = m.groups()
            if room in PLAIN and kind == "<" and re.match(r"Q[A-Za-z]|Qt", name):
                faults.append(f"{rel}:{n}: Qt header <{name}> in the plain C++ room {room}/")
            target = room_of(name) if kind == '"' else None
            if target is not None and ROOMS.index(target) < ROOMS.index(room):
                # lamp/d2xx sits below lamp; a lamp file may include it, not the reverse.
                faults.append(f"{rel}:{n}: includes {name}, which lies above {room}/")
    for fault in faults:
        print(fault)
    print(f"{len(faults)} include faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
