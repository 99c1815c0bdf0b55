// UTF-8 file names and error texts towards the Win32 API (Windows builds only): the program
// keeps names in UTF-8 and opens files by their wide (UTF-16) names, so that any name works.
#pragma once

#include <windows.h>

#include <string>

// The UTF-8 path as UTF-16; false for bytes that are not UTF-8.
inline bool WidePath(const char* path, std::wstring* wide) {
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
    if (n <= 0) return false;
    wide->assign(static_cast<size_t>(n), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide->data(), n) != n)
        return false;
    wide->resize(static_cast<size_t>(n - 1)); // without the terminator
    return true;
}

// The system's text for an error number as UTF-8, without its line end and final stop.
inline std::string SystemMessageUtf8(DWORD error) {
    wchar_t text[512] = {};
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, 512, nullptr);
    char utf8[1024] = {};
    const int m = n == 0 ? 0
                         : ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8,
                                                 sizeof utf8, nullptr, nullptr);
    std::string message(utf8, m > 0 ? static_cast<size_t>(m) : 0);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}
