#include "keyboard.h"

void TKeyboard::AppMessage(TKeyDirection direction, uint8_t scan_code, uint8_t virtual_key) {
    const TKeyResult r = TranslateKey(direction, scan_code, virtual_key, state_, KeyHold());
    state_ = r.state;
    if (r.count != 0 && callbacks_.write) callbacks_.write(r.bytes.data(), r.count);
    if (r.print_state) PrintKBDState();
}

void TKeyboard::ButtonDelClick() {
    if (KeyHold() || !callbacks_.write) return;
    callbacks_.write(reinterpret_cast<const uint8_t*>(kRebootBytes.data()), kRebootBytes.size());
}

void TKeyboard::FormActivate(const TLockState& pc) {
    state_ = ReloadLockBits(state_, pc);
    PrintKBDState();
}

void TKeyboard::PrintKBDState() {
    if (callbacks_.show_state) callbacks_.show_state(KBDStateText(state_));
}
