// The 16 colours an attribute nibble selects (foreground: low nibble, background: high
// nibble; bit 7 selects the bright backgrounds, nothing blinks).
#pragma once

#include <cstdint>

struct TRgb {
    uint8_t r, g, b;
};

inline constexpr TRgb kColourTable[16] = {
    {0, 0, 0},       {0, 0, 127},     {0, 127, 0},     {0, 127, 127},
    {127, 0, 0},     {127, 0, 127},   {127, 127, 0},   {191, 191, 191},
    {127, 127, 127}, {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
    {255, 0, 0},     {255, 0, 255},   {255, 255, 0},   {255, 255, 255},
};
