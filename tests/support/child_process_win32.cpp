// A host program started from a test program under wine: through /bin/sh, which leaves its
// output, its process number and its exit code in files of the test's own folder.
#include "child_process.h"

#include "host_win32.h"

#include <windows.h>

#include <stdexcept>

struct TChildProcess::TImpl {
    std::string base; // Unix path prefix of its files: .out, .pid, .rc
};

namespace {

int counter = 0;

// A word for /bin/sh, quoted.
std::string Quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

TChildProcess::TChildProcess(const std::vector<std::string>& argv) : impl_(new TImpl) {
    impl_->base = HostTestDir() + "/child-" + std::to_string(++counter);
    std::string command;
    for (const std::string& a : argv) command += (command.empty() ? "" : " ") + Quoted(a);
    const std::string& b = impl_->base;
    if (argv.empty() || !SpawnHost(command + " > " + b + ".out 2>&1 & echo $! > " + b +
                                   ".pid; wait $!; echo $? > " + b + ".rc")) {
        delete impl_;
        throw std::runtime_error("cannot start " + command);
    }
}

TChildProcess::~TChildProcess() {
    Stop();
    delete impl_;
}

bool TChildProcess::Exited() {
    if (exit_code_ >= 0) return true;
    const std::string rc = FileBytes(impl_->base + ".rc");
    if (rc.empty() || rc.back() != '\n') return false;
    exit_code_ = std::stoi(rc);
    Output();
    return true;
}

int TChildProcess::ExitCode() {
    Exited();
    return exit_code_;
}

const std::string& TChildProcess::Output() {
    output_ = FileBytes(impl_->base + ".out");
    return output_;
}

bool TChildProcess::WaitForOutput(const std::function<bool(const std::string&)>& done,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done(Output())) return true;
        if (Exited()) return done(Output());
        if (std::chrono::steady_clock::now() > deadline) return false;
        Sleep(10); // outside any message loop: nothing else to wait on for a host's file
    }
}

void TChildProcess::Stop() {
    if (Exited()) return;
    const std::string pid = impl_->base + ".pid";
    RunHost("kill $(cat " + pid + ")");
    if (!WaitForFile(impl_->base + ".rc", std::chrono::seconds(5)))
        RunHost("kill -9 $(cat " + pid + ")");
    WaitForFile(impl_->base + ".rc", std::chrono::seconds(5));
    Exited();
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}
