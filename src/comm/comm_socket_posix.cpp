// The network port's TCP connection with BSD sockets; an eventfd wakes the event thread.
#include "comm_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left < INT_MAX ? left : INT_MAX);
}

TConnectFailure FailureOf(int error) {
    switch (error) {
    case ECONNREFUSED: return cfRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN: return cfUnreachable;
    case ETIMEDOUT: return cfTimedOut;
    default: return cfOther;
    }
}

class TPosixSocket final : public TSocket {
  public:
    TPosixSocket() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~TPosixSocket() override {
        Close();
        if (wake_ >= 0) ::close(wake_);
    }

    TConnectResult Connect(const std::string& host, const std::string& port,
                           int timeout_ms) override;
    size_t Send(const char* bytes, size_t count, int timeout_ms) override;
    int Receive(char* buffer, size_t size) override;
    bool Wait(int timeout_ms, bool wakeable, bool watch_socket) override;
    void Wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t r = ::write(wake_, &one, sizeof one);
    }
    void ClearWake() override {
        uint64_t count;
        [[maybe_unused]] ssize_t r = ::read(wake_, &count, sizeof count);
    }
    void Close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    int wake_;
};

TConnectResult TPosixSocket::Connect(const std::string& host, const std::string& port,
                                     int timeout_ms) {
    Close();
    ClearWake();
    TConnectResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
        result.failure = cfResolve;
        result.error = e;
        result.text = e == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(e);
        return result;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    result.failure = cfTimedOut;
    result.error = ETIMEDOUT;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                a->ai_protocol);
        if (fd < 0) continue;
        int e = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (e == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int r;
            do {
                r = ::poll(&p, 1, MillisecondsLeft(deadline));
            } while (r < 0 && errno == EINTR);
            if (r == 0) {
                e = ETIMEDOUT;
            } else {
                socklen_t size = sizeof e;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &size) != 0) e = errno;
            }
        }
        if (e == 0) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            fd_ = fd;
            ::freeaddrinfo(found);
            return {};
        }
        ::close(fd);
        // The most telling failure of the addresses tried wins over a later time-out.
        if (result.failure == cfTimedOut || e != ETIMEDOUT) {
            result.failure = FailureOf(e);
            result.error = e;
        }
        if (MillisecondsLeft(deadline) == 0) break;
    }
    ::freeaddrinfo(found);
    result.text = std::strerror(result.error);
    return result;
}

size_t TPosixSocket::Send(const char* bytes, size_t count, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    while (done < count && fd_ >= 0) {
        const ssize_t n = ::send(fd_, bytes + done, count - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            const int left = MillisecondsLeft(deadline);
            if (left > 0 && ::poll(&p, 1, left) >= 0) continue;
        }
        break;
    }
    return done;
}

int TPosixSocket::Receive(char* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN ? kWouldBlock : kFailed;
    }
}

bool TPosixSocket::Wait(int timeout_ms, bool wakeable, bool watch_socket) {
    pollfd p[2] = {{watch_socket ? fd_ : -1, POLLIN, 0}, {wakeable ? wake_ : -1, POLLIN, 0}};
    for (;;) {
        const int r = ::poll(p, 2, timeout_ms);
        if (r >= 0) return r > 0;
        if (errno != EINTR) return true; // let the caller look
    }
}

} // namespace

std::unique_ptr<TSocket> CreateSocket() {
    return std::make_unique<TPosixSocket>();
}
