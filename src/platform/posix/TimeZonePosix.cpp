#include <ctime>

#include "platform/TimeZone.h"

namespace hanamail {

namespace platform {

bool localTimeAndBias(LocalTime& out, int32_t& biasMinutes)
{
    out = LocalTime{};
    biasMinutes = 0;
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
    // localtime_r need not look at TZ again; a zone changed while we run should still count.
    tzset();
    tm t{};
    if (!localtime_r(&ts.tv_sec, &t)) return false;
    out.year = static_cast<uint16_t>(t.tm_year + 1900);
    out.month = static_cast<uint16_t>(t.tm_mon + 1);
    out.dayOfWeek = static_cast<uint16_t>(t.tm_wday);
    out.day = static_cast<uint16_t>(t.tm_mday);
    out.hour = static_cast<uint16_t>(t.tm_hour);
    out.minute = static_cast<uint16_t>(t.tm_min);
    out.second = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
    out.millisecond = static_cast<uint16_t>(ts.tv_nsec / 1000000L);
    biasMinutes = static_cast<int32_t>(-t.tm_gmtoff / 60);
    return true;
}

}  // namespace platform

}  // namespace hanamail
