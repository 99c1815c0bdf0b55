// The image file as the floppy service uses it: one open file, addressed by byte offset.
//
// Window thread only. Nothing throws: every call reports failure through its result, and
// LastError() keeps the platform's error number of the last failure (errno; GetLastError on
// Windows). On POSIX, system calls interrupted by a signal are retried, and the file is opened
// non-blocking so that an odd pick (a FIFO, a device) can never hang the window thread; Open
// refuses such files anyway. On Windows the path is UTF-8 and is opened as a wide path, so
// that any file name works; reads and writes are positioned (image_file_win32.cpp).
#pragma once

#include "image_store.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TImageFile final : public TImageStore {
  public:
    TImageFile() = default;
    TImageFile(const TImageFile&) = delete;
    TImageFile& operator=(const TImageFile&) = delete;
    ~TImageFile() override { Close(); }

    // Opens for reading and writing; when writing is refused (permissions, an immutable file,
    // a read-only mount) opens for reading only. Closes a file held before. omClosed on failure,
    // also for anything but a regular file or a block device (a FIFO, a terminal, /dev/zero).
    // The path is taken as the file system's own bytes, whatever their encoding. From the first
    // Open on, a write past the process's file size limit fails (EFBIG) instead of raising a
    // signal that would end the program.
    TOpenMode Open(const std::string& path);
    // Creates the file, or empties the one at `path`, for reading and writing (a regular file
    // only: the new image, the image saved by the user). omClosed, with LastError, on failure.
    TOpenMode Create(const std::string& path);
    TOpenMode Mode() const override { return mode_; }
    void Close() override;

    // Sets the position, counted from the start of the file.
    bool Seek(int64_t offset) override;
    // Reads `count` bytes at the position, fewer only at the end of the file. -1 on failure.
    long Read(void* buffer, size_t count) override;
    // Writes all `count` bytes at the position (extending the file past its end), or fails.
    bool Write(const void* buffer, size_t count) override;
    // The size in bytes (a block device's capacity); -1 on failure.
    int64_t Size() override;
    // Makes sure that `count` bytes at `offset` have storage, so that a Write there cannot stop
    // part way for want of space or for the file size limit. A regular file gets the range
    // allocated (growing it if the range ends past its end; the contents stay as they were);
    // a device of fixed size succeeds only for a range inside it. False, with LastError, when
    // the storage cannot be had.
    bool Reserve(int64_t offset, int64_t count) override;
    // Whether the path given to Open still names the open file and the file still has a link:
    // false once it was deleted, renamed away or replaced by another file.
    bool StillNamed() override;
    // Forces what was written to the storage device. Files that cannot be synced (character
    // devices) count as synced once written.
    bool Sync() override;

    int LastError() const { return error_; }
    // LastError as the system words it, for a message.
    std::string ErrorText() const;

  private:
    // Each platform's file uses its own fields only.
    [[maybe_unused]] int fd_ = -1;            // POSIX: the descriptor
    [[maybe_unused]] void* handle_ = nullptr; // Windows: the file's HANDLE
    [[maybe_unused]] int64_t position_ = 0;   // Windows: where the next Read or Write starts
    TOpenMode mode_ = omClosed;
    int error_ = 0;
    std::string path_;
};
