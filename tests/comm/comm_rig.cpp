#include "comm_rig.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

TPty::TPty() {
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

TPty::~TPty() {
    CloseSlave();
    CloseMaster();
}

void TPty::CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
}

void TPty::CloseSlave() {
    if (slave >= 0) close(slave);
    slave = -1;
}

termios TPty::Attributes() const {
    termios t{};
    EXPECT_EQ(tcgetattr(slave, &t), 0);
    return t;
}

void TPty::Send(const std::vector<uint8_t>& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{master, POLLOUT, 0};
            ASSERT_GT(poll(&p, 1, 5000), 0) << "far end cannot send";
        } else if (!(n < 0 && errno == EINTR)) {
            FAIL() << "write to the far end failed";
        }
    }
}

void TPty::Send(const std::string& text) const {
    Send(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> TPty::Receive(size_t count, std::chrono::milliseconds timeout) const {
    std::vector<uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    uint8_t buffer[4096];
    while (got.size() < count) {
        const ssize_t n = read(master, buffer, std::min(sizeof buffer, count - got.size()));
        if (n > 0) {
            got.insert(got.end(), buffer, buffer + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (!(n < 0 && errno == EAGAIN)) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    }
    return got;
}
