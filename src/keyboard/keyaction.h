// The key tables: what each PC key sends to the target.
//
// Scan codes are PC set-1 make codes without the extended-key prefix, so both Ctrl keys, both
// Alt keys, the keypad and the separate cursor block share entries; the virtual-key codes are
// the Windows ones. The tables are constant and shared by every thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Bits of the keyboard state byte, in the places of the BIOS keyboard-flag byte. 80 is unused.
enum TKeyStateBit : uint8_t {
    ksRightShift = 0x01,
    ksLeftShift = 0x02,
    ksCtrl = 0x04,
    ksAlt = 0x08,
    ksScrollLock = 0x10,
    ksNumLock = 0x20,
    ksCapsLock = 0x40,
};
constexpr uint8_t kShiftBits = ksRightShift | ksLeftShift;
constexpr uint8_t kModifierBits = ksRightShift | ksLeftShift | ksCtrl | ksAlt;
constexpr uint8_t kLockBits = ksScrollLock | ksNumLock | ksCapsLock;

struct TKeyEntry {
    uint8_t defined;    // 0 for an undefined key; else the scan code (85, 86 for F11, F12)
    uint8_t normal;     // character without Shift; 0 for modifier, lock and function keys
    uint8_t clear_mask; // complement of state_bit; FF for ordinary keys
    uint8_t state_bit;  // the TKeyStateBit the key sets or toggles; 0 for ordinary keys
    uint8_t shifted;    // character with Shift; 0 where there is none
};

// Indexed by scan code.
extern const std::array<TKeyEntry, 256> kKeyTable;

// Navigation keys by virtual key 21 (Page Up) to 2E (Delete); Select, Print, Execute and
// Print Screen (29 to 2C) send nothing.
constexpr uint8_t kFirstNavigationKey = 0x21;
constexpr uint8_t kLastNavigationKey = 0x2E;
extern const std::array<std::string_view, kLastNavigationKey - kFirstNavigationKey + 1>
    kNavigationStrings;

// Function keys F1 to F12 by virtual key 70 to 7B, without and with Ctrl.
constexpr uint8_t kFirstFunctionKey = 0x70;
constexpr uint8_t kLastFunctionKey = 0x7B;
extern const std::array<std::string_view, 12> kFunctionStrings;
extern const std::array<std::string_view, 12> kCtrlFunctionStrings;

// The target's reboot code, sent by the "Del" button.
constexpr std::string_view kRebootBytes{"\x1B\x7F", 2};
