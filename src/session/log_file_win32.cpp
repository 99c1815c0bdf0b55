// The log file on Windows: a wide path, CreateFileW and WriteFile.
#include "log_file.h"
#include "wide_path_win32.h"

#include <windows.h>

bool TLogFile::Create(const std::string& path) {
    Close();
    error_.clear();
    std::wstring wide;
    if (!WidePath(path.c_str(), &wide)) {
        error_ = SystemMessageUtf8(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    // Others may read the log while it grows; nobody may delete it meanwhile.
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = SystemMessageUtf8(::GetLastError());
        return false;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        error_ = "not a file";
        return false;
    }
    handle_ = h;
    path_ = path;
    return true;
}

bool TLogFile::IsOpen() const { return handle_ != nullptr; }

bool TLogFile::Write(const char* bytes, size_t count) {
    if (!handle_) return false;
    while (count > 0) {
        const DWORD chunk = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        DWORD written = 0;
        if (!::WriteFile(static_cast<HANDLE>(handle_), bytes, chunk, &written, nullptr) ||
            written == 0) {
            error_ = SystemMessageUtf8(::GetLastError());
            return false;
        }
        bytes += written;
        count -= written;
    }
    return true;
}

bool TLogFile::StillNamed() { return handle_ != nullptr; }

bool TLogFile::Close() {
    if (!handle_) return true;
    HANDLE handle = static_cast<HANDLE>(handle_);
    handle_ = nullptr;
    if (!::CloseHandle(handle)) {
        error_ = SystemMessageUtf8(::GetLastError());
        return false;
    }
    return true;
}
