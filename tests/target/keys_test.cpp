// The key bytes the console sends, turned back into keys.
#include "fakes.h"
#include "keys.h"

#include <gtest/gtest.h>

namespace {

// Feeds the bytes one at a time, then reports silence; "name|name|..." of the keys.
std::string Decode(const std::string& hex, bool flush = true) {
    TKeyDecoder d;
    std::vector<TKeyEvent> keys;
    for (uint8_t b : Hex(hex))
        d.Feed(b, keys);
    if (flush) d.Flush(keys);
    std::string s;
    for (const auto& k : keys)
        s += (s.empty() ? "" : "|") + k.name;
    return s;
}

} // namespace

TEST(TargetKeys, CursorBlockStringsAreNamed) {
    EXPECT_EQ(Decode("1B 5B 41 1B 5B 42 1B 5B 43 1B 5B 44"), "Up|Down|Right|Left");
    EXPECT_EQ(Decode("1B 5B 48 1B 5B 4B 1B 5B 40 1B 2D"), "Home|End|Insert|Delete");
    EXPECT_EQ(Decode("1B 3F 1B 2F"), "Page Up|Page Down");
}

TEST(TargetKeys, FunctionKeysIncludingCtrlF9) {
    EXPECT_EQ(Decode("1B 31 1B 39 1B 30 1B 21 1B 40 1B 3A"), "F1|F9|F10|F11|F12|Ctrl-F9");
}

TEST(TargetKeys, RebootCodeAndRefreshRequestHaveTheirOwnKinds) {
    TKeyDecoder d;
    std::vector<TKeyEvent> keys;
    for (uint8_t b : Hex("1B 7F 12"))
        d.Feed(b, keys);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].kind, TKeyKind::kkReboot);
    EXPECT_EQ(HexBytes(keys[0].bytes), "1B 7F");
    EXPECT_EQ(keys[1].kind, TKeyKind::kkRefresh);
}

TEST(TargetKeys, CharactersAndControlCharacters) {
    EXPECT_EQ(Decode("61 41 20 0D 08 09 01 1A 00 7F"),
              "a|A|Space|Enter|Backspace|Tab|Ctrl-A|Ctrl-Z|Ctrl-Space|DEL");
    EXPECT_EQ(Decode("1C 1F 80"), "Ctrl-\\|Ctrl-_|byte 80");
}

TEST(TargetKeys, LoneEscWaitsForSilenceBeforeItCounts) {
    TKeyDecoder d;
    std::vector<TKeyEvent> keys;
    d.Feed(0x1B, keys);
    EXPECT_TRUE(keys.empty());
    EXPECT_TRUE(d.Pending());
    d.Flush(keys);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].kind, TKeyKind::kkEscape);
    EXPECT_FALSE(d.Pending());
}

TEST(TargetKeys, EscFollowedByNoKeyStringIsEscThenThatKey) {
    EXPECT_EQ(Decode("1B 61"), "Esc|a");
    EXPECT_EQ(Decode("1B 1B 5B 41"), "Esc|Up");
    EXPECT_EQ(Decode("1B 5B 5A"), "Esc|[|Z");
    EXPECT_EQ(Decode("1B 5B", false), "");
    EXPECT_EQ(Decode("1B 5B"), "Esc|[");
}
