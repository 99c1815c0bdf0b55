#include "fat_names.h"

#include "cp437.h"
#include "frame.h"

#include <algorithm>
#include <set>

namespace {

constexpr size_t kMaxLongName = 255;

// Decodes UTF-8 into code points; false for anything else (overlong forms, surrogates, bytes
// past U+10FFFF, cut sequences).
bool CodePoints(std::string_view s, std::u32string* out) {
    out->clear();
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<uint8_t>(s[i]);
        const int more = b < 0x80         ? 0
                         : (b >> 5) == 6  ? 1
                         : (b >> 4) == 14 ? 2
                         : (b >> 3) == 30 ? 3
                                          : -1;
        if (more < 0 || i + size_t(more) + 1 > s.size()) return false;
        char32_t c = more == 0 ? b : b & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            const auto t = static_cast<uint8_t>(s[i + size_t(k)]);
            if ((t & 0xC0) != 0x80) return false;
            c = (c << 6) | (t & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (c < kLeast[more] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out->push_back(c);
        i += size_t(more) + 1;
    }
    return true;
}

void AppendUtf8(char32_t c, std::string* out) {
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (c >> 18)));
        out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

char32_t Upper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32; // Latin-1 letters
    return c;
}

char32_t Lower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    return c;
}

bool ShortSpecial(char32_t c) {
    return std::u32string_view(U"$%'-_@~`!(){}^#&").find(c) != std::u32string_view::npos;
}

// A character a short name holds as it is (after upper-casing).
bool ShortChar(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || ShortSpecial(c);
}

// The code page byte of an upper-cased character for a short name, or -1 when it has none.
int OemByte(char32_t c) {
    if (c < 0x80) return ShortChar(c) ? int(c) : -1;
    return HighCp437Code(c);
}

std::array<uint8_t, 11> Blank11() {
    std::array<uint8_t, 11> a;
    a.fill(' ');
    return a;
}

// A valid 8.3 name in ASCII with each part in one case: stored as it is, without a long name.
bool PlainShortName(const std::u32string& name, TShortName* out) {
    const size_t dot = name.find(U'.');
    const std::u32string base = name.substr(0, dot);
    const std::u32string ext = dot == std::u32string::npos ? U"" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find(U'.') != std::u32string::npos)
        return false;
    if (dot != std::u32string::npos && ext.empty()) return false;
    uint8_t flags = 0;
    for (const auto& [part, flag] :
         {std::pair{base, uint8_t(0x08)}, std::pair{ext, uint8_t(0x10)}}) {
        bool lower = false, upper = false;
        for (const char32_t c : part) {
            if (c >= 0x80 || !ShortChar(Upper(c))) return false;
            lower |= c >= 'a' && c <= 'z';
            upper |= c >= 'A' && c <= 'Z';
        }
        if (lower && upper) return false;
        if (lower) flags |= flag;
    }
    out->bytes = Blank11();
    for (size_t i = 0; i < base.size(); ++i)
        out->bytes[i] = uint8_t(Upper(base[i]));
    for (size_t i = 0; i < ext.size(); ++i)
        out->bytes[8 + i] = uint8_t(Upper(ext[i]));
    out->case_flags = flags;
    out->needs_long = false;
    return true;
}

struct TBasis {
    std::vector<uint8_t> base, ext;
    bool lossy = false; // something was dropped or replaced: a numeric tail is due
};

TBasis Basis(const std::u32string& name) {
    TBasis b;
    size_t first = 0;
    while (first < name.size() && (name[first] == U'.' || name[first] == U' ')) {
        ++first;
        b.lossy = true;
    }
    const size_t last_dot = name.rfind(U'.');
    const bool has_ext = last_dot != std::u32string::npos && last_dot >= first;
    const size_t base_end = has_ext ? last_dot : name.size();
    auto take = [&](size_t from, size_t to, std::vector<uint8_t>& part, size_t room) {
        for (size_t i = from; i < to; ++i) {
            const char32_t c = name[i];
            if (c == U' ' || c == U'.') {
                b.lossy = true;
                continue;
            }
            int byte = OemByte(Upper(c));
            if (byte < 0) {
                byte = '_';
                b.lossy = true;
            }
            if (part.size() == room) {
                b.lossy = true;
                continue;
            }
            part.push_back(uint8_t(byte));
        }
    };
    take(first, base_end, b.base, 8);
    if (has_ext) take(last_dot + 1, name.size(), b.ext, 3);
    if (b.base.empty()) {
        b.base.push_back('_');
        b.lossy = true;
    }
    return b;
}

std::array<uint8_t, 11> Compose(const std::vector<uint8_t>& base, const std::vector<uint8_t>& ext,
                                const std::string& tail) {
    std::array<uint8_t, 11> a = Blank11();
    const size_t keep = std::min(base.size(), 8 - tail.size());
    std::copy(base.begin(), base.begin() + long(keep), a.begin());
    std::copy(tail.begin(), tail.end(), a.begin() + long(keep));
    std::copy(ext.begin(), ext.end(), a.begin() + 8);
    return a;
}

} // namespace

bool Utf8ToUtf16(std::string_view utf8, std::u16string* out) {
    std::u32string points;
    if (!CodePoints(utf8, &points)) return false;
    out->clear();
    for (char32_t c : points) {
        if (c < 0x10000) {
            out->push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return true;
}

std::string Utf16ToUtf8(std::u16string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(c, &out);
    }
    return out;
}

std::string LongNameProblem(std::string_view name) {
    std::u32string points;
    if (!CodePoints(name, &points)) return "its name is not UTF-8 text";
    for (const char32_t c : points) {
        if (c < 0x20 || c == 0x7F)
            return "its name holds a control character, which FAT cannot hold";
        if (std::u32string_view(U"\"*/:<>?\\|").find(c) != std::u32string_view::npos) {
            std::string shown;
            AppendUtf8(c, &shown);
            return "its name holds '" + shown + "', which FAT cannot hold";
        }
    }
    if (points.empty()) return "it has no name";
    if (points.back() == U'.' || points.back() == U' ')
        return "its name ends in a period or a blank, which FAT drops";
    std::u16string units;
    Utf8ToUtf16(name, &units);
    if (units.size() > kMaxLongName)
        return "its name is longer than FAT's 255 characters (" + std::to_string(units.size()) +
               ")";
    return "";
}

std::string FoldedName(std::string_view name) {
    std::u32string points;
    if (!CodePoints(name, &points)) return std::string(name);
    std::string out;
    for (const char32_t c : points)
        AppendUtf8(Upper(c), &out);
    return out;
}

std::vector<TShortName> MakeShortNames(const std::vector<std::string>& names) {
    std::vector<TShortName> out(names.size());
    std::vector<std::u32string> points(names.size());
    std::set<std::array<uint8_t, 11>> taken;
    std::vector<bool> done(names.size(), false);
    // Names that are short names already keep them; the others take what is left.
    for (size_t i = 0; i < names.size(); ++i) {
        CodePoints(names[i], &points[i]);
        if (PlainShortName(points[i], &out[i]) && taken.insert(out[i].bytes).second) done[i] = true;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (done[i]) continue;
        const TBasis b = Basis(points[i]);
        out[i].case_flags = 0;
        out[i].needs_long = true;
        if (!b.lossy && taken.insert(Compose(b.base, b.ext, "")).second) {
            out[i].bytes = Compose(b.base, b.ext, "");
            continue;
        }
        for (uint32_t n = 1; n <= 999999; ++n) {
            const std::array<uint8_t, 11> candidate =
                Compose(b.base, b.ext, "~" + std::to_string(n));
            if (taken.insert(candidate).second) {
                out[i].bytes = candidate;
                break;
            }
        }
    }
    return out;
}

std::string ShortNameText(const uint8_t* name11, uint8_t case_flags) {
    auto part = [&](size_t from, size_t n, bool lower) {
        size_t len = n;
        while (len > 0 && name11[from + len - 1] == ' ')
            --len;
        std::string s;
        for (size_t i = 0; i < len; ++i) {
            uint8_t b = name11[from + i];
            if (from == 0 && i == 0 && b == 0x05) b = 0xE5; // E5 itself marks a deleted entry
            const char32_t c = Cp437ToUnicode(b);
            AppendUtf8(lower ? Lower(c) : c, &s);
        }
        return s;
    };
    const std::string base = part(0, 8, case_flags & 0x08);
    const std::string ext = part(8, 3, case_flags & 0x10);
    return ext.empty() ? base : base + "." + ext;
}

std::string VolumeLabel(std::string_view name) {
    std::u32string points;
    if (!CodePoints(name, &points)) points.clear();
    std::string label;
    for (const char32_t c : points) {
        if (label.size() == 11) break;
        if (c == U' ' && label.empty()) continue; // a label does not start with a blank
        const int byte = c == U' ' ? ' ' : OemByte(Upper(c));
        label.push_back(static_cast<char>(byte < 0 ? '_' : byte));
    }
    while (!label.empty() && label.back() == ' ')
        label.pop_back();
    if (label.empty()) label = "NO NAME";
    label.resize(11, ' ');
    return label;
}

std::string LabelText(const uint8_t* label11) {
    size_t len = 11;
    while (len > 0 && label11[len - 1] == ' ')
        --len;
    std::string s;
    for (size_t i = 0; i < len; ++i)
        AppendUtf8(Cp437ToUnicode(label11[i]), &s);
    return s;
}

uint8_t ShortNameChecksum(const uint8_t* name11) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i)
        sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

std::vector<TDirEntryBytes> LongNameEntries(std::u16string_view name, uint8_t checksum) {
    static constexpr int kPlaces[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const size_t count = LongNameEntryCount(name.size());
    std::vector<TDirEntryBytes> entries(count);
    for (size_t k = 0; k < count; ++k) {
        // Entry k on disk holds the piece count - k (the last piece comes first).
        const size_t piece = count - 1 - k;
        TDirEntryBytes& e = entries[k];
        e.fill(0);
        e[0] = static_cast<uint8_t>((piece + 1) | (k == 0 ? 0x40 : 0));
        e[11] = 0x0F;
        e[13] = checksum;
        for (int j = 0; j < 13; ++j) {
            const size_t at = piece * 13 + size_t(j);
            // The name ends with one 0000 where it leaves room, then FFFF.
            const uint16_t unit = at < name.size() ? name[at] : at == name.size() ? 0x0000 : 0xFFFF;
            Put16(e.data() + kPlaces[j], unit);
        }
    }
    return entries;
}
