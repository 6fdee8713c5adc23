#include <windows.h>

#include "platform/DosTime.h"

namespace hanamail {

namespace platform {

void dosDateTimeNow(uint16_t& date, uint16_t& time)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FILETIME ft;
    WORD d = 0;
    WORD t = 0;
    // The system's own conversion; it refuses years outside the DOS range.
    if (SystemTimeToFileTime(&st, &ft) && FileTimeToDosDateTime(&ft, &d, &t)) {
        date = d;
        time = t;
        return;
    }
    packDosDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, date, time);
}

}  // namespace platform

}  // namespace hanamail
