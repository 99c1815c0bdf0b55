// What the text log and the line trace cost the window thread: a row into the text log, and
// the line trace per byte, for screen text and for the data frames of a disk read. Both write
// real files (in a folder of the benchmark's own under the system's temporary folder, removed as
// it exits); the trace starts a new file every 64 MiB.
#include "frame.h"
#include "line_trace.h"
#include "test_dir.h"
#include "text_log.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void BM_TextLogRow(benchmark::State& state) {
    const std::string path = TestPath("text.log");
    TTextLog log;
    log.Start(path);
    std::vector<TCell> row(kScreenColumns, TCell{' ', 0x07});
    const std::string text = "C:\\> dir /w   Volume in drive A has no label. \xC9\xCD\xCD\xBB";
    for (size_t i = 0; i < text.size(); ++i) row[i].ch = static_cast<uint8_t>(text[i]);
    int64_t rows = 0;
    for (auto _ : state) {
        log.Row(row.data(), kScreenColumns);
        if (++rows % 1000 == 0) log.Flush(); // the once-a-second write, more often
    }
    log.Stop(TScreen{});
    std::remove(path.c_str());
    state.SetItemsProcessed(rows);
}
BENCHMARK(BM_TextLogRow);

struct TBurst {
    TLineDirection direction;
    std::vector<uint8_t> bytes;
};

// The trace of `bursts`, over and over; a new file is started every 16 MB of line bytes.
void TraceBursts(benchmark::State& state, const std::vector<TBurst>& bursts) {
    const std::string path = TestPath("line.trace");
    TLineTrace trace;
    trace.Start(path, "bench");
    int64_t bytes = 0, since_start = 0;
    for (auto _ : state) {
        for (const TBurst& b : bursts) {
            trace.LineBytes(b.direction, b.bytes.data(), b.bytes.size());
            bytes += static_cast<int64_t>(b.bytes.size());
            since_start += static_cast<int64_t>(b.bytes.size());
        }
        if (since_start > (int64_t{16} << 20)) {
            state.PauseTiming();
            trace.Stop();
            trace.Start(path, "bench");
            since_start = 0;
            state.ResumeTiming();
        }
    }
    trace.Stop();
    std::remove(path.c_str());
    state.SetBytesProcessed(bytes);
}

// Screen text as it comes from the line: reads of 64 bytes of text and positioning.
void BM_LineTraceScreenText(benchmark::State& state) {
    std::vector<TBurst> bursts;
    for (int i = 0; i < 64; ++i) {
        std::string s = "\x1b[" + std::to_string(1 + i % 25) + ";1H";
        while (s.size() < 64) s += static_cast<char>(0x21 + (s.size() + i) % 94);
        bursts.push_back({ldIn, {s.begin(), s.end()}});
    }
    TraceBursts(state, bursts);
}
BENCHMARK(BM_LineTraceScreenText);

// A disk read: data frames of 517 bytes written by the console, each answered 55.
void BM_LineTraceDataFrames(benchmark::State& state) {
    std::vector<uint8_t> sector(kSectorBytes);
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> frame(kDataFrameSize);
    BuildFrame(sector.data(), sector.size(), frame.data());
    std::vector<TBurst> bursts;
    for (int i = 0; i < 16; ++i) {
        bursts.push_back({ldOut, frame});
        bursts.push_back({ldIn, {kFrameAck}});
    }
    TraceBursts(state, bursts);
}
BENCHMARK(BM_LineTraceDataFrames);

} // namespace

BENCHMARK_MAIN();
