// The termios flags composed from the settings, including those a pseudo-terminal will not
// keep (character size, parity enable).
#include "comm_posix_line.h"

#include <asm/termbits.h>

#include <gtest/gtest.h>

namespace {

TLineFlags Cooked() {
    TLineFlags f;
    f.iflag = ICRNL | IXON | IXANY;
    f.oflag = OPOST | ONLCR;
    f.cflag = B38400 | CS8 | CREAD | HUPCL;
    f.lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    f.cc[VMIN] = 4;
    f.cc[VTIME] = 3;
    return f;
}

TLineFlags Composed(const TLineSettings& s) {
    TLineFlags f = Cooked();
    EXPECT_EQ(LineCompose(s, &f), 0);
    return f;
}

TEST(LineCompose, RawModeReadsFromTheFirstByteWithoutAnyProcessing) {
    TLineSettings s;
    s.flow = fcNone;
    const TLineFlags f = Composed(s);
    EXPECT_EQ(f.lflag & (ISIG | ICANON | ECHO | IEXTEN), 0u);
    EXPECT_EQ(f.oflag & OPOST, 0u);
    EXPECT_EQ(f.iflag & (ICRNL | IXON | IXANY), 0u);
    EXPECT_EQ(f.cflag & (CREAD | CLOCAL), static_cast<uint32_t>(CREAD | CLOCAL));
    EXPECT_EQ(f.cc[VMIN], 1);
    EXPECT_EQ(f.cc[VTIME], 0);
    EXPECT_EQ(f.cflag & CBAUD, static_cast<uint32_t>(B9600));
    EXPECT_EQ(f.ospeed, 9600u);
}

TEST(LineCompose, DataBitsAndParityGoIntoTheControlFlags) {
    TLineSettings s;
    const struct {
        TDataBits bits;
        uint32_t size;
    } sizes[] = {{da5, CS5}, {da6, CS6}, {da7, CS7}, {da8, CS8}};
    for (auto c : sizes) {
        s.data_bits = c.bits;
        EXPECT_EQ(Composed(s).cflag & CSIZE, c.size) << int(c.bits);
    }
    const struct {
        TParity parity;
        uint32_t bits;
    } parities[] = {{paNone, 0},
                    {paOdd, PARENB | PARODD},
                    {paEven, PARENB},
                    {paMark, PARENB | PARODD | CMSPAR},
                    {paSpace, PARENB | CMSPAR}};
    for (auto c : parities) {
        s.parity = c.parity;
        EXPECT_EQ(Composed(s).cflag & (PARENB | PARODD | CMSPAR), c.bits) << int(c.parity);
    }
}

TEST(LineCompose, ImpossibleSettingsAreRefusedAndLeaveTheFlagsAlone) {
    TLineSettings s;
    s.data_bits = da4;
    TLineFlags f = Cooked();
    EXPECT_EQ(LineCompose(s, &f), EINVAL);
    EXPECT_EQ(f.lflag, Cooked().lflag);
    s.data_bits = da8;
    for (int64_t bps : {int64_t{0}, int64_t{-300}, int64_t{1} << 32}) {
        s.bits_per_second = bps;
        EXPECT_EQ(LineCompose(s, &f), EINVAL) << bps;
    }
}

TEST(LineCompose, SpeedsWithoutAStandardCodeGoAsTheirNumberForBothDirections) {
    TLineSettings s;
    s.bits_per_second = 250000;
    TLineFlags f = Composed(s);
    EXPECT_EQ(f.cflag & CBAUD, static_cast<uint32_t>(BOTHER));
    EXPECT_EQ(f.cflag & CIBAUD, 0u);
    EXPECT_EQ(f.ospeed, 250000u);
    EXPECT_EQ(f.ispeed, 250000u);
    s.bits_per_second = 921600;
    f = Composed(s);
    EXPECT_EQ(f.cflag & CBAUD, static_cast<uint32_t>(B921600));
}

} // namespace
