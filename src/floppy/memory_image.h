// An image held in memory (a folder built into a FAT12 image), served like an image file.
//
// Window thread only. Its size is fixed when it is made: a write that would run past the end
// is refused whole (Reserve fails), as a device of fixed size refuses it. The bytes outlive
// every attachment: the service closes the image at Disconnect, and its owner then reads what
// the target made of it (Bytes).
#pragma once

#include "image_store.h"

#include <cstdint>
#include <vector>

class TMemoryImage final : public TImageStore {
  public:
    explicit TMemoryImage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    // Opens for reading and writing from the start; the bytes stay as they are.
    void Open() {
        mode_ = omReadWrite;
        position_ = 0;
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

    TOpenMode Mode() const override { return mode_; }
    void Close() override { mode_ = omClosed; }
    bool Seek(int64_t offset) override;
    long Read(void* buffer, size_t count) override;
    bool Write(const void* buffer, size_t count) override;
    int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
    bool Reserve(int64_t offset, int64_t count) override;
    bool StillNamed() override { return IsOpen(); }
    bool Sync() override { return IsOpen(); }

  private:
    std::vector<uint8_t> bytes_;
    TOpenMode mode_ = omClosed;
    int64_t position_ = 0;
};
