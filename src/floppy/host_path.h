// Paths on the PC as the program keeps them, UTF-8 (the file system's own bytes on POSIX), to
// and from std::filesystem, which takes wide names on Windows.
#pragma once

#include <filesystem>
#include <string>

inline std::filesystem::path HostPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}
