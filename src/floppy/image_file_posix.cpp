#include "image_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Writing is refused, but reading may still be allowed.
bool WriteRefused(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY;
}

int OpenRetrying(const char* path, int access) {
    for (;;) {
        const int fd = ::open(path, access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

} // namespace

TOpenMode TImageFile::Open(const char* path) {
    Close();
    TOpenMode mode = omReadWrite;
    int fd = OpenRetrying(path, O_RDWR);
    if (fd < 0 && WriteRefused(errno)) {
        mode = omReadOnly;
        fd = OpenRetrying(path, O_RDONLY);
    }
    if (fd < 0) {
        error_ = errno;
        return omClosed;
    }
    fd_ = fd;
    mode_ = mode;
    return mode_;
}

void TImageFile::Close() {
    if (fd_ >= 0) {
        // Nothing is buffered here; a failing close loses nothing that Sync has not reported.
        ::close(fd_);
    }
    fd_ = -1;
    mode_ = omClosed;
}

bool TImageFile::Seek(int64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        error_ = errno;
        return false;
    }
    return true;
}

long TImageFile::Read(void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        const ssize_t r = ::read(fd_, out + got, count - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long>(got);
}

bool TImageFile::Write(const void* buffer, size_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t r = ::write(fd_, in + done, count - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        if (r == 0) { // no progress and no error: treat as a full device
            error_ = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

bool TImageFile::Sync() {
    for (;;) {
        if (::fsync(fd_) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EINVAL) return true; // this kind of file has nothing to sync
        error_ = errno;
        return false;
    }
}
