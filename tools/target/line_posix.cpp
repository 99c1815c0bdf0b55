#include "line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kWriteStallMs = 5000;
constexpr size_t kPaceChunk = 16; // bytes written per paced step (1.4 ms at 115200 baud)

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

speed_t SpeedOf(int baud) {
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
    }
}

void MakeRaw(int fd, int baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return; // not a terminal: nothing to set
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (const speed_t s = SpeedOf(baud); s != B0) cfsetspeed(&t, s);
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

TLine::TLine(int fd, int keep_open) : fd_(fd), keep_open_(keep_open) {
    if (fd_ < 0) return;
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    struct stat st {};
    socket_ = fstat(fd_, &st) == 0 && S_ISSOCK(st.st_mode);
}

TLine::~TLine() {
    Close();
}

TLine* TLine::OpenPty(std::string* slave_path) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) throw TTargetError(Errno("posix_openpt"));
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        const std::string e = Errno("grantpt/unlockpt");
        close(master);
        throw TTargetError(e);
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        const std::string e = Errno("ptsname");
        close(master);
        throw TTargetError(e);
    }
    const int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        const std::string e = Errno(std::string("open ") + name);
        close(master);
        throw TTargetError(e);
    }
    // Raw before anything is written: the line discipline must not echo or translate.
    MakeRaw(slave, 0);
    if (slave_path) *slave_path = name;
    return new TLine(master, slave);
}

TLine* TLine::OpenDevice(const std::string& path, int baud) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw TTargetError(Errno("open " + path));
    MakeRaw(fd, baud);
    return new TLine(fd);
}

TLine* TLine::Listen(const std::string& where,
                     const std::function<void(const std::string&)>& announce,
                     int accept_limit_ms) {
    const size_t colon = where.rfind(':');
    std::string host = colon == std::string::npos ? "127.0.0.1" : where.substr(0, colon);
    const std::string port = colon == std::string::npos ? where : where.substr(colon + 1);
    if (host.size() > 1 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int e = getaddrinfo(host.c_str(), port.c_str(), &hints, &found))
        throw TTargetError("--listen " + where + ": " + gai_strerror(e));
    const int listener =
        socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    const int on = 1;
    // Another run may have served this port a moment ago (reconnection tests).
    if (listener >= 0) setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (listener < 0 || bind(listener, found->ai_addr, found->ai_addrlen) != 0 ||
        listen(listener, 1) != 0) {
        const std::string e = Errno("--listen " + where);
        freeaddrinfo(found);
        if (listener >= 0) close(listener);
        throw TTargetError(e);
    }
    freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t size = sizeof bound;
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size);
    char address[INET6_ADDRSTRLEN] = "?";
    int bound_port = 0;
    if (bound.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&bound);
        inet_ntop(AF_INET6, &a->sin6_addr, address, sizeof address);
        bound_port = ntohs(a->sin6_port);
    } else {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&bound);
        inet_ntop(AF_INET, &a->sin_addr, address, sizeof address);
        bound_port = ntohs(a->sin_port);
    }
    const bool v6 = bound.ss_family == AF_INET6;
    announce(std::string("tcp://") + (v6 ? "[" : "") + address + (v6 ? "]" : "") + ":" +
             std::to_string(bound_port));
    pollfd p{listener, POLLIN, 0};
    int r;
    do
        r = poll(&p, 1, accept_limit_ms > 0 ? accept_limit_ms : -1);
    while (r < 0 && errno == EINTR);
    const int fd = r == 1 ? accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
    close(listener); // one console, one connection
    if (fd < 0) throw TTargetError("--listen " + where + ": no console connected");
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return new TLine(fd);
}

void TLine::Close() {
    if (fd_ >= 0) close(fd_);
    if (keep_open_ >= 0) close(keep_open_);
    fd_ = keep_open_ = -1;
    begin_ = end_ = 0;
}

bool TLine::Write(const uint8_t* bytes, size_t count) {
    if (latency_ms_ <= 0) return WriteNow(bytes, count);
    const size_t whole = count / kUsbPacket * kUsbPacket;
    if (whole > 0 && !WriteNow(bytes, whole)) return false;
    if (whole == count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(latency_ms_));
    return WriteNow(bytes + whole, count - whole);
}

bool TLine::WriteNow(const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        if (fd_ < 0) return false;
        size_t step = count - done;
        if (pace_baud_ > 0) {
            // A real line takes 10 bit times per byte (start, 8 data, stop): hand the peer no
            // more than the wire could have carried by now.
            step = std::min(step, kPaceChunk);
            const auto now = TClock::now();
            if (line_free_ > now) std::this_thread::sleep_until(line_free_);
            line_free_ = std::max(line_free_, now) +
                         std::chrono::microseconds(step * 10'000'000ull / pace_baud_);
        }
        const ssize_t n = socket_ ? ::send(fd_, bytes + done, step, MSG_NOSIGNAL)
                                  : ::write(fd_, bytes + done, step);
        if (n > 0) {
            if (record_fd_ >= 0 && ::write(record_fd_, bytes + done, size_t(n)) < 0) {
                // a record is a convenience: the line goes on without it
            }
            done += static_cast<size_t>(n);
            bytes_out_ += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            int r;
            do
                r = poll(&p, 1, kWriteStallMs);
            while (r < 0 && errno == EINTR);
            if (r <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
            continue;
        }
        return false;
    }
    return true;
}

bool TLine::Writable() const {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLOUT, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
}

bool TLine::Fill(int timeout_ms) {
    if (fd_ < 0 || hung_up_) return false;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const ssize_t n = ::read(fd_, buf_, sizeof buf_);
        if (n > 0) {
            begin_ = 0;
            end_ = static_cast<size_t>(n);
            last_arrival_ = TClock::now();
            return true;
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            hung_up_ = true; // end of file, or EIO from a pty whose other side is gone
            return false;
        }
        if (n < 0 && errno == EINTR) continue;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now());
        if (left.count() <= 0 && timeout_ms >= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 1)));
        if (r < 0 && errno != EINTR) return false;
        if (r == 0) return false;
        // POLLHUP with nothing readable: the read above reports end of file next round.
    }
}

int TLine::ReadByte(int timeout_ms) {
    if (begin_ == end_ && !Fill(timeout_ms)) {
        return (fd_ < 0 || hung_up_) ? kLineHungUp : kLineTimedOut;
    }
    if (pace_baud_ > 0) {
        // The peer's bytes may have come in one burst; on a real line each takes 10 bit times
        // after the one before it, and none arrives before it was sent.
        rx_line_free_ = std::max(rx_line_free_, last_arrival_) +
                        std::chrono::nanoseconds(10'000'000'000ull / pace_baud_);
        if (rx_line_free_ > TClock::now()) std::this_thread::sleep_until(rx_line_free_);
    }
    ++bytes_in_;
    return buf_[begin_++];
}
