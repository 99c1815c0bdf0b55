#include "temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <random>

TTempDir::TTempDir() {
    std::random_device seed;
    std::mt19937 gen(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / ("quorvik-" + std::to_string(gen()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate.generic_string();
            return;
        }
    }
    std::abort();
}

TTempDir::~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

const TTempDir& ProgramTempDir() {
    static const TTempDir dir;
    return dir;
}
