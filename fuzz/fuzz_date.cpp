// Arbitrary text through the Date parser: whatever it accepts is a real
// calendar time, and a date it formats itself parses back to the same instant.
#include <cstddef>
#include <cstdint>
#include <string>

#include "mime/DateParser.h"

using namespace hanamail;

namespace {

void require(bool condition)
{
    if (!condition) __builtin_trap();
}

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int daysIn(int y, int m)
{
    static const int kLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kLength[m - 1];
}

void checkValid(const CalendarTime& t)
{
    require(t.year >= 1601 && t.year <= 30827);
    require(t.month >= 1 && t.month <= 12);
    require(t.day >= 1 && t.day <= daysIn(t.year, t.month));
    require(t.dayOfWeek <= 6 && t.hour <= 23 && t.minute <= 59 && t.second <= 60 && t.millisecond == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    CalendarTime t{};
    if (!DateParser::ParseDate(text.c_str(), t)) return 0;
    checkValid(t);

    // Written back in UTC it must read as the very same fields.
    if (t.year >= 1700 && t.year <= 9999) {
        platform::LocalTime lt{t.year, t.month, t.dayOfWeek, t.day, t.hour, t.minute, t.second, 0};
        char buf[200];
        require(DateParser::FormatDate(lt, 0, buf, sizeof buf));
        CalendarTime back{};
        require(DateParser::ParseDate(buf, back));
        require(back.year == t.year && back.month == t.month && back.day == t.day && back.hour == t.hour &&
                back.minute == t.minute && back.second == t.second && back.dayOfWeek == t.dayOfWeek);
    }
    return 0;
}
