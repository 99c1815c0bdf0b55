// The batch runs as a test drives them: the summary's fields and the exit code, against the
// console's main cycle serving a real FAT12 image.
#include "batch.h"
#include "console_rig.h"
#include "options.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEngineTimes Times() {
    TEngineTimes t;
    t.answer_ms = 1500;
    t.quiet_ms = 60;
    t.garbage_quiet_ms = 20;
    return t;
}

struct TBatch {
    TConsoleRig console;
    TLine line;
    TTargetEngine engine;
    TBatch(std::vector<uint8_t> image, TFaultPlan faults = {}, bool attached = true)
        : console(std::move(image), attached, 10), line(console.TakeTargetFd()),
          engine(line, Times(), faults) {
        engine.SetDeadline(TClock::now() + std::chrono::seconds(120));
    }
    // The console discards what is pending when it starts: every run waits for it.
    static TBatchOptions Options() {
        TBatchOptions o;
        o.wait_connect = true;
        o.connect_limit_ms = 5000;
        return o;
    }
};

bool Parse(std::vector<const char*> args, TOptions& o, std::string& error) {
    args.insert(args.begin(), "quorvik-target");
    return ParseOptions(int(args.size()), args.data(), o, error);
}

} // namespace

TEST(TargetBatch, ReadAllOfAnUnchangedImageSucceedsWithRateAndTurnaround) {
    const TFatImage img = MakeFatImage();
    TBatch b(img.bytes);
    TBatchOptions o = TBatch::Options();
    o.expect_path = img.path;
    const TBatchReport r = RunReadAll(b.engine, o);
    const std::string s = FormatSummary(r, b.engine.Stats());
    EXPECT_EQ(r.ExitCode(), 0) << s;
    EXPECT_EQ(s.rfind("summary mode=read-all result=ok ", 0), 0u) << s;
    EXPECT_EQ(SummaryField(s, "sectors"), "2880");
    EXPECT_EQ(SummaryField(s, "mismatches"), "0");
    EXPECT_EQ(SummaryField(s, "requests"), "161") << "boot sector, then 160 tracks";
    EXPECT_GT(std::stod(SummaryField(s, "sectors_per_s")), 0.0);
    EXPECT_GT(std::stod(SummaryField(s, "turn_p99_ms")), 0.0);
    EXPECT_GE(std::stod(SummaryField(s, "turn_p99_ms")), std::stod(SummaryField(s, "turn_p50_ms")));
}

TEST(TargetBatch, ReadAllCountsTheSectorsThatDifferAndExitsOne) {
    const TFatImage img = MakeFatImage();
    auto served = img.bytes;
    for (size_t lba : {5u, 1000u, 2879u})
        served[lba * 512 + 17] ^= 0x40;
    TBatch b(served);
    TBatchOptions o = TBatch::Options();
    o.expect_path = img.path;
    const TBatchReport r = RunReadAll(b.engine, o);
    EXPECT_EQ(r.result, "mismatch");
    EXPECT_EQ(r.mismatches, 3u);
    EXPECT_EQ(r.ExitCode(), 1);
}

TEST(TargetBatch, WriteRandomWithFaultsKeepsTheModelEqualToTheServedImage) {
    const TFatImage img = MakeFatImage();
    TFaultPlan faults;
    faults.nak_every = 9;
    faults.corrupt_every = 11;
    TBatch b(img.bytes, faults);
    TBatchOptions o = TBatch::Options();
    o.mode = TBatchOptions::TMode::bmWriteRandom;
    o.writes = 15;
    o.seed = 31;
    o.model_path = img.dir + "/model.img";
    o.readback = false; // compared below, without the faults of 160 more track reads
    WriteFile(o.model_path, img.bytes);
    const TBatchReport r = RunWriteRandom(b.engine, o);
    const std::string s = FormatSummary(r, b.engine.Stats());
    EXPECT_EQ(r.ExitCode(), 0) << s;
    EXPECT_EQ(SummaryField(s, "writes_acked"), "15");
    EXPECT_NE(SummaryField(s, "naks_sent"), "0");
    EXPECT_NE(SummaryField(s, "corrupted_sent"), "0");
    b.console.Stop();
    const auto model = ReadFile(o.model_path);
    EXPECT_EQ(model, b.console.Image());
    EXPECT_NE(model, img.bytes);
    EXPECT_EQ(0, std::memcmp(model.data(), img.bytes.data(), 512)) << "boot sector kept";
}

TEST(TargetBatch, WriteRandomReadsTheWholeImageBackAndComparesItWithTheModel) {
    const TFatImage img = MakeFatImage();
    TBatch b(img.bytes);
    TBatchOptions o = TBatch::Options();
    o.mode = TBatchOptions::TMode::bmWriteRandom;
    o.writes = 5;
    o.seed = 32;
    o.model_path = img.dir + "/model.img";
    WriteFile(o.model_path, img.bytes);
    const TBatchReport r = RunWriteRandom(b.engine, o);
    const std::string s = FormatSummary(r, b.engine.Stats());
    EXPECT_EQ(r.ExitCode(), 0) << s;
    EXPECT_EQ(SummaryField(s, "requests"), "166") << "boot sector, 5 writes, 160 tracks read back";
    EXPECT_EQ(SummaryField(s, "mismatches"), "0");
    b.console.Stop();
    EXPECT_EQ(ReadFile(o.model_path), b.console.Image());
}

TEST(TargetBatch, WriteRandomRefusesAModelThatIsNoCopyOfTheImage) {
    const TFatImage img = MakeFatImage();
    TBatch b(img.bytes);
    TBatchOptions o = TBatch::Options();
    o.mode = TBatchOptions::TMode::bmWriteRandom;
    o.writes = 3;
    o.model_path = img.dir + "/model.img";
    auto other = img.bytes;
    other[3] ^= 1; // the OEM name differs
    WriteFile(o.model_path, other);
    const TBatchReport r = RunWriteRandom(b.engine, o);
    EXPECT_EQ(r.result, "model-differs");
    EXPECT_EQ(r.ExitCode(), 1);
    b.console.Stop();
    EXPECT_EQ(b.console.Writes(), 0);
}

TEST(TargetBatch, NoImageAndPlannedHangupEndTheRunWithTheirOwnResults) {
    const TFatImage img = MakeFatImage();
    TBatchOptions o = TBatch::Options();
    o.expect_path = img.path;
    {
        TBatch b(img.bytes, {}, false);
        const TBatchReport r = RunReadAll(b.engine, o);
        EXPECT_EQ(r.result, "no-image");
        EXPECT_EQ(r.ExitCode(), 2);
    }
    TFaultPlan faults;
    faults.hangup_after = 10;
    TBatch b(img.bytes, faults);
    const TBatchReport r = RunReadAll(b.engine, o);
    const std::string s = FormatSummary(r, b.engine.Stats());
    EXPECT_EQ(r.result, "hangup") << s;
    EXPECT_EQ(SummaryField(s, "hangup"), "1");
    EXPECT_EQ(SummaryField(s, "requests"), "10");
    EXPECT_EQ(r.ExitCode(), 0);
}

TEST(TargetBatch, CommandLineNeedsEachModesFilesAndRefusesFaultsThatCannotComplete) {
    TOptions o;
    std::string error;
    EXPECT_FALSE(Parse({"--read-all"}, o, error));
    EXPECT_EQ(error, "--read-all needs --expect FILE");
    EXPECT_FALSE(Parse({"--write-random", "5", "--model", "m.img"}, o, error));
    EXPECT_FALSE(Parse({"--nak-every", "1"}, o, error));
    EXPECT_FALSE(Parse({"--baud", "fast"}, o, error));
    EXPECT_FALSE(Parse({"--stall-ms"}, o, error));
    EXPECT_FALSE(Parse({"--frobnicate"}, o, error));

    TOptions w;
    ASSERT_TRUE(Parse({"--write-random", "40", "--seed", "7", "--model", "m.img", "--garbage", "16",
                       "--hangup-after", "9", "--baud", "115200", "--device", "/dev/pts/9",
                       "--time-limit", "30"},
                      w, error))
        << error;
    EXPECT_EQ(w.run, TOptions::TRun::rnWriteRandom);
    EXPECT_EQ(w.batch.writes, 40);
    EXPECT_EQ(w.batch.seed, 7u);
    EXPECT_EQ(w.faults.garbage_bytes, 16);
    EXPECT_EQ(w.faults.hangup_after, 9);
    EXPECT_EQ(w.baud, 115200);
    EXPECT_EQ(w.device, "/dev/pts/9");
    EXPECT_EQ(w.time_limit_s, 30);

    TOptions f;
    ASSERT_TRUE(Parse({"--write-from", "after.img", "--latency-ms", "16"}, f, error)) << error;
    EXPECT_EQ(f.run, TOptions::TRun::rnWriteFrom);
    EXPECT_EQ(f.batch.from_path, "after.img");
    EXPECT_EQ(f.latency_ms, 16);
    EXPECT_FALSE(Parse({"--latency-ms", "256"}, f, error)) << "an FTDI timer holds at most 255";

    TOptions i;
    ASSERT_TRUE(Parse({}, i, error));
    EXPECT_EQ(i.run, TOptions::TRun::rnInteractive);
    EXPECT_TRUE(i.device.empty()) << "no device by default: a pty of its own";
}
