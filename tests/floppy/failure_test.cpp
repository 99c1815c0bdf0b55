// Failures reach the target as error statuses, and the user's image is never lost or corrupted.
#include "disk_target.h"

#include <gmock/gmock.h>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
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

// Lowers the file size limit of the process and restores it at destruction.
class TFileSizeLimit {
  public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~TFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }

  private:
    rlimit old_{};
};

// Ignores a signal for the object's life.
class TSignalIgnored {
  public:
    explicit TSignalIgnored(int signal) : signal_(signal) { old_ = std::signal(signal, SIG_IGN); }
    ~TSignalIgnored() { std::signal(signal_, old_); }

  private:
    int signal_;
    void (*old_)(int);
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

TEST_F(FloppyTest, OnlyARegularFileOrBlockDeviceOfOneSectorOrMoreIsAttached) {
    Connect(FatImage(1440)); // a geometry that a wrongly attached file would be served with
    Disconnect();
    const std::string fifo = TestPath("pipe.img");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(mkdir(TestPath("folder.img").c_str(), 0755), 0);
    const std::vector<std::string> paths = {fifo, "/dev/zero", HandMade("empty.img", {}),
                                            HandMade("short.img", std::vector<uint8_t>(511, 0xF6)),
                                            TestPath("folder.img")};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        rig.screen.ClearScreen();
        Connect(path);
        EXPECT_THAT(ScreenText(rig.screen), HasSubstr("Can not open image file " + path));
        EXPECT_FALSE(service.ImageAttached()); // the status query answers "no image"
        TDiskOp& read = target.Add(ReadOp(0, 0, 1, 2));
        Serve();
        ASSERT_EQ(read.writes.size(), 2u);
        EXPECT_EQ(ToHex(read.writes.at(1)), "1B 44 72 0D 00 02 01 00 7C 01 00 00 00 01 00");
        Disconnect();
    }
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

TEST_F(FloppyTest, WritePastTheFileSizeLimitAnswers20AndLeavesTheFileAsItWas) {
    // A short file on a disk of 2880 sectors: writes past its end grow it, up to the limit.
    std::vector<uint8_t> bytes = BootSectorImage(512, 2880, 18, 2, "FAT12   ", "", 20);
    const std::string path = HandMade("limited.img", bytes);
    std::signal(SIGXFSZ, SIG_DFL); // as at program start: the signal would end the program
    Connect(path);
    TDiskOp& write = target.Add(WriteOp(0, 1, 2, 4, 12)); // sectors 19-22, the last past the limit
    TDiskOp& inside = target.Add(WriteOp(0, 0, 3, 2, 13));
    {
        TFileSizeLimit limit(22 * 512); // the program must live through the signal
        Serve();
    }
    ASSERT_EQ(write.replies.size(), 2u);
    EXPECT_EQ(Status(write.replies.at(1)), 0x20);
    EXPECT_EQ(Carry(write.replies.at(1)), 1);
    ASSERT_EQ(inside.replies.size(), 2u); // the next request is served
    EXPECT_EQ(Status(inside.replies.at(1)), 0x00);
    std::copy(inside.data.begin(), inside.data.end(), bytes.begin() + 2 * 512);
    EXPECT_TRUE(ReadFileBytes(path) == bytes); // no part of the failed write, no growth
}

TEST_F(FloppyTest, WriteThatCannotGetItsStorageChangesNothing) {
    // A full file system refuses the blocks of the write's second half. Stand-in: the file
    // size limit, with its signal ignored as the program does, so that only the order of
    // reserving and writing is under test.
    std::vector<uint8_t> bytes = BootSectorImage(512, 2880, 18, 2, "FAT12   ", "", 20);
    const std::string path = HandMade("full.img", bytes);
    Connect(path);
    TDiskOp& write = target.Add(WriteOp(0, 1, 1, 4, 16)); // sectors 18-21 of a 20-sector file
    {
        TFileSizeLimit limit(21 * 512);
        TSignalIgnored ignored(SIGXFSZ);
        Serve();
    }
    ASSERT_EQ(write.replies.size(), 2u);
    EXPECT_EQ(Status(write.replies.at(1)), 0x20);
    EXPECT_EQ(Carry(write.replies.at(1)), 1);
    EXPECT_TRUE(ReadFileBytes(path) == bytes);
}

TEST_F(FloppyTest, ImageDeletedOrReplacedWhileAttachedRefusesWritesButServesReads) {
    for (const bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replaced" : "deleted");
        const std::string path = FatImage(1440);
        const std::vector<uint8_t> before = ReadFileBytes(path);
        rig.screen.ClearScreen();
        Connect(path);
        const std::string moved = path + ".moved";
        if (replace) {
            ASSERT_EQ(rename(path.c_str(), moved.c_str()), 0);
            WriteFileBytes(path, before); // the user put a copy in its place
        } else {
            ASSERT_EQ(unlink(path.c_str()), 0);
        }
        TDiskOp& write = target.Add(WriteOp(0, 0, 2, 2, 17));
        TDiskOp& read = target.Add(ReadOp(0, 0, 1, 3));
        TDiskOp& again = target.Add(WriteOp(0, 1, 2, 1, 18));
        Serve();
        ASSERT_EQ(write.replies.size(), 2u);
        EXPECT_EQ(Status(write.replies.at(1)), 0x20);
        EXPECT_EQ(Carry(write.replies.at(1)), 1);
        EXPECT_EQ(read.read_data, std::vector<uint8_t>(before.begin(), before.begin() + 3 * 512));
        ASSERT_EQ(again.replies.size(), 2u);
        EXPECT_EQ(Status(again.replies.at(1)), 0x20);
        const std::string screen = ScreenText(rig.screen);
        const std::string notice = "Image file was deleted or replaced, writes are refused";
        EXPECT_THAT(screen, HasSubstr(notice + ": " + path));
        EXPECT_EQ(screen.find(notice), screen.rfind(notice)); // one line, not one per write
        Disconnect();
        if (replace) {
            EXPECT_TRUE(ReadFileBytes(path) == before);
            EXPECT_TRUE(ReadFileBytes(moved) == before);
        }
    }
}

TEST_F(FloppyTest, RequestsOffTheDiskAnswer04AndNeverReachTheFile) {
    const std::string path = FatImage(1440); // 2880 sectors, 18 per track, 2 heads
    std::vector<uint8_t> expected = ReadFileBytes(path);
    ASSERT_EQ(expected.size(), 1474560u);
    Connect(path);
    const std::vector<TDiskOp> off_disk = {
        WriteOp(0, 0, 19, 1, 20),                                // would land on head 1, sector 1
        WriteOp(255, 255, 18, 1, 21),                            // would grow the file to 7 MB
        WriteOp(0, 2, 1, 1, 22),      WriteOp(79, 1, 18, 2, 23), // runs past the last sector
        ReadOp(0, 0, 19, 1),          ReadOp(0, 2, 1, 1),
        ReadOp(80, 0, 1, 1),          ReadOp(79, 1, 17, 3),
    };
    std::vector<TDiskOp*> refused;
    for (const TDiskOp& op : off_disk)
        refused.push_back(&target.Add(op));
    TDiskOp& across_heads = target.Add(ReadOp(0, 0, 17, 4)); // head 0 sectors 17-18, head 1 1-2
    TDiskOp& last_sectors = target.Add(WriteOp(79, 1, 17, 2, 24));
    Serve();
    for (size_t i = 0; i < refused.size(); ++i) {
        SCOPED_TRACE("request " + std::to_string(i));
        const TDiskOp& op = *refused[i];
        ASSERT_FALSE(op.replies.empty());
        EXPECT_EQ(Status(op.replies.back()), 0x04);
        EXPECT_EQ(Carry(op.replies.back()), 1);
        EXPECT_TRUE(op.read_data.empty());
    }
    EXPECT_EQ(across_heads.read_data, FileSlice(path, 16 * 512, 4 * 512));
    ASSERT_EQ(last_sectors.replies.size(), 2u);
    EXPECT_EQ(Status(last_sectors.replies.at(1)), 0x00);
    std::copy(last_sectors.data.begin(), last_sectors.data.end(), expected.end() - 2 * 512);
    EXPECT_TRUE(ReadFileBytes(path) == expected);
}

TEST_F(FloppyTest, PathThatIsNotValidUtf8IsAttachedByItsBytes) {
    const std::string path = FatImage(1440);
    const std::string odd = TestPath("disk-\xff\xfe\xe9.img");
    ASSERT_EQ(rename(path.c_str(), odd.c_str()), 0);
    Connect(odd);
    EXPECT_TRUE(service.ImageAttached());
    EXPECT_EQ(service.Image().Geometry().sectors_per_track, 18u);
    TDiskOp& write = target.Add(WriteOp(2, 1, 5, 1, 25));
    Serve();
    ASSERT_EQ(write.replies.size(), 2u);
    EXPECT_EQ(Status(write.replies.at(1)), 0x00);
    EXPECT_EQ(FileSlice(odd, (2 * 36 + 18 + 4) * 512, 512), write.data);
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
