#include <ctime>

#include "platform/DosTime.h"

namespace hanamail {

namespace platform {

void dosDateTimeNow(uint16_t& date, uint16_t& time)
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) {
        packDosDateTime(1980, 1, 1, 0, 0, 0, date, time);
        return;
    }
    packDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                    date, time);
}

}  // namespace platform

}  // namespace hanamail
