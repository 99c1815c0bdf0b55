#include "image_file.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

// The default action of SIGXFSZ ends the process; ignored, the write fails with EFBIG and
// the target gets an error status instead.
void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

int64_t DeviceSize(int fd) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return -1;
    return static_cast<int64_t>(bytes);
}

} // namespace

TOpenMode TImageFile::Open(const std::string& path) {
    Close();
    IgnoreFileSizeSignal();
    TOpenMode mode = omReadWrite;
    int fd = OpenRetrying(path.c_str(), O_RDWR);
    if (fd < 0 && WriteRefused(errno)) {
        mode = omReadOnly;
        fd = OpenRetrying(path.c_str(), O_RDONLY);
    }
    if (fd < 0) {
        error_ = errno;
        return omClosed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        error_ = ENODEV;
        ::close(fd);
        return omClosed;
    }
    fd_ = fd;
    mode_ = mode;
    path_ = path;
    return mode_;
}

TOpenMode TImageFile::Create(const std::string& path) {
    Close();
    IgnoreFileSizeSignal();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = errno;
        return omClosed;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = ENODEV;
        ::close(fd);
        return omClosed;
    }
    fd_ = fd;
    mode_ = omReadWrite;
    path_ = path;
    return mode_;
}

void TImageFile::Close() {
    if (fd_ >= 0) {
        // Nothing is buffered here; a failing close loses nothing that Sync has not reported.
        ::close(fd_);
    }
    fd_ = -1;
    mode_ = omClosed;
    path_.clear();
}

int64_t TImageFile::Size() {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        error_ = errno;
        return -1;
    }
    if (S_ISBLK(st.st_mode)) return DeviceSize(fd_);
    return static_cast<int64_t>(st.st_size);
}

bool TImageFile::Reserve(int64_t offset, int64_t count) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        error_ = errno;
        return false;
    }
    // The file size limit also stops writes inside an existing file, part way through.
    rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<uint64_t>(offset + count) > limit.rlim_cur) {
        error_ = EFBIG;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        const int64_t size = S_ISBLK(st.st_mode) ? DeviceSize(fd_) : -1;
        if (size < 0 || offset + count > size) {
            error_ = ENOSPC;
            return false;
        }
        return true;
    }
    for (;;) {
        // Where the file system cannot allocate ahead, the C library fills holes by writing
        // zero bytes only where the file reads zero: the contents never change.
        const int r = ::posix_fallocate(fd_, static_cast<off_t>(offset), static_cast<off_t>(count));
        if (r == 0) return true;
        if (r == EINTR) continue;
        error_ = r;
        return false;
    }
}

bool TImageFile::StillNamed() {
    struct stat open_file, named;
    if (::fstat(fd_, &open_file) != 0) {
        error_ = errno;
        return false;
    }
    if (open_file.st_nlink == 0 && !S_ISBLK(open_file.st_mode)) {
        error_ = ENOENT;
        return false;
    }
    if (::stat(path_.c_str(), &named) != 0) {
        error_ = errno;
        return false;
    }
    if (named.st_dev != open_file.st_dev || named.st_ino != open_file.st_ino) {
        error_ = ESTALE;
        return false;
    }
    return true;
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

std::string TImageFile::ErrorText() const {
    return std::strerror(error_);
}
