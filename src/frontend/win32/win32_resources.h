// Resource numbers shared by the program's resource script and its code.
#pragma once

// The program's icon (the shell shows the first icon of the file).
#define QUORVIK_ICON 1
// The VGA text font (RCDATA), loaded privately where the system has no "Terminal" font.
#define QUORVIK_VGA_FONT 101
