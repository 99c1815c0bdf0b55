// The terminal on ncursesw: terminfo for what the terminal can do, ncurses' key decoding
// (keypad mode, ESCDELAY), colour pairs made as cells need them, and ncurses' own screen
// model, which sends the terminal only what differs at each Show. The standard input and
// output are the terminal (newterm on them; an unknown TERM is a failure, not an exit).
#include "terminal.h"

#include "keyaction.h"

#include <curses.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <langinfo.h>
#include <sstream>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

// The time ncurses waits after ESC for the rest of a key's sequence: long enough for a slow
// SSH link to deliver an arrow key whole, short enough that Esc alone feels immediate.
constexpr int kEscapeDelayMs = 100;

struct TKeyByName {
    const char* prefix; // ncurses' name of an extended key, without its modifier digit
    TNamedKey key;
};
// Keys with modifiers, as terminfo's extended capabilities name them (kUP5: Ctrl+Up).
constexpr TKeyByName kExtendedKeys[] = {
    {"kUP", nkUp},    {"kDN", nkDown}, {"kLFT", nkLeft}, {"kRIT", nkRight}, {"kHOM", nkHome},
    {"kEND", nkEnd},  {"kNXT", nkPgDn}, {"kPRV", nkPgUp}, {"kIC", nkIns},  {"kDC", nkDel},
};

// xterm's modifier numbers in key names and function keys: 2 Shift, 3 Alt, 5 Ctrl, ...
uint8_t Modifiers(int number) {
    const int bits = number - 1;
    uint8_t m = 0;
    if (bits & 1) m |= ksLeftShift;
    if (bits & 2) m |= ksAlt;
    if (bits & 4) m |= ksCtrl;
    return m;
}

bool DecodeKeyCode(int code, TTermKey* key) {
    switch (code) {
    case KEY_UP: *key = TTermKey::Named(nkUp); return true;
    case KEY_DOWN: *key = TTermKey::Named(nkDown); return true;
    case KEY_LEFT: *key = TTermKey::Named(nkLeft); return true;
    case KEY_RIGHT: *key = TTermKey::Named(nkRight); return true;
    case KEY_HOME:
    case KEY_A1: *key = TTermKey::Named(nkHome); return true;
    case KEY_END:
    case KEY_C1: *key = TTermKey::Named(nkEnd); return true;
    case KEY_PPAGE:
    case KEY_A3: *key = TTermKey::Named(nkPgUp); return true;
    case KEY_NPAGE:
    case KEY_C3: *key = TTermKey::Named(nkPgDn); return true;
    case KEY_IC: *key = TTermKey::Named(nkIns); return true;
    case KEY_DC: *key = TTermKey::Named(nkDel); return true;
    case KEY_BACKSPACE: *key = TTermKey::Named(nkBackspace); return true;
    case KEY_ENTER: *key = TTermKey::Named(nkEnter); return true;
    case KEY_BTAB: *key = TTermKey::Named(nkTab, ksLeftShift); return true;
    case KEY_SLEFT: *key = TTermKey::Named(nkLeft, ksLeftShift); return true;
    case KEY_SRIGHT: *key = TTermKey::Named(nkRight, ksLeftShift); return true;
    case KEY_SHOME: *key = TTermKey::Named(nkHome, ksLeftShift); return true;
    case KEY_SEND: *key = TTermKey::Named(nkEnd, ksLeftShift); return true;
    case KEY_SIC: *key = TTermKey::Named(nkIns, ksLeftShift); return true;
    case KEY_SDC: *key = TTermKey::Named(nkDel, ksLeftShift); return true;
    case KEY_SNEXT: *key = TTermKey::Named(nkPgDn, ksLeftShift); return true;
    case KEY_SPREVIOUS: *key = TTermKey::Named(nkPgUp, ksLeftShift); return true;
    default: break;
    }
    if (code >= KEY_F(1) && code <= KEY_F(63)) {
        const int n = code - KEY_F(1); // F13..F24 are Shift+F1.., F25.. Ctrl+F1.., as xterm
        *key = TTermKey::Named(static_cast<TNamedKey>(nkF1 + n % 12), Modifiers(n / 12 + 1));
        return true;
    }
    const char* name = keyname(code);
    if (name == nullptr) return false;
    const std::string_view n(name);
    for (const TKeyByName& k : kExtendedKeys) {
        const std::string_view p(k.prefix);
        if (n.size() == p.size() + 1 && n.substr(0, p.size()) == p && n.back() >= '2' &&
            n.back() <= '8') {
            *key = TTermKey::Named(k.key, Modifiers(n.back() - '0'));
            return true;
        }
    }
    return false; // KEY_RESIZE, KEY_MOUSE and keys the key table has no entry for
}

// UTF-8 to the wide characters of the locale (a UTF-8 one when the terminal takes UTF-8).
std::wstring Wide(const std::string& text, bool utf8) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (!utf8 || b < 0x80) {
            out += static_cast<wchar_t>(b < 0x80 ? b : '?');
            ++i;
            continue;
        }
        int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : 0;
        char32_t c = extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        out += static_cast<wchar_t>(c);
    }
    return out;
}

class TCursesTerminal final : public TTerminal {
  public:
    ~TCursesTerminal() override { Stop(); }

    bool Start(std::string* error) override {
        if (screen_) return true;
        const char* codeset = nl_langinfo(CODESET);
        utf8_ = codeset &&
                (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
        set_escdelay(kEscapeDelayMs);
        screen_ = newterm(nullptr, stdout, stdin);
        if (!screen_) {
            const char* term = std::getenv("TERM");
            *error = std::string("cannot use the terminal (TERM=") + (term ? term : "") +
                     "): terminfo has no entry for it";
            return false;
        }
        raw();    // Ctrl+C, Ctrl+Z and Ctrl+\ are keys for the target, not signals
        noecho();
        nonl();   // Enter arrives as CR
        keypad(stdscr, TRUE);
        meta(stdscr, TRUE);
        nodelay(stdscr, TRUE);
        scrollok(stdscr, FALSE);
        idlok(stdscr, FALSE);
        leaveok(stdscr, FALSE);
        colours_ = 0;
        if (has_colors() && start_color() == OK) {
            // Pair 0 is the terminal's own colours: every update ends by resetting to it, and
            // it need not name white on black then. Every cell names its own pair.
            use_default_colors();
            if (COLORS >= 16 && COLOR_PAIRS > 16 * 16) colours_ = 16;
            else if (COLORS >= 8 && COLOR_PAIRS > 8 * 8) colours_ = 8;
        }
        pairs_.assign(static_cast<size_t>(colours_ * colours_ + 1), false);
        return true;
    }

    void Stop() override {
        if (!screen_) return;
        curs_set(1);
        endwin(); // the terminal's modes, keypad and screen as they were
        delscreen(screen_);
        screen_ = nullptr;
        std::fflush(stdout);
    }

    bool Started() const override { return screen_ != nullptr; }
    int Rows() const override { return LINES; }
    int Columns() const override { return COLS; }
    int Colours() const override { return colours_; }
    bool Utf8() const override { return utf8_; }

    void Resized() override {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
            resize_term(size.ws_row, size.ws_col);
        clearok(curscr, TRUE);
        Clear();
    }

    void Put(int row, int column, char32_t glyph, const TTermColour& colour) override {
        wchar_t text[2] = {static_cast<wchar_t>(glyph), 0};
        attr_t attrs = A_NORMAL;
        if (colour.bold) attrs |= A_BOLD;
        if (colour.reverse) attrs |= A_REVERSE;
        cchar_t cell;
        setcchar(&cell, text, attrs, static_cast<short>(Pair(colour)), nullptr);
        mvadd_wch(row, column, &cell); // the bottom-right cell may report ERR; it is drawn
    }

    void PutStatus(int row, const std::string& text) override {
        std::wstring line = Wide(text, utf8_);
        line.resize(static_cast<size_t>(COLS), L' ');
        attr_set(A_REVERSE, 0, nullptr);
        mvaddnwstr(row, 0, line.c_str(), COLS);
        attr_set(A_NORMAL, 0, nullptr);
    }

    void Clear() override { erase(); }

    void Show(int row, int column, bool cursor) override {
        curs_set(cursor ? 1 : 0);
        move(row, column);
        refresh();
    }

    std::vector<TTermKey> ReadKeys() override {
        std::vector<TTermKey> keys;
        wint_t c;
        for (int r; (r = get_wch(&c)) != ERR;) {
            TTermKey key;
            if (r == KEY_CODE_YES) {
                if (DecodeKeyCode(static_cast<int>(c), &key)) keys.push_back(key);
                continue;
            }
            if (c == 0x1B) {
                // ESC with a character right behind it: Alt with that key (a terminal's
                // meta). ncurses has waited ESCDELAY for a key sequence already.
                wint_t next;
                const int n = get_wch(&next);
                if (n == OK && next >= 0x20 && next != 0x7F) {
                    keys.push_back(TTermKey::Character(next, ksAlt));
                    continue;
                }
                keys.push_back(TTermKey::Character(0x1B));
                if (n == OK) keys.push_back(TTermKey::Character(next));
                else if (n == KEY_CODE_YES && DecodeKeyCode(static_cast<int>(next), &key))
                    keys.push_back(key);
                continue;
            }
            keys.push_back(TTermKey::Character(c));
        }
        return keys;
    }

  private:
    // Colour pairs are made the first time a cell needs them (pair 0 is the terminal's own).
    int Pair(const TTermColour& colour) {
        if (colours_ == 0) return 0;
        const int pair = 1 + colour.foreground + colour.background * colours_;
        if (!pairs_[static_cast<size_t>(pair)]) {
            init_pair(static_cast<short>(pair), static_cast<short>(colour.foreground),
                      static_cast<short>(colour.background));
            pairs_[static_cast<size_t>(pair)] = true;
        }
        return pair;
    }

    SCREEN* screen_ = nullptr;
    bool utf8_ = false;
    int colours_ = 0;
    std::vector<bool> pairs_;
};

} // namespace

std::unique_ptr<TTerminal> MakeTerminal() { return std::make_unique<TCursesTerminal>(); }
int TerminalInputFd() { return STDIN_FILENO; }

const bool kWindowsPlatform = false;

void PrepareConsole() { std::setlocale(LC_ALL, ""); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }
bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *reason = std::strerror(errno);
        return false;
    }
    std::ostringstream s;
    s << file.rdbuf();
    if (file.bad()) {
        *reason = "read error";
        return false;
    }
    *bytes = s.str();
    return true;
}

std::string SystemErrorText(int error) { return std::strerror(error); }
