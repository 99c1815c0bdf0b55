// The network port's TCP connection with Winsock. A UDP socket connected to itself on the
// loopback wakes the event thread, so that one select() waits for both.
#include "comm_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <climits>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left < INT_MAX ? left : INT_MAX);
}

timeval Timeval(int ms) {
    timeval t;
    t.tv_sec = ms / 1000;
    t.tv_usec = (ms % 1000) * 1000;
    return t;
}

std::string SystemMessage(int error) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(error), 0, text, sizeof text,
                                     nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

TConnectFailure FailureOf(int error) {
    switch (error) {
    case WSAECONNREFUSED: return cfRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN: return cfUnreachable;
    case WSAETIMEDOUT: return cfTimedOut;
    default: return cfOther;
    }
}

void StartWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data); // held for the life of the program
    });
}

class TWin32Socket final : public TSocket {
  public:
    TWin32Socket() {
        StartWinsock();
        wake_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof a;
        if (wake_ != INVALID_SOCKET &&
            (::bind(wake_, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
             ::getsockname(wake_, reinterpret_cast<sockaddr*>(&a), &size) != 0 ||
             ::connect(wake_, reinterpret_cast<sockaddr*>(&a), size) != 0)) {
            ::closesocket(wake_);
            wake_ = INVALID_SOCKET;
        }
        if (wake_ != INVALID_SOCKET) {
            u_long on = 1;
            ::ioctlsocket(wake_, FIONBIO, &on);
        }
    }
    ~TWin32Socket() override {
        Close();
        if (wake_ != INVALID_SOCKET) ::closesocket(wake_);
    }

    TConnectResult Connect(const std::string& host, const std::string& port,
                           int timeout_ms) override;
    size_t Send(const char* bytes, size_t count, int timeout_ms) override;
    int Receive(char* buffer, size_t size) override;
    bool Wait(int timeout_ms, bool wakeable, bool watch_socket) override;
    void Wake() override {
        const char one = 1;
        if (wake_ != INVALID_SOCKET) ::send(wake_, &one, 1, 0);
    }
    void ClearWake() override {
        char buf[64];
        while (wake_ != INVALID_SOCKET && ::recv(wake_, buf, sizeof buf, 0) > 0) {
        }
    }
    void Close() override {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }

  private:
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET wake_ = INVALID_SOCKET;
};

TConnectResult TWin32Socket::Connect(const std::string& host, const std::string& port,
                                     int timeout_ms) {
    Close();
    ClearWake();
    TConnectResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
        result.failure = cfResolve;
        result.error = e;
        result.text = SystemMessage(e);
        return result;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    result.failure = cfTimedOut;
    result.error = WSAETIMEDOUT;
    for (addrinfo* a = found; a; a = a->ai_next) {
        SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        u_long on = 1;
        ::ioctlsocket(s, FIONBIO, &on);
        int e = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0
                    ? 0
                    : ::WSAGetLastError();
        if (e == WSAEWOULDBLOCK) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval t = Timeval(MillisecondsLeft(deadline));
            const int r = ::select(0, nullptr, &writable, &failed, &t);
            if (r == 0) {
                e = WSAETIMEDOUT;
            } else {
                int error = 0, size = sizeof error;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
                e = FD_ISSET(s, &failed) && error == 0 ? WSAECONNREFUSED : error;
            }
        }
        if (e == 0) {
            BOOL nodelay = TRUE;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay),
                         sizeof nodelay);
            socket_ = s;
            ::freeaddrinfo(found);
            return {};
        }
        ::closesocket(s);
        if (result.failure == cfTimedOut || e != WSAETIMEDOUT) {
            result.failure = FailureOf(e);
            result.error = e;
        }
        if (MillisecondsLeft(deadline) == 0) break;
    }
    ::freeaddrinfo(found);
    result.text = SystemMessage(result.error);
    return result;
}

size_t TWin32Socket::Send(const char* bytes, size_t count, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t done = 0;
    while (done < count && socket_ != INVALID_SOCKET) {
        const int chunk = static_cast<int>(std::min<size_t>(count - done, 1 << 20));
        const int n = ::send(socket_, bytes + done, chunk, 0);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
            const int left = MillisecondsLeft(deadline);
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(socket_, &writable);
            timeval t = Timeval(left);
            if (left > 0 && ::select(0, nullptr, &writable, nullptr, &t) > 0) continue;
        }
        break;
    }
    return done;
}

int TWin32Socket::Receive(char* buffer, size_t size) {
    const int n = ::recv(socket_, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
    if (n >= 0) return n;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

bool TWin32Socket::Wait(int timeout_ms, bool wakeable, bool watch_socket) {
    fd_set readable;
    FD_ZERO(&readable);
    if (watch_socket && socket_ != INVALID_SOCKET) FD_SET(socket_, &readable);
    if (wakeable && wake_ != INVALID_SOCKET) FD_SET(wake_, &readable);
    if (readable.fd_count == 0) {
        ::Sleep(timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
        return false;
    }
    timeval t = Timeval(timeout_ms);
    const int r = ::select(0, &readable, nullptr, nullptr, timeout_ms < 0 ? nullptr : &t);
    return r != 0;
}

} // namespace

std::unique_ptr<TSocket> CreateSocket() {
    return std::make_unique<TWin32Socket>();
}
