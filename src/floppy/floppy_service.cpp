#include "floppy_service.h"

#include "screen.h"

#include <cstring>

namespace {

// Request frame offsets (after ESC 'D').
constexpr size_t kReqAX = 3; // AL sector count, AH function
constexpr size_t kReqCX = 7; // CL sector, CH cylinder
constexpr size_t kReqDX = 9; // DL drive, DH head

// Reply register offsets.
constexpr size_t kRegAH = 1;
constexpr size_t kRegFlags = 8;

constexpr uint8_t kFnRead = 2;
constexpr uint8_t kFnWrite = 3;

} // namespace

TFloppyService::TFloppyService(TLink& link, TScreen& screen)
    : link_(link), screen_(screen), image_(screen) {}

void TFloppyService::WaitForByte() {
    link_.WaitForExchangeByte();
    // Disconnect sets the stop request, so the wait above has already thrown; this also covers
    // an image or buffer swapped under the exchange without one.
    if (image_.Generation() != exchange_generation_) throw TAbandonExchange{};
}

uint8_t TFloppyService::ReceiveFrame(uint8_t* buffer, size_t length, bool expect_header) {
    if (expect_header) {
        WaitForByte();
        if (link_.TakeByte() != kFrameEsc) return kFrameBad;
        WaitForByte();
        if (link_.TakeByte() != kFrameD) return kFrameBad;
    }
    for (size_t i = 0; i < length; ++i) {
        WaitForByte();
        buffer[i] = link_.TakeByte();
    }
    if (FrameChecksum(buffer, length) != 0) {
        link_.Write(&kFrameNak, 1);
        return kFrameBad;
    }
    link_.Write(&kFrameAck, 1);
    return 0;
}

int TFloppyService::SendFrame(const uint8_t* bytes, size_t length) {
    link_.Write(bytes, length);
    WaitForByte();
    const uint8_t answer = link_.PeekByte();
    if (answer == kFrameAck || answer == kFrameNak) {
        link_.TakeByte();
        return answer == kFrameAck ? 0 : 1;
    }
    throw TAbandonExchange{}; // the restart empties the queue
}

void TFloppyService::SendReply() {
    std::array<uint8_t, kReplyFrameSize> reply;
    BuildFrame(registers_.data(), registers_.size(), reply.data());
    if (SendFrame(reply.data(), reply.size()) != 0) throw TAbandonExchange{};
}

void TFloppyService::CopyRequestRegisters(const uint8_t* request) {
    std::memcpy(registers_.data(), request + kReqAX, kRegisterBytes);
}

void TFloppyService::SetStatus(uint8_t status) {
    registers_[kRegAH] = status;
    if (status == kDiskOk)
        registers_[kRegFlags] &= static_cast<uint8_t>(~1u);
    else
        registers_[kRegFlags] |= 1u;
}

void TFloppyService::DiskRequest() {
    exchange_generation_ = image_.Generation();
    std::array<uint8_t, kRequestFrameBody> request;
    if (ReceiveFrame(request.data(), request.size(), false) != 0) return;
    ServeDiskRequest(request.data());
}

void TFloppyService::ServeDiskRequest(const uint8_t* request) {
    const uint8_t count = request[kReqAX];
    const uint8_t function = request[kReqAX + 1];
    const uint8_t sector = request[kReqCX];
    const uint8_t cylinder = request[kReqCX + 1];
    const uint8_t head = request[kReqDX + 1];

    // Without a track buffer nothing can be moved: the request is answered as if no image
    // were attached. A zero-size buffer of a zero geometry is a buffer. (The buffer holds
    // NUMSECTOR items of 512 bytes; the TransferFits tests below only guard that promise.)
    if (!image_.Attached() || !image_.TrackBufferReady()) {
        CopyRequestRegisters(request);
        SetStatus(kDiskNoImage);
        SendReply();
        return;
    }

    if (function == kFnRead) {
        if (count > image_.NumSector() || !image_.TransferFits(count)) {
            screen_.MsgOut("Internal Error: Target application tries to read more than "
                           "NUMSECTOR blocks.");
            return;
        }
        CopyRequestRegisters(request);
        const uint8_t status = image_.ReadSectors(cylinder, head, sector, count);
        SetStatus(status);
        SendReply();
        // An error reply is followed by no data frames.
        if (status == kDiskOk) SendDataFrames(count);
    } else if (function == kFnWrite) {
        if (count > image_.NumSector() || !image_.TransferFits(count)) {
            screen_.MsgOut("Internal Error: Target application tries to write more than "
                           "NUMSECTOR blocks.");
            return;
        }
        // The first reply (AH 3, FLAGS as left) asks the target for the data.
        CopyRequestRegisters(request);
        SendReply();
        ReceiveDataFrames(count);

        CopyRequestRegisters(request);
        uint8_t status = kDiskWriteProtected;
        if (!image_.ReadOnly() && count == 0) {
            status = kDiskOk; // nothing to move, wherever it points
        } else if (!image_.ReadOnly()) {
            status = image_.SeekImage(cylinder, head, sector);
            if (status == kDiskOk) status = image_.WriteSectors(count);
        }
        SetStatus(status);
        SendReply();
    }
    // Any other function: the request frame's ACK was the whole answer.
}

void TFloppyService::SendDataFrames(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        link_.timeout_counter = kTimeoutTicks;
        BuildFrame(image_.Sector(i), kSectorBytes, frame_.data());
        if (SendFrame(frame_.data(), kDataFrameSize) != 0) throw TAbandonExchange{};
    }
}

void TFloppyService::ReceiveDataFrames(uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        link_.timeout_counter = kTimeoutTicks;
        if (ReceiveFrame(frame_.data(), kDataFrameBody, true) != 0) throw TAbandonExchange{};
        std::memcpy(image_.Sector(i), frame_.data() + 3, kSectorBytes);
    }
}
