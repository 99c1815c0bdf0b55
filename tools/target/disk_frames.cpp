#include "disk_frames.h"

#include <cstdio>

TDiskRegs RequestRegs(uint8_t function, uint8_t count, TChs chs, uint8_t drive, uint16_t bx) {
    TDiskRegs r;
    r.ax = static_cast<uint16_t>(count | (function << 8));
    r.bx = bx;
    r.cx = static_cast<uint16_t>(chs.sector | (chs.cylinder << 8));
    r.dx = static_cast<uint16_t>(drive | (chs.head << 8));
    return r;
}

TRequestFrame BuildRequestFrame(const TDiskRegs& regs) {
    uint8_t payload[kRegisterBytes];
    Put16(payload + 0, regs.ax);
    Put16(payload + 2, regs.bx);
    Put16(payload + 4, regs.cx);
    Put16(payload + 6, regs.dx);
    TRequestFrame out{};
    BuildFrame(payload, sizeof payload, out.data());
    return out;
}

void BuildDataFrame(const uint8_t* sector, TDataFrame& out) {
    BuildFrame(sector, kSectorBytes, out.data());
}

bool FrameChecksumGood(const uint8_t* frame, size_t size) {
    return size > 2 && FrameChecksum(frame + 2, size - 2) == 0;
}

bool ParseReply(const uint8_t* frame, TReply& out) {
    if (frame[0] != kFrameEsc || frame[1] != kFrameD) return false;
    if (!FrameChecksumGood(frame, kReplyFrameSize)) return false;
    if (Get16(frame + 3) != kReplyFrameSize - 2) return false;
    out.regs.ax = Get16(frame + 5);
    out.regs.bx = Get16(frame + 7);
    out.regs.cx = Get16(frame + 9);
    out.regs.dx = Get16(frame + 11);
    out.flags = Get16(frame + 13);
    return true;
}

std::string DiskStatusText(uint8_t ah) {
    switch (ah) {
    case 0x00: return "ok";
    case 0x01: return "status 01 (no image, or request refused)";
    default: {
        char s[24];
        std::snprintf(s, sizeof s, "status %02X", ah);
        return s;
    }
    }
}
