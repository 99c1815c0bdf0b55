// The history: its ring, and the rows that leave the screen by the console's own scrolling, by a
// clear, and by the target's redraws, fed as the target sends them and checked after every byte
// (a refresh can come at any point of a redraw).
#include "escape.h"
#include "history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string ESC = "\x1b";

// The main cycle's dispatch for text and ESC [ only: enough for a target's screen output.
class TStringSource final : public TSequenceSource {
  public:
    explicit TStringSource(const std::string& s) : s_(s) {}
    bool QueueEmpty() const override { return i_ >= s_.size(); }
    uint8_t TakeByte() override { return static_cast<uint8_t>(s_[i_++]); }
    bool WaitForInput() override { return false; }
    size_t i_ = 0;

  private:
    const std::string& s_;
};

// Feeds `stream` into the screen, checking the history after every `chunk` bytes.
void Feed(TScreen& screen, THistory& history, const std::string& stream, size_t chunk) {
    TStringSource source(stream);
    size_t since = 0;
    while (!source.QueueEmpty()) {
        const size_t before = source.i_;
        const uint8_t b = source.TakeByte();
        if (b == 0x1B && !source.QueueEmpty() && stream[source.i_] == '[') {
            source.TakeByte();
            EscapeSequence(screen, source);
        } else {
            screen.Putch(b);
        }
        since += source.i_ - before;
        if (since >= chunk) {
            history.Check(screen);
            since = 0;
        }
    }
    history.Check(screen);
}

std::string Goto(int row, int col) {
    return ESC + "[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
}

// A picture of the target's screen: 25 rows of text, one attribute per row.
struct TPicture {
    std::vector<std::string> rows = std::vector<std::string>(kScreenRows);
    std::vector<uint8_t> attrs = std::vector<uint8_t>(kScreenRows, 0x07);
    TCell At(int r, int c) const {
        const std::string& s = rows[size_t(r)];
        return TCell{uint8_t(c < int(s.size()) ? s[size_t(c)] : ' '), attrs[size_t(r)]};
    }
};

// The exact attribute: colours by number, then bright on top.
std::string AttrSeq(uint8_t attr) {
    auto ansi = [](int index) {
        for (int n = 0; n < 8; ++n)
            if (AnsiColourIndex(n) == index) return n;
        return 0;
    };
    std::string s = ESC + "[0;" + std::to_string(30 + ansi(attr & 7)) + ";" +
                    std::to_string(40 + ansi((attr >> 4) & 7)) + "m";
    if (attr & 8) s += ESC + "[1m";
    return s;
}

// What a target sends to turn `from` into `to`: every row in full, or (as a target that keeps a
// shadow of the console's screen does) only the cells that look different, top to bottom: a
// blank keeps the foreground colour it had.
std::string Redraw(const TPicture& from, const TPicture& to, bool only_changes) {
    std::string s;
    for (int r = 0; r < kScreenRows; ++r) {
        bool placed = false;
        for (int c = 0; c < kScreenColumns; ++c) {
            const TCell cell = to.At(r, c);
            const TCell old = from.At(r, c);
            const bool same_look = cell.ch == ' ' && old.ch == ' ' && (cell.attr >> 4) == (old.attr >> 4);
            if (only_changes && (cell == old || same_look)) {
                placed = false;
                continue;
            }
            if (!placed) s += Goto(r, c) + AttrSeq(cell.attr);
            placed = true;
            s += char(cell.ch);
        }
    }
    return s;
}

std::string RowText(const TCell* row) {
    std::string s;
    for (int c = 0; c < kScreenColumns; ++c) s += char(row[c].ch);
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

std::vector<std::string> Texts(const THistory& h) {
    std::vector<std::string> v;
    for (int i = 0; i < h.Size(); ++i) v.push_back(RowText(h.Row(i)));
    return v;
}

// Lines in two foreground colours by turns.
TPicture Lines(int first, int count) {
    TPicture p;
    for (int r = 0; r < count; ++r) {
        p.rows[size_t(r)] = "line " + std::to_string(first + r);
        p.attrs[size_t(r)] = (first + r) % 2 ? 0x0F : 0x07;
    }
    return p;
}

// A fixed status area above an output box that scrolls, and a help row below it.
TPicture Boxed(int first, int counter) {
    TPicture p;
    p.rows[0] = " Target status      keys " + std::to_string(counter);
    p.attrs[0] = 0x1F;
    p.rows[1] = "+------ Output -------+";
    for (int r = 2; r < 20; ++r)
        p.rows[size_t(r)] = "| output " + std::to_string(first + r - 2) + " |";
    p.rows[20] = "+---------------------+";
    p.rows[24] = " F1 help   F10 quit";
    p.attrs[24] = 0x70;
    return p;
}

constexpr size_t kChunks[] = {1, 7, 150, 100000};

} // namespace

TEST(History, KeepsTheNewestTenThousandRowsAndCallsTheHookForEach) {
    THistory h;
    std::vector<std::string> hooked;
    h.SetRowHook([&](const TCell* row) { hooked.push_back(RowText(row)); });
    TCell row[kScreenColumns];
    for (int i = 0; i < kHistoryRows + 5; ++i) {
        const std::string text = std::to_string(i);
        for (int c = 0; c < kScreenColumns; ++c)
            row[c] = TCell{uint8_t(c < int(text.size()) ? text[size_t(c)] : ' '), uint8_t(i)};
        h.Push(row);
    }
    ASSERT_EQ(h.Size(), kHistoryRows);
    EXPECT_EQ(h.Entered(), uint64_t(kHistoryRows + 5));
    EXPECT_EQ(RowText(h.Row(0)), "5");
    EXPECT_EQ(RowText(h.Row(kHistoryRows - 1)), std::to_string(kHistoryRows + 4));
    EXPECT_EQ(h.Row(kHistoryRows - 1)[0].attr, uint8_t(kHistoryRows + 4));
    ASSERT_EQ(hooked.size(), size_t(kHistoryRows + 5));
    EXPECT_EQ(hooked.front(), "0");
    EXPECT_EQ(hooked.back(), std::to_string(kHistoryRows + 4));
}

TEST(History, TheConsolesOwnLinesScrollTheirTopRowsInOnceEach) {
    TScreen s;
    THistory h;
    s.SetObserver(&h);
    for (int i = 0; i < 30; ++i) {
        s.MsgOut("message %d", i);
        if (i % 4 == 0) h.Check(s); // refreshes in between find nothing more
    }
    h.Check(s);
    // 30 lines and the cursor's row below them: the first 6 have left.
    ASSERT_EQ(Texts(h), (std::vector<std::string>{"message 0", "message 1", "message 2",
                                                   "message 3", "message 4", "message 5"}));
}

TEST(History, AClearKeepsTheRowsFromTheFirstToTheLastThatShowSomething) {
    TScreen s;
    THistory h;
    s.SetObserver(&h);
    s.StrOut(0x1E, 0, 3, "title");
    s.StrOut(0x07, 0, 6, "body");
    s.ClearScreen();
    EXPECT_EQ(Texts(h), (std::vector<std::string>{"title", "", "", "body"}));
    EXPECT_EQ(h.Row(0)[0].attr, 0x1E);
    s.ClearScreen(); // a blank screen adds nothing
    EXPECT_EQ(h.Size(), 4);
}

TEST(History, ATargetRedrawingItsScreenHigherLosesOnlyItsTopRows) {
    for (bool only_changes : {false, true}) {
        for (size_t chunk : kChunks) {
            SCOPED_TRACE(std::to_string(chunk) + (only_changes ? " changes" : " full rows"));
            TScreen s;
            THistory h;
            s.SetObserver(&h);
            TPicture shown;
            shown = Lines(0, 25);
            Feed(s, h, Redraw(TPicture{}, shown, false), chunk);
            std::string stream;
            // One row up, one more, then three at once, and a last one ending on a blank row.
            for (auto [first, count] : {std::pair{1, 25}, {2, 25}, {5, 25}, {6, 24}}) {
                const TPicture next = Lines(first, count);
                stream += Redraw(shown, next, only_changes);
                shown = next;
            }
            Feed(s, h, stream, chunk);
            EXPECT_EQ(Texts(h), (std::vector<std::string>{"line 0", "line 1", "line 2", "line 3",
                                                           "line 4", "line 5"}));
        }
    }
}

TEST(History, AnOutputBoxScrollingUnderAFixedStatusAreaLosesItsTopLines) {
    for (bool only_changes : {false, true}) {
        for (size_t chunk : kChunks) {
            SCOPED_TRACE(std::to_string(chunk) + (only_changes ? " changes" : " full rows"));
            TScreen s;
            THistory h;
            s.SetObserver(&h);
            TPicture shown = Boxed(0, 0);
            Feed(s, h, Redraw(TPicture{}, shown, false), chunk);
            std::string stream;
            // Each scroll also updates the status row, as a target that counts keys does.
            for (int i = 1; i <= 3; ++i) {
                const TPicture next = Boxed(i, i);
                stream += Redraw(shown, next, only_changes);
                shown = next;
            }
            Feed(s, h, stream, chunk);
            EXPECT_EQ(Texts(h), (std::vector<std::string>{"| output 0 |", "| output 1 |",
                                                           "| output 2 |"}));
        }
    }
}

TEST(History, AStaticScreenWithBoxesBlankRowsAndSmallEditsAddsNothing) {
    for (size_t chunk : kChunks) {
        SCOPED_TRACE(chunk);
        TScreen s;
        THistory h;
        s.SetObserver(&h);
        // A menu in a box: repeated sides, blank rows, a highlight bar that moves down and
        // back, a prompt that is typed into and erased, and the same screen drawn again.
        TPicture menu;
        menu.rows[2] = "  +--------------------+";
        for (int r = 3; r < 12; ++r) menu.rows[size_t(r)] = "  |                    |";
        menu.rows[4] = "  |  Boot this floppy  |";
        menu.rows[5] = "  |  Boot this floppy  |";
        menu.rows[6] = "  |  Boot again        |";
        menu.rows[12] = "  +--------------------+";
        TPicture bar1 = menu, bar2 = menu, typed = menu;
        bar1.attrs[4] = 0x70;
        bar2.attrs[5] = 0x70;
        typed.rows[22] = "boot: |  Boot again";
        std::string stream = Redraw(TPicture{}, menu, false) + Redraw(menu, bar1, true) +
                             Redraw(bar1, bar2, true) + Redraw(bar2, bar1, false) +
                             Redraw(bar1, typed, true) + Redraw(typed, menu, true) +
                             Redraw(menu, menu, false);
        Feed(s, h, stream, chunk);
        EXPECT_EQ(Texts(h), std::vector<std::string>{});
    }
}
