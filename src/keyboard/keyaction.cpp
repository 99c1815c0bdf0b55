#include "keyaction.h"

#include <initializer_list>

namespace {

using TTable = std::array<TKeyEntry, 256>;

// A run of ordinary keys with consecutive scan codes from `first`.
constexpr void Keys(TTable& t, uint8_t first, std::initializer_list<uint8_t> normal,
                    std::initializer_list<uint8_t> shifted) {
    auto s = shifted.begin();
    uint8_t code = first;
    for (uint8_t n : normal) {
        t[code] = TKeyEntry{code, n, 0xFF, 0, s != shifted.end() ? *s++ : uint8_t{0}};
        ++code;
    }
}

// A modifier or lock key: no characters, clear mask the complement of its bit.
constexpr void StateKey(TTable& t, uint8_t code, uint8_t bit) {
    t[code] = TKeyEntry{code, 0, static_cast<uint8_t>(~bit), bit, 0};
}

constexpr TTable BuildKeyTable() {
    TTable t{};
    Keys(t, 0x01, {0x1B}, {}); // Esc
    // 1 to 0, minus, equals
    Keys(t, 0x02, {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0x2D, 0x3D},
         {0x21, 0x40, 0x23, 0x24, 0x25, 0x5E, 0x26, 0x2A, 0x28, 0x29, 0x5F, 0x2B});
    Keys(t, 0x0E, {0x08}, {}); // Backspace
    Keys(t, 0x0F, {0x09}, {}); // Tab
    // Q to P, brackets
    Keys(t, 0x10, {0x71, 0x77, 0x65, 0x72, 0x74, 0x79, 0x75, 0x69, 0x6F, 0x70, 0x5B, 0x5D},
         {0x51, 0x57, 0x45, 0x52, 0x54, 0x59, 0x55, 0x49, 0x4F, 0x50, 0x7B, 0x7D});
    Keys(t, 0x1C, {0x0D}, {}); // Enter
    StateKey(t, 0x1D, ksCtrl);
    // A to L, semicolon, quote, back quote
    Keys(t, 0x1E, {0x61, 0x73, 0x64, 0x66, 0x67, 0x68, 0x6A, 0x6B, 0x6C, 0x3B, 0x27, 0x60},
         {0x41, 0x53, 0x44, 0x46, 0x47, 0x48, 0x4A, 0x4B, 0x4C, 0x3A, 0x22, 0x7E});
    StateKey(t, 0x2A, ksLeftShift);
    // backslash, Z to M, comma, period, slash
    Keys(t, 0x2B, {0x5C, 0x7A, 0x78, 0x63, 0x76, 0x62, 0x6E, 0x6D, 0x2C, 0x2E, 0x2F},
         {0x7C, 0x5A, 0x58, 0x43, 0x56, 0x42, 0x4E, 0x4D, 0x3C, 0x3E, 0x3F});
    StateKey(t, 0x36, ksRightShift);
    Keys(t, 0x37, {0x2A}, {}); // keypad *
    StateKey(t, 0x38, ksAlt);
    Keys(t, 0x39, {0x20}, {}); // Space
    StateKey(t, 0x3A, ksCapsLock);
    Keys(t, 0x3B, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}); // F1 to F10
    StateKey(t, 0x45, ksNumLock);
    StateKey(t, 0x46, ksScrollLock);
    // keypad 7 8 9 - 4 5 6 + 1 2 3 0 .
    Keys(t, 0x47, {0x37, 0x38, 0x39, 0x2D, 0x34, 0x35, 0x36, 0x2B, 0x31, 0x32, 0x33, 0x30, 0x2E},
         {});
    t[0x57] = TKeyEntry{0x85, 0, 0xFF, 0, 0}; // F11
    t[0x58] = TKeyEntry{0x86, 0, 0xFF, 0, 0}; // F12
    return t;
}

} // namespace

const std::array<TKeyEntry, 256> kKeyTable = BuildKeyTable();

const std::array<std::string_view, kLastNavigationKey - kFirstNavigationKey + 1>
    kNavigationStrings = {
        "\x1B?",  // 21 Page Up
        "\x1B/",  // 22 Page Down
        "\x1B[K", // 23 End
        "\x1B[H", // 24 Home
        "\x1B[D", // 25 Left
        "\x1B[A", // 26 Up
        "\x1B[C", // 27 Right
        "\x1B[B", // 28 Down
        "",       // 29 Select
        "",       // 2A Print
        "",       // 2B Execute
        "",       // 2C Print Screen
        "\x1B[@", // 2D Insert
        "\x1B-",  // 2E Delete
};

// clang-format off
const std::array<std::string_view, 12> kFunctionStrings = {
    "\x1B" "1", "\x1B" "2", "\x1B" "3", "\x1B" "4", "\x1B" "5", "\x1B" "6",
    "\x1B" "7", "\x1B" "8", "\x1B" "9", "\x1B" "0", "\x1B" "!", "\x1B" "@",
};

// Ctrl changes only F9.
const std::array<std::string_view, 12> kCtrlFunctionStrings = {
    "\x1B" "1", "\x1B" "2", "\x1B" "3", "\x1B" "4", "\x1B" "5", "\x1B" "6",
    "\x1B" "7", "\x1B" "8", "\x1B" ":", "\x1B" "0", "\x1B" "!", "\x1B" "@",
};
// clang-format on
