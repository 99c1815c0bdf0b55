// New blank images in every format: identified by the console with the geometry of their
// format, and served from memory like a file.
#include "disk_target.h"
#include "fat_format.h"
#include "fat_reader.h"
#include "frame.h"

#include <cstring>

#include <gmock/gmock.h>

using ::testing::HasSubstr;

TEST(FatFormats, TheTableNamesEveryFormatAsACommandLineTakesIt) {
    EXPECT_EQ(FatFormatNames(), "360K 720K 1.2M 1.44M 2.88M");
    ASSERT_NE(FindFatFormat("1.44m"), nullptr);
    EXPECT_EQ(FindFatFormat("1.44m")->total_sectors, 2880);
    EXPECT_EQ(FindFatFormat("1.4M"), nullptr);
    EXPECT_EQ(FindFatFormat(""), nullptr);
}

TEST_F(FloppyTest, EveryBlankFormatIsIdentifiedWithItsGeometryAndReadsAsAnEmptyLabelledDisk) {
    for (const TFatFormat& f : FatFormats()) {
        SCOPED_TRACE(f.name);
        const std::vector<uint8_t> blank = BlankFatImage(f, "BLANK      ", 0x12345678, 0x5A21, 0);
        ASSERT_EQ(blank.size(), f.ImageBytes());
        auto memory = std::make_shared<TMemoryImage>(blank);
        rig.screen.ClearScreen();
        rig.link.stop_request = false;
        rig.port.open = true;
        service.OpenMemoryImage(memory, f.name);
        service.AllocTrackBuffer();
        const std::string screen = ScreenText(rig.screen);
        EXPECT_THAT(screen,
                    HasSubstr("Total Sectors:       " + std::to_string(f.total_sectors) + " "));
        EXPECT_THAT(screen,
                    HasSubstr("Sectors Per Track:   " + std::to_string(f.sectors_per_track) + " "));
        EXPECT_EQ(service.Image().Geometry().total_sectors, f.total_sectors);
        EXPECT_EQ(service.Image().NumSector(), f.sectors_per_track);

        // The last track read and written through the exchange, against the memory image.
        const uint8_t last_cylinder = uint8_t(f.total_sectors / f.sectors_per_track / 2 - 1);
        TDiskOp& write = target.Add(WriteOp(last_cylinder, 1, 1, uint8_t(f.sectors_per_track), 9));
        TDiskOp& read = target.Add(ReadOp(last_cylinder, 1, 1, uint8_t(f.sectors_per_track)));
        Serve();
        EXPECT_EQ(read.read_data, write.data);
        const size_t at = f.ImageBytes() - f.sectors_per_track * 512u;
        EXPECT_TRUE(
            std::equal(write.data.begin(), write.data.end(), memory->Bytes().begin() + long(at)));
        EXPECT_TRUE(std::equal(blank.begin(), blank.begin() + long(at), memory->Bytes().begin()));
        Disconnect();

        TFatTree tree;
        std::string why;
        ASSERT_TRUE(ReadFatTree(blank.data(), blank.size(), &tree, &why)) << why;
        EXPECT_EQ(tree.label, "BLANK");
        EXPECT_TRUE(tree.root.empty());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(blank.data()) + 0x66, 20),
                  "\r\nNot a system disk.");
    }
}

TEST_F(FloppyTest, AMemoryImageRefusesAWriteOffItsEndAndIsNotAttachedWhenShorterThanASector) {
    auto tiny = std::make_shared<TMemoryImage>(std::vector<uint8_t>(100, 0));
    service.OpenMemoryImage(tiny, "tiny");
    EXPECT_FALSE(service.ImageAttached());
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("Can not open image file tiny"));

    // A boot sector that claims more sectors than the memory holds: the last ones are not there.
    std::vector<uint8_t> short_image =
        BlankFatImage(*FindFatFormat("720K"), "NO NAME    ", 1, 0, 0);
    short_image.resize(short_image.size() - 9 * 512);
    auto memory = std::make_shared<TMemoryImage>(short_image);
    rig.link.stop_request = false;
    service.OpenMemoryImage(memory, "short");
    service.AllocTrackBuffer();
    TDiskOp& off_end = target.Add(WriteOp(79, 1, 1, 9, 3));
    Serve();
    ASSERT_EQ(off_end.replies.size(), 2u);
    EXPECT_EQ(off_end.replies.at(1)[6], kDiskControllerFailure);
    EXPECT_EQ(memory->Bytes(), short_image);
}

// What a target may leave behind: every root entry claiming the same chain of the whole disk,
// and an entry without a name. The reading stays within twice the disk and says what it cut.
TEST(FatReader, DamagedEntriesAreToldAndTheReadingStaysBounded) {
    const TFatFormat& f = *FindFatFormat("1.44M");
    std::vector<uint8_t> image = BlankFatImage(f, "NO NAME    ", 1, 0, 0);
    for (int copy = 0; copy < 2; ++copy)
        for (uint32_t c = 2; c < f.Clusters() + 2; ++c)
            SetFat12(image.data() + f.FatSector(copy) * 512, c,
                     uint16_t(c + 1 < f.Clusters() + 2 ? c + 1 : 0xFFF));
    uint8_t* root = image.data() + f.RootSector() * 512;
    for (uint32_t i = 0; i < f.root_entries; ++i) {
        uint8_t* e = root + i * 32;
        std::memcpy(e, i == 0 ? "           " : "FILE    BIN", 11);
        if (i) {
            e[6] = uint8_t('A' + i / 26);
            e[7] = uint8_t('A' + i % 26);
        }
        Put16(e + 26, 2);
        Put16(e + 28, 0xFFFF);
        Put16(e + 30, 0x00FF); // 16 MB claimed
    }
    TFatTree tree;
    ASSERT_TRUE(ReadFatTree(image.data(), image.size(), &tree, nullptr));
    ASSERT_EQ(tree.root.size(), f.root_entries - 1u);
    size_t read = 0;
    for (const TFatNode& n : tree.root)
        read += n.data.size();
    EXPECT_LE(read, 2u * f.Clusters() * 512);
    EXPECT_GE(tree.damage.size(), 2u);
    EXPECT_NE(tree.damage.at(0).find("an entry without a name"), std::string::npos);
}
