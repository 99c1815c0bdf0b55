// The target's side of the disk frames, built on the shared frame codec (frame.h):
//   request:  1B 44 | checksum | length 11 | AX BX CX DX           (13 bytes on the line)
//   reply:    1B 44 | checksum | length 13 | AX BX CX DX FLAGS     (15 bytes)
//   data:     1B 44 | checksum | length 515 | 512 bytes of sector (517 bytes)
// AX: AL sector count, AH function (2 read, 3 write) in a request, status in a reply.
// CX: CL sector (from 1), CH cylinder. DX: DL drive, DH head. FLAGS bit 0: carry (error).
#pragma once

#include "frame.h"

#include <array>
#include <cstdint>
#include <string>

constexpr uint8_t kFnRead = 2;
constexpr uint8_t kFnWrite = 3;
constexpr size_t kRequestFrameSize = kFrameHeader + kRegisterBytes; // 13 bytes

struct TChs {
    uint8_t cylinder = 0;
    uint8_t head = 0;
    uint8_t sector = 1; // from 1
    friend bool operator==(const TChs&, const TChs&) = default;
};

struct TDiskRegs {
    uint16_t ax = 0, bx = 0, cx = 0, dx = 0;
    uint8_t Al() const { return static_cast<uint8_t>(ax); }
    uint8_t Ah() const { return static_cast<uint8_t>(ax >> 8); }
    friend bool operator==(const TDiskRegs&, const TDiskRegs&) = default;
};

// The registers of a BIOS-style disk call for `count` sectors from `chs`; BX carries the
// buffer offset a real target would use (returned untouched by the console).
TDiskRegs RequestRegs(uint8_t function, uint8_t count, TChs chs, uint8_t drive = 0,
                      uint16_t bx = 0x7C00);

using TRequestFrame = std::array<uint8_t, kRequestFrameSize>;
using TDataFrame = std::array<uint8_t, kDataFrameSize>;

TRequestFrame BuildRequestFrame(const TDiskRegs& regs);
void BuildDataFrame(const uint8_t* sector, TDataFrame& out);

struct TReply {
    TDiskRegs regs;
    uint16_t flags = 0;
    bool Carry() const { return (flags & 1) != 0; }
};

// A reply frame as received, all 15 bytes from 1B 44 on. False when the checksum is bad or
// the header or length field is not that of a reply.
bool ParseReply(const uint8_t* frame, TReply& out);

// Whether the covered bytes (from offset 2 on) of a received frame sum to 0.
bool FrameChecksumGood(const uint8_t* frame, size_t size);

// What a reply status (AH) means, for people: "ok", "no image", "status 0x07"...
std::string DiskStatusText(uint8_t ah);
