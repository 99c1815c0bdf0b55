// The network port: a raw TCP connection or Telnet with the COM-PORT-OPTION, behind the same
// device interface as the serial ports. The event thread owns the waiting; whichever thread
// finds bytes on the socket decodes them into the receive queue here, so that the counts,
// reads, purges and events behave as a serial driver's queue does.
//
// How the component sits on a network port (comm_net.cpp; BSD sockets or Winsock beneath,
// comm_socket_*.cpp), for "tcp://HOST:PORT" (raw TCP) and "rfc2217://HOST:PORT" (Telnet with
// the COM-PORT-OPTION, telnet_codec.h):
//  - Open connects within ConnectTimeoutMs (5 s) and sets TCP_NODELAY; a name that cannot be
//    resolved, a refused connection, an unreachable host and the time-out leave the port
//    closed, and DescribeOpenFailure says which and what to do.
//  - Settings: raw TCP keeps the server's line as it is; RFC 2217 sends SET-BAUDRATE,
//    SET-DATASIZE, SET-PARITY, SET-STOPSIZE and SET-CONTROL (flow control) for every change.
//    EscapeComm: SET-CONTROL for break, DTR and RTS, FLOWCONTROL-SUSPEND/RESUME for XOFF/XON;
//    on raw TCP ENOTTY, as on a pseudo-terminal.
//  - Read, Write, InQueCount and purges as on a serial device: the bytes received wait in a
//    queue of the component's (64 KB; beyond it TCP holds the peer back); PURGE-DATA goes to
//    an RFC 2217 server as well. Write doubles FF bytes for Telnet.
//  - Events: evRxChar for received bytes, evBreak and evError from NOTIFY-LINESTATE, evTxEmpty
//    once the socket took a write; the peer closing or resetting the connection is the port
//    going away; the closed socket is left out of the wait.
//
#include "comm_device.h"
#include "comm_names.h"
#include "comm_socket.h"
#include "telnet_codec.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadTotalMs = 1000;
// Bytes held for the owner before the socket is left unread (TCP then holds the peer back).
constexpr size_t kReceiveLimit = 65536;

class TNetCommDevice final : public TCommDevice {
  public:
    explicit TNetCommDevice(int connect_timeout_ms) : connect_timeout_ms_(connect_timeout_ms) {}
    ~TNetCommDevice() override { Close(); }

    bool Open(const std::string& target) override;
    void Close() override;
    std::string DescribeOpenFailure(const std::string& name,
                                    const std::string& target) const override;
    int SetTimeouts() override { return 0; }
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
    void CancelWait() override {
        cancel_.store(true);
        socket_->Wake();
    }

  private:
    // Moves what the socket has into the receive queue (caller holds rx_lock_).
    void Pump();
    bool SendWire(const std::string& wire);

    int connect_timeout_ms_;
    std::unique_ptr<TSocket> socket_ = CreateSocket();
    bool open_ = false;
    bool telnet_ = false;
    TConnectResult failure_;
    std::string parse_error_;

    std::mutex send_lock_; // one writer on the wire at a time: Write and the Telnet answers
    std::mutex rx_lock_;   // the codec, the queue and the line conditions below
    TTelnetCodec codec_{true};
    std::deque<char> rx_;
    bool rx_new_ = false;     // bytes came since the event thread last reported
    uint32_t events_ = 0;     // kEv... to report
    uint32_t errors_ = 0;     // kCe... for ClearError
    bool gone_ = false;       // the peer closed or reset the connection

    std::atomic<uint32_t> mask_{0};
    std::atomic<bool> cancel_{false};
};

bool TNetCommDevice::Open(const std::string& target) {
    Close();
    TNetworkTarget t;
    parse_error_.clear();
    failure_ = {};
    if (!ParseNetworkTarget(target, &t, &parse_error_)) return false;
    failure_ = socket_->Connect(t.host, t.port, connect_timeout_ms_);
    if (failure_.failure != cfNone) return false;
    telnet_ = t.telnet;
    codec_ = TTelnetCodec(true);
    rx_.clear();
    rx_new_ = gone_ = false;
    events_ = errors_ = 0;
    cancel_.store(false);
    open_ = true;
    if (telnet_ && !SendWire(codec_.Start())) {
        Close();
        failure_ = {cfOther, ECONNRESET, "the server closed the connection at once"};
        return false;
    }
    return true;
}

void TNetCommDevice::Close() {
    if (!open_) return;
    socket_->Close();
    open_ = false;
}

std::string TNetCommDevice::DescribeOpenFailure(const std::string&,
                                                const std::string& target) const {
    if (!parse_error_.empty()) return parse_error_;
    TNetworkTarget t;
    std::string ignored;
    ParseNetworkTarget(target, &t, &ignored);
    const std::string where = t.host + " port " + t.port;
    std::string text;
    switch (failure_.failure) {
    case cfResolve:
        return "The name " + t.host + " cannot be resolved: " + failure_.text +
               ".\nCheck the spelling, or give the console server's address.";
    case cfRefused:
        return where + " refused the connection: " + failure_.text + " (error " +
               std::to_string(failure_.error) +
               ").\nNothing listens there: start the console server, or check the port number.";
    case cfUnreachable:
        return where + " cannot be reached: " + failure_.text + " (error " +
               std::to_string(failure_.error) +
               ").\nCheck the network, or reach the server through an SSH tunnel.";
    case cfTimedOut:
        return where + " did not answer within " +
               (connect_timeout_ms_ % 1000 ? std::to_string(connect_timeout_ms_) + " ms."
                                           : std::to_string(connect_timeout_ms_ / 1000) + " s.") +
               "\nCheck that the host is up and that no firewall drops the connection.";
    default:
        return where + ": " + failure_.text + " (error " + std::to_string(failure_.error) + ").";
    }
}

bool TNetCommDevice::SendWire(const std::string& wire) {
    std::lock_guard<std::mutex> guard(send_lock_);
    return socket_->Send(wire.data(), wire.size(), 1000) == wire.size();
}

void TNetCommDevice::Pump() {
    if (gone_) return;
    char buffer[4096];
    while (rx_.size() < kReceiveLimit) {
        const int n = socket_->Receive(buffer, sizeof buffer);
        if (n == TSocket::kWouldBlock) return;
        if (n <= 0) {
            // The peer closed or reset: the device is gone, as a serial device that hung up.
            gone_ = true;
            events_ |= kEvGone;
            return;
        }
        if (!telnet_) {
            rx_.insert(rx_.end(), buffer, buffer + n);
            rx_new_ = true;
            continue;
        }
        std::string data, reply;
        codec_.Receive(reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(n), data,
                       reply);
        if (!data.empty()) {
            rx_.insert(rx_.end(), data.begin(), data.end());
            rx_new_ = true;
        }
        if (!reply.empty()) SendWire(reply);
        const uint8_t line = codec_.TakeLineState();
        if (line & telnet::kLsBreak) {
            events_ |= kEvBreak;
            errors_ |= kCeBreak;
        }
        const uint32_t line_errors = ((line & telnet::kLsFraming) ? kCeFrame : 0) |
                                     ((line & telnet::kLsParity) ? kCeRxParity : 0) |
                                     ((line & telnet::kLsOverrun) ? kCeOverrun : 0);
        if (line_errors) {
            events_ |= kEvErr;
            errors_ |= line_errors;
        }
    }
}

int TNetCommDevice::ApplySettings(const TLineSettings& s) {
    if (s.bits_per_second <= 0 || s.bits_per_second > UINT32_MAX || s.data_bits < da5)
        return EINVAL;
    if (!telnet_) return 0; // raw TCP: the server's line keeps its own settings
    using namespace telnet;
    static constexpr uint8_t kParity[] = {1, 2, 3, 4, 5};
    static constexpr uint8_t kStop[] = {1, 3, 2};
    std::string wire = TTelnetCodec::SetBaudRate(static_cast<uint32_t>(s.bits_per_second));
    wire += TTelnetCodec::ComPortCommand(kSetDataSize, static_cast<uint8_t>(4 + s.data_bits));
    wire += TTelnetCodec::ComPortCommand(kSetParity, kParity[std::min<int>(s.parity, paSpace)]);
    wire += TTelnetCodec::ComPortCommand(kSetStopSize, kStop[std::min<int>(s.stop_bits, sb20)]);
    switch (s.flow) {
    case fcNone:
        wire += TTelnetCodec::ComPortCommand(kSetControl, 1);  // no flow control out
        wire += TTelnetCodec::ComPortCommand(kSetControl, 14); // ... and in
        break;
    case fcSoftware:
        wire += TTelnetCodec::ComPortCommand(kSetControl, 2);
        wire += TTelnetCodec::ComPortCommand(kSetControl, 15);
        break;
    case fcCTS:
        wire += TTelnetCodec::ComPortCommand(kSetControl, 3);
        wire += TTelnetCodec::ComPortCommand(kSetControl, 16);
        break;
    case fcDTR:
        wire += TTelnetCodec::ComPortCommand(kSetControl, 19); // DSR out
        wire += TTelnetCodec::ComPortCommand(kSetControl, 18); // DTR in
        break;
    case fcDefault: break; // the server's line keeps its handshake
    }
    return SendWire(wire) ? 0 : EIO;
}

int TNetCommDevice::Escape(int function) {
    uint8_t control;
    switch (function) {
    case kSetBreak: control = 5; break;
    case kClrBreak: control = 6; break;
    case kSetDtr: control = 8; break;
    case kClrDtr: control = 9; break;
    case kSetRts: control = 11; break;
    case kClrRts: control = 12; break;
    case kSetXOff: control = 0; break; // FLOWCONTROL-SUSPEND
    case kSetXOn: control = 0; break;  // FLOWCONTROL-RESUME
    default: return EINVAL;
    }
    if (!telnet_) return ENOTTY; // raw TCP has no lines to drive, as a pseudo-terminal
    const std::string wire =
        control ? TTelnetCodec::ComPortCommand(telnet::kSetControl, control)
                : TTelnetCodec::ComPortCommand(function == kSetXOff ? 8 : 9, nullptr, 0);
    return SendWire(wire) ? 0 : EIO;
}

bool TNetCommDevice::ModemStatus(uint32_t* bits) {
    std::lock_guard<std::mutex> guard(rx_lock_);
    uint8_t state;
    if (!telnet_ || !codec_.ModemState(&state)) return false;
    *bits = ((state & 0x10) ? kMsCtsOn : 0) | ((state & 0x20) ? kMsDsrOn : 0) |
            ((state & 0x40) ? kMsRingOn : 0) | ((state & 0x80) ? kMsRlsdOn : 0);
    return true;
}

uint32_t TNetCommDevice::ClearError(TComStat* stat) {
    std::lock_guard<std::mutex> guard(rx_lock_);
    Pump();
    *stat = TComStat{};
    stat->cbInQue = static_cast<uint32_t>(rx_.size());
    const uint32_t errors = errors_;
    errors_ = 0;
    return errors;
}

void TNetCommDevice::Purge(uint32_t flags) {
    if (flags & kPurgeRxClear) {
        std::lock_guard<std::mutex> guard(rx_lock_);
        Pump();
        rx_.clear();
    }
    const uint8_t which = ((flags & kPurgeRxClear) ? 1 : 0) | ((flags & kPurgeTxClear) ? 2 : 0);
    if (telnet_ && which) SendWire(TTelnetCodec::ComPortCommand(telnet::kPurgeData, which));
}

int TNetCommDevice::Read(char* buffer, unsigned long count) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kReadTotalMs);
    unsigned long got = 0;
    bool more_left = false;
    for (;;) {
        bool gone;
        {
            std::lock_guard<std::mutex> guard(rx_lock_);
            if (rx_.size() < count - got) Pump();
            const size_t n = std::min<size_t>(count - got, rx_.size());
            std::copy_n(rx_.begin(), n, buffer + got);
            rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(n));
            got += static_cast<unsigned long>(n);
            gone = gone_;
            more_left = !rx_.empty() || (events_ != 0);
        }
        if (got == count || gone) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                 Clock::now());
        if (left.count() <= 0) break;
        // In slices: the event thread may take the bytes off the socket into the queue.
        socket_->Wait(static_cast<int>(std::min<long long>(left.count(), 20)), false);
    }
    // Bytes this read took off the socket beyond its count, or a condition it found, are the
    // event thread's to announce.
    if (more_left) socket_->Wake();
    return static_cast<int>(got);
}

int TNetCommDevice::Write(const char* buffer, unsigned long count) {
    std::string wire;
    if (telnet_)
        TTelnetCodec::Escape(reinterpret_cast<const uint8_t*>(buffer), count, wire);
    else
        wire.assign(buffer, count);
    size_t sent;
    {
        std::lock_guard<std::mutex> guard(send_lock_);
        sent = socket_->Send(wire.data(), wire.size(), kReadTotalMs);
    }
    // The data bytes whose whole wire form went out.
    unsigned long done = 0;
    for (size_t at = 0; done < count; ++done) {
        at += (telnet_ && static_cast<uint8_t>(buffer[done]) == telnet::kIac) ? 2 : 1;
        if (at > sent) break;
    }
    if (done > 0 && (mask_.load() & kEvTxEmpty)) {
        {
            std::lock_guard<std::mutex> guard(rx_lock_);
            events_ |= kEvTxEmpty;
        }
        socket_->Wake();
    }
    return static_cast<int>(done);
}

uint32_t TNetCommDevice::WaitEvent() {
    for (;;) {
        if (cancel_.load()) return 0;
        uint32_t ev;
        bool gone;
        {
            std::lock_guard<std::mutex> guard(rx_lock_);
            Pump();
            ev = events_;
            events_ = 0;
            if (rx_new_ && !rx_.empty()) ev |= kEvRxChar;
            rx_new_ = false;
            gone = gone_;
        }
        ev &= mask_.load() | kEvGone;
        if (ev) return ev;
        // A closed connection is left out of the wait: it would be readable for ever.
        socket_->Wait(-1, true, !gone);
        socket_->ClearWake();
    }
}

} // namespace

std::unique_ptr<TCommDevice> CreateNetworkDevice(int connect_timeout_ms) {
    return std::make_unique<TNetCommDevice>(connect_timeout_ms);
}
