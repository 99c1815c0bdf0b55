#include "screen_out.h"

#include <algorithm>
#include <cstdio>

namespace {

// Colour index <-> ANSI colour number: the map swaps 1 and 4, 3 and 6, so it is its own
// inverse.
int Ansi(int index) {
    static const int kMap[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    return kMap[index & 7];
}

} // namespace

std::string AttrSequence(uint8_t attr) {
    int fg = attr & 0x0F;
    const int bg = attr >> 4;
    char s[48];
    if (bg < 8) {
        std::snprintf(s, sizeof s, "\x1b[0;%d;%d%sm", 30 + Ansi(fg), 40 + Ansi(bg),
                      (fg & 8) ? ";1" : "");
    } else {
        // Only the foreground can be bright: build the swapped attribute, then swap it.
        fg &= 7;
        std::snprintf(s, sizeof s, "\x1b[0;%d;%d;1;7m", 30 + Ansi(bg), 40 + Ansi(fg));
    }
    return s;
}

TScreenOut& TScreenOut::Clear() {
    for (char c : std::string_view("\x1b[2J"))
        bytes_.push_back(static_cast<uint8_t>(c));
    attr_ = 0x0F;
    return *this;
}

TScreenOut& TScreenOut::Goto(int row, int col) {
    char s[32];
    std::snprintf(s, sizeof s, "\x1b[%d;%dH", std::clamp(row, 0, kRows - 1) + 1,
                  std::clamp(col, 0, kColumns - 1) + 1);
    for (const char* p = s; *p; ++p)
        bytes_.push_back(static_cast<uint8_t>(*p));
    return *this;
}

TScreenOut& TScreenOut::Attr(uint8_t attr) {
    if (attr_ == attr) return *this;
    for (char c : AttrSequence(attr))
        bytes_.push_back(static_cast<uint8_t>(c));
    attr_ = attr;
    return *this;
}

TScreenOut& TScreenOut::Text(std::string_view s) {
    for (char c : s) {
        const auto b = static_cast<uint8_t>(c);
        bytes_.push_back((b == 0x00 || b == 0x1B || b == 0x0D || b == 0x0A) ? uint8_t('.') : b);
    }
    return *this;
}

TScreenOut& TScreenOut::Repeat(uint8_t ch, int count) {
    for (int i = 0; i < count; ++i)
        bytes_.push_back(ch);
    return *this;
}

TScreenOut& TScreenOut::Field(int row, int col, uint8_t attr, std::string_view s, int width) {
    width = std::clamp(width, 0, kColumns - col);
    Goto(row, col).Attr(attr);
    const size_t n = std::min(s.size(), size_t(width));
    Text(s.substr(0, n));
    return Repeat(' ', width - int(n));
}

TScreenOut& TScreenOut::Box(int top, int left, int bottom, int right, uint8_t attr, bool dbl,
                            std::string_view title) {
    using namespace cp437;
    const uint8_t tl = dbl ? kDblTopLeft : kTopLeft, tr = dbl ? kDblTopRight : kTopRight;
    const uint8_t bl = dbl ? kDblBottomLeft : kBottomLeft,
                  br = dbl ? kDblBottomRight : kBottomRight;
    const uint8_t h = dbl ? kDblHorizontal : kHorizontal, v = dbl ? kDblVertical : kVertical;
    const int inner = right - left - 1;
    Goto(top, left).Attr(attr).Repeat(tl, 1);
    if (!title.empty() && int(title.size()) + 4 <= inner) {
        Repeat(h, 1).Text(" ").Text(title).Text(" ");
        Repeat(h, inner - int(title.size()) - 3);
    } else {
        Repeat(h, inner);
    }
    Repeat(tr, 1);
    for (int r = top + 1; r < bottom; ++r) {
        Goto(r, left).Repeat(v, 1);
        Goto(r, right).Repeat(v, 1);
    }
    Goto(bottom, left).Repeat(bl, 1).Repeat(h, inner).Repeat(br, 1);
    return *this;
}
