#include "frame.h"

#include <cstring>

uint8_t FrameChecksum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(0u - sum);
}

size_t BuildFrame(const uint8_t* payload, size_t count, uint8_t* out) {
    out[0] = kFrameEsc;
    out[1] = kFrameD;
    out[2] = 0;
    Put16(out + 3, static_cast<uint16_t>(count + 3));
    std::memcpy(out + kFrameHeader, payload, count);
    out[2] = FrameChecksum(out + 2, count + 3);
    return count + kFrameHeader;
}
