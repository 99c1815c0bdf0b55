// A PNG encoder for a window system without an image writer of its own (the Win32 window): the
// pixels go out uncompressed (zlib's stored blocks), which every PNG reader takes. An 80 x 25
// console of 9 x 16 cells is about 0.7 MB.
#pragma once

#include <cstdint>
#include <string>

// The PNG file of a width x height picture, 8-bit RGB, from top-down rows of 0x00RRGGBB pixels
// (the layout of a 32-bit DIB section).
std::string EncodePng(int width, int height, const uint32_t* pixels);
