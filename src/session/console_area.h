// What the console area shows and what the mouse selects there, over the history and the
// screen: the view scrolled back into the history, the selection and its text. The screen and
// the history stay as they are: this only composes the cells that a front end draws and reads
// text from them.
//
// Lines are numbered across history and screen: the history's oldest row that is still kept is
// THistory::Entered() - Size(), the screen's row r is Entered() + r. A line number stays with its
// row's text as rows enter the history, so a selection or a scrolled-back view stays on the same
// text while new output comes; what falls off the history's far end leaves them too.
//
// Window thread only; owned by the window's logic.
#pragma once

#include "history.h"
#include "screen.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// How a selection grows while the button is held: by cells (one click), words (two) or rows
// (three).
enum TSelectUnit : uint8_t { suCell, suWord, suRow };

class TConsoleArea {
  public:
    TConsoleArea(const TScreen& screen, const THistory& history)
        : screen_(screen), history_(history) {}

    // The cells to draw: the live screen, or history and screen when scrolled back (the bottom
    // row then says how far back), with the selected cells in inverted colours.
    void Compose(std::array<TCell, kScreenCells>& out) const;
    // Compose() of the live screen alone, without selection.
    bool Plain() const { return !ScrolledBack() && !HasSelection(); }

    // Scrolling into the history: rows > 0 goes back, < 0 forward; clamped to what is kept.
    // Returns whether the view moved.
    bool ScrollBy(int rows);
    bool ReturnToLive(); // whether the view moved
    bool ScrolledBack() const;
    int RowsBack() const; // 0 when live
    static constexpr int kWheelRows = 3; // per notch of the wheel

    // The mouse on cell (row, column) of the view. Press starts a selection (`clicks` 1: cells,
    // none yet; 2: the word there; 3: the row); Drag extends it in the same unit.
    void Press(int row, int column, int clicks);
    void Drag(int row, int column);
    void SelectAll();
    void ClearSelection() { selected_ = false; }
    bool HasSelection() const;
    // The selected text as UTF-8: rows joined by kTextLineEnd, each without trailing blanks, and
    // a line end after a row selected to its last column.
    std::string SelectedText() const;

    bool HasText() const; // anything to select or copy
    // The line that view row `row` shows, and the cells of a line (nullptr when it is gone).
    int64_t LineOf(int row) const;
    const TCell* LineCells(int64_t line) const;

  private:
    struct TPos {
        int64_t line = 0;
        int column = 0;
        auto operator<=>(const TPos&) const = default;
    };
    int64_t FirstLine() const; // the oldest kept
    int64_t LiveTop() const;   // the screen's row 0
    void Normalise();
    std::pair<TPos, TPos> Span() const; // the selection, ordered and grown to its unit
    std::string StatusText() const;

    const TScreen& screen_;
    const THistory& history_;
    bool back_ = false;
    int64_t top_ = 0; // the first line shown while scrolled back
    bool selected_ = false;
    TPos anchor_, head_;
    TSelectUnit unit_ = suCell;
};
