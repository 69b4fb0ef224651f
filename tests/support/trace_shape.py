"""The shape of a lamp trace: the virtual lamp's call trace reduced to what
the program decides (calls, arguments, data, results and the waits between
them), without absolute times, process ids or handle numbers, so that two runs
of the same sequence compare line by line.

Waits are shown only where the program makes one: "wait>=200ms" before the
reply of a text exchange is asked for (the gap after its write), and after a
run's final off, whether the next discovery came at least a second later.
Waits are only ever checked from below: a slow machine makes them longer,
never shorter.
"""

import re

_HANDLE = re.compile(r"\s*handle=\d+")
_WAITED = re.compile(r"\s*waited=[0-9.]+")

REPLY_WAIT_MS = 200.0
DISCOVERY_INTERVAL_MS = 1000.0


def parse(line):
    fields = dict(field.split("=", 1) for field in line.split("\t"))
    fields["t"] = float(fields["t"])
    fields["pid"] = int(fields["pid"])
    return fields


def read_calls(path, pid=None):
    """Whole lines of the trace file, of one process when pid is given."""
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\n")
    calls = [parse(line) for line in lines[:-1] if line]
    return [c for c in calls if pid is None or c["pid"] == pid]


def _shown(value):
    return "" if value == "-" else value


def line_of(call):
    """One call as it stands in a shape."""
    args = _HANDLE.sub("", _shown(call["args"])).strip()
    result = _WAITED.sub("", _HANDLE.sub("", _shown(call["result"]))).strip()
    parts = [call["call"]]
    if args:
        parts.append(args)
    if call["data"] != "-":
        parts.append("data=" + call["data"])
    parts.append("->")
    parts.append(call["status"])
    if result:
        parts.append(result)
    if call["heard"] != "-":
        parts.append("heard=" + call["heard"])
    return " ".join(parts)


def is_count(call):
    return call["call"] == "FT_ListDevices" and call["args"] == "flags=NUMBER_ONLY"


def shape(calls, discoveries_before=2, off_heard=("C:000000", "colour:11"), pause_after_off=False):
    """The shape of one played sequence in calls: from the discoveries_before
    last discoveries before the first open to the close after the write the
    lamp took as off. With pause_after_off, a last line says whether the
    next discovery came at least a second after that close (None when the
    trace holds no later discovery yet)."""
    first_open = next((i for i, c in enumerate(calls) if c["call"] == "FT_OpenEx"), None)
    if first_open is None:
        raise ValueError("the trace holds no open")
    counts = [i for i in range(first_open) if is_count(calls[i])]
    if len(counts) < discoveries_before:
        raise ValueError(f"fewer than {discoveries_before} discoveries before the first open")
    start = counts[-discoveries_before] if discoveries_before else first_open
    off = next((i for i in range(first_open, len(calls))
                if calls[i]["call"] == "FT_Write" and calls[i]["heard"] in off_heard), None)
    if off is None:
        raise ValueError("the trace holds no off command")
    end = next((i for i in range(off, len(calls)) if calls[i]["call"] == "FT_Close"), None)
    if end is None:
        raise ValueError("the off command's device was not closed")

    lines = []
    last_write = None
    for c in calls[start:end + 1]:
        if c["call"] == "FT_Write":
            last_write = c
        if c["call"] == "FT_GetQueueStatus" and last_write is not None:
            gap = c["t"] - last_write["t"]
            lines.append("wait>=200ms" if gap >= REPLY_WAIT_MS else "wait<200ms")
        lines.append(line_of(c))
    if pause_after_off:
        later = next((c for c in calls[end + 1:] if is_count(c)), None)
        if later is None:
            return None
        gap = later["t"] - calls[end]["t"]
        lines.append("next discovery " + (">=1000ms" if gap >= DISCOVERY_INTERVAL_MS else "<1000ms") + " after the off")
    return lines


def read_shape(path):
    with open(path, encoding="utf-8") as f:
        return [line for line in f.read().split("\n") if line and not line.startswith("#")]


def differences(expected, actual):
    """A readable account of where two shapes part, empty when equal."""
    if expected == actual:
        return ""
    for i, (e, a) in enumerate(zip(expected, actual)):
        if e != a:
            return f"line {i + 1}: expected\n  {e}\nbut the trace has\n  {a}"
    if len(expected) > len(actual):
        return f"the trace ends after line {len(actual)}; expected next\n  {expected[len(actual)]}"
    return f"the trace goes on after line {len(expected)} with\n  {actual[len(expected)]}"
