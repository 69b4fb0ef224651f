#!/usr/bin/env python3
"""End-to-end cases on which device the lamp commands reach: a lamp swapped
for one of the other protocol is asked afresh, and a device that is no lamp
is never opened just because its serial is blank.

    lamp_swap_e2e.py CASE --program PATH --lamp PATH [--viewer PATH] [--screenshot PATH]
"""

import sys

from tintrava_e2e import (BYTE_LAMP, CANCEL_BUTTON, START_BUTTON, TEXT_LAMP, Failure, check_byte_exchange,
                          check_text_exchange, click, colour_writes, discoveries, exchanges, main, palette,
                          stop_playback, writes)

# An FTDI device that no description pattern takes and whose EEPROM holds no
# serial number: the driver opens it for an empty serial.
BLANK_SERIAL_STRANGER = "FT232R USB UART||cable\n"


def listed_serials(calls):
    return {c.result.get("text", "") for c in calls
            if c.call == "FT_ListDevices" and c.args.get("flags") == "BY_INDEX|SERIAL" and c.status == "FT_OK"}


def case_text_lamp_swapped_for_byte_lamp(case):
    """A text lamp plays Orange and is stopped; one edit of the device file
    puts a byte lamp in its place. The next run probes the byte lamp with VER,
    sends it Orange as byte frames and switches it off with FF 4B; nothing
    reaches it as a text command."""
    program = case.program(conf="3\n", devices=TEXT_LAMP).start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, START_BUTTON)
    program.wait_calls("two Orange commands to the text lamp",
                       lambda cs: sum(c.heard == "C:FF7D00" for c in writes(cs)) >= 2)
    stop_playback(program, wid, "C:000000")

    swapped_at = len(program.calls())
    program.set_devices(BYTE_LAMP)
    # The discovery timer takes the byte lamp before the user starts again.
    program.wait_calls("the discovery timer to list the byte lamp",
                       lambda cs: "VB000002" in listed_serials(cs[swapped_at:])
                       and len(discoveries(cs[swapped_at:])) >= 2)

    started_at = len(program.calls())
    click(wid, START_BUTTON)
    calls = program.wait_calls("three Orange byte frames to the byte lamp",
                               lambda cs: sum(c.data == "FF45" for c in writes(cs[started_at:])) >= 3)
    complete = [ex for ex in exchanges(calls[started_at:]) if ex[-1].call == "FT_Close"]
    if any(ex[0].serial != "VB000002" for ex in complete):
        raise Failure(f"an exchange of the second run went elsewhere than the byte lamp: "
                      f"{[ex[0].serial for ex in complete]}")
    check_text_exchange(complete[0], "VER")
    probe_reply = next(c for c in complete[0] if c.call == "FT_Read")
    if probe_reply.result.get("got") != "0":
        raise Failure(f"the byte lamp answered VER: {probe_reply}")
    for ex in complete[1:]:
        check_byte_exchange(ex, "FF45")
    heard = [c.heard for c in writes(calls[started_at:])]
    if heard.count("garbled") != 1:
        raise Failure(f"the byte lamp got more than the one probe at the text lamp's line settings: {heard}")
    frames = [c for c in writes(calls[started_at:]) if c.data == "FF45"]
    if any(c.heard != "colour:5" or c.colour != "5" for c in frames):
        raise Failure(f"the byte lamp did not take the frames as Orange: {frames}")

    stop_playback(program, wid, "colour:11")
    off = next(c for c in writes(program.calls()[started_at:]) if c.heard == "colour:11")
    if off.data != "FF4B" or off.serial != "VB000002" or off.colour != "11":
        raise Failure(f"the byte lamp was not switched off with FF 4B: {off}")


def case_blank_serial_stranger_never_opened(case):
    """With only a non-lamp FTDI device with a blank serial attached, a
    playing sequence and its stop list the devices at every command but
    never open one, so the stranger hears nothing."""
    program = case.program(conf="3\n", devices=BLANK_SERIAL_STRANGER).start()
    wid = program.main_window()
    click(wid, palette("Orange"))
    click(wid, palette("Rot"))
    started_at = len(program.calls())
    click(wid, START_BUTTON)
    # Every tick's command runs discovery first, so the listings count the ticks.
    program.wait_calls("five commands' listings while the sequence plays",
                       lambda cs: len(discoveries(cs[started_at:])) >= 6)
    if not any(c.result.get("count") == "1" for c in discoveries(program.calls())):
        raise Failure("the device with the blank serial was never attached; the case tests nothing")

    stopped_at = len(program.calls())
    click(wid, CANCEL_BUTTON)
    # The stop's own command and then the discovery timer, idle again.
    program.wait_calls("the discovery timer to run after the stop",
                       lambda cs: len(discoveries(cs[stopped_at:])) >= 3)
    calls = program.calls()
    touched = [c for c in calls if c.call != "FT_ListDevices"]
    if touched:
        raise Failure("a device was opened or written although no lamp was ever found:\n"
                      + "\n".join(map(repr, touched[:10])))
    if colour_writes(calls):
        raise Failure("something took a colour although no lamp is attached")


if __name__ == "__main__":
    sys.exit(main({
        "lamp_swap_text_to_byte": case_text_lamp_swapped_for_byte_lamp,
        "blank_serial_never_opened": case_blank_serial_stranger_never_opened,
    }))
