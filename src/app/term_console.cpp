#include "term_console.h"

#include "cp437.h"
#include "escape.h"
#include "screen.h"
#include "screen_text.h"

#include <algorithm>
#include <sstream>
#include <utility>
#include <vector>

namespace {

// Code points in a UTF-8 text (the columns a terminal gives it, near enough for paths).
int Columns(const std::string& text) {
    int n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// The first `columns` code points of `text`.
std::string Cut(const std::string& text, int columns) {
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == columns)
            return text.substr(0, i);
    }
    return text;
}

} // namespace

TTermLayout TermLayout(int term_rows, int term_columns, int cursor_row, int previous_top,
                       bool prompt) {
    TTermLayout layout;
    term_rows = std::max(term_rows, 1);
    layout.columns = std::clamp(term_columns, 1, kScreenColumns);
    layout.status_row = term_rows > kScreenRows || (prompt && term_rows > 1);
    layout.rows = std::min(kScreenRows, term_rows - (layout.status_row ? 1 : 0));
    int top = std::clamp(previous_top, 0, kScreenRows - layout.rows);
    if (cursor_row < top) top = cursor_row;
    if (cursor_row >= top + layout.rows) top = cursor_row - layout.rows + 1;
    layout.top = std::clamp(top, 0, kScreenRows - layout.rows);
    layout.whole = layout.rows == kScreenRows && layout.columns == kScreenColumns;
    return layout;
}

std::string LayoutNotice(const TTermLayout& layout) {
    if (layout.whole && layout.status_row) return "";
    if (layout.whole) return "No room for a status row: 26 rows show it.";
    std::ostringstream line;
    line << "Showing ";
    if (layout.rows < kScreenRows)
        line << "the " << layout.rows << " rows around the cursor of " << kScreenRows;
    if (layout.columns < kScreenColumns)
        line << (layout.rows < kScreenRows ? " and " : "") << "the first " << layout.columns
             << " of " << kScreenColumns << " columns";
    line << "; 26 x 80 shows all and a status row.";
    return line.str();
}

std::string StatusRowText(const TStatusFields& f, int width) {
    std::string port = f.port;
    while (!port.empty() && (port.back() == '.' || port.back() == ' ')) port.pop_back();
    const std::string image = f.image.empty() ? "no image" : f.image;
    std::string left = port + "  " + image;
    std::string right = f.port_away ? "port away" : f.status;
    if (f.key_hold) right += "  keys held";
    std::istringstream words(f.locks);
    for (std::string word; words >> word;) right += " " + word;
    right += "  Ctrl+] h: help";
    width = std::max(width, 1);
    const int room = width - Columns(right) - 2;
    if (room < 4) return Cut(right, width);
    // Too long: without why the port is what it is ("(QUORVIK_COM1)"), then cut short.
    const size_t why = port.rfind(" (");
    if (Columns(left) > room && why != std::string::npos && port.back() == ')')
        left = port.substr(0, why) + "  " + image;
    if (Columns(left) > room) left = Cut(left, room - 2) + "..";
    return left + std::string(static_cast<size_t>(width - Columns(left) - Columns(right)), ' ') +
           right;
}

TTermColour TermColour(uint8_t attr, int colours) {
    TTermColour c;
    // AnsiColourIndex maps ANSI's numbers to the PC's and back (it swaps 1 and 4, 3 and 6).
    const int fg = AnsiColourIndex(attr & 7);
    const int bg = AnsiColourIndex((attr >> 4) & 7);
    if (colours >= 16) {
        c.foreground = fg + (attr & 0x08);
        c.background = bg + ((attr & 0x80) ? 8 : 0);
    } else if (colours >= 8) {
        c.foreground = fg;
        c.background = bg;
        c.bold = (attr & 0x08) != 0;
    } else {
        c.foreground = 7;
        c.background = 0;
        c.bold = (attr & 0x08) != 0;
        c.reverse = (attr & 0x70) != 0;
    }
    return c;
}

char32_t TermGlyph(uint8_t code, bool utf8) {
    if (utf8) return Cp437ToUnicode(code);
    if (code >= 0x20 && code < 0x7F) return code;
    return code == 0 ? U' ' : U'?';
}

const char* const TCommandKey::kHelp =
    "^] then: q quit  r refresh  d reboot  l log  t trace  s save  h help  ^] ^]";

std::string TCommandKey::Prompt() const {
    switch (state_) {
    case csPrefix: return "Ctrl+] ... (h lists the commands)";
    case csAsking: return question_ + answer_;
    case csIdle: break;
    }
    return message_;
}

TCommand TCommandKey::Key(const TTermKey& key, bool text_log, bool line_trace) {
    message_.clear();
    if (state_ == csIdle) {
        if (key.IsCharacter(kPrefix) && key.modifiers == 0) {
            state_ = csPrefix;
            return {};
        }
        const std::string bytes = TermKeyBytes(key);
        return bytes.empty() ? TCommand{} : TCommand{cmSend, bytes};
    }
    if (state_ == csPrefix) {
        state_ = csIdle;
        if (key.named) {
            if (key.key != nkEsc) message_ = "That is no command: Ctrl+] h lists them.";
            return {};
        }
        return Command(key.character, text_log, line_trace);
    }
    // A file name on the status row.
    if (key.IsCharacter(0x0D) || (key.named && key.key == nkEnter)) {
        state_ = csIdle;
        if (answer_.empty()) return {};
        return TCommand{asking_, std::exchange(answer_, {})};
    }
    if (key.IsCharacter(0x1B) || key.IsCharacter(0x03) || key.IsCharacter(0x07) ||
        (key.named && key.key == nkEsc)) {
        state_ = csIdle;
        answer_.clear();
        return {};
    }
    if (key.IsCharacter(0x08) || key.IsCharacter(0x7F) || (key.named && key.key == nkBackspace)) {
        while (!answer_.empty() && (static_cast<unsigned char>(answer_.back()) & 0xC0) == 0x80)
            answer_.pop_back();
        if (!answer_.empty()) answer_.pop_back();
        return {};
    }
    if (key.IsCharacter(0x15)) { // Ctrl+U: the whole answer
        answer_.clear();
        return {};
    }
    if (!key.named && key.character >= 0x20 && key.character != 0x7F)
        AppendUtf8(answer_, key.character);
    return {};
}

TCommand TCommandKey::Command(char32_t c, bool text_log, bool line_trace) {
    const auto ask = [this](TCommandKind kind, const char* question) {
        state_ = csAsking;
        asking_ = kind;
        question_ = question;
        answer_.clear();
        return TCommand{};
    };
    switch (c) {
    case 'q':
    case 'Q': return TCommand{cmQuit, ""};
    case 'r':
    case 'R': return TCommand{cmRefresh, ""};
    case 'd':
    case 'D': return TCommand{cmReboot, ""};
    case 'l':
    case 'L':
        if (text_log) return TCommand{cmTextLog, ""};
        return ask(cmTextLog, "Text log into the file: ");
    case 't':
    case 'T':
        if (line_trace) return TCommand{cmLineTrace, ""};
        return ask(cmLineTrace, "Line trace into the file: ");
    case 's':
    case 'S': return ask(cmSaveScreen, "Save the screen into the file (.ans: ANSI): ");
    case 'h':
    case 'H':
    case '?': message_ = kHelp; return {};
    case kPrefix: return TCommand{cmSend, TermKeyBytes(TTermKey::Character(kPrefix))};
    case 0x1B: return {};
    default: message_ = "That is no command: Ctrl+] h lists them."; return {};
    }
}
