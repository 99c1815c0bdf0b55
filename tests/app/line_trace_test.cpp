// The line trace: bursts and decoded frames as golden text, any chunking of what comes in,
// and the file's limit.
#include "line_trace.h"

#include "fakes.h"
#include "frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace {

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

class TraceTest : public testing::Test {
  protected:
    void In(const std::vector<uint8_t>& b, int64_t us) { decoder.Burst(ldIn, b.data(), b.size(), us, out); }
    void Out(const std::vector<uint8_t>& b, int64_t us) { decoder.Burst(ldOut, b.data(), b.size(), us, out); }
    TTraceDecoder decoder;
    std::string out;
};

// A one-sector read of the boot sector: AX 0201 BX 7C00 CX 0001 DX 0000.
const std::vector<uint8_t> kRequest = Hex("1B 44 75 0B 00 01 02 00 7C 01 00 00 00");

} // namespace

TEST_F(TraceTest, AReadExchangeIsOneLinePerBurstAndOnePerFrame) {
    std::vector<uint8_t> data = Hex("1B 44 FB 03 02");
    data.resize(kDataFrameSize, 0);
    In(Cat(Bytes("A:\\>"), kRequest), 1000);
    Out({0x55}, 1500);
    Out(Hex("1B 44 75 0D 00 01 00 00 7C 01 00 00 00 00 00"), 2000);
    In({0x55}, 2500);
    Out(data, 3000);
    In(Bytes("Uok"), 123456789);
    std::string zeros;
    for (int i = 0; i < 512; ++i) zeros += " 00";
    EXPECT_EQ(Lines(out), (std::vector<std::string>{
                              "       1.000 in  41 3A 5C 3E  |A:\\>|",
                              "       1.000 in  request read C 0 H 0 S 1 count 1 drive 00 checksum "
                              "good  1B 44 75 0B 00 01 02 00 7C 01 00 00 00",
                              "       1.500 out 55  |U|  ACK",
                              "       2.000 out reply read C 0 H 0 S 1 count 1 status 00 carry 0 "
                              "checksum good  1B 44 75 0D 00 01 00 00 7C 01 00 00 00 00 00",
                              "       2.500 in  55  |U|  ACK",
                              "       3.000 out data read sector 1 of 1 checksum good  1B 44 FB 03 02" + zeros,
                              "  123456.789 in  55 6F 6B  |Uok|", // not a lone answer: no mark
                          }));
}

TEST_F(TraceTest, AFrameSplitOverReadsIsOneLineAlsoAfterAnEscRunEndingARead) {
    // ESC ESC 'D' (the console drops the first ESC), then the frame a byte per read.
    In(Hex("78 1B 1B"), 0);
    for (size_t i = 1; i < kRequest.size(); ++i) In({kRequest[i]}, 1000 * static_cast<int64_t>(i));
    In(Bytes("y"), 13000);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_EQ(lines[0], "       0.000 in  78 1B  |x.|");
    EXPECT_EQ(lines[1].rfind("      12.000 in  request read C 0 H 0 S 1 count 1", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2], "      13.000 in  79  |y|");
}

TEST_F(TraceTest, AWriteAnnouncesItsDataFramesANakEndsThemAndBadChecksumsAreShown) {
    const std::vector<uint8_t> regs = Hex("02 03 00 00 02 01 00 01"); // write 2 at C 1 H 1 S 2
    std::vector<uint8_t> request(regs.size() + kFrameHeader), reply(regs.size() + 2 + kFrameHeader),
        frame(kDataFrameSize);
    BuildFrame(regs.data(), regs.size(), request.data());
    BuildFrame(Cat(regs, {0, 0}).data(), regs.size() + 2, reply.data());
    BuildFrame(std::vector<uint8_t>(kSectorBytes, 0xAB).data(), kSectorBytes, frame.data());
    frame[3] = 0;             // a wrong length field: announced, it is a data frame all the same
    frame[kFrameHeader] ^= 1; // and a spoiled checksum
    In(request, 1000);
    Out(reply, 1200);
    In(frame, 1400);
    Out({0xAA}, 1500);
    In(kRequest, 1600); // after the NAK the target starts over with a request
    In(Hex("1B 44 75 0B"), 1700);
    decoder.Finish(1800, out);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 6u) << out;
    auto starts = [](const std::string& line, const std::string& head) { return line.rfind(head, 0) == 0; };
    EXPECT_TRUE(starts(lines[0], "       1.000 in  request write C 1 H 1 S 2 count 2 drive 00 checksum good  ")) << lines[0];
    EXPECT_TRUE(starts(lines[1], "       1.200 out reply write C 1 H 1 S 2 count 2 status 03 carry 0 checksum good  ")) << lines[1];
    EXPECT_TRUE(starts(lines[2], "       1.400 in  data write sector 1 of 2 checksum BAD  1B 44 ")) << lines[2];
    EXPECT_EQ(lines[3], "       1.500 out AA  |.|  NAK");
    EXPECT_TRUE(starts(lines[4], "       1.600 in  request read")) << lines[4];
    EXPECT_EQ(lines[5], "       1.800 in  unfinished frame  1B 44 75 0B");
}

TEST(LineTrace, TheFileHasAHeadingAndNotesAndStopsItselfAtItsLimit) {
    const std::string path = TestPath("limit.trace");
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(100);
    TLineTrace trace(2000, [&] { return now; });
    ASSERT_TRUE(trace.Start(path, "2026-12-09T14:03:07+01:00")) << trace.Error();
    now += std::chrono::microseconds(2500);
    trace.Note("connected: COM1 is /dev/pts/3.");
    for (const std::vector<uint8_t> text = Bytes("0123456789"); trace.Running();) {
        now += std::chrono::milliseconds(1);
        trace.LineBytes(ldIn, text.data(), text.size());
    }
    EXPECT_TRUE(trace.LimitReached());
    EXPECT_TRUE(trace.Stop());
    const std::string file = ReadFileText(path);
    EXPECT_LE(file.size(), 2000u);
    const std::vector<std::string> lines = Lines(file);
    ASSERT_GT(lines.size(), 6u);
    EXPECT_EQ(lines[0], "# Quorvik line trace, started 2026-12-09T14:03:07+01:00");
    EXPECT_EQ(lines[3], "# 2.500 connected: COM1 is /dev/pts/3.");
    EXPECT_EQ(lines[4], "       3.500 in  30 31 32 33 34 35 36 37 38 39  |0123456789|");
    EXPECT_EQ(lines.back(), "# trace stopped: the file reached its limit of 2000 bytes");
}
