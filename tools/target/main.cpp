// quorvik-target: a simulated target for the Quorvik console, on a pseudo-terminal of its own
// or on a serial device. See kUsage (options.cpp) for the command line.
#include "batch.h"
#include "engine.h"
#include "interactive.h"
#include "line.h"
#include "options.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

} // namespace

int main(int argc, char** argv) {
    TOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quorvik-target: %s\n%s", error.c_str(), kUsage);
        return 64;
    }
    if (options.run == TOptions::TRun::rnHelp) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (options.run == TOptions::TRun::rnInteractive) {
        // The interactive session ends cleanly on a signal; a batch run just ends.
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigaction(SIGINT, &sa, nullptr); // no SA_RESTART: a blocking poll returns at once
        sigaction(SIGTERM, &sa, nullptr);
    }

    std::unique_ptr<TLine> line;
    std::string name;
    try {
        if (!options.listen.empty()) {
            const int limit_s = options.time_limit_s ? options.time_limit_s : 600;
            line.reset(TLine::Listen(
                options.listen,
                [&](const std::string& url) {
                    name = url;
                    std::printf("QUORVIK_COM1=%s\n", url.c_str());
                    std::fflush(stdout);
                },
                limit_s * 1000));
        } else if (options.device.empty()) {
            line.reset(TLine::OpenPty(&name));
            std::printf("QUORVIK_COM1=%s\n", name.c_str());
            std::fflush(stdout);
        } else {
            name = options.device;
            line.reset(TLine::OpenDevice(name, options.baud ? options.baud : 115200));
        }
    } catch (const TTargetError& e) {
        std::fprintf(stderr, "quorvik-target: %s\n", e.what());
        return 2;
    }
    line->SetPacing(options.baud);
    line->SetLatency(options.latency_ms);
    int record = -1;
    if (!options.record_path.empty()) {
        record = open(options.record_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (record < 0) {
            std::fprintf(stderr, "quorvik-target: %s: %s\n", options.record_path.c_str(),
                         std::strerror(errno));
            return 2;
        }
        line->SetRecord(record);
    }

    TTargetEngine engine(*line, options.times, options.faults);
    const bool batch = options.run != TOptions::TRun::rnInteractive;
    const int limit_s = options.time_limit_s ? options.time_limit_s : (batch ? 600 : 0);
    if (limit_s) engine.SetDeadline(TClock::now() + std::chrono::seconds(limit_s));

    if (!batch) {
        TInteractiveOptions io;
        io.line_name = name;
        io.stop = &g_stop;
        if (options.print_events) io.events = stdout;
        TInteractiveSession session(engine, io);
        session.Run();
        return 0;
    }
    TBatchOptions bo = options.batch;
    bo.connect_limit_ms = limit_s * 1000;
    const TBatchReport report = options.run == TOptions::TRun::rnStatus    ? RunStatus(engine, bo)
                                : options.run == TOptions::TRun::rnReadAll ? RunReadAll(engine, bo)
                                : options.run == TOptions::TRun::rnWriteFrom
                                    ? RunWriteFrom(engine, bo)
                                    : RunWriteRandom(engine, bo);
    std::printf("%s line_out=%llu line_in=%llu\n", FormatSummary(report, engine.Stats()).c_str(),
                static_cast<unsigned long long>(line->BytesOut()),
                static_cast<unsigned long long>(line->BytesIn()));
    std::fflush(stdout);
    return report.ExitCode();
}
