#include "command_line.h"

#include "quorvik_version.h"

const char* const kProgramVersion = QUORVIK_VERSION;

namespace {

std::string HelpText(bool windows) {
    std::string text =
        "Usage: quorvik [--help | --version]\n"
        "\n"
        "A console for an x86 target computer on a serial line: its 80x25 text\n"
        "screen, the PC's keys sent to it, and a floppy image file served to it.\n"
        "\n"
        "Pick COM1 or COM2, tick \"Floppy...\" to choose an image (*.img, *.ima),\n"
        "then press Connect. The line runs at 115200 baud, 8 data bits, no parity,\n"
        "one stop bit.\n"
        "\n";
    if (windows) {
        text += "COM1 and COM2 open the Windows ports of those names. The program keeps no\n"
                "settings. See README.txt beside quorvik.exe.\n";
    } else {
        text += "COMn opens the device in QUORVIK_COMn if set, else /dev/ttyS(n-1), e.g.\n"
                "  QUORVIK_COM1=/dev/ttyUSB0 quorvik\n"
                "The program keeps no settings. See man quorvik.\n";
    }
    return text;
}

} // namespace

TStartup ParseCommandLine(const std::vector<std::string>& arguments, bool windows) {
    TStartup startup;
    for (const std::string& a : arguments) {
        if (a == "--help") {
            startup.action = saHelp;
            startup.output = HelpText(windows);
            return startup;
        }
    }
    for (const std::string& a : arguments) {
        if (a == "--version") {
            startup.action = saVersion;
            startup.output = std::string("quorvik ") + kProgramVersion + "\n";
            return startup;
        }
    }
    if (!arguments.empty()) {
        startup.warning = "quorvik: the program takes no arguments (see " +
                          std::string(windows ? "README.txt" : "man quorvik") + "); ignoring \"" +
                          arguments.front() + "\"" +
                          (arguments.size() > 1 ? " and the rest" : "") + "\n";
    }
    return startup;
}
