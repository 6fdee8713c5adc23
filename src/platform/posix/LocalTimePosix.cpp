#include <atomic>
#include <cstdint>
#include <ctime>

#include "platform/LocalTime.h"
#include "platform/TimeZone.h"

namespace hanamail {

namespace platform {

namespace {

// localtime_r need not look at TZ again, and a zone changed while we run
// should still count; but tzset reads the zone file's status each time, and
// every log line asks for the time. Once a second is soon enough.
void refreshZone()
{
    static std::atomic<int64_t> lastSecond{-1};
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        tzset();
        return;
    }
    const int64_t second = now.tv_sec;
    if (lastSecond.exchange(second, std::memory_order_relaxed) != second) tzset();
}

// The local time now and its offset east of UTC in seconds; false when the
// clock or the zone cannot be read.
bool readLocalTime(LocalTime& out, long& offsetSeconds)
{
    out = LocalTime{};
    offsetSeconds = 0;
    timespec ts{};
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return false;
    refreshZone();
    tm t{};
    if (!localtime_r(&ts.tv_sec, &t)) return false;
    out.year = static_cast<uint16_t>(t.tm_year + 1900);
    out.month = static_cast<uint16_t>(t.tm_mon + 1);
    out.dayOfWeek = static_cast<uint16_t>(t.tm_wday);
    out.day = static_cast<uint16_t>(t.tm_mday);
    out.hour = static_cast<uint16_t>(t.tm_hour);
    out.minute = static_cast<uint16_t>(t.tm_min);
    // A leap second reads as second 60; SYSTEMTIME has no room for it.
    out.second = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
    out.millisecond = static_cast<uint16_t>(ts.tv_nsec / 1000000L);
    offsetSeconds = t.tm_gmtoff;
    return true;
}

}  // namespace

LocalTime localTimeNow()
{
    LocalTime out;
    long offset = 0;
    readLocalTime(out, offset);
    return out;
}

bool localTimeAndBias(LocalTime& out, int32_t& biasMinutes)
{
    long offset = 0;
    const bool ok = readLocalTime(out, offset);
    // The bias is minutes west of UTC, as on Windows.
    biasMinutes = static_cast<int32_t>(-offset / 60);
    return ok;
}

}  // namespace platform

}  // namespace hanamail
