#include "pty_peer_win32.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += kDigits[b >> 4];
        s += kDigits[b & 15];
    }
    return s;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

} // namespace

TPeer::TPeer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const char* port = std::getenv("QUORVIK_PTY_PEER_PORT");
    if (!port || !*port) {
        ADD_FAILURE() << "QUORVIK_PTY_PEER_PORT is not set: run through scripts/win-test";
        return;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ADD_FAILURE() << "cannot reach the pty peer on port " << port;
        if (s != INVALID_SOCKET) closesocket(s);
        return;
    }
    socket_ = s;
}

TPeer::~TPeer() {
    if (Connected()) closesocket(static_cast<SOCKET>(socket_));
}

std::string TPeer::Ask(const std::string& command) {
    if (!Connected()) return {};
    const std::string line = command + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const int n = send(static_cast<SOCKET>(socket_), line.data() + sent,
                           static_cast<int>(line.size() - sent), 0);
        if (n <= 0) return {};
        sent += static_cast<size_t>(n);
    }
    for (;;) {
        const size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            std::string answer = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return answer;
        }
        char buffer[4096];
        const int n = recv(static_cast<SOCKET>(socket_), buffer, sizeof buffer, 0);
        if (n <= 0) return {};
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

void TPeer::Send(int pty, const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(Ask("SEND " + std::to_string(pty) + " " + ToHex(bytes)), "OK");
}

std::vector<uint8_t> TPeer::Receive(int pty, size_t count, std::chrono::milliseconds timeout) {
    const std::string answer = Ask("RECV " + std::to_string(pty) + " " + std::to_string(count) +
                                   " " + std::to_string(timeout.count()));
    if (answer.rfind("DATA ", 0) != 0) {
        ADD_FAILURE() << "peer answered: " << answer;
        return {};
    }
    return FromHex(answer.substr(5));
}

void TPeer::Drain(int pty) {
    EXPECT_EQ(Ask("DRAIN " + std::to_string(pty)), "OK");
}

TPeerAttr TPeer::Attr(int pty) {
    TPeerAttr attr;
    std::istringstream in(Ask("ATTR " + std::to_string(pty)));
    std::string word;
    int crtscts = 0, ixon = 0, ixoff = 0;
    in >> word >> attr.speed >> attr.data_bits >> attr.parity >> attr.stop_bits >> crtscts >>
        ixon >> ixoff;
    EXPECT_EQ(word, "ATTR");
    attr.crtscts = crtscts;
    attr.ixon = ixon;
    attr.ixoff = ixoff;
    return attr;
}
