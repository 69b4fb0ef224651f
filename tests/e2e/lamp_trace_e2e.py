#!/usr/bin/env python3
"""End-to-end cases on the calls a played sequence makes on the lamp: the
window's run, call for call and with its waits, against a recorded trace
shape (tests/e2e/traces), and "Abbrechen" clicked while an exchange is on
the wire.

    lamp_trace_e2e.py CASE --program PATH --lamp PATH [--viewer PATH] [--screenshot PATH]

TINTRAVA_RECORD_TRACE=1 writes the shape of this run into the source tree
instead of comparing (only after checking by hand that the run is right).
"""

import os
import sys
import time

from tintrava_e2e import (BYTE_LAMP, CANCEL_BUTTON, START_BUTTON, TEXT_LAMP, Failure, click, exchanges, main,
                          palette, set_minutes, wait_for, writes)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

import trace_shape  # noqa: E402

TRACES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "traces")


def compare_or_record(name, lines):
    path = os.path.join(TRACES, name)
    if os.environ.get("TINTRAVA_RECORD_TRACE") == "1":
        with open(path, "w", encoding="utf-8") as f:
            f.write(f"# The lamp calls of a played sequence ({name}); tests/support/trace_shape.py\n")
            f.write("\n".join(lines) + "\n")
        print(f"recorded {path}")
        return
    difference = trace_shape.differences(trace_shape.read_shape(path), lines)
    if difference:
        raise Failure(f"the run's lamp calls differ from {name}: {difference}\nwhole shape:\n" + "\n".join(lines))
    print(f"{len(lines)} lines as in {name}")


def play_two_short_steps(case, devices, name, pause_after_off):
    """Orange and Blau for 0 minutes each in table row 3: one tick each, then
    the run ends by itself with the lamp off."""
    program = case.program(conf="3\n", devices=devices).start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, palette("Blau"))
    set_minutes(program, wid, 1, 0)
    set_minutes(program, wid, 2, 0)
    click(wid, START_BUTTON)

    def shaped():
        try:
            return trace_shape.shape(trace_shape.read_calls(program.trace.path, program.pid),
                                     pause_after_off=pause_after_off)
        except ValueError:
            return None
    lines = wait_for("the run to end with the lamp off", shaped, 60)
    compare_or_record(name, lines)


def case_trace_window_text(case):
    play_two_short_steps(case, TEXT_LAMP, "window-text.trace", True)


def case_trace_window_byte(case):
    play_two_short_steps(case, BYTE_LAMP, "window-byte.trace", False)


def case_cancel_during_exchange(case):
    """"Abbrechen" clicked while a colour command waits for the lamp's
    reply: the overlay goes at once, the exchange runs to its close, and only
    then is the lamp opened for the off."""
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    program.wait_calls("the first Orange command", lambda cs: any(c.heard == "C:FF7D00" for c in writes(cs)))
    # The next command's write: the click lands in its 200 ms wait (or, on a
    # slow machine, a little after; the order checked below holds either way).
    seen = sum(c.heard == "C:FF7D00" for c in writes(program.calls()))

    def next_write():
        calls = program.calls()
        return calls if sum(c.heard == "C:FF7D00" for c in writes(calls)) > seen else None
    calls = wait_for("the next Orange command", next_write, 30)
    write_at = next(i for i in range(len(calls) - 1, -1, -1) if calls[i].heard == "C:FF7D00")
    click(wid, CANCEL_BUTTON)
    clicked = len(program.calls())
    calls = program.wait_calls("the lamp switched off", lambda cs: any(c.heard == "C:000000" for c in writes(cs)))
    # exchanges() fails on an open while another device is open.
    exs = exchanges(calls)
    in_flight = next(ex for ex in exs if any(c is calls[write_at] for c in ex))
    off = next(ex for ex in exs if any(c.heard == "C:000000" for c in ex))
    if in_flight[-1].call != "FT_Close":
        raise Failure("the exchange in flight at the click was not closed")
    if off[0].t < in_flight[-1].t:
        raise Failure(f"the off opened the lamp before the exchange in flight closed it:\n{in_flight[-1]}\n{off[0]}")
    between = [c for c in calls[calls.index(in_flight[-1]) + 1:calls.index(off[0])] if c.call == "FT_Write"]
    if between:
        raise Failure(f"commands between the click and the off: {between}")
    print(f"click after {len(calls[:clicked]) - write_at - 1} calls of the exchange in flight; "
          f"off opened {off[0].t - in_flight[-1].t:.0f} ms after its close")


CASES = {
    "trace_window_text": case_trace_window_text,
    "trace_window_byte": case_trace_window_byte,
    "cancel_during_exchange": case_cancel_during_exchange,
}

if __name__ == "__main__":
    sys.exit(main(CASES))
