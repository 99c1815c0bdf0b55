#include "pty_target.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

TPtyTarget::TPtyTarget() {
    char name[256];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    slave_path_ = name;
    termios t;
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    setenv("QUORVIK_COM1", slave_path_.c_str(), 1);
}

TPtyTarget::~TPtyTarget() {
    close(master_);
    close(slave_);
}

void TPtyTarget::Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write");
    }
}

const std::string& TPtyTarget::Received() {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) break;
        received_.append(buf, static_cast<size_t>(n));
    }
    return received_;
}

void MapCom2ToNoDevice() { setenv("QUORVIK_COM2", "/nonexistent/quorvik-test-device", 1); }
