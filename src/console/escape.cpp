#include "escape.h"

#include "screen.h"

#include <climits>

uint8_t AnsiColourIndex(int n) {
    static constexpr uint8_t kMap[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    return kMap[n & 7];
}

namespace {

struct TSlot {
    char digits[kEscapeSlotDigits];
    int length = 0;
    // The digits as a decimal number; an empty slot reads as 0, a value past the 32-bit range
    // saturates (the cursor rules clamp it onto the screen).
    int32_t Value() const {
        int64_t v = 0;
        for (int i = 0; i < length; ++i) {
            v = v * 10 + (digits[i] - '0');
            if (v > INT32_MAX) return INT32_MAX;
        }
        return static_cast<int32_t>(v);
    }
};

void Echo(TScreen& screen, const uint8_t* collected, int count) {
    screen.Putch(0x1B);
    screen.Putch('[');
    for (int i = 0; i < count; ++i) screen.Putch(collected[i]);
}

int ClampPosition(int32_t v, int high) {
    if (v == 0) return 1;
    return v > high ? high : v;
}

void CursorPosition(TScreen& screen, const TSlot* slots) {
    const int row = ClampPosition(slots[0].Value(), kScreenRows);
    const int column = ClampPosition(slots[1].Value(), kScreenColumns);
    screen.SetCursor(column - 1, row - 1);
}

void Attributes(TScreen& screen, const TSlot* slots, int last_index) {
    uint8_t a = screen.Attribute();
    for (int i = 0; i <= last_index && slots[i].length > 0; ++i) {
        const int32_t v = slots[i].Value();
        if (v == 0) {
            a &= 0x77;
        } else if (v == 1) {
            a |= 0x08;
        } else if (v == 7) {
            a = static_cast<uint8_t>((a << 4) | (a >> 4));
        } else if (v >= 30 && v <= 37) {
            a = static_cast<uint8_t>((a & 0xF8) | AnsiColourIndex(v - 30));
        } else if (v >= 40 && v <= 47) {
            a = static_cast<uint8_t>((a & 0x8F) | (AnsiColourIndex(v - 40) << 4));
        }
    }
    screen.SetAttribute(a);
}

} // namespace

void EscapeSequence(TScreen& screen, TSequenceSource& source) {
    uint8_t collected[kEscapeMaxCollected];
    int count = 0;

    // Collect up to and including the final byte.
    for (;;) {
        while (source.QueueEmpty()) {
            if (!source.WaitForInput()) return; // stop requested: no effect, no echo
        }
        uint8_t b = source.TakeByte();
        if (b == '<') b = '9';
        collected[count++] = b;
        if (b == 'H' || b == 'J' || b == 'm') break;
        const bool parameter_byte = (b >= '0' && b <= '9') || b == ';';
        if (!parameter_byte || count == kEscapeMaxCollected) {
            Echo(screen, collected, count);
            return;
        }
    }

    TSlot slots[kEscapeSlots];
    int index = 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t b = collected[i];
        if (b == ';') {
            if (index == kEscapeSlots - 1) return; // more than 11 parameters: dropped silently
            ++index;
        } else if (b >= '0' && b <= '9') {
            TSlot& slot = slots[index];
            if (slot.length == kEscapeSlotDigits) { // a parameter too long to hold
                Echo(screen, collected, count);
                return;
            }
            slot.digits[slot.length++] = static_cast<char>(b);
        } else if (b == 'H') {
            CursorPosition(screen, slots);
        } else if (b == 'J') {
            if (slots[0].length > 0 && slots[0].digits[0] == '2') screen.ClearScreen();
        } else { // 'm'
            Attributes(screen, slots, index);
        }
    }
}
