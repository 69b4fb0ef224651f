#pragma once
// The window icon's sizes as pixels, written at build time from the PNGs
// rendered from the icon's SVG (data/icon_pixels.py).
#include <cstddef>
#include <cstdint>

namespace tintrava::window_icon_pixels {

struct Image {
    int side;
    // side * side pixels, row by row, each 0xAARRGGBB, alpha not premultiplied.
    const std::uint32_t *argb;
};

extern const Image images[];
extern const int imageCount;

// Every size one after another as X's _NET_WM_ICON property holds them: its
// width and height, then its pixels. images[] points into it.
extern const std::uint32_t netWmIcon[];
extern const std::size_t netWmIconLength;

} // namespace tintrava::window_icon_pixels
