#include "qemu_target.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

TQemuTarget::TQemuTarget(const std::string& qemu, const std::string& rom, const std::string& log) {
    std::vector<std::string> args = {
        qemu, "-nodefaults", "-no-user-config", "-machine", "pc", "-m", "16", "-vga", "std",
        // Not -nographic: SeaBIOS would then write its own console to COM1.
        "-display", "none", "-monitor", "none", "-chardev", "pty,id=com1,logfile=" + log,
        "-serial", "chardev:com1", "-option-rom", rom};
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe");
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(pipe_fds[1], 1);
        dup2(pipe_fds[1], 2);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    out_ = pipe_fds[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
    const std::regex pty("char device redirected to (/dev/pts/[0-9]+)");
    std::smatch m;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::regex_search(Output(), m, pty)) {
        if (std::chrono::steady_clock::now() > deadline || Exited())
            throw std::runtime_error("QEMU named no pseudo-terminal: " + output_);
        pollfd p{out_, POLLIN, 0};
        poll(&p, 1, 100);
    }
    setenv("QUORVIK_COM1", m[1].str().c_str(), 1);
}

TQemuTarget::~TQemuTarget() {
    if (!Exited()) {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
    }
    close(out_);
}

bool TQemuTarget::Exited() {
    if (exited_) return true;
    int status;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exited_ = true;
    Output();
    return true;
}

const std::string& TQemuTarget::Output() {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) break;
        output_.append(buf, static_cast<size_t>(n));
    }
    return output_;
}

TRequestTally TallyRequests(const std::string& sent) {
    const std::string esc_d = {'\x1b', 'D'};
    TRequestTally tally;
    for (size_t at = sent.find(esc_d); at != std::string::npos && at + 13 <= sent.size();
         at = sent.find(esc_d, at + 1)) {
        const auto* f = reinterpret_cast<const unsigned char*>(sent.data() + at + 2);
        unsigned sum = 0;
        for (int i = 0; i < 11; ++i) sum += f[i];
        if ((sum & 0xFF) != 0 || f[1] != 11 || f[2] != 0) continue;
        ++tally.requests;
        if (f[4] == 2) tally.sectors_read += f[3];
        if (f[4] == 3) tally.sectors_written += f[3];
    }
    return tally;
}
