// Pasted text as keystrokes: what typing it would send, from the key table, and what is left out.
#include "typed_text.h"

#include <gtest/gtest.h>

TEST(TypedText, AsciiLineEndsTabAndTheCodePagesGlyphsBeyondAsciiTypeAsTheirKeysWould) {
    std::string ascii;
    for (int c = 0x20; c < 0x7F; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(TypeText(ascii, 1000).bytes, ascii);
    // LF, CR LF, CR, LF CR (two line ends), TAB; é Ç ░ █ ╔ ═ α, no-break space, ÿ.
    const TTypedText t = TypeText(
        "a\nb\r\nc\rd\n\re\t\u00E9\u00C7\u2591\u2588\u2554\u2550\u03B1\u00A0\u00FF", 100);
    EXPECT_EQ(t.bytes, "a\rb\rc\rd\r\re\t\x82\x80\xB0\xDB\xC9\xCD\xE0\xFF\x98");
    EXPECT_EQ(t.skipped, 0);
}

TEST(TypedText, WhatNoKeyTypesIsLeftOutAndCounted) {
    // ESC BEL DEL NUL; the glyphs of 01, 1B and 7F; a euro sign and an emoji; a lone
    // continuation byte; an overlong form; a surrogate; a sequence cut short at the end.
    const TTypedText t = TypeText(std::string("a\x1b\x07\x7f\x00", 5) +
                                      "\u263A\u2190\u2302\u20AC\U0001F600\x80"
                                      "\xC0\xAF"
                                      "\xED\xA0\x80"
                                      "b\xE2\x95",
                                  100);
    EXPECT_EQ(t.bytes, "ab");
    EXPECT_EQ(t.skipped, 4 + 3 + 2 + 1 + 2 + 3 + 2);
}

TEST(TypedText, TheLimitCountsKeystrokesNotBytesOrCharactersLeftOut) {
    EXPECT_FALSE(TypeText("abcd", 4).too_long);
    EXPECT_TRUE(TypeText("abcde", 4).too_long);
    const TTypedText box = TypeText("\u2550\u2550\x1b\u2550\u2550", 4); // 3 bytes each in UTF-8
    EXPECT_FALSE(box.too_long);
    EXPECT_EQ(box.bytes, "\xCD\xCD\xCD\xCD");
}
