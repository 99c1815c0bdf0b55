// The files the program writes for the user: the platform's file (TLogFile, log_file_posix.cpp
// and log_file_win32.cpp), which the text log and the line trace write through a buffer in
// front of it (TLogWriter) and a saved screen in one go (WriteFileBytes, file_write.h).
//
// Window thread only. Nothing throws; failures are reported through results and Error(), the
// system's own text. A write takes as long as the system's write call and nothing more: no
// sync, no retry but for an interrupted call, no wait for anything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TLogFile {
  public:
    TLogFile() = default;
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;
    ~TLogFile() { Close(); }

    // Creates the file, or empties the one there (the save dialog has asked the user). The path
    // is the file system's own bytes on POSIX, UTF-8 on Windows. POSIX takes regular files and
    // character devices only (a pipe could stall or end the program), opened non-blocking;
    // Windows lets others read the file meanwhile but not delete it.
    bool Create(const std::string& path);
    bool IsOpen() const;
    // Appends all `count` bytes, or fails (a full disk, a device error).
    bool Write(const char* bytes, size_t count);
    // Whether the path still names the open file: false once the file or its folder was removed
    // or the file renamed away (POSIX; on Windows the open file cannot be removed).
    bool StillNamed();
    // Closes the file; false (Error() says why) when the system reports a failure, which may
    // mean that what was written did not all reach the disk. Nothing when closed.
    bool Close();
    const std::string& Error() const { return error_; }

  private:
    [[maybe_unused]] int fd_ = -1;            // POSIX
    [[maybe_unused]] void* handle_ = nullptr; // Windows: the file's HANDLE
    std::string path_;
    std::string error_;
};

// A log file with a buffer: text is appended in memory and written when the buffer passes
// kFlushBytes, and at every Flush (the owner's once-a-second step). The first failure closes
// the file and is kept (Failed, Error); what is appended after it is dropped.
class TLogWriter {
  public:
    static constexpr size_t kFlushBytes = 64 * 1024;

    bool Open(const std::string& path);
    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& Path() const { return path_; }
    void Append(std::string_view text);
    // Writes what is buffered and checks that the file is still there. False on failure.
    bool Flush();
    // Flushes and closes; false if that last flush failed or an earlier one had (Error() keeps
    // the reason). Failed() is false again afterwards.
    bool Close();
    bool Failed() const { return failed_; }
    const std::string& Error() const { return file_.Error(); }
    // Bytes appended since Open, written or still buffered.
    uint64_t Bytes() const { return bytes_; }

  private:
    TLogFile file_;
    std::string path_;
    std::string buffer_;
    uint64_t bytes_ = 0;
    bool failed_ = false;
};
