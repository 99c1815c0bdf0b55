// A folder's floppy read back, and what changed between two of its states kept beside it, on
// both platforms (names beyond ASCII travel as UTF-8 in the program, wide on Windows).
#include "test_dir.h"
#include "disk_target.h"
#include "fat_reader.h"
#include "floppy_source.h"
#include "folder_changes.h"
#include "folder_image.h"
#include "host_path.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void Put(const std::string& path, const std::string& text) {
    std::ofstream(HostPath(path), std::ios::binary) << text;
}

std::string Get(const std::string& path) {
    std::ifstream in(HostPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string kUbung = "\xc3\x9c"
                           "bung \xe2\x9c\x93.txt"; // "Übung ✓.txt"

} // namespace

TEST(FolderChanges, WhatOneStateOfAFolderAddsToAnotherIsKeptBesideItUnderItsOwnNames) {
    const std::string a = TestPath("Caf\xc3\xa9"), b = TestPath("later");
    fs::create_directories(HostPath(a + "/docs"));
    Put(a + "/" + kUbung, "eins");
    Put(a + "/docs/notes.txt", "first");
    Put(a + "/gone.txt", "bye");
    const TFolderImage before = BuildFolderImage(a, 1);
    ASSERT_TRUE(before.Built()) << ::testing::PrintToString(before.left_out);

    TFatTree tree;
    ASSERT_TRUE(ReadFatTree(before.bytes.data(), before.bytes.size(), &tree, nullptr));
    EXPECT_EQ(tree.label, "CAF\xc3\x89"); // É in code page 437
    ASSERT_EQ(tree.root.size(), 3u);
    EXPECT_EQ(tree.root[2].name, kUbung);
    EXPECT_EQ(std::string(tree.root[2].data.begin(), tree.root[2].data.end()), "eins");

    // The target's state, made as a second build: one file changed, one new, one gone.
    fs::create_directories(HostPath(b + "/docs"));
    Put(b + "/" + kUbung, "eins und zwei");
    Put(b + "/docs/notes.txt", "first");
    Put(b + "/docs/Neu \xc3\xa4.txt", "neu");
    const TFolderImage after = BuildFolderImage(b, 1);
    ASSERT_TRUE(after.Built());

    const TChangesReport report =
        WriteChangesBeside(a, before.bytes, after.bytes, TLocalTime{2027, 1, 2, 3, 4, 5});
    ASSERT_TRUE(report.ok) << report.summary;
    EXPECT_TRUE(
        fs::equivalent(HostPath(report.folder), HostPath(a + "-from-target-20270102-030405")))
        << report.folder;
    EXPECT_EQ(Get(report.folder + "/" + kUbung), "eins und zwei");
    EXPECT_EQ(Get(report.folder + "/docs/Neu \xc3\xa4.txt"), "neu");
    EXPECT_FALSE(fs::exists(HostPath(report.folder + "/docs/notes.txt")));
    EXPECT_THAT(Get(report.folder + "/CHANGES.TXT"), ::testing::HasSubstr("gone.txt"));
    EXPECT_EQ(Get(a + "/" + kUbung), "eins") << "the chosen folder is not written";

    // The same second again: a folder of its own, never the first one.
    const TChangesReport again =
        WriteChangesBeside(a, before.bytes, after.bytes, TLocalTime{2027, 1, 2, 3, 4, 5});
    EXPECT_EQ(again.folder, report.folder + "-2");
}

TEST(FolderChanges, AnImageTheTargetLeftUnreadableIsKeptWhole) {
    const std::string a = TestPath("disk");
    fs::create_directories(HostPath(a));
    Put(a + "/a.txt", "a");
    const TFolderImage built = BuildFolderImage(a, 1);
    ASSERT_TRUE(built.Built());
    std::vector<uint8_t> wiped = built.bytes;
    std::fill(wiped.begin(), wiped.begin() + 512, 0); // no boot sector any more
    const TChangesReport report = WriteChangesBeside(a, built.bytes, wiped, TLocalTime{});
    ASSERT_TRUE(report.ok) << report.summary;
    EXPECT_THAT(report.summary, ::testing::HasSubstr("the whole image went to"));
    EXPECT_TRUE(ReadFileBytes(report.folder + "/floppy.img") == wiped);
}

// The session as the window will drive it: a folder attached, written to by the target, its
// changes kept at Disconnect and its floppy saved as an image; a folder that cannot be built
// and a new blank image.
TEST_F(FloppyTest, ASessionServesAFolderKeepsItsChangesAndSavesItsImage) {
    const std::string folder = TestPath("served");
    fs::create_directories(HostPath(folder));
    Put(folder + "/a.txt", "a");
    TFloppySession session;
    rig.link.stop_request = false;
    rig.port.open = true;
    EXPECT_TRUE(session.Attach(TFloppySource::Folder(folder), service).empty());
    ASSERT_TRUE(service.ImageAttached());
    TDiskOp& write = target.Add(WriteOp(70, 1, 1, 3, 4)); // clusters no file uses
    Serve();
    ASSERT_EQ(write.replies.size(), 2u);
    Disconnect();
    const std::string line = session.Detach(TLocalTime{2027, 5, 6, 7, 8, 9});
    EXPECT_EQ(line, "The target changed no file on the floppy of " + folder +
                        "; it wrote sectors that no file holds: save the floppy as an image to "
                        "keep them.");
    ASSERT_EQ(session.SaveAsImage(TestPath("saved.img")), "");
    const std::vector<uint8_t> saved = ReadFileBytes(TestPath("saved.img"));
    ASSERT_EQ(saved.size(), 1474560u);
    EXPECT_TRUE(
        std::equal(write.data.begin(), write.data.end(), saved.begin() + (70 * 2 + 1) * 18 * 512));

    Put(folder + "/big.bin", std::string(3'000'000, 'b')); // more than 2.88 MB
    const std::vector<std::string> refused = session.Attach(TFloppySource::Folder(folder), service);
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_THAT(refused[1], ::testing::HasSubstr("does not fit on a 2.88 MB"));
    EXPECT_THAT(refused[2], ::testing::HasSubstr("big.bin: does not fit"));
    EXPECT_FALSE(service.ImageAttached());

    const std::string blank = TestPath("new.img");
    EXPECT_TRUE(
        session.Attach(TFloppySource::NewBlank(blank, FindFatFormat("720K"), "new"), service)
            .empty());
    EXPECT_TRUE(service.ImageAttached());
    EXPECT_EQ(service.Image().Geometry().total_sectors, 1440u);
    EXPECT_EQ(ReadFileBytes(blank).size(), 737280u);
}
