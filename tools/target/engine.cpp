#include "engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

constexpr uint8_t kStatusQuery[] = {kFrameEsc, 'S'};
constexpr uint8_t kKeysRelease[] = {kFrameEsc, 'Q'};

int64_t Micros(TClock::duration d) {
    return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

bool Done(TXferStatus s) {
    return s == TXferStatus::xsOk || s == TXferStatus::xsDiskError || s == TXferStatus::xsHangup;
}

} // namespace

double TSamples::PercentileMs(double p) const {
    if (values_.empty()) return 0.0;
    std::vector<int64_t> sorted(values_);
    std::sort(sorted.begin(), sorted.end());
    size_t rank = static_cast<size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    rank = std::clamp<size_t>(rank, 1, sorted.size());
    return static_cast<double>(sorted[rank - 1]) / 1000.0;
}

const char* XferStatusName(TXferStatus s) {
    switch (s) {
    case TXferStatus::xsOk: return "ok";
    case TXferStatus::xsDiskError: return "disk-error";
    case TXferStatus::xsRefused: return "refused";
    case TXferStatus::xsNoAnswer: return "no-answer";
    case TXferStatus::xsBadAnswer: return "bad-answer";
    case TXferStatus::xsInjected: return "injected";
    case TXferStatus::xsHangup: return "hangup";
    case TXferStatus::xsGaveUp: return "gave-up";
    }
    return "?";
}

TTargetEngine::TTargetEngine(TLine& line, TEngineTimes times, TFaultPlan faults)
    : line_(line), times_(times), faults_(faults), rng_(faults.seed) {}

int TTargetEngine::WaitMs(int ms) const {
    if (deadline_ == TClock::time_point::max()) return ms;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - TClock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(left, 0, ms));
}

void TTargetEngine::KeepStray(uint8_t b) {
    if (stray_.size() >= kStrayCap) stray_.erase(stray_.begin());
    stray_.push_back(b);
}

std::vector<uint8_t> TTargetEngine::TakeStray() {
    std::vector<uint8_t> out;
    out.swap(stray_);
    return out;
}

void TTargetEngine::MoveBufferedToStray() {
    for (int b; (b = line_.ReadByte(0)) >= 0;)
        KeepStray(static_cast<uint8_t>(b));
}

TStatusAnswer TTargetEngine::QueryStatus(int timeout_ms) {
    MoveBufferedToStray();
    if (!line_.Write(kStatusQuery, sizeof kStatusQuery)) return TStatusAnswer::saNone;
    const auto until = TClock::now() + std::chrono::milliseconds(WaitMs(timeout_ms));
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - TClock::now()).count();
        const int b = line_.ReadByte(static_cast<int>(std::max<int64_t>(left, 0)));
        if (b == kFrameAck) return TStatusAnswer::saImage;
        if (b == kFrameNak) return TStatusAnswer::saNoImage;
        if (b < 0) return TStatusAnswer::saNone;
        KeepStray(static_cast<uint8_t>(b));
    }
}

bool TTargetEngine::ReleaseKeys() {
    return line_.Write(kKeysRelease, sizeof kKeysRelease);
}

TStatusAnswer TTargetEngine::WaitForConsole(int limit_ms) {
    const auto until = TClock::now() + std::chrono::milliseconds(WaitMs(limit_ms));
    while (line_.IsOpen() && TClock::now() < until) {
        // A pty nobody reads fills up: probe only while the line takes bytes.
        if (line_.Writable()) line_.Write(kStatusQuery, sizeof kStatusQuery);
        const auto probe_end = TClock::now() + std::chrono::milliseconds(times_.probe_ms);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::min(probe_end, until) - TClock::now())
                                  .count();
            if (left <= 0) break;
            const int b = line_.ReadByte(static_cast<int>(left));
            if (b == kLineHungUp) return TStatusAnswer::saNone;
            if (b == kLineTimedOut) break;
            if (b == kFrameAck || b == kFrameNak) {
                Drain(times_.quiet_ms); // answers to the earlier probes
                return b == kFrameAck ? TStatusAnswer::saImage : TStatusAnswer::saNoImage;
            }
            KeepStray(static_cast<uint8_t>(b));
        }
    }
    return TStatusAnswer::saNone;
}

void TTargetEngine::Drain(int quiet_ms) {
    const auto limit = TClock::now() + std::chrono::milliseconds(times_.drain_limit_ms);
    while (TClock::now() < limit) {
        const int b = line_.ReadByte(WaitMs(quiet_ms));
        if (b < 0) return;
        ++stats_.stray_bytes;
    }
}

void TTargetEngine::SendGarbage() {
    if (faults_.garbage_bytes <= 0) return;
    std::vector<uint8_t> junk(static_cast<size_t>(faults_.garbage_bytes));
    for (auto& b : junk)
        b = static_cast<uint8_t>(rng_());
    if (line_.Write(junk.data(), junk.size())) stats_.garbage_bytes_sent += junk.size();
    Drain(times_.garbage_quiet_ms);
}

bool TTargetEngine::SendFrame(uint8_t* frame, size_t size) {
    ++stats_.frames_sent;
    if (!retrying_) ++first_sent_;
    if (faults_.corrupt_every > 0 && !retrying_ && first_sent_ % faults_.corrupt_every == 0) {
        frame[2] ^= 0xFF; // any change of the checksum byte spoils the sum
        ++stats_.corrupted_sent;
    }
    return line_.Write(frame, size);
}

TXferStatus TTargetEngine::SendRequest(const TDiskRegs& regs) {
    MoveBufferedToStray();
    TRequestFrame frame = BuildRequestFrame(regs);
    ++stats_.requests_sent;
    bool sent;
    if (faults_.stall_ms > 0 && !stalled_ && !retrying_) {
        // Half a request frame, a pause past the console's patience, then the rest: the
        // console must have given up on the half and must not take the rest for a request.
        stalled_ = true;
        ++stats_.stalls;
        const size_t half = frame.size() / 2;
        ++stats_.frames_sent;
        ++first_sent_;
        sent = line_.Write(frame.data(), half);
        const auto until = TClock::now() + std::chrono::milliseconds(faults_.stall_ms);
        while (sent && TClock::now() < until) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - TClock::now());
            const int b = line_.ReadByte(static_cast<int>(std::max<int64_t>(left.count(), 1)));
            if (b == kLineHungUp) break;
            if (b >= 0) ++stats_.stray_bytes;
        }
        sent = sent && line_.Write(frame.data() + half, frame.size() - half);
    } else {
        sent = SendFrame(frame.data(), frame.size());
    }
    if (faults_.hangup_after > 0 && stats_.requests_sent >= uint64_t(faults_.hangup_after)) {
        line_.Close();
        stats_.hung_up = true;
        return TXferStatus::xsHangup;
    }
    if (!sent) {
        stats_.hung_up = true;
        return TXferStatus::xsHangup;
    }
    return AwaitAck();
}

TXferStatus TTargetEngine::AwaitAck() {
    const auto sent_at = TClock::now();
    const int b = line_.ReadByte(WaitMs(times_.answer_ms));
    if (b == kFrameAck) {
        stats_.ack_wait.Add(Micros(line_.LastArrival() - sent_at));
        return TXferStatus::xsOk;
    }
    if (b == kFrameNak) {
        ++stats_.naks_received;
        return TXferStatus::xsRefused;
    }
    if (b == kLineTimedOut) {
        ++stats_.timeouts;
        return TXferStatus::xsNoAnswer;
    }
    if (b == kLineHungUp) {
        stats_.hung_up = true;
        return TXferStatus::xsHangup;
    }
    ++stats_.stray_bytes;
    return TXferStatus::xsBadAnswer;
}

TXferStatus TTargetEngine::ReceiveFrame(uint8_t* frame, size_t size, TClock::time_point* first_at) {
    for (size_t i = 0; i < size; ++i) {
        const int b = line_.ReadByte(WaitMs(times_.answer_ms));
        if (b == kLineTimedOut) {
            ++stats_.timeouts;
            return TXferStatus::xsNoAnswer;
        }
        if (b == kLineHungUp) {
            stats_.hung_up = true;
            return TXferStatus::xsHangup;
        }
        if (i == 0 && first_at) *first_at = line_.LastArrival();
        frame[i] = static_cast<uint8_t>(b);
        if ((i == 0 && b != kFrameEsc) || (i == 1 && b != kFrameD)) {
            // Not a frame at all: say nothing, the drain that follows swallows the rest.
            stats_.stray_bytes += i + 1;
            return TXferStatus::xsBadAnswer;
        }
    }
    if (!FrameChecksumGood(frame, size)) {
        ++stats_.bad_frames;
        line_.WriteByte(kFrameNak);
        return TXferStatus::xsBadAnswer;
    }
    ++stats_.frames_received;
    return TXferStatus::xsOk;
}

TXferStatus TTargetEngine::AckReceived() {
    if (!retrying_) ++first_received_;
    if (faults_.nak_every > 0 && !retrying_ && first_received_ % faults_.nak_every == 0) {
        ++stats_.naks_injected;
        line_.WriteByte(kFrameNak);
        return TXferStatus::xsInjected;
    }
    if (!line_.WriteByte(kFrameAck)) {
        stats_.hung_up = true;
        return TXferStatus::xsHangup;
    }
    last_ack_ = TClock::now();
    return TXferStatus::xsOk;
}

TXferStatus TTargetEngine::AwaitReply(const TDiskRegs& request, uint8_t expect_ah, TReply& reply) {
    uint8_t frame[kReplyFrameSize];
    if (auto st = ReceiveFrame(frame, sizeof frame, nullptr); st != TXferStatus::xsOk) return st;
    const bool parsed = ParseReply(frame, reply);
    const bool echoed = parsed && reply.regs.Al() == request.Al() && reply.regs.bx == request.bx &&
                        reply.regs.cx == request.cx && reply.regs.dx == request.dx;
    // The first reply of a write (AH 3) asks for the data. Its carry is whatever the console's
    // previous reply left, so it reports no error there.
    const bool asks_for_data = expect_ah == kFnWrite && reply.regs.Ah() == kFnWrite;
    const bool failed = reply.Carry() && !asks_for_data;
    if (!echoed || (!failed && reply.regs.Ah() != expect_ah)) {
        // A reply for some other request: refuse it so that the console stops here.
        ++stats_.bad_frames;
        line_.WriteByte(kFrameNak);
        return TXferStatus::xsBadAnswer;
    }
    if (auto st = AckReceived(); st != TXferStatus::xsOk) return st;
    return failed ? TXferStatus::xsDiskError : TXferStatus::xsOk;
}

TXferResult TTargetEngine::ReadOnce(TChs chs, uint8_t count, uint8_t* out) {
    TXferResult r;
    const TDiskRegs regs = RequestRegs(kFnRead, count, chs);
    if ((r.status = SendRequest(regs)) != TXferStatus::xsOk) return r;
    if ((r.status = AwaitReply(regs, 0, r.reply)) != TXferStatus::xsOk) return r;
    TDataFrame frame;
    for (int i = 0; i < count; ++i) {
        TClock::time_point first{};
        r.status = ReceiveFrame(frame.data(), frame.size(), &first);
        if (r.status != TXferStatus::xsOk) return r;
        stats_.turnaround.Add(Micros(first - last_ack_));
        std::memcpy(out + size_t(i) * kSectorBytes, frame.data() + kFrameHeader, kSectorBytes);
        if ((r.status = AckReceived()) != TXferStatus::xsOk) return r;
    }
    stats_.sectors_moved += count;
    return r;
}

TXferResult TTargetEngine::WriteOnce(TChs chs, uint8_t count, const uint8_t* data) {
    TXferResult r;
    const TDiskRegs regs = RequestRegs(kFnWrite, count, chs);
    if ((r.status = SendRequest(regs)) != TXferStatus::xsOk) return r;
    if ((r.status = AwaitReply(regs, kFnWrite, r.reply)) != TXferStatus::xsOk) return r;
    TDataFrame frame;
    for (int i = 0; i < count; ++i) {
        BuildDataFrame(data + size_t(i) * kSectorBytes, frame);
        if (!SendFrame(frame.data(), frame.size())) {
            stats_.hung_up = true;
            r.status = TXferStatus::xsHangup;
            return r;
        }
        if ((r.status = AwaitAck()) != TXferStatus::xsOk) return r;
    }
    if ((r.status = AwaitReply(regs, 0, r.reply)) != TXferStatus::xsOk) return r;
    stats_.sectors_moved += count;
    return r;
}

template <typename Attempt> TXferResult TTargetEngine::Retrying(Attempt attempt) {
    TXferResult r;
    for (int i = 0; i < times_.max_attempts; ++i) {
        if (PastDeadline()) break;
        if (!line_.IsOpen()) {
            r.status = TXferStatus::xsHangup;
            return r;
        }
        retrying_ = i > 0;
        if (retrying_)
            ++stats_.retries;
        else
            SendGarbage();
        r = attempt();
        r.attempts = i + 1;
        retrying_ = false;
        if (Done(r.status)) return r;
        Drain(times_.quiet_ms);
    }
    retrying_ = false;
    r.last = r.status;
    r.status = TXferStatus::xsGaveUp;
    return r;
}

TXferResult TTargetEngine::Read(TChs chs, uint8_t count, uint8_t* out) {
    return Retrying([&] { return ReadOnce(chs, count, out); });
}

TXferResult TTargetEngine::Write(TChs chs, uint8_t count, const uint8_t* data) {
    return Retrying([&] { return WriteOnce(chs, count, data); });
}
