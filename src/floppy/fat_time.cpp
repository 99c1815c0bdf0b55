#include "fat_time.h"

#include <cstdio>

namespace {

TLocalTime Clamped(const TLocalTime& t) {
    if (t.year < 1980) return TLocalTime{};
    if (t.year > 2107) return TLocalTime{2107, 12, 31, 23, 59, 59};
    return t;
}

} // namespace

TLocalTime LocalTimeOf(std::time_t t) {
    const std::tm* tm = std::localtime(&t);
    if (!tm) return TLocalTime{};
    return TLocalTime{tm->tm_year + 1900, tm->tm_mon + 1, tm->tm_mday,
                      tm->tm_hour,        tm->tm_min,     tm->tm_sec};
}

TLocalTime LocalTimeNow() {
    return LocalTimeOf(std::time(nullptr));
}

std::time_t TimeOfLocal(const TLocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1; // as the zone's rules say for that day
    return std::mktime(&tm);
}

uint16_t FatDate(const TLocalTime& local) {
    const TLocalTime t = Clamped(local);
    return static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
}

uint16_t FatTime(const TLocalTime& local) {
    const TLocalTime t = Clamped(local);
    return static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
}

TLocalTime FromFat(uint16_t date, uint16_t time) {
    TLocalTime t;
    t.year = 1980 + (date >> 9);
    t.month = (date >> 5) & 15;
    t.day = date & 31;
    t.hour = time >> 11;
    t.minute = (time >> 5) & 63;
    t.second = (time & 31) * 2;
    return t;
}

std::string StampText(const TLocalTime& t) {
    char s[32];
    std::snprintf(s, sizeof s, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return s;
}

std::string DateTimeText(const TLocalTime& t) {
    char s[32];
    std::snprintf(s, sizeof s, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return s;
}
