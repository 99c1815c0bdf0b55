// The connection to the target: the port, the link over it (receive queue and link state), the
// floppy service, Connect and Disconnect with the main cycle in between, and a port that goes
// away while connected, which is waited for. It has no window: what it shows goes to the
// console screen and to the host's status label (TConsoleHost::ShowStatus), and its owner sets
// its own controls between the two halves of Connect.
//
// One instance per program, owned by the window's logic; window thread only. Run does not
// return while connected: the owner's timer, buttons, keys and the port's events run nested
// inside the main cycle's processing of events, and so may Close. Nothing is locked.
#pragma once

#include "console_port.h"
#include "floppy_service.h"
#include "floppy_source.h"
#include "link.h"

#include <memory>
#include <string>

class TScreen;

class TConnection {
  public:
    // `screen` and `host` must outlive the connection. The port's events go to the owner's
    // handlers, which hand them on (CommRxChar to the link, LineError).
    TConnection(std::unique_ptr<TConsolePort> port, TScreen& screen, TConsoleHost& host);
    ~TConnection(); // closes the port
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // A Connect while the main cycle of the last connection has not returned yet (Disconnect
    // enables Connect at once): true, and the Connect is remembered until that cycle returns
    // (see Run). False otherwise: go on with Open.
    bool DeferConnect();
    // Connect, first half: clears the stop request, opens `com_name` ("COM1", "COM2") and
    // attaches what `floppy` names (an image file's reports go to the console; a folder is
    // built into an image in memory). Returns "" when connected, else the text of the "Error
    // Opening COM" box: that first line, then which device, why, and the usual remedy; the
    // port is then closed again and nothing else has changed. A folder that cannot be built
    // (or a new image that cannot be written) attaches nothing, the connection goes on, and
    // `floppy_failure` gets the text of one message box naming everything left out.
    std::string Open(const std::string& com_name, const TFloppySource& floppy,
                     std::string* floppy_failure);
    // Connect, second half: the main cycle, until Close. Returns true when a Connect was
    // deferred meanwhile and is now due (the owner connects again), false otherwise.
    bool Run();
    // Disconnect, also when the program ends: the stop request, the port closed, the image
    // released, and for a folder what the target created or changed kept in a new folder
    // beside it (one console line says where). Harmless while not connected. Returns "" or the
    // text of the "Error Closing COM" box; the rest is done either way.
    std::string Close();
    // The floppy of `folder` as an image file at `path`: as the target left it when it was
    // served last, else built now ("" for `folder`: the folder served last). "" or why not
    // (an image file is its own image).
    std::string SaveFloppyAsImage(const std::string& folder, const std::string& path);
    // Whether the floppy served last, or being served, was built from a folder.
    bool ServedFolder() const { return floppy_session_.ServesFolder(); }
    // The console line of the last Disconnect about a folder's changes ("" for none).
    const std::string& FloppyReport() const { return floppy_report_; }
    // The program ends: a deferred Connect is dropped.
    void ForgetDeferredConnect() { connect_pending_ = false; }

    // One tick of the 100 ms timer: the time-out counter, and a try to reopen a port that went
    // away (once a second).
    void Tick();
    // The port reported a line error (kCe... flags): with kCeMode while connected, the port
    // went away, and is waited for.
    void LineError(int errors);
    // The refresh request (12), unless the target holds the keys.
    void SendRefreshRequest();
    // Key bytes for the target, in one write (the key hold is the caller's to respect).
    void Write(const uint8_t* bytes, size_t count) {
        link_.Write(bytes, static_cast<unsigned long>(count));
    }

    bool Connected() const { return connected_; }
    // The port went away while connected and is tried again once a second.
    bool PortAway() const { return link_.port_lost; }
    bool MainCycleRunning() const { return main_cycle_depth_ > 0; }
    int MainCycleDepth() const { return main_cycle_depth_; }

    TConsolePort& Port() { return *port_; }
    const TConsolePort& Port() const { return *port_; }
    TLink& Link() { return link_; }
    TFloppyService& Floppy() { return floppy_; }

  private:
    void PortWentAway();
    void TryReopen();

    std::unique_ptr<TConsolePort> port_;
    TScreen& screen_;
    TLink link_;
    TFloppyService floppy_;
    TFloppySession floppy_session_;
    std::string floppy_report_;
    bool connected_ = false;
    int reopen_countdown_ = 0; // ticks until the next try
    int main_cycle_depth_ = 0;
    bool connect_pending_ = false;
};
