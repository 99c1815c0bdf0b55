// The panel's pure rules, whatever the window system.
#include "console_form.h"
#include "contrast.h"
#include "form_view.h"

#include <gtest/gtest.h>

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

TEST(ConsoleZoom, TheNearestWholeScaleThatKeepsTheWindowOnTheScreen) {
    // The VGA font's console: 720 x 400 device pixels below a panel.
    struct TCase {
        double scale;
        int panel;
        double ratio;
        TRect room;
        int zoom;
    };
    const TCase cases[] = {
        {1.0, 41, 1.0, {0, 0, 1920, 1040}, 1},   {1.25, 51, 1.0, {0, 0, 1920, 1040}, 1},
        {1.5, 62, 1.0, {0, 0, 1920, 1040}, 2},   {1.75, 72, 1.0, {0, 0, 1920, 1040}, 2},
        {2.0, 82, 1.0, {0, 0, 1920, 1040}, 2},   {3.0, 123, 1.0, {0, 0, 3840, 2100}, 3},
        // Too large for the work area: the next smaller zoom, down to 1 whatever the room.
        {1.5, 62, 1.0, {0, 0, 1366, 728}, 1},    {3.0, 123, 1.0, {0, 0, 1920, 1040}, 2},
        {2.0, 82, 1.0, {0, 0, 1439, 2000}, 1},   {2.0, 82, 1.0, {0, 0, 1440, 882}, 2},
        {2.0, 82, 1.0, {0, 0, 1440, 881}, 1},    {2.0, 82, 1.0, {0, 0, 100, 100}, 1},
        // Client units of 1.5 device pixels (a logical-pixel view): 1440 x 800 device pixels
        // are 960 x 534 units.
        {1.5, 41, 1.5, {0, 0, 1280, 680}, 2},    {1.5, 41, 1.5, {0, 0, 959, 680}, 1},
        {1.5, 41, 1.5, {0, 0, 960, 575}, 2},     {1.5, 41, 1.5, {0, 0, 960, 574}, 1},
        {0.5, 41, 1.0, {0, 0, 1920, 1040}, 1},   {0.0, 41, 1.0, {0, 0, 1920, 1040}, 1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ConsoleZoom(c.scale, 720, 400, c.panel, c.ratio, c.room), c.zoom)
            << c.scale << " " << c.ratio << " " << c.room.width << "x" << c.room.height;
}

// The one table of the panel's two states, which every view's tests hold the view to: while
// connected only Disconnect is enabled, while idle all the others.
TEST(Panel, ConnectAndDisconnectSwitchEachControlOfTheTableTheOtherWay) {
    std::string idle, connected;
    for (const TPanelState& state : kPanelStates) {
        EXPECT_NE(state.idle, state.connected) << kPanelControls[state.id].name;
        (state.idle ? idle : connected) += std::string(kPanelControls[state.id].name) + " ";
    }
    EXPECT_EQ(idle, "EnaKeyboard EnaVideo EnaFloppy Connect COMGroup ");
    EXPECT_EQ(connected, "Disconnect ");
}
