// Turns the key bytes the console sends back into keys: characters, control characters, the
// escape strings of the cursor block and of the function keys, the reboot code 1B 7F and the
// refresh request 12.
//
// A lone ESC is the Esc key only once nothing follows it: the decoder holds it back until the
// next byte, or until the caller reports a short silence with Flush().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TKeyKind {
    kkChar,       // a printable character (20-7E)
    kkControl,    // any other single byte (Ctrl-letter, DEL, bytes from 80 on)
    kkEnter,      // 0D
    kkBackspace,  // 08
    kkTab,        // 09
    kkEscape,     // a lone 1B
    kkNavigation, // Home, End, arrows, Page Up/Down, Insert, Delete
    kkFunction,   // F1-F12, Ctrl-F9
    kkReboot,     // 1B 7F
    kkRefresh,    // 12
};

struct TKeyEvent {
    std::vector<uint8_t> bytes;
    TKeyKind kind = TKeyKind::kkControl;
    std::string name; // "a", "Enter", "Ctrl-C", "Up", "F9", "Reboot", ...
    uint8_t ch = 0;   // for kkChar: the character
};

class TKeyDecoder {
  public:
    // Completed keys are appended to `out`.
    void Feed(uint8_t b, std::vector<TKeyEvent>& out);
    // Releases a held ESC (and an ESC '[' whose end never came) as keys of their own.
    void Flush(std::vector<TKeyEvent>& out);
    bool Pending() const { return !held_.empty(); }

  private:
    std::vector<uint8_t> held_; // ESC, or ESC '['
};

// "1B 5B 41"
std::string HexBytes(const std::vector<uint8_t>& bytes);
