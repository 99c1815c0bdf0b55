// Where the served image's bytes live: a file on disk (TImageFile, image_file.h) or a buffer in
// memory (TMemoryImage, memory_image.h). The floppy service moves sectors through this one
// interface and cannot tell them apart.
//
// Window thread only. Nothing throws: every call reports failure through its result.
#pragma once

#include <cstddef>
#include <cstdint>

enum TOpenMode { omClosed, omReadWrite, omReadOnly };

class TImageStore {
  public:
    virtual ~TImageStore() = default;

    virtual TOpenMode Mode() const = 0;
    bool IsOpen() const { return Mode() != omClosed; }
    virtual void Close() = 0;

    // Sets the position, counted from the start of the image.
    virtual bool Seek(int64_t offset) = 0;
    // Reads `count` bytes at the position, fewer only at the end of the image. -1 on failure.
    virtual long Read(void* buffer, size_t count) = 0;
    // Writes all `count` bytes at the position, or fails.
    virtual bool Write(const void* buffer, size_t count) = 0;
    // The size in bytes; -1 on failure.
    virtual int64_t Size() = 0;
    // Makes sure that a Write of `count` bytes at `offset` cannot stop part way.
    virtual bool Reserve(int64_t offset, int64_t count) = 0;
    // Whether the image is still the one that was attached (a file can be deleted or replaced
    // under the open descriptor).
    virtual bool StillNamed() = 0;
    // Makes what was written durable.
    virtual bool Sync() = 0;
};
