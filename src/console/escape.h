// Escape sequence interpreter: ESC '[' parameters final, the final one of H (cursor position),
// J (clear screen) or m (attributes). Anything else is echoed to the screen as it came.
#pragma once

#include <cstdint>

class TScreen;

// Where the interpreter takes the rest of a sequence from: the receive queue, and a wait that
// lets the window system run while the queue is empty. Window thread only.
class TSequenceSource {
  public:
    virtual ~TSequenceSource() = default;
    virtual bool QueueEmpty() const = 0;
    virtual uint8_t TakeByte() = 0; // only when the queue is not empty
    // Lets the window system process its pending events once (blocking until the next event
    // when none is pending). Returns false when a stop has been requested meanwhile.
    virtual bool WaitForInput() = 0;
};

// Fixed limits: 11 parameters of up to 79 digits each; the longest sequence that can be valid
// (11 full slots, 10 separators and the final) fits the collected bytes. A sequence that
// outgrows either limit is treated as unrecognised and echoed.
constexpr int kEscapeSlots = 11;
constexpr int kEscapeSlotDigits = 79;
constexpr int kEscapeMaxCollected = kEscapeSlots * kEscapeSlotDigits + (kEscapeSlots - 1) + 1;

// The ANSI colour number n of 30+n / 40+n to the colour index of the attribute byte.
uint8_t AnsiColourIndex(int n);

// Called right after the main cycle has taken ESC and '['. Takes the rest of one sequence from
// the source and carries it out on the screen. Returns at once, without effect, when a stop is
// requested while it waits for a byte.
void EscapeSequence(TScreen& screen, TSequenceSource& source);
