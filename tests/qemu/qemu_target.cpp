#include "qemu_target.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
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
        if (std::chrono::steady_clock::now() > deadline || Exited()) {
            Stop(); // no destructor runs for a constructor that throws
            throw std::runtime_error("QEMU named no pseudo-terminal: " + output_);
        }
        pollfd p{out_, POLLIN, 0};
        poll(&p, 1, 100);
    }
    setenv("QUORVIK_COM1", m[1].str().c_str(), 1);
}

TQemuTarget::~TQemuTarget() { Stop(); }

void TQemuTarget::Stop() {
    if (!Exited()) {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
        exited_ = true;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
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

TFaultyLine::TFaultyLine(int nth_frame_to_console, int nth_frame_to_pc) {
    const char* pc_path = getenv("QUORVIK_COM1");
    if (pc_path == nullptr) throw std::runtime_error("QUORVIK_COM1 not set");
    pc_ = open(pc_path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    char name[256];
    if (pc_ < 0 || openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("cannot open the line's pseudo-terminals");
    for (int fd : {pc_, master_}) {
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    setenv("QUORVIK_COM1", name, 1);
    to_console_ = {pc_, master_, nth_frame_to_console};
    to_pc_ = {master_, pc_, nth_frame_to_pc};
    thread_ = std::thread([this] {
        while (!stop_) {
            pollfd p[2] = {{pc_, POLLIN, 0}, {master_, POLLIN, 0}};
            poll(p, 2, 20);
            Relay(to_console_);
            Relay(to_pc_);
        }
    });
}

TFaultyLine::~TFaultyLine() {
    stop_ = true;
    thread_.join();
    for (int fd : {pc_, master_, slave_})
        if (fd >= 0) close(fd);
}

void TFaultyLine::Relay(TDirection& d) {
    unsigned char buf[4096];
    const ssize_t n = read(d.from, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
        if (d.countdown > 0 && --d.countdown == 0) {
            buf[i] ^= 0xFF;
            ++flipped_;
        }
        if (d.after_esc && buf[i] == 'D' && ++d.seen == d.nth) d.countdown = 100 - 1;
        d.after_esc = buf[i] == 0x1B;
    }
    // Both sides read all the time, so a short write only needs another try.
    for (ssize_t done = 0; done < n && !stop_;) {
        const ssize_t w = write(d.to, buf + done, static_cast<size_t>(n - done));
        if (w > 0) done += w;
        else poll(nullptr, 0, 1);
    }
}
