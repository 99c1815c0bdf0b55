// The device beneath TThreadComm: one interface, with a serial implementation per platform
// (comm_posix.cpp on Linux, comm_win32.cpp on Windows) and the network port (comm_net.cpp over
// comm_socket_*.cpp) on both. Internal to the component.
//
// Threads: WaitEvent runs on the event thread; CancelWait on any thread; everything else on
// the main thread. Read, Write and the status calls may run while WaitEvent waits. Open and
// Close never run while an event thread uses the device. Calls that fail return the system's
// error number (0 on success) and never raise.
#pragma once

#include "comm_types.h"

#include <cstdint>
#include <memory>
#include <string>

// The line settings, as the component hands them to the device.
struct TLineSettings {
    int64_t bits_per_second = 9600; // <= 0 cannot be set
    TDataBits data_bits = da8;
    TStopBits stop_bits = sb10;
    TParity parity = paNone;
    TFlowControl flow = fcDefault;
    TCommOptions options;
    uint8_t xon = 17, xoff = 19, error_char = 0, eof_char = 0, evt_char = 0;
};

class TCommDevice {
  public:
    virtual ~TCommDevice() = default;

    // Opens `target` (what the port name maps to, comm_names.h; "" for nothing) for this
    // process alone. False, with the device closed, when it cannot be opened, is not a
    // character device, or is held by another program (another instance, or a terminal
    // program holding the device's lock), or the connection cannot be made.
    virtual bool Open(const std::string& target) = 0;
    // Restores what Open changed and closes. Nothing when closed.
    virtual void Close() = 0;
    // For the user, after Open of `target` (port name `name`) failed: why it could not be
    // opened, and what usually mends that; one short line each.
    virtual std::string DescribeOpenFailure(const std::string& name,
                                            const std::string& target) const = 0;
    // What the platform opens for `target`, for messages.
    virtual std::string DevicePath(const std::string& target) const { return target; }

    virtual int SetTimeouts() = 0;
    virtual int SetupQueues(uint16_t receive, uint16_t transmit) = 0;
    virtual int ApplySettings(const TLineSettings& settings) = 0;
    virtual int Escape(int function) = 0;
    // The modem status bits (kMs...); false when the device has no modem lines.
    virtual bool ModemStatus(uint32_t* bits) = 0;
    // The line error flags (kCe...) since the last call, and the line status.
    virtual uint32_t ClearError(TComStat* stat) = 0;
    virtual void Purge(uint32_t flags) = 0;
    // Transfer semantics of TThreadComm::Read and Write; count > 0.
    virtual int Read(char* buffer, unsigned long count) = 0;
    virtual int Write(const char* buffer, unsigned long count) = 0;

    // The events (kEv...) that WaitEvent reports.
    virtual void SetEventMask(uint32_t mask) = 0;
    // Blocks until events of the mask occur and returns them, or returns 0 once CancelWait
    // was called (also before the wait began). Never returns 0 otherwise. Returns kEvGone
    // (with or without other events) when it has found the device gone: a hang-up, a removed
    // adapter, a connection the peer closed. A device only detects this, and may say it more
    // than once; the component latches it and decides what the owner is told.
    virtual uint32_t WaitEvent() = 0;
    virtual void CancelWait() = 0;
};

// The platform's serial device.
std::unique_ptr<TCommDevice> CreateCommDevice();
// The network port (tcp:// and rfc2217:// targets); connecting gives up after the time-out.
std::unique_ptr<TCommDevice> CreateNetworkDevice(int connect_timeout_ms);
