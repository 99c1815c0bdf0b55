#include "console_menu.h"

std::vector<TMenuEntry> FloppyMenuEntries(bool connected, bool folder) {
    return {
        {fcFolder, "Folder as floppy...", !connected},
        {fcNewBlank, "New blank image...", !connected},
        {fcImageFile, "Image file...", !connected},
        {},
        {fcSaveImage, "Save floppy as image...", folder},
    };
}

std::vector<TMenuEntry> ConsoleMenuEntries(const TConsoleMenuState& state) {
    return {
        {ccCopy, "Copy", state.has_selection || state.has_text},
        {ccPaste, "Paste", state.connected && !state.pasting},
        {ccSelectAll, "Select all", state.has_text},
        {},
        {ccSaveText, "Save screen as text...", true},
        {ccSaveAnsi, "Save screen as ANSI...", true},
        {ccSavePng, "Save screen as PNG...", true},
        {},
        state.text_log ? TMenuEntry{ccStopTextLog, "Stop text log", true}
                       : TMenuEntry{ccStartTextLog, "Start text log...", true},
        state.line_trace ? TMenuEntry{ccStopLineTrace, "Stop line trace", true}
                         : TMenuEntry{ccStartLineTrace, "Start line trace...", true},
        {},
        {ccStopPaste, "Stop paste", state.pasting},
    };
}
