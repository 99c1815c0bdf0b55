// Pasted text as keystrokes: what typing it would send, from the key table, and what is left out.
#include "typed_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char text[4];
    for (unsigned char b : bytes) {
        std::snprintf(text, sizeof text, "%02X ", b);
        out += text;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

} // namespace

TEST(TypedText, EveryPrintableAsciiCharacterTypesAsItself) {
    std::string ascii;
    for (int c = 0x20; c < 0x7F; ++c) ascii += static_cast<char>(c);
    const TTypedText t = TypeText(ascii, 1000);
    EXPECT_EQ(t.bytes, ascii);
    EXPECT_EQ(t.skipped, 0);
    EXPECT_FALSE(t.too_long);
}

TEST(TypedText, EveryKindOfLineEndIsOneEnterAndTabIsTheTabKey) {
    EXPECT_EQ(Hex(TypeText("a\nb\r\nc\rd\n\re\t", 100).bytes),
              "61 0D 62 0D 63 0D 64 0D 0D 65 09"); // LF CR is two line ends
    EXPECT_EQ(Hex(TypeText("\r", 100).bytes), "0D"); // a CR at the very end
}

TEST(TypedText, GlyphsBeyondAsciiTypeAsTheirCodePageCode) {
    // Letters, shades and blocks, box drawing, Greek, the no-break space (FF).
    const TTypedText t = TypeText("\u00E9\u00C7\u2591\u2592\u2593\u2588\u2554\u2550\u2557"
                                  "\u00DF\u03B1\u00A0\u00FF",
                                  100);
    EXPECT_EQ(Hex(t.bytes), "82 80 B0 B1 B2 DB C9 CD BB E1 E0 FF 98");
    EXPECT_EQ(t.skipped, 0);
}

TEST(TypedText, WhatNoKeyTypesIsLeftOutAndCounted) {
    struct Case {
        const char* what;
        std::string text;
        int skipped;
    } cases[] = {
        {"ESC and other control characters", std::string("\x1b\x07\x7f\x00", 4), 4},
        {"glyphs of control codes (01, 1B, 7F)", "\u263A\u2190\u2302", 3},
        {"characters the code page lacks", "\u20AC\U0001F600", 2},
        {"a lone continuation byte", "\x80", 1},
        {"a sequence cut short at the end", "\xE2\x95", 2},
        {"an overlong form", "\xC0\xAF", 2},
        {"a surrogate", "\xED\xA0\x80", 3},
    };
    for (const Case& c : cases) {
        const TTypedText t = TypeText("a" + c.text + "b", 100);
        EXPECT_EQ(t.bytes, "ab") << c.what;
        EXPECT_EQ(t.skipped, c.skipped) << c.what;
    }
}

TEST(TypedText, TheLimitCountsKeystrokesNotCharactersLeftOut) {
    EXPECT_FALSE(TypeText("abcd", 4).too_long);
    const TTypedText over = TypeText("abcde", 4);
    EXPECT_TRUE(over.too_long);
    EXPECT_EQ(over.bytes, "abcd");
    // Three bytes of UTF-8, one keystroke each; the left-out ESC does not count.
    const TTypedText box = TypeText("\u2550\u2550\x1b\u2550\u2550", 4);
    EXPECT_FALSE(box.too_long);
    EXPECT_EQ(Hex(box.bytes), "CD CD CD CD");
}
