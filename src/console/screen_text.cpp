#include "screen_text.h"

#include "cp437.h"

#ifdef _WIN32
const char* const kTextLineEnd = "\r\n";
#else
const char* const kTextLineEnd = "\n";
#endif

void AppendGlyphUtf8(std::string& out, uint8_t code) {
    const char32_t c = Cp437ToUnicode(code);
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        // Every glyph of the code page lies in the basic multilingual plane.
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {
bool Blank(uint8_t code) { return code == 0x00 || code == 0x20 || code == 0xFF; }
} // namespace

std::string CellsText(const TCell* cells, int count) {
    while (count > 0 && Blank(cells[count - 1].ch)) --count;
    std::string text;
    text.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) AppendGlyphUtf8(text, cells[i].ch);
    return text;
}

std::string ScreenText(const TScreen& screen) {
    std::string rows[kScreenRows];
    int used = 0;
    for (int row = 0; row < kScreenRows; ++row) {
        rows[row] = CellsText(&screen.Cell(row, 0), kScreenColumns);
        if (!rows[row].empty()) used = row + 1;
    }
    std::string text;
    for (int row = 0; row < used; ++row) text += rows[row] + kTextLineEnd;
    return text;
}
