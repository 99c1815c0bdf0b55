// The target's engine against the console's main cycle, with each fault the simulator can
// inject: the exchange must complete by retrying, and the console must end up with exactly the
// data the target believes it wrote.
#include "console_rig.h"
#include "disk_access.h"
#include "engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include <sys/socket.h>

namespace {

// Short patience on the console's side so that faults cost little time: its timer ticks
// every 10 ms (it gives up after 200 ms), the target waits 1.5 s for an owed byte
// (generous, so that a loaded machine causes no time-out the counts below do not expect).
constexpr int kTickMs = 10;

TEngineTimes Times() {
    TEngineTimes t;
    t.answer_ms = 1500;
    t.quiet_ms = 60;
    t.garbage_quiet_ms = 20;
    t.max_attempts = 10;
    return t;
}

struct TRun {
    TConsoleRig console;
    TLine line;
    TTargetEngine engine;
    TRun(std::vector<uint8_t> image, TFaultPlan faults = {}, bool attached = true)
        : console(std::move(image), attached, kTickMs), line(console.TakeTargetFd()),
          engine(line, Times(), faults) {
        engine.SetDeadline(TClock::now() + std::chrono::seconds(120));
        // The console discards whatever is pending when it starts: wait until it answers.
        EXPECT_NE(engine.WaitForConsole(5000), TStatusAnswer::saNone);
    }
    // Reads cylinders [0, cylinders) track by track.
    std::vector<uint8_t> ReadCylinders(int cylinders) {
        std::vector<uint8_t> out(size_t(cylinders) * 36 * 512);
        for (int t = 0; t < cylinders * 2; ++t) {
            const TXferResult r = engine.Read(TChs{uint8_t(t / 2), uint8_t(t % 2), 1}, 18,
                                              out.data() + size_t(t) * 18 * 512);
            EXPECT_EQ(r.status, TXferStatus::xsOk)
                << "track " << t << ": " << XferStatusName(r.last);
            if (r.status != TXferStatus::xsOk) break;
        }
        return out;
    }
    // Random runs of sectors inside tracks of the first cylinders; returns what the target
    // believes the image holds (only writes that completed change it).
    std::vector<uint8_t> WriteRandom(int writes, uint32_t seed) {
        std::vector<uint8_t> model = console.Image();
        std::mt19937 rng(seed);
        std::vector<uint8_t> data(18 * 512);
        for (int i = 0; i < writes; ++i) {
            const int track = 1 + int(rng() % 9);
            const int first = int(rng() % 18);
            const int n = 1 + int(rng() % (18 - first));
            for (auto& b : data)
                b = uint8_t(rng());
            const TXferResult r =
                engine.Write(TChs{uint8_t(track / 2), uint8_t(track % 2), uint8_t(first + 1)},
                             uint8_t(n), data.data());
            EXPECT_EQ(r.status, TXferStatus::xsOk) << "write " << i;
            if (r.status == TXferStatus::xsOk)
                std::memcpy(model.data() + size_t(track * 18 + first) * 512, data.data(),
                            size_t(n) * 512);
        }
        return model;
    }
};

std::vector<uint8_t> Head(const std::vector<uint8_t>& image, int cylinders) {
    return {image.begin(), image.begin() + cylinders * 36 * 512};
}

} // namespace

TEST(TargetAgainstConsole, StatusQueryTellsWhetherAnImageIsAttached) {
    TRun with(MakeTestImage(1));
    EXPECT_EQ(with.engine.QueryStatus(1000), TStatusAnswer::saImage);
    TRun without(MakeTestImage(1), {}, false);
    EXPECT_EQ(without.engine.QueryStatus(1000), TStatusAnswer::saNoImage);
    uint8_t sector[512];
    TXferResult r = without.engine.Read(TChs{0, 0, 1}, 1, sector);
    EXPECT_EQ(r.status, TXferStatus::xsDiskError);
    EXPECT_EQ(r.reply.regs.Ah(), 1);
    r = without.engine.Write(TChs{0, 0, 1}, 1, sector);
    EXPECT_EQ(r.status, TXferStatus::xsDiskError) << "a write is refused at its first reply";
    EXPECT_EQ(r.reply.regs.Ah(), 1);
}

TEST(TargetAgainstConsole, ZeroSectorTransfersAreAnsweredWithoutDataFrames) {
    const auto image = MakeTestImage(12);
    TRun run(image);
    uint8_t none[1] = {};
    EXPECT_EQ(run.engine.Read(TChs{0, 0, 1}, 0, none).status, TXferStatus::xsOk);
    EXPECT_EQ(run.engine.Write(TChs{0, 0, 1}, 0, none).status, TXferStatus::xsOk);
    EXPECT_EQ(run.engine.Stats().retries, 0u);
    EXPECT_EQ(run.engine.Stats().stray_bytes, 0u);
    run.console.Stop();
    EXPECT_EQ(run.console.Image(), image);
    EXPECT_EQ(run.console.Writes(), 0);
    EXPECT_EQ(run.console.Abandoned(), 0);
}

TEST(TargetAgainstConsole, TrackSizedReadsReturnTheImageAndCountTurnarounds) {
    const auto image = MakeTestImage(2);
    TRun run(image);
    EXPECT_EQ(run.ReadCylinders(4), Head(image, 4));
    const TEngineStats& s = run.engine.Stats();
    EXPECT_EQ(s.requests_sent, 8u);
    EXPECT_EQ(s.retries, 0u);
    EXPECT_EQ(s.turnaround.Count(), 8u * 18);
    EXPECT_GT(s.turnaround.PercentileMs(99), 0.0);
    run.console.Stop();
    EXPECT_EQ(run.console.Abandoned(), 0);
}

TEST(TargetAgainstConsole, MoreSectorsThanATrackGetNoReplyAndTheTargetTimesOut) {
    TRun run(MakeTestImage(3));
    std::vector<uint8_t> buf(19 * 512);
    const TXferResult r = run.engine.ReadOnce(TChs{0, 0, 1}, 19, buf.data());
    EXPECT_EQ(r.status, TXferStatus::xsNoAnswer);
    // The console is still usable afterwards.
    EXPECT_EQ(run.engine.Read(TChs{0, 0, 1}, 18, buf.data()).status, TXferStatus::xsOk);
}

TEST(TargetAgainstConsole, ErrorRepliesEndTheTransferAndTheNextWriteStillLands) {
    const auto image = MakeTestImage(11);
    TRun run(image);
    std::vector<uint8_t> data(512, 0x5A);
    // Sectors count from 1: sector 0 is not found, for a read and for a write alike.
    TXferResult r = run.engine.Read(TChs{0, 0, 0}, 1, data.data());
    EXPECT_EQ(r.status, TXferStatus::xsDiskError);
    EXPECT_EQ(r.reply.regs.Ah(), 4);
    EXPECT_EQ(r.attempts, 1) << "an error reply is an answer, not a reason to retry";
    r = run.engine.Write(TChs{0, 0, 0}, 1, data.data());
    EXPECT_EQ(r.status, TXferStatus::xsDiskError);
    EXPECT_EQ(r.reply.regs.Ah(), 4);
    // The first reply of the next write still carries the carry of that error.
    std::fill(data.begin(), data.end(), 0x5A);
    r = run.engine.Write(TChs{2, 1, 3}, 1, data.data());
    EXPECT_EQ(r.status, TXferStatus::xsOk) << XferStatusName(r.status);
    EXPECT_EQ(r.attempts, 1);
    run.console.Stop();
    auto written = image;
    std::memcpy(written.data() + ((2 * 2 + 1) * 18 + 2) * 512, data.data(), data.size());
    EXPECT_EQ(run.console.Image(), written);
    EXPECT_EQ(run.console.Writes(), 1);
    EXPECT_EQ(run.console.Abandoned(), 0);
}

TEST(TargetAgainstConsole, WritesLandInTheImageExactlyAsTheModelSays) {
    TRun run(MakeTestImage(4));
    const auto model = run.WriteRandom(12, 77);
    run.console.Stop();
    EXPECT_EQ(run.console.Image(), model);
    EXPECT_EQ(run.console.Writes(), 12);
}

TEST(TargetAgainstConsole, NakedFramesAreRetriedOncePerNakAndTheReadStillMatches) {
    const auto image = MakeTestImage(5);
    TFaultPlan faults;
    faults.nak_every = 7;
    TRun run(image, faults);
    EXPECT_EQ(run.ReadCylinders(3), Head(image, 3));
    const TEngineStats& s = run.engine.Stats();
    EXPECT_GT(s.naks_injected, 5u);
    EXPECT_EQ(s.retries, s.naks_injected);
    run.console.Stop();
    EXPECT_EQ(uint64_t(run.console.Abandoned()), s.naks_injected);
}

TEST(TargetAgainstConsole, SpoiledFramesOnWritesAreRefusedAndNeverReachTheImage) {
    TFaultPlan faults;
    faults.corrupt_every = 5;
    TRun run(MakeTestImage(6), faults);
    const auto model = run.WriteRandom(10, 78);
    const TEngineStats& s = run.engine.Stats();
    EXPECT_GT(s.corrupted_sent, 3u);
    EXPECT_EQ(s.naks_received, s.corrupted_sent) << "the console answers AA to each";
    EXPECT_EQ(s.retries, s.corrupted_sent);
    run.console.Stop();
    EXPECT_EQ(run.console.Image(), model);
    EXPECT_EQ(run.console.Writes(), 10);
}

TEST(TargetAgainstConsole, NakOfTheFinalReplyOfAWriteComesAfterTheDataReachedTheImage) {
    const auto image = MakeTestImage(7);
    TFaultPlan faults;
    faults.nak_every = 2; // reply 1 ACKed, final reply (frame 2) NAKed
    TRun run(image, faults);
    std::vector<uint8_t> data(512, 0x3C);
    EXPECT_EQ(run.engine.WriteOnce(TChs{1, 0, 1}, 1, data.data()).status, TXferStatus::xsInjected);
    run.engine.Drain(100);
    run.console.Stop();
    // The final reply carries the write's status, so the console wrote first; the target's
    // retry would only write the same bytes again.
    auto written = image;
    std::memcpy(written.data() + 36 * 512, data.data(), data.size());
    EXPECT_EQ(run.console.Image(), written);
    EXPECT_EQ(run.console.Writes(), 1);
    EXPECT_EQ(run.console.Abandoned(), 1);
}

TEST(TargetAgainstConsole, StallPastTheConsolesPatienceIsRecoveredByARetry) {
    const auto image = MakeTestImage(8);
    TFaultPlan faults;
    faults.stall_ms = 1000; // the console gives up after 20 ticks of 10 ms
    TRun run(image, faults);
    std::vector<uint8_t> buf(18 * 512);
    const TXferResult r = run.engine.Read(TChs{0, 0, 1}, 18, buf.data());
    EXPECT_EQ(r.status, TXferStatus::xsOk);
    EXPECT_EQ(r.attempts, 2);
    EXPECT_EQ(buf, std::vector<uint8_t>(image.begin(), image.begin() + 18 * 512));
    EXPECT_EQ(run.engine.Stats().stalls, 1u);
    EXPECT_EQ(run.engine.Stats().stray_bytes, 0u) << "the console said nothing to half a frame";
    run.console.Stop();
    EXPECT_EQ(run.console.Abandoned(), 1);
}

TEST(TargetAgainstConsole, GarbageBetweenExchangesDoesNotSpoilTheData) {
    const auto image = MakeTestImage(9);
    TFaultPlan faults;
    faults.garbage_bytes = 24;
    faults.seed = 4242;
    TRun run(image, faults);
    EXPECT_EQ(run.ReadCylinders(2), Head(image, 2));
    const auto model = run.WriteRandom(4, 79);
    run.console.Stop();
    EXPECT_EQ(run.console.Image(), model);
    const TEngineStats& st = run.engine.Stats();
    EXPECT_EQ(st.garbage_bytes_sent, 24u * (st.requests_sent - st.retries));
}

TEST(TargetAgainstConsole, HangupClosesTheLineRightAfterTheNthRequest) {
    TFaultPlan faults;
    faults.hangup_after = 3;
    TRun run(MakeTestImage(10), faults);
    std::vector<uint8_t> buf(18 * 512);
    EXPECT_EQ(run.engine.Read(TChs{0, 0, 1}, 18, buf.data()).status, TXferStatus::xsOk);
    EXPECT_EQ(run.engine.Read(TChs{0, 1, 1}, 18, buf.data()).status, TXferStatus::xsOk);
    EXPECT_EQ(run.engine.Read(TChs{1, 0, 1}, 18, buf.data()).status, TXferStatus::xsHangup);
    EXPECT_FALSE(run.line.IsOpen());
    EXPECT_EQ(run.engine.Read(TChs{1, 0, 1}, 18, buf.data()).status, TXferStatus::xsHangup);
    EXPECT_EQ(run.engine.Stats().requests_sent, 3u);
    // The console, left in the middle of the third exchange, gives up and stops cleanly.
    run.console.Stop();
    EXPECT_EQ(run.console.Requests(), 3);
}

// As an FTDI chip does: a write shorter than a 62-byte packet arrives after the latency, whole
// packets at once (bounds generous enough for a loaded machine: 300 ms against a third of it).
TEST(TargetLine, LatencyHoldsBackWhatFallsShortOfAWholePacket) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    TLine target(fds[0]), console(fds[1]);
    target.SetLatency(300);
    using std::chrono::milliseconds;
    auto arrival = [&](size_t count) {
        const std::vector<uint8_t> bytes(count, 0x55);
        const auto t0 = TClock::now();
        std::thread writer([&] { EXPECT_TRUE(target.Write(bytes.data(), bytes.size())); });
        EXPECT_GE(console.ReadByte(5000), 0);
        const auto first = std::chrono::duration_cast<milliseconds>(TClock::now() - t0).count();
        for (size_t i = 1; i < count; ++i) EXPECT_GE(console.ReadByte(5000), 0);
        const auto last = std::chrono::duration_cast<milliseconds>(TClock::now() - t0).count();
        writer.join();
        return std::pair{first, last};
    };
    EXPECT_GE(arrival(13).first, 300) << "a request frame";
    EXPECT_GE(arrival(1).first, 300) << "an acknowledgement";
    EXPECT_LT(arrival(124).second, 100) << "two whole packets";
    const auto [first, last] = arrival(517); // a data frame: 8 packets, then 21 bytes
    EXPECT_LT(first, 100);
    EXPECT_GE(last, 300);
}
