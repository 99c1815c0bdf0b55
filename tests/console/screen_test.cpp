#include "cp437.h"
#include "screen.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Trimmed(const TScreen& s, int row) {
    std::string t = s.RowText(row);
    t.erase(t.find_last_not_of(' ') + 1);
    return t;
}

void Fill(TScreen& s, int row, char ch, uint8_t attr) {
    for (int c = 0; c < kScreenColumns; ++c) s.CharOut(attr, c, row, static_cast<uint8_t>(ch));
}

} // namespace

TEST(TargetText, WrapsAtTheRightEdgeAndOverwritesTheLastRowInsteadOfScrolling) {
    TScreen s;
    s.SetCursor(79, 24);
    s.Putch('A');
    EXPECT_EQ(s.Cell(24, 79).ch, 'A');
    EXPECT_EQ(s.CursorRow(), 24);
    EXPECT_EQ(s.CursorColumn(), 0);
    s.Putch('B');
    EXPECT_EQ(s.Cell(24, 0).ch, 'B');
    EXPECT_EQ(Trimmed(s, 0), ""); // nothing scrolled up
}

TEST(TargetText, CarriageReturnAndLineFeedChangeNothingOtherControlsAreGlyphs) {
    TScreen s;
    s.changed = false;
    s.Putch(13);
    s.Putch(10);
    EXPECT_FALSE(s.changed);
    EXPECT_EQ(s.CursorColumn(), 0);
    for (uint8_t ch : {8, 9, 7, 27}) s.Putch(ch);
    EXPECT_TRUE(s.changed);
    EXPECT_EQ(s.CursorColumn(), 4);
    EXPECT_EQ(s.Cell(0, 0).ch, 8);
    EXPECT_EQ(s.Cell(0, 3).ch, 27);
}

TEST(TargetText, AfterClearScreenIsBrightWhiteOnBlack) {
    TScreen s;
    s.SetAttribute(0x1E);
    s.Putch('x');
    s.ClearScreen();
    EXPECT_EQ(s.Cell(0, 0), (TCell{0x20, 0x0F}));
    s.Putch('y');
    EXPECT_EQ(s.Cell(0, 0), (TCell{'y', 0x0F}));
}

TEST(Messages, StartAtTheCursorInTheCurrentAttributeAndEndAtTheNextRow) {
    TScreen s;
    s.SetCursor(10, 3);
    s.SetAttribute(0x1E);
    EXPECT_EQ(s.MsgOut("n=%d", 42), 4);
    EXPECT_EQ(s.RowText(3).substr(10, 4), "n=42");
    EXPECT_EQ(s.Cell(3, 10).attr, 0x1E);
    EXPECT_EQ(s.CursorRow(), 4);
    EXPECT_EQ(s.CursorColumn(), 0);
}

TEST(Messages, OnTheLastRowScrollTheScreenKeepingTheAttributesOfTheRowAbove) {
    TScreen s;
    Fill(s, 0, 'T', 0x07);
    Fill(s, 24, 'B', 0x4E);
    s.SetCursor(0, 24);
    s.SetAttribute(0x1F);
    s.MsgOut("last");
    EXPECT_EQ(Trimmed(s, 0), ""); // old top row gone (row 1 was blank)
    EXPECT_EQ(s.RowText(23).substr(0, 5), "lastB");
    EXPECT_EQ(s.Cell(23, 0).attr, 0x1F);
    EXPECT_EQ(s.Cell(23, 4).attr, 0x4E);
    for (int c = 0; c < kScreenColumns; ++c) {
        EXPECT_EQ(s.Cell(24, c).ch, 0x20);
        EXPECT_EQ(s.Cell(24, c).attr, s.Cell(23, c).attr) << "column " << c;
    }
    EXPECT_EQ(s.CursorRow(), 24);
}

TEST(Messages, EmptyTextOnlyMovesToTheNextRow) {
    TScreen s;
    s.SetCursor(7, 5);
    s.StrOut(0x0F, 7, 5, "");
    EXPECT_EQ(s.CursorRow(), 6);
    EXPECT_EQ(s.CursorColumn(), 0);
    EXPECT_EQ(Trimmed(s, 5), "");
}

TEST(Messages, ExactlyEightyCharactersEndTwoRowsBelow) {
    TScreen s;
    Fill(s, 1, 'k', 0x07);
    s.SetCursor(0, 0);
    s.MsgOut("%s", std::string(80, 'x').c_str());
    EXPECT_EQ(s.RowText(0), std::string(80, 'x'));
    EXPECT_EQ(s.RowText(1), std::string(80, 'k'));
    EXPECT_EQ(s.CursorRow(), 2);
}

TEST(Messages, LongerThanTheBufferAreCutNotOverflowed) {
    TScreen s;
    const std::string path(400, 'p');
    const int n = s.MsgOut("Can not open image file %s", path.c_str());
    EXPECT_EQ(n, 24 + 400);
    // 255 characters fit: three full rows and 15 more.
    EXPECT_EQ(s.RowText(3).substr(0, 16), std::string(15, 'p') + " ");
    EXPECT_EQ(s.CursorRow(), 4);
    // A line written whole keeps all of a long path: five rows.
    s.LineOut(std::string(400, 'q'));
    EXPECT_EQ(s.RowText(8), std::string(80, 'q'));
    EXPECT_EQ(s.CursorRow(), 10); // the five full rows wrap by themselves, then the line end
}

TEST(Teletype, BackspaceStopsAtColumnZeroTabGoesToTheNextMultipleOfEight) {
    TScreen s;
    s.TelePutch(8);
    EXPECT_EQ(s.CursorColumn(), 0);
    s.SetCursor(8, 0);
    s.TelePutch(9);
    EXPECT_EQ(s.CursorColumn(), 16);
    s.TelePutch(7);
    EXPECT_EQ(s.CursorColumn(), 16);
}

TEST(Teletype, PrintingKeepsTheCellAttributeAndATabToTheEdgeWraps) {
    TScreen s;
    s.CharOut(0x4E, 5, 0, 'a');
    s.SetCursor(5, 0);
    s.TelePutch('Z');
    EXPECT_EQ(s.Cell(0, 5), (TCell{'Z', 0x4E}));
    s.SetCursor(75, 0);
    s.TelePutch(9); // the right edge: wraps
    s.TelePutch('W');
    EXPECT_EQ(s.Cell(1, 0).ch, 'W');
}

TEST(Cursor, NoOperationLeavesTheCursorWhereTheNextWriteFallsOffTheScreen) {
    auto on_screen = [](const TScreen& s) {
        return s.CursorColumn() >= 0 && s.CursorColumn() < kScreenColumns &&
               s.CursorRow() >= 0 && s.CursorRow() < kScreenRows;
    };
    for (int start = 72; start < kScreenColumns; ++start) {
        SCOPED_TRACE("tab from column " + std::to_string(start));
        TScreen s;
        s.SetCursor(start, kScreenRows - 1);
        s.TelePutch(9);
        s.TelePutch(9);
        EXPECT_TRUE(on_screen(s));
        s.Putch('x'); // on the last row a cursor past the edge writes past the cells
        EXPECT_TRUE(on_screen(s));
    }
    TScreen s;
    s.StrOut(0x07, 200, 40, "");
    EXPECT_TRUE(on_screen(s));
    s.CharOut(0x07, -5, 99, 'c');
    EXPECT_TRUE(on_screen(s));
    EXPECT_EQ(s.Cell(24, 0).ch, 'c');
    s.SetCursor(80, 25);
    EXPECT_EQ(s.CursorColumn(), 79);
    EXPECT_EQ(s.CursorRow(), 24);
}

TEST(Windows, ZeroLinesBlanksTheWholeRectangle) {
    for (bool down : {true, false}) {
        TScreen s;
        for (int r = 0; r < kScreenRows; ++r) Fill(s, r, 'q', 0x07);
        if (down)
            s.ScrollDownWindow(10, 5, 19, 9, 0, 0x30);
        else
            s.ScrollUpWindow(10, 5, 19, 9, 0, 0x30);
        EXPECT_EQ(s.Cell(5, 10), (TCell{0x20, 0x30}));
        EXPECT_EQ(s.Cell(9, 19), (TCell{0x20, 0x30}));
        EXPECT_EQ(s.Cell(9, 20).ch, 'q');
        EXPECT_EQ(s.Cell(4, 10).ch, 'q');
    }
}

TEST(Windows, OneLineMovesOnlyTheRectangle) {
    TScreen s;
    for (int r = 0; r < kScreenRows; ++r) Fill(s, r, static_cast<char>('A' + r), 0x07);
    s.ScrollDownWindow(2, 1, 3, 3, 1, 0x70); // rows 1-3, columns 2-3 move up
    EXPECT_EQ(s.RowText(1).substr(0, 5), "BBCCB");
    EXPECT_EQ(s.RowText(2).substr(0, 5), "CCDDC");
    EXPECT_EQ(s.RowText(3).substr(0, 5), "DD  D");
    EXPECT_EQ(s.Cell(3, 2).attr, 0x70);
    s.ScrollUpWindow(2, 1, 3, 3, 1, 0x07); // and back down
    EXPECT_EQ(s.RowText(1).substr(0, 5), "BB  B");
    EXPECT_EQ(s.RowText(2).substr(0, 5), "CCCCC");
    EXPECT_EQ(s.RowText(3).substr(0, 5), "DDDDD");
}

TEST(Windows, ArgumentsOutsideTheScreenStayOnIt) {
    TScreen s;
    s.ScrollDownWindow(70, 20, 255, 255, 3, 0x07); // must not write past the buffer
    s.ScrollUpWindow(0, 0, 200, 100, 1, 0x07);
    EXPECT_EQ(s.Cell(24, 79).ch, 0x20);
}

TEST(Screen, WholeScreenScrollsBothWays) {
    TScreen s;
    Fill(s, 0, 'a', 0x07);
    Fill(s, 24, 'z', 0x07);
    s.SetAttribute(0x2A);
    s.ScrollUp();
    EXPECT_EQ(s.Cell(0, 0), (TCell{0x20, 0x2A}));
    EXPECT_EQ(s.Cell(1, 0).ch, 'a');
    s.ScrollDown();
    EXPECT_EQ(s.Cell(0, 0).ch, 'a');
    EXPECT_EQ(s.Cell(24, 0).ch, 0x20);
}

TEST(Screen, CharOutWrapsAndClampsWithoutScrolling) {
    TScreen s;
    s.CharOut(0x07, 79, 24, 'e');
    EXPECT_EQ(s.CursorColumn(), 0);
    EXPECT_EQ(s.CursorRow(), 24);
    s.CharOut(0x07, 79, 3, 'f');
    EXPECT_EQ(s.CursorRow(), 4);
}

TEST(Screen, QClickWritesHelloWorldDarkBlueOnWhite) {
    TScreen s;
    s.QClick();
    EXPECT_EQ(s.RowText(12).substr(20, 11), "Hello World");
    EXPECT_EQ(s.Cell(12, 20).attr, 0xF1);
    EXPECT_EQ(s.CursorRow(), 13);
}

TEST(CodePage437, ControlCodesAndHighHalfAreThePcGlyphs) {
    EXPECT_EQ(Cp437ToUnicode(0x01), U'\u263A');
    EXPECT_EQ(Cp437ToUnicode('A'), U'A');
    EXPECT_EQ(Cp437ToUnicode(0x7F), U'\u2302');
    EXPECT_EQ(Cp437ToUnicode(0x80), U'\u00C7');
    EXPECT_EQ(Cp437ToUnicode(0xC4), U'\u2500');
    EXPECT_EQ(Cp437ToUnicode(0xC9), U'\u2554');
    EXPECT_EQ(Cp437ToUnicode(0xDB), U'\u2588');
    EXPECT_EQ(Cp437ToUnicode(0xFE), U'\u25A0');
    EXPECT_EQ(Cp437ToUnicode(0xFF), U'\u00A0');
}
