// The disk request exchange with a simulated target, through the real main cycle.
#include "disk_target.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;

namespace {

std::vector<uint8_t> ZeroDataFrame() {
    std::vector<uint8_t> frame = Hex("1B 44 FB 03 02");
    frame.resize(517, 0x00);
    return frame;
}

} // namespace

TEST_F(FloppyTest, ReadAnswersWithTheDocumentedReplyAndDataFrameBytes) {
    const std::string path = FatImage(1440);
    Connect(path);
    TDiskOp& boot = target.Add(ReadOp(0, 0, 1, 1));
    TDiskOp& blank = target.Add(ReadOp(79, 1, 18, 1)); // last sector: never written by mkfs
    Serve();
    ASSERT_EQ(boot.writes.size(), 3u);
    EXPECT_EQ(ToHex(boot.writes.at(0)), "55");
    EXPECT_EQ(ToHex(boot.writes.at(1)), "1B 44 75 0D 00 01 00 00 7C 01 00 00 00 00 00");
    EXPECT_EQ(boot.read_data, FileSlice(path, 0, 512));
    ASSERT_EQ(blank.writes.size(), 3u);
    EXPECT_EQ(blank.writes.at(2), ZeroDataFrame());
}

TEST_F(FloppyTest, WithoutImageEveryFunctionGetsTheNoImageReply) {
    rig.link.stop_request = false;
    TDiskOp& read = target.Add(ReadOp(0, 0, 1, 1));
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 1, 1));
    TDiskOp other = ReadOp(0, 0, 1, 1);
    other.function = 8;
    TDiskOp& eight = target.Add(other);
    Serve();
    EXPECT_EQ(ToHex(read.writes.at(1)), "1B 44 73 0D 00 01 01 00 7C 01 00 00 00 01 00");
    ASSERT_EQ(read.writes.size(), 2u);
    ASSERT_EQ(write.writes.size(), 2u); // no data taken
    EXPECT_EQ(ToHex(write.writes.at(1)), "1B 44 73 0D 00 01 01 00 7C 01 00 00 00 01 00");
    ASSERT_EQ(eight.writes.size(), 2u);
    EXPECT_EQ(eight.writes.at(1)[6], 0x01);
}

TEST_F(FloppyTest, MoreThanNumSectorIsRefusedWithTheMessageAndNoReply) {
    const std::string path = FatImage(1440);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    Connect(path);
    TDiskOp& read = target.Add(ReadOp(0, 0, 1, 19));
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 19, 2));
    TDiskOp& next = target.Add(ReadOp(0, 0, 1, 18));
    Serve();
    EXPECT_EQ(read.writes, std::vector<std::vector<uint8_t>>{{0x55}});
    EXPECT_EQ(write.writes, std::vector<std::vector<uint8_t>>{{0x55}});
    const std::string screen = ScreenText(rig.screen);
    EXPECT_THAT(screen, HasSubstr("Internal Error: Target application tries to read more than "
                                  "NUMSECTOR blocks."));
    EXPECT_THAT(screen, HasSubstr("Internal Error: Target application tries to write more than "
                                  "NUMSECTOR blocks."));
    EXPECT_EQ(next.read_data, FileSlice(path, 0, 18 * 512));
    EXPECT_TRUE(ReadFileBytes(path) == before);
}

TEST_F(FloppyTest, OtherFunctionsGetOnlyTheAckOfTheirRequest) {
    Connect(FatImage(1440));
    TDiskOp op = ReadOp(0, 0, 1, 1);
    op.function = 8;
    TDiskOp& eight = target.Add(op);
    Serve();
    EXPECT_EQ(eight.writes, std::vector<std::vector<uint8_t>>{{0x55}});
}

TEST_F(FloppyTest, ZeroSectorReadAndWriteMoveNoData) {
    const std::string path = FatImage(1440);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    Connect(path);
    TDiskOp& read = target.Add(ReadOp(0, 0, 1, 0));
    TDiskOp& write = target.Add(WriteOp(0, 0, 1, 0, 3));
    Serve();
    ASSERT_EQ(read.writes.size(), 2u);
    EXPECT_EQ(ToHex(read.writes.at(1)), "1B 44 76 0D 00 00 00 00 7C 01 00 00 00 00 00");
    ASSERT_EQ(write.writes.size(), 3u);
    EXPECT_EQ(write.writes.at(1)[6], 0x03);
    EXPECT_EQ(write.writes.at(2)[6], 0x00);
    EXPECT_TRUE(ReadFileBytes(path) == before);
}

TEST_F(FloppyTest, NakOnTheThirdDataFrameEndsTheExchangeAndTheNextRequestIsServed) {
    const std::string path = FatImage(1440);
    Connect(path);
    TDiskOp op = ReadOp(1, 0, 1, 5);
    op.nak_data_frame = 2;
    TDiskOp& naked = target.Add(op);
    TDiskOp& next = target.Add(ReadOp(2, 1, 3, 4));
    Serve();
    EXPECT_EQ(naked.writes.size(), 5u); // ACK, reply, three data frames, nothing repeated
    EXPECT_EQ(next.read_data, FileSlice(path, ((2 * 2 + 1) * 18 + 2) * 512, 4 * 512));
    EXPECT_TRUE(rig.host.statuses.empty());
}

TEST_F(FloppyTest, BadChecksumOnTheSecondDataFrameOfAWriteLeavesTheFileUnchanged) {
    const std::string path = FatImage(1440);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    Connect(path);
    TDiskOp op = WriteOp(3, 0, 1, 3, 4);
    op.bad_data_frame = 1;
    TDiskOp& bad = target.Add(op);
    Serve();
    ASSERT_EQ(bad.writes.size(), 4u);
    EXPECT_EQ(ToHex(bad.writes.at(2)), "55");
    EXPECT_EQ(ToHex(bad.writes.at(3)), "AA");
    EXPECT_TRUE(ReadFileBytes(path) == before);

    TDiskOp& retry = target.Add(WriteOp(3, 0, 1, 3, 4));
    Serve();
    EXPECT_EQ(retry.replies.size(), 2u);
    EXPECT_EQ(FileSlice(path, 3 * 2 * 18 * 512, 3 * 512), retry.data);
}

TEST_F(FloppyTest, StalledRequestIsAbandonedAfterTheTimeoutAndTheQueueResynchronises) {
    const std::string path = FatImage(1440);
    Connect(path);
    TDiskOp slow = ReadOp(0, 0, 1, 1);
    slow.request_split = 6;
    slow.rest_after_rounds = 15;
    TDiskOp& late_but_in_time = target.Add(slow);
    slow.rest_after_rounds = 25;
    TDiskOp& too_late = target.Add(slow);
    TDiskOp& next = target.Add(ReadOp(0, 0, 2, 2));
    Serve();
    EXPECT_EQ(late_but_in_time.replies.size(), 1u);
    EXPECT_TRUE(too_late.writes.empty());
    EXPECT_TRUE(too_late.timed_out);
    EXPECT_EQ(next.read_data, FileSlice(path, 512, 1024));
    EXPECT_TRUE(rig.host.statuses.empty()); // an abandoned exchange shows no "Timeout!"
}

TEST_F(FloppyTest, EachDataFrameGetsItsOwnTimeout) {
    const std::string path = FatImage(1440);
    Connect(path);
    TDiskOp slow = ReadOp(0, 0, 1, 3);
    slow.ack_delay_rounds = 15; // 45 ticks in all, 15 per frame
    TDiskOp& in_time = target.Add(slow);
    slow.ack_delay_rounds = 25;
    TDiskOp& too_slow = target.Add(slow);
    Serve();
    EXPECT_EQ(in_time.read_data, FileSlice(path, 0, 3 * 512));
    EXPECT_EQ(too_slow.writes.size(), 3u); // abandoned waiting for the first frame's ACK
}

TEST_F(FloppyTest, ReplyRegistersAndCarryPersistAcrossExchangesAndConnections) {
    const std::string path = FatImage(1440);
    Connect(path);
    TDiskOp& failed = target.Add(ReadOp(0, 0, 0, 1)); // sector 0: an error, carry set
    TDiskOp& write = target.Add(WriteOp(4, 0, 1, 1, 5));
    Serve();
    EXPECT_EQ(failed.replies.at(0)[13], 0x01);
    // The write's first reply echoes AH 3 and keeps the carry of the reply before it.
    EXPECT_EQ(ToHex(write.replies.at(0)), "1B 44 6D 0D 00 01 03 00 7C 01 04 00 00 01 00");
    EXPECT_EQ(write.replies.at(1)[13], 0x00);
    Disconnect();

    Connect(path);
    TDiskOp& after = target.Add(WriteOp(4, 0, 1, 1, 6));
    target.Add(ReadOp(0, 0, 0, 1));
    TDiskOp& last = target.Add(WriteOp(4, 0, 1, 1, 7));
    Serve();
    EXPECT_EQ(after.replies.at(0)[13], 0x00);
    EXPECT_EQ(last.replies.at(0)[13], 0x01);
}

TEST_F(FloppyTest, DisconnectDuringAWriteLeavesTheFileConsistentAndTheConsoleIdle) {
    const std::string path = FatImage(1440);
    const std::vector<uint8_t> before = ReadFileBytes(path);
    Connect(path);
    KeepPortOpenAtDisconnect();
    TDiskOp op = WriteOp(5, 1, 1, 4, 8);
    op.disconnect_after_writes = 4; // ACK, first reply, two data frame ACKs
    TDiskOp& cut = target.Add(op);
    Serve();
    EXPECT_EQ(cut.writes.size(), 4u);
    EXPECT_TRUE(ReadFileBytes(path) == before);
    EXPECT_FALSE(service.ImageAttached());

    // Cut, closing the port this time, while the final reply waits for its ACK: the data is
    // already in the file.
    target.disconnect = [this] { Disconnect(); };
    Connect(path);
    op.disconnect_after_writes = 7;
    TDiskOp& late = target.Add(op);
    Serve();
    EXPECT_EQ(late.writes.size(), 7u);
    EXPECT_EQ(FileSlice(path, (5 * 2 + 1) * 18 * 512, 4 * 512), op.data);

    // The next connection is served as usual.
    Connect(path);
    TDiskOp& read = target.Add(ReadOp(5, 1, 1, 4));
    Serve();
    EXPECT_EQ(read.read_data, op.data);
}

TEST_F(FloppyTest, DisconnectDuringAReadStopsTheDataFrames) {
    Connect(FatImage(1440));
    KeepPortOpenAtDisconnect();
    TDiskOp op = ReadOp(0, 0, 1, 9);
    op.disconnect_after_writes = 4; // ACK, reply, two data frames
    TDiskOp& cut = target.Add(op);
    Serve();
    EXPECT_EQ(cut.writes.size(), 4u);
}
