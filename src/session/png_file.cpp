#include "png_file.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc = 0) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& out, const char* type, const std::string& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    Put32(out, Crc32(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
}

} // namespace

std::string EncodePng(int width, int height, const uint32_t* pixels) {
    // The filtered rows: a filter byte 0 (none), then R, G, B per pixel.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            raw.push_back(static_cast<uint8_t>(p >> 16));
            raw.push_back(static_cast<uint8_t>(p >> 8));
            raw.push_back(static_cast<uint8_t>(p));
        }
    }
    // A zlib stream of stored blocks of up to 65535 bytes, with its Adler-32.
    std::string z = "\x78\x01";
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(reinterpret_cast<const char*>(raw.data() + at), n);
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);

    std::string ihdr;
    Put32(ihdr, static_cast<uint32_t>(width));
    Put32(ihdr, static_cast<uint32_t>(height));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB, deflate, no filter choice, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", "");
    return png;
}
