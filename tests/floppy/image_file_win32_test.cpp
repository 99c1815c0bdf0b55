// The image file on Windows: positioned transfers, wide file names, read-only attach.
#include "disk_target.h"
#include "image_file.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

namespace {

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string u8 = path.u8string();
    return std::string(u8.begin(), u8.end());
}

class ImageFileWin32 : public ::testing::Test {
  protected:
    TImageFile file;
};

} // namespace

TEST_F(ImageFileWin32, PositionedWritesAndReadsMeetTheFileAndAWritePastTheEndExtendsIt) {
    const std::string path = TestPath("disk.img");
    std::vector<uint8_t> expected = RandomBytes(4096, 1);
    WriteFileBytes(path, expected);
    ASSERT_EQ(file.Open(path.c_str()), omReadWrite);

    const std::vector<uint8_t> middle = RandomBytes(512, 2);
    ASSERT_TRUE(file.Seek(1536));
    ASSERT_TRUE(file.Write(middle.data(), middle.size()));
    std::copy(middle.begin(), middle.end(), expected.begin() + 1536);
    const std::vector<uint8_t> tail = RandomBytes(700, 3);
    ASSERT_TRUE(file.Seek(5000)); // past the end: the gap reads as zeros
    ASSERT_TRUE(file.Write(tail.data(), tail.size()));
    expected.resize(5000, 0);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_TRUE(file.Sync());

    std::vector<uint8_t> back(8192, 0xEE);
    ASSERT_TRUE(file.Seek(1000));
    ASSERT_EQ(file.Read(back.data(), back.size()), 5700 - 1000); // fewer only at the end
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 4700, expected.begin() + 1000));
    // Each transfer moves the position on.
    ASSERT_TRUE(file.Seek(0));
    ASSERT_EQ(file.Read(back.data(), 100), 100);
    ASSERT_EQ(file.Read(back.data() + 100, 100), 100);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 200, expected.begin()));

    file.Close();
    EXPECT_EQ(ReadFileBytes(path), expected);
    EXPECT_FALSE(file.Seek(-1));
}

TEST_F(ImageFileWin32, NamesOutsideAsciiAreOpenedThroughTheirUtf8Path) {
    const std::filesystem::path wide =
        std::filesystem::path(TestDir()) / std::filesystem::path(u8"Disk \u00c4\u00df-\u0434\u0438\u0441\u043a-\u8f6f\u76d8.img");
    const std::vector<uint8_t> bytes = RandomBytes(1024, 4);
    {
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
        CloseHandle(h);
    }
    ASSERT_EQ(file.Open(Utf8(wide).c_str()), omReadWrite);
    std::vector<uint8_t> back(1024);
    ASSERT_EQ(file.Read(back.data(), back.size()), 1024);
    EXPECT_EQ(back, bytes);

    TImageFile bad;
    EXPECT_EQ(bad.Open("disk-\xff\xfe.img"), omClosed); // not UTF-8
    EXPECT_EQ(bad.LastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST_F(ImageFileWin32, MissingFileFailsWithTheSystemsErrorNumber) {
    EXPECT_EQ(file.Open(TestPath("missing.img").c_str()), omClosed);
    EXPECT_EQ(file.LastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(ImageFileWin32, FileThatAnotherProgramKeepsFromWritingIsAttachedReadOnly) {
    const std::string path = TestPath("held.img");
    const std::vector<uint8_t> bytes = RandomBytes(2048, 5);
    WriteFileBytes(path, bytes);
    // Another program reads it and lets nobody else write it.
    const std::wstring wide = std::filesystem::path(path).wstring();
    HANDLE other = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);

    ASSERT_EQ(file.Open(path.c_str()), omReadOnly);
    std::vector<uint8_t> back(2048);
    ASSERT_EQ(file.Read(back.data(), back.size()), 2048);
    EXPECT_EQ(back, bytes);
    ASSERT_TRUE(file.Seek(0));
    EXPECT_FALSE(file.Write(bytes.data(), 512));
    EXPECT_NE(file.LastError(), 0);
    file.Close();
    CloseHandle(other);
    EXPECT_EQ(ReadFileBytes(path), bytes);
}
