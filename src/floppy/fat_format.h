// The standard FAT12 floppy formats, and new blank images in them: a boot sector whose code
// prints "Not a system disk." and restarts the PC (INT 19h) after a key, both FATs, and an
// empty root directory holding the volume label.
//
// Pure functions on byte buffers, any thread; WriteBlankImage alone touches the disk (window
// thread, through TImageFile).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t kFatSectorBytes = 512;
constexpr uint32_t kFatEntryBytes = 32;

struct TFatFormat {
    const char* name;    // as a command line names it: "1.44M"
    const char* caption; // for people: "1.44 MB (3.5-inch high density)"
    uint16_t total_sectors;
    uint8_t sectors_per_cluster;
    uint16_t root_entries;
    uint8_t media;
    uint16_t sectors_per_fat;
    uint16_t sectors_per_track;
    uint16_t heads;

    // One reserved sector (the boot sector), then two FATs, the root directory, the clusters.
    uint32_t FatSector(int copy) const { return 1 + uint32_t(copy) * sectors_per_fat; }
    uint32_t RootSector() const { return FatSector(2); }
    uint32_t RootSectors() const { return root_entries * kFatEntryBytes / kFatSectorBytes; }
    uint32_t DataSector() const { return RootSector() + RootSectors(); }
    uint32_t ClusterBytes() const { return sectors_per_cluster * kFatSectorBytes; }
    uint32_t Clusters() const { return (total_sectors - DataSector()) / sectors_per_cluster; }
    uint32_t ImageBytes() const { return total_sectors * kFatSectorBytes; }
    // Byte offset of a cluster (from 2) in the image.
    uint32_t ClusterOffset(uint32_t cluster) const {
        return (DataSector() + (cluster - 2) * sectors_per_cluster) * kFatSectorBytes;
    }
};

// 360K 720K 1.2M 1.44M 2.88M, smallest first.
std::span<const TFatFormat> FatFormats();
// The format of that name (case does not matter), or nullptr.
const TFatFormat* FindFatFormat(std::string_view name);
// "360K 720K 1.2M 1.44M 2.88M", for a usage line.
std::string FatFormatNames();

// A formatted, empty image: the boot sector (label and serial number in its parameter block),
// both FATs with their media entries, and a root directory holding only the label's entry
// (none for "NO NAME"), dated `fat_date`/`fat_time` (FAT's packed local date and time).
std::vector<uint8_t> BlankFatImage(const TFatFormat& format, const std::string& label11,
                                   uint32_t serial, uint16_t fat_date, uint16_t fat_time);

// Writes a blank image of `format` labelled from `label` (VolumeLabel, fat_names.h) to a new file
// at `path` (replacing one there: the caller has asked the user), dated now. "" on success, else
// the system's reason.
std::string WriteBlankImage(const std::string& path, const TFatFormat& format,
                            const std::string& label);

// Writes `bytes` to a new file at `path` (replacing one there), synced. "" on success, else the
// system's reason; a failed file may be left partly written.
std::string WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes);

// FAT12 table entries (12 bits, two to three bytes).
uint16_t GetFat12(const uint8_t* fat, uint32_t cluster);
void SetFat12(uint8_t* fat, uint32_t cluster, uint16_t value);
