// Runs the real console window (offscreen) for the whole-program figures: it connects to the
// device named by QUORVIK_COM1, optionally with a floppy image attached, and reports on one
// line how long the start took until the window's first paint, the processor time it used
// while connected and its peak resident memory.
//
//   quorvik-bench-host [--image PATH] [--idle SECONDS] [--limit SECONDS]
//                      [--text-log PATH] [--line-trace PATH] [--paste FILE]
//
// With --idle it stays connected that long with nothing expected and then disconnects; else it
// stays connected until the far end hangs up (or --limit passes). --text-log and --line-trace
// run the text log and the line trace into PATH while connected. --paste pastes the file's text
// once the target has released the keys after connecting, and disconnects a second after the
// paste has ended; the line then also names the paste's length and duration and the pacing.
// QUORVIK_BENCH_T0, if set, is the CLOCK_MONOTONIC time in nanoseconds at which the caller
// started the process.
#include "condos.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
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
    std::string image, text_log, line_trace, paste_file;
    double idle = 0, limit = 120;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--image" && i + 1 < argc) image = argv[++i];
        else if (a == "--idle" && i + 1 < argc) idle = std::atof(argv[++i]);
        else if (a == "--limit" && i + 1 < argc) limit = std::atof(argv[++i]);
        else if (a == "--text-log" && i + 1 < argc) text_log = argv[++i];
        else if (a == "--line-trace" && i + 1 < argc) line_trace = argv[++i];
        else if (a == "--paste" && i + 1 < argc) paste_file = argv[++i];
        else {
            std::fprintf(stderr, "usage: quorvik-bench-host [--image PATH] [--idle S] [--limit S] "
                                 "[--text-log PATH] [--line-trace PATH] [--paste FILE]\n");
            return 2;
        }
    }
    std::string paste_text;
    if (!paste_file.empty()) {
        std::ifstream in(paste_file, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        paste_text = s.str();
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
    window.show();
    // The logs run from Connect on, as when the user starts them from the menu before.
    std::string menu_answer;
    window.popup_menu_hook = [&](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries)
            if (e.caption == menu_answer) return e.command;
        return -1;
    };
    auto choose = [&](const std::string& caption, const std::string& path) {
        menu_answer = caption;
        window.save_dialog_hook = [path] { return QString::fromStdString(path); };
        window.Form().MouseDown(mbRight, 10, window.Panel->height() + 10);
    };
    if (!text_log.empty()) choose("Start text log...", text_log);
    if (!line_trace.empty()) choose("Start line trace...", line_trace);
    if ((!text_log.empty() && !window.Form().TextLog().Running()) ||
        (!line_trace.empty() && !window.Form().LineTrace().Running())) {
        std::fprintf(stderr, "quorvik-bench-host: the log or trace did not start\n");
        return 2;
    }

    double cpu_start = 0, t_start = 0, cpu_end = 0, t_end = 0;
    double paste_start = 0, paste_end = 0;
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
        if (window.Form().WaitingForPort()) hung_up = true; // the target hung up its end
        const double now = MonotonicSeconds();
        const double connected = now - t_start;
        if (!paste_text.empty()) {
            // The target holds the keys until it is ready, then releases them (ESC Q).
            if (paste_start == 0 && window.Link().ReceivedCount() > 0 && !window.Link().key_hold &&
                connected > 0.5) {
                paste_start = now;
                window.Form().PasteText(paste_text);
            } else if (paste_start > 0 && paste_end == 0 && !window.Form().Paste().Active()) {
                paste_end = now;
            } else if (paste_end > 0 && now - paste_end >= 1.0) {
                window.CloseComClick();
            }
        }
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
    if (!paste_text.empty()) {
        const TPastePacing& pacing = window.Form().PastePacing();
        std::printf("paste_bytes=%zu paste_s=%.3f char_ms=%d line_ms=%d\n", paste_text.size(),
                    paste_end > 0 ? paste_end - paste_start : -1.0, pacing.char_ms,
                    pacing.line_ms);
    }
    return 0;
}
