#include "text_log.h"

#include "screen_text.h"

#include <cstdio>

std::string IsoTimestamp(const std::tm& local, long utc_offset_seconds) {
    const char sign = utc_offset_seconds < 0 ? '-' : '+';
    const long offset_minutes = (utc_offset_seconds < 0 ? -utc_offset_seconds : utc_offset_seconds) / 60;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, sign, offset_minutes / 60, offset_minutes % 60);
    return text;
}

std::string LocalTimestamp(std::time_t t) {
    // Both calls return the same static object on some systems: copy each at once.
    const std::tm* p = std::localtime(&t);
    if (p == nullptr) return "(no time)";
    const std::tm local = *p;
    p = std::gmtime(&t);
    if (p == nullptr) return IsoTimestamp(local, 0);
    const std::tm utc = *p;
    // The offset is less than a day either way, so the dates differ by one day at most (across
    // a new year, the later one is the 1st of January).
    const int days = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                                  : local.tm_yday - utc.tm_yday;
    const long offset = ((days * 24L + local.tm_hour - utc.tm_hour) * 60 + local.tm_min -
                         utc.tm_min) * 60 + local.tm_sec - utc.tm_sec;
    return IsoTimestamp(local, offset);
}

bool TTextLog::Start(const std::string& path) {
    stamped_ = -1;
    return writer_.Open(path);
}

void TTextLog::Line(const TCell* cells, int count) {
    const std::time_t now = clock_();
    if (now != stamped_) {
        stamped_ = now;
        stamp_ = LocalTimestamp(now);
    }
    line_ = stamp_;
    const std::string text = CellsText(cells, count);
    if (!text.empty()) {
        line_ += ' ';
        line_ += text;
    }
    line_ += kTextLineEnd;
    writer_.Append(line_);
}

void TTextLog::Row(const TCell* cells, int count) {
    if (writer_.IsOpen()) Line(cells, count);
}

bool TTextLog::Stop(const TScreen& screen) {
    if (writer_.IsOpen()) {
        int used = 0;
        for (int row = 0; row < kScreenRows; ++row)
            if (!CellsText(&screen.Cell(row, 0), kScreenColumns).empty()) used = row + 1;
        for (int row = 0; row < used; ++row) Line(&screen.Cell(row, 0), kScreenColumns);
    }
    return writer_.Close();
}
