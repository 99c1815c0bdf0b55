#include "folder_changes.h"

#include "fat_format.h"
#include "fat_names.h"
#include "host_path.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kLineEnd = "\r\n";
#else
constexpr const char* kLineEnd = "\n";
#endif

struct TFlat {
    std::string path; // names joined with '/'
    const TFatNode* node;
};

// Key: the folded short names from the root, joined with '\'.
using TFlatMap = std::map<std::string, TFlat>;

std::string KeyPart(const TFatNode& n) {
    return FoldedName(ShortNameText(n.short_bytes.data()));
}

// `names` gives the path shown for a key of `before` when the entry has only its short name
// at Disconnect (it lost its long name to a DOS program), so that both name the same file.
void Flatten(const std::vector<TFatNode>& nodes, const std::string& key, const std::string& path,
             const TFlatMap* names, TFlatMap* out) {
    for (const TFatNode& n : nodes) {
        const std::string k = key + "\\" + KeyPart(n);
        std::string name = n.name;
        if (names && n.name == n.short_name) {
            const auto it = names->find(k);
            if (it != names->end()) name = it->second.path.substr(it->second.path.rfind('/') + 1);
        }
        const std::string p = path.empty() ? name : path + "/" + name;
        out->emplace(k, TFlat{p, &n});
        if (n.IsDirectory()) Flatten(n.children, k, p, names, out);
    }
}

// A name from the floppy as a name on the PC: the characters no file system there takes, and
// the names "." and "..", become '_'.
std::string HostName(const std::string& name) {
    std::string s = name;
    for (char& c : s)
        if (static_cast<uint8_t>(c) < 0x20 || std::strchr("/\\:*?\"<>|", c)) c = '_';
    if (s.empty() || s == "." || s == "..") s = "_";
    return s;
}

fs::path HostRelative(const std::string& path) {
    fs::path p;
    size_t from = 0;
    for (size_t slash; (slash = path.find('/', from)) != std::string::npos; from = slash + 1)
        p /= HostPath(HostName(path.substr(from, slash - from)));
    return p / HostPath(HostName(path.substr(from)));
}

void SetTime(const fs::path& p, const TFatNode& n) {
    const std::time_t t = TimeOfLocal(FromFat(n.date, n.time));
    if (t == -1) return;
    std::error_code ec;
    fs::last_write_time(
        p, std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(t)),
        ec); // the bytes matter; a date the system refuses is no failure
}

const char* KindText(TFloppyChange::TKind k) {
    switch (k) {
    case TFloppyChange::TKind::ckNew: return "new           ";
    case TFloppyChange::TKind::ckChanged: return "changed       ";
    case TFloppyChange::TKind::ckRenamed: return "renamed       ";
    case TFloppyChange::TKind::ckDeleted: return "deleted       ";
    case TFloppyChange::TKind::ckNewFolder: return "new folder    ";
    case TFloppyChange::TKind::ckDeletedFolder: return "deleted folder";
    }
    return "";
}

// "2 new, 1 changed, 1 new folder"
std::string Tally(const std::vector<TFloppyChange>& changes, bool boot_sector) {
    int counts[6] = {};
    for (const TFloppyChange& c : changes)
        ++counts[int(c.kind)];
    static const char* const kWords[6][2] = {{"new", "new"},
                                             {"changed", "changed"},
                                             {"renamed", "renamed"},
                                             {"deleted", "deleted"},
                                             {"new folder", "new folders"},
                                             {"deleted folder", "deleted folders"}};
    std::string text;
    for (int k = 0; k < 6; ++k)
        if (counts[k])
            text += (text.empty() ? "" : ", ") + std::to_string(counts[k]) + " " +
                    kWords[k][counts[k] > 1];
    if (boot_sector) text += text.empty() ? "the boot sector" : ", the boot sector";
    return text;
}

// A new folder beside `chosen` whose name nothing has yet.
bool NewFolder(const fs::path& chosen, const TLocalTime& when, fs::path* out, std::string* why) {
    fs::path base = chosen.lexically_normal();
    if (!base.has_filename()) base = base.parent_path();
    const std::string name = Utf8Path(base.filename()) + "-from-target-" + StampText(when);
    for (int n = 1; n < 1000; ++n) {
        const fs::path p =
            base.parent_path() / HostPath(n == 1 ? name : name + "-" + std::to_string(n));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            *out = p;
            return true;
        }
        if (ec) {
            *why = ec.message();
            return false;
        }
    }
    *why = "every name is taken";
    return false;
}

} // namespace

std::vector<TFloppyChange> CompareFatTrees(const TFatTree& before, const TFatTree& after) {
    TFlatMap was, now;
    Flatten(before.root, "", "", nullptr, &was);
    Flatten(after.root, "", "", &was, &now);
    std::vector<TFloppyChange> changes, created, deleted;
    for (const auto& [key, n] : now) {
        const auto it = was.find(key);
        const bool dir = n.node->IsDirectory();
        if (it == was.end() || it->second.node->IsDirectory() != dir) {
            (dir ? changes : created)
                .push_back({dir ? TFloppyChange::TKind::ckNewFolder : TFloppyChange::TKind::ckNew,
                            n.path, "", n.node});
        } else if (!dir && it->second.node->data != n.node->data) {
            changes.push_back({TFloppyChange::TKind::ckChanged, n.path, "", n.node});
        }
    }
    for (const auto& [key, w] : was) {
        const auto it = now.find(key);
        const bool dir = w.node->IsDirectory();
        if (it == now.end() || it->second.node->IsDirectory() != dir)
            (dir ? changes : deleted)
                .push_back(
                    {dir ? TFloppyChange::TKind::ckDeletedFolder : TFloppyChange::TKind::ckDeleted,
                     w.path, "", w.node});
    }
    // A file gone from one name whose clusters and bytes are found under a new one.
    std::set<size_t> renamed_from;
    for (TFloppyChange& c : created) {
        for (size_t i = 0; i < deleted.size(); ++i) {
            const TFatNode* old = deleted[i].node;
            if (renamed_from.count(i) || c.node->data.empty() ||
                old->first_cluster != c.node->first_cluster || old->data != c.node->data)
                continue;
            c.kind = TFloppyChange::TKind::ckRenamed;
            c.old_path = deleted[i].path;
            renamed_from.insert(i);
            break;
        }
    }
    for (size_t i = 0; i < deleted.size(); ++i)
        if (!renamed_from.count(i)) {
            deleted[i].node = nullptr;
            created.push_back(deleted[i]);
        }
    for (TFloppyChange& c : changes)
        if (c.kind == TFloppyChange::TKind::ckDeletedFolder) c.node = nullptr;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const TFloppyChange& a, const TFloppyChange& b) {
                         return a.kind == TFloppyChange::TKind::ckNewFolder &&
                                b.kind != TFloppyChange::TKind::ckNewFolder;
                     });
    changes.insert(changes.end(), created.begin(), created.end());
    return changes;
}

TChangesReport WriteChangesBeside(const std::string& chosen, const std::vector<uint8_t>& built,
                                  const std::vector<uint8_t>& now, const TLocalTime& when) {
    TChangesReport report;
    const fs::path chosen_path = HostPath(chosen);
    if (built == now) {
        report.summary = "The target changed nothing on the floppy of " + chosen + ".";
        return report;
    }
    TFatTree before, after;
    std::string why;
    const bool readable = ReadFatTree(now.data(), now.size(), &after, &why);
    std::vector<TFloppyChange> changes;
    bool boot_sector = false;
    if (readable) {
        ReadFatTree(built.data(), built.size(), &before, nullptr);
        changes = CompareFatTrees(before, after);
        boot_sector = built.size() < kFatSectorBytes || now.size() < kFatSectorBytes ||
                      std::memcmp(built.data(), now.data(), kFatSectorBytes) != 0;
        if (changes.empty() && !boot_sector && after.damage.empty()) {
            report.summary = "The target changed no file on the floppy of " + chosen +
                             "; it wrote sectors that no file holds: save the floppy as an image "
                             "to keep them.";
            return report;
        }
    }
    report.changed = true;
    fs::path folder;
    std::string failure;
    if (!NewFolder(chosen_path, when, &folder, &failure)) {
        report.ok = false;
        report.summary = "The target's changes could not be kept beside " + chosen + " (" +
                         failure + "); save the floppy as an image to keep them.";
        return report;
    }
    report.folder = Utf8Path(folder);
    auto write = [&](const fs::path& relative, const std::vector<uint8_t>& bytes,
                     const TFatNode* node) {
        const fs::path p = folder / relative;
        std::error_code ec;
        fs::create_directories(p.parent_path(), ec);
        const std::string error = WriteImageFile(Utf8Path(p), bytes);
        if (!error.empty() && failure.empty()) failure = Utf8Path(relative) + ": " + error;
        if (error.empty() && node) SetTime(p, *node);
        report.written.push_back(Utf8Path(relative));
    };
    if (!readable) {
        write("floppy.img", now, nullptr);
        report.ok = failure.empty();
        report.summary =
            report.ok
                ? "The floppy's files could not be read (" + why + "): the whole image went to " +
                      report.folder + "/floppy.img"
                : "The floppy's image could not be kept in " + report.folder + " (" + failure + ")";
        return report;
    }

    std::string list = "Changes the target made on the floppy of " + chosen + kLineEnd +
                       "(Disconnect at " + DateTimeText(when) + "); that folder was not changed." +
                       kLineEnd + kLineEnd;
    std::set<std::string> top_names;
    for (const TFloppyChange& c : changes) {
        list += std::string(KindText(c.kind)) + "  " + c.path;
        if (c.kind == TFloppyChange::TKind::ckRenamed) list += "  (was " + c.old_path + ")";
        list += kLineEnd;
        if (c.kind == TFloppyChange::TKind::ckNewFolder) {
            std::error_code ec;
            fs::create_directories(folder / HostRelative(c.path), ec);
            if (ec && failure.empty()) failure = c.path + ": " + ec.message();
        } else if (c.node) {
            write(HostRelative(c.path), c.node->data, c.node);
        }
        if (c.node && c.path.find('/') == std::string::npos) top_names.insert(FoldedName(c.path));
    }
    if (boot_sector)
        list +=
            std::string("boot sector     changed; only an image of the floppy keeps it") + kLineEnd;
    for (const std::string& d : after.damage)
        list += "damaged         " + d + kLineEnd;
    // The list takes a name that no file of the target's has.
    std::string list_name = "CHANGES.TXT";
    for (int n = 1; top_names.count(FoldedName(list_name)); ++n)
        list_name = "CHANGES" + std::to_string(n) + ".TXT";
    write(HostPath(list_name), std::vector<uint8_t>(list.begin(), list.end()), nullptr);

    report.ok = failure.empty();
    report.summary = report.ok ? "The target's changes (" + Tally(changes, boot_sector) +
                                     ") went to " + report.folder
                               : "The target's changes could not all be kept in " + report.folder +
                                     " (" + failure + ")";
    return report;
}
