// The parts of the disk rig that differ on Windows: no FAT tools to call, so the FAT images
// are made by hand: a FAT12 boot sector with the floppy's geometry, random bytes where the
// tools would put the file, zeros after it.
#include "disk_target.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>

bool MakeFatImage(const std::string& path, int kib, size_t file_bytes) {
    const auto sectors = static_cast<uint16_t>(kib * 2);
    std::vector<uint8_t> image = BootSectorImage(512, sectors, static_cast<uint16_t>(kib / 80), 2,
                                                 "FAT12   ", "", sectors);
    if (512 + file_bytes < image.size()) std::fill(image.begin() + 512 + file_bytes, image.end(), 0);
    WriteFileBytes(path, image);
    return true;
}
