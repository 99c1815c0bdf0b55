#include "file_write.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

std::string WriteFileBytes(const std::string& path, const std::string& bytes) {
    // A path from UTF-8: Windows gets the wide name, POSIX the same bytes.
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    errno = 0;
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    if (!out) return errno ? std::strerror(errno) : "cannot create the file";
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) return errno ? std::strerror(errno) : "cannot write the file";
    out.close();
    if (out.fail()) return errno ? std::strerror(errno) : "cannot close the file";
    return "";
}
