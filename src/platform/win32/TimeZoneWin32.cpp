#include <windows.h>

#include "platform/LocalTime.h"
#include "platform/TimeZone.h"

namespace hanamail {

namespace platform {

bool localTimeAndBias(LocalTime& out, int32_t& biasMinutes)
{
    out = localTimeNow();

    TIME_ZONE_INFORMATION tzi;
    DWORD id = GetTimeZoneInformation(&tzi);
    if (id == TIME_ZONE_ID_INVALID) {
        biasMinutes = 0;
        return false;
    }
    biasMinutes = static_cast<int32_t>(tzi.Bias);
    if (id == TIME_ZONE_ID_DAYLIGHT)
        biasMinutes += static_cast<int32_t>(tzi.DaylightBias);
    else if (id == TIME_ZONE_ID_STANDARD)
        biasMinutes += static_cast<int32_t>(tzi.StandardBias);
    return true;
}

}  // namespace platform

}  // namespace hanamail
