// The image file on Windows: a wide path, positioned reads and writes (each ReadFile and
// WriteFile carries its file offset), FlushFileBuffers for Sync.
#include "image_file.h"
#include "wide_path_win32.h"

#include <windows.h>

#include <string>

namespace {

// Writing is refused, but reading may still be allowed.
bool WriteRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
           error == ERROR_SHARING_VIOLATION;
}

HANDLE OpenWide(const std::wstring& path, DWORD access) {
    // Others may read and write it too, as on POSIX.
    return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

OVERLAPPED At(int64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return o;
}

constexpr DWORD kChunk = 1u << 30; // one call moves at most this much

} // namespace

TOpenMode TImageFile::Open(const std::string& path) {
    Close();
    std::wstring wide;
    if (!WidePath(path.c_str(), &wide)) {
        error_ = ERROR_NO_UNICODE_TRANSLATION;
        return omClosed;
    }
    TOpenMode mode = omReadWrite;
    HANDLE h = OpenWide(wide, GENERIC_READ | GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE && WriteRefused(::GetLastError())) {
        mode = omReadOnly;
        h = OpenWide(wide, GENERIC_READ);
    }
    if (h == INVALID_HANDLE_VALUE) {
        error_ = static_cast<int>(::GetLastError());
        return omClosed;
    }
    // Only a file on a disk: not a pipe, a console or a serial port.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error_ = ERROR_INVALID_FUNCTION;
        return omClosed;
    }
    handle_ = h;
    position_ = 0;
    mode_ = mode;
    path_ = path;
    return mode_;
}

TOpenMode TImageFile::Create(const std::string& path) {
    Close();
    std::wstring wide;
    if (!WidePath(path.c_str(), &wide)) {
        error_ = ERROR_NO_UNICODE_TRANSLATION;
        return omClosed;
    }
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = static_cast<int>(::GetLastError());
        return omClosed;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error_ = ERROR_INVALID_FUNCTION;
        return omClosed;
    }
    handle_ = h;
    position_ = 0;
    mode_ = omReadWrite;
    path_ = path;
    return mode_;
}

int64_t TImageFile::Size() {
    LARGE_INTEGER size{};
    if (!handle_ || !::GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) {
        error_ = static_cast<int>(handle_ ? ::GetLastError() : ERROR_INVALID_HANDLE);
        return -1;
    }
    return size.QuadPart;
}

bool TImageFile::Reserve(int64_t offset, int64_t count) {
    const int64_t size = Size();
    if (size < 0) return false;
    const int64_t end = offset + count;
    if (offset < 0 || count < 0 || end <= size) return offset >= 0 && count >= 0;
    // Growing the file allocates its storage now, so that the write cannot stop part way.
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = end;
    if (!::SetFileInformationByHandle(static_cast<HANDLE>(handle_), FileEndOfFileInfo, &eof,
                                      sizeof eof)) {
        error_ = static_cast<int>(::GetLastError());
        return false;
    }
    return true;
}

bool TImageFile::StillNamed() {
    if (!handle_) return false;
    BY_HANDLE_FILE_INFORMATION held{};
    if (!::GetFileInformationByHandle(static_cast<HANDLE>(handle_), &held) ||
        held.nNumberOfLinks == 0)
        return false;
    std::wstring wide;
    if (!WidePath(path_.c_str(), &wide)) return false;
    HANDLE named = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION now{};
    const bool ok = ::GetFileInformationByHandle(named, &now) != 0;
    ::CloseHandle(named);
    return ok && now.dwVolumeSerialNumber == held.dwVolumeSerialNumber &&
           now.nFileIndexHigh == held.nFileIndexHigh && now.nFileIndexLow == held.nFileIndexLow;
}

void TImageFile::Close() {
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    position_ = 0;
    mode_ = omClosed;
}

bool TImageFile::Seek(int64_t offset) {
    if (!handle_) {
        error_ = ERROR_INVALID_HANDLE;
        return false;
    }
    if (offset < 0) {
        error_ = ERROR_NEGATIVE_SEEK;
        return false;
    }
    position_ = offset;
    return true;
}

long TImageFile::Read(void* buffer, size_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = 0;
    while (got < count) {
        const DWORD ask = static_cast<DWORD>(count - got < kChunk ? count - got : kChunk);
        OVERLAPPED at = At(position_);
        DWORD n = 0;
        if (!::ReadFile(static_cast<HANDLE>(handle_), out + got, ask, &n, &at)) {
            const DWORD e = ::GetLastError();
            if (e == ERROR_HANDLE_EOF) break;
            error_ = static_cast<int>(e);
            return -1;
        }
        if (n == 0) break; // end of the file
        got += n;
        position_ += n;
    }
    return static_cast<long>(got);
}

bool TImageFile::Write(const void* buffer, size_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const DWORD give = static_cast<DWORD>(count - done < kChunk ? count - done : kChunk);
        OVERLAPPED at = At(position_);
        DWORD n = 0;
        if (!::WriteFile(static_cast<HANDLE>(handle_), in + done, give, &n, &at)) {
            error_ = static_cast<int>(::GetLastError());
            return false;
        }
        if (n == 0) { // no progress and no error: treat as a full device
            error_ = ERROR_DISK_FULL;
            return false;
        }
        done += n;
        position_ += n;
    }
    return true;
}

bool TImageFile::Sync() {
    if (mode_ == omReadOnly) return true; // nothing can have been written
    if (::FlushFileBuffers(static_cast<HANDLE>(handle_))) return true;
    const DWORD e = ::GetLastError();
    if (e == ERROR_INVALID_FUNCTION) return true; // this kind of file has nothing to flush
    error_ = static_cast<int>(e);
    return false;
}

std::string TImageFile::ErrorText() const {
    return SystemMessageUtf8(static_cast<DWORD>(error_));
}
