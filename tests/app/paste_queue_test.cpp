// The paste's pacing on a clock the test holds, the key hold, Stop, and the environment
// variables that set the pace.
#include "paste_queue.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;
using TClock = TPasteQueue::TClock;

class PasteQueueTest : public testing::Test {
  protected:
    // The step the timer would run `ms` after the start.
    TPasteQueue::TStep At(int ms, bool hold = false) { return queue.Step(t0 + ms * 1ms, hold); }
    TPasteQueue queue;
    const TClock::time_point t0 = TClock::now();
};

std::map<std::string, std::string> environment;
const char* FakeGetenv(const char* name) {
    const auto it = environment.find(name);
    return it == environment.end() ? nullptr : it->second.c_str();
}

} // namespace

TEST_F(PasteQueueTest, OneKeystrokeAtATimeWithTheGapsOfCharactersAndLines) {
    queue.Start("ab\rc", TPastePacing{5, 50}, t0);
    auto s = At(0);
    EXPECT_EQ(s.keys, "a");
    EXPECT_EQ(s.next_ms, 5);
    s = At(5);
    EXPECT_EQ(s.keys, "b");
    s = At(10);
    EXPECT_EQ(s.keys, "\r");
    EXPECT_EQ(s.next_ms, 50);
    EXPECT_EQ(At(40).keys, ""); // early: nothing yet
    s = At(60);
    EXPECT_EQ(s.keys, "c");
    EXPECT_EQ(s.next_ms, -1); // the paste is over
    EXPECT_FALSE(queue.Active());
}

TEST_F(PasteQueueTest, ALateTimerCatchesUpAFewKeystrokesButNeverPastALineEnd) {
    queue.Start("abcdefghij\rk", TPastePacing{5, 50}, t0);
    EXPECT_EQ(At(0).keys, "a");
    // A window system that rounds its timers up to 16 ms: b, c and d were due by then.
    auto s = At(16);
    EXPECT_EQ(s.keys, "bcd");
    EXPECT_EQ(s.next_ms, 4);
    // Half a second late: one burst, then the pace goes on from there.
    s = At(520);
    EXPECT_EQ(s.keys, "efgh");
    EXPECT_EQ(s.next_ms, 5);
    s = At(1000);
    EXPECT_EQ(s.keys, "ij\r"); // the line end ends the burst
    EXPECT_EQ(s.next_ms, 50);
}

TEST_F(PasteQueueTest, TheKeyHoldHoldsThePasteBackAndNothingIsDropped) {
    queue.Start("abc", TPastePacing{5, 50}, t0);
    EXPECT_EQ(At(0).keys, "a");
    for (int ms = 5; ms < 2000; ms += TPasteQueue::kHoldPollMs) {
        const auto s = At(ms, true);
        ASSERT_EQ(s.keys, "");
        ASSERT_EQ(s.next_ms, TPasteQueue::kHoldPollMs);
    }
    // Released: the next keystroke at once, then the normal pace, not a burst for the wait.
    auto s = At(2000);
    EXPECT_EQ(s.keys, "b");
    EXPECT_EQ(s.next_ms, 5);
    EXPECT_EQ(At(2005).keys, "c");
    EXPECT_EQ(queue.Sent(), 3u);
}

TEST_F(PasteQueueTest, StopEndsThePasteAtOnce) {
    queue.Start("abcdef", TPastePacing{5, 50}, t0);
    At(0);
    queue.Stop();
    EXPECT_FALSE(queue.Active());
    const auto s = At(100);
    EXPECT_EQ(s.keys, "");
    EXPECT_EQ(s.next_ms, -1);
}

TEST_F(PasteQueueTest, NoPacingSendsBurstsWithoutWaiting) {
    queue.Start("abcdefg", TPastePacing{0, 0}, t0);
    auto s = At(0);
    EXPECT_EQ(s.keys, "abcd");
    EXPECT_EQ(s.next_ms, 0);
    EXPECT_EQ(At(0).keys, "efg");
}

TEST(PastePacing, TheEnvironmentSetsThePaceAndBadValuesKeepTheDefaultWithAReason) {
    std::vector<std::string> complaints;
    environment.clear();
    TPastePacing p = ReadPastePacing(FakeGetenv, &complaints);
    EXPECT_EQ(p.char_ms, 5);
    EXPECT_EQ(p.line_ms, 50);

    environment = {{"QUORVIK_PASTE_CHAR_MS", "0"}, {"QUORVIK_PASTE_LINE_MS", "10000"}};
    p = ReadPastePacing(FakeGetenv, &complaints);
    EXPECT_EQ(p.char_ms, 0);
    EXPECT_EQ(p.line_ms, 10000);
    EXPECT_TRUE(complaints.empty());

    for (const char* bad : {"abc", "-5", "5ms", " 5", "10001", "99999999999999999999"}) {
        complaints.clear();
        environment = {{"QUORVIK_PASTE_CHAR_MS", bad}, {"QUORVIK_PASTE_LINE_MS", ""}};
        p = ReadPastePacing(FakeGetenv, &complaints);
        EXPECT_EQ(p.char_ms, 5) << bad;
        EXPECT_EQ(p.line_ms, 50) << bad; // empty: the default, quietly
        ASSERT_EQ(complaints.size(), 1u) << bad;
        EXPECT_EQ(complaints[0].rfind("QUORVIK_PASTE_CHAR_MS=", 0), 0u) << complaints[0];
        EXPECT_NE(complaints[0].find("5 ms is used"), std::string::npos) << complaints[0];
        EXPECT_LE(complaints[0].size(), 120u); // one console line, however long the value
    }
}
