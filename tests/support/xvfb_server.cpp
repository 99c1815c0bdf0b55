#include "xvfb_server.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

std::string FindOnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

std::string TXvfb::Start(const char* screen) {
    const std::string xvfb = FindOnPath("Xvfb");
    if (xvfb.empty()) return "Xvfb is not installed (Debian package xvfb)";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "pipe failed";
    const std::string fd_arg = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // no stray server if this program crashes
        fcntl(fds[1], F_SETFD, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(xvfb.c_str(), "Xvfb", "-displayfd", fd_arg.c_str(), "-nolisten", "tcp", "-screen",
              "0", screen, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return "fork failed";
    }
    // The server writes its display number once it accepts connections.
    std::string number;
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 30000) <= 0) break;
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) return "Xvfb did not come up within 30 s";
    display_ = ":" + number;
    return {};
}

TXvfb::~TXvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string TXvfb::StartForQt(const char* screen) {
    const std::string why = Start(screen);
    if (!why.empty()) return why;
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    return "";
}
