// The serial port as the console's connection uses it: the port component (TComm) in the
// program, or a fake in the window logic's tests where a pseudo-terminal adds nothing.
//
// Window thread only. The events are called on the window thread while it processes its
// events (the port component's hand-offs), never from inside Read, Write or Open.
#pragma once

#include "link.h"

#include <functional>
#include <memory>
#include <string>

class TMainThreadPoster;
class TObject;

class TConsolePort : public TPortIO {
  public:
    // The port component's OnRxChar, OnBreak and OnError, with the port as Sender.
    struct TEvents {
        std::function<void(TObject* sender, uint32_t count)> rx_char; // count > 0
        std::function<void(TObject* sender)> line_break;
        // kCe... flags; kCeMode: the port went away
        std::function<void(TObject* sender, int errors)> line_error;
    };
    virtual void SetEvents(TEvents events) = 0;

    // The name ("COM1") Open opens, taken while closed; what it opens (comm_names.h).
    virtual void SetDeviceName(const std::string& name) = 0;
    virtual const std::string& DeviceName() const = 0;
    virtual std::string DevicePath() const = 0;
    // As TThreadComm: Open raises Exception for a port it opened but could not set up, and
    // leaves a port that cannot be opened closed without raising (see Enabled). Close raises
    // when the device cannot be closed.
    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool Enabled() const = 0;
    // For the user: after an Open that left the port closed, which device, why and the remedy;
    // and "COM1 is /dev/ttyUSB0 (QUORVIK_COM1)." for the device name or another name.
    virtual std::string DescribeOpenFailure() const = 0;
    virtual std::string PortLine() const = 0;
    virtual std::string PortLine(const std::string& name) const = 0;
    // After an Open: one line of advice for the user ("" for none), such as a USB adapter whose
    // latency timer makes disk service slow.
    virtual std::string OpenAdvice() const { return ""; }
    // What a COM name opens for this run ("" removes the choice), taken at the next Open.
    virtual void MapPort(const std::string& com_name, const std::string& target) = 0;
    virtual std::string MappedPort(const std::string& com_name) const = 0;
    // How long Open waits for a network port to answer, in milliseconds.
    virtual int ConnectTimeoutMs() const = 0;
    virtual void SetConnectTimeoutMs(int ms) = 0;
};

// The port component as the console sets it up: 115200 baud, no handshake, 8 KB driver queues,
// the break, error and received-character events, handed to the window thread by `poster`
// (which must outlive the port). Parity, data and stop bits keep the component's defaults.
std::unique_ptr<TConsolePort> MakeCommPort(TMainThreadPoster& poster);
