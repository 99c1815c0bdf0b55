// The serial device on Windows: a COM device opened for overlapped I/O. Reads, writes and the
// event wait each have their own OVERLAPPED record, so that all three may be outstanding at
// once; the event wait also waits on a cancel event that CancelWait sets.
//
// How the component sits on Win32 (comm_win32.cpp); the same failures, with GetLastError's
// number:
//  - Device name: resolved as on Linux (QUORVIK_COMn may hold a port name such as COM7 or
//    \\.\COM12), else the name itself. CreateFileA (read/write, no sharing, overlapped) on the name as given when it
//    starts with "\\", else on "\\.\" + name, so that COM10 and above open. A name that
//    cannot be opened, or that GetFileType does not report as a character device, leaves the
//    port closed. The control block and the time-outs are saved at open and restored at close.
//  - Control block: GetCommState, the settings (comm_dcb_win32.h: paOdd is ODDPARITY, paEven
//    EVENPARITY; each flow control sets its own handshake fields), SetCommState; queues with
//    SetupComm.
//  - Time-outs: a read returns at once with what is queued, else waits up to 1000 ms for the
//    first byte (interval MAXDWORD, constant 1000). A write may take 1000 ms plus a per-byte
//    time of twice the byte's time on the line at the speed in force (set again with every
//    settings change): 1 ms a byte at 115200, 219 ms at 110.
//  - Read, Write: ReadFile/WriteFile on their own OVERLAPPED records, completed with
//    GetOverlappedResult waiting (no busy polling).
//  - Going away: the errors that a removed USB adapter gives (access denied, device removed,
//    operation aborted, bad command, general failure) on a wait or a status call. The wait
//    says so once and then waits for Close alone.
//  - Events: WaitCommEvent on a third record, waited for together with a cancel event; Close
//    sets the cancel event, ends the pending wait with an empty mask and joins the thread. A
//    wait that fails at once is retried after 50 ms, not in a busy loop.
#include "comm_device.h"
#include "comm_dcb_win32.h"
#include "comm_names.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

void DcbCompose(const TLineSettings& s, DCB* control) {
    DCB& dcb = *control;
    dcb.BaudRate = static_cast<DWORD>(s.bits_per_second);
    dcb.fBinary = TRUE; // Windows supports nothing else
    static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.Parity = s.parity <= paSpace ? kParity[s.parity] : NOPARITY;
    static constexpr BYTE kStop[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    dcb.StopBits = s.stop_bits <= sb20 ? kStop[s.stop_bits] : ONESTOPBIT;
    dcb.ByteSize = static_cast<BYTE>(4 + (s.data_bits <= da8 ? s.data_bits : da8));
    dcb.XonChar = static_cast<char>(s.xon);
    dcb.XoffChar = static_cast<char>(s.xoff);
    dcb.ErrorChar = static_cast<char>(s.error_char);
    dcb.EofChar = static_cast<char>(s.eof_char);
    dcb.EvtChar = static_cast<char>(s.evt_char);
    dcb.XonLim = 1024;
    dcb.XoffLim = 1024;
    dcb.fParity = s.options.Contains(coParityCheck);
    dcb.fDsrSensitivity = s.options.Contains(coDsrSensitivity);
    dcb.fTXContinueOnXoff = s.options.Contains(coIgnoreXOff);
    dcb.fErrorChar = s.options.Contains(coErrorChar);
    dcb.fNull = s.options.Contains(coNullStrip);
    if (s.flow != fcDefault) {
        // One handshake at a time; the lines not used for it are held up, so that a peer
        // that waits for them may send.
        dcb.fOutxCtsFlow = s.flow == fcCTS;
        dcb.fRtsControl = s.flow == fcCTS ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        dcb.fOutxDsrFlow = s.flow == fcDTR;
        dcb.fDtrControl = s.flow == fcDTR ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
        dcb.fOutX = s.flow == fcSoftware;
        dcb.fInX = s.flow == fcSoftware;
    }
}

uint32_t WriteTimeoutPerByteMs(uint32_t bits_per_second) {
    const uint32_t bps = std::max<uint32_t>(bits_per_second, 1);
    return (2 * 12000 + bps - 1) / bps;
}

namespace {

// The name as given, with the device namespace prefix "\\.\" put in front unless the name
// already starts with "\\" (so "COM10" and above open too).
std::string DevicePath(const std::string& name) {
    if (name.rfind("\\\\", 0) == 0) return name;
    return "\\\\.\\" + name;
}

int LastError() {
    return static_cast<int>(::GetLastError());
}

// The system's text for an error number, without its line end.
std::string SystemMessage(DWORD error) {
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, sizeof text, nullptr);
    std::string message(text, n);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error" : message;
}

// The COM names this machine has, in number order.
std::vector<std::string> SerialPorts() {
    std::vector<char> names(65536);
    const DWORD n = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    std::vector<std::pair<int, std::string>> ports;
    for (size_t i = 0; i < n && names[i];) {
        const std::string name(&names[i]);
        i += name.size() + 1;
        if (name.size() > 3 && _strnicmp(name.c_str(), "COM", 3) == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos)
            ports.emplace_back(std::atoi(name.c_str() + 3), "COM" + name.substr(3));
    }
    std::sort(ports.begin(), ports.end());
    std::vector<std::string> out;
    for (auto& p : ports) out.push_back(p.second);
    return out;
}

constexpr DWORD kReadConstantMs = 1000;

// What the system answers for a port whose device is gone: a USB adapter pulled, or its
// bridge reset by the target's power.
bool DeviceGone(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case 433: // ERROR_NO_SUCH_DEVICE, which the cross headers lack
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE: return true;
    default: return false;
    }
}

// A manual-reset event, not signalled; nullptr when the system has none left.
HANDLE NewEvent() {
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseIfValid(HANDLE* handle) {
    if (*handle) ::CloseHandle(*handle);
    *handle = nullptr;
}

class TWin32CommDevice final : public TCommDevice {
  public:
    ~TWin32CommDevice() override;

    bool Open(const std::string& name) override;
    void Close() override;
    std::string DescribeOpenFailure(const std::string& name,
                                    const std::string& target) const override;
    std::string DevicePath(const std::string& target) const override {
        return ::DevicePath(target);
    }
    int SetTimeouts() override;
    int SetupQueues(uint16_t receive, uint16_t transmit) override;
    int ApplySettings(const TLineSettings& settings) override;
    int Escape(int function) override;
    bool ModemStatus(uint32_t* bits) override;
    uint32_t ClearError(TComStat* stat) override;
    void Purge(uint32_t flags) override;
    int Read(char* buffer, unsigned long count) override;
    int Write(const char* buffer, unsigned long count) override;
    void SetEventMask(uint32_t mask) override;
    uint32_t WaitEvent() override;
    void CancelWait() override;

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD open_error_ = 0;         // GetLastError of the last Open that failed
    bool not_a_device_ = false;    // ... or: it opened something that is not a serial device
    DCB saved_dcb_{};
    bool saved_dcb_valid_ = false;
    COMMTIMEOUTS saved_timeouts_{};
    bool saved_timeouts_valid_ = false;
    uint32_t bits_per_second_ = 9600; // main thread

    OVERLAPPED read_{};
    OVERLAPPED write_{};
    OVERLAPPED wait_{};  // event thread
    HANDLE cancel_ = nullptr; // set by CancelWait, reset by Open
    std::atomic<uint32_t> mask_{0};
    std::atomic<bool> gone_{false}; // the device went away (see DeviceGone)
    bool reported_gone_ = false;    // event thread: WaitEvent has said so

    // After a failed call: whether the device is gone, asked of ClearCommError.
    bool CheckGone();
};

TWin32CommDevice::~TWin32CommDevice() {
    Close();
}

bool TWin32CommDevice::Open(const std::string& target) {
    Close();
    open_error_ = ERROR_FILE_NOT_FOUND;
    not_a_device_ = false;
    if (target.empty()) return false;
    const std::string path = DevicePath(target);
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        open_error_ = ::GetLastError();
        return false;
    }
    if (::GetFileType(h) != FILE_TYPE_CHAR) {
        ::CloseHandle(h);
        not_a_device_ = true;
        return false;
    }
    open_error_ = 0;
    read_ = OVERLAPPED{};
    write_ = OVERLAPPED{};
    wait_ = OVERLAPPED{};
    read_.hEvent = NewEvent();
    write_.hEvent = NewEvent();
    wait_.hEvent = NewEvent();
    cancel_ = NewEvent();
    handle_ = h;
    if (!read_.hEvent || !write_.hEvent || !wait_.hEvent || !cancel_) {
        open_error_ = ::GetLastError();
        Close(); // out of handles: as if the device could not be opened
        return false;
    }
    // Put back at Close, so that the next user of the port finds it as it was.
    saved_dcb_.DCBlength = sizeof saved_dcb_;
    saved_dcb_valid_ = ::GetCommState(handle_, &saved_dcb_) != 0;
    saved_timeouts_valid_ = ::GetCommTimeouts(handle_, &saved_timeouts_) != 0;
    if (saved_dcb_valid_ && saved_dcb_.BaudRate > 0) bits_per_second_ = saved_dcb_.BaudRate;
    mask_.store(0);
    gone_.store(false);
    reported_gone_ = false;
    return true;
}

bool TWin32CommDevice::CheckGone() {
    if (gone_.load()) return true;
    DWORD errors = 0;
    COMSTAT cs{};
    if (::ClearCommError(handle_, &errors, &cs) || !DeviceGone(::GetLastError())) return false;
    gone_.store(true);
    return true;
}

std::string TWin32CommDevice::DescribeOpenFailure(const std::string&,
                                                  const std::string& target) const {
    const std::string path = DevicePath(target);
    if (not_a_device_) return path + " is not a serial device.";
    std::string text = path + ": " + SystemMessage(open_error_) + " (error " + std::to_string(open_error_) +
            ").";
    if (open_error_ == ERROR_ACCESS_DENIED || open_error_ == ERROR_SHARING_VIOLATION) {
        text += "\nAnother program holds the port: close it, then press Connect again.";
    } else if (open_error_ == ERROR_FILE_NOT_FOUND || open_error_ == ERROR_PATH_NOT_FOUND) {
        const std::vector<std::string> ports = SerialPorts();
        if (ports.empty()) {
            text += "\nNo serial ports were found on this machine.";
        } else {
            text += "\nSerial ports here:";
            for (const std::string& p : ports) text += " " + p;
        }
        text += "\nThe Device Manager lists them under Ports (COM & LPT). To use one, choose it "
                "with a right click on the COM ports, or start Quorvik with QUORVIK_COM1=COM7 "
                "(the port's name).";
    }
    return text;
}

void TWin32CommDevice::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        if (saved_timeouts_valid_) ::SetCommTimeouts(handle_, &saved_timeouts_);
        if (saved_dcb_valid_) ::SetCommState(handle_, &saved_dcb_);
        ::CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
    saved_dcb_valid_ = saved_timeouts_valid_ = false;
    CloseIfValid(&read_.hEvent);
    CloseIfValid(&write_.hEvent);
    CloseIfValid(&wait_.hEvent);
    CloseIfValid(&cancel_);
}

// A read returns at once with what is queued, else waits up to a second for the first byte.
// A write may take twice its time on the line at the current speed, plus a second.
int TWin32CommDevice::SetTimeouts() {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = kReadConstantMs;
    t.WriteTotalTimeoutMultiplier = WriteTimeoutPerByteMs(bits_per_second_);
    t.WriteTotalTimeoutConstant = kWriteTimeoutConstantMs;
    return ::SetCommTimeouts(handle_, &t) ? 0 : LastError();
}

int TWin32CommDevice::SetupQueues(uint16_t receive, uint16_t transmit) {
    return ::SetupComm(handle_, receive, transmit) ? 0 : LastError();
}

int TWin32CommDevice::ApplySettings(const TLineSettings& s) {
    if (s.bits_per_second <= 0 || s.bits_per_second > UINT32_MAX) return ERROR_INVALID_PARAMETER;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(handle_, &dcb); // fields that DcbCompose leaves keep the driver's values
    DcbCompose(s, &dcb);
    if (!::SetCommState(handle_, &dcb)) return LastError();
    // The write time-out follows the speed now in force.
    bits_per_second_ = static_cast<uint32_t>(s.bits_per_second);
    return SetTimeouts();
}

int TWin32CommDevice::Escape(int function) {
    return ::EscapeCommFunction(handle_, static_cast<DWORD>(function)) ? 0 : LastError();
}

bool TWin32CommDevice::ModemStatus(uint32_t* bits) {
    DWORD status = 0;
    if (!::GetCommModemStatus(handle_, &status)) return false;
    *bits = status & (kMsCtsOn | kMsDsrOn | kMsRingOn | kMsRlsdOn);
    return true;
}

uint32_t TWin32CommDevice::ClearError(TComStat* stat) {
    DWORD errors = 0;
    COMSTAT cs{};
    *stat = TComStat{};
    if (gone_.load()) return 0;
    if (!::ClearCommError(handle_, &errors, &cs)) {
        // The pending event wait fails on a gone device too, and says so.
        if (DeviceGone(::GetLastError())) gone_.store(true);
        return 0;
    }
    stat->Flags = (cs.fCtsHold ? TComStat::kCtsHold : 0) | (cs.fDsrHold ? TComStat::kDsrHold : 0) |
                  (cs.fRlsdHold ? TComStat::kRlsdHold : 0) |
                  (cs.fXoffHold ? TComStat::kXoffHold : 0) |
                  (cs.fXoffSent ? TComStat::kXoffSent : 0);
    stat->cbInQue = cs.cbInQue;
    stat->cbOutQue = cs.cbOutQue;
    return errors;
}

void TWin32CommDevice::Purge(uint32_t flags) {
    ::PurgeComm(handle_, flags);
}

int TWin32CommDevice::Read(char* buffer, unsigned long count) {
    DWORD got = 0;
    ::ResetEvent(read_.hEvent);
    if (::ReadFile(handle_, buffer, count, &got, &read_)) return static_cast<int>(got);
    if (::GetLastError() != ERROR_IO_PENDING) return 0;
    // The read time-outs end the wait within about a second.
    if (::GetOverlappedResult(handle_, &read_, &got, TRUE)) return static_cast<int>(got);
    TComStat stat;
    ClearError(&stat);
    return static_cast<int>(got);
}

int TWin32CommDevice::Write(const char* buffer, unsigned long count) {
    DWORD done = 0;
    ::ResetEvent(write_.hEvent);
    if (::WriteFile(handle_, buffer, count, &done, &write_)) return static_cast<int>(done);
    TComStat stat;
    if (::GetLastError() != ERROR_IO_PENDING) {
        ClearError(&stat);
        return 0;
    }
    // Waits rather than polls; the write time-outs end it (with fewer bytes) at the latest.
    if (::GetOverlappedResult(handle_, &write_, &done, TRUE)) return static_cast<int>(done);
    ClearError(&stat);
    return static_cast<int>(done);
}

void TWin32CommDevice::SetEventMask(uint32_t mask) {
    mask_.store(mask);
    ::SetCommMask(handle_, mask);
}

uint32_t TWin32CommDevice::WaitEvent() {
    for (;;) {
        if (::WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0) return 0;
        if (gone_.load() && reported_gone_) {
            // Said once; nothing more will come from the device, and only Close ends this.
            ::WaitForSingleObject(cancel_, INFINITE);
            return 0;
        }
        DWORD events = 0;
        ::ResetEvent(wait_.hEvent);
        bool done = ::WaitCommEvent(handle_, &events, &wait_) != 0;
        if (!done && ::GetLastError() == ERROR_IO_PENDING) {
            const HANDLE both[2] = {wait_.hEvent, cancel_};
            const DWORD woke = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
            if (woke != WAIT_OBJECT_0) {
                // Cancelled: an empty mask ends the pending wait; then the record is free.
                ::SetCommMask(handle_, 0);
                DWORD ignored = 0;
                ::GetOverlappedResult(handle_, &wait_, &ignored, TRUE);
                return 0;
            }
            DWORD ignored = 0;
            done = ::GetOverlappedResult(handle_, &wait_, &ignored, FALSE) != 0;
        }
        if (!done) {
            if (CheckGone()) {
                reported_gone_ = true;
                return kEvGone;
            }
            // A device that keeps failing its waits is asked again, but not in a busy loop.
            if (::WaitForSingleObject(cancel_, 50) == WAIT_OBJECT_0) return 0;
            continue;
        }
        events &= mask_.load();
        if (events) return events;
    }
}

void TWin32CommDevice::CancelWait() {
    ::SetEvent(cancel_);
}

} // namespace

// A name that nothing maps is the port of that name.
std::string DefaultPortTarget(const std::string& name) {
    return name;
}

std::unique_ptr<TCommDevice> CreateCommDevice() {
    return std::make_unique<TWin32CommDevice>();
}
