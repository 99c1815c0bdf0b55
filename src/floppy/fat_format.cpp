#include "fat_format.h"

#include "fat_names.h"
#include "fat_time.h"
#include "frame.h"
#include "image_file.h"

#include <algorithm>
#include <cstring>

namespace {

// Boot sector, extended BIOS parameter block (DOS 4.0 layout).
constexpr TFatFormat kFormats[] = {
    {"360K", "360 KB (5.25-inch double density)", 720, 2, 112, 0xFD, 2, 9, 2},
    {"720K", "720 KB (3.5-inch double density)", 1440, 2, 112, 0xF9, 3, 9, 2},
    {"1.2M", "1.2 MB (5.25-inch high density)", 2400, 1, 224, 0xF9, 7, 15, 2},
    {"1.44M", "1.44 MB (3.5-inch high density)", 2880, 1, 224, 0xF0, 9, 18, 2},
    {"2.88M", "2.88 MB (3.5-inch extra density)", 5760, 2, 240, 0xF0, 9, 36, 2},
};

constexpr size_t kBootCode = 0x3E; // after the extended parameter block

// The boot sector's code, loaded at 0000:7C00 and entered at 7C3E by the jump at offset 0:
//   cli; xor ax,ax; mov ds,ax; mov es,ax; mov ss,ax; mov sp,7C00h; sti; cld
//   mov si,7C66h                       ; the message, right after this code
//   next: lodsb; test al,al; jz key
//         mov ah,0Eh; mov bx,0007h; int 10h; jmp next   ; teletype output, page 0
//   key:  xor ah,ah; int 16h           ; wait for a key
//         int 19h                      ; bootstrap: load the boot sector again
//   hang: hlt; jmp hang
constexpr uint8_t kCode[] = {0xFA, 0x31, 0xC0, 0x8E, 0xD8, 0x8E, 0xC0, 0x8E, 0xD0, 0xBC,
                             0x00, 0x7C, 0xFB, 0xFC, 0xBE, 0x66, 0x7C, 0xAC, 0x84, 0xC0,
                             0x74, 0x09, 0xB4, 0x0E, 0xBB, 0x07, 0x00, 0xCD, 0x10, 0xEB,
                             0xF2, 0x30, 0xE4, 0xCD, 0x16, 0xCD, 0x19, 0xF4, 0xEB, 0xFD};
constexpr char kMessage[] = "\r\nNot a system disk.\r\nPress any key to restart.\r\n";
static_assert(kBootCode + sizeof kCode == 0x66, "the code's message address");
static_assert(0x66 + sizeof kMessage <= 510, "the boot sector's signature stays free");

void BootSector(const TFatFormat& f, const std::string& label11, uint32_t serial, uint8_t* s) {
    std::memset(s, 0, kFatSectorBytes);
    s[0] = 0xEB; // jmp short 3Eh; nop
    s[1] = kBootCode - 2;
    s[2] = 0x90;
    std::memcpy(s + 3, "QUORVIK ", 8);
    Put16(s + 11, kFatSectorBytes);
    s[13] = f.sectors_per_cluster;
    Put16(s + 14, 1); // reserved sectors: the boot sector
    s[16] = 2;        // FATs
    Put16(s + 17, f.root_entries);
    Put16(s + 19, f.total_sectors);
    s[21] = f.media;
    Put16(s + 22, f.sectors_per_fat);
    Put16(s + 24, f.sectors_per_track);
    Put16(s + 26, f.heads);
    // 28: hidden sectors, 32: 32-bit total (0: the 16-bit count holds it)
    s[36] = 0x00; // BIOS drive number: the first floppy drive
    s[38] = 0x29; // the serial number, label and type text follow
    Put16(s + 39, static_cast<uint16_t>(serial));
    Put16(s + 41, static_cast<uint16_t>(serial >> 16));
    std::memcpy(s + 43, label11.data(), 11);
    std::memcpy(s + 54, "FAT12   ", 8);
    std::memcpy(s + kBootCode, kCode, sizeof kCode);
    std::memcpy(s + kBootCode + sizeof kCode, kMessage, sizeof kMessage);
    s[510] = 0x55;
    s[511] = 0xAA;
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 32) : c;
}

} // namespace

std::span<const TFatFormat> FatFormats() {
    return kFormats;
}

const TFatFormat* FindFatFormat(std::string_view name) {
    for (const TFatFormat& f : kFormats) {
        const std::string_view n = f.name;
        if (n.size() == name.size() &&
            std::equal(n.begin(), n.end(), name.begin(),
                       [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); }))
            return &f;
    }
    return nullptr;
}

std::string FatFormatNames() {
    std::string names;
    for (const TFatFormat& f : kFormats)
        names += (names.empty() ? "" : " ") + std::string(f.name);
    return names;
}

std::vector<uint8_t> BlankFatImage(const TFatFormat& f, const std::string& label11, uint32_t serial,
                                   uint16_t fat_date, uint16_t fat_time) {
    std::vector<uint8_t> image(f.ImageBytes(), 0);
    BootSector(f, label11, serial, image.data());
    for (int copy = 0; copy < 2; ++copy) {
        uint8_t* fat = image.data() + f.FatSector(copy) * kFatSectorBytes;
        SetFat12(fat, 0, uint16_t(0xF00 | f.media));
        SetFat12(fat, 1, 0xFFF);
    }
    if (label11 != "NO NAME    ") {
        uint8_t* e = image.data() + f.RootSector() * kFatSectorBytes;
        std::memcpy(e, label11.data(), 11);
        e[11] = 0x08; // volume label
        Put16(e + 22, fat_time);
        Put16(e + 24, fat_date);
    }
    return image;
}

std::string WriteImageFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    TImageFile file;
    if (file.Create(path) == omClosed) return file.ErrorText();
    if (!file.Write(bytes.data(), bytes.size()) || !file.Sync()) {
        const std::string why = file.ErrorText();
        file.Close();
        return why;
    }
    file.Close();
    return "";
}

std::string WriteBlankImage(const std::string& path, const TFatFormat& format,
                            const std::string& label) {
    const std::time_t now = std::time(nullptr);
    const TLocalTime local = LocalTimeOf(now);
    return WriteImageFile(path,
                          BlankFatImage(format, VolumeLabel(label), static_cast<uint32_t>(now),
                                        FatDate(local), FatTime(local)));
}

uint16_t GetFat12(const uint8_t* fat, uint32_t cluster) {
    const uint16_t pair = Get16(fat + cluster + cluster / 2);
    return (cluster & 1) ? uint16_t(pair >> 4) : uint16_t(pair & 0xFFF);
}

void SetFat12(uint8_t* fat, uint32_t cluster, uint16_t value) {
    uint8_t* p = fat + cluster + cluster / 2;
    uint16_t pair = Get16(p);
    pair = (cluster & 1) ? uint16_t((pair & 0x000F) | (value << 4))
                         : uint16_t((pair & 0xF000) | (value & 0xFFF));
    Put16(p, pair);
}
