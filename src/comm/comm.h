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
// How the component sits on POSIX termios (Linux). "main" and "event" name the calling thread.
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
//    pseudo-terminal closed, a USB adapter pulled) is reported once as evError (with CE_MODE
//    in the error flags) and then left out of the wait until Close.
//  - Line control (main): SETXOFF/SETXON are tcflow TCOOFF/TCOON, SETRTS/CLRRTS and
//    SETDTR/CLRDTR are TIOCMBIS/TIOCMBIC, SETBREAK/CLRBREAK are TIOCSBRK/TIOCCBRK. Any other
//    code fails with EINVAL. Pseudo-terminals answer ENOTTY to the modem lines.
//  - Purge (main, and the event thread as it ends): PURGE_RXCLEAR is TCIFLUSH, PURGE_TXCLEAR
//    TCOFLUSH; the ABORT flags have nothing to abort (no transfer outlives its call).
//  - GetModemState (main): TIOCMGET; CTS, DSR, RI, DCD.
//  - Going away: a hang-up, or a read that fails with EIO or ENODEV (a USB adapter pulled),
//    is reported once as evError, with CE_MODE in the error flags from then on.
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
//    once the socket took a write; the peer closing or resetting the connection is reported
//    once as evError, with CE_MODE in the error flags from then on.
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
//    operation aborted, bad command, general failure) on a wait or a status call report
//    evError once, with CE_MODE in the error flags from then on.
//  - Events: WaitCommEvent on a third record, waited for together with a cancel event; Close
//    sets the cancel event, ends the pending wait with an empty mask and joins the thread. A
//    wait that fails at once is retried after 50 ms, not in a busy loop.
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
    // After an Open that opened a serial device: one line for the user when the device will
    // make disk service slow (a USB adapter's latency timer above 1 ms, latency_advice.h),
    // else "". "" after an Open that failed and for network ports.
    std::string OpenAdvice() const { return open_advice_; }
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
    std::unique_ptr<TCommEventThread> event_thread_;
    std::unique_ptr<TCommEventChars> event_chars_;
    TCommOptions options_;
    TFlowControl flow_control_ = fcDefault;
    int user_baud_ = 0;
    TMainThreadPoster* poster_ = nullptr;
    std::string open_advice_;
};

// The component as the window places it: the settings and events of TThreadComm, nothing more.
class TComm : public TThreadComm {
  public:
    explicit TComm(TComponent* owner) : TThreadComm(owner) {}
    ~TComm() override = default;
};
