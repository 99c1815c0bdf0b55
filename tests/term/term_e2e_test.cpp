// quorvik-term as a user runs it: scripted runs against the simulated target (on a
// pseudo-terminal, over raw TCP, through ser2net that restarts), their exit statuses, and the
// terminal front end in Debian's tmux (what the pane shows, the bytes its keys send, the
// command key, a terminal of 24 rows, the terminal given back after quitting and after a
// signal).
#include "fakes.h"
#include "pty_target.h"
#include "ser2net_rig.h"
#include "sim_target.h"
#include "test_dir.h"
#include "tmux_rig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <cstdlib>
#include <memory>

namespace {

using namespace std::chrono_literals;

struct TRun {
    int exit_code;
    std::string output; // standard output and error together
};

// quorvik-term with `args`, run to its end (at most `limit`).
TRun RunTerm(const std::vector<std::string>& args, std::chrono::milliseconds limit = 90s) {
    std::vector<std::string> argv = {QUORVIK_TERM_PROGRAM};
    argv.insert(argv.end(), args.begin(), args.end());
    TChildProcess term(argv);
    term.WaitForOutput([](const std::string&) { return false; }, limit);
    EXPECT_TRUE(term.Exited()) << "still running after the limit: " << term.Output();
    term.Stop();
    return TRun{term.ExitCode(), term.Output()};
}

// Waits until `done` holds, looking every 20 ms, up to `timeout`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        poll(nullptr, 0, 20);
    }
    return true;
}

// An image with one text file, in a folder of the test's own.
std::string ImageWithHello() {
    const std::string image = TestPath("hello.img");
    const std::string hello = TestPath("HELLO.TXT");
    const std::string cmd = "printf 'Hello from the floppy\\r\\n' > " + hello +
                            " && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -C -F 12 -n TERM " + image +
                            " 1440 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + image + " " +
                            hello + " ::/";
    if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot make " + image);
    return image;
}

} // namespace

TEST(TermScripted, ABootedTargetIsDrivenAndItsScreenKeptOverAPty) {
    const std::string image = ImageWithHello();
    TSimTarget target({"--time-limit", "120"});
    const TRun run = RunTerm({"--port", target.Line(), "--image", image, "--log",
                              TestPath("log.txt"), "--trace", TestPath("trace.txt"), "--expect",
                              "Command>", "--send", "type HELLO.TXT\\r", "--expect",
                              "Hello from the floppy", "--send", "dir\\r", "--expect-re",
                              "HELLO +TXT", "--save-screen", TestPath("screen.txt"),
                              "--save-screen", TestPath("screen.ans"), "--screen"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_NE(run.output.find("Quorvik target simulator"), std::string::npos) << run.output;
    const std::string saved = ReadFileText(TestPath("screen.txt"));
    EXPECT_NE(saved.find("HELLO    TXT"), std::string::npos) << saved;
    EXPECT_NE(saved.find("\u2554\u2550 Status"), std::string::npos) << saved; // box drawing
    EXPECT_EQ(ReadFileText(TestPath("screen.ans")).rfind("\x1B[", 0), 0u);
    EXPECT_NE(ReadFileText(TestPath("trace.txt")).find("connected: COM1 is " + target.Line()),
              std::string::npos);
    EXPECT_NE(ReadFileText(TestPath("log.txt")).find("Hello from the floppy"), std::string::npos);
}

TEST(TermScripted, WritesLandInTheImageWhileStepsWait) {
    const std::string image = ImageWithHello();
    const std::string model = TestPath("model.img");
    ASSERT_EQ(std::system(("cp " + image + " " + model).c_str()), 0);
    TSimTarget target({"--write-random", "30", "--seed", "5", "--model", model, "--wait-connect",
                       "--time-limit", "120"});
    // The target hangs up when it is done; the console says so on its screen.
    const TRun run =
        RunTerm({"--port", target.Line(), "--image", image, "--timeout", "100", "--expect",
                 "went away; waiting for it"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(target.Summary()["result"], "ok") << target.Output();
    EXPECT_EQ(target.Summary()["writes_acked"], "30");
    EXPECT_TRUE(FileBytes(image) == FileBytes(model)) << "the image differs from the writes";
}

TEST(TermScripted, OverRawTcpWithoutPortAsCom1OpensInTheWindow) {
    TSimTarget target({"--listen", "127.0.0.1:0", "--time-limit", "120"}); // sets QUORVIK_COM1
    const TRun run = RunTerm({"--expect", "Command>", "--key", "F5", "--send", "dir\\r",
                              "--expect", "No floppy image"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
}

TEST(TermScripted, ATimedOutExpectExitsOneNamingTheStepWithTheScreen) {
    TSimTarget target({"--time-limit", "120"});
    const TRun run = RunTerm({"--port", target.Line(), "--expect", "Command>", "--timeout", "1",
                              "--expect", "NEVER SHOWN"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("quorvik-term: step 2 (expect \"NEVER SHOWN\") ran past its time "
                              "limit of 1 s\nThe screen:\n"),
              std::string::npos)
        << run.output;
    // Without --screen nothing goes to the standard output: the screen came with the error.
    EXPECT_NE(run.output.find("Quorvik target simulator"), std::string::npos) << run.output;
}

TEST(TermScripted, APortOrAnImageThatCannotBeOpenedExitsTwoWithTheReason) {
    const TRun port = RunTerm({"--port", TestPath("no-such-device"), "--expect", "x"});
    EXPECT_EQ(port.exit_code, 2);
    EXPECT_NE(port.output.find("quorvik-term: Error Opening COM\nCOM1 is " +
                               TestPath("no-such-device")),
              std::string::npos)
        << port.output;
    EXPECT_NE(port.output.find("No such file or directory"), std::string::npos);

    TPtyTarget line;
    const TRun image = RunTerm({"--port", line.SlavePath(), "--image", TestPath("none.img"),
                                "--expect", "x"});
    EXPECT_EQ(image.exit_code, 2);
    EXPECT_NE(image.output.find("quorvik-term: Can not open image file " + TestPath("none.img") +
                                ": No such file or directory"),
              std::string::npos)
        << image.output;
    const TRun usage = RunTerm({"--port", line.SlavePath()}); // no steps, no terminal
    EXPECT_EQ(usage.exit_code, 64);
    EXPECT_NE(usage.output.find("needs a terminal"), std::string::npos);
}

TEST(TermScripted, APortThatGoesAwayDuringAStepIsWaitedFor) {
    if (!Ser2netInstalled()) GTEST_SKIP() << "ser2net is not installed";
    TSimTarget target({"--print-events", "--time-limit", "120"});
    TSer2net server(target.Line(), false);
    TChildProcess term({QUORVIK_TERM_PROGRAM, "--port", server.Url(), "--expect", "Command>",
                        "--send", "x", "--timeout", "30", "--expect", "COM1 is back", "--send",
                        "\\r", "--expect", "Unknown command"});
    ASSERT_TRUE(WaitUntil([&] { return target.Output().find("key 78") != std::string::npos; },
                          30s))
        << term.Output() << target.Output();
    server.Stop(); // the console server restarts, as an administrator's would
    server.Start();
    term.WaitForOutput([](const std::string&) { return false; }, 60s);
    ASSERT_TRUE(term.Exited()) << term.Output();
    EXPECT_EQ(term.ExitCode(), 0) << term.Output();
}

class TermFrontEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (!TmuxInstalled()) GTEST_SKIP() << "tmux is not installed";
    }
    // The pane: quorvik-term on `line`, then its exit status and the terminal's modes.
    static std::string Command(const std::string& line) {
        return std::string("env LANG=C.UTF-8 ") + QUORVIK_TERM_PROGRAM + " --port " + line +
               "; echo EXIT=$?; stty -a; exec sleep 600";
    }
    // The terminal is as the shell had it: termios, screen, keypad mode and cursor.
    static void ExpectRestored(TTmux& tmux) {
        const std::string pane = tmux.Capture();
        EXPECT_NE(pane.find(" icanon "), std::string::npos) << pane;
        EXPECT_NE(pane.find(" echo "), std::string::npos) << pane;
        EXPECT_EQ(tmux.Format("#{alternate_on} #{keypad_cursor_flag} #{cursor_flag}"), "0 0 1");
    }
};

TEST_F(TermFrontEnd, TheTargetsScreenItsKeysAndCtrlBracketQ) {
    TSimTarget target({"--print-events", "--time-limit", "120"});
    TTmux tmux(80, 26, Command(target.Line()));
    ASSERT_TRUE(tmux.WaitFor("Command>", 20s)) << tmux.Capture();
    const std::string pane = tmux.Capture();
    EXPECT_NE(pane.find(" Quorvik target simulator"), std::string::npos) << pane;
    EXPECT_NE(pane.find("\u2554\u2550 Status \u2550"), std::string::npos) << pane;
    EXPECT_NE(pane.find("COM1 is " + target.Line() + " (chosen for this run)  no image"),
              std::string::npos)
        << pane;
    // Key by key group: the target reports Enter only after it has run the command.
    const std::vector<std::pair<std::vector<std::string>, std::string>> keys = {
        {{"d", "i", "r"}, "dir"}, {{"Enter"}, "\r"},   {{"Up", "F1"}, "\x1B[A\x1B" "1"},
        {{"C-c", "M-a"}, "\x03" "a"}, {{"Escape"}, "\x1B"}, {{"C-]", "C-]"}, "\x1D"},
        {{"PPage", "F12"}, "\x1B?\x1B@"}};
    std::string sent;
    for (const auto& [names, bytes] : keys) {
        tmux.SendKeys(names);
        sent += bytes;
        WaitUntil([&] { return KeysReported(target.Output()).size() >= sent.size(); }, 20s);
    }
    EXPECT_EQ(ToHex(Bytes(KeysReported(target.Output()))), ToHex(Bytes(sent)));
    EXPECT_TRUE(tmux.WaitFor("No floppy image", 10s)) << tmux.Capture(); // dir's answer

    tmux.SendKeys({"C-]", "h"});
    EXPECT_TRUE(tmux.WaitFor("^] then: q quit", 10s)) << tmux.Capture();
    tmux.SendKeys({"C-]", "q"});
    ASSERT_TRUE(tmux.WaitFor("EXIT=0", 20s)) << tmux.Capture();
    ExpectRestored(tmux);
}

TEST_F(TermFrontEnd, A24RowTerminalShowsTheRowsAroundTheCursorAndASignalRestoresIt) {
    TPtyTarget line;
    TTmux tmux(80, 24, Command(line.SlavePath()));
    ASSERT_TRUE(tmux.WaitFor("Showing the 24 rows around the cursor of 25", 20s))
        << tmux.Capture();
    // The target draws its top and bottom rows and leaves the cursor on the bottom one.
    line.Send("\x1B[2J\x1B[1;1HTOP ROW\x1B[2;1HSECOND ROW\x1B[25;1HBOTTOM ROW");
    ASSERT_TRUE(tmux.WaitFor("BOTTOM ROW", 10s)) << tmux.Capture();
    tmux.SendKeys({"x"}); // a key for the target; the notice goes
    EXPECT_TRUE(WaitUntil([&] { return line.Received().find('x') != std::string::npos; }, 10s));
    ASSERT_TRUE(tmux.WaitFor("SECOND ROW", 10s));
    ASSERT_FALSE(tmux.WaitFor("Showing the", 200ms)) << tmux.Capture();
    std::string pane = tmux.Capture();
    EXPECT_EQ(pane.rfind("SECOND ROW\n", 0), 0u) << pane; // rows 2 to 25 of the target
    EXPECT_EQ(pane.find("TOP ROW"), std::string::npos) << pane;
    EXPECT_NE(pane.find("\nBOTTOM ROW\n"), std::string::npos) << pane;
    EXPECT_EQ(tmux.Format("#{cursor_y} #{cursor_x}"), "23 10");

    const int pid = tmux.ChildPid();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(tmux.WaitFor("EXIT=143", 20s)) << tmux.Capture();
    ExpectRestored(tmux);
}

TEST(TermFloppy, AFolderIsServedAndANewBlankImageIsWrittenAndServed) {
    namespace fs = std::filesystem;
    const std::string folder = TestPath("Project");
    fs::create_directory(folder);
    std::ofstream(folder + "/Release notes.txt") << "first build\r\n";
    {
        TSimTarget target({"--time-limit", "120"});
        const TRun run = RunTerm({"--port", target.Line(), "--image", folder, "--expect",
                                  "Command>", "--send", "dir\\r", "--expect", "RELEAS~1 TXT"});
        EXPECT_EQ(run.exit_code, 0) << run.output;
    }
    {
        TSimTarget target({"--time-limit", "120"});
        const std::string blank = TestPath("blank.img");
        const TRun run = RunTerm({"--port", target.Line(), "--new-image", blank, "--format",
                                  "720K", "--expect", "Command>", "--send", "dir\\r",
                                  "--expect", "0 file(s), 0 bytes", "--expect",
                                  "80 cyl, 2 hd, 9 sec"});
        EXPECT_EQ(run.exit_code, 0) << run.output;
        EXPECT_EQ(fs::file_size(blank), 737280u);
    }
    // A name FAT cannot hold: nothing is served, and the run ends as for an unopenable image.
    std::ofstream(folder + "/a|b.txt") << "x";
    TSimTarget target({"--time-limit", "120"});
    const TRun refused = RunTerm({"--port", target.Line(), "--image", folder, "--expect", "x"});
    EXPECT_EQ(refused.exit_code, 2) << refused.output;
    EXPECT_NE(refused.output.find("a|b.txt"), std::string::npos) << refused.output;
}

TEST(TermFloppy, WhatTheTargetChangedOnAFolderIsKeptBesideItAndTheFolderIsNotTouched) {
    namespace fs = std::filesystem;
    const std::string folder = TestPath("Shared");
    fs::create_directory(folder);
    std::ofstream(folder + "/NOTES.TXT") << "from the PC\r\n";
    // The target's "after" state, made by mtools: the notes changed, a new file.
    const std::string after = TestPath("after.img");
    const std::string cmd =
        "cd " + TestDir() + " && printf 'from the target\\r\\n' > NOTES.TXT && printf 'new\\r\\n' >"
        " LOG.TXT && PATH=$PATH:/usr/sbin:/sbin mkfs.fat -C -F 12 " + after + " 1440 >/dev/null"
        " && MTOOLS_SKIP_CHECK=1 mcopy -i " + after + " NOTES.TXT LOG.TXT ::/";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    TSimTarget target({"--write-from", after, "--wait-connect", "--time-limit", "120"});
    const TRun run = RunTerm({"--port", target.Line(), "--image", folder, "--timeout", "100",
                              "--expect", "went away; waiting for it"});
    EXPECT_EQ(run.exit_code, 0) << run.output;
    EXPECT_EQ(target.Summary()["result"], "ok") << target.Output();
    std::vector<fs::path> kept;
    for (const auto& entry : fs::directory_iterator(TestDir()))
        if (entry.path().filename().string().rfind("Shared-from-target-", 0) == 0)
            kept.push_back(entry.path());
    ASSERT_EQ(kept.size(), 1u) << run.output;
    EXPECT_EQ(ReadFileText((kept[0] / "NOTES.TXT").string()), "from the target\r\n");
    EXPECT_EQ(ReadFileText((kept[0] / "LOG.TXT").string()), "new\r\n");
    EXPECT_EQ(ReadFileText(folder + "/NOTES.TXT"), "from the PC\r\n");
    EXPECT_NE(run.output.find("quorvik-term: The target's changes"), std::string::npos)
        << run.output;
}
