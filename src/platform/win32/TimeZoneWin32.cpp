#include <windows.h>

#include "platform/TimeZone.h"

namespace platform {

bool localTimeAndBias(LocalTime& out, int32_t& biasMinutes)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    out.year = st.wYear;
    out.month = st.wMonth;
    out.dayOfWeek = st.wDayOfWeek;
    out.day = st.wDay;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    out.millisecond = st.wMilliseconds;

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
