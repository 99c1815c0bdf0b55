// What the program does with its command line. It takes no arguments; as packaged programs
// do, it answers --version and --help and ends, and it names any other argument in one line
// on the error output and starts as always.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern const char* const kProgramVersion; // "1.0.0", from the build's project version

enum TStartAction : uint8_t {
    saRun,     // start the window
    saVersion, // print `output` and end with exit code 0
    saHelp,    // the same
};

struct TStartup {
    TStartAction action = saRun;
    std::string output;  // for the standard output, ending in a newline
    std::string warning; // for the error output, one line, or ""
};

// `arguments` without the program's name. `windows` chooses the Windows wording (COM names,
// README.txt) over the Linux one (QUORVIK_COMn, the man page).
TStartup ParseCommandLine(const std::vector<std::string>& arguments, bool windows);
