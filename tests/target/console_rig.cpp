#include "console_rig.h"

#include "floppy_service.h"
#include "frame.h"
#include "test_dir.h"
#include "test_images.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

class TConsoleRig::TPort : public TPortIO {
  public:
    explicit TPort(int fd) : fd_(fd) {}
    int InQueCount() override {
        int n = 0;
        return ioctl(fd_, FIONREAD, &n) == 0 ? n : -1;
    }
    int Read(char* buffer, unsigned long count) override {
        return static_cast<int>(::read(fd_, buffer, count));
    }
    int Write(const char* buffer, unsigned long count) override {
        unsigned long done = 0;
        while (done < count) {
            ssize_t n = ::send(fd_, buffer + done, count - done, MSG_NOSIGNAL);
            if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, buffer + done, count - done);
            if (n <= 0) return -1;
            done += static_cast<unsigned long>(n);
        }
        return static_cast<int>(count);
    }

  private:
    int fd_;
};

// The window system: a timer of tick_ms, the port's received-data event, and the stop.
class TConsoleRig::THost : public TConsoleHost {
  public:
    THost(TConsoleRig& rig, int fd, int tick_ms, std::atomic<bool>& stop)
        : rig_(rig), fd_(fd), tick_(tick_ms), stop_(stop), next_tick_(Clock::now() + tick_) {}
    TLink* link = nullptr;

    void ProcessPendingEvents() override {
        while (Clock::now() >= next_tick_) {
            link->CountDownTimeout();
            next_tick_ += tick_;
        }
        const int waiting = link->Port().InQueCount();
        if (waiting > 0) {
            link->CommRxChar(static_cast<uint32_t>(waiting));
            std::lock_guard<std::mutex> lock(rig_.received_mutex_);
            rig_.received_ = link->ReceivedCount();
            rig_.received_cv_.notify_all();
        }
        // Stop once everything the simulator sent has been taken apart.
        if (stop_ && waiting <= 0 && link->queue.QueueEmpty()) link->stop_request = true;
    }
    void WaitForEvents() override {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(next_tick_ - Clock::now())
                .count();
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0) + 1));
        if (p.revents & POLLHUP) poll(nullptr, 0, static_cast<int>(tick_.count()));
        ProcessPendingEvents();
    }
    void ShowStatus(const char*) override {}

  private:
    TConsoleRig& rig_;
    int fd_;
    std::chrono::milliseconds tick_;
    std::atomic<bool>& stop_;
    Clock::time_point next_tick_;
};

// The console's floppy service as the main cycle sees it, counting from outside what the
// tests ask about. Rig thread only.
class TConsoleRig::TCountingDisk : public TDiskService {
  public:
    TCountingDisk(TConsoleRig& rig, TDiskService& service) : rig_(rig), service_(service) {}
    bool ImageAttached() const override { return service_.ImageAttached(); }
    void DiskRequest() override {
        ++rig_.requests_;
        try {
            service_.DiskRequest();
        } catch (const TAbandonExchange&) {
            ++rig_.abandoned_;
            CountWrite();
            throw;
        }
        CountWrite();
    }

  private:
    // Takes the modification events of this exchange (they are queued by the write call
    // itself, and would merge with the next exchange's if left unread).
    void CountWrite() {
        if (rig_.watch_fd_ < 0) return;
        alignas(inotify_event) char events[4096];
        bool modified = false;
        for (ssize_t n; (n = ::read(rig_.watch_fd_, events, sizeof events)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                if (e->mask & IN_MODIFY) modified = true;
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
        if (modified) ++rig_.writes_;
    }

    TConsoleRig& rig_;
    TDiskService& service_;
};

TConsoleRig::TConsoleRig(std::vector<uint8_t> image, bool attached, int tick_ms)
    : TConsoleRig(std::move(image), attached, tick_ms, -1) {}

TConsoleRig::TConsoleRig(std::vector<uint8_t> image, bool attached, int tick_ms, int console_fd)
    : image_(std::move(image)), attached_(attached), tick_ms_(tick_ms) {
    if (console_fd >= 0)
        fds_[0] = console_fd;
    else
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds_);
    if (attached_) {
        std::string name = TestPath("rig-XXXXXX");
        const int fd = mkstemp(name.data());
        bool written = fd >= 0;
        for (size_t done = 0; written && done < image_.size();) {
            const ssize_t n = ::write(fd, image_.data() + done, image_.size() - done);
            written = n > 0;
            done += written ? size_t(n) : 0;
        }
        if (fd >= 0) close(fd);
        if (written) {
            path_ = name;
            watch_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            if (watch_fd_ < 0 || inotify_add_watch(watch_fd_, path_.c_str(), IN_MODIFY) < 0)
                ADD_FAILURE() << "cannot watch " << path_ << ": " << std::strerror(errno);
        } else {
            ADD_FAILURE() << "cannot write the image file " << name << ": " << std::strerror(errno);
            if (fd >= 0) unlink(name.c_str());
        }
    }
    thread_ = std::thread([this] { Run(); });
}

TConsoleRig::TConsoleRig(std::shared_ptr<TMemoryImage> memory, int tick_ms, int console_fd)
    : image_(memory->Bytes()), memory_(std::move(memory)), attached_(false), tick_ms_(tick_ms) {
    fds_[0] = console_fd;
    thread_ = std::thread([this] { Run(); });
}

void TConsoleRig::Run() {
    TPort port(fds_[0]);
    THost host(*this, fds_[0], tick_ms_, stop_);
    TLink link(port, host);
    host.link = &link;
    TFloppyService floppy(link, screen_);
    if (attached_) floppy.OpenImage(path_);
    if (memory_) floppy.OpenMemoryImage(memory_, "memory");
    if (attached_ || memory_) floppy.AllocTrackBuffer();
    TCountingDisk disk(*this, floppy);
    Maincycle(screen_, link, disk);
    floppy.CloseImage();
    floppy.FreeTrackBuffer();
}

TConsoleRig::~TConsoleRig() {
    Stop();
    if (fds_[1] >= 0) close(fds_[1]);
    if (watch_fd_ >= 0) close(watch_fd_);
    if (!path_.empty()) unlink(path_.c_str());
}

int TConsoleRig::TakeTargetFd() {
    const int fd = fds_[1];
    fds_[1] = -1;
    return fd;
}

void TConsoleRig::SendKeys(const std::vector<uint8_t>& bytes) {
    TPort(fds_[0]).Write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool TConsoleRig::WaitReceived(int64_t count, int timeout_ms) {
    std::unique_lock<std::mutex> lock(received_mutex_);
    return received_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                 [&] { return received_ >= count; });
}

void TConsoleRig::Stop() {
    stop_ = true;
    if (!thread_.joinable()) return;
    thread_.join();
    if (!path_.empty()) image_ = ReadFile(path_);
    if (memory_) image_ = memory_->Bytes();
    if (fds_[0] >= 0) close(fds_[0]);
    fds_[0] = -1;
}

std::vector<uint8_t> MakeTestImage(uint32_t seed) {
    std::vector<uint8_t> image(2880 * kSectorBytes);
    std::mt19937 rng(seed);
    for (auto& b : image)
        b = static_cast<uint8_t>(rng());
    uint8_t* boot = image.data();
    std::memset(boot, 0, kSectorBytes);
    const uint8_t bpb[] = {0xEB, 0x3C, 0x90, 'T', 'E', 'S', 'T', ' ',  ' ',  ' ',
                           ' ',  0x00, 0x02, 1,   1,   0,   2,   0xE0, 0x00, 0x40,
                           0x0B, 0xF0, 9,    0,   18,  0,   2,   0};
    std::memcpy(boot, bpb, sizeof bpb);
    std::memcpy(boot + 54, "FAT12   ", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    return image;
}
