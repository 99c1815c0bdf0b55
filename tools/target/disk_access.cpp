#include "disk_access.h"

#include <algorithm>
#include <array>

TXferResult ReadRange(TTargetEngine& engine, const TBootInfo& geo, uint32_t lba, uint32_t count,
                      uint8_t* out, const std::function<void(uint32_t)>& done) {
    TXferResult r;
    uint32_t got = 0;
    while (got < count) {
        const TChs chs = ChsOfLba(lba + got, geo.sectors_per_track, geo.heads);
        const uint32_t room = geo.sectors_per_track - (chs.sector - 1u);
        const auto n = static_cast<uint8_t>(std::min<uint32_t>({count - got, room, 255}));
        r = engine.Read(chs, n, out + size_t(got) * kSectorBytes);
        if (r.status != TXferStatus::xsOk) return r;
        got += n;
        if (done) done(got);
    }
    return r;
}

TXferResult ReadBootSector(TTargetEngine& engine, uint8_t* sector) {
    return engine.Read(TChs{0, 0, 1}, 1, sector);
}

uint32_t Crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
    static const auto kTable = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i)
        crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
