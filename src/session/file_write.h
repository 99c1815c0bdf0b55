// Files the user asks for (a saved screen): written whole, in one go, on the window thread.
#pragma once

#include <string>

// Creates or replaces the file at `path` (UTF-8 on Windows, the file system's bytes elsewhere)
// with `bytes`. Returns "" when every byte was written and the file closed, else the system's
// reason; a file that failed may be left partly written.
std::string WriteFileBytes(const std::string& path, const std::string& bytes);
