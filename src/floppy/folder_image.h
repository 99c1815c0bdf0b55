// A folder on the PC as a floppy: its files and subfolders built into a FAT12 image in memory,
// with 8.3 short names and long names (fat_names.h), the files' modification dates and times,
// and a volume label from the folder's name, in the smallest format that holds it (1.44 MB,
// else 2.88 MB).
//
// All or nothing: when anything in the folder cannot be stored, nothing is built and every
// such thing is named, one line each, for one message to the user:
//   - names FAT cannot hold (LongNameProblem), and two names that differ only in letter case;
//   - folders nested deeper than DOS reaches (a path of more than 63 characters from the root
//     in short names, "\DOCS\LETTERS\2026") and paths longer than 255 characters;
//   - symbolic links (FAT has none: the link is not followed), devices, pipes and sockets;
//   - files and folders that cannot be read;
//   - what does not fit on a 2.88 MB floppy: the clusters and the top folder's entries needed
//     against those the format has, and the files that would not fit, taken in folder order.
//
// Window thread (it reads the folder, never writes it); nothing throws.
#pragma once

#include "fat_format.h"

#include <cstdint>
#include <string>
#include <vector>

struct TFolderImage {
    std::vector<uint8_t> bytes;         // the image; empty when anything was left out
    const TFatFormat* format = nullptr; // its format, when built
    std::vector<std::string> left_out;  // "docs/a:b.txt: its name holds ':', ..." (paths with '/')
    uint32_t files = 0, folders = 0;    // what the image holds
    uint64_t file_bytes = 0;
    bool Built() const { return !bytes.empty(); }
};

// Builds the image of the folder at `folder` (UTF-8), with `serial` as its volume serial number.
TFolderImage BuildFolderImage(const std::string& folder, uint32_t serial);
