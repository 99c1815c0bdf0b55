// The frames of the disk protocol, one home for both ends of the line (the console and the
// simulated target):
//
//   1B 44 | checksum | length (16-bit LE) | payload
//
// The checksum and length count as covered bytes with the payload. The checksum byte makes the
// 8-bit sum of all covered bytes 0; the length field is the number of bytes after 1B 44.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t kFrameEsc = 0x1B;
constexpr uint8_t kFrameD = 0x44;
constexpr uint8_t kFrameAck = 0x55;
constexpr uint8_t kFrameNak = 0xAA;
constexpr size_t kFrameHeader = 5;                          // 1B 44 checksum length
constexpr size_t kSectorBytes = 512;
constexpr size_t kRegisterBytes = 8;                        // AX BX CX DX
constexpr size_t kRequestFrameBody = 3 + kRegisterBytes;    // after 1B 44: 11 bytes
constexpr size_t kReplyFrameSize = kFrameHeader + 10;       // AX BX CX DX FLAGS: 15 bytes
constexpr size_t kDataFrameSize = kFrameHeader + kSectorBytes; // 517 bytes
constexpr size_t kDataFrameBody = kDataFrameSize - 2;       // 515 covered bytes

// (0 - sum of the bytes) mod 256. Over a received frame's covered bytes, 0 means good.
uint8_t FrameChecksum(const uint8_t* bytes, size_t count);

// Writes 1B 44, checksum, length and the payload to `out` (room for count + 5 bytes) and
// returns the frame's size.
size_t BuildFrame(const uint8_t* payload, size_t count, uint8_t* out);

// Little-endian 16-bit fields.
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) { return Get16(p) | (uint32_t{Get16(p + 2)} << 16); }
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
