#include "floppy_source.h"

#include "folder_changes.h"
#include "folder_image.h"

#include <ctime>

std::vector<std::string> TFloppySession::Attach(const TFloppySource& source,
                                                TFloppyService& service) {
    source_ = source;
    built_.clear();
    served_.reset();
    detached_ = false;
    switch (source.kind) {
    case TFloppySource::TKind::fkNone: break;
    case TFloppySource::TKind::fkImageFile: service.OpenImage(source.path); break;
    case TFloppySource::TKind::fkNewBlank: {
        if (!source.format) return {"No format was chosen for the new floppy image."};
        const std::string why = WriteBlankImage(source.path, *source.format, source.label);
        if (!why.empty())
            return {"The new floppy image " + source.path + " cannot be written: " + why};
        service.OpenImage(source.path);
        break;
    }
    case TFloppySource::TKind::fkFolder: {
        TFolderImage folder =
            BuildFolderImage(source.path, static_cast<uint32_t>(std::time(nullptr)));
        if (!folder.Built()) {
            std::vector<std::string> lines = {
                "The folder " + source.path +
                " cannot be served as a floppy; nothing is attached:"};
            lines.insert(lines.end(), folder.left_out.begin(), folder.left_out.end());
            return lines;
        }
        built_ = folder.bytes;
        served_ = std::make_shared<TMemoryImage>(std::move(folder.bytes));
        service.OpenMemoryImage(served_, source.path);
        break;
    }
    }
    service.AllocTrackBuffer();
    return {};
}

std::string TFloppySession::Detach(const TLocalTime& when) {
    if (detached_ || !served_) {
        detached_ = true;
        return "";
    }
    detached_ = true;
    return WriteChangesBeside(source_.path, built_, served_->Bytes(), when).summary;
}

std::string TFloppySession::SaveAsImage(const std::string& path) const {
    if (!served_) return "Only a folder's floppy lives in memory; an image file is its own image.";
    return WriteImageFile(path, served_->Bytes());
}
