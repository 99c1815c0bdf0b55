// Escape sequences, fed through the real main cycle as the target sends them.
#include "fakes.h"

#include <gtest/gtest.h>

namespace {

struct TResult {
    std::string row0;
    int row, column;
    uint8_t attr;
};

// Runs the main cycle over `stream`, delivered in one piece or one byte per round of the
// window system, from a screen with the given attribute, and returns what it left.
TResult Feed(const std::string& stream, bool bytewise = false, uint8_t attr = 0x0F) {
    TCoreRig rig;
    rig.screen.ClearScreen();
    rig.screen.SetAttribute(attr);
    rig.screen.SetCursor(0, 0);
    // The banner goes first; start the screen fresh right after it.
    rig.Step([&] {
        rig.screen.ClearScreen();
        rig.screen.SetAttribute(attr);
    });
    if (bytewise)
        for (char c : stream) rig.StepDeliver({static_cast<uint8_t>(c)});
    else
        rig.StepDeliver(Bytes(stream));
    rig.Run();
    std::string row0 = rig.screen.RowText(0);
    row0.erase(row0.find_last_not_of(' ') + 1);
    return {row0, rig.screen.CursorRow(), rig.screen.CursorColumn(), rig.screen.Attribute()};
}

const std::string ESC = "\x1b";

} // namespace

TEST(CursorPosition, ZeroOrMissingParametersMeanTheTopLeftAndLargeOnesClamp) {
    struct {
        std::string seq;
        int row, column;
    } cases[] = {
        {"[H", 0, 0},          {"[0;0H", 0, 0},        {"[5H", 4, 0},
        {"[99;200H", 24, 79},  {"[1<H", 18, 0},        {"[3;7H", 2, 6},
        {"[25;80H", 24, 79},   {"[99999999999999;4294967297H", 24, 79},
        {"[2;3;4;5H", 1, 2},
    };
    for (const auto& c : cases) {
        for (bool bytewise : {false, true}) {
            const TResult r = Feed("abc" + ESC + c.seq, bytewise);
            EXPECT_EQ(r.row, c.row) << c.seq;
            EXPECT_EQ(r.column, c.column) << c.seq;
            EXPECT_EQ(r.row0, "abc") << c.seq;
        }
    }
}

TEST(ClearScreen, OnlyAFirstParameterStartingWithTwoClears) {
    for (const std::string seq : {"[2J", "[20J", "[2;5J"}) {
        const TResult r = Feed("abc" + ESC + "[5;5H" + ESC + "[31m" + ESC + seq, false, 0x1E);
        EXPECT_EQ(r.row0, "") << seq;
        EXPECT_EQ(r.row, 0);
        EXPECT_EQ(r.column, 0);
        EXPECT_EQ(r.attr, 0x0F) << seq;
    }
    for (const std::string seq : {"[J", "[0J", "[1J", "[02J"}) {
        const TResult r = Feed("abc" + ESC + seq);
        EXPECT_EQ(r.row0, "abc") << seq;
        EXPECT_EQ(r.column, 3) << seq;
    }
}

TEST(Attributes, AreAppliedInOrderUpToTheFirstEmptyParameter) {
    struct {
        uint8_t from;
        std::string seq;
        uint8_t to;
    } cases[] = {
        {0x0F, "[1;34;47m", 0x79}, {0x79, "[0m", 0x71},    {0x07, "[7m", 0x70},
        {0x70, "[7m", 0x07},       {0x70, "[0m", 0x70},    {0x0F, "[m", 0x0F},
        {0x0F, "[;1m", 0x0F},      {0x07, "[1;;31m", 0x0F}, {0x8F, "[0m", 0x07},
        {0x0F, "[31m", 0x0C},      {0x87, "[44m", 0x97},   {0x07, "[38;49;5m", 0x07},
        {0x07, "[30;31;32;33;34;35;36;37;40;41;1m", 0x4F},
    };
    for (const auto& c : cases) {
        for (bool bytewise : {false, true}) {
            const TResult r = Feed(ESC + c.seq + "x", bytewise, c.from);
            EXPECT_EQ(r.attr, c.to) << c.seq << " from " << int(c.from);
            EXPECT_EQ(r.row0, "x");
        }
    }
}

TEST(Unrecognised, SequencesAreEchoedAsGlyphsAndTheRestIsText) {
    EXPECT_EQ(Feed(ESC + "[25A").row0, "\x1b[25A");
    EXPECT_EQ(Feed(ESC + "[25A").column, 5);
    EXPECT_EQ(Feed(ESC + "[?25l").row0, "\x1b[?25l");
    EXPECT_EQ(Feed(ESC + "[1<A").row0, "\x1b[19A");
    // CR and LF inside an unrecognised sequence are dropped by the echo.
    EXPECT_EQ(Feed(ESC + "[1\r\nz").row0, "\x1b[1z");
    // An ESC inside a sequence ends it as unrecognised, and is echoed.
    EXPECT_EQ(Feed(ESC + "[1" + ESC + "[2J").row0, "\x1b[1\x1b[2J");
}

TEST(Parameters, ElevenAreCarriedOutTwelveAreDroppedSilently) {
    EXPECT_EQ(Feed(ESC + "[1;1;1;1;1;1;1;1;1;1;34m", false, 0x07).attr, 0x09);
    const TResult twelve = Feed("a" + ESC + "[1;1;1;1;1;1;1;1;1;1;1;34m", false, 0x07);
    EXPECT_EQ(twelve.attr, 0x07);
    EXPECT_EQ(twelve.row0, "a");
}

TEST(Parameters, ASequenceThatOutgrowsItsLimitsIsEchoedNotStored) {
    const std::string digits(80, '1'); // one more than a parameter holds
    const TResult r = Feed(ESC + "[" + digits + "H");
    EXPECT_EQ(r.row0.substr(0, 2), "\x1b[");
    EXPECT_EQ(r.row, 1); // 82 glyphs wrapped onto the second row
    const std::string endless(5000, ';');
    const TResult e = Feed(ESC + "[" + endless + "Hq");
    EXPECT_EQ(e.row0.substr(0, 3), "\x1b[;");
    EXPECT_EQ(e.row, 24); // the echo clamps on the last row, nothing overflows
}

TEST(Incomplete, ASequenceCutOffByAStopHasNoEffect) {
    TCoreRig rig;
    rig.Step([&] { rig.screen.ClearScreen(); });
    rig.StepDeliver(Bytes("ab\x1b[3;4"));
    rig.Run(); // the script runs dry: the idle step requests the stop
    EXPECT_EQ(rig.screen.RowText(0).substr(0, 3), "ab ");
    EXPECT_EQ(rig.screen.CursorColumn(), 2);
}

TEST(Incomplete, ASequenceWaitsForItsFinalWhileTheWindowKeepsRunning) {
    TCoreRig rig;
    rig.Step([&] { rig.screen.ClearScreen(); });
    rig.StepDeliver(Bytes("\x1b[3;"));
    for (int i = 0; i < 30; ++i) rig.StepTick(); // three seconds of timer ticks meanwhile
    rig.StepDeliver(Bytes("4H"));
    rig.Run();
    EXPECT_EQ(rig.screen.CursorRow(), 2);
    EXPECT_EQ(rig.screen.CursorColumn(), 3);
    EXPECT_EQ(rig.host.statuses, std::vector<std::string>{"Timeout!"});
}
