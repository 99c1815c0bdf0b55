// The soak: many random reads and writes with injected faults against a 1.44 MB image, served
// by the real main cycle and disk exchange. The image must equal the model of acknowledged
// writes throughout, every read must return the model's bytes, and every request without a
// fault must be served. QUORVIK_SOAK_OPS sets the number of requests (`make soak` runs
// 10,000; the test suite a shorter run).
#include "disk_target.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

namespace {

constexpr int kBatch = 100; // requests per connection-long run of the main cycle
constexpr int kSectors = 2880, kPerTrack = 18, kHeads = 2;

enum TFault { fNone, fNakRead, fBadDataFrame, fNakFinalReply, fSplitRequest, fSlowAcks, fOffDisk };

struct TPlanned {
    TFault fault = fNone;
    int first = 0; // linear sector
};

TDiskOp Address(TDiskOp op, int first) {
    op.cylinder = static_cast<uint8_t>(first / (kPerTrack * kHeads));
    op.head = static_cast<uint8_t>(first / kPerTrack % kHeads);
    op.sector = static_cast<uint8_t>(first % kPerTrack + 1);
    return op;
}

int SoakOps() {
    const char* v = std::getenv("QUORVIK_SOAK_OPS");
    return v && std::atoi(v) > 0 ? std::atoi(v) : 1000;
}

} // namespace

TEST_F(FloppyTest, SoakOfRandomRequestsWithInjectedFaultsKeepsTheImageEqualToTheModel) {
    const std::string path = FatImage(1440);
    std::vector<uint8_t> model = ReadFileBytes(path);
    ASSERT_EQ(model.size(), size_t{kSectors} * 512);
    Connect(path);

    const int total = SoakOps();
    std::mt19937 rng(20261209);
    uint64_t reads = 0, writes = 0, faults = 0, mismatched_sectors = 0, unserved = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int done = 0; done < total; done += kBatch) {
        TDiskTarget batch(rig); // a fresh target keeps memory flat over a long soak
        std::vector<TPlanned> plan;
        std::vector<TDiskOp*> ops;
        for (int i = 0; i < kBatch && done + i < total; ++i) {
            const bool write = rng() % 2 == 0;
            const int count = 1 + static_cast<int>(rng() % kPerTrack);
            TPlanned p;
            p.first = static_cast<int>(rng() % (kSectors - count + 1));
            if (rng() % 100 == 0) { // 1% of the requests meet a fault
                static constexpr TFault kReadFaults[] = {fNakRead, fSplitRequest, fSlowAcks,
                                                         fOffDisk};
                static constexpr TFault kWriteFaults[] = {fBadDataFrame, fNakFinalReply,
                                                          fSplitRequest, fOffDisk};
                p.fault = write ? kWriteFaults[rng() % 4] : kReadFaults[rng() % 4];
            }
            TDiskOp op = write ? WriteOp(0, 0, 1, static_cast<uint8_t>(count), rng())
                               : ReadOp(0, 0, 1, static_cast<uint8_t>(count));
            op = Address(op, p.first);
            switch (p.fault) {
            case fNone: break;
            case fNakRead: op.nak_data_frame = static_cast<int>(rng() % count); break;
            case fBadDataFrame: op.bad_data_frame = static_cast<int>(rng() % count); break;
            case fNakFinalReply: op.nak_final_reply = true; break;
            case fSplitRequest: // the rest comes after the console's 2 s time-out
                op.request_split = 1 + rng() % 12;
                op.rest_after_rounds = 25;
                break;
            case fSlowAcks: op.ack_delay_rounds = 25; break;
            case fOffDisk: op.sector = 19; break;
            }
            faults += p.fault != fNone;
            (write ? writes : reads) += 1;
            plan.push_back(p);
            ops.push_back(&batch.Add(op));
        }
        Serve();

        for (size_t i = 0; i < ops.size(); ++i) {
            const TDiskOp& op = *ops[i];
            const TPlanned& p = plan[i];
            const bool served = !op.replies.empty() && op.replies.back()[6] == 0 &&
                                (op.replies.back()[13] & 1) == 0 &&
                                (op.function == 2 || op.replies.size() == 2);
            const bool must_be_served =
                p.fault == fNone || p.fault == fNakFinalReply || p.fault == fSlowAcks;
            if (p.fault == fOffDisk && served) ++mismatched_sectors; // reached the file
            if (op.function == 3 && served) {
                std::copy(op.data.begin(), op.data.end(), model.begin() + p.first * 512);
            } else if (op.function == 2 && served && p.fault == fNone) {
                for (int s = 0; s < op.count; ++s)
                    if (!std::equal(op.read_data.begin() + s * 512,
                                    op.read_data.begin() + (s + 1) * 512,
                                    model.begin() + (p.first + s) * 512))
                        ++mismatched_sectors;
            }
            if (must_be_served && !served && p.fault != fSlowAcks) ++unserved;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Disconnect();
    const std::vector<uint8_t> image = ReadFileBytes(path);
    ASSERT_EQ(image.size(), model.size());
    for (int s = 0; s < kSectors; ++s)
        if (!std::equal(image.begin() + s * 512, image.begin() + (s + 1) * 512,
                        model.begin() + s * 512))
            ++mismatched_sectors;
    std::printf("[ figures  ] soak requests=%d reads=%llu writes=%llu faults=%llu "
                "mismatched_sectors=%llu unserved=%llu seconds=%.1f\n",
                total, (unsigned long long)reads, (unsigned long long)writes,
                (unsigned long long)faults, (unsigned long long)mismatched_sectors,
                (unsigned long long)unserved, seconds);
    EXPECT_EQ(mismatched_sectors, 0u);
    EXPECT_EQ(unserved, 0u);
}
