#include "fat12.h"

#include <cstdio>
#include <unordered_set>

namespace {

std::string Field(const uint8_t* p, size_t n) {
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    for (auto& c : s) {
        if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '.';
    }
    return s;
}

} // namespace

uint32_t TBootInfo::Clusters() const {
    if (sectors_per_cluster == 0 || total_sectors <= DataLba()) return 0;
    return (total_sectors - DataLba()) / sectors_per_cluster;
}

uint32_t TBootInfo::Cylinders() const {
    const uint32_t per_cylinder = uint32_t(sectors_per_track) * heads;
    return per_cylinder ? (total_sectors + per_cylinder - 1) / per_cylinder : 0;
}

bool ParseBootSector(const uint8_t* s, TBootInfo& out, std::string* why) {
    auto fail = [why](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    TBootInfo b;
    b.oem = Field(s + 3, 8);
    b.bytes_per_sector = Get16(s + 11);
    b.sectors_per_cluster = s[13];
    b.reserved_sectors = Get16(s + 14);
    b.fats = s[16];
    b.root_entries = Get16(s + 17);
    b.total_sectors = Get16(s + 19);
    if (b.total_sectors == 0) b.total_sectors = Get32(s + 32);
    b.media = s[21];
    b.sectors_per_fat = Get16(s + 22);
    b.sectors_per_track = Get16(s + 24);
    b.heads = Get16(s + 26);
    b.label = Field(s + 43, 11);
    b.fs_type = Field(s + 54, 8);

    if (b.bytes_per_sector != 512) return fail("sector size is not 512");
    if (b.sectors_per_track == 0 || b.sectors_per_track > 255)
        return fail("sectors per track out of range");
    if (b.heads == 0 || b.heads > 256) return fail("heads out of range");
    if (b.total_sectors == 0) return fail("no sectors");
    if (b.Cylinders() > 256) return fail("more cylinders than a request can address");
    if (b.sectors_per_cluster == 0 || (b.sectors_per_cluster & (b.sectors_per_cluster - 1)))
        return fail("sectors per cluster is not a power of two");
    if (b.fats == 0 || b.reserved_sectors == 0 || b.sectors_per_fat == 0 || b.root_entries == 0)
        return fail("no FAT layout");
    if (b.DataLba() >= b.total_sectors) return fail("layout larger than the disk");
    out = b;
    return true;
}

TChs ChsOfLba(uint32_t lba, uint16_t spt, uint16_t heads) {
    TChs chs;
    chs.sector = static_cast<uint8_t>(lba % spt + 1);
    const uint32_t track = lba / spt;
    chs.head = static_cast<uint8_t>(track % heads);
    chs.cylinder = static_cast<uint8_t>(track / heads);
    return chs;
}

std::vector<TDirEntry> ParseDirectory(const uint8_t* bytes, size_t size) {
    std::vector<TDirEntry> out;
    for (size_t off = 0; off + 32 <= size; off += 32) {
        const uint8_t* e = bytes + off;
        if (e[0] == 0x00) break;              // never used: the end of the directory
        if (e[0] == 0xE5) continue;           // deleted
        if ((e[11] & 0x3F) == 0x0F) continue; // a piece of a long name
        TDirEntry d;
        std::string base = Field(e, 8);
        if (!base.empty() && static_cast<uint8_t>(e[0]) == 0x05) base[0] = char(0xE5);
        const std::string ext = Field(e + 8, 3);
        d.attr = e[11];
        d.name = (ext.empty() || d.IsLabel()) ? base : base + "." + ext;
        if (d.IsLabel()) d.name = Field(e, 11);
        d.time = Get16(e + 22);
        d.date = Get16(e + 24);
        d.first_cluster = Get16(e + 26);
        d.size = Get32(e + 28);
        out.push_back(d);
    }
    return out;
}

uint16_t Fat12Entry(const uint8_t* fat, size_t fat_size, uint16_t cluster) {
    const size_t off = size_t(cluster) + cluster / 2;
    if (off + 1 >= fat_size) return 0xFFF;
    const uint16_t pair = Get16(fat + off);
    return (cluster & 1) ? uint16_t(pair >> 4) : uint16_t(pair & 0xFFF);
}

std::vector<uint16_t> ClusterChain(const uint8_t* fat, size_t fat_size, uint16_t first,
                                   uint32_t cluster_count, size_t max_clusters) {
    std::vector<uint16_t> chain;
    std::unordered_set<uint16_t> seen;
    uint16_t c = first;
    while (c >= 2 && c < cluster_count + 2 && chain.size() < max_clusters) {
        if (!seen.insert(c).second) break; // a loop
        chain.push_back(c);
        c = Fat12Entry(fat, fat_size, c);
    }
    return chain;
}

std::string FormatDirLine(const TDirEntry& e) {
    char line[96];
    const std::string base = e.name.substr(0, e.name.find('.'));
    const std::string ext =
        e.name.find('.') == std::string::npos ? "" : e.name.substr(e.name.find('.') + 1);
    const int year = 1980 + (e.date >> 9), month = (e.date >> 5) & 15, day = e.date & 31;
    const int hour = e.time >> 11, minute = (e.time >> 5) & 63;
    if (e.IsDirectory()) {
        std::snprintf(line, sizeof line, "%-8.8s %-3.3s    <DIR>  %04d-%02d-%02d %02d:%02d",
                      base.c_str(), ext.c_str(), year, month, day, hour, minute);
    } else {
        std::snprintf(line, sizeof line, "%-8.8s %-3.3s %9lu  %04d-%02d-%02d %02d:%02d",
                      base.c_str(), ext.c_str(), static_cast<unsigned long>(e.size), year, month,
                      day, hour, minute);
    }
    return line;
}
