// Reading, writing and the queue counts over a pseudo-terminal.
#include "comm_rig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class CommTransfer : public ::testing::Test {
  protected:
    TPty pty;
    TTestPoster poster;
    TComm comm{nullptr};
    uint32_t announced = 0;

    void SetUp() override {
        comm.SetDeviceName(pty.path);
        comm.SetBaudRate(br115200);
        comm.SetFlowControl(fcNone); // as the console sets it: 11 and 13 are data
        comm.SetMainThreadPoster(&poster);
        comm.OnRxChar = [this](TObject*, uint32_t count) { announced = count; };
        comm.Open();
        ASSERT_TRUE(comm.Enabled());
    }
    // Sends from the far end and waits until the port announces `count` bytes queued.
    void ArriveQueued(const std::vector<uint8_t>& bytes) {
        pty.Send(bytes);
        ASSERT_TRUE(poster.PumpUntil([&] { return announced >= bytes.size(); }))
            << "announced " << announced << " of " << bytes.size();
    }
};

TEST(CommClosed, TransfersAndCountsOnAClosedPortReturnMinusOne) {
    TComm comm(nullptr);
    char buffer[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(comm.Read(buffer, 4), -1);
    EXPECT_EQ(comm.Read(buffer, 0), -1);
    EXPECT_EQ(comm.Write(buffer, 4), -1);
    EXPECT_EQ(comm.InQueCount(), -1);
    EXPECT_EQ(comm.OutQueCount(), -1);
}

TEST_F(CommTransfer, BytesWrittenArriveAtTheFarEndInOrder) {
    EXPECT_EQ(comm.Write("\x55", 1), 1);
    EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{0x55});

    const auto frame = Pattern(517, 3); // one data frame
    EXPECT_EQ(comm.Write(reinterpret_cast<const char*>(frame.data()), frame.size()), 517);
    EXPECT_EQ(pty.Receive(517), frame);
    EXPECT_EQ(comm.Write("", 0), 0);
}

TEST_F(CommTransfer, WriteLargerThanTheDriverTakesAtOnceWaitsAndSendsEverything) {
    const auto bytes = Pattern(200000, 9);
    std::vector<uint8_t> received;
    std::thread far_end([&] { received = pty.Receive(bytes.size(), 20s); });
    const int written = comm.Write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    far_end.join();
    EXPECT_EQ(written, 200000);
    EXPECT_TRUE(received == bytes) << "received " << received.size() << " bytes";
}

TEST_F(CommTransfer, ReadTakesAFrameFromTheFarEndWhole) {
    const auto frame = Pattern(517, 11);
    pty.Send(frame); // may still be on its way when Read starts: Read gathers
    std::vector<uint8_t> got(517);
    EXPECT_EQ(comm.Read(reinterpret_cast<char*>(got.data()), got.size()), 517);
    EXPECT_EQ(got, frame);
}

TEST_F(CommTransfer, ReadOfAQueuedCountReturnsAtOnceAndLeavesTheRest) {
    const auto sent = Pattern(40, 1);
    ArriveQueued(sent);
    EXPECT_EQ(comm.InQueCount(), 40);
    std::vector<uint8_t> got(25);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.Read(reinterpret_cast<char*>(got.data()), 25), 25);
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 0.5); // no gathering wait
    EXPECT_EQ(got, std::vector<uint8_t>(sent.begin(), sent.begin() + 25));
    EXPECT_EQ(comm.InQueCount(), 15);
    char none[1];
    EXPECT_EQ(comm.Read(none, 0), 0);
    EXPECT_EQ(comm.InQueCount(), 15);
}

TEST_F(CommTransfer, ReadOnAQuietLineReturnsWhatCameAfterAboutASecond) {
    char buffer[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.Read(buffer, sizeof buffer), 0);
    double took = Seconds(std::chrono::steady_clock::now() - start);
    EXPECT_GT(took, 0.5);
    EXPECT_LT(took, 5.0);

    ArriveQueued(Pattern(3, 5));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(comm.Read(buffer, sizeof buffer), 3);
    took = Seconds(std::chrono::steady_clock::now() - start);
    EXPECT_GT(took, 0.5);
    EXPECT_LT(took, 5.0);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), Pattern(3, 5));
}

TEST_F(CommTransfer, QueueCountsFollowTheDriverAndPurgesEmptyIt) {
    EXPECT_EQ(comm.InQueCount(), 0);
    EXPECT_EQ(comm.OutQueCount(), 0);
    ArriveQueued(Pattern(30));
    EXPECT_EQ(comm.InQueCount(), 30);
    comm.PurgeOut(); // the transmit side only
    EXPECT_EQ(comm.InQueCount(), 30);
    comm.PurgeIn();
    EXPECT_EQ(comm.InQueCount(), 0);

    announced = 0;
    ArriveQueued(Pattern(12));
    comm.SetBREAKState(false); // clears the break, then discards both queues
    EXPECT_EQ(comm.InQueCount(), 0);
    EXPECT_FALSE(comm.GetComState(1));
}

TEST_F(CommTransfer, PortReopensOnTheSameDeviceAndCarriesDataAgain) {
    comm.Close();
    EXPECT_EQ(comm.Write("x", 1), -1);
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    EXPECT_EQ(comm.Write("yz", 2), 2);
    EXPECT_EQ(pty.Receive(2), (std::vector<uint8_t>{'y', 'z'}));
    ArriveQueued(Pattern(8));
    EXPECT_EQ(comm.InQueCount(), 8);
}

} // namespace
