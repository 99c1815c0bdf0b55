// The whole program over the network: the simulated target serving raw TCP itself, and behind
// ser2net, raw and with RFC 2217; the same cases as over the pseudo-terminal. Then the console
// keeping its connection while the port goes away and comes back.
#include "e2e_fixture.h"
#include "ser2net_rig.h"

#include <termios.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

enum TRoute { rtTcp, rtSer2netRaw, rtSer2netRfc2217 };

std::string RouteName(const testing::TestParamInfo<TRoute>& info) {
    static const char* const kNames[] = {"Tcp", "Ser2netRaw", "Ser2netRfc2217"};
    return kNames[info.param];
}

class OverNetwork : public EndToEnd, public testing::WithParamInterface<TRoute> {
  protected:
    void SetUp() override {
        if (GetParam() != rtTcp && !Ser2netInstalled()) GTEST_SKIP() << "ser2net is missing";
        EndToEnd::SetUp();
    }
    // The simulator with `args`, reached over the route: QUORVIK_COM1 names the route's end.
    std::unique_ptr<TSimTarget> Target(std::vector<std::string> args) {
        if (GetParam() == rtTcp) {
            args.insert(args.end(), {"--listen", "127.0.0.1:0"});
            return std::make_unique<TSimTarget>(args);
        }
        auto target = std::make_unique<TSimTarget>(args);
        ser2net = std::make_unique<TSer2net>(target->Line(), GetParam() == rtSer2netRfc2217);
        setenv("QUORVIK_COM1", ser2net->Url().c_str(), 1);
        return target;
    }
    std::unique_ptr<TSer2net> ser2net;
};

TEST_P(OverNetwork, TheWholeImageIsReadWithoutAMismatch) {
    const std::string image = MakeImage("net-read.img", 1440);
    AttachImage(image);
    auto target = Target({"--read-all", "--expect", image, "--wait-connect", "--time-limit", "120"});
    EXPECT_EQ(ServeUntilExit(*target), std::vector<std::string>{});
    EXPECT_EQ(target->ExitCode(), 0) << target->Output();
    auto summary = target->Summary();
    EXPECT_EQ(summary["result"], "ok");
    EXPECT_EQ(summary["sectors"], "2880");
    EXPECT_EQ(summary["mismatches"], "0");
}

TEST_P(OverNetwork, RandomWritesWithSectorsOfFfLandByteForByte) {
    const std::string image = MakeImage("net-write.img", 1440);
    const std::string model = CopyOf(image);
    AttachImage(image);
    auto target = Target({"--write-random", "40", "--seed", "11", "--model", model,
                          "--wait-connect", "--time-limit", "120"});
    EXPECT_EQ(ServeUntilExit(*target), std::vector<std::string>{});
    EXPECT_EQ(target->Summary()["result"], "ok") << target->Output();
    EXPECT_EQ(target->Summary()["writes_acked"], "40");
    EXPECT_TRUE(FileBytes(image) == FileBytes(model)) << "the image differs from the acknowledged writes";
    EXPECT_NE(FileBytes(image).find(std::string(512, '\xFF')), std::string::npos);
}

TEST_P(OverNetwork, TheScreenArrivesCellForCellAndKeysAsTheirBytes) {
    const std::string record = TestPath("net-screen.rec");
    auto target = Target({"--print-events", "--record", record, "--time-limit", "60"});
    TScreen reference, seen;
    TStepper steps;
    steps.Then("the screen drawn and the keys released",
               [&] { return target->Printed("connected image=0") && !window->Link().key_hold; },
               [] {})
        .Then("every byte taken",
              [&] {
                  return window->Link().ReceivedCount() ==
                             static_cast<int32_t>(FileBytes(record).size()) &&
                         window->Link().QueueEmpty();
              },
              [&] {
                  TCoreRig rig; // the same bytes through the console's core on its own
                  rig.StepDeliver(Bytes(FileBytes(record)));
                  rig.Run();
                  reference = rig.screen;
                  seen = window->Screen();
                  Tap(Qt::Key_A, 30, "a");
                  Tap(Qt::Key_Up, 103);
                  Tap(Qt::Key_F9, 67);
              })
        .Then("the keys seen", [&] { return target->Output().find("key 1B 39 ") != std::string::npos; },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{}) << target->Output();
    for (int row = 0; row < 25; ++row) {
        EXPECT_EQ(seen.RowText(row), reference.RowText(row)) << "row " << row;
        for (int c = 0; c < 80; ++c)
            ASSERT_EQ(seen.Cell(row, c).attr, reference.Cell(row, c).attr)
                << "row " << row << " column " << c;
    }
    EXPECT_NE(seen.RowText(0).find("Quorvik target simulator"), std::string::npos);
    for (const std::string line : {"key 61 ", "key 1B 5B 41 ", "key 1B 39 "})
        EXPECT_NE(target->Output().find(line), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Routes, OverNetwork,
                         testing::Values(rtTcp, rtSer2netRaw, rtSer2netRfc2217), RouteName);

// The speed the line ends up with, as its own terminal settings say.
speed_t PtySpeed(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) return B0;
    close(fd);
    return cfgetospeed(&t);
}

TEST_F(EndToEnd, OverRfc2217TheConsoleSetsTheServersLineTo115200) {
    if (!Ser2netInstalled()) GTEST_SKIP() << "ser2net is missing";
    TSimTarget target({"--status", "--wait-connect", "--time-limit", "60"});
    TSer2net server(target.Line(), true);
    setenv("QUORVIK_COM1", server.Url().c_str(), 1);
    speed_t speed = B0;
    TStepper steps;
    // The simulator's line is still there until it has its answer.
    steps.Then("the speed set", [&] { return (speed = PtySpeed(target.Line())) == B115200; },
               [] {})
        .Then("the status query answered", [&] { return target.Exited(); },
              [&] { window->CloseComClick(); }, 60s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{}) << speed;
    EXPECT_EQ(target.Summary()["result"], "no-image") << target.Output();
}

// The first simulator goes away in the middle of its writes; the console waits, and a second
// one on the same line goes on from where the image is, without a click.
class Reconnect : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
        image = MakeImage("reconnect.img", 720);
        model = CopyOf(image);
        AttachImage(image);
    }
    std::vector<std::string> Writes(const char* seed, int count) {
        return {"--write-random", std::to_string(count), "--seed", seed, "--model", model,
                "--wait-connect", "--time-limit", "120"};
    }
    // Runs `first` until the console waits for its port, then `bring_back`, then serves the
    // second simulator that it started until it ends.
    void GoneAndBack(const std::function<std::unique_ptr<TSimTarget>()>& bring_back) {
        std::unique_ptr<TSimTarget> second;
        TStepper steps;
        steps.Then("the port gone", [&] { return window->Form().WaitingForPort(); },
                   [&] {
                       EXPECT_NE(ScreenText().find("went away; waiting for it to come back"),
                                 std::string::npos)
                           << ScreenText();
                       EXPECT_TRUE(window->Floppy().ImageAttached());
                       second = bring_back();
                   }, 60s)
            .Then("back", [&] { return !window->Form().WaitingForPort(); }, [] {}, 10s)
            .Then("the second simulator done", [&] { return second && second->Exited(); },
                  [&] { window->CloseComClick(); }, 120s);
        EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
        ASSERT_TRUE(second);
        EXPECT_EQ(second->Summary()["result"], "ok") << second->Output();
        EXPECT_TRUE(FileBytes(image) == FileBytes(model))
            << "the image differs from the acknowledged writes";
        EXPECT_NE(ScreenText().find("COM1 is back"), std::string::npos) << ScreenText();
    }
    // The rows one after the other, so that a line that wrapped reads as one.
    std::string ScreenText() {
        std::string all;
        for (int row = 0; row < 25; ++row) all += window->Screen().RowText(row);
        return all;
    }
    std::string image, model;
};

TEST_F(Reconnect, APseudoTerminalBehindALinkThatIsPointedAtANewOne) {
    const std::string link = TestPath("ttyLINK");
    std::vector<std::string> args = Writes("21", 30);
    args.insert(args.end(), {"--hangup-after", "6"});
    TSimTarget first(args);
    ASSERT_EQ(symlink(first.Line().c_str(), link.c_str()), 0);
    setenv("QUORVIK_COM1", link.c_str(), 1);
    GoneAndBack([&] {
        auto second = std::make_unique<TSimTarget>(Writes("22", 12));
        std::remove(link.c_str());
        EXPECT_EQ(symlink(second->Line().c_str(), link.c_str()), 0);
        setenv("QUORVIK_COM1", link.c_str(), 1);
        return second;
    });
    EXPECT_EQ(first.Summary()["result"], "hangup") << first.Output();
}

TEST_F(Reconnect, ARawTcpPeerThatClosesAndAcceptsAgain) {
    std::vector<std::string> args = Writes("31", 30);
    args.insert(args.end(), {"--hangup-after", "6", "--listen", "127.0.0.1:0"});
    TSimTarget first(args);
    const std::string url = first.Line();
    GoneAndBack([&] {
        std::vector<std::string> again = Writes("32", 12);
        again.insert(again.end(), {"--listen", url.substr(std::string("tcp://").size())});
        auto second = std::make_unique<TSimTarget>(again);
        EXPECT_EQ(second->Line(), url);
        return second;
    });
    EXPECT_EQ(first.Summary()["result"], "hangup") << first.Output();
}

TEST_F(Reconnect, Ser2netStoppedAndStartedAgain) {
    if (!Ser2netInstalled()) GTEST_SKIP() << "ser2net is missing";
    TSimTarget target(Writes("41", 40));
    TSer2net server(target.Line(), true);
    setenv("QUORVIK_COM1", server.Url().c_str(), 1);
    TStepper steps;
    steps.Then("writing", [&] { return window->Link().ReceivedCount() > 4000; },
               [&] { server.Stop(); }, 60s)
        .Then("the port gone", [&] { return window->Form().WaitingForPort(); }, [&] { server.Start(); })
        .Then("back", [&] { return !window->Form().WaitingForPort(); }, [] {})
        .Then("the simulator done", [&] { return target.Exited(); },
              [&] { window->CloseComClick(); }, 120s);
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{}) << server.Output();
    EXPECT_EQ(target.Summary()["result"], "ok") << target.Output();
    EXPECT_EQ(target.Summary()["writes_acked"], "40");
    EXPECT_TRUE(FileBytes(image) == FileBytes(model));
    EXPECT_NE(ScreenText().find("COM1 is back"), std::string::npos) << ScreenText();
}

} // namespace
