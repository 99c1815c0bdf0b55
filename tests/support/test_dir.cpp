#include "test_dir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include "host_win32.h"
#endif

namespace {

namespace fs = std::filesystem;

// GoogleTest's TEST_TMPDIR where set, else the system's temporary folder.
fs::path BaseFolder() {
#ifdef _WIN32
    // The Windows tests run under wine only. Wine's own temporary folder lies inside the prefix,
    // where its file dialog refuses to go; the host's folder is where the rest of the run is.
    std::string host = Env("TEST_TMPDIR");
    if (host.empty()) host = Env("TMPDIR");
    return WinPath(host.empty() ? "/tmp" : host);
#else
    const char* gtest = std::getenv("TEST_TMPDIR");
    return gtest && *gtest ? fs::path(gtest) : fs::temp_directory_path();
#endif
}

// The test's name as a file name: letters, digits, '.' and '-' kept, anything else '_', at most
// 60 characters.
std::string Label(const std::string& name) {
    std::string label;
    for (char c : name.substr(0, 60)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        label += plain ? c : '_';
    }
    return label;
}

std::string MakeFolder(const std::string& label) {
    std::random_device seed;
    std::mt19937 gen(seed());
    const fs::path base = BaseFolder();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            base / ("quorvik-" + (label.empty() ? "" : label + "-") + std::to_string(gen()));
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) return candidate.string();
    }
    throw std::runtime_error("cannot make a folder in " + base.string());
}

void Remove(const std::string& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
    if (ec) std::fprintf(stderr, "test_dir: cannot remove %s: %s\n", dir.c_str(), ec.message().c_str());
}

struct TFolders {
    std::mutex mutex;
    bool in_test = false;
    std::string label;       // the running test's
    std::string test_dir;    // made for the running test, or ""
    std::string program_dir; // made outside any test, or ""

    ~TFolders() {
        if (!test_dir.empty()) Remove(test_dir);
        if (!program_dir.empty()) Remove(program_dir);
    }
};

TFolders& Folders() {
    static TFolders folders;
    return folders;
}

} // namespace

std::string TestDir() {
    TFolders& f = Folders();
    std::lock_guard<std::mutex> lock(f.mutex);
    std::string& dir = f.in_test ? f.test_dir : f.program_dir;
    if (dir.empty()) dir = MakeFolder(f.in_test ? f.label : "");
    return dir;
}

// Joined as bytes: a path object of a narrow string would take it in the system's code page on
// Windows, and `name` is UTF-8 as the program's own file calls take it.
std::string TestPath(const std::string& name) {
    return TestDir() + static_cast<char>(fs::path::preferred_separator) + name;
}

void BeginTestDir(const std::string& test_name) {
    TFolders& f = Folders();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.in_test = true;
    f.label = Label(test_name);
}

void EndTestDir() {
    TFolders& f = Folders();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.test_dir.empty()) Remove(f.test_dir);
    f.test_dir.clear();
    f.in_test = false;
}
