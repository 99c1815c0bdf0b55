// Local date and time as FAT keeps them: packed 16-bit date (years from 1980) and time (two
// seconds a step), in the local time of the PC, as DOS and Windows write them.
//
// std::localtime and std::mktime beneath: window thread only.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct TLocalTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

TLocalTime LocalTimeOf(std::time_t t);
TLocalTime LocalTimeNow();
// The calendar time of a local time; -1 when the system cannot tell.
std::time_t TimeOfLocal(const TLocalTime& t);

// Dates before 1980 become 1980-01-01 00:00:00 and after 2107 the last second of 2107, the
// range FAT can hold.
uint16_t FatDate(const TLocalTime& t);
uint16_t FatTime(const TLocalTime& t);
TLocalTime FromFat(uint16_t date, uint16_t time);

// "20261210-140322", for a folder's name.
std::string StampText(const TLocalTime& t);
// "2026-12-10 14:03:22".
std::string DateTimeText(const TLocalTime& t);
