#include "connection.h"

#include "comm_types.h"
#include "fat_format.h"
#include "fat_time.h"
#include "folder_image.h"
#include "main_cycle.h"
#include "screen.h"

#include <algorithm>
#include <ctime>
#include <exception>

namespace {
constexpr int kReopenTicks = 10;
// A try to reopen a network port waits no longer than this for the server.
constexpr int kReopenConnectMs = 500;
} // namespace

TConnection::TConnection(std::unique_ptr<TConsolePort> port, TScreen& screen, TConsoleHost& host)
    : port_(std::move(port)), screen_(screen), link_(*port_, host),
      floppy_(link_, screen) {}

TConnection::~TConnection() {
    try {
        port_->Close();
    } catch (const std::exception&) {
    }
}

bool TConnection::DeferConnect() {
    if (main_cycle_depth_ == 0 || connected_) return false;
    connect_pending_ = true;
    return true;
}

std::string TConnection::Open(const std::string& com_name, const TFloppySource& floppy,
                              std::string* floppy_failure) {
    std::string failure; // the serial component's own message
    try {
        link_.stop_request = false;
        port_->SetDeviceName(com_name);
        port_->Open();
    } catch (const std::exception& e) {
        failure = e.what();
    }
    if (!failure.empty() || !port_->Enabled()) {
        // An Open that failed after the device was opened leaves it open; close it, so that
        // the next Connect is not refused as "already assigned".
        try {
            port_->Close();
        } catch (const std::exception&) {
        }
        return "Error Opening COM\n" + (failure.empty() ? port_->DescribeOpenFailure()
                                                        : port_->PortLine() + "\n" + failure);
    }
    const std::string advice = port_->OpenAdvice();
    if (!advice.empty()) screen_.LineOut(advice);
    std::string box;
    if (floppy.kind != TFloppySource::TKind::fkNone) {
        for (const std::string& line : floppy_session_.Attach(floppy, floppy_))
            box += (box.empty() ? "" : "\n") + line;
    }
    if (floppy_failure) *floppy_failure = box;
    connected_ = true;
    return "";
}

bool TConnection::Run() {
    ++main_cycle_depth_;
    Maincycle(screen_, link_, floppy_);
    --main_cycle_depth_;
    if (!connect_pending_ || main_cycle_depth_ != 0) return false;
    connect_pending_ = false;
    return !connected_;
}

std::string TConnection::Close() {
    link_.stop_request = true;
    link_.port_lost = false;
    std::string failure;
    try {
        port_->Close();
    } catch (const std::exception& e) {
        failure = "Error Closing COM\n" + port_->PortLine() + "\n" + e.what();
    }
    floppy_.CloseImage();
    floppy_.FreeTrackBuffer();
    const std::string kept = floppy_session_.Detach(LocalTimeNow());
    if (!kept.empty()) {
        floppy_report_ = kept;
        screen_.LineOut(kept);
    }
    connected_ = false;
    return failure;
}

std::string TConnection::SaveFloppyAsImage(const std::string& folder, const std::string& path) {
    if (floppy_session_.ServesFolder() &&
        (folder.empty() || floppy_session_.Source().path == folder))
        return floppy_session_.SaveAsImage(path);
    if (folder.empty()) return "Only a folder's floppy can be saved: an image file is its own image.";
    const TFolderImage image = BuildFolderImage(folder, static_cast<uint32_t>(std::time(nullptr)));
    if (!image.Built()) {
        std::string why = "The folder " + folder + " cannot be made a floppy:";
        for (const std::string& line : image.left_out) why += "\n" + line;
        return why;
    }
    return WriteImageFile(path, image.bytes);
}

void TConnection::Tick() {
    link_.CountDownTimeout();
    if (link_.port_lost && --reopen_countdown_ <= 0) TryReopen();
}

void TConnection::SendRefreshRequest() {
    if (link_.key_hold) return;
    const uint8_t refresh = 0x12;
    link_.Write(&refresh, 1);
}

void TConnection::LineError(int errors) {
    if ((errors & kCeMode) && connected_ && !link_.port_lost) PortWentAway();
}

// The port of the connection is gone (a USB adapter pulled, the target's power cycled its
// bridge, the console server closed the connection). The connection stays: the image stays
// attached, a disk exchange under way is abandoned (the target repeats its request), and the
// port is opened again once a second from the timer, costing nothing in between.
void TConnection::PortWentAway() {
    link_.port_lost = true;
    reopen_countdown_ = kReopenTicks;
    screen_.MsgOut("%s (%s) went away; waiting for it to come back", port_->DeviceName().c_str(),
                   port_->DevicePath().c_str());
    try {
        port_->Close();
    } catch (const std::exception&) {
        // The device is gone; the next Open starts afresh all the same.
    }
}

void TConnection::TryReopen() {
    reopen_countdown_ = kReopenTicks;
    const int connect_ms = port_->ConnectTimeoutMs();
    port_->SetConnectTimeoutMs(std::min(connect_ms, kReopenConnectMs));
    bool opened = false;
    try {
        port_->Open(); // the settings are applied again
        opened = port_->Enabled();
    } catch (const std::exception&) {
    }
    port_->SetConnectTimeoutMs(connect_ms);
    if (!opened) {
        try {
            port_->Close();
        } catch (const std::exception&) {
        }
        return;
    }
    link_.port_lost = false;
    screen_.MsgOut("%s is back", port_->DeviceName().c_str());
    SendRefreshRequest(); // the target redraws its screen, unless the key hold is on
}
