// Whatever a target may leave in the first sectors of a floppy (boot sector, both FATs, the
// root directory and the first clusters, laid over a blank 1.44 MB image) is read as FAT12 and
// compared with the image as built, as at Disconnect. Every walk must end, every file's bytes
// must stay within its size, and a change must name a path.
#include "fat_format.h"
#include "fat_reader.h"
#include "folder_changes.h"

#include <cstdlib>
#include <cstring>

namespace {

void Check(const std::vector<TFatNode>& nodes, int depth) {
    if (depth > 40) std::abort();
    for (const TFatNode& n : nodes) {
        if (n.data.size() > n.size) std::abort();
        if (!n.IsDirectory() && !n.children.empty()) std::abort();
        Check(n.children, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> blank =
        BlankFatImage(*FindFatFormat("1.44M"), "FUZZ       ", 1, 0, 0);
    static const TFatTree before = [] {
        TFatTree tree;
        if (!ReadFatTree(blank.data(), blank.size(), &tree, nullptr)) std::abort();
        return tree;
    }();
    if (size > 70000) return -1;
    static std::vector<uint8_t> image = blank; // only the first `size` bytes ever change
    std::memcpy(image.data(), data, size);
    TFatTree after;
    const bool read = ReadFatTree(image.data(), image.size(), &after, nullptr);
    std::memcpy(image.data(), blank.data(), size);
    if (!read) return 0;
    Check(after.root, 0);
    for (const TFloppyChange& c : CompareFatTrees(before, after))
        if (c.path.empty()) std::abort();
    return 0;
}
