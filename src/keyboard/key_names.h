// Keys by name, and keys as a terminal reports them: what each sends to the target, taken from
// the one key table (keyaction.h) through TranslateKey, as the window's key hook would send it.
// Nothing here holds bytes of its own: a named key is only its scan code and virtual key, a
// character the key of the table that gives it.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The keys that have names of their own (for --key and the terminal's key decoding).
enum TNamedKey : uint8_t {
    nkEnter,
    nkEsc,
    nkTab,
    nkBackspace,
    nkUp,
    nkDown,
    nkLeft,
    nkRight,
    nkHome,
    nkEnd,
    nkPgUp,
    nkPgDn,
    nkIns,
    nkDel,
    nkF1, // F1 .. F12 follow in order
    nkF12 = nkF1 + 11,
    kNamedKeyCount,
};

// "Enter", "Esc", ... "F12", as --key spells them.
const char* NamedKeyName(TNamedKey key);

// What a named key sends with the modifiers (ksCtrl, ksAlt, ksLeftShift of keyaction.h) held:
// the window's bytes for that key down. Alt changes nothing, as in the window.
std::string NamedKeyBytes(TNamedKey key, uint8_t modifiers);

// A key of the terminal: a named key, or a character as the terminal's keyboard gave it (a
// control character 00-1F or 7F for Ctrl with a key, Enter, Tab, Esc or Backspace), with Alt
// when the terminal sent it as ESC before the key.
struct TTermKey {
    bool named = false;
    TNamedKey key = nkEnter;  // when named
    char32_t character = 0;   // otherwise
    uint8_t modifiers = 0;    // ksCtrl, ksAlt, ksLeftShift

    static TTermKey Named(TNamedKey k, uint8_t mods = 0) { return {true, k, 0, mods}; }
    static TTermKey Character(char32_t c, uint8_t mods = 0) { return {false, nkEnter, c, mods}; }
    bool IsCharacter(char32_t c) const { return !named && character == c; }
};

// The bytes the window would send for that key: printable ASCII as the key of the table that
// gives it, a character of the code page beyond ASCII as a paste types it, CR as Enter, HT as
// Tab, ESC as Esc, BS and DEL as Backspace, another control character as Ctrl with the key
// whose Ctrl combination gives it. "" when no key of the table sends it (a character the code
// page lacks, 1E and 1F).
std::string TermKeyBytes(const TTermKey& key);

// A key as a script names it: "Enter", "Esc", "Tab", "Backspace", "Up", "Down", "Left", "Right",
// "Home", "End", "PgUp", "PgDn", "Ins", "Del", "F1" ... "F12" (in any case), a single printable
// character, any of them after "Ctrl+", "Alt+" and "Shift+" prefixes, and "CtrlAltDel" (also
// "Ctrl+Alt+Del") for the reboot code.
struct TKeySpec {
    std::string bytes;   // what the key sends (empty for the reboot code)
    bool reboot = false; // the reboot code, as the window's "Del" button sends it
};
// False, with `error` for the user, for a name that names no key.
bool ParseKeyName(std::string_view name, TKeySpec* out, std::string* error);
