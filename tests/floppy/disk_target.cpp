#include "disk_target.h"

#include "frame.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace {
constexpr int kRoundLimit = 200000; // no test may spin for ever
}

std::vector<uint8_t> RequestBytes(const TDiskOp& op) {
    uint8_t regs[kRegisterBytes] = {op.count,  op.function, uint8_t(op.bx), uint8_t(op.bx >> 8),
                                    op.sector, op.cylinder, 0x00,           op.head};
    std::vector<uint8_t> out(kFrameHeader + kRegisterBytes);
    BuildFrame(regs, kRegisterBytes, out.data());
    return out;
}

TDiskTarget::TDiskTarget(TCoreRig& rig) : rig_(rig) {
    rig_.host.idle = [this] { Idle(); };
    rig_.port.on_write = [this](const uint8_t* b, size_t n) { OnWrite(b, n); };
}

TDiskOp& TDiskTarget::Add(TDiskOp op) {
    if (op.function == 3) op.data.resize(size_t{op.count} * kSectorBytes);
    ops_.push_back(std::move(op));
    return ops_.back();
}

void TDiskTarget::Send(std::vector<uint8_t> bytes, int delay) {
    if (delay == 0) {
        rig_.port.incoming.insert(rig_.port.incoming.end(), bytes.begin(), bytes.end());
    } else {
        scheduled_.emplace_back(rounds + delay, std::move(bytes));
    }
}

void TDiskTarget::Idle() {
    ++rounds;
    rig_.link.CountDownTimeout();
    if (rounds > kRoundLimit) {
        rig_.link.stop_request = true;
        return;
    }
    if (disconnect_due_) {
        disconnect_due_ = false;
        if (disconnect) disconnect();
        return;
    }
    for (auto it = scheduled_.begin(); it != scheduled_.end();) {
        if (it->first <= rounds) {
            Send(std::move(it->second));
            it = scheduled_.erase(it);
            quiet_ = 0;
        } else {
            ++it;
        }
    }
    if (op_) {
        if (scheduled_.empty() && ++quiet_ > kGiveUpRounds) {
            op_->timed_out = true;
            Finish();
        }
        return;
    }
    // Leave the console a round to resynchronise after an exchange it abandoned, and let
    // delayed answers of the last operation go out first.
    if (++since_finish_ < 2 || !scheduled_.empty()) return;
    if (next_ < ops_.size())
        Start(ops_[next_++]);
    else
        rig_.link.stop_request = true;
}

void TDiskTarget::Start(TDiskOp& op) {
    op_ = last_ = &op;
    phase_ = phRequestAck;
    frame_ = 0;
    quiet_ = 0;
    std::vector<uint8_t> request = RequestBytes(op);
    if (op.request_split > 0) {
        Send({request.begin(), request.begin() + op.request_split});
        Send({request.begin() + op.request_split, request.end()}, op.rest_after_rounds);
    } else {
        Send(request);
    }
}

void TDiskTarget::Finish() {
    op_ = nullptr;
    phase_ = phIdle;
    since_finish_ = 0;
}

bool TDiskTarget::CheckFrame(const uint8_t* b, size_t n, size_t expected) {
    const bool good = n == expected && b[0] == kFrameEsc && b[1] == kFrameD &&
                      Get16(b + 3) == expected - 2 && FrameChecksum(b + 2, n - 2) == 0;
    if (!good) ++op_->malformed;
    return good;
}

void TDiskTarget::SendDataFrame() {
    std::vector<uint8_t> frame(kDataFrameSize);
    BuildFrame(op_->data.data() + frame_ * kSectorBytes, kSectorBytes, frame.data());
    if (frame_ == op_->bad_data_frame) frame[2] ^= 0x01;
    Send(frame);
}

void TDiskTarget::OnWrite(const uint8_t* b, size_t n) {
    // Whatever comes after an operation is over still counts as its writes.
    if (last_) last_->writes.emplace_back(b, b + n);
    if (!op_) return;
    quiet_ = 0;
    if (static_cast<int>(op_->writes.size()) == op_->disconnect_after_writes)
        disconnect_due_ = true;
    const bool single = n == 1;
    switch (phase_) {
    case phIdle: break;
    case phRequestAck:
        if (single && b[0] == kFrameAck)
            phase_ = phReply;
        else
            Finish();
        break;
    case phReply: {
        const bool ok = CheckFrame(b, n, kReplyFrameSize);
        op_->replies.emplace_back(b, b + n);
        Send({kFrameAck});
        // A write goes on when the reply echoes AH 3 (its carry is left from before); a read
        // when the reply says 00 with carry clear.
        const uint8_t ah = b[6];
        const bool carry = b[13] & 1;
        if (!ok) {
            Finish();
        } else if (op_->function == 3 && ah == 3 && op_->count > 0) {
            phase_ = phDataAck;
            SendDataFrame();
        } else if (op_->function == 3 && ah == 3) {
            phase_ = phFinalReply;
        } else if (op_->function == 2 && ah == 0 && !carry && op_->count > 0) {
            phase_ = phDataIn;
        } else {
            Finish();
        }
        break;
    }
    case phDataIn: {
        CheckFrame(b, n, kDataFrameSize);
        op_->read_data.insert(op_->read_data.end(), b + kFrameHeader, b + n);
        if (frame_ == op_->nak_data_frame) {
            Send({kFrameNak});
            Finish();
            break;
        }
        Send({kFrameAck}, op_->ack_delay_rounds);
        if (++frame_ == op_->count) Finish();
        break;
    }
    case phDataAck:
        if (!single || b[0] != kFrameAck) {
            Finish();
        } else if (++frame_ == op_->count) {
            phase_ = phFinalReply;
        } else {
            SendDataFrame();
        }
        break;
    case phFinalReply:
        CheckFrame(b, n, kReplyFrameSize);
        op_->replies.emplace_back(b, b + n);
        if (op_->on_final_reply) op_->on_final_reply();
        Send({op_->nak_final_reply ? kFrameNak : kFrameAck});
        Finish();
        break;
    }
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> out(count);
    for (auto& b : out)
        b = static_cast<uint8_t>(gen());
    return out;
}

std::vector<uint8_t> BootSectorImage(uint16_t bytes_per_sector, uint16_t total_sectors,
                                     uint16_t sectors_per_track, uint16_t heads, const char* type54,
                                     const char* type82, size_t sectors) {
    std::vector<uint8_t> image = RandomBytes(sectors * 512, sectors_per_track);
    std::fill(image.begin(), image.begin() + 512, 0);
    Put16(&image[11], bytes_per_sector);
    Put16(&image[19], total_sectors);
    Put16(&image[24], sectors_per_track);
    Put16(&image[26], heads);
    std::memcpy(&image[54], type54, std::strlen(type54));
    std::memcpy(&image[82], type82, std::strlen(type82));
    return image;
}

std::string ScreenText(const TScreen& screen) {
    std::string text;
    for (int row = 0; row < kScreenRows; ++row)
        text += screen.RowText(row);
    return text;
}

std::vector<uint8_t> FileSlice(const std::string& path, uint64_t offset, size_t count) {
    std::vector<uint8_t> out(count, 0);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
    return out;
}

TDiskOp ReadOp(uint8_t cylinder, uint8_t head, uint8_t sector, uint8_t count) {
    TDiskOp op;
    op.function = 2;
    op.count = count;
    op.sector = sector;
    op.cylinder = cylinder;
    op.head = head;
    return op;
}

TDiskOp WriteOp(uint8_t cylinder, uint8_t head, uint8_t sector, uint8_t count, uint32_t seed) {
    TDiskOp op = ReadOp(cylinder, head, sector, count);
    op.function = 3;
    op.data = RandomBytes(size_t{count} * kSectorBytes, seed);
    return op;
}
