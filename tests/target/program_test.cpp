// The quorvik-target program itself, in its own process, on pseudo-terminals: the line it
// prints, its batch runs' summary lines and exit codes.
#include "console_rig.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string Field(const std::string& summary, const std::string& key) {
    const std::string k = " " + key + "=";
    const size_t at = summary.find(k);
    if (at == std::string::npos) return "<missing>";
    const size_t from = at + k.size();
    return summary.substr(from, summary.find_first_of(" \n", from) - from);
}

std::string ReadLine(FILE* f) {
    char buf[2048];
    return std::fgets(buf, sizeof buf, f) ? std::string(buf) : std::string();
}

// A console end on a terminal: raw, as the console's serial component leaves it.
int OpenConsoleSide(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    termios t{};
    if (fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

} // namespace

TEST(TargetProgram, OnItsOwnPtyItPrintsThePathAndReadsTheWholeImage) {
    const TFatImage img = MakeFatImage();
    const std::string cmd = std::string(QUORVIK_TARGET_BIN) + " --read-all --expect " + img.path +
                            " --wait-connect --time-limit 60 --quiet-ms 50";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    const std::string first = ReadLine(f);
    ASSERT_EQ(first.rfind("QUORVIK_COM1=/dev/pts/", 0), 0u) << first;
    const std::string path = first.substr(13, first.size() - 14);
    const int fd = OpenConsoleSide(path);
    ASSERT_GE(fd, 0) << path;
    TConsoleRig console(img.bytes, true, 100, fd);
    const std::string summary = ReadLine(f);
    const int status = pclose(f);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << summary;
    EXPECT_EQ(summary.rfind("summary mode=read-all result=ok ", 0), 0u) << summary;
    EXPECT_EQ(Field(summary, "sectors"), "2880");
    std::printf("measured on a pty against the main cycle: %s", summary.c_str());
}

TEST(TargetProgram, OnAGivenDeviceWritesLandAndTheModelFollows) {
    const TFatImage img = MakeFatImage();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slave = ptsname(master);
    TConsoleRig console(img.bytes, true, 100, master);
    const std::string model = img.dir + "/model.img";
    WriteFile(model, img.bytes);
    const std::string cmd = std::string(QUORVIK_TARGET_BIN) + " --device " + slave +
                            " --baud 115200 --write-random 8 --seed 5 --model " + model +
                            " --no-readback --nak-every 5 --wait-connect --time-limit 60";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    const std::string summary = ReadLine(f);
    const int status = pclose(f);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << summary;
    EXPECT_EQ(Field(summary, "writes_acked"), "8") << summary;
    EXPECT_NE(Field(summary, "naks_sent"), "0") << summary;
    console.Stop();
    EXPECT_EQ(ReadFile(model), console.Image());
}

TEST(TargetProgram, BadCommandLineExits64WithTheUsage) {
    const std::string cmd = std::string(QUORVIK_TARGET_BIN) + " --read-all 2>&1";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    const std::string first = ReadLine(f);
    while (!ReadLine(f).empty()) {
    }
    const int status = pclose(f);
    EXPECT_EQ(first, "quorvik-target: --read-all needs --expect FILE\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 64);
}
