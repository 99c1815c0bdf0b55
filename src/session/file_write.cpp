#include "file_write.h"

#include "log_file.h"

std::string WriteFileBytes(const std::string& path, const std::string& bytes) {
    TLogFile file;
    if (!file.Create(path)) return file.Error();
    if (!bytes.empty() && !file.Write(bytes.data(), bytes.size())) return file.Error();
    if (!file.Close()) return file.Error();
    return "";
}
