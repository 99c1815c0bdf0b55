#include "floppy_image.h"

#include "frame.h"
#include "screen.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr size_t kItemBytes = 512; // transfers always move 512-byte items

} // namespace

void TFloppyImage::OpenImage(const std::string& path) {
    ++generation_;
    memory_.reset();
    const TOpenMode mode = file_.Open(path);
    Identify(mode, path);
}

void TFloppyImage::OpenMemoryImage(std::shared_ptr<TMemoryImage> image, const std::string& name) {
    ++generation_;
    file_.Close();
    memory_ = std::move(image);
    if (memory_) memory_->Open();
    Identify(memory_ ? memory_->Mode() : omClosed, name);
}

void TFloppyImage::Identify(TOpenMode mode, const std::string& name) {
    gone_reported_ = false;
    write_offset_ = -1;
    TImageStore& store = Store();
    // Anything smaller than one sector cannot hold a disk, and could answer no transfer.
    if (mode != omClosed && store.Size() < static_cast<int64_t>(kItemBytes)) store.Close();
    if (!store.IsOpen()) {
        memory_.reset();
        screen_.MsgOut("Can not open image file %s", name.c_str());
        return;
    }
    path_ = name;
    if (mode == omReadOnly)
        screen_.MsgOut("Image file is write-protected, attached read-only: %s", name.c_str());
    if (!IdentifyImage()) {
        screen_.MsgOut("Can't Identify image");
        return;
    }
    if (geometry_.bytes_per_sector != 512)
        screen_.MsgOut("Can't support sector size not equal 512");
}

bool TFloppyImage::IdentifyImage() {
    TImageStore& store = Store();
    if (!store.IsOpen()) return false;
    // A short file leaves zeros, never the boot sector of an image attached before.
    boot_sector_.fill(0);
    if (store.Seek(0)) store.Read(boot_sector_.data(), boot_sector_.size());

    const uint8_t* b = boot_sector_.data();
    int type = 0;
    if (std::memcmp(b + 54, "FAT1", 4) == 0) {
        if (b[58] == '2')
            type = 12;
        else if (b[58] == '6')
            type = 16;
    } else if (std::memcmp(b + 82, "FAT32", 5) == 0) {
        type = 32;
    }
    if (type == 0) return false;

    screen_.MsgOut("Bytes Per Sector:    %lu", static_cast<unsigned long>(Get16(b + 11)));
    screen_.MsgOut("Total Sectors:       %lu", static_cast<unsigned long>(Get16(b + 19)));
    screen_.MsgOut("Sectors Per Track:   %lu", static_cast<unsigned long>(Get16(b + 24)));
    screen_.MsgOut("Number of Heads:     %lu", static_cast<unsigned long>(Get16(b + 26)));
    geometry_.bytes_per_sector = Get16(b + 11);
    geometry_.heads = Get16(b + 26);
    geometry_.sectors_per_track = Get16(b + 24);
    geometry_.total_sectors = Get16(b + 19) != 0 ? Get16(b + 19) : Get32(b + 32);
    return true;
}

void TFloppyImage::AllocTrackBuffer() {
    ++generation_;
    buffer_ready_ = false;
    // Items are 512 bytes whatever the image's own sector size, so a track of items must fit.
    const uint64_t bytes = static_cast<uint64_t>(geometry_.sectors_per_track) *
                           std::max<uint64_t>(geometry_.bytes_per_sector, kItemBytes);
    try {
        if (bytes > kTrackBufferLimit) throw std::bad_alloc();
        buffer_.assign(bytes, 0);
        buffer_ready_ = true;
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(buffer_);
        screen_.MsgOut("internal error: not enough memory!");
    }
}

void TFloppyImage::CloseImage() {
    ++generation_;
    file_.Close();
    if (memory_) memory_->Close();
    memory_.reset();
    write_offset_ = -1;
}

void TFloppyImage::FreeTrackBuffer() {
    ++generation_;
    std::vector<uint8_t>().swap(buffer_);
    buffer_ready_ = false;
}

int64_t TFloppyImage::ImageOffset(uint8_t cylinder, uint8_t head, uint8_t sector) const {
    // Every factor is below 2^16, so the product stays far inside 64 bits.
    const int64_t track = int64_t{cylinder} * geometry_.heads + head;
    return (track * geometry_.sectors_per_track + sector - 1) * geometry_.bytes_per_sector;
}

namespace {

// The sector's number counted from 0 along the disk, cylinder by cylinder, head by head.
int64_t LinearSector(const TGeometry& g, uint8_t cylinder, uint8_t head, uint8_t sector) {
    return (int64_t{cylinder} * g.heads + head) * g.sectors_per_track + sector - 1;
}

bool StartOnDisk(const TGeometry& g, uint8_t head, uint8_t sector) {
    return sector >= 1 && sector <= g.sectors_per_track && head < g.heads;
}

bool EndOnDisk(const TGeometry& g, int64_t first, uint32_t count) {
    // Without a total, the addresses a request can carry (256 cylinders) bound the disk.
    const int64_t total = g.total_sectors != 0
                              ? int64_t{g.total_sectors}
                              : int64_t{256} * g.heads * g.sectors_per_track;
    // Items are 512 bytes whatever the image's own sector size: compare in bytes.
    return first * g.bytes_per_sector + int64_t{count} * static_cast<int64_t>(kItemBytes) <=
           total * g.bytes_per_sector;
}

} // namespace

uint8_t TFloppyImage::CheckRange(uint8_t cylinder, uint8_t head, uint8_t sector,
                                 uint32_t count) const {
    if (count == 0) return kDiskOk;
    if (!StartOnDisk(geometry_, head, sector)) return kDiskSectorNotFound;
    if (!EndOnDisk(geometry_, LinearSector(geometry_, cylinder, head, sector), count))
        return kDiskSectorNotFound;
    return kDiskOk;
}

uint8_t TFloppyImage::SeekImage(uint8_t cylinder, uint8_t head, uint8_t sector) {
    write_offset_ = -1;
    if (!StartOnDisk(geometry_, head, sector)) return kDiskSectorNotFound;
    const int64_t offset = ImageOffset(cylinder, head, sector);
    if (offset < 0 || !Store().Seek(offset)) return kDiskSectorNotFound;
    write_offset_ = offset;
    write_first_sector_ = LinearSector(geometry_, cylinder, head, sector);
    return kDiskOk;
}

uint8_t TFloppyImage::ReadSectors(uint8_t cylinder, uint8_t head, uint8_t sector, uint32_t count) {
    if (!TransferFits(count)) return kDiskSectorNotFound;
    if (count == 0) return kDiskOk; // nothing to move, wherever it points
    if (CheckRange(cylinder, head, sector, count) != kDiskOk) return kDiskSectorNotFound;
    const uint8_t status = SeekImage(cylinder, head, sector);
    if (status != kDiskOk) return status;
    const size_t want = static_cast<size_t>(count) * kItemBytes;
    const long got = Store().Read(buffer_.data(), want);
    if (got < 0) return kDiskSectorNotFound;
    // Past the end of the file the image reads as if padded with zeros.
    std::memset(buffer_.data() + got, 0, want - static_cast<size_t>(got));
    return kDiskOk;
}

uint8_t TFloppyImage::WriteSectors(uint32_t count) {
    if (ReadOnly()) return kDiskWriteProtected;
    if (!TransferFits(count)) return kDiskControllerFailure;
    if (count == 0) return kDiskOk;
    if (write_offset_ < 0 || !EndOnDisk(geometry_, write_first_sector_, count))
        return kDiskSectorNotFound;
    TImageStore& store = Store();
    if (!store.StillNamed()) {
        // The user deleted or replaced the file: what went into it now would be lost.
        if (!gone_reported_)
            screen_.MsgOut("Image file was deleted or replaced, writes are refused: %s",
                           path_.c_str());
        gone_reported_ = true;
        return kDiskControllerFailure;
    }
    const size_t bytes = static_cast<size_t>(count) * kItemBytes;
    if (!store.Reserve(write_offset_, static_cast<int64_t>(bytes)) || !store.Seek(write_offset_) ||
        !store.Write(buffer_.data(), bytes) || !store.Sync())
        return kDiskControllerFailure;
    return kDiskOk;
}
