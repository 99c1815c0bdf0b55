// The text log's lines (golden text), its timestamps, and files that cannot be written.
#include "text_log.h"

#include "fakes.h"
#include "screen_text.h"

#include <gtest/gtest.h>

#include <cstdio>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::vector<TCell> Row(const std::string& text) {
    std::vector<TCell> cells(kScreenColumns, TCell{' ', 0x07});
    for (size_t i = 0; i < text.size(); ++i) cells[i].ch = static_cast<uint8_t>(text[i]);
    return cells;
}

} // namespace

TEST(TextLog, TimestampsAreIsoLocalTimeWithTheirOffsetFromUtc) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 31, tm.tm_hour = 23, tm.tm_min = 3;
    EXPECT_EQ(IsoTimestamp(tm, 3600), "2026-12-31T23:03:00+01:00");
    EXPECT_EQ(IsoTimestamp(tm, -(5 * 3600 + 30 * 60)), "2026-12-31T23:03:00-05:30");
    // Whatever the machine's time zone: the local time less its offset is UTC, also across the
    // turn of a year (2027-01-01T00:00:00Z is 1798761600).
    for (std::time_t t : {std::time_t{1798761600 - 1}, std::time_t{1798761600 + 13 * 3600}}) {
        std::tm local{};
        int oh = 0, om = 0;
        char sign = 0;
        const std::string s = LocalTimestamp(t);
        ASSERT_EQ(std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &local.tm_year,
                              &local.tm_mon, &local.tm_mday, &local.tm_hour, &local.tm_min,
                              &local.tm_sec, &sign, &oh, &om), 9) << s;
        const std::tm utc = *std::gmtime(&t);
        const long minutes = (sign == '-' ? -1 : 1) * (oh * 60L + om);
        // The dates are a day apart at most: which way, then the minutes of the day.
        const int lkey = local.tm_year * 10000 + local.tm_mon * 100 + local.tm_mday;
        const int ukey = (utc.tm_year + 1900) * 10000 + (utc.tm_mon + 1) * 100 + utc.tm_mday;
        const long apart = (((lkey > ukey) - (lkey < ukey)) * 24L + local.tm_hour - utc.tm_hour) *
                               60 + local.tm_min - utc.tm_min;
        EXPECT_EQ(apart, minutes) << s;
    }
}

TEST(TextLog, RowsLeavingTheScreenBecomeStampedLinesAndTheScreenEndsTheLog) {
    const std::string path = TestPath("golden.log");
    std::time_t now = 1800000000;
    TTextLog log([&] { return now; });
    ASSERT_TRUE(log.Start(path)) << log.Error();
    log.Row(Row("A:\\>dir \xC9\xCD\xBB \x01").data(), kScreenColumns);
    EXPECT_EQ(ReadFileText(path), ""); // held until the once-a-second write
    ASSERT_TRUE(log.Flush());
    const std::string s0 = LocalTimestamp(now), le = kTextLineEnd;
    EXPECT_EQ(ReadFileText(path), s0 + " A:\\>dir \u2554\u2550\u2557 \u263A" + le);
    now += 1;
    log.Row(Row("").data(), kScreenColumns); // a blank row: the time alone
    TScreen screen;
    screen.StrOut(0x07, 0, 0, "C:\\>");
    screen.StrOut(0x1F, 0, 2, "\xB0 end   ");
    EXPECT_TRUE(log.Stop(screen));
    EXPECT_FALSE(log.Running());
    const std::string s1 = LocalTimestamp(now);
    EXPECT_EQ(ReadFileText(path), s0 + " A:\\>dir \u2554\u2550\u2557 \u263A" + le + s1 + le + // rows
                              s1 + " C:\\>" + le + s1 + le + s1 + " \u2591 end" + le); // screen
}

TEST(TextLog, AFileThatCannotBeWrittenStopsTheLogWithTheSystemsReason) {
    TTextLog log;
    EXPECT_FALSE(log.Start(TestPath("no-such-folder") + "/x.log"));
    EXPECT_FALSE(log.Error().empty());
#ifndef _WIN32
    // A full disk: the write fails, the reason is kept, what follows is dropped.
    ASSERT_TRUE(log.Start("/dev/full")) << log.Error();
    log.Row(Row("lost").data(), kScreenColumns);
    EXPECT_FALSE(log.Flush());
    EXPECT_TRUE(log.Failed());
    EXPECT_EQ(log.Error(), std::strerror(ENOSPC));
    log.Row(Row("dropped").data(), kScreenColumns);
    EXPECT_FALSE(log.Stop(TScreen{}));
    EXPECT_FALSE(log.Failed()); // told once, through Stop's result
    // The folder removed under the log: found at the next write.
    const std::string folder = TestPath("gone");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(log.Start(folder + "/x.log"));
    ASSERT_EQ(::unlink((folder + "/x.log").c_str()), 0);
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    log.Row(Row("one").data(), kScreenColumns);
    EXPECT_FALSE(log.Flush());
    EXPECT_NE(log.Error().find("removed"), std::string::npos) << log.Error();
    // A pipe without a reader is refused at once rather than waited for.
    ASSERT_EQ(::mkfifo(folder.c_str(), 0600), 0);
    EXPECT_FALSE(log.Start(folder));
    ::unlink(folder.c_str());
#endif
}
