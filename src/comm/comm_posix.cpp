// The serial device on Linux: a tty opened non-blocking, waited on with epoll and an eventfd.
//
// How the component sits on POSIX termios. "main" and "event" name the calling thread.
//  - Device name (main, Open): what a name opens is told in comm_names.h: "COMn" in any case
//    opens what MapPort chose for it, else the environment variable QUORVIK_COMn when it is
//    set and not empty, else /dev/ttyS0 ... /dev/ttyS8 for COM1 ... COM9. A name containing
//    '/' is opened as a path. Any other name cannot be opened. A tcp:// or rfc2217:// target
//    is the network port (below), on both platforms.
//    The device is opened read/write, O_NOCTTY, O_NONBLOCK, O_CLOEXEC, then taken for exclusive
//    use with TIOCEXCL (nothing else may open it, except a privileged process). A name that
//    cannot be opened, or that is not a character device, leaves the port closed, no raise.
//  - Low latency (main, Open): ASYNC_LOW_LATENCY is asked for through TIOCSSERIAL where the
//    driver allows it (USB adapters otherwise hold short replies back up to 16 ms); its old
//    setting is put back at Close. Drivers without it (pseudo-terminals) are left alone.
//  - Control block (main): the device's termios (termios2, with its exact speeds) is saved at
//    open and restored at close. UpdateDataControlBlock reads the current termios2, sets raw
//    mode (no echo, no signals, no canonical input, no output processing, no CR/NL mapping),
//    CREAD and CLOCAL (the modem status lines never hang the port up), VMIN 1 and VTIME 0, and
//    then the settings:
//      BaudRate  a POSIX standard speed is set as its Bnnnn code; 14400, 56000, 128000,
//                256000 and UserBaud (brUSER) as BOTHER with the exact number. A UserBaud of
//                0 or below cannot be set: "Error updating DataControlBlock" with EINVAL.
//      DataBits  da5 ... da8 are CS5 ... CS8; da4 has no termios equivalent: EINVAL.
//      StopBits  sb10 one stop bit; sb15 and sb20 set CSTOPB (two; a UART gives one and a half
//                with five data bits, like the PC's).
//      Parity    paNone none; paOdd PARENB|PARODD; paEven PARENB; paMark PARENB|CMSPAR|PARODD;
//                paSpace PARENB|CMSPAR.
//      Options   coParityCheck sets INPCK (received bytes with a parity error arrive as 0 and
//                are counted as CE_RXPARITY where the driver counts). coDsrSensitivity,
//                coIgnoreXOff, coErrorChar and coNullStrip have no termios equivalent: stored,
//                without effect. The same holds for ErrorChar, EofCharc and EvtChar, and for
//                the XON/XOFF limits.
//      FlowControl  fcNone clears CRTSCTS, IXON, IXOFF, IXANY. fcCTS sets CRTSCTS (RTS/CTS)
//                and clears IXON/IXOFF. fcSoftware sets IXON and IXOFF and clears CRTSCTS.
//                fcDTR: Linux has no DTR/DSR handshake; the handshake flags are cleared and DTR
//                is raised (TIOCMBIS, where the driver has modem lines), so that a peer that
//                waits for DTR may send. fcDefault leaves the driver's handshake as it is;
//                a Linux tty that nobody has configured has IXON on, so 11 and 13 are then
//                taken as XON and XOFF (the console sets fcNone). In every mode VSTART and
//                VSTOP are XOnChar and XOffChar.
//    The change is written with TCSETS2 (TCSANOW).
//  - Queue sizes (main, Open): the kernel's tty queues have a fixed size, so sizing them always
//    succeeds; ReadBufSize and WriteBufSize are kept for the record.
//  - Time-outs (main, Open): UpdateCommTimeouts checks that the device is a terminal (else
//    "Error updating CommTimeouts" with its errno, e.g. ENOTTY for /dev/null). Read gathers
//    for at most 1000 ms in total. Write waits at most 1000 ms plus twice the time the bytes
//    take on the line at the speed set at that moment (12 bits a byte).
//  - Read (main): returns at once with `count` bytes when they are queued; otherwise waits with
//    poll() for more until `count` bytes are there or 1000 ms have passed in total, and returns
//    what it has (0 when nothing came). A hung-up device returns what was there at once.
//  - Write (main): writes every byte, waiting with poll() for POLLOUT whenever the driver
//    accepts no more (EAGAIN, partial writes), and returns the number of bytes the driver took:
//    all of them, or fewer when the device failed or its time-out passed.
//  - Counts (main): InQueCount is FIONREAD, OutQueCount is TIOCOUTQ. The error flags that
//    ClearCommError returns are the changes of the driver's counters (TIOCGICOUNT) since the
//    last call: overrun CE_OVERRUN, buffer overrun CE_RXOVER, parity CE_RXPARITY, framing
//    CE_FRAME, break CE_BREAK; a hung-up device adds CE_MODE once. The ComStat's flag word has
//    fCtsHold while RTS/CTS handshake is on and CTS is low; the other hold flags are not
//    visible through termios and stay 0.
//  - Events (event): the thread waits with epoll, edge-triggered, on the device and on an
//    eventfd that wakes it; nothing runs while the line is quiet. Edge-triggered because a
//    level-triggered poll() would report the same unread bytes again and again, where the
//    owner is only told of newly received bytes. evRxChar: bytes were received. evBreak and
//    evError: the driver's break and error counters (TIOCGICOUNT) grew. evCts, evDsr, evRing,
//    evRlsd: where the driver has modem lines (TIOCMGET) and one of them is monitored, the
//    counters and lines are sampled every 10 ms. evTxEmpty: after a Write, the transmit queue
//    (TIOCOUTQ) is watched until it is empty. evRxFlag: termios has no event character; never
//    reported. Pseudo-terminals have no counters and no modem lines (ENOTTY): there only
//    evRxChar, evTxEmpty and the hang-up occur. A device that hangs up (the far end of a
//    pseudo-terminal closed, a USB adapter pulled) is gone (below).
//  - Line control (main): SETXOFF/SETXON are tcflow TCOOFF/TCOON, SETRTS/CLRRTS and
//    SETDTR/CLRDTR are TIOCMBIS/TIOCMBIC, SETBREAK/CLRBREAK are TIOCSBRK/TIOCCBRK. Any other
//    code fails with EINVAL. Pseudo-terminals answer ENOTTY to the modem lines.
//  - Purge (main, and the event thread as it ends): PURGE_RXCLEAR is TCIFLUSH, PURGE_TXCLEAR
//    TCOFLUSH; the ABORT flags have nothing to abort (no transfer outlives its call).
//  - GetModemState (main): TIOCMGET; CTS, DSR, RI, DCD.
//  - Going away: a hang-up (EPOLLHUP), or a read that fails with EIO or ENODEV (a USB adapter
//    pulled). The device is then left out of the wait and its settings are not restored.
//
#include "comm_device.h"
#include "comm_names.h"
#include "comm_posix_line.h"
#include "port_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

int Ioctl(int fd, unsigned long request, void* arg) {
    for (;;) {
        if (::ioctl(fd, request, arg) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return static_cast<int>(std::min<long long>(left + 1, INT_MAX));
}

// Waits for `events` on fd until the deadline. True when the device is ready (or reports a
// condition that the next read or write will show); false on time-out or failure.
bool WaitReady(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int left = MillisecondsUntil(deadline);
        if (left == 0) return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, left);
        if (r > 0) return (p.revents & POLLNVAL) == 0;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

class TPosixCommDevice final : public TCommDevice {
  public:
    ~TPosixCommDevice() override { Close(); }

    bool Open(const std::string& name) override;
    void Close() override;
    std::string DescribeOpenFailure(const std::string& name,
                                    const std::string& path) const override;
    int SetTimeouts() override { return LineCheck(fd_); }
    // The kernel's tty queues have a fixed size.
    int SetupQueues(uint16_t, uint16_t) override { return 0; }
    int ApplySettings(const TLineSettings& settings) override;
    int Escape(int function) override;
    bool ModemStatus(uint32_t* bits) override;
    uint32_t ClearError(TComStat* stat) override;
    void Purge(uint32_t flags) override;
    int Read(char* buffer, unsigned long count) override;
    int Write(const char* buffer, unsigned long count) override;
    void SetEventMask(uint32_t mask) override { mask_.store(mask); }
    uint32_t WaitEvent() override;
    void CancelWait() override;

  private:
    static constexpr uint32_t kModemEvents = kEvCts | kEvDsr | kEvRing | kEvRlsd;

    void Kick();
    uint32_t CounterEvents();
    uint32_t LineEvents();
    void CloseDescriptors();

    int fd_ = -1;
    int open_error_ = 0; // why the last Open failed (errno; ENOTTY: not a terminal)
    int epoll_ = -1;
    int wake_ = -1;
    TSavedLine saved_;
    bool low_latency_set_ = false;
    int old_serial_flags_ = 0;

    bool has_counters_ = false; // TIOCGICOUNT works
    bool has_lines_ = false;    // TIOCMGET works
    std::atomic<uint32_t> mask_{0};
    std::atomic<bool> cancel_{false};
    std::atomic<bool> hung_up_{false};
    std::atomic<bool> gone_report_{false}; // a read found the device gone: report it once
    std::atomic<bool> tx_kick_{false};
    std::atomic<bool> rts_cts_{false};
    std::atomic<uint32_t> bits_per_second_{9600};

    // Event thread only.
    serial_icounter_struct event_counts_{};
    int event_lines_ = 0;
    bool tx_watch_ = false;
    int tx_wait_ms_ = -1;

    // Main thread; the lock keeps it whole should a status call come from elsewhere.
    std::mutex clear_lock_;
    serial_icounter_struct clear_counts_{};
};


std::string TPosixCommDevice::DescribeOpenFailure(const std::string& name,
                                                  const std::string& path) const {
    if (path.empty()) return name + " names no serial device: use COM1 ... COM9.";
    const std::string com = ComName(name);
    const std::string com_name = com.empty() ? std::string("COM1") : com;
    std::string text;
    const int error = open_error_;
    if (error == ENOTTY) {
        text += path + " is not a serial device (not a terminal).";
    } else {
        text += path + ": " + std::strerror(error) + " (error " + std::to_string(error) + ").";
    }
    if (error == EACCES || error == EPERM) {
        std::string owner;
        struct stat st;
        if (::stat(path.c_str(), &st) == 0) {
            if (const struct group* g = ::getgrgid(st.st_gid)) owner = g->gr_name;
        }
        text += owner.empty()
                    ? "\nYour user needs to be in the group that owns it; then log out and in again."
                    : "\nYour user needs to be in the group '" + owner + "' (sudo usermod -aG " +
                          owner + " $USER); then log out and in again.";
    } else if (error == EBUSY || error == EWOULDBLOCK) {
        text += "\nAnother program holds the port: close it, then press Connect again.";
    } else if (error == ENOENT || error == ENODEV || error == ENXIO || error == ENOTTY) {
        const std::vector<TSerialPortInfo> devices = ListSerialPorts();
        if (devices.empty()) {
            text += "\nNo serial devices were found on this machine.";
        } else {
            text += "\nSerial devices here:";
            for (const TSerialPortInfo& d : devices)
                text += "\n  " + d.target + (d.description.empty() ? "" : " (" + d.description + ")");
        }
        text += "\nTo use one as " + com_name + ", choose it with a right click on the COM ports, or "
                "start Quorvik with QUORVIK_" + com_name + "=" +
                (devices.empty() ? std::string("/dev/ttyUSB0") : devices.front().target) + ".";
    }
    return text;
}

bool TPosixCommDevice::Open(const std::string& path) {
    Close();
    open_error_ = ENOENT;
    if (path.empty()) return false;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        open_error_ = errno;
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        open_error_ = ENOTTY;
        return false;
    }
    // The exclusive mode below does not bind root; the advisory lock, which other serial
    // programs on Linux take too, refuses a second holder whoever it is. It goes with the
    // descriptor at Close.
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        open_error_ = errno; // EWOULDBLOCK: another program holds the port
        ::close(fd);
        return false;
    }
    open_error_ = 0;
    fd_ = fd;
    ::ioctl(fd_, TIOCEXCL); // a privileged process may still open it; nothing to do then
    LineSave(fd_, &saved_);

    serial_struct serial{};
    if (Ioctl(fd_, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        old_serial_flags_ = serial.flags;
        serial.flags |= ASYNC_LOW_LATENCY;
        low_latency_set_ = Ioctl(fd_, TIOCSSERIAL, &serial) == 0;
    }

    has_counters_ = Ioctl(fd_, TIOCGICOUNT, &event_counts_) == 0;
    clear_counts_ = event_counts_;
    has_lines_ = Ioctl(fd_, TIOCMGET, &event_lines_) == 0;

    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event wake_event{};
    wake_event.events = EPOLLIN;
    wake_event.data.fd = wake_;
    epoll_event device_event{};
    // Edge-triggered: a wait ends for newly received bytes, not for bytes that are still
    // unread from before.
    device_event.events = EPOLLIN | EPOLLET;
    device_event.data.fd = fd_;
    if (epoll_ < 0 || wake_ < 0 || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &wake_event) != 0) {
        Close(); // out of descriptors: as if the device could not be opened
        return false;
    }
    // A character device that cannot be waited on (EPERM: not a terminal, e.g. /dev/null)
    // stays open without events; setting its time-outs will fail.
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd_, &device_event) != 0 && errno != EPERM) {
        Close();
        return false;
    }
    cancel_.store(false);
    hung_up_.store(false);
    gone_report_.store(false);
    tx_kick_.store(false);
    tx_watch_ = false;
    rts_cts_.store(false);
    return true;
}

void TPosixCommDevice::CloseDescriptors() {
    if (epoll_ >= 0) ::close(epoll_);
    if (wake_ >= 0) ::close(wake_);
    epoll_ = wake_ = -1;
}

void TPosixCommDevice::Close() {
    if (fd_ < 0) return;
    CloseDescriptors();
    if (!hung_up_.load()) {
        if (low_latency_set_) {
            serial_struct serial{};
            if (Ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
                serial.flags = old_serial_flags_;
                Ioctl(fd_, TIOCSSERIAL, &serial);
            }
        }
        LineRestore(fd_, saved_);
        ::ioctl(fd_, TIOCNXCL); // the flag outlives this descriptor if others keep it open
    }
    low_latency_set_ = false;
    saved_.valid = false;
    ::close(fd_); // not retried on EINTR: the descriptor is gone either way
    fd_ = -1;
}

int TPosixCommDevice::ApplySettings(const TLineSettings& settings) {
    TLineApplied applied;
    if (int e = LineApply(fd_, settings, &applied)) return e;
    bits_per_second_.store(applied.bits_per_second);
    rts_cts_.store(applied.rts_cts);
    if (settings.flow == fcDTR && has_lines_) {
        // No DTR/DSR handshake on Linux: hold DTR up so that a peer waiting for it may send.
        int dtr = TIOCM_DTR;
        Ioctl(fd_, TIOCMBIS, &dtr);
    }
    return 0;
}

int TPosixCommDevice::Escape(int function) {
    int bits = 0;
    switch (function) {
    case kSetXOff: return ::tcflow(fd_, TCOOFF) == 0 ? 0 : errno;
    case kSetXOn: return ::tcflow(fd_, TCOON) == 0 ? 0 : errno;
    case kSetRts: bits = TIOCM_RTS; return Ioctl(fd_, TIOCMBIS, &bits);
    case kClrRts: bits = TIOCM_RTS; return Ioctl(fd_, TIOCMBIC, &bits);
    case kSetDtr: bits = TIOCM_DTR; return Ioctl(fd_, TIOCMBIS, &bits);
    case kClrDtr: bits = TIOCM_DTR; return Ioctl(fd_, TIOCMBIC, &bits);
    case kSetBreak: return Ioctl(fd_, TIOCSBRK, nullptr);
    case kClrBreak: return Ioctl(fd_, TIOCCBRK, nullptr);
    default: return EINVAL;
    }
}

bool TPosixCommDevice::ModemStatus(uint32_t* bits) {
    int lines = 0;
    if (Ioctl(fd_, TIOCMGET, &lines) != 0) return false;
    *bits = ((lines & TIOCM_CTS) ? kMsCtsOn : 0) | ((lines & TIOCM_DSR) ? kMsDsrOn : 0) |
            ((lines & TIOCM_RI) ? kMsRingOn : 0) | ((lines & TIOCM_CD) ? kMsRlsdOn : 0);
    return true;
}

uint32_t TPosixCommDevice::ClearError(TComStat* stat) {
    int in = 0, out = 0;
    if (Ioctl(fd_, FIONREAD, &in) != 0 || in < 0) in = 0;
    if (Ioctl(fd_, TIOCOUTQ, &out) != 0 || out < 0) out = 0;
    *stat = TComStat{};
    stat->cbInQue = static_cast<uint32_t>(in);
    stat->cbOutQue = static_cast<uint32_t>(out);
    int lines = 0;
    if (rts_cts_.load() && has_lines_ && Ioctl(fd_, TIOCMGET, &lines) == 0 && !(lines & TIOCM_CTS))
        stat->Flags |= TComStat::kCtsHold;

    uint32_t errors = 0;
    serial_icounter_struct now{};
    if (has_counters_ && Ioctl(fd_, TIOCGICOUNT, &now) == 0) {
        std::lock_guard<std::mutex> guard(clear_lock_);
        if (now.overrun != clear_counts_.overrun) errors |= kCeOverrun;
        if (now.buf_overrun != clear_counts_.buf_overrun) errors |= kCeRxOver;
        if (now.parity != clear_counts_.parity) errors |= kCeRxParity;
        if (now.frame != clear_counts_.frame) errors |= kCeFrame;
        if (now.brk != clear_counts_.brk) errors |= kCeBreak;
        clear_counts_ = now;
    }
    return errors;
}

void TPosixCommDevice::Purge(uint32_t flags) {
    const bool rx = flags & kPurgeRxClear;
    const bool tx = flags & kPurgeTxClear;
    if (rx && tx)
        ::tcflush(fd_, TCIOFLUSH);
    else if (rx)
        ::tcflush(fd_, TCIFLUSH);
    else if (tx)
        ::tcflush(fd_, TCOFLUSH);
}

int TPosixCommDevice::Read(char* buffer, unsigned long count) {
    count = std::min<unsigned long>(count, INT_MAX);
    const auto deadline = Clock::now() + std::chrono::milliseconds(1000);
    unsigned long got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<unsigned long>(n);
            continue;
        }
        if (n == 0) break; // hung up
        if (errno == EINTR) continue;
        if (errno == EIO || errno == ENODEV) {
            // The device is gone (a USB adapter pulled): the event thread tells the component.
            if (!hung_up_.exchange(true)) {
                gone_report_.store(true);
                Kick();
            }
            break;
        }
        if (errno != EAGAIN) break;
        if (!WaitReady(fd_, POLLIN, deadline)) break;
    }
    return static_cast<int>(got);
}

int TPosixCommDevice::Write(const char* buffer, unsigned long count) {
    count = std::min<unsigned long>(count, INT_MAX);
    // Twice the time on the line at 12 bits a byte, plus a second.
    const uint64_t bps = std::max<uint32_t>(bits_per_second_.load(), 1);
    const uint64_t line_ms = static_cast<uint64_t>(count) * 12 * 2 * 1000 / bps;
    const auto deadline = Clock::now() + std::chrono::milliseconds(1000 + line_ms);
    unsigned long done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<unsigned long>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && WaitReady(fd_, POLLOUT, deadline)) continue;
        break;
    }
    if (done > 0 && (mask_.load() & kEvTxEmpty)) {
        tx_kick_.store(true);
        Kick();
    }
    return static_cast<int>(done);
}

void TPosixCommDevice::Kick() {
    const uint64_t one = 1;
    // Fails only when the counter is full, and then the thread is due to wake anyway.
    [[maybe_unused]] ssize_t r = ::write(wake_, &one, sizeof one);
}

void TPosixCommDevice::CancelWait() {
    cancel_.store(true);
    Kick();
}

// Events from the driver's counters since the event thread last looked.
uint32_t TPosixCommDevice::CounterEvents() {
    serial_icounter_struct now{};
    if (!has_counters_ || Ioctl(fd_, TIOCGICOUNT, &now) != 0) return 0;
    const serial_icounter_struct& was = event_counts_;
    uint32_t ev = 0;
    if (now.brk != was.brk) ev |= kEvBreak;
    if (now.frame != was.frame || now.parity != was.parity || now.overrun != was.overrun ||
        now.buf_overrun != was.buf_overrun)
        ev |= kEvErr;
    if (now.cts != was.cts) ev |= kEvCts;
    if (now.dsr != was.dsr) ev |= kEvDsr;
    if (now.rng != was.rng) ev |= kEvRing;
    if (now.dcd != was.dcd) ev |= kEvRlsd;
    event_counts_ = now;
    return ev;
}

// Modem line changes seen by sampling, for drivers without counters.
uint32_t TPosixCommDevice::LineEvents() {
    int now = 0;
    if (Ioctl(fd_, TIOCMGET, &now) != 0) return 0;
    const int changed = now ^ event_lines_;
    event_lines_ = now;
    return ((changed & TIOCM_CTS) ? kEvCts : 0) | ((changed & TIOCM_DSR) ? kEvDsr : 0) |
           ((changed & TIOCM_RI) ? kEvRing : 0) | ((changed & TIOCM_CD) ? kEvRlsd : 0);
}

uint32_t TPosixCommDevice::WaitEvent() {
    for (;;) {
        if (cancel_.load()) return 0;
        const uint32_t mask = mask_.load();
        const bool hung_up = hung_up_.load();
        const bool sample_lines = !hung_up && has_lines_ && (mask & kModemEvents);
        int timeout = sample_lines ? 10 : -1;
        if (tx_watch_ && !hung_up && (timeout < 0 || tx_wait_ms_ < timeout)) timeout = tx_wait_ms_;

        epoll_event events[4];
        const int n = ::epoll_wait(epoll_, events, 4, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            // Cannot happen with valid descriptors; wait for the wake-up alone, not spinning.
            pollfd p{wake_, POLLIN, 0};
            ::poll(&p, 1, -1);
            uint64_t count;
            [[maybe_unused]] ssize_t r = ::read(wake_, &count, sizeof count);
            continue;
        }
        uint32_t device = 0;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == wake_) {
                uint64_t count;
                [[maybe_unused]] ssize_t r = ::read(wake_, &count, sizeof count);
            } else {
                device |= events[i].events;
            }
        }
        if (cancel_.load()) return 0;
        if (tx_kick_.exchange(false)) tx_watch_ = true;

        uint32_t ev = 0;
        uint32_t gone = 0;
        if (gone_report_.exchange(false)) {
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd_, nullptr);
            tx_watch_ = false;
            gone = kEvGone;
        } else if (!hung_up && (device & (EPOLLHUP | EPOLLERR))) {
            // The far end is gone: leave the device out of the wait, which would wake for it
            // for ever.
            hung_up_.store(true);
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd_, nullptr);
            tx_watch_ = false;
            gone = kEvGone;
        } else if (!hung_up) {
            if (device & EPOLLIN) ev |= kEvRxChar;
            if ((device & EPOLLIN) || sample_lines) ev |= CounterEvents();
            if (sample_lines && !has_counters_) ev |= LineEvents();
            if (tx_watch_) {
                int out = 0;
                if (Ioctl(fd_, TIOCOUTQ, &out) != 0 || out <= 0) {
                    tx_watch_ = false;
                    ev |= kEvTxEmpty;
                } else {
                    // Look again when the queue should have drained (12 bits a byte), at
                    // least every 100 ms while the output is held back.
                    const uint64_t bps = std::max<uint32_t>(bits_per_second_.load(), 1);
                    tx_wait_ms_ = static_cast<int>(
                        std::clamp<uint64_t>(static_cast<uint64_t>(out) * 12000 / bps, 1, 100));
                }
            }
        }
        ev = (ev & mask) | gone;
        if (ev) return ev;
    }
}

} // namespace

// COM1 ... COM9 are the PC's first serial ports; a name with a '/' is a path; anything else
// names no device.
std::string DefaultPortTarget(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const std::string com = ComName(name);
    if (com.size() == 4) return std::string("/dev/ttyS") + static_cast<char>(com[3] - 1);
    return {};
}

std::unique_ptr<TCommDevice> CreateCommDevice() {
    return std::make_unique<TPosixCommDevice>();
}
