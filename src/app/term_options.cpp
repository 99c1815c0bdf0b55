#include "term_options.h"

#include "command_line.h"
#include "fat_format.h"
#include "paste_queue.h"
#include "typed_text.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <regex>

namespace {

constexpr size_t kMaxPatternLength = 1000;

// Whether every number the regex compiler reads as one (a backreference \N, a repeat count
// {N,M}) has at most three digits: libstdc++'s std::regex overflows a long on longer ones
// (undefined behaviour), and a large repeat count makes a huge automaton.
bool PatternNumbersSmall(const std::string& pattern) {
    bool in_braces = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        bool number = false;
        if (c == '\\' && i + 1 < pattern.size()) {
            ++i;
            number = std::isdigit(static_cast<unsigned char>(pattern[i])) != 0;
        } else if (c == '{') {
            in_braces = true;
            continue;
        } else if (c == '}') {
            in_braces = false;
            continue;
        } else {
            number = in_braces && std::isdigit(static_cast<unsigned char>(c));
        }
        if (!number) continue;
        size_t digits = 1;
        while (i + 1 < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[i + 1]))) {
            ++i;
            if (++digits > 3) return false;
        }
    }
    return true;
}

std::string HelpText(bool windows) {
    std::string text =
        "Usage: quorvik-term [OPTION]... [STEP]...\n"
        "\n"
        "The console on a terminal, on the same core as the window: the target's\n"
        "80x25 screen in this terminal (over SSH too), or a scripted run that needs\n"
        "no terminal and no display. The line runs at 115200 baud, 8N1.\n"
        "\n"
        "Options:\n"
        "  --port NAME         what COM1 opens for this run: a serial device,\n"
        "                      COM7, tcp://HOST:PORT or rfc2217://HOST:PORT; without\n"
        "                      it, what COM1 opens in the window (QUORVIK_COM1, else\n";
    text += windows ? "                      the Windows port COM1)\n"
                    : "                      /dev/ttyS0)\n";
    text +=
        "  --image FILE|DIR    the floppy image served to the target, or a folder\n"
        "                      served as a FAT12 floppy built in memory; at the end\n"
        "                      what the target changed goes into a new folder beside\n"
        "                      it, DIR-from-target-YYYYMMDD-HHMMSS\n"
        "  --new-image FILE    write a blank formatted image to FILE, then serve it\n"
        "  --format NAME       its format: 360K 720K 1.2M 1.44M (default) 2.88M\n"
        "  --log FILE          the text log: every row that leaves the screen\n"
        "  --trace FILE        the line trace: every byte on the line, both ways\n"
        "  --screen            print the final screen's text on the standard output\n"
        "  --help, --version   print this or the version, and end\n"
        "\n"
        "Steps (a scripted run: in order after Connect, each within its time limit;\n"
        "disk requests are served all the while):\n"
        "  --expect TEXT       wait until TEXT shows on the screen, or in a row that\n"
        "                      scrolled past since the last expect matched\n"
        "  --expect-re REGEX   the same with an ECMAScript regular expression\n"
        "  --send TEXT         type TEXT as keystrokes, paced as a paste;\n"
        "                      escapes \\r \\n \\t \\e \\\\ \\xHH\n"
        "  --key NAME          one key: Enter Esc Tab Backspace Up Down Left Right\n"
        "                      Home End PgUp PgDn Ins Del F1..F12 Ctrl+X Alt+X,\n"
        "                      CtrlAltDel for the reboot code\n"
        "  --quiet MS          wait until the screen has not changed for MS ms\n"
        "  --timeout SECONDS   the time limit of the steps after it (default 30)\n"
        "  --save-screen FILE  the screen as text, or as ANSI for a name ending .ans\n"
        "  --script FILE       steps from a file, one a line, without \"--\":\n"
        "                        expect \"A:\\>\"   send \"dir\\r\"   key F1   timeout 60\n"
        "                      \"#\" starts a comment\n"
        "\n"
        "Exit status: 0 every step done (or the user quit), 1 a step ran past its\n"
        "time limit (the step and the screen go to the error output), 2 the port or\n"
        "the image could not be opened, 64 a usage error.\n"
        "\n";
    if (windows) {
        text +=
            "On Windows quorvik-term.exe runs scripts only: the terminal front end needs\n"
            "ncurses, which the Windows build does not have. See README.txt.\n";
    } else {
        text +=
            "Without steps, on a terminal: the target's screen, a status row below it\n"
            "(with 26 rows or more), and every key sent to the target. Ctrl+] then a\n"
            "key: q quit, r refresh, d reboot code, l text log, t line trace, s save\n"
            "screen, h help; Ctrl+] again sends Ctrl+]. See man quorvik-term.\n";
    }
    return text;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whole milliseconds from a number of seconds above 0 (a fraction allowed), at most a day.
bool ParseSeconds(const std::string& text, int* ms) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return false;
    const double seconds = std::stod(text);
    if (!(seconds > 0) || seconds > 86400) return false;
    *ms = static_cast<int>(std::ceil(seconds * 1000));
    return true;
}

bool ParseMilliseconds(const std::string& text, int* ms) {
    if (text.empty() || text.size() > 8 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *ms = std::stoi(text);
    return true;
}

// The step named `word` with its argument (without "--"); `timeout_ms` as in force. False
// with what is wrong. "timeout" changes the limit and adds no step.
bool AddStep(const std::string& word, const std::string& argument, int* timeout_ms,
             std::vector<TScriptStep>* steps, std::string* error) {
    TScriptStep step;
    step.argument = argument;
    step.timeout_ms = *timeout_ms;
    if (word == "timeout") {
        if (!ParseSeconds(argument, timeout_ms)) {
            *error = "timeout takes a number of seconds above 0 (at most 86400), not \"" +
                     argument + "\"";
            return false;
        }
        return true;
    }
    if (word == "expect") {
        step.kind = skExpect;
        if (!Unescape(argument, &step.text, error)) return false;
        if (step.text.empty()) {
            *error = "expect needs a text that is not empty";
            return false;
        }
    } else if (word == "expect-re") {
        step.kind = skExpectRe;
        step.text = argument;
        // std::regex compiles by recursion: fixed limits keep a pattern from taking the stack.
        if (argument.size() > kMaxPatternLength) {
            *error = "expect-re: a pattern of more than " + std::to_string(kMaxPatternLength) +
                     " characters";
            return false;
        }
        if (!PatternNumbersSmall(argument)) {
            *error = "expect-re: a repeat count or backreference above 999 in \"" + argument +
                     "\"";
            return false;
        }
        try {
            std::regex check(argument, std::regex::ECMAScript);
        } catch (const std::regex_error& e) {
            *error = "expect-re: \"" + argument + "\" is no regular expression: " + e.what();
            return false;
        }
    } else if (word == "send") {
        step.kind = skSend;
        if (!SendKeystrokes(argument, &step.keys, error)) return false;
    } else if (word == "key") {
        step.kind = skKey;
        if (!ParseKeyName(argument, &step.key, error)) return false;
    } else if (word == "quiet") {
        step.kind = skQuiet;
        if (!ParseMilliseconds(argument, &step.quiet_ms)) {
            *error = "quiet takes whole milliseconds, not \"" + argument + "\"";
            return false;
        }
    } else if (word == "save-screen") {
        step.kind = skSaveScreen;
        step.text = argument;
        if (argument.empty()) {
            *error = "save-screen needs a file name";
            return false;
        }
    } else {
        return false; // not a step: the caller says so
    }
    steps->push_back(std::move(step));
    return true;
}

bool IsStepWord(const std::string& word) {
    return word == "expect" || word == "expect-re" || word == "send" || word == "key" ||
           word == "quiet" || word == "save-screen" || word == "timeout";
}

} // namespace

std::string TScriptStep::Words() const {
    switch (kind) {
    case skExpect: return "expect " + Quoted(argument);
    case skExpectRe: return "expect-re " + Quoted(argument);
    case skSend: return "send " + Quoted(argument);
    case skKey: return "key " + argument;
    case skQuiet: return "quiet " + argument;
    case skSaveScreen: return "save-screen " + Quoted(argument);
    }
    return argument;
}

bool Unescape(std::string_view text, std::string* out, std::string* error) {
    out->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            *out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
        case 'r': *out += '\r'; break;
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        case 'e': *out += '\x1B'; break;
        case '\\': *out += '\\'; break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                *error = "\\x needs two hex digits in \"" + std::string(text) + "\"";
                return false;
            }
            *out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: // any other backslash stands for itself
            *out += '\\';
            *out += e;
            break;
        }
    }
    return true;
}

bool SendKeystrokes(std::string_view text, std::string* keys, std::string* error) {
    keys->clear();
    std::string plain; // text waiting to be typed by the paste's rules
    int skipped = 0;
    const auto flush = [&] {
        const TTypedText typed = TypeText(plain, SIZE_MAX);
        skipped += typed.skipped;
        *keys += typed.bytes;
        plain.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            plain += text[i];
            continue;
        }
        const char e = text[i + 1];
        std::string key;
        if (e == 'r' || e == 'n') key = NamedKeyBytes(nkEnter, 0);
        else if (e == 't') key = NamedKeyBytes(nkTab, 0);
        else if (e == 'e') key = NamedKeyBytes(nkEsc, 0);
        else if (e == 'x') {
            std::string byte;
            if (!Unescape(text.substr(i, 4), &byte, error)) return false;
            key = byte;
            i += 2;
        } else if (e == '\\') {
            plain += '\\';
            ++i;
            continue;
        } else {
            plain += '\\'; // stands for itself; the next character is taken as it comes
            continue;
        }
        flush();
        *keys += key;
        ++i;
    }
    flush();
    if (skipped > 0) {
        *error = "send \"" + std::string(text) + "\": " + std::to_string(skipped) +
                 (skipped == 1 ? " character" : " characters") +
                 " that no key types (write a control byte as \\xHH)";
        return false;
    }
    if (keys->size() > kPasteLimit) {
        *error = "send: more than 64 KiB of keystrokes in one step";
        return false;
    }
    return true;
}

bool SplitWords(std::string_view line, std::vector<std::string>* words, std::string* error) {
    words->clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') break;
        std::string word;
        if (c == '"' || c == '\'') {
            const char quote = c;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == quote) {
                    closed = true;
                    ++i;
                    break;
                }
                if (quote == '"' && line[i] == '\\' && i + 1 < line.size()) {
                    if (line[i + 1] == '"') {
                        word += '"';
                    } else {
                        word += '\\';
                        word += line[i + 1];
                    }
                    i += 2;
                    continue;
                }
                word += line[i++];
            }
            if (!closed) {
                *error = std::string("a ") + (quote == '"' ? "double" : "single") +
                         " quote is not closed";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word += line[i++];
        }
        words->push_back(std::move(word));
    }
    return true;
}

bool ParseScript(std::string_view text, const std::string& name, int* timeout_ms,
                 std::vector<TScriptStep>* steps, std::string* error) {
    int number = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        ++number;
        start = end + 1;
        std::vector<std::string> words;
        std::string what;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        if (!SplitWords(line, &words, &what)) {
            *error = where + what;
            return false;
        }
        if (words.empty()) continue;
        if (!IsStepWord(words[0])) {
            *error = where + "\"" + words[0] +
                     "\" is no step (expect, expect-re, send, key, quiet, timeout, save-screen)";
            return false;
        }
        if (words.size() != 2) {
            *error = where + words[0] + " takes one word (quote a text with blanks)";
            return false;
        }
        if (!AddStep(words[0], words[1], timeout_ms, steps, &what)) {
            *error = where + what;
            return false;
        }
    }
    return true;
}

TTermCommandLine ParseTermCommandLine(const std::vector<std::string>& arguments, bool windows,
                                      const TReadFile& read_file) {
    TTermCommandLine out;
    for (const std::string& a : arguments) {
        if (a == "--help") {
            out.action = taHelp;
            out.output = HelpText(windows);
            return out;
        }
        if (a == "--version") {
            out.action = taVersion;
            out.output = std::string("quorvik-term ") + kProgramVersion + "\n";
            return out;
        }
    }
    const auto usage = [&out](const std::string& what) {
        out.action = taUsage;
        out.output = "quorvik-term: " + what + " (see --help)\n";
        return out;
    };
    int timeout_ms = kDefaultStepTimeoutMs;
    TTermOptions& o = out.options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--screen") {
            o.print_screen = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) return usage("unexpected argument \"" + a + "\"");
        const std::string word = a.substr(2);
        const bool takes_value = IsStepWord(word) || word == "port" || word == "image" ||
                                 word == "new-image" || word == "format" || word == "log" ||
                                 word == "trace" || word == "script";
        if (!takes_value) return usage("unknown option " + a);
        if (i + 1 >= arguments.size()) return usage(a + " needs a value");
        const std::string& value = arguments[++i];
        if (value.empty() && !IsStepWord(word))
            return usage(a + " needs a value that is not empty");
        if (word == "port") o.port = value;
        else if (word == "image") o.image = value;
        else if (word == "new-image") o.new_image = value;
        else if (word == "format") {
            if (!FindFatFormat(value))
                return usage("--format takes one of " + FatFormatNames() + ", not \"" + value +
                             "\"");
            o.format = value;
        }
        else if (word == "log") o.text_log = value;
        else if (word == "trace") o.line_trace = value;
        else if (word == "script") {
            std::string text, reason;
            if (!read_file(value, &text, &reason))
                return usage("cannot read the script " + value + ": " + reason);
            std::string error;
            if (!ParseScript(text, value, &timeout_ms, &o.steps, &error)) return usage(error);
        } else {
            std::string error;
            if (!AddStep(word, value, &timeout_ms, &o.steps, &error)) return usage(error);
        }
    }
    if (!o.image.empty() && !o.new_image.empty())
        return usage("--image and --new-image name two floppies: give one");
    return out;
}

TRunMode ChooseRunMode(const TTermOptions& options, bool stdin_terminal, bool stdout_terminal,
                       bool terminal_front_end, std::string* error) {
    if (!options.steps.empty()) return rmScripted;
    if (!terminal_front_end) {
        *error = "quorvik-term: give steps (--expect, --send, --key, --script ...): this build "
                 "has no terminal front end (see --help)\n";
        return rmUsage;
    }
    if (stdin_terminal && stdout_terminal) return rmTerminal;
    *error = "quorvik-term: needs a terminal (stdin and stdout) or steps to run "
             "(see --help)\n";
    return rmUsage;
}
