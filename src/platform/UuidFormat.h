#pragma once
#include <cstdio>
#include <string>

#include "platform/Platform.h"

namespace hanamail {

namespace platform {

inline std::string formatUuid(const Uuid& u)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", u.data1, u.data2, u.data3,
                  u.data4[0], u.data4[1], u.data4[2], u.data4[3], u.data4[4], u.data4[5], u.data4[6], u.data4[7]);
    return buf;
}

}  // namespace platform

}  // namespace hanamail
