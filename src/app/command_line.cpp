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
    text += std::string("COMn opens what QUORVIK_COMn names if set, else ") +
            (windows ? "the Windows port COMn" : "/dev/ttyS(n-1)") +
            ":\n"
            "a serial port, tcp://HOST:PORT (raw TCP) or rfc2217://HOST:PORT, e.g.\n" +
            (windows ? "  set QUORVIK_COM1=COM7\n" : "  QUORVIK_COM1=/dev/ttyUSB0 quorvik\n") +
            "A right click on the COM items chooses a port for this run; a right click\n"
            "on the console opens its menu (copy, paste, save, logs).\n"
            "The program keeps no settings. See " +
            (windows ? "README.txt beside quorvik.exe" : "man quorvik") + ".\n";
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
