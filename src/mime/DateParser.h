#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/LocalTime.h"

namespace hanamail {

class StringBuffer;

// A calendar time (UTC after ParseDate): the fields of platform::LocalTime.
using CalendarTime = platform::LocalTime;

// The Date header: the current local time in its mail form, and its parser.
class DateParser {
public:
    // "Mon, 07 Dec 2026 11:30:00 +0900" for now, NUL-terminated. False (out empty
    // when capacity allows) when the clock cannot be read or out is too small.
    static bool FormatNow(char* out, size_t capacity);
    static bool FormatNow(StringBuffer& out);
    // The same for a given local time and zone bias (local = UTC - bias minutes).
    // English names whatever the host's locale.
    static bool FormatDate(const platform::LocalTime& t, int32_t biasMinutes, char* out, size_t capacity);

    // A Date value read into UTC calendar fields; false (out unchanged) when the
    // text is not "[day,] d mon yyyy hh:mm:ss [zone]" or names an impossible time.
    static bool ParseDate(const char* text, CalendarTime& out);
};

}  // namespace hanamail
