// The console area's context menu: its commands and which of them are enabled, decided from
// the state of the session alone.
#pragma once

#include "form_view.h"

#include <vector>

// The commands of the console area's context menu, in the menu's order.
enum TConsoleCommand : int {
    ccCopy,           // the selection, or the whole screen when nothing is selected
    ccPaste,          // the clipboard's text as keystrokes
    ccSelectAll,      // history and screen
    ccSaveText,       // the screen as UTF-8 text
    ccSaveAnsi,       // the screen as code page 437 bytes with colour sequences
    ccSavePng,        // the screen as a picture at its natural size
    ccStartTextLog,   // asks for a file, then logs the rows that leave the screen
    ccStopTextLog,
    ccStartLineTrace, // asks for a file, then traces every byte on the line
    ccStopLineTrace,
    ccStopPaste,
};

// What the console's context menu offers depends on this, and on nothing else.
struct TConsoleMenuState {
    bool has_selection = false;
    bool has_text = false;   // the screen or the history shows something
    bool connected = false;
    bool pasting = false;
    bool text_log = false;   // a text log runs
    bool line_trace = false; // a line trace runs
};

// The commands of the "Floppy..." box's context menu, in the menu's order.
enum TFloppyCommand : int {
    fcFolder,    // a folder chosen as the floppy, built into an image at Connect
    fcNewBlank,  // a format and label asked, then a file: a blank image written and chosen
    fcImageFile, // the check box's own dialog
    fcSaveImage, // the folder's floppy written to an image file
};

// The entries of the "Floppy..." box's menu: the three choices while not connected, and
// "Save floppy as image..." while a folder is chosen or was served.
std::vector<TMenuEntry> FloppyMenuEntries(bool connected, bool folder);

// The entries of the console's context menu, in their order, with which are enabled: Copy and
// Select all when there is something to take; Paste while connected and no paste runs, Stop
// paste while one runs; the saves and the logs at any time (a text log ends at Disconnect, a
// line trace runs on until stopped).
std::vector<TMenuEntry> ConsoleMenuEntries(const TConsoleMenuState& state);
