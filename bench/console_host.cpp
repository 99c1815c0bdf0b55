// Runs the real console window (offscreen) for the whole-program figures: it connects to the
// device named by QUORVIK_COM1, optionally with a floppy image attached, and reports on one
// line how long the start took until the window's first paint, the processor time it used
// while connected and its peak resident memory.
//
//   quorvik-bench-host [--image PATH] [--idle SECONDS] [--limit SECONDS]
//
// With --idle it stays connected that long with nothing expected and then disconnects; else it
// stays connected until the far end hangs up (or --limit passes). QUORVIK_BENCH_T0, if set,
// is the CLOCK_MONOTONIC time in nanoseconds at which the caller started the process.
#include "condos.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>

namespace {

double MonotonicSeconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

double ProcessCpuSeconds() {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

class TFirstPaint : public QObject {
  public:
    double at = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && at == 0) at = MonotonicSeconds();
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    const double t_main = MonotonicSeconds();
    std::string image;
    double idle = 0, limit = 120;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--image" && i + 1 < argc) image = argv[++i];
        else if (a == "--idle" && i + 1 < argc) idle = std::atof(argv[++i]);
        else if (a == "--limit" && i + 1 < argc) limit = std::atof(argv[++i]);
        else {
            std::fprintf(stderr, "usage: quorvik-bench-host [--image PATH] [--idle S] [--limit S]\n");
            return 2;
        }
    }
    const char* t0_env = std::getenv("QUORVIK_BENCH_T0");
    const double t0 = t0_env ? std::atof(t0_env) * 1e-9 : t_main;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    QApplication app(argc, argv);
    TConDos window;
    TFirstPaint first_paint;
    window.installEventFilter(&first_paint);
    TConDos::message_box_hook = [](const QString& text) {
        std::fprintf(stderr, "quorvik-bench-host: %s\n", text.toLocal8Bit().constData());
    };
    if (!image.empty()) {
        window.file_dialog_hook = [&] { return QString::fromStdString(image); };
        window.EnaFloppy->click();
    }
    bool hung_up = false;
    window.Comm->OnError = [&](TObject* sender, int errors) {
        window.CommError(sender, errors);
        if (errors & kCeMode) hung_up = true;
    };
    window.show();

    double cpu_start = 0, t_start = 0, cpu_end = 0, t_end = 0;
    QTimer::singleShot(0, &window, [&] {
        cpu_start = ProcessCpuSeconds();
        t_start = MonotonicSeconds();
        window.Connect->click(); // returns when the connection ends
        cpu_end = ProcessCpuSeconds();
        t_end = MonotonicSeconds();
        app.quit();
    });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!window.MainCycleRunning()) return;
        const double connected = MonotonicSeconds() - t_start;
        if ((idle > 0 && connected >= idle) || (idle == 0 && hung_up) || connected >= limit)
            window.CloseComClick();
    });
    watch.start(50);
    app.exec();

    rusage u;
    getrusage(RUSAGE_SELF, &u);
    const double wall = t_end - t_start;
    std::printf("first_paint_ms=%.1f connected_s=%.3f cpu_s=%.3f cpu_pct=%.2f peak_rss_mb=%.1f "
                "hung_up=%d received=%d\n",
                first_paint.at > 0 ? (first_paint.at - t0) * 1000 : -1.0, wall,
                cpu_end - cpu_start, wall > 0 ? 100.0 * (cpu_end - cpu_start) / wall : 0.0,
                u.ru_maxrss / 1024.0, hung_up ? 1 : 0, window.Link().ReceivedCount());
    return 0;
}
