// Drawing cells into the off-screen image: a full 2000-cell redraw, a one-row redraw, and a
// view scrolled back into a full history, composed and drawn whole.
#include "console_area.h"
#include "renderer.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

TRenderer& Renderer() {
    static TRenderer renderer(ConsoleFont());
    return renderer;
}

void BM_FullRedraw(benchmark::State& state) {
    TRenderer& r = Renderer();
    uint8_t shift = 0;
    for (auto _ : state) {
        ++shift; // other glyphs and colours each time, as a changing screen has
        for (int row = 0; row < kScreenRows; ++row)
            for (int column = 0; column < kScreenColumns; ++column)
                r.DrawCell(row, column,
                           TCell{static_cast<uint8_t>(row * 80 + column + shift),
                                 static_cast<uint8_t>(column + shift)});
        benchmark::DoNotOptimize(r.Bitmap().constBits());
    }
    state.SetItemsProcessed(state.iterations() * kScreenCells);
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMicrosecond);

void BM_OneRowRedraw(benchmark::State& state) {
    TRenderer& r = Renderer();
    uint8_t shift = 0;
    for (auto _ : state) {
        ++shift;
        for (int column = 0; column < kScreenColumns; ++column)
            r.DrawCell(12, column, TCell{static_cast<uint8_t>('A' + column + shift), 0x1E});
        benchmark::DoNotOptimize(r.Bitmap().constBits());
    }
    state.SetItemsProcessed(state.iterations() * kScreenColumns);
}
BENCHMARK(BM_OneRowRedraw)->Unit(benchmark::kMicrosecond);

// The view scrolled back into 10,000 rows of history, one row further each time, so that every
// cell changes: compose (history, screen, the status row) and draw all 2000 cells.
void BM_ScrolledBackRedraw(benchmark::State& state) {
    TRenderer& r = Renderer();
    TScreen screen;
    THistory history;
    TCell row[kScreenColumns];
    for (int i = 0; i < kHistoryRows; ++i) {
        for (int c = 0; c < kScreenColumns; ++c)
            row[c] = TCell{static_cast<uint8_t>(i + c), static_cast<uint8_t>(i * 7 + c)};
        history.Push(row);
    }
    TConsoleArea area(screen, history);
    area.ScrollBy(kHistoryRows / 2);
    std::array<TCell, kScreenCells> cells;
    int step = 1;
    for (auto _ : state) {
        if (!area.ScrollBy(step)) step = -step; // back and forth inside the history
        area.Compose(cells);
        for (int row = 0; row < kScreenRows; ++row)
            for (int column = 0; column < kScreenColumns; ++column)
                r.DrawCell(row, column, cells[row * kScreenColumns + column]);
        benchmark::DoNotOptimize(r.Bitmap().constBits());
    }
    state.SetItemsProcessed(state.iterations() * kScreenCells);
}
BENCHMARK(BM_ScrolledBackRedraw)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
