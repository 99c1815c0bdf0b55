// Reads the files of a FAT12 image: the directory tree with its long (VFAT) names, each file's
// bytes, dates and sizes. It reads what a target may have left behind, however damaged: every
// walk is bounded (cluster chains by the disk's cluster count and by loops, directories by
// depth and by the directories already seen), a long name whose pieces do not match its short
// entry is dropped, and whatever had to be cut is named in `damage`.
//
// Pure functions on byte buffers, any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TFatNode {
    std::string name;       // the long name when a whole one precedes the entry, else short_name
    std::string short_name; // "LONGNA~1.TXT" (UTF-8; the entry's case flags applied)
    std::array<uint8_t, 11> short_bytes{};
    uint8_t attr = 0;
    uint16_t date = 0, time = 0; // modification, FAT's packed local date and time
    uint32_t size = 0;
    uint16_t first_cluster = 0;
    std::vector<uint8_t> data;      // a file's bytes, as far as its cluster chain holds them
    std::vector<TFatNode> children; // a directory's entries, without "." and ".."
    bool IsDirectory() const { return (attr & 0x10) != 0; }
};

struct TFatTree {
    std::string label; // the root's label entry, else the boot sector's; blanks trimmed
    std::vector<TFatNode> root;
    std::vector<std::string> damage; // one line for each thing that could not be read whole
};

// False, with the reason in `why`, when the boot sector describes no FAT12 volume of 512-byte
// sectors that lies inside the image.
bool ReadFatTree(const uint8_t* image, size_t size, TFatTree* out, std::string* why);
