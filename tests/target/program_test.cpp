// The quorvik-target program itself, in its own process, on pseudo-terminals: the line it
// prints, its batch runs' summary lines and exit codes.
#include "console_rig.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <csignal>
#include <spawn.h>

#include "fakes.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

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
    EXPECT_EQ(SummaryField(summary, "sectors"), "2880");
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
    EXPECT_EQ(SummaryField(summary, "writes_acked"), "8") << summary;
    EXPECT_NE(SummaryField(summary, "naks_sent"), "0") << summary;
    console.Stop();
    EXPECT_EQ(ReadFile(model), console.Image());
}

// The program in its own process with its stdout on a pipe.
struct TChild {
    pid_t pid = -1;
    FILE* out = nullptr;
    explicit TChild(std::vector<std::string> args) {
        args.insert(args.begin(), QUORVIK_TARGET_BIN);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int p[2];
        if (pipe(p) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        posix_spawn_file_actions_addclose(&fa, p[0]);
        if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        close(p[1]);
        out = fdopen(p[0], "r");
    }
    int Stop() {
        int status = -1;
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, &status, 0);
        }
        pid = -1;
        return status;
    }
    ~TChild() {
        Stop();
        if (out) fclose(out);
    }
};

TEST(TargetProgram, InteractiveScreenAsRecordedIsTheScreenTheConsoleShows) {
    const TFatImage img = MakeFatImage();
    const std::string record = img.dir + "/sent.bin";
    TChild child({"--print-events", "--record", record});
    ASSERT_GT(child.pid, 0);
    const std::string first = ReadLine(child.out);
    ASSERT_EQ(first.rfind("QUORVIK_COM1=", 0), 0u) << first;
    TConsoleRig console(img.bytes, true, 100, OpenConsoleSide(first.substr(13, first.size() - 14)));
    EXPECT_EQ(ReadLine(child.out), "connected image=1\n");
    console.SendKeys(Hex("1B 5B 42"));
    EXPECT_EQ(ReadLine(child.out), "key 1B 5B 42 Down\n");
    console.SendKeys(Hex("12"));
    EXPECT_EQ(ReadLine(child.out), "key 12 Refresh (or Ctrl-R)\n");
    EXPECT_EQ(ReadLine(child.out), "refresh\n");
    // Everything the program sent has reached the console before the program goes.
    const auto sent = ReadFile(record);
    EXPECT_TRUE(console.WaitReceived(int64_t(sent.size()), 10'000)) << sent.size();
    const int status = child.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ends quietly on SIGTERM";
    console.Stop();

    // The same bytes through a second console core: cell for cell the same screen.
    auto replay = std::make_unique<TCoreRig>();
    TCoreRig* r = replay.get();
    r->host.idle = [r] {
        if (r->link.queue.QueueEmpty()) r->link.stop_request = true;
    };
    replay->StepDeliver(sent);
    replay->Run();
    EXPECT_EQ(replay->screen.Cells(), console.Screen().Cells());
    EXPECT_NE(console.Screen().RowText(3).find("12   Refresh"), std::string::npos)
        << console.Screen().RowText(3);
}

TEST(TargetProgram, StatusQueryAloneTellsWhetherTheConsoleHasAnImage) {
    for (bool attached : {true, false}) {
        const TFatImage img = MakeFatImage();
        TChild child({"--status", "--wait-connect", "--time-limit", "30"});
        const std::string first = ReadLine(child.out);
        ASSERT_EQ(first.rfind("QUORVIK_COM1=", 0), 0u) << first;
        TConsoleRig console(img.bytes, attached, 100,
                            OpenConsoleSide(first.substr(13, first.size() - 14)));
        const std::string summary = ReadLine(child.out);
        EXPECT_EQ(SummaryField(summary, "result"), attached ? "image" : "no-image") << summary;
        int status = -1;
        waitpid(child.pid, &status, 0);
        child.pid = -1;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
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
