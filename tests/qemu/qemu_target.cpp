#include "qemu_target.h"

#include "loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
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

namespace {

std::vector<std::string> QemuArgs(const std::string& qemu, const std::string& rom) {
    // Not -nographic: SeaBIOS would then write its own console to COM1.
    return {qemu,      "-nodefaults", "-no-user-config", "-machine", "pc",   "-m",
            "16",      "-vga",        "std",             "-display", "none", "-monitor",
            "none",    "-option-rom", rom};
}

bool Accepts(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

} // namespace

TQemuTarget::TQemuTarget(const std::string& qemu, const std::string& rom, const std::string& log) {
    std::vector<std::string> args = QemuArgs(qemu, rom);
    for (const char* a : {"-chardev", "", "-serial", "chardev:com1"}) args.emplace_back(a);
    args[args.size() - 3] = "pty,id=com1,logfile=" + log;
    process_ = std::make_unique<TChildProcess>(args);
    const std::regex pty("char device redirected to (/dev/pts/[0-9]+)");
    std::smatch m;
    const auto named = [&](const std::string& out) { return std::regex_search(out, m, pty); };
    if (!process_->WaitForOutput(named, std::chrono::seconds(10)))
        throw std::runtime_error("QEMU named no pseudo-terminal: " + process_->Output());
    std::regex_search(process_->Output(), m, pty);
    setenv("QUORVIK_COM1", m[1].str().c_str(), 1);
}

TQemuTarget::TQemuTarget(const std::string& qemu, const std::string& rom, TTcp) {
    const int port = FreeLoopbackPort();
    std::vector<std::string> args = QemuArgs(qemu, rom);
    args.emplace_back("-serial");
    args.push_back("tcp:127.0.0.1:" + std::to_string(port) + ",server=on,wait=off");
    process_ = std::make_unique<TChildProcess>(args);
    // A connection that ends at once leaves QEMU waiting for the next one.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Accepts(port)) {
        if (std::chrono::steady_clock::now() > deadline || process_->Exited())
            throw std::runtime_error("QEMU took no connection: " + process_->Output());
        poll(nullptr, 0, 20);
    }
    setenv("QUORVIK_COM1", ("tcp://127.0.0.1:" + std::to_string(port)).c_str(), 1);
}

TQemuTarget::~TQemuTarget() = default;

bool TQemuTarget::Exited() { return process_->Exited(); }

const std::string& TQemuTarget::Output() { return process_->Output(); }

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
