// Text as keystrokes: the bytes that typing a text on the PC keyboard would send the target,
// for pasting. Taken from the key table, never from a table of its own:
//  - a printable ASCII character that a key (with or without Shift) gives, as itself;
//  - a line end (LF, CR LF or a lone CR) as the Enter key's byte, TAB as the Tab key's;
//  - a character shown by one of the code page's glyphs 80-FF (letters, box drawing, blocks,
//    symbols), which no key gives, as that glyph's code.
// Everything else is left out and counted: other control characters, the glyphs of codes
// 01-1F and 7F (their codes are control bytes that would act as keys, ESC among them),
// characters the code page cannot show, and bytes that are not UTF-8.
//
// Pure; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct TTypedText {
    std::string bytes; // one byte per keystroke, in the text's order
    int skipped = 0;   // characters left out
    bool too_long = false; // the text needs more than the limit's keystrokes; `bytes` is cut
};

// The keystrokes of a UTF-8 text, at most `limit` of them.
TTypedText TypeText(std::string_view utf8, size_t limit);
