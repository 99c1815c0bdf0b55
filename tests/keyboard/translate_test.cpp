// Key translation: what each key sends, in which state, and how the state byte follows the
// modifier and lock keys.
#include "fakes.h"
#include "translate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Scan codes and Windows virtual keys used below.
constexpr uint8_t kScanA = 0x1E, kScan1 = 0x02, kScanSpace = 0x39, kScanBracket = 0x1A;
constexpr uint8_t kScanEnter = 0x1C, kScanEsc = 0x01, kScanKeypad8 = 0x48, kScanKeypadStar = 0x37;
constexpr uint8_t kScanCtrl = 0x1D, kScanLShift = 0x2A, kScanRShift = 0x36, kScanAlt = 0x38;
constexpr uint8_t kScanCaps = 0x3A, kScanNum = 0x45, kScanScroll = 0x46;
constexpr uint8_t kScanF4 = 0x3E, kScanF9 = 0x43;
constexpr uint8_t kVkUp = 0x26, kVkF4 = 0x73, kVkF9 = 0x78, kVkNumpad8 = 0x68;

constexpr uint8_t kShiftL = 0x02, kShiftR = 0x01, kCtrl = 0x04, kAlt = 0x08, kScroll = 0x10,
                  kNum = 0x20, kCaps = 0x40;

std::string Down(uint8_t scan, uint8_t vk, uint8_t state, bool hold = false) {
    return ToHex(Bytes(std::string(TranslateKey(kdDown, scan, vk, state, hold).Bytes())));
}

struct TSendCase {
    const char* what;
    uint8_t scan;
    uint8_t vk;
    uint8_t state;
    const char* sent; // hex
};

void ExpectSends(const std::vector<TSendCase>& cases) {
    for (const TSendCase& c : cases) {
        const TKeyResult r = TranslateKey(kdDown, c.scan, c.vk, c.state, false);
        EXPECT_EQ(ToHex(Bytes(std::string(r.Bytes()))), c.sent) << c.what;
        EXPECT_EQ(r.state, c.state) << c.what << ": an ordinary key changed the state";
        EXPECT_FALSE(r.print_state) << c.what;
    }
}

} // namespace

TEST(KeyTranslation, LettersFollowShiftCapsLockAndCtrl) {
    ExpectSends({
        {"a", kScanA, 0x41, 0, "61"},
        {"left Shift+a", kScanA, 0x41, kShiftL, "41"},
        {"right Shift+a", kScanA, 0x41, kShiftR, "41"},
        {"Caps Lock a", kScanA, 0x41, kCaps, "41"},
        {"Caps Lock Shift+a", kScanA, 0x41, kCaps | kShiftL, "61"},
        {"Ctrl+a", kScanA, 0x41, kCtrl, "01"},
        {"Ctrl wins over Caps Lock and Shift", kScanA, 0x41, kCtrl | kCaps | kShiftR, "01"},
        {"Alt changes nothing", kScanA, 0x41, kAlt, "61"},
        {"Num and Scroll Lock change nothing", kScanA, 0x41, kNum | kScroll, "61"},
    });
}

TEST(KeyTranslation, CapsLockLeavesDigitsAndPunctuationAlone) {
    ExpectSends({
        {"Caps Lock 1", kScan1, 0x31, kCaps, "31"},
        {"Shift+1", kScan1, 0x31, kShiftL, "21"},
        {"Caps Lock Shift+1", kScan1, 0x31, kCaps | kShiftL, "21"},
        {"Ctrl+1", kScan1, 0x31, kCtrl, "11"},
        {"Caps Lock [", kScanBracket, 0xDB, kCaps, "5B"},
        {"Caps Lock Shift+[", kScanBracket, 0xDB, kCaps | kShiftR, "7B"},
    });
}

TEST(KeyTranslation, ControlCharactersAndKeysWithoutShiftedCharacter) {
    ExpectSends({
        {"Ctrl+Space", kScanSpace, 0x20, kCtrl, "00"},
        {"Ctrl+[", kScanBracket, 0xDB, kCtrl, "1B"},
        {"Shift+Enter", kScanEnter, 0x0D, kShiftL, "0D"},
        {"Shift+Esc", kScanEsc, 0x1B, kShiftR, "1B"},
        {"Shift+Space", kScanSpace, 0x20, kShiftL, "20"},
        {"Shift+keypad *", kScanKeypadStar, 0x6A, kShiftL, "2A"},
        {"Ctrl+keypad *", kScanKeypadStar, 0x6A, kCtrl, "0A"},
    });
}

TEST(KeyTranslation, CursorKeysSendTheirStringWhateverTheModifiers) {
    for (int state : {0, kShiftL + 0, kShiftR + 0, kCtrl + 0, kAlt + 0, kCaps + 0, kNum + 0,
                      kCtrl | kAlt | kShiftL}) {
        EXPECT_EQ(Down(kScanKeypad8, kVkUp, uint8_t(state)), "1B 5B 41") << "state " << state;
    }
    // The keypad's 8 arrives as Up with Num Lock off and as a digit with it on.
    EXPECT_EQ(Down(kScanKeypad8, kVkUp, 0), "1B 5B 41");
    EXPECT_EQ(Down(kScanKeypad8, kVkNumpad8, kNum), "38");
    EXPECT_EQ(Down(kScanKeypad8, kVkNumpad8, kNum | kShiftL), "38");
}

TEST(KeyTranslation, EveryNavigationKeySendsItsString) {
    const std::vector<std::pair<uint8_t, const char*>> keys = {
        {0x21, "1B 3F"},    {0x22, "1B 2F"},    {0x23, "1B 5B 4B"}, {0x24, "1B 5B 48"},
        {0x25, "1B 5B 44"}, {0x26, "1B 5B 41"}, {0x27, "1B 5B 43"}, {0x28, "1B 5B 42"},
        {0x29, ""},         {0x2A, ""},         {0x2B, ""},         {0x2C, ""},
        {0x2D, "1B 5B 40"}, {0x2E, "1B 2D"},
    };
    for (const auto& [vk, sent] : keys) {
        // Any defined scan code will do: the virtual key decides.
        EXPECT_EQ(Down(0x53, vk, 0), sent) << "virtual key " << std::hex << int(vk);
    }
}

TEST(KeyTranslation, FunctionKeysChangeOnlyF9WithCtrl) {
    const char* plain[] = {"1B 31", "1B 32", "1B 33", "1B 34", "1B 35", "1B 36",
                           "1B 37", "1B 38", "1B 39", "1B 30", "1B 21", "1B 40"};
    const uint8_t scans[] = {0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40,
                             0x41, 0x42, 0x43, 0x44, 0x57, 0x58};
    for (int i = 0; i < 12; ++i) {
        const uint8_t vk = static_cast<uint8_t>(0x70 + i);
        EXPECT_EQ(Down(scans[i], vk, 0), plain[i]) << "F" << i + 1;
        EXPECT_EQ(Down(scans[i], vk, kCtrl), i == 8 ? "1B 3A" : plain[i]) << "Ctrl+F" << i + 1;
        EXPECT_EQ(Down(scans[i], vk, kShiftL), plain[i]) << "Shift+F" << i + 1;
        EXPECT_EQ(Down(scans[i], vk, kAlt | kCaps), plain[i]) << "Alt+F" << i + 1;
    }
    EXPECT_EQ(Down(kScanF9, kVkF9, kCtrl | kShiftL | kAlt), "1B 3A");
    EXPECT_EQ(Down(kScanF4, kVkF4, kAlt), "1B 34");
}

TEST(KeyTranslation, TheMainBlockAndKeypadTypeTheUsLayout) {
    auto type = [](uint8_t first, uint8_t last, uint8_t state) {
        std::string out;
        for (int s = first; s <= last; ++s) {
            out += std::string(TranslateKey(kdDown, uint8_t(s), 0, state, false).Bytes());
        }
        return out;
    };
    EXPECT_EQ(type(0x02, 0x0D, 0), "1234567890-=");
    EXPECT_EQ(type(0x02, 0x0D, kShiftL), "!@#$%^&*()_+");
    EXPECT_EQ(type(0x10, 0x1B, 0), "qwertyuiop[]");
    EXPECT_EQ(type(0x10, 0x1B, kShiftR), "QWERTYUIOP{}");
    EXPECT_EQ(type(0x1E, 0x29, 0), "asdfghjkl;'`");
    EXPECT_EQ(type(0x1E, 0x29, kShiftL), "ASDFGHJKL:\"~");
    EXPECT_EQ(type(0x2B, 0x35, 0), "\\zxcvbnm,./");
    EXPECT_EQ(type(0x2B, 0x35, kShiftL), "|ZXCVBNM<>?");
    EXPECT_EQ(type(0x47, 0x53, kNum), "789-456+1230.");
    EXPECT_EQ(type(0x47, 0x53, kNum | kShiftL), "789-456+1230.");
    EXPECT_EQ(Down(0x0E, 0x08, 0), "08");
    EXPECT_EQ(Down(0x0F, 0x09, kShiftL), "09");
}

TEST(KeyTranslation, UndefinedScanCodesSendNothingAndKeepTheState) {
    std::vector<int> undefined = {0x00, 0x54, 0x55, 0x56};
    for (int s = 0x59; s <= 0xFF; ++s)
        undefined.push_back(s);
    for (int s : undefined) {
        for (TKeyDirection d : {kdDown, kdUp}) {
            // Even with a virtual key that would otherwise send a string.
            const TKeyResult r = TranslateKey(d, uint8_t(s), 0x26, kCaps | kCtrl, false);
            EXPECT_EQ(r.count, 0) << "scan code " << std::hex << s;
            EXPECT_EQ(r.state, kCaps | kCtrl) << "scan code " << std::hex << s;
            EXPECT_FALSE(r.print_state) << "scan code " << std::hex << s;
        }
    }
}

TEST(KeyState, ModifiersAreSetOnPressAndClearedOnRelease) {
    const std::vector<std::pair<uint8_t, uint8_t>> modifiers = {
        {kScanRShift, kShiftR}, {kScanLShift, kShiftL}, {kScanCtrl, kCtrl}, {kScanAlt, kAlt}};
    for (const auto& [scan, bit] : modifiers) {
        TKeyResult r = TranslateKey(kdDown, scan, 0, kCaps, false);
        EXPECT_EQ(r.state, kCaps | bit);
        EXPECT_EQ(r.count, 0);
        EXPECT_TRUE(r.print_state);
        r = TranslateKey(kdDown, scan, 0, r.state, false); // auto-repeat: stays set
        EXPECT_EQ(r.state, kCaps | bit);
        EXPECT_TRUE(r.print_state);
        r = TranslateKey(kdUp, scan, 0, r.state, false);
        EXPECT_EQ(r.state, kCaps);
        EXPECT_TRUE(r.print_state);
    }
}

TEST(KeyState, LockKeysToggleOnEveryPressAndIgnoreRelease) {
    const std::vector<std::pair<uint8_t, uint8_t>> locks = {
        {kScanCaps, kCaps}, {kScanNum, kNum}, {kScanScroll, kScroll}};
    for (const auto& [scan, bit] : locks) {
        uint8_t state = kAlt;
        for (int press = 1; press <= 3; ++press) { // also auto-repeated presses
            const TKeyResult r = TranslateKey(kdDown, scan, 0, state, false);
            EXPECT_EQ(r.state, press % 2 ? (kAlt | bit) : kAlt) << "press " << press;
            EXPECT_TRUE(r.print_state);
            EXPECT_EQ(r.count, 0);
            state = r.state;
        }
        const TKeyResult up = TranslateKey(kdUp, scan, 0, state, false);
        EXPECT_EQ(up.state, kAlt | bit);
        EXPECT_TRUE(up.print_state);
    }
}

TEST(KeyState, ReleasingOneOfBothShiftKeysKeepsShiftDown) {
    uint8_t state = 0;
    state = TranslateKey(kdDown, kScanLShift, 0, state, false).state;
    state = TranslateKey(kdDown, kScanRShift, 0, state, false).state;
    state = TranslateKey(kdUp, kScanLShift, 0, state, false).state;
    EXPECT_EQ(state, kShiftR);
    EXPECT_EQ(Down(kScanA, 0x41, state), "41");
    EXPECT_EQ(KBDStateText(state), std::string(15, ' ') + "SHIFT " + std::string(9, ' '));
    state = TranslateKey(kdUp, kScanRShift, 0, state, false).state;
    EXPECT_EQ(state, 0);
    EXPECT_EQ(Down(kScanA, 0x41, state), "61");
}

TEST(KeyState, KeyHoldSwallowsKeysButLocksAndModifiersStillCount) {
    EXPECT_EQ(Down(kScanA, 0x41, 0, true), "");
    EXPECT_EQ(Down(kScanKeypad8, kVkUp, 0, true), "");
    EXPECT_EQ(Down(kScanF9, kVkF9, kCtrl, true), "");
    EXPECT_EQ(Down(kScanEnter, 0x0D, 0, true), "");

    TKeyResult r = TranslateKey(kdDown, kScanCaps, 0, 0, true);
    EXPECT_EQ(r.state, kCaps);
    EXPECT_TRUE(r.print_state);
    r = TranslateKey(kdDown, kScanCtrl, 0, r.state, true);
    EXPECT_EQ(r.state, kCaps | kCtrl);
    r = TranslateKey(kdUp, kScanCtrl, 0, r.state, true); // release is not held back
    EXPECT_EQ(r.state, kCaps);
    EXPECT_EQ(Down(kScanA, 0x41, r.state, false), "41"); // hold off again: sent
}

TEST(KeyState, ReleasingAnOrdinaryKeySendsNothing) {
    const TKeyResult r = TranslateKey(kdUp, kScanA, 0x41, kShiftL, false);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.state, kShiftL);
    EXPECT_FALSE(r.print_state);
}

TEST(KeyStateText, FieldsKeepTheirColumns) {
    EXPECT_EQ(KBDStateText(0), std::string(30, ' '));
    EXPECT_EQ(KBDStateText(kNum), "NUML " + std::string(25, ' '));
    const std::string b5(5, ' ');
    EXPECT_EQ(KBDStateText(kCaps | kShiftL | kShiftR), b5 + "CAPS " + b5 + "SHIFT " + b5 + "    ");
    EXPECT_EQ(KBDStateText(kScroll), b5 + b5 + "SCRL " + std::string(15, ' '));
    EXPECT_EQ(KBDStateText(kCtrl | kAlt), std::string(21, ' ') + "CTRL ALT ");
    EXPECT_EQ(KBDStateText(0x7F), "NUML CAPS SCRL SHIFT CTRL ALT ");
    EXPECT_EQ(KBDStateText(0x80), std::string(30, ' ')); // the unused bit shows nothing
    for (int s = 0; s < 256; ++s)
        EXPECT_EQ(KBDStateText(uint8_t(s)).size(), 30u) << s;
}

TEST(RebootButton, ShownOnlyWhileCtrlAndAltAreBothDown) {
    EXPECT_FALSE(RebootButtonShown(0));
    EXPECT_FALSE(RebootButtonShown(kCtrl));
    EXPECT_FALSE(RebootButtonShown(kAlt | kShiftL | kCaps));
    EXPECT_TRUE(RebootButtonShown(kCtrl | kAlt));
    EXPECT_TRUE(RebootButtonShown(kCtrl | kAlt | kNum | kShiftR));
}

TEST(LockReload, TakesOverKnownLockBitsAndKeepsTheRest) {
    const uint8_t held = kShiftL | kCtrl | kAlt;
    EXPECT_EQ(ReloadLockBits(held | kCaps | kScroll, {false, true, false}), held | kNum);
    EXPECT_EQ(ReloadLockBits(held, {true, true, true}), held | kScroll | kNum | kCaps);
    // The PC cannot tell Scroll Lock: the program's own bit stays, set or clear.
    EXPECT_EQ(ReloadLockBits(kScroll, {std::nullopt, false, true}), kScroll | kCaps);
    EXPECT_EQ(ReloadLockBits(kNum, {std::nullopt, true, false}), kNum);
    EXPECT_EQ(ReloadLockBits(kNum | kCaps | kAlt, {}), kNum | kCaps | kAlt);
}
