#include "keys.h"

#include <cstdio>

namespace {

constexpr uint8_t kEsc = 0x1B;

TKeyEvent Single(uint8_t b) {
    TKeyEvent e;
    e.bytes = {b};
    char name[24];
    switch (b) {
    case 0x0D:
        e.kind = TKeyKind::kkEnter;
        e.name = "Enter";
        return e;
    case 0x08:
        e.kind = TKeyKind::kkBackspace;
        e.name = "Backspace";
        return e;
    case 0x09:
        e.kind = TKeyKind::kkTab;
        e.name = "Tab";
        return e;
    case 0x12:
        e.kind = TKeyKind::kkRefresh;
        e.name = "Refresh (or Ctrl-R)";
        return e;
    case kEsc:
        e.kind = TKeyKind::kkEscape;
        e.name = "Esc";
        return e;
    case 0x20:
        e.kind = TKeyKind::kkChar;
        e.ch = b;
        e.name = "Space";
        return e;
    case 0x7F: e.name = "DEL"; return e;
    case 0x00: e.name = "Ctrl-Space"; return e;
    default: break;
    }
    if (b < 0x20) {
        std::snprintf(name, sizeof name, "Ctrl-%c", char('@' + b));
    } else if (b < 0x7F) {
        e.kind = TKeyKind::kkChar;
        e.ch = b;
        std::snprintf(name, sizeof name, "%c", char(b));
    } else {
        std::snprintf(name, sizeof name, "byte %02X", b);
    }
    e.name = name;
    return e;
}

// The key of ESC x, or an empty name when ESC x is no key string.
const char* AfterEsc(uint8_t x, TKeyKind& kind) {
    kind = TKeyKind::kkNavigation;
    switch (x) {
    case 0x3F: return "Page Up";
    case 0x2F: return "Page Down";
    case 0x2D: return "Delete";
    case 0x7F: kind = TKeyKind::kkReboot; return "Reboot (Ctrl-Alt-Del)";
    default: break;
    }
    kind = TKeyKind::kkFunction;
    static const char* const kF[] = {"F10", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"};
    if (x >= '0' && x <= '9') return kF[x - '0'];
    if (x == 0x21) return "F11";
    if (x == 0x40) return "F12";
    if (x == 0x3A) return "Ctrl-F9";
    return "";
}

const char* AfterEscBracket(uint8_t x) {
    switch (x) {
    case 0x4B: return "End";
    case 0x48: return "Home";
    case 0x44: return "Left";
    case 0x41: return "Up";
    case 0x43: return "Right";
    case 0x42: return "Down";
    case 0x40: return "Insert";
    default: return "";
    }
}

} // namespace

void TKeyDecoder::Feed(uint8_t b, std::vector<TKeyEvent>& out) {
    if (held_.empty()) {
        if (b == kEsc)
            held_.push_back(b);
        else
            out.push_back(Single(b));
        return;
    }
    if (held_.size() == 1) {
        if (b == '[') {
            held_.push_back(b);
            return;
        }
        TKeyKind kind;
        const char* name = AfterEsc(b, kind);
        if (*name) {
            out.push_back({{kEsc, b}, kind, name, 0});
            held_.clear();
            return;
        }
        // ESC and then something that is no key string: the Esc key, then a key of its own.
        held_.clear();
        out.push_back(Single(kEsc));
        Feed(b, out);
        return;
    }
    // ESC '['
    const char* name = AfterEscBracket(b);
    held_.clear();
    if (*name) {
        out.push_back({{kEsc, '[', b}, TKeyKind::kkNavigation, name, 0});
        return;
    }
    out.push_back(Single(kEsc));
    out.push_back(Single('['));
    Feed(b, out);
}

void TKeyDecoder::Flush(std::vector<TKeyEvent>& out) {
    for (uint8_t b : held_)
        out.push_back(Single(b));
    held_.clear();
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}
