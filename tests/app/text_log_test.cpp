// The text log's lines (golden text), its timestamps, and files that cannot be written.
#include "text_log.h"

#include "screen_text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const std::string& name) {
    // Unique to this run: the tests run side by side as processes of their own.
    static const std::string run =
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return testing::TempDir() + "/textlog-" + run + "-" + name;
}

std::vector<TCell> Row(const std::string& text) {
    std::vector<TCell> cells(kScreenColumns, TCell{' ', 0x07});
    for (size_t i = 0; i < text.size() && i < cells.size(); ++i)
        cells[i].ch = static_cast<uint8_t>(text[i]);
    return cells;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long DaysFromCivil(long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

} // namespace

TEST(TextLog, TimestampsAreIsoLocalTimeWithTheirOffset) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 9;
    tm.tm_hour = 14, tm.tm_min = 3, tm.tm_sec = 7;
    EXPECT_EQ(IsoTimestamp(tm, 3600), "2026-12-09T14:03:07+01:00");
    EXPECT_EQ(IsoTimestamp(tm, -(5 * 3600 + 30 * 60)), "2026-12-09T14:03:07-05:30");
    EXPECT_EQ(IsoTimestamp(tm, 0), "2026-12-09T14:03:07+00:00");

    // Whatever the machine's time zone, the local time less its offset is the moment itself,
    // also across the turn of a year.
    for (std::time_t t : {std::time_t{1'800'000'000}, std::time_t{1'798'761'600 - 1},
                          std::time_t{1'798'761'600 + 3600 * 13}}) {
        const std::string s = LocalTimestamp(t);
        ASSERT_EQ(s.size(), 25u) << s;
        int y, mo, d, h, mi, se, oh, om;
        char sign;
        ASSERT_EQ(std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi,
                              &se, &sign, &oh, &om),
                  9)
            << s;
        const long offset = (sign == '-' ? -1 : 1) * (oh * 3600L + om * 60L);
        const long local = DaysFromCivil(y, mo, d) * 86400 + h * 3600L + mi * 60L + se;
        EXPECT_EQ(local - offset, static_cast<long>(t)) << s;
    }
}

TEST(TextLog, RowsLeavingTheScreenBecomeStampedLinesAndTheScreenEndsTheLog) {
    const std::string path = TempPath("golden.log");
    std::time_t now = 1'800'000'000;
    TTextLog log([&] { return now; });
    ASSERT_TRUE(log.Start(path)) << log.Error();
    EXPECT_TRUE(log.Running());
    log.Row(Row("A:\\>dir \xC9\xCD\xBB \x01").data(), kScreenColumns);
    EXPECT_EQ(Read(path), ""); // held until the once-a-second write
    ASSERT_TRUE(log.Flush());
    const std::string s0 = LocalTimestamp(now);
    const std::string le = kTextLineEnd;
    EXPECT_EQ(Read(path), s0 + " A:\\>dir \u2554\u2550\u2557 \u263A" + le);

    now += 1;
    log.Row(Row("").data(), kScreenColumns); // a blank row: the time alone
    TScreen screen;
    screen.StrOut(0x07, 0, 0, "C:\\>");
    screen.StrOut(0x1F, 0, 2, "\xB0 end   ");
    EXPECT_TRUE(log.Stop(screen));
    EXPECT_FALSE(log.Running());
    const std::string s1 = LocalTimestamp(now);
    EXPECT_EQ(Read(path), s0 + " A:\\>dir \u2554\u2550\u2557 \u263A" + le + s1 + le + // rows
                              s1 + " C:\\>" + le + s1 + le + s1 + " \u2591 end" + le); // screen
}

TEST(TextLog, AFolderThatDoesNotExistIsRefusedWithTheSystemsReason) {
    TTextLog log;
    EXPECT_FALSE(log.Start(TempPath("no-such-folder") + "/x.log"));
    EXPECT_FALSE(log.Running());
    EXPECT_FALSE(log.Error().empty());
}

#ifndef _WIN32
TEST(TextLog, AFullDiskStopsTheLogWithTheReasonAndDropsWhatFollows) {
    TTextLog log;
    ASSERT_TRUE(log.Start("/dev/full")) << log.Error();
    log.Row(Row("lost").data(), kScreenColumns);
    EXPECT_FALSE(log.Flush());
    EXPECT_TRUE(log.Failed());
    EXPECT_FALSE(log.Running());
    EXPECT_EQ(log.Error(), std::strerror(ENOSPC));
    log.Row(Row("dropped").data(), kScreenColumns); // no write is tried
    EXPECT_FALSE(log.Stop(TScreen{}));
    EXPECT_FALSE(log.Failed()); // told once, through Stop's result
}

TEST(TextLog, ALogWhoseFolderWasRemovedStopsAtTheNextWrite) {
    const std::string folder = TempPath("gone");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    TTextLog log;
    ASSERT_TRUE(log.Start(folder + "/x.log"));
    log.Row(Row("one").data(), kScreenColumns);
    ASSERT_TRUE(log.Flush());
    ASSERT_EQ(::unlink((folder + "/x.log").c_str()), 0);
    ASSERT_EQ(::rmdir(folder.c_str()), 0);
    log.Row(Row("two").data(), kScreenColumns);
    EXPECT_FALSE(log.Flush());
    EXPECT_TRUE(log.Failed());
    EXPECT_NE(log.Error().find("removed"), std::string::npos) << log.Error();
}

TEST(TextLog, APipeIsRefusedRatherThanRiskingAStall) {
    const std::string fifo = TempPath("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TTextLog log;
    EXPECT_FALSE(log.Start(fifo)); // no reader: refused at once, never waited for
    ::unlink(fifo.c_str());
}
#endif
