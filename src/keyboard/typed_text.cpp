#include "typed_text.h"

#include "cp437.h"
#include "keyaction.h"

#include <array>

namespace {

// The characters the key table's keys give, with or without Shift (Ctrl combinations are not
// characters a text holds).
std::array<bool, 256> KeyCharacters() {
    std::array<bool, 256> given{};
    for (const TKeyEntry& e : kKeyTable) {
        if (e.defined == 0 || e.state_bit != 0) continue;
        given[e.normal] = e.normal != 0;
        given[e.shifted] = given[e.shifted] || e.shifted != 0;
    }
    return given;
}

// The next code point of `s` from `i` (advanced past it); -1 for a byte that does not start
// a well-formed sequence (then `i` moves on by one byte).
long NextCodePoint(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = byte(i);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int extra = 0;
    long c = 0, min = 0;
    if ((b & 0xE0) == 0xC0) {
        extra = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, c = b & 0x07, min = 0x10000;
    } else {
        ++i;
        return -1;
    }
    if (i + static_cast<size_t>(extra) >= s.size()) { // cut short at the end
        ++i;
        return -1;
    }
    for (int k = 1; k <= extra; ++k) {
        const unsigned char t = byte(i + static_cast<size_t>(k));
        if ((t & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        c = (c << 6) | (t & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not characters.
    if (c < min || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        ++i;
        return -1;
    }
    i += static_cast<size_t>(extra) + 1;
    return c;
}

} // namespace

TTypedText TypeText(std::string_view utf8, size_t limit) {
    static const std::array<bool, 256> given = KeyCharacters();
    TTypedText out;
    auto type = [&](int byte) {
        if (out.bytes.size() >= limit) {
            out.too_long = true;
            return;
        }
        out.bytes += static_cast<char>(byte);
    };
    size_t i = 0;
    while (i < utf8.size() && !out.too_long) {
        const long c = NextCodePoint(utf8, i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i < utf8.size() && utf8[i] == '\n') ++i; // CR LF is one line end
            if (given['\r']) type('\r');
            else ++out.skipped;
        } else if (c == '\t' || (c >= 0x20 && c < 0x7F)) {
            if (given[static_cast<size_t>(c)]) type(static_cast<int>(c));
            else ++out.skipped;
        } else if (c >= 0x80) {
            const int code = HighCp437Code(static_cast<char32_t>(c));
            if (code >= 0 && !given[static_cast<size_t>(code)]) type(code);
            else ++out.skipped;
        } else {
            ++out.skipped; // other control characters, bytes that are not UTF-8
        }
    }
    return out;
}
