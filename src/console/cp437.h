// Code page 437: the glyph of every character code 0-255 as a Unicode code point, the way a
// PC's text screen shows it (codes 1-31 and 127 are the pictures, not control characters).
#pragma once

#include <cstdint>

char32_t Cp437ToUnicode(uint8_t code);

// The code of the glyph that shows `c` among codes 80-FF (the letters, box drawing, blocks and
// symbols beyond ASCII), or -1 when none of them does. Derived from the table above.
int HighCp437Code(char32_t c);
