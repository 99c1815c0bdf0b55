// The image side of the floppy service: the attached image (a file, or an image in memory),
// its geometry taken from the boot sector, the track buffer, and sector transfers between them.
//
// One instance for the whole run (the geometry outlives connections); window thread only. The
// image and the track buffer are acquired at Connect and released at Disconnect. Messages go to
// the console screen. Transfers report a disk status byte for the target (kDisk* below).
#pragma once

#include "image_file.h"
#include "memory_image.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TScreen;

// Status bytes of a disk call, as the target's BIOS knows them.
constexpr uint8_t kDiskOk = 0x00;
constexpr uint8_t kDiskNoImage = 0x01;
constexpr uint8_t kDiskWriteProtected = 0x03;
constexpr uint8_t kDiskSectorNotFound = 0x04;    // also a failed seek or read
constexpr uint8_t kDiskControllerFailure = 0x20; // a failed write or sync

// A geometry needing more than this is refused like memory that cannot be had.
constexpr uint64_t kTrackBufferLimit = 16u << 20;

struct TGeometry {
    uint32_t bytes_per_sector = 0;
    uint32_t heads = 0;
    uint32_t sectors_per_track = 0; // also the most sectors one request may move
    // The disk's size in its own sectors: the boot sector's 16-bit count, else its 32-bit
    // count; 0 when it gives neither, and then only the geometry bounds an address.
    uint32_t total_sectors = 0;
};

class TFloppyImage {
  public:
    explicit TFloppyImage(TScreen& screen) : screen_(screen) {}
    TFloppyImage(const TFloppyImage&) = delete;
    TFloppyImage& operator=(const TFloppyImage&) = delete;

    // Opens and identifies the file. A file that cannot be written is attached read-only with
    // a console line saying so. Only a regular file or a block device of at least one sector
    // is attached. Failures are reported on the console only; a file that opened stays
    // attached even when it cannot be identified.
    void OpenImage(const std::string& path);
    // Attaches an image in memory as OpenImage attaches a file, with the same messages
    // (`name` stands for the path in them). The service holds `image` until CloseImage; what
    // the target writes lands in it, and its owner reads it from there afterwards.
    void OpenMemoryImage(std::shared_ptr<TMemoryImage> image, const std::string& name);
    // Reads the boot sector and, only when it carries a FAT12, FAT16 or FAT32 type text,
    // prints and stores its geometry.
    bool IdentifyImage();
    // Sized from the geometry in force: a track of sectors, each at least 512 bytes so that
    // every allowed transfer fits. A zero geometry gives an allocated buffer of size 0.
    void AllocTrackBuffer();
    void CloseImage();
    void FreeTrackBuffer();

    bool Attached() const { return Store().IsOpen(); }
    // After an OpenImage that attached nothing: the system's error number of the failed open
    // (errno; GetLastError on Windows), 0 when the file opened but is no disk (too small).
    int OpenError() const { return memory_ ? 0 : file_.LastError(); }
    bool ReadOnly() const { return Store().Mode() == omReadOnly; }
    bool TrackBufferReady() const { return buffer_ready_; }
    const TGeometry& Geometry() const { return geometry_; }
    uint32_t NumSector() const { return geometry_.sectors_per_track; }
    // Counts every acquire and release of the file or the buffer, so that an exchange can see
    // that they changed under it while it waited.
    uint32_t Generation() const { return generation_; }

    // Byte offset of a sector (sectors count from 1) with the geometry in force. Negative
    // for sector 0 of the first track.
    int64_t ImageOffset(uint8_t cylinder, uint8_t head, uint8_t sector) const;
    // Whether `count` sectors from this address lie on the disk: the sector counts from 1 up
    // to the sectors per track, the head is below the head count, and the transfer, which may
    // run on to the next head and cylinder, ends within the disk's total sectors. A transfer
    // of 0 sectors is always in range. kDiskOk or kDiskSectorNotFound.
    uint8_t CheckRange(uint8_t cylinder, uint8_t head, uint8_t sector, uint32_t count) const;
    // Reads `count` 512-byte items into the buffer; the part past the end of the file reads
    // as zeros. kDiskSectorNotFound, without touching the file, for a transfer out of range,
    // and for a failed seek or read.
    uint8_t ReadSectors(uint8_t cylinder, uint8_t head, uint8_t sector, uint32_t count);
    // Positions the file for WriteSectors: kDiskSectorNotFound for a start address off the
    // disk or a failed seek.
    uint8_t SeekImage(uint8_t cylinder, uint8_t head, uint8_t sector);
    // Writes `count` 512-byte items from the buffer at the position SeekImage set and syncs
    // them to disk. Either all of them reach the file or the file is left as it was:
    // kDiskWriteProtected for a read-only image; kDiskSectorNotFound for a transfer running
    // off the disk; kDiskControllerFailure when the path no longer names the attached file
    // (with one console line per attach), when the storage cannot be reserved (full file
    // system, file size limit) and when writing or syncing fails.
    uint8_t WriteSectors(uint32_t count);

    // The 512 bytes of item i of a transfer; i < a count that TransferFits.
    uint8_t* Sector(uint32_t i) { return buffer_.data() + static_cast<size_t>(i) * 512; }
    bool TransferFits(uint32_t count) const {
        return buffer_ready_ && static_cast<uint64_t>(count) * 512 <= buffer_.size();
    }

  private:
    // What OpenImage and OpenMemoryImage share once the image is open.
    void Identify(TOpenMode mode, const std::string& name);
    TImageStore& Store() { return memory_ ? static_cast<TImageStore&>(*memory_) : file_; }
    const TImageStore& Store() const {
        return memory_ ? static_cast<const TImageStore&>(*memory_) : file_;
    }

    TScreen& screen_;
    TImageFile file_;
    std::shared_ptr<TMemoryImage> memory_; // attached instead of the file while set
    TGeometry geometry_;
    std::array<uint8_t, 512> boot_sector_{};
    std::vector<uint8_t> buffer_;
    bool buffer_ready_ = false;
    uint32_t generation_ = 0;
    std::string path_;
    bool gone_reported_ = false;
    // Set by SeekImage for WriteSectors; -1 when no position is set.
    int64_t write_offset_ = -1;
    int64_t write_first_sector_ = 0; // counted from 0 along the disk
};
