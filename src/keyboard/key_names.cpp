#include "key_names.h"

#include "keyaction.h"
#include "screen_text.h"
#include "translate.h"
#include "typed_text.h"

#include <array>
#include <cctype>

namespace {

struct TNamedKeyCodes {
    const char* name;
    uint8_t scan_code;   // its entry of kKeyTable
    uint8_t virtual_key; // what selects a navigation or function key string
};

// Scan codes and virtual keys as the window's key adapters bring their keys to them (the
// cursor block shares the keypad's entries).
constexpr std::array<TNamedKeyCodes, kNamedKeyCount> kNamedKeys = {{
    {"Enter", 0x1C, 0x0D},
    {"Esc", 0x01, 0x1B},
    {"Tab", 0x0F, 0x09},
    {"Backspace", 0x0E, 0x08},
    {"Up", 0x48, 0x26},
    {"Down", 0x50, 0x28},
    {"Left", 0x4B, 0x25},
    {"Right", 0x4D, 0x27},
    {"Home", 0x47, 0x24},
    {"End", 0x4F, 0x23},
    {"PgUp", 0x49, 0x21},
    {"PgDn", 0x51, 0x22},
    {"Ins", 0x52, 0x2D},
    {"Del", 0x53, 0x2E},
    {"F1", 0x3B, 0x70},
    {"F2", 0x3C, 0x71},
    {"F3", 0x3D, 0x72},
    {"F4", 0x3E, 0x73},
    {"F5", 0x3F, 0x74},
    {"F6", 0x40, 0x75},
    {"F7", 0x41, 0x76},
    {"F8", 0x42, 0x77},
    {"F9", 0x43, 0x78},
    {"F10", 0x44, 0x79},
    {"F11", 0x57, 0x7A},
    {"F12", 0x58, 0x7B},
}};

struct TAlias {
    const char* name;
    TNamedKey key;
};
constexpr TAlias kAliases[] = {
    {"Escape", nkEsc}, {"Return", nkEnter}, {"PageUp", nkPgUp},
    {"PageDown", nkPgDn}, {"Insert", nkIns}, {"Delete", nkDel},
};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Translate(uint8_t scan_code, uint8_t virtual_key, uint8_t state) {
    return std::string(TranslateKey(kdDown, scan_code, virtual_key, state, false).Bytes());
}

// The ordinary key of the table whose character `c` is, without Shift (main block first, then
// the keypad), or with it; -1 when no key gives it.
int KeyOfCharacter(char c, bool* shifted) {
    for (int pass = 0; pass < 2; ++pass) {
        for (int s = 0; s < 256; ++s) {
            const TKeyEntry& e = kKeyTable[s];
            if (e.defined == 0 || e.state_bit != 0) continue;
            const uint8_t given = pass == 0 ? e.normal : e.shifted;
            if (given != 0 && given == static_cast<uint8_t>(c)) {
                *shifted = pass == 1;
                return s;
            }
        }
    }
    return -1;
}

std::string CharacterBytes(char c, uint8_t modifiers) {
    bool shifted = false;
    const int scan = KeyOfCharacter(c, &shifted);
    if (scan < 0) return "";
    const uint8_t state = static_cast<uint8_t>(modifiers | (shifted ? ksLeftShift : 0));
    return Translate(static_cast<uint8_t>(scan), 0, state);
}

// Ctrl with the key whose character is a letter, one of [ \ ] ` or Space, as a terminal
// reports the combination: its control byte.
std::string ControlBytes(uint8_t byte) {
    for (int s = 0; s < 256; ++s) {
        const TKeyEntry& e = kKeyTable[s];
        if (e.defined == 0 || e.state_bit != 0 || e.normal == 0) continue;
        if (e.normal < 0x40 && e.normal != 0x20) continue;
        if ((e.normal & 0x1F) == byte) return Translate(static_cast<uint8_t>(s), 0, ksCtrl);
    }
    return "";
}

std::optional<TNamedKey> NamedKeyByName(std::string_view name) {
    for (int k = 0; k < kNamedKeyCount; ++k)
        if (SameName(name, kNamedKeys[k].name)) return static_cast<TNamedKey>(k);
    for (const TAlias& a : kAliases)
        if (SameName(name, a.name)) return a.key;
    return std::nullopt;
}

} // namespace

const char* NamedKeyName(TNamedKey key) { return kNamedKeys[key].name; }

std::string NamedKeyBytes(TNamedKey key, uint8_t modifiers) {
    return Translate(kNamedKeys[key].scan_code, kNamedKeys[key].virtual_key, modifiers);
}

std::string TermKeyBytes(const TTermKey& key) {
    if (key.named) return NamedKeyBytes(key.key, key.modifiers);
    const char32_t c = key.character;
    switch (c) {
    case 0x0D: return NamedKeyBytes(nkEnter, key.modifiers);
    case 0x09: return NamedKeyBytes(nkTab, key.modifiers);
    case 0x1B: return NamedKeyBytes(nkEsc, key.modifiers);
    case 0x08:
    case 0x7F: return NamedKeyBytes(nkBackspace, key.modifiers);
    default: break;
    }
    if (c < 0x20) return ControlBytes(static_cast<uint8_t>(c));
    if (c < 0x7F) return CharacterBytes(static_cast<char>(c), key.modifiers);
    // Beyond ASCII: as a paste types it (the code page's glyphs that no key gives).
    std::string utf8;
    AppendUtf8(utf8, c);
    return TypeText(utf8, 4).bytes;
}

bool ParseKeyName(std::string_view name, TKeySpec* out, std::string* error) {
    *out = TKeySpec{};
    if (SameName(name, "CtrlAltDel")) {
        out->reboot = true;
        return true;
    }
    uint8_t modifiers = 0;
    std::string_view rest = name;
    for (;;) {
        const size_t plus = rest.find('+');
        if (plus == std::string_view::npos || plus == 0 || plus + 1 == rest.size()) break;
        const std::string_view prefix = rest.substr(0, plus);
        if (SameName(prefix, "Ctrl")) modifiers |= ksCtrl;
        else if (SameName(prefix, "Alt")) modifiers |= ksAlt;
        else if (SameName(prefix, "Shift")) modifiers |= ksLeftShift;
        else break;
        rest = rest.substr(plus + 1);
    }
    const std::optional<TNamedKey> named = NamedKeyByName(rest);
    if (named == nkDel && (modifiers & (ksCtrl | ksAlt)) == (ksCtrl | ksAlt)) {
        out->reboot = true;
        return true;
    }
    if (named) {
        out->bytes = NamedKeyBytes(*named, modifiers);
    } else if (SameName(rest, "Space")) {
        out->bytes = CharacterBytes(' ', modifiers);
    } else if (rest.size() == 1 && rest[0] > 0x20 && rest[0] < 0x7F) {
        out->bytes = CharacterBytes(rest[0], modifiers);
    } else {
        *error = "no key is named \"" + std::string(name) +
                 "\" (Enter, Esc, Tab, Backspace, Up, Down, Left, Right, Home, End, PgUp, PgDn, "
                 "Ins, Del, F1..F12, a character, Ctrl+X, Alt+X, CtrlAltDel)";
        return false;
    }
    if (out->bytes.empty()) {
        *error = "the key \"" + std::string(name) + "\" sends nothing";
        return false;
    }
    return true;
}
