// Floppy images for the tests, made with the same tools a user would use (mkfs.fat, mcopy).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TFatImage {
    std::string dir;    // a fresh folder in the test's own (test_dir.h), holding the image
    std::string path;   // dir + "/floppy.img"
    std::string readme; // README.TXT, several clusters long
    std::string hello;  // HELLO.TXT, one short line
    std::vector<uint8_t> bytes;
};

// A 1.44 MB FAT12 image labelled QUORVIK with README.TXT and HELLO.TXT, each in a folder of its
// own, removed with the test's. Fails the calling test (ADD_FAILURE) and returns an empty image
// when the tools are missing.
TFatImage MakeFatImage();

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// The value of `key` in a summary line ("<missing>" when it has none).
std::string SummaryField(const std::string& summary, const std::string& key);
