// The control panel: 41 pixels high across the top of the window.
#include "form_view.h"

namespace {
constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kRed = 0xFF0000;
} // namespace

// "Connect" was white on the button face, which nobody can read (1.1:1): a push button's caption
// takes the window system's button-text colour, as native push buttons draw it anyway.
// clang-format off
const std::array<TControlDesc, kControlCount> kPanelControls = {{
    // id            kind           name           left top  w   h   caption           hint                                                        face      px  bold   colour         visible enabled checked right
    {ciConnect,     ckPushButton,  "Connect",      7,   8,  71, 25, "Connect",        "Open COM port",                                            ffPanel,  13, true,  kSystemColour,       true,  true,  false, false},
    {ciDisconnect,  ckSpeedButton, "Disconnect",   81,  8,  89, 25, "Disconnect",     "Close COM Port",                                           ffPanel,  13, true,  kSystemColour, true,  false, false, false},
    {ciRscr,        ckFlatButton,  "Rscr",         176, 8,  29, 25, "R",              "Refresh Screen",                                           ffConsole, 0, false, kRed,          true,  true,  false, false},
    {ciButtonDel,   ckPushButton,  "ButtonDel",    176, 8,  29, 25, "Del",            "Push Ctrl-Alt and this button to reboot Remote computer", ffPanel,  13, true,  kSystemColour, false, true,  false, false},
    {ciEnaKeyboard, ckCheckBox,    "EnaKeyboard",  212, 14, 65, 17, "Keyboard",       "",                                                         ffPanel,  11, false, kSystemColour, false, true,  false, false},
    {ciEnaVideo,    ckCheckBox,    "EnaVideo",     280, 14, 49, 17, "Video",          "",                                                         ffPanel,  11, false, kSystemColour, false, true,  true,  false},
    {ciEnaFloppy,   ckCheckBox,    "EnaFloppy",    332, 14, 65, 17, "Floppy...",      "Connect Floppy Image",                                     ffPanel,  11, false, kSystemColour, true,  true,  false, false},
    {ciCOMGroup,    ckRadioGroup,  "COMGroup",     400, 2, 122, 32, "COM1\nCOM2",     "",                                                         ffPanel,  11, false, kSystemColour, true,  true,  false, false},
    {ciLabel1,      ckLabel,       "Label1",       532, 13, 42, 15, "Label1",         "",                                                         ffFixed,  12, false, kSystemColour, true,  true,  false, false},
    {ciLabel2,      ckLabel,       "Label2",       0,   1,  0,  41, "0",              "",                                                         ffPanel,  11, false, kSystemColour, true,  false, false, true},
    {ciMarker,      ckBar,         "Marker",       0,   0,  0,  2,  "",               "",                                                         ffPanel,  0,  false, kWhite,        false, true,  false, false},
}};
// clang-format on

const std::array<TPanelState, 6> kPanelStates = {{
    {ciEnaKeyboard, true, false},
    {ciEnaVideo, true, false},
    {ciEnaFloppy, true, false},
    {ciConnect, true, false},
    {ciDisconnect, false, true},
    {ciCOMGroup, true, false},
}};

uint32_t GreyedCaptionColour(uint32_t face, uint32_t text) {
    constexpr int kShare = 65; // percent of the way from the face to the text
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
        const int f = static_cast<int>((face >> shift) & 0xFF);
        const int t = static_cast<int>((text >> shift) & 0xFF);
        const int c = f + ((t - f) * kShare + (t >= f ? 50 : -50)) / 100;
        out |= static_cast<uint32_t>(c) << shift;
    }
    return out;
}
