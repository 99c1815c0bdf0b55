// The serial component on its Win32 device, against pseudo-terminals that wine maps to COM
// ports (scripts/win-test): names, settings on the terminal, transfers, events and Close.
#include "comm.h"
#include "pty_peer_win32.h"
#include "test_poster.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class CommWin32 : public ::testing::Test {
  protected:
    TPeer peer;
    TTestPoster poster;
    TComm comm{nullptr};

    void SetUp() override {
        ASSERT_TRUE(peer.Connected());
        comm.SetDeviceName(kPortA);
        comm.SetMainThreadPoster(&poster);
        comm.SetFlowControl(fcNone);
    }
    void TearDown() override {
        comm.Close();
        peer.Drain(0);
        peer.Drain(1);
    }
    std::string Failure(const std::function<void()>& call) {
        try {
            call();
        } catch (const Exception& e) {
            return e.what();
        }
        return "no failure";
    }
};

} // namespace

TEST_F(CommWin32, ComNamesOpenWithOrWithoutTheDevicePrefixAndOthersStayClosed) {
    comm.Open();
    EXPECT_TRUE(comm.Enabled());
    EXPECT_EQ(Failure([&] { comm.Open(); }), "Port already assigned (open) (Error: -1)");
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
    comm.Open(); // the device was given back
    EXPECT_TRUE(comm.Enabled());
    comm.Close();

    for (const std::string& name : {std::string(kPortB), std::string("\\\\.\\") + kPortB}) {
        SCOPED_TRACE(name);
        comm.SetDeviceName(name);
        comm.Open();
        EXPECT_TRUE(comm.Enabled());
        comm.Close();
    }
    // A missing port and a file that is no character device: closed, nothing raised, and
    // the user is told which device and why.
    for (const char* name : {kMissing, kNotSerial}) {
        SCOPED_TRACE(name);
        comm.SetDeviceName(name);
        EXPECT_EQ(Failure([&] { comm.Open(); }), "no failure");
        EXPECT_FALSE(comm.Enabled());
        EXPECT_EQ(Failure([&] { comm.SetDTRState(true); }), "Port not open (Error: -1)");
        EXPECT_EQ(comm.Write("x", 1), -1);
        EXPECT_EQ(comm.InQueCount(), -1);
    }
    comm.SetDeviceName(kMissing);
    comm.Open();
    const std::string missing = comm.DescribeOpenFailure();
    EXPECT_EQ(missing.rfind(std::string(kMissing) + " is \\\\.\\" + kMissing + ".\n", 0), 0u)
        << missing;
    EXPECT_NE(missing.find("(error "), std::string::npos) << missing;
    EXPECT_NE(missing.find("Serial ports here: COM1 "), std::string::npos) << missing;
    comm.SetDeviceName(kNotSerial);
    comm.Open();
    EXPECT_NE(comm.DescribeOpenFailure().find("is not a serial device."), std::string::npos);
}

// A pseudo-terminal keeps 8 data bits and no parity whatever is set, so those are checked on
// the control block itself (comm_dcb_win32_test.cpp).
TEST_F(CommWin32, SpeedStopBitsAndHandshakeReachTheTerminal) {
    const unsigned speed_found = peer.Attr(0).speed;
    ASSERT_NE(speed_found, 115200u);
    comm.SetBaudRate(br115200);
    comm.SetStopBits(sb20);
    comm.SetFlowControl(fcCTS);
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    TPeerAttr a = peer.Attr(0);
    EXPECT_EQ(a.speed, 115200u);
    EXPECT_EQ(a.stop_bits, 2);
    EXPECT_TRUE(a.crtscts);
    EXPECT_FALSE(a.ixon);

    // Changes while open reach the terminal at once.
    comm.SetBaudRate(br57600);
    comm.SetStopBits(sb10);
    comm.SetFlowControl(fcSoftware);
    a = peer.Attr(0);
    EXPECT_EQ(a.speed, 57600u);
    EXPECT_EQ(a.stop_bits, 1);
    EXPECT_FALSE(a.crtscts);
    EXPECT_TRUE(a.ixon);
    EXPECT_TRUE(a.ixoff);
    comm.SetFlowControl(fcNone);
    a = peer.Attr(0);
    EXPECT_FALSE(a.crtscts || a.ixon || a.ixoff);

    // Settings the driver refuses are reported with its error number; the port stays open.
    const std::string failure = Failure([&] { comm.SetDataBits(da4); });
    EXPECT_EQ(failure.rfind("Error updating DataControlBlock (Error: ", 0), 0u) << failure;
    EXPECT_EQ(failure.find("(Error: -1)"), std::string::npos) << failure;
    EXPECT_TRUE(comm.Enabled());
    comm.SetDataBits(da8);
    comm.Close();
    // The terminal is given back as it was found.
    EXPECT_EQ(peer.Attr(0).speed, speed_found);
}

TEST_F(CommWin32, BytesTravelBothWaysAndReceivedOnesAreAnnouncedOnTheMainThread) {
    comm.SetBaudRate(br115200);
    std::vector<uint8_t> taken;
    uint32_t announced = 0;
    comm.OnRxChar = [&](TObject* sender, uint32_t count) {
        EXPECT_EQ(sender, &comm);
        announced += count;
        std::vector<uint8_t> bytes(count);
        ASSERT_EQ(comm.Read(reinterpret_cast<char*>(bytes.data()), count),
                  static_cast<int>(count));
        taken.insert(taken.end(), bytes.begin(), bytes.end());
    };
    comm.Open();
    ASSERT_TRUE(comm.Enabled());

    const std::vector<uint8_t> frame = Pattern(517, 3); // one disk data frame
    EXPECT_EQ(comm.Write(reinterpret_cast<const char*>(frame.data()), frame.size()), 517);
    EXPECT_EQ(peer.Receive(0, 517), frame);
    EXPECT_EQ(comm.Write("\x1b", 1), 1);
    EXPECT_EQ(peer.Receive(0, 1), std::vector<uint8_t>{0x1b});

    const std::vector<uint8_t> incoming = Pattern(3000, 9);
    peer.Send(0, std::vector<uint8_t>(incoming.begin(), incoming.begin() + 1000));
    peer.Send(0, std::vector<uint8_t>(incoming.begin() + 1000, incoming.end()));
    EXPECT_TRUE(poster.PumpUntil([&] { return taken.size() >= incoming.size(); }));
    EXPECT_EQ(taken, incoming);
    EXPECT_EQ(announced, incoming.size());
    EXPECT_EQ(comm.InQueCount(), 0);

    // Nothing queued: a read gives up after about a second with nothing.
    char byte;
    EXPECT_EQ(comm.Read(&byte, 1), 0);
    EXPECT_EQ(comm.Read(&byte, 0), 0);
}

TEST_F(CommWin32, CloseWhileAHandOffWaitsReturnsAndNoHandlerRunsAfterwards) {
    int fired = 0;
    comm.OnRxChar = [&](TObject*, uint32_t) { ++fired; };
    comm.OnComStatEvent = [&](TObject*, uint32_t, TComStat) { ++fired; };
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    peer.Send(0, {0x41, 0x42});
    ASSERT_TRUE(poster.WaitQueued()); // the event thread now waits for the main thread
    const auto start = std::chrono::steady_clock::now();
    comm.Close();
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 2.0);
    EXPECT_FALSE(comm.Enabled());
    poster.RunQueued();
    EXPECT_EQ(fired, 0);

    // Close while the thread waits on a quiet line, then the port opens again and delivers.
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    const auto quiet = std::chrono::steady_clock::now();
    comm.Close();
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - quiet), 2.0);
    comm.Open();
    peer.Send(0, {0x43});
    EXPECT_TRUE(poster.PumpUntil([&] { return fired > 0; }));
}
