// What the screen shows, as text for the user: code page 437 mapped to Unicode and written as
// UTF-8, for the clipboard and for text files. The glyphs of codes 01-1F and 7F are their
// Unicode look-alikes (the pictures a PC's text screen shows), box drawing and blocks their
// Unicode counterparts; code 00 is a blank.
#pragma once

#include "screen.h"

#include <cstdint>
#include <string>

// The line end of text handed to the system and written to text files: CR LF on Windows, LF
// elsewhere.
extern const char* const kTextLineEnd;

// Appends the UTF-8 form of one code point (below 0x110000).
void AppendUtf8(std::string& out, char32_t c);
// Appends the UTF-8 form of one glyph.
void AppendGlyphUtf8(std::string& out, uint8_t code);

// The text of `count` cells of one row, trailing blanks (00, 20 and FF) left out.
std::string CellsText(const TCell* cells, int count);

// The whole screen: its rows' texts, each followed by `line_end` (the system's, or LF where a
// program reads it on any system), with the blank rows at the bottom left out.
std::string ScreenText(const TScreen& screen, const char* line_end = kTextLineEnd);

// The whole screen for an ANSI art viewer: code page 437 bytes, each row ended by CR LF, and
// ESC [ ... m before every change of colour (1 for a bright foreground, 5 for a bright
// background, as such viewers take it). Cells that a viewer would act on instead of showing
// (00, 0A, 0D, 1A, 1B) are written as blanks (00) or '.'; trailing blanks on black are left
// out; the file ends with ESC [ 0 m.
std::string ScreenAnsi(const TScreen& screen);
