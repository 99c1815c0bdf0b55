// The event thread and its hand-off to the main thread.
#include "child_process.h"
#include "comm_rig.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

class CommEvents : public ::testing::Test {
  protected:
    TPty pty;
    TTestPoster poster;
    TComm comm{nullptr};
    std::vector<std::string> fired;

    void SetUp() override {
        comm.SetDeviceName(pty.path);
        comm.SetMainThreadPoster(&poster);
        comm.SetFlowControl(fcNone);
    }
    void Record() {
        comm.OnBreak = [this](TObject*) { fired.push_back("Break"); };
        comm.OnError = [this](TObject*, int e) { fired.push_back("Error " + std::to_string(e)); };
        comm.OnRxChar = [this](TObject*, uint32_t n) {
            fired.push_back("RxChar " + std::to_string(n));
        };
        comm.OnTxEmpty = [this](TObject*) { fired.push_back("TxEmpty"); };
        comm.OnComStatEvent = [this](TObject*, uint32_t status, TComStat s) {
            fired.push_back("ComStat " + std::to_string(status) + " " + std::to_string(s.cbInQue));
        };
    }
};

TEST_F(CommEvents, RxCharArrivesOnTheMainThreadWithTheQueuedCountFromTheComponent) {
    std::thread::id ran_on;
    TObject* sender = nullptr;
    uint32_t count = 0;
    std::vector<uint8_t> taken;
    comm.OnRxChar = [&](TObject* s, uint32_t n) {
        ran_on = std::this_thread::get_id();
        sender = s;
        count = n;
        std::vector<uint8_t> bytes(n);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(comm.Read(reinterpret_cast<char*>(bytes.data()), n), static_cast<int>(n));
        EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 0.5);
        taken.insert(taken.end(), bytes.begin(), bytes.end());
    };
    comm.Open();
    EXPECT_EQ(poster.Queued(), 0u); // nothing without a line event
    pty.Send("hello");
    ASSERT_TRUE(poster.PumpUntil([&] { return taken.size() >= 5; }));
    EXPECT_EQ(ran_on, std::this_thread::get_id());
    EXPECT_EQ(sender, &comm);
    EXPECT_GT(count, 0u);
    EXPECT_EQ(std::string(taken.begin(), taken.end()), "hello");
}

TEST_F(CommEvents, EachBurstIsAnnouncedEvenWhenEarlierBytesStayUnread) {
    std::vector<uint32_t> counts;
    comm.OnRxChar = [&](TObject*, uint32_t n) { counts.push_back(n); };
    comm.SetMonitorEvents({evRxChar});
    comm.Open();
    pty.Send("abc");
    ASSERT_TRUE(poster.PumpUntil([&] { return !counts.empty() && counts.back() == 3; }));
    // Unread bytes are not announced again and again: the line is quiet now (a last chunk of
    // the burst may still be announced).
    const size_t after_first = counts.size();
    poster.PumpFor(200ms);
    EXPECT_LE(counts.size(), after_first + 1) << ::testing::PrintToString(counts);
    pty.Send("de");
    ASSERT_TRUE(poster.PumpUntil([&] { return counts.back() == 5; }));
}

TEST_F(CommEvents, ComStatFollowsTheOwnersEventsForEveryDelivery) {
    Record();
    comm.SetMonitorEvents({evBreak, evError, evRxChar});
    comm.Open();
    pty.Send("xy");
    ASSERT_TRUE(poster.PumpUntil([&] { return comm.InQueCount() == 2 && fired.size() >= 2; }));
    ASSERT_GE(fired.size(), 2u);
    EXPECT_EQ(fired[0].rfind("RxChar ", 0), 0u) << fired[0];
    EXPECT_EQ(fired[1].rfind("ComStat 1 ", 0), 0u) << fired[1];
}

TEST_F(CommEvents, HandlersFireInTheirOrderOnceEachAndRxCharOnlyWithBytesQueued) {
    Record();
    comm.Open();
    comm.HandleCommEvent(nullptr, kEvRxChar | kEvErr | kEvBreak);
    EXPECT_EQ(fired, (std::vector<std::string>{"Break", "Error 0", "ComStat 193 0"}));

    pty.Send("q");
    ASSERT_TRUE(poster.PumpUntil([&] { return comm.InQueCount() == 1; }));
    fired.clear();
    comm.HandleCommEvent(nullptr, kEvTxEmpty | kEvRxChar);
    EXPECT_EQ(fired, (std::vector<std::string>{"RxChar 1", "TxEmpty", "ComStat 5 1"}));
}

TEST_F(CommEvents, HandlerThatRaisesDoesNotStopTheOthersNorTheThread) {
    Record();
    int rx = 0;
    comm.OnBreak = [&](TObject*) { throw Exception("owner failed"); };
    comm.OnRxChar = [&](TObject*, uint32_t) {
        ++rx;
        throw Exception("owner failed again");
    };
    comm.Open();
    // Called directly: every handler ran, then the first failure comes back.
    try {
        comm.HandleCommEvent(nullptr, kEvBreak | kEvErr);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "owner failed");
    }
    EXPECT_EQ(fired, (std::vector<std::string>{"Error 0", "ComStat 192 0"}));

    // Through the event thread: the failure ends neither the hand-off nor the thread.
    pty.Send("1");
    ASSERT_TRUE(poster.PumpUntil([&] { return rx == 1; }));
    comm.PurgeIn();
    pty.Send("2");
    ASSERT_TRUE(poster.PumpUntil([&] { return rx == 2; }));
}

TEST_F(CommEvents, CloseDuringAPendingHandOffReturnsAndNoHandlerRunsAfterwards) {
    Record();
    comm.Open();
    pty.Send("late");
    ASSERT_TRUE(poster.WaitQueued()); // the event thread now waits for the main thread
    const auto start = std::chrono::steady_clock::now();
    comm.Close();
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 2.0);
    EXPECT_FALSE(comm.Enabled());
    EXPECT_GE(poster.RunQueued(), 1u); // the cancelled hand-off runs now and does nothing
    pty.Send("more");
    poster.PumpFor(100ms);
    EXPECT_TRUE(fired.empty());

    // The next open period delivers again.
    comm.Open();
    pty.Send("again");
    EXPECT_TRUE(poster.PumpUntil([&] { return !fired.empty(); }));
}

TEST_F(CommEvents, CloseFromAHandlerStopsTheRestOfThatDelivery) {
    Record();
    comm.OnRxChar = [&](TObject*, uint32_t) {
        fired.push_back("RxChar");
        comm.Close();
    };
    comm.Open();
    pty.Send("z");
    ASSERT_TRUE(poster.PumpUntil([&] { return !comm.Enabled(); }));
    poster.PumpFor(100ms);
    EXPECT_EQ(fired, std::vector<std::string>{"RxChar"}); // no ComStat after the Close
}

TEST_F(CommEvents, DestroyingTheOpenPortLeavesPendingHandOffsHarmless) {
    int handled = 0;
    {
        TComm doomed(nullptr);
        doomed.SetDeviceName(pty.path);
        doomed.SetMainThreadPoster(&poster);
        doomed.OnRxChar = [&](TObject*, uint32_t) { ++handled; };
        doomed.Open();
        pty.Send("bye");
        ASSERT_TRUE(poster.WaitQueued());
    }
    EXPECT_GE(poster.RunQueued(), 1u);
    EXPECT_EQ(handled, 0);
}

TEST_F(CommEvents, WithoutAPosterNoEventIsDeliveredAndThePortStillWorks) {
    int handled = 0;
    comm.SetMainThreadPoster(nullptr);
    comm.OnRxChar = [&](TObject*, uint32_t) { ++handled; };
    comm.Open();
    pty.Send("abc");
    char buffer[3];
    EXPECT_EQ(comm.Read(buffer, 3), 3);
    comm.Close();
    EXPECT_EQ(poster.Queued(), 0u);
    EXPECT_EQ(handled, 0);
}

TEST_F(CommEvents, TxEmptyFollowsAWriteOnceTheDriverHasSentIt) {
    int empty = 0;
    comm.OnTxEmpty = [&](TObject*) { ++empty; };
    comm.SetMonitorEvents({evTxEmpty});
    comm.Open();
    EXPECT_EQ(comm.Write("ping", 4), 4);
    ASSERT_TRUE(poster.PumpUntil([&] { return empty == 1; }));
    EXPECT_EQ(pty.Receive(4).size(), 4u);
}

TEST_F(CommEvents, FarEndHangUpIsOneErrorThenQuietWithoutBurningTheProcessor) {
    std::vector<int> errors;
    int rx = 0;
    comm.OnError = [&](TObject*, int e) { errors.push_back(e); };
    comm.OnRxChar = [&](TObject*, uint32_t) { ++rx; };
    comm.Open();
    pty.CloseSlave();
    pty.CloseMaster();
    ASSERT_TRUE(poster.PumpUntil([&] { return !errors.empty(); }));
    EXPECT_TRUE(errors[0] & kCeMode);

    const double cpu_before = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    poster.PumpFor(2000ms);
    const double wall = Seconds(std::chrono::steady_clock::now() - start);
    const double cpu = ProcessCpuSeconds() - cpu_before;
    EXPECT_LT(cpu / wall, 0.05) << cpu << " s of processor in " << wall << " s";
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(rx, 0);

    // Transfers on the dead device report at once; Close still closes.
    char buffer[8];
    const auto read_start = std::chrono::steady_clock::now();
    EXPECT_LE(comm.Read(buffer, sizeof buffer), 0);
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - read_start), 0.5);
    EXPECT_LE(comm.Write("x", 1), 0);
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
}

} // namespace
