#include "line_trace.h"

#include "frame.h"

#include <cstdio>

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr size_t kRequestSize = 2 + kRequestFrameBody; // ESC 'D' and the 11 bytes: 13
constexpr uint8_t kRead = 2, kWrite = 3;

// "     12.345 in  ": milliseconds since the start, then the direction.
void Stamp(int64_t us, const char* direction, std::string& out) {
    char text[48];
    std::snprintf(text, sizeof text, "%8lld.%03lld %-3s ", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000), direction);
    out += text;
}

// "# 12.345 ": a note's head.
void NoteStamp(int64_t us, std::string& out) {
    char text[48];
    std::snprintf(text, sizeof text, "# %lld.%03lld ", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    out += text;
}

const char* Name(TLineDirection direction) { return direction == ldIn ? "in" : "out"; }

void Hex(const uint8_t* bytes, size_t count, std::string& out) {
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
}

std::string FunctionName(uint8_t function) {
    if (function == kRead) return "read";
    if (function == kWrite) return "write";
    char text[16];
    std::snprintf(text, sizeof text, "function %02X", function);
    return text;
}

// " C 0 H 0 S 1 count 1" from a frame's register image (AX at offset 5).
std::string Place(const uint8_t* f) {
    char text[64];
    std::snprintf(text, sizeof text, " C %u H %u S %u count %u", f[10], f[12], f[9], f[5]);
    return text;
}

const char* Checksum(const uint8_t* frame, size_t size) {
    return FrameChecksum(frame + 2, size - 2) == 0 ? " checksum good" : " checksum BAD";
}

} // namespace

void TTraceDecoder::Plain(TLineDirection direction, const uint8_t* bytes, size_t count,
                          int64_t us, std::string& out) {
    if (count == 0) return;
    Stamp(us, Name(direction), out);
    Hex(bytes, count, out);
    out += "  |";
    for (size_t i = 0; i < count; ++i)
        out += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    out += '|';
    if (answer_due_[direction] && count == 1 && (bytes[0] == kFrameAck || bytes[0] == kFrameNak))
        out += bytes[0] == kFrameAck ? "  ACK" : "  NAK";
    out += '\n';
    answer_due_[direction] = false;
    // A NAK from the console ends the exchange: announced data frames will not come.
    if (direction == ldOut && count == 1 && bytes[0] == kFrameNak) data_due_ = 0;
}

void TTraceDecoder::Frame(TLineDirection direction, const uint8_t* f, size_t size, int64_t us,
                          std::string& out) {
    Stamp(us, Name(direction), out);
    const bool good = FrameChecksum(f + 2, size - 2) == 0;
    if (direction == ldIn && size == kRequestSize) {
        out += "request " + FunctionName(f[6]) + Place(f);
        char text[32];
        std::snprintf(text, sizeof text, " drive %02X", f[11]);
        out += text;
        if (good) {
            function_ = f[6];
            data_count_ = f[5];
            data_seen_ = 0;
            data_due_ = function_ == kWrite ? f[5] : 0;
        }
    } else if (size == kReplyFrameSize) {
        const bool carry = (f[13] & 1) != 0;
        char text[48];
        std::snprintf(text, sizeof text, " status %02X carry %d", f[6], carry ? 1 : 0);
        out += "reply " + FunctionName(function_) + Place(f) + text;
        if (carry) data_due_ = 0; // an error reply: no data frames follow
    } else {
        ++data_seen_;
        char text[48];
        std::snprintf(text, sizeof text, " sector %d of %d", data_seen_, data_count_);
        out += "data " + FunctionName(function_) + text;
        if (direction == ldIn && data_due_ > 0) --data_due_;
    }
    out += Checksum(f, size);
    out += "  ";
    Hex(f, size, out);
    out += '\n';
    answer_due_[direction] = false;
    answer_due_[direction == ldIn ? ldOut : ldIn] = true;
}

void TTraceDecoder::Burst(TLineDirection direction, const uint8_t* bytes, size_t count,
                          int64_t us, std::string& out) {
    if (direction == ldOut) {
        // The console writes each frame in one call.
        const bool frame = (count == kReplyFrameSize || count == kDataFrameSize) &&
                           bytes[0] == kFrameEsc && bytes[1] == kFrameD;
        if (frame)
            Frame(direction, bytes, count, us, out);
        else
            Plain(direction, bytes, count, us, out);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (in_frame_) {
            frame_.push_back(b);
            if (frame_size_ == 0 && frame_.size() == kFrameHeader)
                frame_size_ = Get16(&frame_[3]) == kDataFrameBody ? kDataFrameSize : kRequestSize;
            if (frame_.size() == frame_size_) {
                Frame(ldIn, frame_.data(), frame_.size(), us, out);
                frame_.clear();
                in_frame_ = false;
            }
            continue;
        }
        if (b == kFrameD && !run_.empty() && run_.back() == kEsc) {
            // ESC 'D': the frame starts at this ESC; what came before is a line of its own.
            run_.pop_back();
            Plain(ldIn, run_.data(), run_.size(), us, out);
            run_.clear();
            frame_ = {kFrameEsc, kFrameD};
            in_frame_ = true;
            frame_size_ = data_due_ > 0 ? kDataFrameSize : 0;
            continue;
        }
        run_.push_back(b);
    }
    // An ESC at the end may start a frame with the next read: it waits for it.
    const bool hold = !run_.empty() && run_.back() == kEsc;
    Plain(ldIn, run_.data(), run_.size() - (hold ? 1 : 0), us, out);
    run_.erase(run_.begin(), run_.end() - (hold ? 1 : 0));
}

void TTraceDecoder::Finish(int64_t us, std::string& out) {
    Plain(ldIn, run_.data(), run_.size(), us, out);
    run_.clear();
    if (in_frame_) {
        Stamp(us, "in", out);
        out += "unfinished frame  ";
        Hex(frame_.data(), frame_.size(), out);
        out += '\n';
        frame_.clear();
        in_frame_ = false;
    }
}

int64_t TLineTrace::Micros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(clock_() - start_).count();
}

bool TLineTrace::Start(const std::string& path, const std::string& started) {
    decoder_ = TTraceDecoder{};
    limit_reached_ = false;
    if (!writer_.Open(path)) return false;
    start_ = clock_();
    Put("# Quorvik line trace, started " + started +
        "\n# ms since then, in (from the target) or out (to the target), the bytes of one read"
        " or write in hex and as text;\n# frames of the disk protocol decoded on one line"
        " each\n");
    return true;
}

// Appends `text` unless it would take the file past the limit; the last note always fits.
void TLineTrace::Put(const std::string& text) {
    if (!writer_.IsOpen() || limit_reached_) return;
    constexpr uint64_t kLastNote = 128;
    if (writer_.Bytes() + text.size() + kLastNote > limit_) {
        limit_reached_ = true;
        char note[kLastNote];
        std::snprintf(note, sizeof note, "# trace stopped: the file reached its limit of %llu bytes\n",
                      static_cast<unsigned long long>(limit_));
        writer_.Append(note);
        return;
    }
    writer_.Append(text);
}

void TLineTrace::LineBytes(TLineDirection direction, const uint8_t* bytes, size_t count) {
    if (!Running()) return;
    scratch_.clear();
    decoder_.Burst(direction, bytes, count, Micros(), scratch_);
    Put(scratch_);
}

void TLineTrace::Note(const std::string& text) {
    if (!Running()) return;
    scratch_.clear();
    NoteStamp(Micros(), scratch_);
    scratch_ += text;
    scratch_ += '\n';
    Put(scratch_);
}

bool TLineTrace::Stop() {
    if (Running()) {
        scratch_.clear();
        decoder_.Finish(Micros(), scratch_);
        Put(scratch_);
        Note("trace stopped");
    }
    limit_reached_ = false;
    return writer_.Close();
}
