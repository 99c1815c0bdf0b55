// The target's byte stream into the screen buffer: main cycle, escape interpreter and Putch;
// and the history: a row entering it, the check at a refresh, and a full history's memory.
#include "history.h"
#include "link.h"
#include "main_cycle.h"
#include "screen.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <cstring>
#include <string>

namespace {

// A port that holds one prepared stream; the cycle stops once it has taken all of it.
class TStreamPort final : public TPortIO {
  public:
    std::string data;
    size_t pos = 0;
    int InQueCount() override { return static_cast<int>(data.size() - pos); }
    int Read(char* buffer, unsigned long count) override {
        const size_t n = std::min<size_t>(count, data.size() - pos);
        std::memcpy(buffer, data.data() + pos, n);
        pos += n;
        return static_cast<int>(n);
    }
    int Write(const char*, unsigned long count) override { return static_cast<int>(count); }
};

// The stream arrives at the first wait of the cycle; once all of it has been taken, the next
// wait ends the cycle.
class TNullHost final : public TConsoleHost {
  public:
    TLink* link = nullptr;
    TStreamPort* port = nullptr;
    const std::string* stream = nullptr;
    bool delivered = false;
    void ProcessPendingEvents() override {}
    void WaitForEvents() override {
        if (!delivered) {
            port->data = *stream;
            port->pos = 0;
            delivered = true;
        } else if (link->QueueEmpty() && port->pos == port->data.size()) {
            link->stop_request = true;
        }
    }
    void ShowStatus(const char*) override {}
};

class TNoDisk final : public TDiskService {
  public:
    bool ImageAttached() const override { return false; }
    void DiskRequest() override {}
};

std::string PlainText(size_t bytes) {
    std::string s;
    const std::string line =
        "C:\\> dir /w   Volume in drive A has no label. Directory of A:\\  COMMAND  COM";
    while (s.size() < bytes) s += line;
    s.resize(bytes);
    return s;
}

std::string DenseSequences(size_t bytes) {
    std::string s;
    int i = 0;
    while (s.size() < bytes) {
        s += "\x1b[" + std::to_string(1 + i % 25) + ";" + std::to_string(1 + (i * 7) % 80) + "H";
        s += "\x1b[1;" + std::to_string(30 + i % 8) + ";" + std::to_string(40 + (i / 8) % 8) + "m";
        s += "\xc9\xcd\xbb";
        s += "\x1b[0m";
        ++i;
    }
    s.resize(bytes);
    return s;
}

void RunStream(benchmark::State& state, const std::string& stream) {
    TStreamPort port;
    TNullHost host;
    TLink link(port, host);
    host.link = &link;
    host.port = &port;
    host.stream = &stream;
    TScreen screen;
    TNoDisk disk;
    for (auto _ : state) {
        host.delivered = false;
        port.data.clear();
        port.pos = 0;
        link.stop_request = false;
        Maincycle(screen, link, disk);
        benchmark::DoNotOptimize(screen.Cells().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

void BM_PlainText(benchmark::State& state) {
    static const std::string stream = PlainText(4 << 20);
    RunStream(state, stream);
}
BENCHMARK(BM_PlainText)->Unit(benchmark::kMillisecond);

void BM_DenseSequences(benchmark::State& state) {
    static const std::string stream = DenseSequences(4 << 20);
    RunStream(state, stream);
}
BENCHMARK(BM_DenseSequences)->Unit(benchmark::kMillisecond);

// Resident memory of this process in MB (Linux; 0 elsewhere).
double ResidentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// A row entering a full history (the oldest dropped). The counter is what filling an empty
// history with 10,000 rows added to the resident memory.
void BM_HistoryRowEnters(benchmark::State& state) {
    // Measured once, on the first run, before any freed memory could be reused.
    static std::unique_ptr<THistory> history;
    static double full_mb = 0;
    TCell row[kScreenColumns];
    if (!history) {
        const double before = ResidentMb();
        history = std::make_unique<THistory>();
        for (int i = 0; i < kHistoryRows; ++i) {
            for (int c = 0; c < kScreenColumns; ++c) row[c] = TCell{uint8_t(i + c), uint8_t(i)};
            history->Push(row);
        }
        full_mb = ResidentMb() - before;
    }
    state.counters["full_history_mb"] = full_mb;
    uint8_t n = 0;
    for (auto _ : state) {
        row[0].ch = ++n;
        history->Push(row);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HistoryRowEnters);

// The check at a refresh, on a screen whose every row changed (none moved): the common case
// while a flood of text comes.
void BM_HistoryCheck(benchmark::State& state) {
    THistory history;
    TScreen screen;
    uint8_t n = 0;
    for (auto _ : state) {
        ++n;
        for (int r = 0; r < kScreenRows; ++r) screen.CharOut(0x07, 0, r, uint8_t(n + r * 3));
        history.Check(screen);
    }
}
BENCHMARK(BM_HistoryCheck)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
