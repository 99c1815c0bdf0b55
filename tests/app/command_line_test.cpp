// The program's command line: --version and --help end it, anything else starts the window
// with one line of warning.
#include "command_line.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(CommandLine, NoArgumentsStartTheWindowSilently) {
    for (bool windows : {false, true}) {
        const TStartup s = ParseCommandLine({}, windows);
        EXPECT_EQ(s.action, saRun);
        EXPECT_EQ(s.output, "");
        EXPECT_EQ(s.warning, "");
    }
}

TEST(CommandLine, VersionAndHelpPrintAndEndWhereverTheyStand) {
    const TStartup version = ParseCommandLine({"--version"}, false);
    EXPECT_EQ(version.action, saVersion);
    EXPECT_EQ(version.output, std::string("quorvik ") + kProgramVersion + "\n");
    EXPECT_EQ(version.warning, "");
    EXPECT_EQ(std::string(kProgramVersion).find_first_not_of("0123456789."), std::string::npos);

    const TStartup help = ParseCommandLine({"extra", "--help", "--version"}, false);
    EXPECT_EQ(help.action, saHelp);
    EXPECT_EQ(help.output.rfind("Usage: quorvik [--help | --version]\n", 0), 0u);
    EXPECT_NE(help.output.find("QUORVIK_COMn"), std::string::npos);
    EXPECT_NE(help.output.find("man quorvik"), std::string::npos);
    EXPECT_EQ(help.warning, "");
    EXPECT_EQ(ParseCommandLine({"x", "--version"}, true).action, saVersion);

    const std::string windows = ParseCommandLine({"--help"}, true).output;
    EXPECT_NE(windows.find("README.txt"), std::string::npos);
    EXPECT_NE(windows.find("set QUORVIK_COM1=COM7"), std::string::npos); // read there too
    EXPECT_EQ(windows.find("/dev/"), std::string::npos);
    for (const std::string& text : {help.output, windows}) {
        EXPECT_EQ(text.back(), '\n');
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    }
}

TEST(CommandLine, AnyOtherArgumentIsNamedInOneLineAndTheWindowStarts) {
    const TStartup one = ParseCommandLine({"-v"}, false);
    EXPECT_EQ(one.action, saRun);
    EXPECT_EQ(one.output, "");
    EXPECT_EQ(one.warning,
              "quorvik: the program takes no arguments (see man quorvik); ignoring \"-v\"\n");
    const TStartup many = ParseCommandLine({"COM3", "image.img"}, true);
    EXPECT_EQ(many.action, saRun);
    EXPECT_EQ(many.warning, "quorvik: the program takes no arguments (see README.txt); "
                            "ignoring \"COM3\" and the rest\n");
    EXPECT_EQ(std::count(many.warning.begin(), many.warning.end(), '\n'), 1);
}
