#include "console_rig.h"

#include "frame.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include <poll.h>
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

class TConsoleRig::TDisk : public TDiskService {
  public:
    TDisk(TConsoleRig& rig, TLink& link) : rig_(rig), link_(link) {
        spt_ = Get16(rig.image_.data() + 24);
        heads_ = Get16(rig.image_.data() + 26);
    }
    bool ImageAttached() const override { return rig_.attached_; }
    void DiskRequest() override {
        try {
            uint8_t request[kRequestFrameBody];
            if (ReceiveFrame(request, sizeof request, false) != 0) return;
            ++rig_.requests_;
            Serve(request);
        } catch (const TAbandonExchange&) {
            ++rig_.abandoned_;
            throw;
        }
    }

  private:
    uint8_t Take() {
        link_.WaitForExchangeByte();
        return link_.TakeByte();
    }
    void Send(uint8_t b) { link_.Write(&b, 1); }
    int ReceiveFrame(uint8_t* buffer, size_t length, bool header) {
        if (header && (Take() != kFrameEsc || Take() != kFrameD)) return 0xCC;
        for (size_t i = 0; i < length; ++i)
            buffer[i] = Take();
        if (FrameChecksum(buffer, length) != 0) {
            Send(kFrameNak);
            return 0xCC;
        }
        Send(kFrameAck);
        return 0;
    }
    int SendFrame(const uint8_t* bytes, size_t length) {
        link_.Write(bytes, length);
        link_.WaitForExchangeByte();
        const uint8_t b = link_.PeekByte();
        if (b != kFrameAck && b != kFrameNak) throw TAbandonExchange{};
        link_.TakeByte();
        return b == kFrameAck ? 0 : 1;
    }
    void SendReply() {
        uint8_t payload[10], frame[kReplyFrameSize];
        for (int i = 0; i < 4; ++i)
            Put16(payload + 2 * i, regs_[i]);
        Put16(payload + 8, flags_);
        BuildFrame(payload, sizeof payload, frame);
        if (SendFrame(frame, sizeof frame) == 1) throw TAbandonExchange{};
    }
    size_t Offset(uint16_t cx, uint16_t dx) const {
        return ((size_t(cx >> 8) * heads_ + (dx >> 8)) * spt_ + (cx & 0xFF) - 1) * kSectorBytes;
    }
    void Serve(const uint8_t* req) {
        for (int i = 0; i < 4; ++i)
            regs_[i] = Get16(req + 3 + 2 * i);
        const uint8_t n = regs_[0] & 0xFF, fn = regs_[0] >> 8;
        if (!rig_.attached_) {
            regs_[0] = uint16_t((regs_[0] & 0xFF) | 0x0100);
            flags_ |= 1;
            return SendReply();
        }
        if ((fn != 2 && fn != 3) || n > spt_) return; // the target's own time-out applies
        const size_t off = Offset(regs_[2], regs_[3]);
        std::vector<uint8_t> track(size_t(n) * kSectorBytes);
        if (fn == 2) {
            std::memcpy(track.data(), rig_.image_.data() + off, track.size());
            regs_[0] &= 0x00FF;
            flags_ &= ~1;
            SendReply();
            uint8_t frame[kDataFrameSize];
            for (int i = 0; i < n; ++i) {
                link_.timeout_counter = kTimeoutTicks;
                BuildFrame(track.data() + size_t(i) * kSectorBytes, kSectorBytes, frame);
                if (SendFrame(frame, sizeof frame) == 1) throw TAbandonExchange{};
            }
            return;
        }
        SendReply(); // AH 3: send the data
        uint8_t body[kDataFrameBody];
        for (int i = 0; i < n; ++i) {
            link_.timeout_counter = kTimeoutTicks;
            if (ReceiveFrame(body, sizeof body, true) != 0) throw TAbandonExchange{};
            std::memcpy(track.data() + size_t(i) * kSectorBytes, body + 3, kSectorBytes);
        }
        for (int i = 0; i < 4; ++i)
            regs_[i] = Get16(req + 3 + 2 * i);
        regs_[0] &= 0x00FF;
        flags_ &= ~1;
        SendReply();
        std::memcpy(rig_.image_.data() + off, track.data(), track.size());
        ++rig_.writes_;
    }

    TConsoleRig& rig_;
    TLink& link_;
    uint16_t spt_ = 0, heads_ = 0;
    uint16_t regs_[4] = {};
    uint16_t flags_ = 0;
};

TConsoleRig::TConsoleRig(std::vector<uint8_t> image, bool attached, int tick_ms)
    : TConsoleRig(std::move(image), attached, tick_ms, -1) {}

TConsoleRig::TConsoleRig(std::vector<uint8_t> image, bool attached, int tick_ms, int console_fd)
    : image_(std::move(image)), attached_(attached), tick_ms_(tick_ms) {
    if (console_fd >= 0)
        fds_[0] = console_fd;
    else
        socketpair(AF_UNIX, SOCK_STREAM, 0, fds_);
    thread_ = std::thread([this] {
        TPort port(fds_[0]);
        THost host(*this, fds_[0], tick_ms_, stop_);
        TLink link(port, host);
        host.link = &link;
        TDisk disk(*this, link);
        Maincycle(screen_, link, disk);
    });
}

TConsoleRig::~TConsoleRig() {
    Stop();
    if (fds_[1] >= 0) close(fds_[1]);
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
    if (thread_.joinable()) thread_.join();
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
