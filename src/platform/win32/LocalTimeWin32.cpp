#include <windows.h>

#include "platform/LocalTime.h"

namespace hanamail {

namespace platform {

LocalTime localTimeNow()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    LocalTime out;
    out.year = st.wYear;
    out.month = st.wMonth;
    out.dayOfWeek = st.wDayOfWeek;
    out.day = st.wDay;
    out.hour = st.wHour;
    out.minute = st.wMinute;
    out.second = st.wSecond;
    out.millisecond = st.wMilliseconds;
    return out;
}

}  // namespace platform

}  // namespace hanamail
