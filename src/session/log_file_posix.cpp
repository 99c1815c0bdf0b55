// The log file on POSIX: open(2) and write(2), retried when a signal interrupts them.
#include "log_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool TLogFile::Create(const std::string& path) {
    Close();
    error_.clear();
    // Past the process's file size limit a write fails (EFBIG) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    int fd;
    do {
        // Non-blocking, so that a terminal or a device picked by mistake never holds up the
        // window thread: a write it cannot take at once fails instead.
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                    0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        error_ = "not a file";
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

bool TLogFile::IsOpen() const { return fd_ >= 0; }

bool TLogFile::Write(const char* bytes, size_t count) {
    if (fd_ < 0) return false;
    while (count > 0) {
        const ssize_t n = ::write(fd_, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool TLogFile::StillNamed() {
    if (fd_ < 0) return false;
    struct stat open_file, named;
    if (::fstat(fd_, &open_file) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(open_file.st_mode)) return true; // a device keeps its name
    if (open_file.st_nlink == 0 || ::stat(path_.c_str(), &named) != 0 ||
        named.st_dev != open_file.st_dev || named.st_ino != open_file.st_ino) {
        error_ = "the file or its folder was removed or renamed";
        return false;
    }
    return true;
}

bool TLogFile::Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    // EINTR leaves the descriptor closed on Linux: nothing to retry.
    if (::close(fd) != 0 && errno != EINTR) {
        error_ = std::strerror(errno);
        return false;
    }
    return true;
}
