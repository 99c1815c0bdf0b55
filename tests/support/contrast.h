// The contrast ratio of two colours (0xRRGGBB) as accessibility guidelines define it: 1:1 for
// equal colours, 21:1 for black on white. Legible text wants 4.5:1, large text 3:1.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

inline double RelativeLuminance(uint32_t rgb) {
    auto channel = [](uint32_t v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xFF) + 0.7152 * channel((rgb >> 8) & 0xFF) +
           0.0722 * channel(rgb & 0xFF);
}

inline double Contrast(uint32_t a, uint32_t b) {
    const double la = RelativeLuminance(a), lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
