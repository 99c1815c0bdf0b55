// Any byte stream from the target, in random chunks, through the real main cycle and escape
// interpreter. The cursor stays on the screen after every round, and the screen, the bytes
// sent to the port and the disk requests are the same whether the stream comes in one piece
// or in chunks.
#include "fakes.h"

#include <cstdlib>
#include <cstring>

namespace {

struct TOutcome {
    std::array<TCell, kScreenCells> cells;
    int column, row;
    uint8_t attr;
    std::vector<uint8_t> written;
    int requests;
    bool key_hold;
    bool operator==(const TOutcome&) const = default;
};

void CheckCursor(const TScreen& s) {
    if (s.CursorColumn() < 0 || s.CursorColumn() >= kScreenColumns || s.CursorRow() < 0 ||
        s.CursorRow() >= kScreenRows)
        std::abort();
}

TOutcome Run(const uint8_t* stream, size_t size, bool attached, uint32_t chunk_seed) {
    TCoreRig rig;
    rig.disk.attached = attached;
    size_t at = 0;
    uint32_t lcg = chunk_seed;
    while (at < size) {
        size_t n = size - at;
        if (chunk_seed != 0) {
            lcg = lcg * 1664525u + 1013904223u;
            n = std::min<size_t>(n, 1 + (lcg >> 24) % 64);
        }
        std::vector<uint8_t> chunk(stream + at, stream + at + n);
        rig.Step([&rig, chunk] {
            CheckCursor(rig.screen);
            rig.Deliver(chunk);
        });
        at += n;
    }
    rig.Run();
    CheckCursor(rig.screen);
    return TOutcome{rig.screen.Cells(),     rig.screen.CursorColumn(), rig.screen.CursorRow(),
                    rig.screen.Attribute(), rig.port.written,          rig.disk.requests,
                    rig.link.key_hold};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 8192) return -1;
    const bool attached = data[0] & 1;
    const uint32_t seed = data[1] | 1u; // never 0: 0 means one piece
    const TOutcome whole = Run(data + 2, size - 2, attached, 0);
    const TOutcome chunked = Run(data + 2, size - 2, attached, seed);
    if (!(whole == chunked)) std::abort();
    return 0;
}
