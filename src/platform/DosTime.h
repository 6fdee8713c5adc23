#pragma once
#include <cstdint>

namespace hanamail {

namespace platform {

// The current local time as the DOS date and time of zip headers.
void dosDateTimeNow(uint16_t& date, uint16_t& time);

// DOS packing: date = (year - 1980) << 9 | month << 5 | day,
// time = hour << 11 | minute << 5 | second / 2. Years the format cannot hold
// are clamped to its range, 1980-01-01 00:00:00 to 2107-12-31 23:59:58.
inline void packDosDateTime(int year, int month, int day, int hour, int minute, int second, uint16_t& date,
                            uint16_t& time)
{
    if (year < 1980) {
        year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    } else if (year > 2107) {
        year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
    }
    if (second > 59)  // a leap second
        second = 59;
    date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    time = static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

}  // namespace platform

}  // namespace hanamail
