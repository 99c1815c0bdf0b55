#include "fat_reader.h"

#include "fat_format.h"
#include "fat_names.h"
#include "frame.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

constexpr int kMaxDepth = 32;

struct TLayout {
    uint32_t sectors_per_cluster = 0;
    uint32_t fat_offset = 0, fat_bytes = 0;
    uint32_t root_offset = 0, root_bytes = 0;
    uint32_t data_offset = 0;
    uint32_t clusters = 0;

    uint32_t ClusterBytes() const { return sectors_per_cluster * kFatSectorBytes; }
    uint32_t ClusterOffset(uint32_t c) const { return data_offset + (c - 2) * ClusterBytes(); }
};

bool Layout(const uint8_t* b, size_t size, TLayout* l, std::string* why) {
    auto fail = [why](const char* reason) {
        if (why) *why = reason;
        return false;
    };
    if (size < kFatSectorBytes) return fail("the image is smaller than one sector");
    if (Get16(b + 11) != kFatSectorBytes) return fail("its sectors are not 512 bytes");
    const uint32_t spc = b[13];
    if (spc == 0 || (spc & (spc - 1))) return fail("its sectors per cluster are no power of two");
    const uint32_t reserved = Get16(b + 14), fats = b[16], root_entries = Get16(b + 17);
    const uint32_t per_fat = Get16(b + 22);
    const uint32_t total = Get16(b + 19) ? Get16(b + 19) : Get32(b + 32);
    if (reserved == 0 || fats == 0 || per_fat == 0 || root_entries == 0)
        return fail("its boot sector describes no FAT layout");
    l->sectors_per_cluster = spc;
    l->fat_offset = reserved * kFatSectorBytes;
    l->fat_bytes = per_fat * kFatSectorBytes;
    l->root_offset = (reserved + fats * per_fat) * kFatSectorBytes;
    l->root_bytes =
        (root_entries * kFatEntryBytes + kFatSectorBytes - 1) / kFatSectorBytes * kFatSectorBytes;
    l->data_offset = l->root_offset + l->root_bytes;
    const uint64_t disk = uint64_t(total) * kFatSectorBytes;
    if (disk > size || l->data_offset >= disk) return fail("its layout is larger than the image");
    l->clusters = uint32_t((disk - l->data_offset) / l->ClusterBytes());
    if (l->clusters >= 4085) return fail("it is no FAT12 volume (too many clusters)");
    // Every cluster needs its 12 bits in the table.
    if (uint64_t(l->clusters + 2) * 3 / 2 + 1 > l->fat_bytes) return fail("its FAT is too small");
    return true;
}

class TReader {
  public:
    TReader(const uint8_t* image, const TLayout& l, TFatTree& tree)
        : image_(image), l_(l), tree_(tree), budget_(2 * uint64_t(l.clusters) * l.ClusterBytes()) {}

    // The chain from `first`, ending at an end mark, a free or reserved link, a cluster off
    // the disk, or one already in it.
    std::vector<uint32_t> Chain(uint32_t first) const {
        std::vector<uint32_t> chain;
        std::set<uint32_t> seen;
        for (uint32_t c = first; c >= 2 && c < l_.clusters + 2 && seen.insert(c).second;
             c = GetFat12(image_ + l_.fat_offset, c))
            chain.push_back(c);
        return chain;
    }

    // The bytes of the chain from `first`, at most `limit` of them. Entries may share
    // clusters (a damaged FAT, or a target that wrote nonsense), so all the chains read
    // together are held to twice the disk's clusters: enough for any floppy that makes sense,
    // and no damage can make the reading take more.
    std::vector<uint8_t> ChainBytes(uint32_t first, uint64_t limit) {
        std::vector<uint8_t> bytes;
        for (const uint32_t c : Chain(first)) {
            if (bytes.size() >= limit) break;
            if (budget_ < l_.ClusterBytes()) {
                if (!over_budget_)
                    tree_.damage.push_back("the floppy's entries claim more "
                                           "clusters than it has: not all were read");
                over_budget_ = true;
                break;
            }
            budget_ -= l_.ClusterBytes();
            const uint8_t* p = image_ + l_.ClusterOffset(c);
            bytes.insert(bytes.end(), p, p + l_.ClusterBytes());
        }
        return bytes;
    }

    void Directory(const uint8_t* bytes, size_t size, const std::string& where, int depth,
                   std::vector<TFatNode>* out, bool root) {
        std::u16string long_name;
        int expect = 0; // the long-name piece the next entry must be, 0: none under way
        uint8_t checksum = 0;
        for (size_t off = 0; off + kFatEntryBytes <= size; off += kFatEntryBytes) {
            const uint8_t* e = bytes + off;
            if (e[0] == 0x00) break; // never used: the end of the directory
            if (e[0] == 0xE5) {
                expect = 0;
                continue;
            }
            if ((e[11] & 0x3F) == 0x0F) {
                LongPiece(e, &long_name, &expect, &checksum);
                continue;
            }
            const bool whole = expect == 1 && checksum == ShortNameChecksum(e);
            expect = 0;
            if (e[11] & 0x08 && !(e[11] & 0x10)) {
                if (root && tree_.label.empty()) tree_.label = LabelText(e);
                continue;
            }
            if (e[0] == '.') continue; // "." and ".."
            if (e[0] == ' ') {
                // No DOS program can name it: told, not taken for a file.
                tree_.damage.push_back((where.empty() ? std::string("the top folder") : where) +
                                       ": an entry without a name (cluster " +
                                       std::to_string(Get16(e + 26)) + ") was not read");
                continue;
            }
            TFatNode n;
            std::memcpy(n.short_bytes.data(), e, 11);
            n.short_name = ShortNameText(e, e[12]);
            n.name = n.short_name;
            if (whole) {
                const std::string name = Utf16ToUtf8(long_name);
                if (LongNameProblem(name).empty()) n.name = name;
            }
            n.attr = e[11];
            n.time = Get16(e + 22);
            n.date = Get16(e + 24);
            n.first_cluster = Get16(e + 26);
            n.size = Get32(e + 28);
            const std::string path = where.empty() ? n.name : where + "/" + n.name;
            if (n.IsDirectory()) {
                if (depth >= kMaxDepth) {
                    tree_.damage.push_back(path + ": folders nested too deep, not read");
                } else if (!dirs_seen_.insert(n.first_cluster).second || n.first_cluster < 2) {
                    tree_.damage.push_back(path + ": a folder that loops or has no clusters");
                } else {
                    const std::vector<uint8_t> sub = ChainBytes(n.first_cluster, UINT64_MAX);
                    Directory(sub.data(), sub.size(), path, depth + 1, &n.children, false);
                }
            } else {
                n.data = ChainBytes(n.first_cluster, n.size);
                if (n.data.size() < n.size)
                    tree_.damage.push_back(path + ": its clusters hold " +
                                           std::to_string(n.data.size()) + " of its " +
                                           std::to_string(n.size) + " bytes");
                n.data.resize(std::min<size_t>(n.data.size(), n.size));
            }
            out->push_back(std::move(n));
        }
    }

    const uint8_t* Root() const { return image_ + l_.root_offset; }

  private:
    // One long-name entry: the pieces come last first, each numbered one less than the one
    // before, all with the same checksum.
    static void LongPiece(const uint8_t* e, std::u16string* name, int* expect, uint8_t* checksum) {
        static constexpr int kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        const int ord = e[0] & 0x1F;
        if (e[0] & 0x40) {
            name->assign(size_t(ord) * 13, u'\0');
            *checksum = e[13];
        } else if (ord != *expect - 1 || e[13] != *checksum) {
            *expect = 0;
            return;
        }
        if (ord == 0 || name->size() < size_t(ord) * 13) {
            *expect = 0;
            return;
        }
        for (int j = 0; j < 13; ++j)
            (*name)[size_t(ord - 1) * 13 + size_t(j)] = char16_t(Get16(e + kPlaces[j]));
        *expect = ord;
        if (ord == 1) {
            const size_t end = name->find(u'\0');
            if (end != std::u16string::npos) name->resize(end);
        }
    }

    const uint8_t* image_;
    const TLayout& l_;
    TFatTree& tree_;
    std::set<uint32_t> dirs_seen_;
    uint64_t budget_; // bytes of clusters that may still be read
    bool over_budget_ = false;
};

} // namespace

bool ReadFatTree(const uint8_t* image, size_t size, TFatTree* out, std::string* why) {
    TLayout l;
    if (!Layout(image, size, &l, why)) return false;
    TFatTree tree;
    TReader reader(image, l, tree);
    reader.Directory(reader.Root(), l.root_bytes, "", 0, &tree.root, true);
    if (tree.label.empty() && image[38] == 0x29 && std::memcmp(image + 43, "NO NAME    ", 11) != 0)
        tree.label = LabelText(image + 43);
    *out = std::move(tree);
    return true;
}
