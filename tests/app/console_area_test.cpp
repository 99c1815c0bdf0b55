// The console area's mouse, history view, menu and saves, through the form with a recording view.
#include "fake_view.h"
#include "screen_text.h"
#include "test_dir.h"

#include <fstream>
#include <sstream>

namespace {

// The middle of cell (row, column) in client pixels (the fake's cells are 9 x 16).
int X(int column) { return column * 9 + 4; }
int Y(int row) { return kPanelHeight + row * 16 + 8; }

std::string Trimmed(std::string s) {
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

class ConsoleArea : public ConsoleFormTest {
  protected:
    // 40 lines of the console's own output: lines 0-15 leave the screen, 16-39 stay on it.
    void FortyLines() {
        for (int i = 0; i < 40; ++i) form.Screen().MsgOut("line %d", i);
        form.ScreenRefresh();
    }
    // Row `row` of the off-screen image as text, and its attribute at `column`.
    std::string Shown(int row) {
        std::string s;
        for (int c = 0; c < kScreenColumns; ++c) s += char(view.image[row * kScreenColumns + c].ch);
        return Trimmed(s);
    }
    uint8_t ShownAttr(int row, int column) { return view.image[row * kScreenColumns + column].attr; }
    void Drag(int row0, int col0, int row1, int col1) {
        form.MouseDown(mbLeft, X(col0), Y(row0));
        form.MouseMove(X(col1), Y(row1));
        form.MouseUp(mbLeft, X(col1), Y(row1));
    }
    void TapKey() {
        form.AppMessage(kdDown, 0x1E, 'A');
        form.AppMessage(kdUp, 0x1E, 'A');
    }
    std::vector<TMenuEntry> Menu() {
        form.MouseDown(mbRight, X(1), Y(1));
        return view.menus.back();
    }
    void Choose(const std::string& caption) {
        view.menu_answer = [caption](const auto& entries) {
            return TFakeView::Command(entries, caption);
        };
        form.MouseDown(mbRight, X(1), Y(1));
    }
    const std::string end = kTextLineEnd;
};

} // namespace

TEST_F(ConsoleArea, TheWheelShowsTheHistoryAboveTheScreenUntilAKeyIsSent) {
    FortyLines();
    const auto screen_before = form.Screen().Cells();
    ASSERT_EQ(form.History().Size(), 16);
    form.MouseWheel(2, X(10), Y(10)); // 6 rows back
    EXPECT_TRUE(form.Screen().Cells() == screen_before);
    EXPECT_EQ(Shown(0), "line 10");
    EXPECT_EQ(Shown(5), "line 15");
    EXPECT_EQ(Shown(6), "line 16");
    EXPECT_NE(Shown(24).find("6 of 16 rows back"), std::string::npos) << Shown(24);
    EXPECT_EQ(ShownAttr(24, 0), 0x70);
    EXPECT_FALSE(view.controls[ciMarker].visible);
    // New output moves the history on, not the view; nothing drawn reached the screen.
    form.Screen().MsgOut("line 40");
    form.ScreenRefresh();
    EXPECT_EQ(Shown(0), "line 10");
    EXPECT_NE(Shown(24).find("7 of 17 rows back"), std::string::npos) << Shown(24);
    EXPECT_EQ(form.Screen().RowText(23).substr(0, 7), "line 40");
    EXPECT_EQ(Trimmed(form.Screen().RowText(0)), "line 17");
    // The wheel forward and back, then a key returns to the live screen.
    form.MouseWheel(-1, X(10), Y(10));
    EXPECT_EQ(Shown(0), "line 13");
    form.MouseWheel(100, X(10), Y(10));
    EXPECT_EQ(Shown(0), "line 0");
    form.AppMessage(kdDown, 0x2A, 0x10); // Shift alone sends nothing: the view stays
    EXPECT_EQ(Shown(0), "line 0");
    form.AppMessage(kdUp, 0x2A, 0x10);
    TapKey();
    for (int r = 0; r < kScreenRows; ++r)
        EXPECT_EQ(Shown(r), Trimmed(form.Screen().RowText(r))) << "row " << r;
}

TEST_F(ConsoleArea, DragSelectsRowByRowAcrossHistoryAndScreenAndOffersItAsPrimary) {
    FortyLines();
    form.MouseWheel(1, X(0), Y(0)); // 3 rows back: line 13 at the top
    Drag(1, 5, 4, 1);               // from "14" of "line 14" to "li" of "line 17"
    EXPECT_EQ(view.clipboard[cbPrimary], "14" + end + "line 15" + end + "line 16" + end + "li");
    EXPECT_EQ(ShownAttr(1, 5), 0xF0); // inverted
    EXPECT_EQ(ShownAttr(1, 4), 0x0F);
    EXPECT_EQ(ShownAttr(4, 1), 0xF0);
    EXPECT_EQ(ShownAttr(4, 2), 0x0F);
    EXPECT_EQ(form.Screen().Cell(1, 1).attr, 0x0F); // the screen itself is untouched
    // The selection stays on its text when the view returns to the live screen.
    TapKey();
    EXPECT_EQ(ShownAttr(0, 70), 0xF0); // line 16
    EXPECT_EQ(ShownAttr(1, 1), 0xF0);  // line 17
    EXPECT_EQ(ShownAttr(1, 2), 0x0F);
    // A plain click clears it.
    form.MouseDown(mbLeft, X(30), Y(20));
    form.MouseUp(mbLeft, X(30), Y(20));
    EXPECT_EQ(ShownAttr(0, 70), 0x0F);
    EXPECT_EQ(Menu()[0].caption, "Copy");
}

TEST_F(ConsoleArea, ADoubleClickTakesAWordAndATripleClickTheRow) {
    form.Screen().StrOut(0x07, 0, 2, "  dir C:\\DOS\\x.com -- done  ");
    form.ScreenRefresh();
    form.MouseDown(mbLeft, X(12), Y(2));
    form.MouseUp(mbLeft, X(12), Y(2));
    form.MouseDown(mbLeft, X(12), Y(2));
    form.MouseUp(mbLeft, X(12), Y(2));
    EXPECT_EQ(view.clipboard[cbPrimary], "C:\\DOS\\x.com");
    form.MouseDown(mbLeft, X(12), Y(2));
    form.MouseUp(mbLeft, X(12), Y(2));
    EXPECT_EQ(view.clipboard[cbPrimary], "  dir C:\\DOS\\x.com -- done" + end);
    // Words grow by words while the button is held after a double click.
    form.MouseDown(mbLeft, X(3), Y(2));
    form.MouseDown(mbLeft, X(3), Y(2));
    form.MouseMove(X(7), Y(2));
    form.MouseUp(mbLeft, X(7), Y(2));
    EXPECT_EQ(view.clipboard[cbPrimary], "dir C:\\DOS\\x.com");
}

TEST_F(ConsoleArea, TheMenuCopiesTheSelectionOrTheScreenAndSelectsAll) {
    auto enabled = [](const std::vector<TMenuEntry>& m, const std::string& caption) {
        for (const auto& e : m)
            if (e.caption == caption) return e.enabled;
        ADD_FAILURE() << caption << " missing";
        return false;
    };
    // A blank console has nothing to copy or select; saving is always offered.
    auto menu = Menu();
    EXPECT_FALSE(enabled(menu, "Copy"));
    EXPECT_FALSE(enabled(menu, "Select all"));
    EXPECT_TRUE(enabled(menu, "Save screen as PNG..."));
    std::vector<std::string> captions;
    for (const auto& e : menu) captions.push_back(e.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{
                            "Copy", "Paste", "Select all", "", "Save screen as text...",
                            "Save screen as ANSI...", "Save screen as PNG...", "",
                            "Start text log...", "Start line trace...", "", "Stop paste"}));
    FortyLines();
    EXPECT_TRUE(enabled(Menu(), "Copy"));
    Choose("Copy");
    EXPECT_EQ(view.clipboard[cbClipboard], ScreenText(form.Screen()));
    Drag(0, 0, 0, 6);
    Choose("Copy");
    EXPECT_EQ(view.clipboard[cbClipboard], "line 16");
    Choose("Select all");
    std::string all;
    for (int i = 0; i < 40; ++i) all += "line " + std::to_string(i) + end;
    all += end; // the cursor's empty row at the bottom
    Choose("Copy");
    EXPECT_EQ(view.clipboard[cbClipboard], all);
}

TEST_F(ConsoleArea, TheScreenIsSavedAsTextAnsiAndPictureWhateverTheViewShows) {
    FortyLines();
    form.MouseWheel(1, X(0), Y(0));
    Drag(0, 0, 2, 3);
    const auto shown = view.image;
    const std::string dir = TestDir();
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    };
    view.save_answer = dir + "/screen.txt";
    Choose("Save screen as text...");
    EXPECT_EQ(read(view.save_answer), ScreenText(form.Screen()));
    view.save_answer = dir + "/screen.ans";
    Choose("Save screen as ANSI...");
    EXPECT_EQ(read(view.save_answer), ScreenAnsi(form.Screen()));
    view.save_answer = dir + "/screen.png";
    Choose("Save screen as PNG...");
    ASSERT_EQ(view.saved_images, std::vector<std::string>{view.save_answer});
    EXPECT_TRUE(view.image_at_save == form.Screen().Cells()); // live, nothing inverted
    EXPECT_TRUE(view.image == shown);                         // and the view back as it was
    // A file that cannot be written says why; nothing else changes.
    view.save_answer = dir + "/no-such-folder/screen.txt";
    Choose("Save screen as text...");
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_NE(view.boxes[0].find("no-such-folder/screen.txt"), std::string::npos);
    view.save_answer = "";
    Choose("Save screen as text..."); // cancelled
    EXPECT_EQ(view.boxes.size(), 1u);
}

TEST_F(ConsoleArea, SelectedGlyphsBecomeTheirUnicodeLookAlikesAndTrailingBlanksGo) {
    // A smiley (01), the last control picture (1F), the house (7F), a box corner, a block, and
    // blanks of all three kinds (00, FF, 20) at the row's end.
    const uint8_t codes[] = {0x01, 0x1F, 0x7F, 0xC9, 0xDB, 0x00, 'a', 0xFF, 0x00, 0x20};
    for (int i = 0; i < 10; ++i) form.Screen().CharOut(0x07, 70 + i, 3, codes[i]);
    form.Screen().CharOut(0x07, 0, 4, 0xB0);
    form.ScreenRefresh();
    Drag(3, 70, 4, 0);
    EXPECT_EQ(view.clipboard[cbPrimary], "\u263A\u25BC\u2302\u2554\u2588 a" + end + "\u2591");
}
