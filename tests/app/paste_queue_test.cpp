// The paste's pacing on a clock the test holds, the key hold, Stop, and the environment
// variables that set the pace.
#include "paste_queue.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace std::chrono_literals;

class PasteQueueTest : public testing::Test {
  protected:
    // The step the timer runs `ms` after the start: its keystrokes and the next delay.
    std::pair<std::string, int> At(int ms, bool hold = false) {
        const auto s = queue.Step(t0 + ms * 1ms, hold);
        return {s.keys, s.next_ms};
    }
    using P = std::pair<std::string, int>;
    TPasteQueue queue;
    const TPasteQueue::TClock::time_point t0 = TPasteQueue::TClock::now();
};

std::map<std::string, std::string> environment;
const char* FakeGetenv(const char* name) {
    const auto it = environment.find(name);
    return it == environment.end() ? nullptr : it->second.c_str();
}

} // namespace

TEST_F(PasteQueueTest, KeystrokesArePacedALateTimerCatchesUpAFewAndALineEndGetsItsGap) {
    queue.Start("abcdefghij\rk", TPastePacing{5, 50}, t0);
    EXPECT_EQ(At(0), P("a", 5));
    EXPECT_EQ(At(3), P("", 2));       // early: nothing yet
    EXPECT_EQ(At(16), P("bcd", 4));   // a timer rounded up to 16 ms: b, c and d were due
    EXPECT_EQ(At(520), P("efgh", 5)); // half a second late: one burst, not the whole lag
    EXPECT_EQ(At(1000), P("ij\r", 50)); // the line end ends the burst and gets its gap
    EXPECT_EQ(At(1040), P("", 10));
    EXPECT_EQ(At(1050), P("k", -1)); // the paste is over
    EXPECT_FALSE(queue.Active());
}

TEST_F(PasteQueueTest, TheKeyHoldHoldsThePasteBackNothingIsDroppedAndStopEndsIt) {
    queue.Start("abcd", TPastePacing{5, 50}, t0);
    EXPECT_EQ(At(0), P("a", 5));
    for (int ms = 5; ms < 2000; ms += TPasteQueue::kHoldPollMs)
        ASSERT_EQ(At(ms, true), P("", TPasteQueue::kHoldPollMs));
    // Released: the next keystroke at once, then the normal pace, not a burst for the wait.
    EXPECT_EQ(At(2000), P("b", 5));
    EXPECT_EQ(At(2005), P("c", 5));
    queue.Stop();
    EXPECT_EQ(At(2010), P("", -1));
    EXPECT_EQ(queue.Remaining(), 0u);
}

TEST(PastePacing, TheEnvironmentSetsThePaceAndABadValueKeepsTheDefaultWithAReason) {
    std::vector<std::string> complaints;
    environment = {{"QUORVIK_PASTE_CHAR_MS", "0"}, {"QUORVIK_PASTE_LINE_MS", "10000"}};
    TPastePacing p = ReadPastePacing(FakeGetenv, &complaints);
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
        EXPECT_NE(complaints[0].find("; 5 ms is used."), std::string::npos) << complaints[0];
    }
}
