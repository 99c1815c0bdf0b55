#include "child_process.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct TChildProcess::TImpl {
    pid_t pid = -1;
    int out = -1;
};

TChildProcess::TChildProcess(const std::vector<std::string>& argv) : impl_(new TImpl) {
    int fds[2];
    if (argv.empty() || pipe2(fds, O_CLOEXEC) != 0) {
        delete impl_;
        throw std::runtime_error("cannot start a child process");
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        std::vector<char*> args;
        std::vector<std::string> copy = argv;
        for (auto& a : copy) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        delete impl_;
        throw std::runtime_error("fork failed");
    }
    impl_->pid = pid;
    impl_->out = fds[0];
    fcntl(impl_->out, F_SETFL, fcntl(impl_->out, F_GETFL) | O_NONBLOCK);
}

TChildProcess::~TChildProcess() {
    Stop();
    if (impl_->out >= 0) close(impl_->out);
    delete impl_;
}

bool TChildProcess::Exited() {
    if (exit_code_ >= 0) return true;
    int status;
    if (waitpid(impl_->pid, &status, WNOHANG) != impl_->pid) return false;
    exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    Output();
    return true;
}

int TChildProcess::ExitCode() {
    Exited();
    return exit_code_;
}

const std::string& TChildProcess::Output() {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(impl_->out, buf, sizeof buf);
        if (n <= 0) break;
        output_.append(buf, static_cast<size_t>(n));
    }
    return output_;
}

bool TChildProcess::WaitForOutput(const std::function<bool(const std::string&)>& done,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done(Output())) return true;
        if (Exited()) return done(Output());
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{impl_->out, POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 100)));
    }
}

void TChildProcess::Stop() {
    if (Exited()) return;
    kill(impl_->pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Exited()) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(impl_->pid, SIGKILL);
            int status;
            waitpid(impl_->pid, &status, 0);
            exit_code_ = 128 + SIGKILL;
            break;
        }
        pollfd p{impl_->out, POLLIN, 0};
        poll(&p, 1, 10); // woken by its last output or the pipe's end
    }
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
