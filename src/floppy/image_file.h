// The image file as the floppy service uses it: one open file, addressed by byte offset.
//
// Window thread only. Nothing throws: every call reports failure through its result, and
// LastError() keeps the platform's error number of the last failure (errno; GetLastError on
// Windows). On POSIX, system calls interrupted by a signal are retried, and the file is opened
// non-blocking so that an odd pick (a FIFO, a device) can never hang the window thread; such
// files fail their reads instead. On Windows the path is UTF-8 and is opened as a wide path,
// so that any file name works; reads and writes are positioned (image_file_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

enum TOpenMode { omClosed, omReadWrite, omReadOnly };

class TImageFile {
  public:
    TImageFile() = default;
    TImageFile(const TImageFile&) = delete;
    TImageFile& operator=(const TImageFile&) = delete;
    ~TImageFile() { Close(); }

    // Opens for reading and writing; when writing is refused (permissions, an immutable file,
    // a read-only mount) opens for reading only. Closes a file held before. omClosed on failure.
    TOpenMode Open(const char* path);
    TOpenMode Mode() const { return mode_; }
    bool IsOpen() const { return mode_ != omClosed; }
    void Close();

    // Sets the position, counted from the start of the file.
    bool Seek(int64_t offset);
    // Reads `count` bytes at the position, fewer only at the end of the file. -1 on failure.
    long Read(void* buffer, size_t count);
    // Writes all `count` bytes at the position (extending the file past its end), or fails.
    bool Write(const void* buffer, size_t count);
    // Forces what was written to the storage device. Files that cannot be synced (character
    // devices) count as synced once written.
    bool Sync();

    int LastError() const { return error_; }

  private:
    int fd_ = -1;              // POSIX: the descriptor
    void* handle_ = nullptr;   // Windows: the file's HANDLE
    int64_t position_ = 0;     // Windows: where the next Read or Write starts
    TOpenMode mode_ = omClosed;
    int error_ = 0;
};
