// The whole program against the simulated target: the real window (offscreen), the real serial
// component on a pseudo-terminal, and quorvik-target in its own process.
#include "e2e_fixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

TEST_F(EndToEnd, TheStatusQueryIsAnsweredWithOrWithoutAnImage) {
    {
        TSimTarget target({"--status", "--wait-connect", "--time-limit", "60"});
        EXPECT_EQ(ServeUntilExit(target), std::vector<std::string>{});
        EXPECT_EQ(target.Summary()["result"], "no-image") << target.Output();
    }
    AttachImage(MakeImage("status.img", 1440));
    TSimTarget target({"--status", "--wait-connect", "--time-limit", "60"});
    EXPECT_EQ(ServeUntilExit(target), std::vector<std::string>{});
    EXPECT_EQ(target.Summary()["result"], "image") << target.Output();
}

class EndToEndFaults : public EndToEnd, public testing::WithParamInterface<std::vector<std::string>> {
};

TEST_P(EndToEndFaults, TheConsoleSurvivesAndTheImageEqualsTheAcknowledgedWrites) {
    const std::string image = MakeImage("fault.img", 720);
    const std::string model = CopyOf(image);
    AttachImage(image);
    // The console drops what follows a fault at once, so the simulator need not keep quiet long
    // before it tries again.
    std::vector<std::string> args = {"--write-random", "12", "--seed", "3", "--model", model,
                                     "--wait-connect", "--time-limit", "150", "--quiet-ms", "60"};
    args.insert(args.end(), GetParam().begin(), GetParam().end());
    TSimTarget target(args);
    EXPECT_EQ(ServeUntilExit(target, 170s), std::vector<std::string>{});
    EXPECT_EQ(target.ExitCode(), 0) << target.Output();
    EXPECT_EQ(target.Summary()["result"], "ok") << target.Output();
    EXPECT_TRUE(FileBytes(image) == FileBytes(model));
    // After the faults the console still serves a plain request.
    TSimTarget check({"--status", "--wait-connect", "--time-limit", "60"});
    EXPECT_EQ(ServeUntilExit(check), std::vector<std::string>{});
    EXPECT_EQ(check.Summary()["result"], "image");
}

INSTANTIATE_TEST_SUITE_P(
    EachFault, EndToEndFaults,
    testing::Values(std::vector<std::string>{"--nak-every", "3"},
                    std::vector<std::string>{"--corrupt-every", "4"},
                    std::vector<std::string>{"--garbage", "64"},
                    std::vector<std::string>{"--stall-ms", "2500"},
                    std::vector<std::string>{"--stall-ms", "5000"},
                    std::vector<std::string>{"--off-disk"}));

TEST_F(EndToEnd, ASecondHolderOfThePortIsRefusedAndTheFirstServesOn) {
    const std::string image = MakeImage("second.img", 720);
    const std::string model = CopyOf(image);
    AttachImage(image);
    bool second_opened = true, lock_taken = true;
    {
        TSimTarget target({"--write-random", "12", "--seed", "9", "--model", model,
                           "--wait-connect", "--time-limit", "120"});
        TStepper steps;
        steps
            .Then(
                "connected", [&] { return window->Link().ReceivedCount() > 0; },
                [&] {
                    TComm second(nullptr); // another instance of the program, root or not
                    second.SetDeviceName("COM1");
                    second.Open();
                    second_opened = second.Enabled();
                    // a terminal program that locks the device as it opens it
                    const int fd =
                        open(std::getenv("QUORVIK_COM1"), O_RDWR | O_NOCTTY | O_NONBLOCK);
                    lock_taken = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
                    if (fd >= 0) close(fd);
                })
            .Then(
                "the simulator to finish", [&] { return target.Exited(); },
                [&] { window->CloseComClick(); }, 120s);
        EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
        EXPECT_EQ(target.Summary()["result"], "ok") << target.Output();
    }
    EXPECT_FALSE(second_opened);
    EXPECT_FALSE(lock_taken);
    EXPECT_TRUE(FileBytes(image) == FileBytes(model));

    // The other way round: a terminal program holds the port, and Connect is refused.
    TSimTarget target({"--status", "--time-limit", "5"});
    const int fd = open(std::getenv("QUORVIK_COM1"), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    std::vector<std::string> boxes;
    TConDos::message_box_hook = [&](const QString& text) { boxes.push_back(text.toStdString()); };
    // Should the port open after all, end the connection rather than hang the test.
    QTimer::singleShot(5000, window.get(), [&] {
        if (window->MainCycleRunning()) window->CloseComClick();
    });
    window->OpenComClick();
    close(fd);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, 18), "Error Opening COM\n");
    EXPECT_NE(boxes[0].find("Another program holds the port"), std::string::npos) << boxes[0];
    EXPECT_TRUE(window->Connect->isEnabled());
}

TEST_F(EndToEnd, AnImageDeletedOrReplacedWhileAttachedTakesNoWrites) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "deleted");
        const std::string image = MakeImage(replace ? "replaced.img" : "deleted.img", 720);
        const std::string model = CopyOf(image);
        if (window->EnaFloppy->isChecked()) window->EnaFloppy->click(); // drop the last pick
        AttachImage(image);
        {
            TSimTarget target({"--write-random", "6", "--seed", "13", "--model", model,
                               "--wait-connect", "--time-limit", "60"});
            TStepper steps;
            steps
                .Do("take the file away",
                    [&] {
                        if (replace) {
                            std::rename(image.c_str(), (image + ".old").c_str());
                            EXPECT_EQ(std::system(("cp " + image + ".old " + image).c_str()), 0);
                        } else {
                            std::remove(image.c_str());
                        }
                    })
                .Then(
                    "the simulator to finish", [&] { return target.Exited(); },
                    [&] { window->CloseComClick(); }, 60s);
            EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
            EXPECT_EQ(target.Summary()["result"], "disk-error") << target.Output();
        }
        std::string screen;
        for (int row = 0; row < kScreenRows; ++row)
            screen += window->Screen().RowText(row);
        EXPECT_NE(screen.find("Image file was deleted or replaced"), std::string::npos);
        if (replace) { // a write that came before the file was taken away is in both
            EXPECT_TRUE(FileBytes(image) == FileBytes(model));
            EXPECT_TRUE(FileBytes(image + ".old") == FileBytes(model));
        }
        // The console goes on serving.
        TSimTarget check({"--status", "--wait-connect", "--time-limit", "60"});
        EXPECT_EQ(ServeUntilExit(check), std::vector<std::string>{});
        EXPECT_EQ(check.Summary()["result"], replace ? "image" : "no-image");
    }
}

TEST_F(EndToEnd, AFileSizeLimitBelowTheImageFailsWritesPastItWithoutDamage) {
    // Stand-in for a full file system where the test cannot mount one.
    const std::string image = MakeImage("limited.img", 720);
    const std::string model = CopyOf(image);
    AttachImage(image);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lowered = old;
    lowered.rlim_cur = 360 * 1024;
    {
        TSimTarget target({"--write-random", "60", "--seed", "17", "--model", model,
                           "--wait-connect", "--time-limit", "120"});
        setrlimit(RLIMIT_FSIZE, &lowered);
        EXPECT_EQ(ServeUntilExit(target), std::vector<std::string>{});
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(target.Summary()["result"], "disk-error") << target.Output();
    }
    EXPECT_TRUE(FileBytes(image) == FileBytes(model));
    TSimTarget check({"--status", "--wait-connect", "--time-limit", "60"});
    EXPECT_EQ(ServeUntilExit(check), std::vector<std::string>{});
    EXPECT_EQ(check.Summary()["result"], "image");
}

TEST_F(EndToEnd, DisconnectDuringAnExchangeLeavesTheConsoleIdleAndUsable) {
    const std::string image = MakeImage("disconnect.img", 1440);
    const std::string before = FileBytes(image);
    AttachImage(image);
    {
        // Paced like a real line, so the read is still going when Disconnect comes.
        TSimTarget target({"--read-all", "--expect", image, "--wait-connect", "--baud", "115200",
                           "--time-limit", "60"});
        TStepper steps;
        steps.Then("reading", [&] { return window->Link().ReceivedCount() > 40; },
                   [&] { window->CloseComClick(); });
        EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
        EXPECT_TRUE(window->Connect->isEnabled());
        EXPECT_FALSE(window->Comm->Enabled());
        EXPECT_FALSE(window->Floppy().ImageAttached());
    }
    EXPECT_TRUE(FileBytes(image) == before);
    TSimTarget again({"--status", "--wait-connect", "--time-limit", "60"});
    EXPECT_EQ(ServeUntilExit(again), std::vector<std::string>{});
    EXPECT_EQ(again.Summary()["result"], "image");
}

TEST_F(EndToEnd, ASimulatorThatHangsUpLeavesTheConsoleQuietAndUsable) {
    const std::string image = MakeImage("hangup.img", 720);
    const std::string model = CopyOf(image);
    AttachImage(image);
    TSimTarget target({"--write-random", "30", "--seed", "5", "--model", model, "--hangup-after",
                       "6", "--wait-connect", "--time-limit", "60"});
    double cpu_before = 0, wall_before = 0, cpu_used = 0, wall = 0;
    auto now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    TStepper steps;
    steps.Then("hang-up", [&] { return target.Exited(); }, [] {})
        .Then("Error shown", [&] { return window->Label2->text() == "Error"; },
              [&] {
                   cpu_before = ProcessCpuSeconds();
                   wall_before = now();
               })
        .Then("a second connected after it", [&] { return now() - wall_before >= 1.0; },
              [&] {
                  cpu_used = ProcessCpuSeconds() - cpu_before;
                  wall = now() - wall_before;
                  window->CloseComClick();
              });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_EQ(target.Summary()["result"], "hangup") << target.Output();
    // The line is gone: the console neither spins nor crashes (the test's own polling of
    // every 2 ms is included in this figure).
    EXPECT_LT(cpu_used / wall, 0.3) << cpu_used << " s of processor in " << wall << " s";
    EXPECT_TRUE(window->Connect->isEnabled());
    TSimTarget again({"--status", "--wait-connect", "--time-limit", "60"});
    EXPECT_EQ(ServeUntilExit(again), std::vector<std::string>{});
    EXPECT_EQ(again.Summary()["result"], "image");
}

// The simulator scrolls its output box under its status area by drawing it again one or more
// rows higher: every line that leaves the box enters the history once, in order, none lost.
TEST_F(EndToEnd, TheSimulatorsScrolledOutputEntersTheHistoryOnceInOrder) {
    TSimTarget target({"--print-events", "--time-limit", "60"});
    auto type = [&](const std::string& command) {
        for (char c : command) {
            if (c == 'z') Tap(Qt::Key_Z, 44, "z");
            else Tap(Qt::Key_0 + (c - '0'), c == '0' ? 11 : 1 + (c - '0'), QString(c));
        }
        Tap(Qt::Key_Return, 28, "\r");
    };
    auto on_screen = [&](const std::string& text) {
        for (int r = 0; r < 25; ++r)
            if (window->Screen().RowText(r).find(text) != std::string::npos) return true;
        return false;
    };
    TStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=0") && !window->Link().key_hold; },
               [&] {
                   for (int n = 10; n < 40; ++n) type(std::string("z").append(std::to_string(n)));
               })
        .Then("all answered and drawn",
              [&] { return on_screen("Unknown command 'Z39'") && !window->Screen().changed; },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    // Every answer once, in order, across history and screen.
    const TConsoleArea& area = window->Form().Area();
    std::vector<int> answers;
    const int64_t first = area.LineOf(0) - window->Form().History().Size();
    for (int64_t line = first; line < area.LineOf(0) + 25; ++line) {
        const TCell* cells = area.LineCells(line);
        std::string text;
        for (int c = 0; c < 80; ++c) text += char(cells[c].ch);
        const size_t at = text.find("Unknown command 'Z");
        if (at != std::string::npos) answers.push_back(std::stoi(text.substr(at + 18, 2)));
    }
    std::vector<int> expected;
    for (int n = 10; n < 40; ++n) expected.push_back(n);
    EXPECT_EQ(answers, expected);
    EXPECT_GE(window->Form().History().Size(), 40);
}

TEST_F(EndToEnd, APasteWaitsWhileTheSimulatorReadsItsFloppyAndEveryKeyArrivesInOrder) {
    AttachImage(MakeImage("paste.img", 1440));
    TSimTarget target({"--print-events", "--time-limit", "120"});
    // The simulator holds the keys back while it reads all 2880 sectors; the rest of the
    // paste waits meanwhile and comes after, with the window serving the disk throughout.
    std::string text = "verify\r";
    for (int i = 0; i < 150; ++i) text += static_cast<char>('a' + i % 26);
    text += "\rdir\r";
    TStepper steps;
    steps.Then("connected",
               [&] { return target.Printed("connected image=1") && !window->Link().key_hold; },
               [&] { window->Form().PasteText(text); })
        .Then("the paste held back during the reads",
              [&] { return window->Link().key_hold && window->Form().Paste().Active(); }, [] {})
        .Then("the paste done", [&] { return target.Printed("command dir"); },
              [&] { window->CloseComClick(); }, 60s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_EQ(KeysReported(target.Output()), text);
    const std::string& out = target.Output();
    EXPECT_LT(out.find("command verify"), out.find("command dir"));
    bool verified = false;
    for (int row = 0; row < 25; ++row)
        verified = verified || window->Screen().RowText(row).find("verify: 2880 sectors read") !=
                                   std::string::npos;
    EXPECT_TRUE(verified) << "the verify did not complete";
}
