// The panel's pure rules, whatever the window system.
#include "form_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

double Luminance(uint32_t rgb) {
    auto channel = [](uint32_t v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel((rgb >> 16) & 0xFF) + 0.7152 * channel((rgb >> 8) & 0xFF) +
           0.0722 * channel(rgb & 0xFF);
}

double Contrast(uint32_t a, uint32_t b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

TEST(Panel, AGreyedCaptionReadsOnTheFaceYetStaysFainterThanANormalOne) {
    // Light faces of wine, Windows and Qt's Fusion style, and a dark one.
    const std::pair<uint32_t, uint32_t> schemes[] = {
        {0xF5F5F5, 0x000000}, {0xF0F0F0, 0x000000}, {0xEFEFEF, 0x000000},
        {0xD4D0C8, 0x000000}, {0x202020, 0xFFFFFF}, {0x353535, 0xFFFFFF},
    };
    for (auto [face, text] : schemes) {
        const uint32_t greyed = GreyedCaptionColour(face, text);
        EXPECT_GE(Contrast(greyed, face), 4.5) << std::hex << face << " " << greyed;
        EXPECT_LT(Contrast(greyed, face), Contrast(text, face) * 0.8) << std::hex << face;
    }
    EXPECT_EQ(GreyedCaptionColour(0x808080, 0x808080), 0x808080u);
}
