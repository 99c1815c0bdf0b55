// The target's text screen: 25 rows of 80 cells, a cursor and a current attribute.
//
// One instance, owned by the main window, used only on the window thread. Writing a cell is a
// store and a flag store; nothing is drawn here (the renderer picks up changes on its tick).
//
// Two writers with different rules:
//  - target text (Putch) interprets nothing, drops CR and LF, wraps at the right edge and
//    clamps at the bottom row: the screen never scrolls on the target's behalf;
//  - the program's own lines (StrOut, MsgOut, TelePutch) act on CR and LF, end with a line end
//    and scroll the whole screen up when they pass the last row.
#pragma once

#include <array>
#include <cstdint>
#include <string>

constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 25;
constexpr int kScreenCells = kScreenColumns * kScreenRows;
constexpr int kMessageBufferSize = 256; // 255 characters and the terminating zero

// Attribute byte: low nibble foreground colour index, high nibble background colour index.
constexpr uint8_t kAttrWhiteOnBlack = 0x0F;

struct TCell {
    uint8_t ch = 0;
    uint8_t attr = 0;
    friend bool operator==(const TCell&, const TCell&) = default;
};

class TScreen;

// Told before the screen's contents leave it: the whole screen moving up a row for the
// program's own lines (ScrollDown), ClearScreen, and the cursor placed on a row above its own
// (where a target begins to draw its screen anew). Called on the window thread with the screen
// as it still is; must not write to it.
class TScreenObserver {
  public:
    virtual void BeforeScrollDown(const TScreen& screen) = 0;
    virtual void BeforeClearScreen(const TScreen& screen) = 0;
    virtual void BeforeCursorUp(const TScreen& screen) = 0;

  protected:
    ~TScreenObserver() = default;
};

class TScreen {
  public:
    TScreen() { ClearScreen(); }

    void ClearScreen();
    void Putch(uint8_t ch);
    void TelePutch(uint8_t ch);
    void StrOut(uint8_t attr, int column, int row, const char* text);
    // printf-style line of the program's own text at the cursor, in the current attribute,
    // followed by a line end. A text longer than 255 characters is cut to fit. Returns the
    // number of characters the format produced (before any cut), as printf does.
    int MsgOut(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // One line of the program's own, as MsgOut writes it but whole whatever its length (a long
    // path in it is not cut).
    void LineOut(const std::string& text) { StrOut(attr_, column_, row_, text.c_str()); }
    void CharOut(uint8_t attr, int column, int row, uint8_t ch);
    void ScrollDown(); // contents move up one row
    void ScrollUp();   // contents move down one row
    void ScrollDownWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom, uint8_t lines,
                          uint8_t attr);
    void ScrollUpWindow(uint8_t left, uint8_t top, uint8_t right, uint8_t bottom, uint8_t lines,
                        uint8_t attr);
    void QClick(); // a test action: "Hello World" in dark blue on white at row 12, column 20

    const TCell& Cell(int row, int column) const { return cells_[row * kScreenColumns + column]; }
    const std::array<TCell, kScreenCells>& Cells() const { return cells_; }
    // Text of one row, character bytes as they are (for tests and tools).
    std::string RowText(int row) const;

    int CursorColumn() const { return column_; }
    int CursorRow() const { return row_; }
    // Places the cursor; a position off the screen is clamped to its nearest cell, as are the
    // positions StrOut and CharOut take. No operation leaves the cursor off the screen.
    void SetCursor(int column, int row);
    uint8_t Attribute() const { return attr_; }
    void SetAttribute(uint8_t attr) { attr_ = attr; }
    // At most one; nullptr for none. Not owned.
    void SetObserver(TScreenObserver* observer) { observer_ = observer; }

    // Set by every operation that changes a cell; cleared and set by the renderer.
    bool changed = false;
    // Whether the last blink step showed the cursor bar; ClearScreen turns it off so that the
    // bar shows again at the next blink. Read and written by the renderer.
    bool cursor_bar_visible = false;

  private:
    TCell& At(int row, int column) { return cells_[row * kScreenColumns + column]; }
    void NextRowScrolling();

    std::array<TCell, kScreenCells> cells_{};
    int column_ = 0;
    int row_ = 0;
    uint8_t attr_ = kAttrWhiteOnBlack;
    char message_[kMessageBufferSize] = {};
    TScreenObserver* observer_ = nullptr;
};
