#!/usr/bin/env python3
"""Writes the window icon's PNGs as a C++ array of 0xAARRGGBB pixels, so the
program sets its icon at start without decoding a PNG (which costs more
than the rest of the icon's work: the 128 px size alone is 16384 pixels to
inflate and unfilter).

    icon_pixels.py OUTPUT.cpp SIZE=FILE.png [SIZE=FILE.png ...]

Reads the 8-bit RGBA, non-interlaced PNGs rsvg-convert writes; anything else
is an error, not a guess."""
import os
import struct
import sys
import zlib


def fail(message):
    sys.exit(f"icon_pixels.py: {message}")


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(f"{path}: not a PNG")
    pos, header, idat = 8, None, []
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length:
            fail(f"{path}: cut short in a {kind!r} chunk")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None or not idat:
        fail(f"{path}: no image header or no image data")
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 6, 0):
        fail(f"{path}: bit depth {depth}, colour type {colour}, interlace {interlace}; "
             "only 8-bit RGBA without interlace is read")
    raw = zlib.decompress(b"".join(idat))
    stride = width * 4
    if len(raw) != height * (stride + 1):
        fail(f"{path}: {len(raw)} bytes of pixels for {width}x{height}")
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride if kind != 0 else 0):
            left = row[i - 4] if i >= 4 else 0
            up = previous[i]
            up_left = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                add = left
            elif kind == 2:
                add = up
            elif kind == 3:
                add = (left + up) // 2
            elif kind == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                add = left if pa <= pb and pa <= pc else (up if pb <= pc else up_left)
            else:
                fail(f"{path}: row {y} has filter type {kind}")
            row[i] = (row[i] + add) & 0xFF
        rows.append(row)
        previous = row
    return width, height, rows


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    output, images = sys.argv[1], []
    for argument in sys.argv[2:]:
        size, _, path = argument.partition("=")
        width, height, rows = read_png(path)
        if not size.isdigit() or (width, height) != (int(size), int(size)):
            fail(f"{path}: {width}x{height}, expected {size}x{size}")
        pixels = [(r[i + 3] << 24) | (r[i] << 16) | (r[i + 1] << 8) | r[i + 2]
                  for r in rows for i in range(0, len(r), 4)]
        images.append((width, pixels))
    # One array holding every size as X's _NET_WM_ICON property does (width,
    # height, then the pixels), so the icon goes to the X server as it is
    # built in; each size's pixels are also reached on their own.
    lines = ["// Written by data/icon_pixels.py from the rendered window icon; not edited by hand.",
             '#include "ui/window_icon_pixels.h"', "", "namespace tintrava::window_icon_pixels {", ""]
    total = sum(2 + len(pixels) for _, pixels in images)
    lines.append(f"const std::uint32_t netWmIcon[{total}] = {{")
    offsets, offset = [], 0
    for side, pixels in images:
        lines.append(f"    {side}u, {side}u,")
        offsets.append(offset + 2)
        offset += 2 + len(pixels)
        for i in range(0, len(pixels), 8):
            lines.append("    " + ", ".join(f"0x{p:08x}u" for p in pixels[i:i + 8]) + ",")
    lines.append("};")
    lines += [f"const std::size_t netWmIconLength = {total};", "",
              "const Image images[] = {" + ", ".join(f"{{{side}, netWmIcon + {at}}}"
                                                   for (side, _), at in zip(images, offsets)) + "};",
              f"const int imageCount = {len(images)};", "",
              "} // namespace tintrava::window_icon_pixels", ""]
    with open(output + ".tmp", "w") as f:
        f.write("\n".join(lines))
    os.replace(output + ".tmp", output)


if __name__ == "__main__":
    main()
