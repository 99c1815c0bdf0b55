#include "test_images.h"

#include "test_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TFatImage MakeFatImage() {
    static int count = 0;
    TFatImage img;
    img.dir = TestPath("image-" + std::to_string(++count));
    std::error_code ec;
    if (!std::filesystem::create_directory(img.dir, ec)) {
        ADD_FAILURE() << "cannot make " << img.dir << ": " << ec.message();
        return img;
    }
    img.path = img.dir + "/floppy.img";
    for (int i = 1; i <= 40; ++i)
        img.readme +=
            "Line " + std::to_string(i) + " of the read-me file, long enough to span clusters.\r\n";
    img.hello = "Hello from the floppy!\r\n";
    WriteFile(img.dir + "/README.TXT", {img.readme.begin(), img.readme.end()});
    WriteFile(img.dir + "/HELLO.TXT", {img.hello.begin(), img.hello.end()});
    const std::string cmd = "mkfs.fat -C -F 12 -n QUORVIK " + img.path + " 1440 >/dev/null && " +
                            "MTOOLS_SKIP_CHECK=1 mcopy -i " + img.path + " " + img.dir +
                            "/README.TXT " + img.dir + "/HELLO.TXT ::/";
    if (std::system(cmd.c_str()) != 0) {
        ADD_FAILURE() << "could not make a FAT12 image (mkfs.fat, mcopy): " << cmd;
        return img;
    }
    img.bytes = ReadFile(img.path);
    return img;
}

std::string SummaryField(const std::string& summary, const std::string& key) {
    const std::string k = " " + key + "=";
    const size_t at = summary.find(k);
    if (at == std::string::npos) return "<missing>";
    const size_t from = at + k.size();
    return summary.substr(from, summary.find_first_of(" \n", from) - from);
}
