// Failures reach the target as error statuses, and the user's image is never lost or corrupted.
#include "disk_target.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// Makes a file unwritable, for root too (file modes do not stop root, an immutable file
// does), and undoes it at destruction.
class TUnwritable {
  public:
    explicit TUnwritable(const std::string& path) : path_(path) {
        chmod(path_.c_str(), 0444);
        if (Writable()) SetImmutable(true);
        holds_ = !Writable();
    }
    ~TUnwritable() {
        if (immutable_) SetImmutable(false);
        chmod(path_.c_str(), 0644);
    }
    bool Holds() const { return holds_; }

  private:
    bool Writable() const {
        const int fd = open(path_.c_str(), O_RDWR);
        if (fd >= 0) close(fd);
        return fd >= 0;
    }
    void SetImmutable(bool on) {
        const int fd = open(path_.c_str(), O_RDONLY);
        if (fd < 0) return;
        int flags = 0;
        if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            if (ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0) immutable_ = on;
        }
        close(fd);
    }

    std::string path_;
    bool immutable_ = false;
    bool holds_ = false;
};

uint8_t Status(const std::vector<uint8_t>& reply) {
    return reply[6];
}
uint8_t Carry(const std::vector<uint8_t>& reply) {
    return reply[13] & 1;
}

} // namespace

TEST_F(FloppyTest, ReadPastTheEndOfTheFileIsServedAsZerosNeverAsStaleData) {
    std::vector<uint8_t> bytes = BootSectorImage(512, 2880, 18, 2, "FAT12   ", "", 20);
    bytes.resize(10 * 512 + 100);
    const std::string path = HandMade("short.img", bytes);
    Connect(path);
    TDiskOp& full = target.Add(ReadOp(0, 0, 1, 8)); // fills the buffer with the file's bytes
    TDiskOp& partly = target.Add(ReadOp(0, 0, 9, 4));
    TDiskOp& beyond = target.Add(ReadOp(1, 0, 1, 18));
    Serve();
    EXPECT_EQ(full.read_data, FileSlice(path, 0, 8 * 512));
    std::vector<uint8_t> padded(bytes.begin() + 8 * 512, bytes.end());
    padded.resize(4 * 512, 0);
    EXPECT_EQ(partly.read_data, padded);
    EXPECT_EQ(Status(partly.replies.at(0)), 0x00);
    EXPECT_EQ(Carry(partly.replies.at(0)), 0);
    EXPECT_EQ(beyond.read_data, std::vector<uint8_t>(18 * 512, 0));
}

TEST_F(FloppyTest, SeekAndReadFailuresAnswerStatus04WithCarryAndNoDataFrames) {
    Connect(FatImage(1440)); // a geometry for the image that cannot be identified
    Disconnect();
    const std::string fifo = dir.Path("pipe.img"); // opens, but cannot seek
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    Connect(fifo);
    ASSERT_TRUE(service.ImageAttached());
    TDiskOp& read = target.Add(ReadOp(0, 0, 1, 2));
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 2, 9));
    Serve();
    ASSERT_EQ(read.writes.size(), 2u);
    EXPECT_EQ(ToHex(read.writes.at(1)), "1B 44 6F 0D 00 02 04 00 7C 01 00 00 00 01 00");
    ASSERT_EQ(write.writes.size(), 5u); // the data is taken, then refused
    EXPECT_EQ(Status(write.writes.at(4)), 0x04);
    EXPECT_EQ(Carry(write.writes.at(4)), 1);
}

TEST_F(FloppyTest, SectorZeroIsAnsweredStatus04WithoutTouchingTheFile) {
    const std::string path = FatImage(1440);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    Connect(path);
    TDiskOp& read = target.Add(ReadOp(0, 0, 0, 1));
    TDiskOp& write =
        target.Add(WriteOp(1, 0, 0, 1, 10)); // would land on the last sector of track 1
    Serve();
    ASSERT_EQ(read.writes.size(), 2u);
    EXPECT_EQ(Status(read.writes.at(1)), 0x04);
    EXPECT_EQ(Carry(read.writes.at(1)), 1);
    ASSERT_EQ(write.writes.size(), 4u);
    EXPECT_EQ(Status(write.writes.at(3)), 0x04);
    EXPECT_TRUE(ReadFileBytes(path) == before);
}

TEST_F(FloppyTest, WriteReachesTheFileBeforeTheFinalReplyAndMayBeRetried) {
    const std::string path = FatImage(1440);
    Connect(path);
    const uint64_t offset = (6 * 2 * 18 + 3) * 512;
    TDiskOp op = WriteOp(6, 0, 4, 5, 11);
    std::vector<uint8_t> seen;
    op.on_final_reply = [&] { seen = FileSlice(path, offset, 5 * 512); };
    op.nak_final_reply = true; // the target missed the reply and will write again
    TDiskOp& naked = target.Add(op);
    op.on_final_reply = nullptr;
    op.nak_final_reply = false;
    TDiskOp& again = target.Add(op);
    TDiskOp& check = target.Add(ReadOp(6, 0, 4, 5));
    Serve();
    EXPECT_EQ(seen, op.data);
    EXPECT_EQ(naked.writes.size(), 8u); // nothing after the NAKed reply
    ASSERT_EQ(again.replies.size(), 2u);
    EXPECT_EQ(Status(again.replies.at(1)), 0x00);
    EXPECT_EQ(Carry(again.replies.at(1)), 0);
    EXPECT_EQ(check.read_data, op.data);
}

TEST_F(FloppyTest, FailedWriteAnswersStatus20WithCarry) {
    if (access("/dev/full", R_OK | W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    Connect(FatImage(1440));
    Disconnect();
    Connect("/dev/full"); // every write fails: no space left
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 2, 12));
    Serve();
    ASSERT_EQ(write.writes.size(), 5u);
    EXPECT_EQ(Status(write.writes.at(4)), 0x20);
    EXPECT_EQ(Carry(write.writes.at(4)), 1);
}

TEST_F(FloppyTest, WriteProtectedImageIsServedReadOnly) {
    const std::string path = FatImage(1440);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    TUnwritable unwritable(path);
    if (!unwritable.Holds())
        GTEST_SKIP() << "cannot make a file unwritable here: chmod does not bind this user "
                        "and the file system refuses the immutable flag";
    Connect(path);
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("write-protected"));
    EXPECT_TRUE(service.ImageAttached());
    TDiskOp& read = target.Add(ReadOp(0, 0, 1, 3));
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 2, 13));
    Serve();
    Disconnect();
    EXPECT_EQ(read.read_data, FileSlice(path, 0, 3 * 512));
    ASSERT_EQ(write.writes.size(), 5u); // ACK, first reply, two data frame ACKs, final reply
    EXPECT_EQ(Status(write.writes.at(4)), 0x03);
    EXPECT_EQ(Carry(write.writes.at(4)), 1);
    EXPECT_TRUE(ReadFileBytes(path) == before);
}

TEST_F(FloppyTest, SectorSizesOtherThan512KeepTransfersInsideTheTrackBuffer) {
    for (const uint16_t bytes_per_sector : {256, 1024}) {
        SCOPED_TRACE("bytes per sector " + std::to_string(bytes_per_sector));
        const std::string path =
            HandMade(std::to_string(bytes_per_sector) + ".img",
                     BootSectorImage(bytes_per_sector, 80, 8, 2, "FAT16   ", "", 40));
        const std::vector<uint8_t> before = ReadFileBytes(path);
        Connect(path);
        EXPECT_THAT(ScreenText(rig.screen), HasSubstr("Can't support sector size not equal 512"));
        TDiskOp& read = target.Add(ReadOp(0, 1, 3, 8)); // a full track of 512-byte items
        TDiskOp& write = target.Add(WriteOp(1, 0, 1, 8, bytes_per_sector));
        Serve();
        Disconnect();
        const auto at = before.begin() + 10 * bytes_per_sector;
        EXPECT_EQ(read.read_data, std::vector<uint8_t>(at, at + 8 * 512));
        std::vector<uint8_t> expected = before;
        std::copy(write.data.begin(), write.data.end(), expected.begin() + 16 * bytes_per_sector);
        EXPECT_TRUE(ReadFileBytes(path) == expected);
    }
}

TEST_F(FloppyTest, OffsetsPast4GiBAreAddressedWithoutWrapping) {
    const std::string path =
        HandMade("big.img", BootSectorImage(512, 0, 63, 1024, "", "FAT32   ", 4));
    Connect(path);
    TDiskOp& write = target.Add(WriteOp(255, 255, 63, 1, 14));
    TDiskOp& read = target.Add(ReadOp(255, 255, 63, 1));
    Serve();
    ASSERT_EQ(write.replies.size(), 2u);
    EXPECT_EQ(Status(write.replies.at(1)), 0x00);
    EXPECT_EQ(FileSlice(path, 8430943744u, 512), write.data);
    EXPECT_EQ(read.read_data, write.data);
}

TEST_F(FloppyTest, TrackBufferThatCannotBeHadAnswersEveryRequestAsIfNoImage) {
    Connect(HandMade("huge.img", BootSectorImage(512, 0, 65535, 2, "FAT16   ", "", 4)));
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("internal error: not enough memory!"));
    EXPECT_TRUE(service.ImageAttached());
    TDiskOp& read = target.Add(ReadOp(0, 0, 1, 1));
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 1, 15));
    Serve();
    ASSERT_EQ(read.writes.size(), 2u);
    EXPECT_EQ(ToHex(read.writes.at(1)), "1B 44 73 0D 00 01 01 00 7C 01 00 00 00 01 00");
    ASSERT_EQ(write.writes.size(), 2u);
    EXPECT_EQ(Status(write.writes.at(1)), 0x01);
}

TEST_F(FloppyTest, NeverIdentifiedGeometryGivesAnEmptyTrackBufferNotAFailedOne) {
    Connect(HandMade("blank.img", std::vector<uint8_t>(4 * 512, 0)));
    const std::string screen = ScreenText(rig.screen);
    EXPECT_THAT(screen, HasSubstr("Can't Identify image"));
    EXPECT_THAT(screen, Not(HasSubstr("not enough memory")));
    TDiskOp& none = target.Add(ReadOp(0, 0, 1, 0));
    TDiskOp& one = target.Add(ReadOp(0, 0, 1, 1));
    Serve();
    EXPECT_EQ(ToHex(none.writes.at(1)), "1B 44 76 0D 00 00 00 00 7C 01 00 00 00 00 00");
    EXPECT_EQ(one.writes, std::vector<std::vector<uint8_t>>{{0x55}});
    EXPECT_THAT(ScreenText(rig.screen), HasSubstr("tries to read more than NUMSECTOR blocks."));
}
