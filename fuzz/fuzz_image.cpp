// Any boot sector and any file size into identification, then transfers at any address. A
// read that succeeds returns the file's bytes (zeros past its end) and lies on the disk; a
// write that succeeds lies on the disk and reaches the file; a write that fails changes
// nothing; a file smaller than a sector is never attached.
#include "floppy_image.h"
#include "screen.h"
#include "test_dir.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct TOp {
    bool write;
    uint8_t cylinder, head, sector, count, fill;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000) return -1;
    static const std::string path = TestPath("image.img");
    FuzzedDataProvider in(data, size);
    std::vector<TOp> ops(in.ConsumeIntegralInRange<size_t>(0, 12));
    for (TOp& op : ops) {
        op.write = in.ConsumeBool();
        op.cylinder = in.ConsumeIntegral<uint8_t>();
        op.head = in.ConsumeIntegral<uint8_t>();
        op.sector = in.ConsumeIntegral<uint8_t>();
        op.count = in.ConsumeIntegral<uint8_t>();
        op.fill = in.ConsumeIntegral<uint8_t>();
    }
    const std::vector<uint8_t> file = in.ConsumeRemainingBytes<uint8_t>();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
    }

    TScreen screen;
    TFloppyImage image(screen);
    image.OpenImage(path);
    if (file.size() < 512 && image.Attached()) std::abort();
    image.AllocTrackBuffer();
    if (!image.Attached() || !image.TrackBufferReady()) return 0;

    constexpr int64_t kModelLimit = int64_t{64} << 20; // bytes of the file the model follows
    std::vector<uint8_t> current = file;
    for (const TOp& op : ops) {
        if (op.count > image.NumSector() || !image.TransferFits(op.count)) continue;
        const bool in_range =
            image.CheckRange(op.cylinder, op.head, op.sector, op.count) == kDiskOk;
        const size_t bytes = size_t{op.count} * 512;
        const int64_t offset = image.ImageOffset(op.cylinder, op.head, op.sector);
        if (!op.write) {
            const uint8_t status = image.ReadSectors(op.cylinder, op.head, op.sector, op.count);
            if (status != kDiskOk) continue;
            if (!in_range) std::abort();
            for (size_t i = 0; i < bytes; ++i) {
                const uint64_t at = static_cast<uint64_t>(offset) + i;
                const uint8_t want = at < current.size() ? current[at] : 0;
                if (image.Sector(0)[i] != want) std::abort();
            }
            continue;
        }
        // A boot sector may declare a disk of terabytes, and a write far into it grows the file
        // sparsely; the model here holds the file in memory, so such writes are not made.
        if (offset > kModelLimit - static_cast<int64_t>(bytes)) continue;
        if (op.count > 0) std::memset(image.Sector(0), op.fill, bytes);
        uint8_t status = image.SeekImage(op.cylinder, op.head, op.sector);
        if (status == kDiskOk) status = image.WriteSectors(op.count);
        if (status == kDiskOk && op.count > 0) {
            if (!in_range || offset < 0) std::abort();
            const size_t end = static_cast<size_t>(offset) + bytes;
            const TGeometry& g = image.Geometry();
            const uint64_t disk_sectors = g.total_sectors != 0
                                              ? g.total_sectors
                                              : uint64_t{256} * g.heads * g.sectors_per_track;
            if (end > disk_sectors * g.bytes_per_sector) std::abort(); // past the disk's end
            if (current.size() < end) current.resize(end, 0);
            std::memset(current.data() + offset, op.fill, bytes);
        }
        if (ReadAll(path) != current) std::abort();
    }
    image.CloseImage();
    image.FreeTrackBuffer();
    return 0;
}
