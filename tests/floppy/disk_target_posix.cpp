// The parts of the disk rig that use POSIX and the host's FAT tools.
#include "disk_target.h"

#include <cstdlib>
#include <filesystem>
#include <string>

bool MakeFatImage(const std::string& path, int kib, size_t file_bytes) {
    const std::string data = path + ".bin";
    WriteFileBytes(data, RandomBytes(file_bytes, static_cast<uint32_t>(kib)));
    const std::string mkfs =
        "mkfs.fat -C -f 2 -F 12 -n TEST '" + path + "' " + std::to_string(kib) + " >/dev/null 2>&1";
    const std::string copy =
        "MTOOLS_SKIP_CHECK=1 mcopy -i '" + path + "' '" + data + "' ::DATA.BIN >/dev/null 2>&1";
    return std::system(mkfs.c_str()) == 0 && std::system(copy.c_str()) == 0;
}
