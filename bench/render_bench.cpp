// Drawing cells into the off-screen image: a full 2000-cell redraw and a one-row redraw.
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

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
