#pragma once
#include <cstdint>

#include "platform/LocalTime.h"

namespace hanamail {

namespace platform {

// The current local time together with the zone bias in force at that moment,
// in minutes with local time = UTC - bias (so UTC+9 gives -540). Daylight saving
// time is included in the bias. False when the system cannot tell.
bool localTimeAndBias(LocalTime& out, int32_t& biasMinutes);

}  // namespace platform

}  // namespace hanamail
