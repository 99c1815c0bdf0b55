// What the floppy check box attaches at Connect, and what becomes of it at Disconnect: an image
// file served as it is, a folder served as a FAT12 image built in memory (folder_image.h) whose
// changes are kept beside it afterwards (folder_changes.h), or a new blank image written to a
// file first (fat_format.h) and then served as an image file.
//
// One session per window (or terminal), window thread only; it calls the floppy service, which
// must outlive it. Nothing throws: failures come back as text for the user.
#pragma once

#include "fat_format.h"
#include "fat_time.h"
#include "floppy_service.h"
#include "memory_image.h"

#include <memory>
#include <string>
#include <vector>

struct TFloppySource {
    enum class TKind { fkNone, fkImageFile, fkFolder, fkNewBlank };
    TKind kind = TKind::fkNone;
    std::string path;                   // the image file, the folder, or the new image's file
    const TFatFormat* format = nullptr; // fkNewBlank (FindFatFormat)
    std::string label;                  // fkNewBlank: the volume label

    static TFloppySource ImageFile(std::string path) {
        return {TKind::fkImageFile, std::move(path), nullptr, {}};
    }
    static TFloppySource Folder(std::string path) {
        return {TKind::fkFolder, std::move(path), nullptr, {}};
    }
    static TFloppySource NewBlank(std::string path, const TFatFormat* format, std::string label) {
        return {TKind::fkNewBlank, std::move(path), format, std::move(label)};
    }
};

class TFloppySession {
  public:
    // Connect, in place of the service's OpenImage and AllocTrackBuffer: makes ready what
    // `source` names and attaches it (its messages go to the console as OpenImage's do).
    // Returns the lines of one message box, attaching nothing, when a folder cannot be built
    // (everything left out, see BuildFolderImage) or a new image cannot be written; empty
    // otherwise, also for fkNone (nothing attached, the track buffer allocated as before).
    std::vector<std::string> Attach(const TFloppySource& source, TFloppyService& service);
    // Disconnect, after the service's CloseImage: for a folder, keeps what the target changed
    // beside it and returns the console line ("... went to PATH"); "" for anything else.
    std::string Detach(const TLocalTime& when);
    // The folder's floppy as the target left it (as built before the first write) into an
    // ordinary image file at `path`. "" on success, else why not (also when the floppy is no
    // folder's: an image file is its own image).
    std::string SaveAsImage(const std::string& path) const;

    bool ServesFolder() const { return served_ != nullptr; }
    const TFloppySource& Source() const { return source_; }

  private:
    TFloppySource source_;
    std::vector<uint8_t> built_;
    std::shared_ptr<TMemoryImage> served_;
    bool detached_ = true;
};
