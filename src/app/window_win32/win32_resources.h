// Resource numbers shared by the program's resource script and its code.
#pragma once

// The VGA text font (RCDATA), loaded privately where the system has no "Terminal" font.
#define QUORVIK_VGA_FONT 101
