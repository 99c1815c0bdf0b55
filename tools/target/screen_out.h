// Builds what the target sends to draw on the console's 80x25 screen. The console knows three
// escape sequences only: ESC [ row ; col H, ESC [ 2 J and ESC [ ... m, and it drops CR and LF
// and never scrolls for the target: everything is placed with explicit positions.
//
// The attribute is set exactly, whatever it was before: 0 clears the bright bits, 30+n and 40+n
// set the colours, 1 makes the foreground bright, and 7 swaps the nibbles to reach a bright
// background.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int kRows = 25;
constexpr int kColumns = 80;

// Code page 437 line characters.
namespace cp437 {
constexpr uint8_t kDblTopLeft = 0xC9, kDblTopRight = 0xBB, kDblBottomLeft = 0xC8,
                  kDblBottomRight = 0xBC, kDblHorizontal = 0xCD, kDblVertical = 0xBA;
constexpr uint8_t kTopLeft = 0xDA, kTopRight = 0xBF, kBottomLeft = 0xC0, kBottomRight = 0xD9,
                  kHorizontal = 0xC4, kVertical = 0xB3;
constexpr uint8_t kShade = 0xB1, kBlock = 0xDB;
} // namespace cp437

class TScreenOut {
  public:
    TScreenOut& Clear();                // ESC [ 2 J: blank, attribute 0F, cursor home
    TScreenOut& Goto(int row, int col); // 0-based, clamped to the screen
    TScreenOut& Attr(uint8_t attr);     // sent only when it differs from the last one set
    // Text bytes as they are, except the bytes the console would not show as a glyph or
    // would take for a command (00, 1B, 0D, 0A), which become '.'.
    TScreenOut& Text(std::string_view s);
    TScreenOut& Repeat(uint8_t ch, int count);
    // Text at a place, cut or padded with blanks to `width` cells.
    TScreenOut& Field(int row, int col, uint8_t attr, std::string_view s, int width);
    // A frame of line characters (double or single) around the rectangle, with an optional
    // title in the top edge.
    TScreenOut& Box(int top, int left, int bottom, int right, uint8_t attr, bool dbl,
                    std::string_view title = {});

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    void Reset() { bytes_.clear(); }
    // Forget the attribute the console has, so that the next Attr is always sent.
    void Invalidate() { attr_ = -1; }

  private:
    std::vector<uint8_t> bytes_;
    int attr_ = -1;
};

// The bytes that set `attr` exactly, as an m sequence ("\x1b[0;34;47;1m").
std::string AttrSequence(uint8_t attr);
