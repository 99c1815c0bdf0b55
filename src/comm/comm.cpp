#include "comm.h"

#include "comm_device.h"
#include "comm_names.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <thread>

namespace {

// The message of a failure: the format with its one "%d" replaced by the number.
[[noreturn]] void Raise(const char* format, int number) {
    char message[128];
    std::snprintf(message, sizeof message, format, number);
    throw Exception(message);
}

constexpr const char* kAlreadyOpen = "Port already assigned (open) (Error: %d)";
constexpr const char* kBuffersFailed = "Error initializing Read/Write Buffers (Error: %d)";
constexpr const char* kControlBlockFailed = "Error updating DataControlBlock (Error: %d)";
constexpr const char* kTimeoutsFailed = "Error updating CommTimeouts (Error: %d)";
constexpr const char* kEscapeFailed = "EscapeCommFunction failure (Error: %d)";
constexpr const char* kNotOpen = "Port not open (Error: %d)";

constexpr uint32_t kEventBits[] = {kEvBreak, kEvCts,    kEvDsr,    kEvErr,    kEvRing,
                                   kEvRlsd,  kEvRxChar, kEvRxFlag, kEvTxEmpty};

} // namespace

uint32_t BaudRateBitsPerSecond(TBaudRate rate) {
    static constexpr uint32_t kTable[] = {110,    300,    600,    1200,   2400,  4800,   9600,
                                          14400,  19200,  38400,  56000,  57600, 115200, 128000,
                                          256000, 230400, 460800, 921600, 0};
    return rate < sizeof kTable / sizeof kTable[0] ? kTable[rate] : 0;
}

uint32_t EventMaskBit(TCommEventType event) {
    return event < sizeof kEventBits / sizeof kEventBits[0] ? kEventBits[event] : 0;
}

uint32_t EventMask(TCommEvents events) {
    uint32_t mask = 0;
    for (unsigned e = evBreak; e <= evTxEmpty; ++e)
        if (events.Contains(static_cast<TCommEventType>(e)))
            mask |= EventMaskBit(static_cast<TCommEventType>(e));
    return mask;
}

// ---- TCommEventChars ----

void TCommEventChars::SetEventChar(int index, uint8_t value) {
    if (index >= 1 && index <= 5) chars_[index - 1] = value;
    if (comm_) comm_->UpdateDataControlBlock();
}

void TCommEventChars::Assign(const TPersistent* source) {
    if (auto* other = dynamic_cast<const TCommEventChars*>(source)) {
        for (int i = 0; i < 5; ++i)
            chars_[i] = other->chars_[i];
        return;
    }
    TPersistent::Assign(source);
}

// ---- TCommEventThread ----

// What the event thread and the calls it posts share. A posted call may run after the thread
// and the component are gone; it then finds `stopping` set and does nothing.
struct TCommEventThread::THandOff {
    std::mutex lock;
    std::condition_variable changed;
    THandler binding; // cleared by Stop
    bool stopping = false;
    uint64_t posted = 0;   // number of the last hand-off posted
    uint64_t finished = 0; // number of the last hand-off that has run
};

struct TCommEventThread::TRunner {
    std::thread thread;
};

namespace {

// Runs on the main thread: one hand-off, unless Close came first.
void RunHandOff(TCommEventThread::THandOff& state, uint64_t number, uint32_t mask,
                TObject* sender) {
    TCommEventThread::THandler handler;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.stopping || state.finished >= number) return;
        handler = state.binding;
    }
    try {
        if (handler) handler(sender, mask);
    } catch (...) {
        // An owner's handler failed. The event thread has no one to tell, and must go on
        // waiting for the next event.
    }
    {
        std::lock_guard<std::mutex> guard(state.lock);
        if (state.finished < number) state.finished = number;
    }
    state.changed.notify_all();
}

} // namespace

TCommEventThread::TCommEventThread(TCommDevice& device, uint32_t suspend_time, TCommEvents events,
                                   TMainThreadPoster* poster)
    : device_(device), suspend_time_(suspend_time), mask_(::EventMask(events)), poster_(poster),
      handoff_(std::make_shared<THandOff>()), runner_(std::make_unique<TRunner>()) {
    device_.SetEventMask(mask_);
}

TCommEventThread::~TCommEventThread() {
    Stop();
}

void TCommEventThread::Start(THandler handler) {
    {
        std::lock_guard<std::mutex> guard(handoff_->lock);
        handoff_->binding = std::move(handler);
    }
    runner_->thread = std::thread([this] { Execute(); });
}

void TCommEventThread::Stop() {
    {
        std::lock_guard<std::mutex> guard(handoff_->lock);
        handoff_->stopping = true;
        handoff_->binding = nullptr;
    }
    handoff_->changed.notify_all();
    device_.CancelWait();
    if (runner_->thread.joinable()) runner_->thread.join();
}

void TCommEventThread::Execute() {
    const std::shared_ptr<THandOff> state = handoff_;
    for (;;) {
        const uint32_t mask = device_.WaitEvent();
        if (mask == 0) break; // Stop
        uint64_t number;
        {
            std::lock_guard<std::mutex> guard(state->lock);
            if (state->stopping) break;
            number = ++state->posted;
        }
        if (!poster_) continue; // no main thread to deliver to
        TObject* sender = this;
        try {
            poster_->Post(
                [state, number, mask, sender] { RunHandOff(*state, number, mask, sender); });
        } catch (...) {
            continue; // not queued (out of memory): this event is lost, the next one may pass
        }
        std::unique_lock<std::mutex> guard(state->lock);
        state->changed.wait(guard, [&] { return state->stopping || state->finished >= number; });
        if (state->stopping) break;
    }
    // Nothing of this open period is left for the next one.
    device_.Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
}

// ---- TThreadComm ----

TThreadComm::TThreadComm(TComponent* owner)
    : TComponent(owner), device_(CreateCommDevice()),
      event_chars_(std::make_unique<TCommEventChars>(this)) {}

TThreadComm::~TThreadComm() {
    Close();
}

void TThreadComm::Open() {
    bool already_open = false;
    int buffers_error = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (enabled_) {
            already_open = true;
        } else {
            CreateHandle();
            if (enabled_) {
                UpdateCommTimeouts();
                UpdateDataControlBlock();
                buffers_error = device_->SetupQueues(read_buf_size_, write_buf_size_);
                event_thread_ = std::make_unique<TCommEventThread>(*device_, suspend_time_,
                                                                   monitor_events_, poster_);
                event_thread_->Start(
                    [this](TObject* sender, uint32_t mask) { HandleCommEvent(sender, mask); });
            }
        }
    }
    if (already_open) Raise(kAlreadyOpen, -1);
    if (buffers_error) Raise(kBuffersFailed, buffers_error);
}

void TThreadComm::Close() {
    if (!enabled_) return;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    ++open_period_;
    if (event_thread_) {
        event_thread_->Stop();
        event_thread_.reset();
    }
    DestroyHandle();
}

void TThreadComm::CheckOpen() {
    if (enabled_) Raise(kAlreadyOpen, -1);
}

std::string TThreadComm::DevicePath() const {
    const std::string target = ResolvePortName(device_name_, chosen_ports_).target;
    return IsNetworkTarget(target) ? target : device_->DevicePath(target);
}

std::string TThreadComm::PortLine(const std::string& name) const {
    const TPortTarget t = ResolvePortName(name, chosen_ports_);
    const std::string com = ComName(name);
    const std::string path = IsNetworkTarget(t.target) ? t.target : device_->DevicePath(t.target);
    return (com.empty() ? name : com) + " is " + (path.empty() ? "no device" : path) +
           (t.source.empty() ? "." : " (" + t.source + ").");
}

std::string TThreadComm::DescribeOpenFailure() const {
    const std::string target = ResolvePortName(device_name_, chosen_ports_).target;
    const std::string why = device_->DescribeOpenFailure(device_name_, target);
    return target.empty() ? why : PortLine() + "\n" + why;
}

void TThreadComm::MapPort(const std::string& com_name, const std::string& target) {
    const std::string com = ComName(com_name);
    if (com.empty()) return;
    if (target.empty())
        chosen_ports_.erase(com);
    else
        chosen_ports_[com] = target;
}

std::string TThreadComm::MappedPort(const std::string& com_name) const {
    const auto it = chosen_ports_.find(ComName(com_name));
    return it == chosen_ports_.end() ? std::string() : it->second;
}

// The device for what the name maps to: the platform's serial device, or the network port.
void TThreadComm::CreateHandle() {
    const std::string target = ResolvePortName(device_name_, chosen_ports_).target;
    const bool network = IsNetworkTarget(target);
    if (network || network_device_) {
        device_ = network ? CreateNetworkDevice(ConnectTimeoutMs) : CreateCommDevice();
        network_device_ = network;
    }
    gone_ = false;
    enabled_ = device_->Open(target);
    if (enabled_) device_->SetEventMask(kEvAll);
}

void TThreadComm::DestroyHandle() {
    device_->Close();
    enabled_ = false;
    gone_ = false;
}

void TThreadComm::UpdateDataControlBlock() {
    if (!enabled_) return;
    device_->SetupQueues(read_buf_size_, write_buf_size_);
    TLineSettings s;
    const uint32_t table = BaudRateBitsPerSecond(baud_rate_);
    s.bits_per_second = table != 0 ? table : user_baud_;
    s.data_bits = data_bits_;
    s.stop_bits = stop_bits_;
    s.parity = parity_;
    s.flow = flow_control_;
    s.options = options_;
    s.xon = event_chars_->XOnChar();
    s.xoff = event_chars_->XOffChar();
    s.error_char = event_chars_->ErrorChar();
    s.eof_char = event_chars_->EofCharc();
    s.evt_char = event_chars_->EvtChar();
    if (int e = device_->ApplySettings(s)) Raise(kControlBlockFailed, e);
}

void TThreadComm::UpdateDataControlBlockLock() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    UpdateDataControlBlock();
}

void TThreadComm::UpdateCommTimeouts() {
    if (int e = device_->SetTimeouts()) Raise(kTimeoutsFailed, e);
}

void TThreadComm::EscapeComm(int function) {
    if (!enabled_) Raise(kNotOpen, -1);
    int e;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        e = device_->Escape(function);
    }
    if (e) Raise(kEscapeFailed, e);
}

void TThreadComm::SetDTRState(bool state) {
    EscapeComm(state ? kSetDtr : kClrDtr);
}
void TThreadComm::SetRTSState(bool state) {
    EscapeComm(state ? kSetRts : kClrRts);
}
void TThreadComm::SetXONState(bool state) {
    EscapeComm(state ? kSetXOn : kSetXOff);
}

void TThreadComm::SetBREAKState(bool state) {
    EscapeComm(state ? kSetBreak : kClrBreak);
    if (enabled_) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        device_->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
    }
}

bool TThreadComm::GetModemState(int which) {
    uint32_t bits = 0;
    if (!enabled_ || !device_->ModemStatus(&bits)) return false;
    switch (which) {
    case 1: return bits & kMsCtsOn;
    case 2: return bits & kMsDsrOn;
    case 3: return bits & kMsRingOn;
    case 4: return bits & kMsRlsdOn;
    default: return false;
    }
}

bool TThreadComm::GetComState(int which) {
    if (!enabled_) return false;
    TComStat stat;
    ClearCommError(&stat);
    switch (which) {
    case 2: return stat.Flags & TComStat::kDsrHold;
    case 3: return stat.Flags & TComStat::kRlsdHold;
    case 4: return stat.Flags & TComStat::kXoffHold;
    case 5: return stat.Flags & TComStat::kXoffSent;
    default: return stat.Flags & TComStat::kCtsHold;
    }
}

void TThreadComm::PurgeIn() {
    if (enabled_) device_->Purge(kPurgeRxAbort | kPurgeRxClear);
}

void TThreadComm::PurgeOut() {
    if (enabled_) device_->Purge(kPurgeTxAbort | kPurgeTxClear);
}

uint32_t TThreadComm::ClearCommError(TComStat* stat) {
    if (!enabled_) {
        *stat = TComStat{};
        return 0;
    }
    return device_->ClearError(stat) | (gone_ ? kCeMode : 0);
}

int TThreadComm::Read(char* buffer, unsigned long count) {
    if (!enabled_) return -1;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    TComStat stat;
    ClearCommError(&stat);
    if (count == 0) {
        ClearCommError(&stat);
        return 0;
    }
    return device_->Read(buffer, count);
}

int TThreadComm::Write(const char* buffer, unsigned long count) {
    if (!enabled_) return -1;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (count == 0) return 0;
    return device_->Write(buffer, count);
}

int TThreadComm::InQueCount() {
    if (!enabled_) return -1;
    TComStat stat;
    ClearCommError(&stat);
    return static_cast<int>(stat.cbInQue);
}

int TThreadComm::OutQueCount() {
    if (!enabled_) return -1;
    TComStat stat;
    ClearCommError(&stat);
    return static_cast<int>(stat.cbOutQue);
}

void TThreadComm::HandleCommEvent(TObject*, uint32_t mask) {
    // The device going away is told once, as a line error; the error flags keep CE_MODE until
    // Close.
    if (mask & kEvGone) {
        mask &= ~kEvGone;
        if (!gone_) {
            gone_ = true;
            if (monitor_events_.Contains(evError)) mask |= kEvErr;
        }
    }
    TComStat stat;
    const int errors = static_cast<int>(ClearCommError(&stat));
    const uint64_t period = open_period_;
    std::exception_ptr first_failure;
    // A copy runs, so that a handler may reassign its own event.
    auto fire = [&](const auto& handler, auto... args) {
        if (!handler || period != open_period_) return;
        auto call = handler;
        try {
            call(this, args...);
        } catch (...) {
            if (!first_failure) first_failure = std::current_exception();
        }
    };
    if (mask & kEvBreak) fire(OnBreak);
    if (mask & kEvCts) fire(OnCts);
    if (mask & kEvDsr) fire(OnDsr);
    if (mask & kEvErr) fire(OnError, errors);
    if (mask & kEvRing) fire(OnRing);
    if (mask & kEvRlsd) fire(OnRlsd);
    if ((mask & kEvRxChar) && stat.cbInQue > 0) fire(OnRxChar, stat.cbInQue);
    if (mask & kEvRxFlag) fire(OnRxFlag);
    if (mask & kEvTxEmpty) fire(OnTxEmpty);
    fire(OnComStatEvent, mask, stat);
    if (first_failure) std::rethrow_exception(first_failure);
}

// ---- properties ----

void TThreadComm::SetDeviceName(const std::string& name) {
    if (!enabled_ && name != device_name_) device_name_ = name;
}

void TThreadComm::SetReadBufSize(uint16_t size) {
    if (!enabled_ && size != read_buf_size_) read_buf_size_ = size;
}

void TThreadComm::SetWriteBufSize(uint16_t size) {
    if (!enabled_ && size != write_buf_size_) write_buf_size_ = size;
}

void TThreadComm::SetSuspendTime(uint32_t time) {
    if (!enabled_ && time != suspend_time_) suspend_time_ = time;
}

void TThreadComm::SetMonitorEvents(TCommEvents events) {
    if (!enabled_ && !(events == monitor_events_)) monitor_events_ = events;
}

void TThreadComm::SetBaudRate(TBaudRate rate) {
    if (rate == baud_rate_) return;
    baud_rate_ = rate;
    UpdateDataControlBlockLock();
}

void TThreadComm::SetParity(TParity parity) {
    if (parity == parity_) return;
    parity_ = parity;
    UpdateDataControlBlockLock();
}

void TThreadComm::SetStopBits(TStopBits bits) {
    if (bits == stop_bits_) return;
    stop_bits_ = bits;
    UpdateDataControlBlockLock();
}

void TThreadComm::SetDataBits(TDataBits bits) {
    if (bits == data_bits_) return;
    data_bits_ = bits;
    UpdateDataControlBlockLock();
}

void TThreadComm::SetOptions(TCommOptions options) {
    if (options == options_) return;
    options_ = options;
    UpdateDataControlBlockLock();
}

void TThreadComm::SetFlowControl(TFlowControl flow) {
    if (flow == flow_control_) return;
    flow_control_ = flow;
    UpdateDataControlBlockLock();
}

void TThreadComm::SetUserBaud(int bits_per_second) {
    if (bits_per_second == user_baud_) return;
    user_baud_ = bits_per_second;
    baud_rate_ = brUSER;
    UpdateDataControlBlockLock();
}
