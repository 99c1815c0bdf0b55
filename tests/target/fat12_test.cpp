// Reading a FAT12 floppy as the target does: boot sector, root directory, cluster chains.
#include "fakes.h"
#include "fat12.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TargetFat12, BootSectorOfAFreshFloppyGivesItsGeometryAndLayout) {
    const TFatImage img = MakeFatImage();
    ASSERT_EQ(img.bytes.size(), 1474560u);
    TBootInfo b;
    std::string why;
    ASSERT_TRUE(ParseBootSector(img.bytes.data(), b, &why)) << why;
    EXPECT_EQ(b.bytes_per_sector, 512);
    EXPECT_EQ(b.sectors_per_track, 18);
    EXPECT_EQ(b.heads, 2);
    EXPECT_EQ(b.total_sectors, 2880u);
    EXPECT_EQ(b.Cylinders(), 80u);
    EXPECT_EQ(b.label, "QUORVIK");
    EXPECT_EQ(b.fs_type, "FAT12");
    EXPECT_TRUE(b.IsFat12());
}

TEST(TargetFat12, RootDirectoryListsTheCopiedFilesAndTheirContentFollowsTheChain) {
    const TFatImage img = MakeFatImage();
    TBootInfo b;
    ASSERT_TRUE(ParseBootSector(img.bytes.data(), b, nullptr));
    const uint8_t* root = img.bytes.data() + size_t(b.RootDirLba()) * 512;
    const auto entries = ParseDirectory(root, size_t(b.RootDirSectors()) * 512);
    const TDirEntry* readme = nullptr;
    const TDirEntry* hello = nullptr;
    for (const auto& e : entries) {
        if (e.name == "README.TXT") readme = &e;
        if (e.name == "HELLO.TXT") hello = &e;
    }
    ASSERT_TRUE(readme && hello);
    EXPECT_EQ(readme->size, img.readme.size());
    EXPECT_EQ(hello->size, img.hello.size());
    EXPECT_EQ(FormatDirLine(*hello).substr(0, 22), "HELLO    TXT        24");

    const uint8_t* fat = img.bytes.data() + size_t(b.reserved_sectors) * 512;
    const auto chain = ClusterChain(fat, size_t(b.sectors_per_fat) * 512, readme->first_cluster,
                                    b.Clusters(), 1000);
    ASSERT_EQ(chain.size(), (img.readme.size() + 511) / 512);
    std::string content;
    for (uint16_t c : chain)
        content.append(reinterpret_cast<const char*>(img.bytes.data()) +
                           size_t(b.DataLba() + c - 2) * 512,
                       512);
    EXPECT_EQ(content.substr(0, img.readme.size()), img.readme);
}

TEST(TargetFat12, Fat12EntriesArePackedTwoInThreeBytes) {
    // Entries 0-3: FF0 FFF 003 004, then 5 -> FFF.
    const auto fat = Hex("F0 FF FF 03 40 00 FF 0F");
    EXPECT_EQ(Fat12Entry(fat.data(), fat.size(), 2), 0x003);
    EXPECT_EQ(Fat12Entry(fat.data(), fat.size(), 3), 0x004);
    EXPECT_EQ(Fat12Entry(fat.data(), fat.size(), 4), 0xFFF);
    EXPECT_EQ(Fat12Entry(fat.data(), fat.size(), 200), 0xFFF) << "outside the table";
    const auto chain = ClusterChain(fat.data(), fat.size(), 2, 100, 10);
    EXPECT_EQ(chain, (std::vector<uint16_t>{2, 3, 4}));
}

TEST(TargetFat12, ChainsEndAtALoopAtTheLimitAndOutsideTheDisk) {
    // 2 -> 3 -> 2: a loop.
    const auto loop = Hex("F0 FF FF 03 20 00");
    EXPECT_EQ(ClusterChain(loop.data(), loop.size(), 2, 100, 10), (std::vector<uint16_t>{2, 3}));
    // 2 -> 3 -> 4 -> end, cut at 2 clusters.
    const auto fat = Hex("F0 FF FF 03 40 00 FF 0F");
    EXPECT_EQ(ClusterChain(fat.data(), fat.size(), 2, 100, 2).size(), 2u);
    // Cluster 3 is beyond a disk of 1 cluster.
    EXPECT_EQ(ClusterChain(fat.data(), fat.size(), 2, 1, 10), (std::vector<uint16_t>{2}));
}

TEST(TargetFat12, LogicalSectorsMapToCylinderHeadSector) {
    EXPECT_EQ(ChsOfLba(0, 18, 2), (TChs{0, 0, 1}));
    EXPECT_EQ(ChsOfLba(17, 18, 2), (TChs{0, 0, 18}));
    EXPECT_EQ(ChsOfLba(18, 18, 2), (TChs{0, 1, 1}));
    EXPECT_EQ(ChsOfLba(36, 18, 2), (TChs{1, 0, 1}));
    EXPECT_EQ(ChsOfLba(2879, 18, 2), (TChs{79, 1, 18}));
}

TEST(TargetFat12, BootSectorsWithoutUsableGeometryAreRefusedWithAReason) {
    const TFatImage img = MakeFatImage();
    ASSERT_GE(img.bytes.size(), 512u);
    auto patched = [&](size_t off, uint16_t v) {
        std::vector<uint8_t> s(img.bytes.begin(), img.bytes.begin() + 512);
        s[off] = uint8_t(v);
        s[off + 1] = uint8_t(v >> 8);
        return s;
    };
    TBootInfo b;
    std::string why;
    EXPECT_FALSE(ParseBootSector(patched(11, 1024).data(), b, &why));
    EXPECT_EQ(why, "sector size is not 512");
    EXPECT_FALSE(ParseBootSector(patched(24, 0).data(), b, &why));
    EXPECT_FALSE(ParseBootSector(patched(26, 0).data(), b, &why));
    // 2880 sectors on 1 sector per track and 2 heads: 1440 cylinders, more than CH holds.
    EXPECT_FALSE(ParseBootSector(patched(24, 1).data(), b, &why));
    EXPECT_EQ(why, "more cylinders than a request can address");
}
