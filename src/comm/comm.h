// The serial port component: one serial device, its line settings, a thread that waits for line
// events and hands each one to the main thread, and reading and writing.
//
// Threads. Every public operation, HandleCommEvent and every owner's handler run on the main
// thread. The event thread of an open period only waits for line events; it hands each one to
// the main thread through the injected TMainThreadPoster and blocks until HandleCommEvent has
// run there (or until Close cancels the hand-off). The event thread takes no lock.
//
// Failures. Every failure the component reports is an Exception whose message is one of these,
// with the system's error number (errno) of the failed call, or -1 where no call failed:
//   "Port already assigned (open) (Error: %d)"           Open / CheckOpen on an open port (-1)
//   "Error initializing Read/Write Buffers (Error: %d)"  Open, when the queues cannot be sized
//   "Error updating DataControlBlock (Error: %d)"        writing the line settings
//   "Error updating CommTimeouts (Error: %d)"            Open, setting the time-outs
//   "EscapeCommFunction failure (Error: %d)"             EscapeComm and the four line setters
//   "Port not open (Error: %d)"                          EscapeComm on a closed port (-1)
// Read, Write, InQueCount, OutQueCount, PurgeIn, PurgeOut, GetModemState and GetComState never
// raise: on a closed port they return -1, do nothing or return false.
//
// Going away. When the device goes away while open (a hang-up, a USB adapter pulled, a console
// server that closes or resets the connection), the owner is told once, as evError (when
// monitored) with CE_MODE in the error flags, and every later OnError's flags keep CE_MODE
// until Close. The devices only detect it (comm_device.h); this component latches it. What
// each platform counts as going away is told at the top of its device's file.
//
// Where the component sits: comm_posix.cpp (Linux termios), comm_win32.cpp (Win32 COM
// devices) and comm_net.cpp (tcp:// and rfc2217:// on sockets), each with its notes on how the
// settings, time-outs, events and failures map onto the system, at the top of its file. What
// a port name opens is told in comm_names.h.
#pragma once

#include "comm_types.h"
#include "framework.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Runs a call on the main thread. Post is called on the event thread and must only queue the
// call; the main thread runs it later, while it processes its events (a Qt queued call, or a
// test's own queue). A call may be run after the component was closed or destroyed: it then
// does nothing. A call that is never run is harmless too (Close cancels the wait for it).
class TMainThreadPoster {
  public:
    virtual ~TMainThreadPoster() = default;
    virtual void Post(std::function<void()> call) = 0;
};

class TThreadComm;
class TCommDevice; // the platform's serial device (comm_device.h)

// The five special characters of the line. Setting one stores it and, when a component is
// attached, re-applies the component's line settings at once (also for an unchanged value),
// raising as UpdateDataControlBlock does. Indices outside 1 to 5 store nothing.
class TCommEventChars : public TPersistent {
  public:
    explicit TCommEventChars(TThreadComm* owner) : comm_(owner) {}

    uint8_t XOnChar() const { return chars_[0]; }  // index 1
    uint8_t XOffChar() const { return chars_[1]; } // index 2
    uint8_t ErrorChar() const { return chars_[2]; }
    uint8_t EofCharc() const { return chars_[3]; }
    uint8_t EvtChar() const { return chars_[4]; } // index 5
    void SetXOnChar(uint8_t c) { SetEventChar(1, c); }
    void SetXOffChar(uint8_t c) { SetEventChar(2, c); }
    void SetErrorChar(uint8_t c) { SetEventChar(3, c); }
    void SetEofCharc(uint8_t c) { SetEventChar(4, c); }
    void SetEvtChar(uint8_t c) { SetEventChar(5, c); }
    void SetEventChar(int index, uint8_t value);

    // From another TCommEventChars: copies the five characters without re-applying.
    void Assign(const TPersistent* source) override;
    const char* ClassName() const override { return "TCommEventChars"; }

  private:
    TThreadComm* comm_; // not owned
    uint8_t chars_[5] = {17, 19, 0, 0, 0};
};

// The event thread of one open period. Created by Open with the device, SuspendTime and
// MonitorEvents (which it sets as the device's event mask), started with a binding to the
// component's HandleCommEvent, stopped by Close. SuspendTime is kept and has no effect.
class TCommEventThread : public TObject {
  public:
    using THandler = std::function<void(TObject* sender, uint32_t event_mask)>;

    TCommEventThread(TCommDevice& device, uint32_t suspend_time, TCommEvents events,
                     TMainThreadPoster* poster);
    // Stops the thread if it still runs.
    ~TCommEventThread() override;

    // Starts the thread's run with `handler` as its binding (main thread, once).
    void Start(THandler handler);
    // Clears the binding, cancels a hand-off that waits for the main thread, wakes the wait and
    // joins the thread (which then discards both queues of the device). Returns promptly, also
    // when called from a handler on the main thread. After it returns no handler is called.
    void Stop();
    uint32_t SuspendTime() const { return suspend_time_; }
    uint32_t EventMask() const { return mask_; }

    struct THandOff; // shared with posted calls, which may outlive the thread object

  private:
    void Execute();

    TCommDevice& device_;
    uint32_t suspend_time_;
    uint32_t mask_;
    TMainThreadPoster* poster_;
    std::shared_ptr<THandOff> handoff_;
    struct TRunner;
    std::unique_ptr<TRunner> runner_;
};

class TThreadComm : public TComponent {
  public:
    explicit TThreadComm(TComponent* owner);
    // Closes the port (see Close).
    ~TThreadComm() override;

    // Where the event thread's hand-offs go. Taken at Open; without a poster the event thread
    // still runs but no event is delivered. The poster must outlive the open period.
    void SetMainThreadPoster(TMainThreadPoster* poster) { poster_ = poster; }

    // Opens the device named by DeviceName, writes the time-outs and the line settings and
    // starts the event thread. Raises "Port already assigned (open)" (port left as it was).
    // Returns normally with the port closed when the device cannot be opened (see Enabled).
    // A failure of the time-outs or the settings raises and leaves the device open without an
    // event thread; Close closes it. Should the system refuse a new thread, std::system_error
    // leaves Open the same way.
    void Open();
    // Stops the event thread (never kills it; see TCommEventThread::Stop), discards both
    // queues, restores the device's saved settings and closes it. Nothing while closed.
    void Close();
    bool Enabled() const { return enabled_; }
    void CheckOpen();

    virtual void CreateHandle();
    void DestroyHandle();
    // The recursive port lock. Open, Close, Read, Write, EscapeComm, the purge of
    // SetBREAKState and UpdateDataControlBlockLock take it.
    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }

    void UpdateDataControlBlock();
    void UpdateDataControlBlockLock();
    void UpdateCommTimeouts();

    void EscapeComm(int function);
    void SetDTRState(bool state);
    void SetRTSState(bool state);
    // After the break change, discards both queues.
    void SetBREAKState(bool state);
    void SetXONState(bool state);
    // which: 1 CTS, 2 DSR, 3 RING, 4 RLSD; anything else false. False while closed.
    bool GetModemState(int which);
    // which: 2 fDsrHold, 3 fRlsdHold, 4 fXoffHold, 5 fXoffSent, any other fCtsHold. Clears the
    // error flags. False while closed.
    bool GetComState(int which);
    void PurgeIn();
    void PurgeOut();

    // Bytes placed in buffer: at once when `count` bytes are queued, else what came within
    // about 1000 ms in total; 0 for count 0; -1 while closed. Never raises.
    int Read(char* buffer, unsigned long count);
    // Writes all bytes and returns how many the driver took (normally count); returns once the
    // driver has them, not when they are on the line. -1 while closed. Never raises.
    int Write(const char* buffer, unsigned long count);
    // Bytes in the receive / transmit queue; -1 while closed. Clear the error flags.
    int InQueCount();
    int OutQueCount();

    // Fires the owner's events for one event mask (main thread; called by the hand-off).
    // Every assigned handler of the mask runs, in order; if handlers raise, the first exception
    // is raised again after the others ran. Stops firing once the port is closed meanwhile.
    void HandleCommEvent(TObject* sender, uint32_t event_mask);

    // Properties. "Only while closed" setters ignore a value set while open; the others
    // re-apply the line settings at once when open (and raise as UpdateDataControlBlock).
    const std::string& DeviceName() const { return device_name_; }
    // For the user: what DeviceName opens (a device path, a port name, or tcp:// or
    // rfc2217:// for a network port; see comm_names.h), and after an Open that left the port
    // closed, which, why and what usually mends it (several lines). Main thread.
    std::string DevicePath() const;
    std::string DescribeOpenFailure() const;
    // "COM1 is /dev/ttyUSB0 (QUORVIK_COM1)." for DeviceName, or for another name.
    std::string PortLine() const { return PortLine(device_name_); }
    std::string PortLine(const std::string& name) const;
    void SetDeviceName(const std::string& name); // only while closed
    // Maps a COM name ("COM1") to a target for this run, before QUORVIK_COMn; "" removes the
    // mapping. Taken at the next Open.
    void MapPort(const std::string& com_name, const std::string& target);
    std::string MappedPort(const std::string& com_name) const;
    // How long Open waits for a network port to answer; 5000 ms unless set.
    int ConnectTimeoutMs = 5000;
    int ReadTimeout = 1000;                      // stored; nothing consults it
    int WriteTimeout = 1000;                     // stored; nothing consults it
    uint16_t ReadBufSize() const { return read_buf_size_; }
    void SetReadBufSize(uint16_t size); // only while closed
    uint16_t WriteBufSize() const { return write_buf_size_; }
    void SetWriteBufSize(uint16_t size); // only while closed
    uint32_t SuspendTime() const { return suspend_time_; }
    void SetSuspendTime(uint32_t time); // only while closed; has no effect
    TCommEvents MonitorEvents() const { return monitor_events_; }
    void SetMonitorEvents(TCommEvents events); // only while closed
    TBaudRate BaudRate() const { return baud_rate_; }
    void SetBaudRate(TBaudRate rate);
    TParity Parity() const { return parity_; }
    void SetParity(TParity parity);
    TStopBits StopBits() const { return stop_bits_; }
    void SetStopBits(TStopBits bits);
    TDataBits DataBits() const { return data_bits_; }
    void SetDataBits(TDataBits bits);
    TCommEventChars* EventChars() const { return event_chars_.get(); }
    TCommOptions Options() const { return options_; }
    void SetOptions(TCommOptions options);
    TFlowControl FlowControl() const { return flow_control_; }
    void SetFlowControl(TFlowControl flow);
    int UserBaud() const { return user_baud_; }
    // Also sets BaudRate to brUSER.
    void SetUserBaud(int bits_per_second);

    // Events: assigned freely; Sender is this component. Run on the main thread.
    std::function<void(TObject* Sender)> OnBreak;
    std::function<void(TObject* Sender)> OnCts;
    std::function<void(TObject* Sender)> OnDsr;
    std::function<void(TObject* Sender)> OnRing;
    std::function<void(TObject* Sender)> OnRlsd;
    std::function<void(TObject* Sender, int Errors)> OnError;
    std::function<void(TObject* Sender, uint32_t Count)> OnRxChar; // Count > 0
    std::function<void(TObject* Sender)> OnRxFlag;
    std::function<void(TObject* Sender)> OnTxEmpty;
    std::function<void(TObject* Sender, uint32_t Status, TComStat ComStat)> OnComStatEvent;

  private:
    uint32_t ClearCommError(TComStat* stat);

    std::unique_ptr<TCommDevice> device_;
    bool network_device_ = false; // device_ is the network port
    std::map<std::string, std::string> chosen_ports_;
    std::string device_name_ = "Com2";
    std::recursive_mutex lock_;
    uint16_t read_buf_size_ = 4096;
    uint16_t write_buf_size_ = 2048;
    uint32_t suspend_time_ = 5;
    TCommEvents monitor_events_ = TCommEvents::All();
    TBaudRate baud_rate_ = br9600;
    TParity parity_ = paNone;
    TStopBits stop_bits_ = sb10;
    TDataBits data_bits_ = da8;
    bool enabled_ = false;
    uint64_t open_period_ = 0; // counts Close calls; a handler run notices a Close
    bool gone_ = false;        // the device went away in this open period (main thread)
    std::unique_ptr<TCommEventThread> event_thread_;
    std::unique_ptr<TCommEventChars> event_chars_;
    TCommOptions options_;
    TFlowControl flow_control_ = fcDefault;
    int user_baud_ = 0;
    TMainThreadPoster* poster_ = nullptr;
};

// The component as the window places it: the settings and events of TThreadComm, nothing more.
class TComm : public TThreadComm {
  public:
    explicit TComm(TComponent* owner) : TThreadComm(owner) {}
    ~TComm() override = default;
};
