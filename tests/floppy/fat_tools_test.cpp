// The images built here, read by tools that share nothing with this code: Debian's fsck.fat
// (dosfstools) and mtools' mdir and mcopy.
#include "test_dir.h"
#include "disk_target.h"
#include "fat_format.h"
#include "folder_image.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct TRun {
    int status = -1;
    std::string output;
};

TRun Shell(const std::string& command) {
    TRun r;
    FILE* p =
        popen(("PATH=$PATH:/usr/sbin:/sbin MTOOLS_SKIP_CHECK=1 " + command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        r.output.append(buf, n);
    r.status = pclose(p);
    return r;
}

void WriteText(const std::string& path, const std::string& text) {
    WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// Sets a file's modification time to a local date and time.
void SetLocalTime(const std::string& path, int year, int month, int day, int hour, int minute,
                  int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class FatTools : public ::testing::Test {
  protected:
    std::string Image(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = TestPath(name);
        WriteFileBytes(path, bytes);
        return path;
    }
    void ExpectClean(const std::string& image) {
        const TRun fsck = Shell("fsck.fat -n '" + image + "'");
        EXPECT_EQ(fsck.status, 0) << fsck.output;
        EXPECT_THAT(fsck.output, Not(HasSubstr("Free cluster summary wrong")));
    }
};

} // namespace

TEST_F(FatTools, EveryBlankFormatIsCleanForFsckAndEmptyForMdir) {
    for (const TFatFormat& f : FatFormats()) {
        SCOPED_TRACE(f.name);
        const std::string image = TestPath(std::string(f.name) + ".img");
        ASSERT_EQ(WriteBlankImage(image, f, "Blank disk"), "");
        ExpectClean(image);
        const TRun mdir = Shell("mdir -i '" + image + "' ::");
        EXPECT_THAT(mdir.output, HasSubstr("Volume in drive : is BLANK DISK"));
        EXPECT_THAT(mdir.output, HasSubstr("No files"));
        const TRun info = Shell("minfo -i '" + image + "' ::");
        EXPECT_THAT(info.output,
                    HasSubstr("sectors per track: " + std::to_string(f.sectors_per_track)));
    }
}

TEST_F(FatTools, AFolderWithLongNamesSubfoldersAndDatesReadsBackWhole) {
    const std::string folder = TestPath("Project files");
    std::filesystem::create_directories(folder + "/Sub folder/deeper");
    std::filesystem::create_directories(folder + "/empty");
    const std::vector<uint8_t> big = RandomBytes(70000, 5);
    WriteFileBytes(folder + "/Sub folder/deeper/data.bin", big);
    WriteText(folder + "/README.TXT", "read me\r\n");
    WriteText(folder + "/readme lower.txt", "lower\r\n");
    WriteText(folder + "/A long name that takes three entries.txt", "three\r\n");
    for (int i = 1; i <= 3; ++i)
        WriteText(folder + "/Report " + std::to_string(i) + ".txt", "r");
    WriteText(folder + "/empty.txt", "");
    SetLocalTime(folder + "/README.TXT", 2021, 3, 4, 5, 6, 8);
    SetLocalTime(folder + "/Sub folder/deeper/data.bin", 1999, 12, 31, 23, 59, 58);

    const TFolderImage built = BuildFolderImage(folder, 0xCAFE);
    ASSERT_TRUE(built.Built()) << ::testing::PrintToString(built.left_out);
    EXPECT_STREQ(built.format->name, "1.44M");
    EXPECT_EQ(built.files, 7u);
    EXPECT_EQ(built.folders, 3u);
    const std::string image = Image("project.img", built.bytes);
    ExpectClean(image);

    const TRun top = Shell("mdir -i '" + image + "' ::");
    EXPECT_THAT(top.output, HasSubstr("Volume in drive : is PROJECT FIL"));
    EXPECT_THAT(top.output, HasSubstr("A long name that takes three entries.txt"));
    EXPECT_THAT(top.output, HasSubstr("REPORT~3 TXT         1 "));
    EXPECT_THAT(top.output, HasSubstr("Report 3.txt"));
    EXPECT_THAT(top.output, HasSubstr("README   TXT         9 2021-03-04   5:06"));
    EXPECT_THAT(top.output, HasSubstr("Sub folder"));
    const TRun deep = Shell("mdir -i '" + image + "' '::Sub folder/deeper'");
    EXPECT_THAT(deep.output, HasSubstr("data     bin     70000 1999-12-31  23:59"));

    const std::string out = TestPath("data.out");
    const TRun copy =
        Shell("mcopy -n -i '" + image + "' '::Sub folder/deeper/data.bin' '" + out + "'");
    ASSERT_EQ(copy.status, 0) << copy.output;
    EXPECT_EQ(ReadFileBytes(out), big);
    EXPECT_EQ(Shell("mtype -i '" + image + "' '::readme lower.txt'").output, "lower\r\n");
}

TEST_F(FatTools, AFolderThatDoesNotFitIsLeftOutWholeWithWhatWouldNotFit) {
    const std::string folder = TestPath("big");
    std::filesystem::create_directories(folder);
    WriteFileBytes(folder + "/first.bin", RandomBytes(2'000'000, 1));
    WriteFileBytes(folder + "/second.bin", RandomBytes(1'500'000, 2));
    WriteText(folder + "/small.txt", "small");
    const TFolderImage built = BuildFolderImage(folder, 1);
    EXPECT_FALSE(built.Built());
    ASSERT_EQ(built.left_out.size(), 2u) << ::testing::PrintToString(built.left_out);
    EXPECT_THAT(built.left_out[0], HasSubstr("does not fit on a 2.88 MB"));
    EXPECT_EQ(built.left_out[1], "second.bin: does not fit (1465 KB)");

    // Just below what 2.88 MB holds: built, in that format, and clean.
    std::filesystem::remove(folder + "/second.bin");
    WriteFileBytes(folder + "/second.bin", RandomBytes(908 * 1024 - 100, 2)); // what is left
    const TFolderImage fits = BuildFolderImage(folder, 1);
    ASSERT_TRUE(fits.Built()) << ::testing::PrintToString(fits.left_out);
    EXPECT_STREQ(fits.format->name, "2.88M");
    ExpectClean(Image("fits.img", fits.bytes));
}

TEST_F(FatTools, NamesFatCannotHoldLinksAndCaseTwinsAreAllListedAndNothingIsBuilt) {
    const std::string folder = TestPath("odd");
    std::filesystem::create_directories(folder + "/sub");
    WriteText(folder + "/a:b.txt", "x");
    WriteText(folder + "/sub/what?", "x");
    WriteText(folder + "/Case.txt", "x");
    WriteText(folder + "/case.TXT", "x");
    WriteText(folder + "/fine.txt", "x");
    ASSERT_EQ(symlink("fine.txt", (folder + "/link.txt").c_str()), 0);
    ASSERT_EQ(mkfifo((folder + "/pipe").c_str(), 0600), 0);
    const TFolderImage built = BuildFolderImage(folder, 1);
    EXPECT_FALSE(built.Built());
    EXPECT_TRUE(built.bytes.empty());
    EXPECT_THAT(built.left_out,
                ::testing::UnorderedElementsAre(
                    "a:b.txt: its name holds ':', which FAT cannot hold",
                    "sub/what?: its name holds '?', which FAT cannot hold",
                    HasSubstr("only in letter case"), HasSubstr("link.txt: a symbolic link"),
                    HasSubstr("pipe: neither a file nor a folder")));
}
