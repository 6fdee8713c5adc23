#include <ctime>

#include "platform/LocalTime.h"

namespace hanamail {

namespace platform {

LocalTime localTimeNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    LocalTime out{};
    if (!localtime_r(&ts.tv_sec, &t)) return out;
    out.year = static_cast<uint16_t>(t.tm_year + 1900);
    out.month = static_cast<uint16_t>(t.tm_mon + 1);
    out.dayOfWeek = static_cast<uint16_t>(t.tm_wday);
    out.day = static_cast<uint16_t>(t.tm_mday);
    out.hour = static_cast<uint16_t>(t.tm_hour);
    out.minute = static_cast<uint16_t>(t.tm_min);
    // A leap second reads as second 60; SYSTEMTIME has no room for it.
    out.second = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
    out.millisecond = static_cast<uint16_t>(ts.tv_nsec / 1000000L);
    return out;
}

}  // namespace platform

}  // namespace hanamail
