// What the target did to a folder served as a floppy, kept beside the folder at Disconnect.
//
// The image as built and the image at Disconnect are both read as FAT12 (fat_reader.h) and
// compared file by file. Entries are matched by their short names, folder by folder, so that a
// file a DOS program saved without its long name is still the same file; a file that is gone
// from one place and whose clusters and bytes turn up under another name was renamed.
//
// The chosen folder is never written. The changes go into a new folder beside it,
// NAME-from-target-YYYYMMDD-HHMMSS: every file the target created, changed or renamed, at its
// path (long names, the target's dates), every folder it created, and CHANGES.TXT, which lists
// them with the files and folders it deleted. When nothing changed, no folder is made.
//
// Window thread; nothing throws.
#pragma once

#include "fat_reader.h"
#include "fat_time.h"

#include <cstdint>
#include <string>
#include <vector>

struct TFloppyChange {
    enum class TKind { ckNew, ckChanged, ckRenamed, ckDeleted, ckNewFolder, ckDeletedFolder };
    TKind kind = TKind::ckNew;
    std::string path;               // on the floppy, names joined with '/'
    std::string old_path;           // ckRenamed: where it was
    const TFatNode* node = nullptr; // the entry at Disconnect (not for the deleted ones)
};

// The changes from `before` to `after`, folders before the files in them; pointers into
// `after`.
std::vector<TFloppyChange> CompareFatTrees(const TFatTree& before, const TFatTree& after);

struct TChangesReport {
    bool ok = true;                   // false when the changes could not all be written
    bool changed = false;             // the target changed something
    std::string folder;               // the folder the changes went to; "" when none was made
    std::string summary;              // one line for the console
    std::vector<std::string> written; // paths written below `folder`, CHANGES.TXT last
};

// Compares `built` (as served at Connect) with `now` (at Disconnect) and writes the changes
// beside `chosen` (UTF-8), naming the new folder after `when`. A folder of that name already
// there is never reused: "-2", "-3" ... is appended. When `now` cannot be read as FAT12, the
// whole image is written there as floppy.img instead, so that nothing the target wrote is lost;
// a changed boot sector is named in CHANGES.TXT (only an image keeps it), and sectors written
// outside every file are named in the summary.
TChangesReport WriteChangesBeside(const std::string& chosen, const std::vector<uint8_t>& built,
                                  const std::vector<uint8_t>& now, const TLocalTime& when);
