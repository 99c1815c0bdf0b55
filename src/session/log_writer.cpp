#include "log_file.h"

bool TLogWriter::Open(const std::string& path) {
    Close();
    buffer_.clear();
    bytes_ = 0;
    failed_ = false;
    path_ = path;
    return file_.Create(path);
}

void TLogWriter::Append(std::string_view text) {
    if (!file_.IsOpen()) return;
    buffer_.append(text);
    bytes_ += text.size();
    if (buffer_.size() >= kFlushBytes) Flush();
}

bool TLogWriter::Flush() {
    if (!file_.IsOpen()) return !failed_;
    const bool ok = (buffer_.empty() || file_.Write(buffer_.data(), buffer_.size())) &&
                    file_.StillNamed();
    buffer_.clear();
    if (!ok) {
        failed_ = true;
        file_.Close();
    }
    return ok;
}

bool TLogWriter::Close() {
    bool ok = Flush();
    if (!file_.Close()) ok = false; // a failed flush closed it already, with its reason kept
    buffer_.clear();
    failed_ = false; // reported through the result
    return ok;
}
