// Attaching and identifying images, geometry, addressing and the track buffer.
#include "disk_target.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct TFloppySize {
    int kib;
    uint32_t sectors_per_track;
    const char* total_line;
};

class FloppySizes : public FloppyTest, public ::testing::WithParamInterface<TFloppySize> {};

// Offset of a sector in a 512-byte, 2-head image, as the target's BIOS addresses it.
uint64_t Offset(const TFloppySize& size, int cylinder, int head, int sector) {
    return ((uint64_t(cylinder) * 2 + head) * size.sectors_per_track + sector - 1) * 512;
}

} // namespace

TEST_P(FloppySizes, MkfsImageIsIdentifiedAndEveryReadLengthMatchesTheFile) {
    const TFloppySize size = GetParam();
    const std::string path = FatImage(size.kib);
    Connect(path);
    const std::string screen = ScreenText(rig.screen);
    EXPECT_THAT(screen, HasSubstr("Bytes Per Sector:    512 "));
    EXPECT_THAT(screen, HasSubstr(size.total_line));
    EXPECT_THAT(screen,
                HasSubstr("Sectors Per Track:   " + std::to_string(size.sectors_per_track) + " "));
    EXPECT_THAT(screen, HasSubstr("Number of Heads:     2 "));

    std::vector<TDiskOp*> reads;
    for (uint32_t n = 1; n <= size.sectors_per_track; ++n)
        reads.push_back(&target.Add(ReadOp(n * 2, n % 2, 1 + (n * 7) % size.sectors_per_track, n)));
    Serve();
    for (TDiskOp* op : reads) {
        SCOPED_TRACE("read of " + std::to_string(op->count) + " sectors");
        ASSERT_EQ(op->replies.size(), 1u);
        EXPECT_EQ(op->replies.at(0)[6], 0x00);
        EXPECT_EQ(op->read_data, FileSlice(path, Offset(size, op->cylinder, op->head, op->sector),
                                           op->count * 512u));
        EXPECT_EQ(op->malformed, 0);
    }
}

TEST_P(FloppySizes, WritesOfEveryLengthReachTheFileAndNothingElse) {
    const TFloppySize size = GetParam();
    const std::string path = FatImage(size.kib);
    std::vector<uint8_t> expected = ReadFileBytes(path);
    Connect(path);
    std::vector<TDiskOp*> writes;
    for (uint32_t n = 1; n <= size.sectors_per_track; ++n) {
        TDiskOp& op = target.Add(WriteOp(n + 3, n % 2, 1 + (n * 5) % size.sectors_per_track, n, n));
        std::copy(op.data.begin(), op.data.end(),
                  expected.begin() + Offset(size, op.cylinder, op.head, op.sector));
        writes.push_back(&op);
    }
    Serve();
    for (TDiskOp* op : writes) {
        SCOPED_TRACE("write of " + std::to_string(op->count) + " sectors");
        ASSERT_EQ(op->replies.size(), 2u);
        EXPECT_EQ(op->replies.at(1)[6], 0x00);
        EXPECT_EQ(op->replies.at(1)[13], 0x00);
    }
    EXPECT_TRUE(ReadFileBytes(path) == expected);
}

INSTANTIATE_TEST_SUITE_P(Floppies, FloppySizes,
                         ::testing::Values(TFloppySize{720, 9, "Total Sectors:       1440 "},
                                           TFloppySize{1440, 18, "Total Sectors:       2880 "},
                                           TFloppySize{2880, 36, "Total Sectors:       5760 "}),
                         [](const auto& info) { return std::to_string(info.param.kib) + "K"; });

TEST_F(FloppyTest, HandMadeFat16AndFat32BootSectorsAreIdentified) {
    Connect(HandMade("fat16.img", BootSectorImage(512, 40000, 63, 16, "FAT16   ", "", 4)));
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("Total Sectors:       40000 "));
    EXPECT_EQ(service.Image().NumSector(), 63u);
    Disconnect();

    Connect(HandMade("fat32.img", BootSectorImage(512, 0, 32, 64, "", "FAT32   ", 4)));
    EXPECT_EQ(service.Image().NumSector(), 32u);
    EXPECT_EQ(service.Image().Geometry().heads, 64u);
    EXPECT_THAT(ScreenText(rig.screen), Not(HasSubstr("Can't Identify image")));
}

TEST_F(FloppyTest, UnidentifiedImageStaysAttachedWithTheGeometryOfTheLastIdentifiedOne) {
    Connect(FatImage(1440));
    Disconnect();
    // "FAT1" followed by neither '2' nor '6' is no FAT type, even with "FAT32" further on.
    Connect(HandMade("odd.img", BootSectorImage(1024, 99, 7, 5, "FAT1x", "FAT32", 8)));
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("Can't Identify image"));
    EXPECT_TRUE(service.ImageAttached());
    EXPECT_EQ(service.Image().Geometry().bytes_per_sector, 512u);
    EXPECT_EQ(service.Image().NumSector(), 18u);
    EXPECT_EQ(service.Image().Geometry().heads, 2u);
    // The target's status query counts it as attached.
    rig.StepDeliver(Hex("1B 53"));
    Serve();
    EXPECT_EQ(ToHex(rig.port.written), "55");
}

TEST_F(FloppyTest, MissingFileIsReportedAndNotAttached) {
    const std::string path = TestPath("missing.img");
    Connect(path);
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("Can not open image file " + path));
    EXPECT_FALSE(service.ImageAttached());
}

TEST_F(FloppyTest, SectorAddressesFollowTheGeometry) {
    Connect(FatImage(1440));
    const TFloppyImage& image = service.Image();
    EXPECT_EQ(image.ImageOffset(0, 0, 1), 0);
    EXPECT_EQ(image.ImageOffset(1, 0, 1), 18432);
    EXPECT_EQ(image.ImageOffset(0, 1, 1), 9216);
    EXPECT_EQ(image.ImageOffset(0, 0, 0), -512);
    // Past 2^31 the offset must not wrap: 16-bit heads and sectors per track allow it.
    Connect(HandMade("big.img", BootSectorImage(512, 0, 63, 1024, "", "FAT32", 1)));
    EXPECT_EQ(service.Image().ImageOffset(255, 255, 63), int64_t{8430943744});
}
