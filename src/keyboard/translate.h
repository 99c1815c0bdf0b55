// Key translation: one key message and the keyboard state byte in, the bytes for the target
// and the new state byte out. Pure functions, no I/O; the caller owns the state byte, writes
// the bytes in one write and refreshes the state display when asked to.
#pragma once

#include "keyaction.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum TKeyDirection : uint8_t { kdDown, kdUp };

struct TKeyResult {
    std::array<uint8_t, 3> bytes{}; // what to send, bytes[0 .. count)
    uint8_t count = 0;              // 0: send nothing
    uint8_t state = 0;              // the keyboard state byte after the key
    // A modifier or lock key went down or up: the state display must be refreshed (also when
    // the byte did not change, as for an auto-repeated Shift).
    bool print_state = false;

    std::string_view Bytes() const { return {reinterpret_cast<const char*>(bytes.data()), count}; }
};

// Translates one key down or key up. `scan_code` indexes the key table; `virtual_key` selects
// the navigation and function-key strings. While `key_hold` is on, nothing is sent, but the
// modifier and lock keys are still tracked.
TKeyResult TranslateKey(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key,
                        uint8_t state, bool key_hold);

// The state display: six fixed-width fields, always 30 characters,
// "NUML CAPS SCRL SHIFT CTRL ALT " with blanks for the clear ones.
std::string KBDStateText(uint8_t state);

// The reboot button is offered while both Ctrl and Alt are down in `state`.
constexpr bool RebootButtonShown(uint8_t state) {
    return (state & (ksCtrl | ksAlt)) == (ksCtrl | ksAlt);
}

// The PC's own lock keys as the window system reports them; empty where it cannot tell.
struct TLockState {
    std::optional<bool> scroll_lock;
    std::optional<bool> num_lock;
    std::optional<bool> caps_lock;
};

// Takes over the lock bits the PC reports; bits it cannot tell and the modifier bits stay.
uint8_t ReloadLockBits(uint8_t state, const TLockState& pc);
