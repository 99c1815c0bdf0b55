// What the target reads from a FAT floppy: the boot sector's parameter block (geometry and
// layout), the root directory, and FAT12 cluster chains. Pure functions on byte buffers; every
// walk is bounded, so a damaged image cannot loop or run past a buffer.
#pragma once

#include "disk_frames.h"

#include <cstdint>
#include <string>
#include <vector>

struct TBootInfo {
    std::string oem;                 // offset 3, 8 characters
    uint16_t bytes_per_sector = 0;   // 11
    uint8_t sectors_per_cluster = 0; // 13
    uint16_t reserved_sectors = 0;   // 14
    uint8_t fats = 0;                // 16
    uint16_t root_entries = 0;       // 17
    uint32_t total_sectors = 0;      // 19, or the 32-bit count at 32 when that one is 0
    uint8_t media = 0;               // 21
    uint16_t sectors_per_fat = 0;    // 22
    uint16_t sectors_per_track = 0;  // 24
    uint16_t heads = 0;              // 26
    std::string label;               // 43, 11 characters
    std::string fs_type;             // 54, 8 characters

    uint32_t RootDirLba() const { return reserved_sectors + uint32_t(fats) * sectors_per_fat; }
    uint32_t RootDirSectors() const { return (uint32_t(root_entries) * 32 + 511) / 512; }
    uint32_t DataLba() const { return RootDirLba() + RootDirSectors(); }
    uint32_t Clusters() const;
    bool IsFat12() const { return Clusters() < 4085; }
    // Whole or partial cylinders that hold total_sectors.
    uint32_t Cylinders() const;
};

// False, with the reason in `why`, when the sector gives no geometry the disk requests can
// address (sector size other than 512, no sectors per track or heads, more than 256 cylinders)
// or a layout that makes no sense.
bool ParseBootSector(const uint8_t* sector, TBootInfo& out, std::string* why);

// Cylinder, head and sector (from 1) of a logical sector number.
TChs ChsOfLba(uint32_t lba, uint16_t sectors_per_track, uint16_t heads);

struct TDirEntry {
    std::string name; // "README.TXT", "DOCS" (8.3, trailing blanks removed)
    uint8_t attr = 0;
    uint32_t size = 0;
    uint16_t first_cluster = 0;
    uint16_t date = 0, time = 0; // FAT packed date and time
    bool IsDirectory() const { return attr & 0x10; }
    bool IsLabel() const { return (attr & 0x08) && !(attr & 0x10); }
};

// Entries of a directory region up to the first never-used entry; deleted entries and long-name
// pieces are skipped.
std::vector<TDirEntry> ParseDirectory(const uint8_t* bytes, size_t size);

// The FAT12 entry of `cluster`; FFF for a cluster outside the table.
uint16_t Fat12Entry(const uint8_t* fat, size_t fat_size, uint16_t cluster);

// The chain that starts at `first`, ending at an end mark, a free or reserved link, a cluster
// beyond `cluster_count`, a loop, or after `max_clusters` clusters.
std::vector<uint16_t> ClusterChain(const uint8_t* fat, size_t fat_size, uint16_t first,
                                   uint32_t cluster_count, size_t max_clusters);

// "README   TXT      1234  2026-12-08 20:46" style line of a listing.
std::string FormatDirLine(const TDirEntry& e);
