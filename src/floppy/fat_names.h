// File names on FAT: the 8.3 short name of every entry, the long (VFAT) name kept beside it,
// and which names FAT cannot hold at all.
//
// Short names are made as Windows makes them, with code page 437 as the OEM code page: a name
// that is a valid 8.3 name in ASCII, its base and its extension each all in one case, is
// stored as it is (lower case through the entry's case flags, no long name); any other name
// gets a long name, and a short name from its upper-cased characters, blanks and all periods
// but the last removed, characters a short name cannot hold as '_', the base cut to 8 and the
// extension to 3. Where that lost something, or the result is taken, a numeric tail is added:
// "Long name.txt" is LONGNA~1.TXT, the next one LONGNA~2.TXT, and so on (the base shortened to
// make room: LONGN~10.TXT).
//
// Pure functions, any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TDirEntryBytes = std::array<uint8_t, 32>;

// UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* out);
// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Why FAT cannot hold this name (UTF-8) as a long name, for the user; "" when it can. FAT
// holds at most 255 UTF-16 characters, none of them a control character or one of
// " * / : < > ? \ |, and drops a trailing period or blank.
std::string LongNameProblem(std::string_view name);

// The name as FAT compares names: upper case (ASCII and Latin-1 letters), UTF-8.
std::string FoldedName(std::string_view name);

struct TShortName {
    std::array<uint8_t, 11> bytes{}; // as in the entry: base padded to 8, extension to 3
    uint8_t case_flags = 0;          // entry byte 12: 08 base in lower case, 10 extension
    bool needs_long = false;         // the name needs long-name entries beside it
};

// The short names of one directory's entries, given their names in the order they will be
// stored; each differs from every other. The names must have passed LongNameProblem.
std::vector<TShortName> MakeShortNames(const std::vector<std::string>& names);

// "README.TXT" from an entry's 11 bytes (code page 437 shown as Unicode, as UTF-8); the
// entry's case flags give lower case where set.
std::string ShortNameText(const uint8_t* name11, uint8_t case_flags = 0);

// The 11 bytes of a volume label made from `name` (UTF-8) as a short name is made, blanks
// kept inside, cut to 11 and padded with blanks; "NO NAME    " when nothing is left.
std::string VolumeLabel(std::string_view name);

// A label's 11 bytes as text (code page 437 shown as Unicode, UTF-8), trailing blanks removed.
std::string LabelText(const uint8_t* label11);

// The checksum of a short name that every long-name entry of it carries.
uint8_t ShortNameChecksum(const uint8_t* name11);

// The long-name entries of `name` (UTF-16, at most 255), in the order they precede the short
// entry on disk.
std::vector<TDirEntryBytes> LongNameEntries(std::u16string_view name, uint8_t checksum);
// How many entries a long name of `units` UTF-16 characters takes.
inline size_t LongNameEntryCount(size_t units) {
    return (units + 12) / 13;
}
