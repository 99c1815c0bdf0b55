// The line trace: bursts and decoded frames as golden text, any chunking of what comes in,
// and the file's limit.
#include "line_trace.h"

#include "frame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> out;
    std::istringstream in(hex);
    for (std::string b; in >> b;) out.push_back(static_cast<uint8_t>(std::stoi(b, nullptr, 16)));
    return out;
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A frame the way the target builds one: 1B 44, checksum, length, payload.
std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> f(payload.size() + kFrameHeader);
    BuildFrame(payload.data(), payload.size(), f.data());
    return f;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

bool StartsWith(const std::string& line, const std::string& head) {
    return line.rfind(head, 0) == 0;
}

std::string Zeros(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += " 00";
    return s;
}

class TraceTest : public testing::Test {
  protected:
    void In(const std::vector<uint8_t>& b, int64_t us) {
        decoder.Burst(ldIn, b.data(), b.size(), us, out);
    }
    void Out(const std::vector<uint8_t>& b, int64_t us) {
        decoder.Burst(ldOut, b.data(), b.size(), us, out);
    }
    TTraceDecoder decoder;
    std::string out;
};

// A one-sector read of the boot sector: AX 0201 BX 7C00 CX 0001 DX 0000.
const std::vector<uint8_t> kReadRequest = Bytes("1B 44 75 0B 00 01 02 00 7C 01 00 00 00");
const std::vector<uint8_t> kReadReply = Bytes("1B 44 75 0D 00 01 00 00 7C 01 00 00 00 00 00");

} // namespace

TEST_F(TraceTest, AReadExchangeIsOneLinePerBurstAndOnePerFrame) {
    std::vector<uint8_t> data = Bytes("1B 44 FB 03 02");
    data.resize(kDataFrameSize, 0);
    In(Cat(Text("A:\\>"), kReadRequest), 1000);
    Out({0x55}, 1500);
    Out(kReadReply, 2000);
    In({0x55}, 2500);
    Out(data, 3000);
    In(Cat({0x55}, Text("ok")), 123456789);
    EXPECT_EQ(Lines(out),
              (std::vector<std::string>{
                  "       1.000 in  41 3A 5C 3E  |A:\\>|",
                  "       1.000 in  request read C 0 H 0 S 1 count 1 drive 00 checksum good  "
                  "1B 44 75 0B 00 01 02 00 7C 01 00 00 00",
                  "       1.500 out 55  |U|  ACK",
                  "       2.000 out reply read C 0 H 0 S 1 count 1 status 00 carry 0 checksum good"
                  "  1B 44 75 0D 00 01 00 00 7C 01 00 00 00 00 00",
                  "       2.500 in  55  |U|  ACK",
                  "       3.000 out data read sector 1 of 1 checksum good  1B 44 FB 03 02" +
                      Zeros(512),
                  "  123456.789 in  55 6F 6B  |Uok|", // not a lone answer: no mark
              }));
}

TEST_F(TraceTest, AFrameSplitOverManyReadsIsStillOneLineStampedWhenComplete) {
    const std::vector<uint8_t> stream = Cat(Cat(Text("x"), kReadRequest), Text("y"));
    for (size_t i = 0; i < stream.size(); ++i) In({stream[i]}, 1000 * static_cast<int64_t>(i));
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_EQ(lines[0], "       0.000 in  78  |x|");
    EXPECT_TRUE(StartsWith(lines[1], "      13.000 in  request read C 0 H 0 S 1 ")) << lines[1];
    EXPECT_EQ(lines[2], "      14.000 in  79  |y|");
}

TEST_F(TraceTest, AnEscRunAndAnEscAtTheEndOfAReadStillStartAFrame) {
    // ESC ESC 'D' (the console drops the first ESC), the second ESC at the end of a read.
    In(Bytes("41 1B 1B"), 1000);
    In(std::vector<uint8_t>(kReadRequest.begin() + 1, kReadRequest.end()), 2000);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_EQ(lines[0], "       1.000 in  41 1B  |A.|");
    EXPECT_TRUE(StartsWith(lines[1], "       2.000 in  request read")) << lines[1];
}

TEST_F(TraceTest, AWriteAnnouncesItsDataFramesAndANakEndsThem) {
    // Write 2 sectors at C 1 H 1 S 2.
    const std::vector<uint8_t> regs = Bytes("02 03 00 00 02 01 00 01");
    In(Frame(regs), 1000);
    Out({0x55}, 1100);
    Out(Frame(Cat(regs, Bytes("00 00"))), 1200); // first reply: AH 3 echoed
    In({0x55}, 1300);
    // A data frame whose length field is wrong and whose checksum is spoiled: announced, so it
    // is taken as the data frame it is meant to be.
    std::vector<uint8_t> data(kSectorBytes, 0xAB);
    std::vector<uint8_t> frame = Frame(data);
    frame[3] = 0;
    frame[kFrameHeader] ^= 1;
    In(frame, 1400);
    Out({0xAA}, 1500);
    In(kReadRequest, 1600); // after the NAK the target starts over with a new request
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 7u) << out;
    EXPECT_TRUE(StartsWith(
        lines[0], "       1.000 in  request write C 1 H 1 S 2 count 2 drive 00 checksum good  "))
        << lines[0];
    EXPECT_TRUE(StartsWith(lines[2], "       1.200 out reply write C 1 H 1 S 2 count 2 status 03 "
                                     "carry 0 checksum good  "))
        << lines[2];
    EXPECT_TRUE(StartsWith(lines[4], "       1.400 in  data write sector 1 of 2 checksum BAD  1B "))
        << lines[4];
    EXPECT_EQ(lines[5], "       1.500 out AA  |.|  NAK");
    EXPECT_TRUE(StartsWith(lines[6], "       1.600 in  request read")) << lines[6];
}

TEST_F(TraceTest, ABadRequestAndTheEndOfATraceInTheMiddleOfAFrameAreShown) {
    std::vector<uint8_t> bad = kReadRequest;
    bad[5] = 0x02; // two sectors, checksum unchanged
    In(bad, 1000);
    In(Bytes("1B 44 75 0B"), 2000);
    decoder.Finish(3000, out);
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_NE(lines[0].find("count 2 drive 00 checksum BAD"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "       3.000 in  unfinished frame  1B 44 75 0B");
}

TEST(LineTrace, TheFileHasAHeadingNotesAndStopsItselfAtItsLimit) {
    const std::string path = testing::TempDir() + "/trace-" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(100);
    TLineTrace trace(2000, [&] { return now; });
    ASSERT_TRUE(trace.Start(path, "2026-12-09T14:03:07+01:00")) << trace.Error();
    now += std::chrono::microseconds(2500);
    trace.Note("connected: COM1 is /dev/pts/3.");
    const std::vector<uint8_t> text = Text("0123456789");
    while (trace.Running()) {
        now += std::chrono::milliseconds(1);
        trace.LineBytes(ldIn, text.data(), text.size());
    }
    EXPECT_TRUE(trace.LimitReached());
    trace.LineBytes(ldOut, text.data(), text.size()); // ignored
    EXPECT_TRUE(trace.Stop());
    EXPECT_FALSE(trace.LimitReached());

    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string file = s.str();
    EXPECT_LE(file.size(), 2000u);
    const std::vector<std::string> lines = Lines(file);
    ASSERT_GT(lines.size(), 6u);
    EXPECT_EQ(lines[0], "# Quorvik line trace, started 2026-12-09T14:03:07+01:00");
    EXPECT_EQ(lines[3], "# 2.500 connected: COM1 is /dev/pts/3.");
    EXPECT_EQ(lines[4], "       3.500 in  30 31 32 33 34 35 36 37 38 39  |0123456789|");
    EXPECT_EQ(lines.back(), "# trace stopped: the file reached its limit of 2000 bytes");
}
