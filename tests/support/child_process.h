// A host program in a process of its own, for the test rigs (the simulated target, QEMU,
// ser2net): its standard output and error are collected, it is ended by the destructor, and on
// Linux it also dies with the test program (parent-death signal), so that a crashed test
// leaves nothing running. child_process_posix.cpp; under wine child_process_win32.cpp, which
// starts the host's program through wine's Unix launcher.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

class TChildProcess {
  public:
    // Starts argv[0] (a path) with the rest as its arguments. Throws std::runtime_error when it
    // cannot be started.
    explicit TChildProcess(const std::vector<std::string>& argv);
    // Stop().
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Whether it has ended (reaps it); its exit code afterwards (128 + signal when killed).
    bool Exited();
    int ExitCode();
    // Everything it printed so far, read without blocking.
    const std::string& Output();
    // Waits until `done` holds for the output, or it ended, or the time passed; returns done.
    bool WaitForOutput(const std::function<bool(const std::string&)>& done,
                       std::chrono::milliseconds timeout);
    // The first line it printed, waited for up to `timeout`; throws std::runtime_error when
    // none came.
    std::string FirstLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Asks it to end (SIGTERM), kills it when it has not after 5 s, and reaps it.
    void Stop();

  private:
    struct TImpl;
    TImpl* impl_;
    std::string output_;
    int exit_code_ = -1;
};

// Processor time of this test program so far (all its threads), in seconds.
double ProcessCpuSeconds();

// The key=value fields of the first line of `output` that starts with "summary " (empty
// without one).
std::map<std::string, std::string> SummaryFields(const std::string& output);
