// The target's frames byte for byte, and the engine's answers to a console whose bytes are
// written down in advance: what the target sends back is compared as hex.
#include "disk_frames.h"
#include "engine.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A console played from a script: once the target has sent a given number of bytes in all,
// the console says its next lines. Heard() waits for the script to end.
struct TScriptedConsole {
    int fds[2];
    std::unique_ptr<TLine> line;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> steps;
    std::vector<uint8_t> heard;
    std::thread thread;

    TScriptedConsole() {
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
        line = std::make_unique<TLine>(fds[1]);
    }
    ~TScriptedConsole() {
        if (thread.joinable()) thread.join();
        close(fds[0]);
    }
    void On(size_t heard_bytes, const std::string& hex) { On(heard_bytes, Hex(hex)); }
    void On(size_t heard_bytes, const std::vector<uint8_t>& say) {
        steps.emplace_back(heard_bytes, say);
    }
    void Start() {
        thread = std::thread([this] {
            for (const auto& [need, say] : steps) {
                while (heard.size() < need) {
                    pollfd p{fds[0], POLLIN, 0};
                    if (poll(&p, 1, 5000) <= 0) return; // the target went quiet: end
                    uint8_t buf[4096];
                    const ssize_t n = read(fds[0], buf, sizeof buf);
                    if (n <= 0) return;
                    heard.insert(heard.end(), buf, buf + n);
                }
                if (write(fds[0], say.data(), say.size()) != ssize_t(say.size())) return;
            }
        });
    }
    std::string Heard() {
        if (thread.joinable()) thread.join();
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        uint8_t buf[4096];
        for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
            heard.insert(heard.end(), buf, buf + n);
        return ToHex(heard);
    }
};

std::vector<uint8_t> DataFrame(uint8_t fill) {
    std::vector<uint8_t> sector(kSectorBytes, fill);
    TDataFrame f;
    BuildDataFrame(sector.data(), f);
    return {f.begin(), f.end()};
}

const char* const kRequestRead1 = "1B 44 75 0B 00 01 02 00 7C 01 00 00 00";
const char* const kReplyRead1 = "1B 44 75 0D 00 01 00 00 7C 01 00 00 00 00 00";

TEngineTimes Quick() {
    TEngineTimes t;
    t.answer_ms = 200;
    t.quiet_ms = 20;
    t.max_attempts = 1;
    return t;
}

} // namespace

TEST(TargetFrames, RequestAndReplyOfAOneSectorReadMatchTheProtocolExample) {
    const TDiskRegs regs = RequestRegs(kFnRead, 1, TChs{0, 0, 1});
    EXPECT_EQ(regs, (TDiskRegs{0x0201, 0x7C00, 0x0001, 0x0000}));
    const TRequestFrame req = BuildRequestFrame(regs);
    EXPECT_EQ(ToHex({req.begin(), req.end()}), kRequestRead1);

    TReply reply;
    ASSERT_TRUE(ParseReply(Hex(kReplyRead1).data(), reply));
    EXPECT_EQ(reply.regs, (TDiskRegs{0x0001, 0x7C00, 0x0001, 0x0000}));
    EXPECT_FALSE(reply.Carry());
}

TEST(TargetFrames, NoImageReplyCarriesStatusOneAndTheCarryFlag) {
    TReply reply;
    ASSERT_TRUE(ParseReply(Hex("1B 44 73 0D 00 01 01 00 7C 01 00 00 00 01 00").data(), reply));
    EXPECT_TRUE(reply.Carry());
    EXPECT_EQ(reply.regs.Ah(), 1);
    EXPECT_EQ(reply.regs.Al(), 1);
}

TEST(TargetFrames, DataFrameOfZerosHasChecksumFBAndLength515) {
    const auto f = DataFrame(0);
    ASSERT_EQ(f.size(), 517u);
    EXPECT_EQ(ToHex({f.begin(), f.begin() + 5}), "1B 44 FB 03 02");
    EXPECT_TRUE(FrameChecksumGood(f.data(), f.size()));
}

TEST(TargetFrames, RepliesWithABadChecksumHeaderOrLengthAreRejected) {
    TReply reply;
    auto bad_sum = Hex(kReplyRead1);
    bad_sum[2] ^= 1;
    EXPECT_FALSE(ParseReply(bad_sum.data(), reply));
    auto bad_header = Hex(kReplyRead1);
    bad_header[1] = 'E';
    EXPECT_FALSE(ParseReply(bad_header.data(), reply));
    // A 515 length with a checksum that fits: still no reply.
    auto bad_length = Hex(kReplyRead1);
    bad_length[3] = 0x03;
    bad_length[4] = 0x02;
    bad_length[2] = FrameChecksum(bad_length.data() + 3, 12);
    EXPECT_FALSE(ParseReply(bad_length.data(), reply));
}

TEST(TargetEngine, OneSectorReadAcksTheReplyAndTheDataFrame) {
    TScriptedConsole con;
    con.On(13, std::string("55 ") + kReplyRead1);
    con.On(13, DataFrame(0xA5));
    con.Start();
    TTargetEngine engine(*con.line, Quick());
    std::vector<uint8_t> sector(512);
    const TXferResult r = engine.ReadOnce(TChs{0, 0, 1}, 1, sector.data());
    EXPECT_EQ(r.status, TXferStatus::xsOk);
    EXPECT_EQ(con.Heard(), std::string(kRequestRead1) + " 55 55");
    EXPECT_EQ(sector, std::vector<uint8_t>(512, 0xA5));
    EXPECT_EQ(engine.Stats().turnaround.Count(), 1u);
}

TEST(TargetEngine, ReplyWithABadChecksumIsNakedAndNoDataIsAcked) {
    TScriptedConsole con;
    auto reply = Hex(kReplyRead1);
    reply[2] ^= 0x10;
    con.On(13, Hex("55"));
    con.On(13, reply);
    con.Start();
    TTargetEngine engine(*con.line, Quick());
    uint8_t sector[512];
    EXPECT_EQ(engine.ReadOnce(TChs{0, 0, 1}, 1, sector).status, TXferStatus::xsBadAnswer);
    EXPECT_EQ(con.Heard(), std::string(kRequestRead1) + " AA");
    EXPECT_EQ(engine.Stats().bad_frames, 1u);
}

TEST(TargetEngine, ReplyForAnotherSectorIsRefused) {
    TScriptedConsole con;
    // A good frame, but CX 0002: not the sector asked for.
    con.On(13, "55 1B 44 74 0D 00 01 00 00 7C 02 00 00 00 00 00");
    con.Start();
    TTargetEngine engine(*con.line, Quick());
    uint8_t sector[512];
    EXPECT_EQ(engine.ReadOnce(TChs{0, 0, 1}, 1, sector).status, TXferStatus::xsBadAnswer);
    EXPECT_EQ(con.Heard(), std::string(kRequestRead1) + " AA");
}

TEST(TargetEngine, DiskErrorReplyIsAckedAndEndsTheExchangeWithoutRetry) {
    TScriptedConsole con;
    con.On(13, "55 1B 44 73 0D 00 01 01 00 7C 01 00 00 00 01 00");
    con.Start();
    TEngineTimes t = Quick();
    t.max_attempts = 5;
    TTargetEngine engine(*con.line, t);
    uint8_t sector[512];
    const TXferResult r = engine.Read(TChs{0, 0, 1}, 1, sector);
    EXPECT_EQ(r.status, TXferStatus::xsDiskError);
    EXPECT_EQ(r.reply.regs.Ah(), 1);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(con.Heard(), std::string(kRequestRead1) + " 55");
}

TEST(TargetEngine, WriteSendsOneDataFramePerSectorAndAcksTheFinalReply) {
    TScriptedConsole con;
    // 55 for the request, the reply with AH 3, 55 for the data frame, the final reply.
    con.On(13, "55 1B 44 6B 0D 00 01 03 00 7C 05 02 00 01 00 00");
    con.On(13 + 1 + 517, "55 1B 44 6E 0D 00 01 00 00 7C 05 02 00 01 00 00");
    con.Start();
    TTargetEngine engine(*con.line, Quick());
    std::vector<uint8_t> sector(512, 0);
    const TXferResult r = engine.WriteOnce(TChs{2, 1, 5}, 1, sector.data());
    EXPECT_EQ(r.status, TXferStatus::xsOk);
    const auto data = DataFrame(0);
    EXPECT_EQ(con.Heard(), "1B 44 6D 0B 00 01 03 00 7C 05 02 00 01 55 " + ToHex(data) + " 55");
    EXPECT_EQ(engine.Stats().sectors_moved, 1u);
}

TEST(TargetEngine, NakEveryKCountsReceivedFramesAcrossTheReplyAndData) {
    TScriptedConsole con;
    con.On(13, std::string("55 ") + kReplyRead1);
    con.On(13, DataFrame(0));
    con.Start();
    TFaultPlan faults;
    faults.nak_every = 2; // the reply is frame 1, the data frame is frame 2
    TTargetEngine engine(*con.line, Quick(), faults);
    uint8_t sector[512];
    EXPECT_EQ(engine.ReadOnce(TChs{0, 0, 1}, 1, sector).status, TXferStatus::xsInjected);
    EXPECT_EQ(con.Heard(), std::string(kRequestRead1) + " 55 AA");
    EXPECT_EQ(engine.Stats().naks_injected, 1u);
    EXPECT_EQ(engine.Stats().sectors_moved, 0u);
}

TEST(TargetEngine, CorruptEveryKSpoilsOnlyTheKthFrameSent) {
    TScriptedConsole con;
    con.On(13, "AA"); // the console refuses the spoiled request frame
    con.Start();
    TFaultPlan faults;
    faults.corrupt_every = 1;
    TTargetEngine engine(*con.line, Quick(), faults);
    uint8_t sector[512];
    EXPECT_EQ(engine.ReadOnce(TChs{0, 0, 1}, 1, sector).status, TXferStatus::xsRefused);
    EXPECT_EQ(con.Heard(), "1B 44 8A 0B 00 01 02 00 7C 01 00 00 00");
    EXPECT_EQ(engine.Stats().corrupted_sent, 1u);
    EXPECT_EQ(engine.Stats().naks_received, 1u);
}

TEST(TargetEngine, SilentConsoleEndsTheAttemptWithNoAnswer) {
    TScriptedConsole con;
    con.On(13, "55"); // takes the request, then never replies (a refused sector count)
    con.Start();
    TTargetEngine engine(*con.line, Quick());
    uint8_t sector[512];
    const auto t0 = TClock::now();
    EXPECT_EQ(engine.ReadOnce(TChs{0, 0, 1}, 1, sector).status, TXferStatus::xsNoAnswer);
    EXPECT_GE(TClock::now() - t0, std::chrono::milliseconds(200));
    EXPECT_EQ(engine.Stats().timeouts, 1u);
}

TEST(TargetEngine, StatusQueryKeepsKeyBytesThatArriveBeforeTheAnswer) {
    TScriptedConsole con;
    con.On(2, "61 0D 55");
    con.On(4, "AA");
    con.Start();
    TTargetEngine engine(*con.line, Quick());
    EXPECT_EQ(engine.QueryStatus(1000), TStatusAnswer::saImage);
    EXPECT_EQ(ToHex(engine.TakeStray()), "61 0D");
    EXPECT_EQ(engine.QueryStatus(1000), TStatusAnswer::saNoImage);
    EXPECT_EQ(con.Heard(), "1B 53 1B 53");
}
