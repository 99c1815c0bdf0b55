#include "screen_text.h"

#include <gtest/gtest.h>

#include <string>

TEST(ScreenText, GlyphsBecomeTheirUnicodeLookAlikesInUtf8) {
    TScreen s;
    // A box corner, a shade, a smiley (01), the house (7F), a Greek letter and ASCII.
    const uint8_t codes[] = {0xC9, 0xB0, 0x01, 0x7F, 0xE0, 'a'};
    for (int i = 0; i < 6; ++i) s.CharOut(0x07, i, 0, codes[i]);
    EXPECT_EQ(CellsText(&s.Cell(0, 0), kScreenColumns), "\u2554\u2591\u263A\u2302\u03B1a");
}

TEST(ScreenText, TrailingBlanksGoButBlanksInsideARowStay) {
    TScreen s;
    s.CharOut(0x07, 0, 0, 'x');
    s.CharOut(0x07, 1, 0, 0x00); // drawn as a blank: a space inside the row
    s.CharOut(0x07, 2, 0, 0xFF); // a non-breaking space inside the row
    s.CharOut(0x07, 3, 0, 'y');
    s.CharOut(0x07, 4, 0, 0xFF); // at the end: blank, trimmed
    s.CharOut(0x07, 5, 0, 0x00);
    EXPECT_EQ(CellsText(&s.Cell(0, 0), kScreenColumns), "x \u00A0y");
    EXPECT_EQ(CellsText(&s.Cell(1, 0), kScreenColumns), "");
}

TEST(ScreenText, TheScreenIsItsRowsEachWithALineEndWithoutTheBlankRowsBelow) {
    TScreen s;
    const std::string end = kTextLineEnd;
    EXPECT_EQ(ScreenText(s), "");
    s.StrOut(0x07, 2, 0, "top");
    s.StrOut(0x07, 0, 3, "fourth");
    EXPECT_EQ(ScreenText(s), "  top" + end + end + end + "fourth" + end);
#ifdef _WIN32
    EXPECT_EQ(end, "\r\n");
#else
    EXPECT_EQ(end, "\n");
#endif
}

TEST(ScreenText, AnsiIsCodePage437WithAColourSequenceAtEachChange) {
    TScreen s;
    s.StrOut(0x1E, 0, 0, "A\xC9");   // yellow on blue, a box corner
    s.CharOut(0x8F, 2, 0, 0x1B);      // white on dark grey (a bright background), ESC shown as '.'
    s.CharOut(0x07, 0, 1, 0x00);      // a 00 cell inside a row is a blank
    s.CharOut(0x07, 1, 1, 'b');
    s.CharOut(0x40, 5, 1, ' ');       // a blank on red is kept
    std::string expected = "\x1b[0m"
                           "\x1b[0;1;33;44mA\xC9\x1b[0;1;5;37;40m.\r\n"
                           "\x1b[0;37;40m b\x1b[0;1;37;40m   \x1b[0;30;41m \r\n";
    for (int row = 2; row < kScreenRows; ++row) expected += "\r\n";
    EXPECT_EQ(ScreenAnsi(s), expected + "\x1b[0m");
}
