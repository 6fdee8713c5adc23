#pragma once
#include <cstdint>

namespace hanamail {

namespace platform {

// Broken-down local time, the fields of a Windows SYSTEMTIME (dayOfWeek 0 = Sunday).
struct LocalTime {
    uint16_t year;
    uint16_t month;
    uint16_t dayOfWeek;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t millisecond;
};

LocalTime localTimeNow();

}  // namespace platform

}  // namespace hanamail
