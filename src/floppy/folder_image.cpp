#include "folder_image.h"

#include "fat_names.h"
#include "fat_time.h"
#include "frame.h"
#include "host_path.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxShortPath = 63; // DOS's longest current folder, "\" and NUL aside
constexpr size_t kMaxLongPath = 255;
constexpr uint8_t kAttrDirectory = 0x10, kAttrArchive = 0x20;

struct TNode {
    std::string name; // UTF-8
    fs::path host;
    bool dir = false;
    uint64_t size = 0;
    TLocalTime mtime;
    std::vector<TNode> children;
    // Placed by the layout.
    TShortName short_name;
    std::u16string long_name;
    uint32_t first_cluster = 0, clusters = 0;
};

TLocalTime ModificationTime(const fs::path& p) {
    std::error_code ec;
    const fs::file_time_type t = fs::last_write_time(p, ec);
    if (ec) return LocalTimeNow();
    const auto sys = std::chrono::file_clock::to_sys(t);
    return LocalTimeOf(std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(sys)));
}

std::string Join(const std::string& where, const std::string& name) {
    return where.empty() ? name : where + "/" + name;
}

class TBuilder {
  public:
    TFolderImage result;

    void Scan(const fs::path& dir, const std::string& where, TNode* node) {
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        if (ec) {
            LeftOut(where.empty() ? "the folder" : where, "cannot be read (" + ec.message() + ")");
            return;
        }
        std::map<std::string, std::string> folded; // FAT's comparison -> the name that has it
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            TNode child;
            child.host = it->path();
            child.name = Utf8Path(child.host.filename());
            const std::string path = Join(where, child.name);
            const fs::file_status st = it->symlink_status(ec);
            if (ec) {
                LeftOut(path, "cannot be read (" + ec.message() + ")");
                continue;
            }
            if (fs::is_symlink(st)) {
                LeftOut(path, "a symbolic link, which FAT cannot hold (copy what it points to "
                              "into the folder instead)");
                continue;
            }
            if (!fs::is_regular_file(st) && !fs::is_directory(st)) {
                LeftOut(path, "neither a file nor a folder (a device, pipe or socket)");
                continue;
            }
            if (const std::string why = LongNameProblem(child.name); !why.empty()) {
                LeftOut(path, why);
                continue;
            }
            const auto [same, fresh] = folded.emplace(FoldedName(child.name), child.name);
            if (!fresh) {
                LeftOut(path, "differs from \"" + same->second +
                                  "\" only in letter case, and FAT holds only one of them");
                continue;
            }
            child.dir = fs::is_directory(st);
            child.mtime = ModificationTime(child.host);
            if (child.dir) {
                Scan(child.host, path, &child);
            } else {
                child.size = fs::file_size(child.host, ec);
                if (ec) {
                    LeftOut(path, "cannot be read (" + ec.message() + ")");
                    continue;
                }
            }
            node->children.push_back(std::move(child));
        }
        if (ec)
            LeftOut(where.empty() ? "the folder" : where, "cannot be read (" + ec.message() + ")");
        std::sort(node->children.begin(), node->children.end(),
                  [](const TNode& a, const TNode& b) { return a.name < b.name; });
    }

    // Short names, long names and the paths' lengths, folder by folder.
    void Name(TNode* dir, const std::string& where, const std::string& short_path,
              size_t long_path) {
        std::vector<std::string> names;
        for (const TNode& c : dir->children)
            names.push_back(c.name);
        const std::vector<TShortName> shorts = MakeShortNames(names);
        for (size_t i = 0; i < dir->children.size(); ++i) {
            TNode& c = dir->children[i];
            c.short_name = shorts[i];
            Utf8ToUtf16(c.name, &c.long_name);
            const std::string path = Join(where, c.name);
            const std::string shortp = short_path + "\\" + ShortNameText(c.short_name.bytes.data());
            const size_t longp = long_path + 1 + c.long_name.size();
            if (longp > kMaxLongPath) {
                LeftOut(path, "its path on the floppy is longer than 255 characters");
            } else if (c.dir && shortp.size() > kMaxShortPath) {
                LeftOut(path, "nested too deep: DOS reaches folders up to 63 characters from "
                              "the root (" +
                                  shortp + ")");
            } else if (c.dir) {
                Name(&c, path, shortp, longp);
            }
        }
    }

    static size_t Entries(const TNode& dir) {
        size_t n = 0;
        for (const TNode& c : dir.children)
            n += 1 + (c.short_name.needs_long ? LongNameEntryCount(c.long_name.size()) : 0);
        return n;
    }

    static uint32_t ClustersFor(uint64_t bytes, const TFatFormat& f) {
        return uint32_t((bytes + f.ClusterBytes() - 1) / f.ClusterBytes());
    }

    // Gives every folder (but the root) and file its clusters, in folder order. Returns the
    // clusters used.
    static uint32_t Place(TNode* dir, const TFatFormat& f, uint32_t next) {
        for (TNode& c : dir->children) {
            c.clusters =
                c.dir ? std::max<uint32_t>(1, ClustersFor((Entries(c) + 2) * kFatEntryBytes, f))
                      : ClustersFor(c.size, f);
            c.first_cluster = c.clusters ? next : 0;
            next += c.clusters;
        }
        for (TNode& c : dir->children)
            if (c.dir) next = Place(&c, f, next);
        return next;
    }

    bool Fits(TNode* root, const TFatFormat& f) {
        const size_t root_entries = Entries(*root) + 1; // and the label
        const uint32_t used = Place(root, f, 2) - 2;
        return root_entries <= f.root_entries && used <= f.Clusters();
    }

    // What would not fit on the largest format, filling it in folder order.
    void Overflow(TNode* root, const TFatFormat& f) {
        const size_t root_entries = Entries(*root) + 1;
        const uint32_t needed = Place(root, f, 2) - 2;
        LeftOut("the folder", "does not fit on a " + std::string(f.caption) + " floppy: it needs " +
                                  std::to_string(uint64_t(needed) * f.ClusterBytes() / 1024) +
                                  " KB in " + std::to_string(needed) +
                                  " clusters, the floppy has " +
                                  std::to_string(uint64_t(f.Clusters()) * f.ClusterBytes() / 1024) +
                                  " KB; its top folder needs " + std::to_string(root_entries) +
                                  " entries of " + std::to_string(f.root_entries));
        uint32_t room = f.Clusters();
        CountFolders(*root, f, &room);
        size_t entries = 1;
        for (const TNode& c : root->children) {
            entries += 1 + (c.short_name.needs_long ? LongNameEntryCount(c.long_name.size()) : 0);
            if (entries > f.root_entries) LeftOut(c.name, "no room among the top folder's entries");
        }
        OverflowFiles(*root, "", f, &room);
    }

    static void CountFolders(const TNode& dir, const TFatFormat& f, uint32_t* room) {
        for (const TNode& c : dir.children) {
            if (!c.dir) continue;
            *room -= std::min(*room, c.clusters);
            CountFolders(c, f, room);
        }
    }

    void OverflowFiles(const TNode& dir, const std::string& where, const TFatFormat& f,
                       uint32_t* room) {
        for (const TNode& c : dir.children) {
            const std::string path = Join(where, c.name);
            if (c.dir) {
                OverflowFiles(c, path, f, room);
            } else if (c.clusters > *room) {
                LeftOut(path, "does not fit (" + std::to_string((c.size + 1023) / 1024) + " KB)");
            } else {
                *room -= c.clusters;
            }
        }
    }

    // Writes the entries of `dir` at `at` (room for them), its files' bytes and their chains.
    void Emit(const TNode& dir, uint8_t* at, const std::string& where, const TFatFormat& f,
              uint32_t self, uint32_t parent, bool is_root) {
        uint8_t* e = at;
        if (!is_root) {
            e = Entry(e, DotName("."), kAttrDirectory, dir.mtime, self, 0, 0);
            e = Entry(e, DotName(".."), kAttrDirectory, dir.mtime, parent, 0, 0);
        }
        for (const TNode& c : dir.children) {
            if (c.short_name.needs_long) {
                for (const TDirEntryBytes& piece :
                     LongNameEntries(c.long_name, ShortNameChecksum(c.short_name.bytes.data()))) {
                    std::memcpy(e, piece.data(), piece.size());
                    e += kFatEntryBytes;
                }
            }
            e = Entry(e, c.short_name.bytes, c.dir ? kAttrDirectory : kAttrArchive, c.mtime,
                      c.first_cluster, c.dir ? 0 : uint32_t(c.size), c.short_name.case_flags);
            Chain(c, f);
            const std::string path = Join(where, c.name);
            if (c.dir) {
                Emit(c, image_ + f.ClusterOffset(c.first_cluster), path, f, c.first_cluster,
                     is_root ? 0 : self, false);
            } else if (c.size) {
                ReadInto(c, path, image_ + f.ClusterOffset(c.first_cluster));
            }
        }
    }

    uint8_t* image_ = nullptr;

  private:
    void LeftOut(const std::string& path, const std::string& why) {
        result.left_out.push_back(path + ": " + why);
    }

    static std::array<uint8_t, 11> DotName(const char* dots) {
        std::array<uint8_t, 11> a;
        a.fill(' ');
        std::memcpy(a.data(), dots, std::strlen(dots));
        return a;
    }

    static uint8_t* Entry(uint8_t* e, const std::array<uint8_t, 11>& name, uint8_t attr,
                          const TLocalTime& t, uint32_t cluster, uint32_t size, uint8_t flags) {
        std::memcpy(e, name.data(), 11);
        if (e[0] == 0xE5) e[0] = 0x05; // E5 itself marks a deleted entry
        e[11] = attr;
        e[12] = flags;
        Put16(e + 14, FatTime(t)); // created
        Put16(e + 16, FatDate(t));
        Put16(e + 18, FatDate(t)); // last opened
        Put16(e + 22, FatTime(t)); // modified
        Put16(e + 24, FatDate(t));
        Put16(e + 26, static_cast<uint16_t>(cluster));
        Put16(e + 28, static_cast<uint16_t>(size));
        Put16(e + 30, static_cast<uint16_t>(size >> 16));
        return e + kFatEntryBytes;
    }

    void Chain(const TNode& c, const TFatFormat& f) {
        for (uint32_t k = 0; k < c.clusters; ++k) {
            const uint32_t cluster = c.first_cluster + k;
            const uint16_t link = k + 1 == c.clusters ? 0xFFF : uint16_t(cluster + 1);
            for (int copy = 0; copy < 2; ++copy)
                SetFat12(image_ + f.FatSector(copy) * kFatSectorBytes, cluster, link);
        }
    }

    void ReadInto(const TNode& c, const std::string& path, uint8_t* at) {
        std::ifstream in(c.host, std::ios::binary);
        in.read(reinterpret_cast<char*>(at), std::streamsize(c.size));
        if (!in || in.gcount() != std::streamsize(c.size) || in.peek() != EOF) {
            LeftOut(path, in.gcount() == std::streamsize(c.size)
                              ? "changed while it was read (it grew)"
                              : "cannot be read whole (it shrank, or the system refused)");
            return;
        }
        ++result.files;
        result.file_bytes += c.size;
    }
};

void CountFoldersIn(const TNode& dir, uint32_t* folders) {
    for (const TNode& c : dir.children)
        if (c.dir) {
            ++*folders;
            CountFoldersIn(c, folders);
        }
}

} // namespace

TFolderImage BuildFolderImage(const std::string& folder, uint32_t serial) {
    TBuilder b;
    TNode root;
    root.host = HostPath(folder);
    root.dir = true;
    std::error_code ec;
    if (!fs::is_directory(root.host, ec)) {
        b.result.left_out.push_back(folder + ": not a folder" +
                                    (ec ? " (" + ec.message() + ")" : std::string()));
        return std::move(b.result);
    }
    root.mtime = ModificationTime(root.host);
    b.Scan(root.host, "", &root);
    b.Name(&root, "", "", 0);

    const TFatFormat* format = nullptr;
    for (const char* name : {"1.44M", "2.88M"}) {
        const TFatFormat* f = FindFatFormat(name);
        if (b.Fits(&root, *f)) {
            format = f;
            break;
        }
    }
    if (!format) b.Overflow(&root, *FindFatFormat("2.88M"));
    if (!b.result.left_out.empty()) return std::move(b.result);

    fs::path named = fs::absolute(root.host, ec).lexically_normal();
    if (!named.has_filename()) named = named.parent_path(); // "docs/" names docs
    const std::string label = VolumeLabel(Utf8Path(named.filename()));
    std::vector<uint8_t> image =
        BlankFatImage(*format, label, serial, FatDate(root.mtime), FatTime(root.mtime));
    b.Place(&root, *format, 2);
    b.image_ = image.data();
    const bool labelled = label != "NO NAME    ";
    b.Emit(root,
           image.data() + format->RootSector() * kFatSectorBytes + (labelled ? kFatEntryBytes : 0),
           "", *format, 0, 0, true);
    if (!b.result.left_out.empty()) {
        b.result.files = 0;
        b.result.file_bytes = 0;
        return std::move(b.result);
    }
    CountFoldersIn(root, &b.result.folders);
    b.result.bytes = std::move(image);
    b.result.format = format;
    return std::move(b.result);
}
