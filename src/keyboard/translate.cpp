#include "translate.h"

namespace {

TKeyResult Send(TKeyResult r, std::string_view bytes) {
    for (char c : bytes)
        r.bytes[r.count++] = static_cast<uint8_t>(c);
    return r;
}

TKeyResult Send(TKeyResult r, uint8_t byte) {
    r.bytes[0] = byte;
    r.count = 1;
    return r;
}

} // namespace

TKeyResult TranslateKey(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key,
                        uint8_t state, bool key_hold) {
    const TKeyEntry& e = kKeyTable[scan_code];
    TKeyResult r;
    r.state = state;
    if (e.defined == 0) return r;

    if (direction == kdUp) {
        if (e.state_bit != 0) {
            if (e.state_bit & kModifierBits) r.state &= e.clear_mask; // locks keep their bit
            r.print_state = true;
        }
        return r;
    }

    if (e.state_bit != 0) {
        if ((e.state_bit & kLockBits) && (state & e.state_bit)) {
            r.state &= e.clear_mask;
        } else {
            r.state |= e.state_bit;
        }
        r.print_state = true;
        return r;
    }
    if (key_hold) return r;

    if (virtual_key >= kFirstNavigationKey && virtual_key <= kLastNavigationKey) {
        return Send(r, kNavigationStrings[virtual_key - kFirstNavigationKey]);
    }
    if (virtual_key >= kFirstFunctionKey && virtual_key <= kLastFunctionKey) {
        const auto& strings = (state & ksCtrl) ? kCtrlFunctionStrings : kFunctionStrings;
        return Send(r, strings[virtual_key - kFirstFunctionKey]);
    }
    if (state & ksCtrl) return Send(r, static_cast<uint8_t>(e.normal & 0x1F));
    const bool shift = (state & kShiftBits) != 0;
    if ((state & ksCapsLock) && e.normal >= 'a' && e.normal <= 'z') {
        return Send(r, shift ? e.normal : e.shifted);
    }
    if (shift && e.shifted != 0) return Send(r, e.shifted);
    return Send(r, e.normal);
}

std::string KBDStateText(uint8_t state) {
    std::string text;
    text += (state & ksNumLock) ? "NUML " : "     ";
    text += (state & ksCapsLock) ? "CAPS " : "     ";
    text += (state & ksScrollLock) ? "SCRL " : "     ";
    text += (state & kShiftBits) ? "SHIFT " : "      ";
    text += (state & ksCtrl) ? "CTRL " : "     ";
    text += (state & ksAlt) ? "ALT " : "    ";
    return text;
}

uint8_t ReloadLockBits(uint8_t state, const TLockState& pc) {
    auto take = [&state](const std::optional<bool>& on, uint8_t bit) {
        if (!on) return;
        state = static_cast<uint8_t>(*on ? (state | bit) : (state & ~bit));
    };
    take(pc.scroll_lock, ksScrollLock);
    take(pc.num_lock, ksNumLock);
    take(pc.caps_lock, ksCapsLock);
    return state;
}
