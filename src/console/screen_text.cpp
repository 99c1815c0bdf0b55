#include "screen_text.h"

#include "cp437.h"
#include "escape.h"

#ifdef _WIN32
const char* const kTextLineEnd = "\r\n";
#else
const char* const kTextLineEnd = "\n";
#endif

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendGlyphUtf8(std::string& out, uint8_t code) { AppendUtf8(out, Cp437ToUnicode(code)); }

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

std::string ScreenText(const TScreen& screen, const char* line_end) {
    std::string rows[kScreenRows];
    int used = 0;
    for (int row = 0; row < kScreenRows; ++row) {
        rows[row] = CellsText(&screen.Cell(row, 0), kScreenColumns);
        if (!rows[row].empty()) used = row + 1;
    }
    std::string text;
    for (int row = 0; row < used; ++row) text += rows[row] + line_end;
    return text;
}

namespace {
// The ANSI colour number of a colour index's low three bits.
int AnsiNumber(int index) {
    for (int n = 0; n < 8; ++n)
        if (AnsiColourIndex(n) == (index & 7)) return n;
    return 0;
}
} // namespace

std::string ScreenAnsi(const TScreen& screen) {
    std::string out = "\x1b[0m";
    int attr = -1;
    for (int row = 0; row < kScreenRows; ++row) {
        int used = kScreenColumns;
        while (used > 0 && Blank(screen.Cell(row, used - 1).ch) &&
               (screen.Cell(row, used - 1).attr & 0xF0) == 0)
            --used;
        for (int c = 0; c < used; ++c) {
            const TCell cell = screen.Cell(row, c);
            if (cell.attr != attr) {
                attr = cell.attr;
                out += "\x1b[0";
                if (attr & 0x08) out += ";1";
                if (attr & 0x80) out += ";5";
                out += ";" + std::to_string(30 + AnsiNumber(attr & 0x0F)) + ";" +
                       std::to_string(40 + AnsiNumber(attr >> 4)) + "m";
            }
            uint8_t ch = cell.ch;
            if (ch == 0x00) ch = ' ';
            if (ch == 0x0A || ch == 0x0D || ch == 0x1A || ch == 0x1B) ch = '.';
            out += static_cast<char>(ch);
        }
        out += "\r\n";
    }
    return out + "\x1b[0m";
}
