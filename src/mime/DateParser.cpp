// Dates of header fields: the date-time of RFC 5322 section 3.3, with the
// obsolete forms of section 4.3 read too.
#include "mime/DateParser.h"

#include <cstdio>
#include <cstring>

#include "foundation/StringBuffer.h"
#include "platform/TimeZone.h"

namespace hanamail {

namespace {

const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDayKeys[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
const char* const kMonthKeys[12] = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};

// The years a SYSTEMTIME can hold.
constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;
constexpr size_t kMaxText = 199;

struct ZoneName {
    const char* name;
    int minutes;  // east of UTC
};
const ZoneName kZones[] = {{"ut", 0},     {"gmt", 0},    {"z", 0},      {"est", -300}, {"edt", -240},
                           {"cst", -360}, {"cdt", -300}, {"mst", -420}, {"mdt", -360}, {"pst", -480},
                           {"pdt", -420}, {"a", -60},    {"m", -720},   {"n", 60},     {"y", 720}};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int daysInMonth(int y, int m)
{
    static const int kLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kLength[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
void civilFromDays(int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}
int weekday(int64_t days)
{
    int w = static_cast<int>((days + 4) % 7);  // 1970-01-01 was a Thursday
    return w < 0 ? w + 7 : w;
}

// A cursor over the lower-cased copy of the text.
struct Scan {
    const char* p;
    const char* end;

    bool atEnd() const { return p >= end; }
    void skipBlanks()
    {
        while (p < end && isBlank(*p)) ++p;
    }
    void skipWord()
    {
        while (p < end && !isBlank(*p)) ++p;
    }
    // Blanks, then at least one digit and at most maxDigits (0: any). Large values saturate.
    bool number(int& out, int maxDigits = 0, bool blanksFirst = true)
    {
        if (blanksFirst) skipBlanks();
        if (p >= end || !isDigit(*p)) return false;
        long v = 0;
        int k = 0;
        while (p < end && isDigit(*p) && (maxDigits == 0 || k < maxDigits)) {
            if (v < 1000000) v = v * 10 + (*p - '0');
            ++p;
            ++k;
        }
        out = static_cast<int>(v);
        return true;
    }
};

}  // namespace

bool DateParser::FormatDate(const platform::LocalTime& t, int32_t biasMinutes, char* out, size_t capacity)
{
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    if (t.month < 1 || t.month > 12 || t.dayOfWeek > 6) return false;
    // The sign comes from the bias itself: -30 / 60 truncates to 0 and would lose it.
    const char sign = biasMinutes > 0 ? '-' : '+';
    const int32_t magnitude = biasMinutes < 0 ? -biasMinutes : biasMinutes;
    int n =
        std::snprintf(out, capacity, "%s, %02u %s %04u %02u:%02u:%02u %c%02d%02d", kDays[t.dayOfWeek],
                      static_cast<unsigned>(t.day), kMonths[t.month - 1], static_cast<unsigned>(t.year),
                      static_cast<unsigned>(t.hour), static_cast<unsigned>(t.minute), static_cast<unsigned>(t.second),
                      sign, static_cast<int>(magnitude / 60), static_cast<int>(magnitude % 60));
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool DateParser::FormatNow(char* out, size_t capacity)
{
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    platform::LocalTime t{};
    int32_t bias = 0;
    if (!platform::localTimeAndBias(t, bias)) return false;
    return FormatDate(t, bias, out, capacity);
}

bool DateParser::FormatNow(StringBuffer& out)
{
    char text[200];
    if (!FormatNow(text, sizeof text)) return false;
    return out.append(text);
}

bool DateParser::ParseDate(const char* text, CalendarTime& out)
{
    if (!text) return false;
    char buf[kMaxText + 1];
    size_t len = 0;
    while (len < kMaxText && text[len]) {
        char c = text[len];
        buf[len++] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    buf[len] = '\0';
    Scan sc{buf, buf + len};
    sc.skipBlanks();
    if (sc.atEnd()) return false;

    if (sc.end - sc.p >= 3) {
        for (const char* key : kDayKeys) {
            if (std::strncmp(sc.p, key, 3) == 0) {
                while (!sc.atEnd() && !isBlank(*sc.p) && *sc.p != ',' && !isDigit(*sc.p)) ++sc.p;
                sc.skipBlanks();
                if (!sc.atEnd() && *sc.p == ',') ++sc.p;
                sc.skipBlanks();
                if (sc.atEnd()) return false;
                break;
            }
        }
    }

    int day = 0, year = 0, month = 0;
    if (!sc.number(day)) return false;
    sc.skipBlanks();
    const char* word = sc.p;
    sc.skipWord();
    if (sc.p - word < 3) return false;
    for (int i = 0; i < 12 && month == 0; ++i)
        if (std::strncmp(word, kMonthKeys[i], 3) == 0) month = i + 1;
    if (month == 0 || !sc.number(year)) return false;
    sc.skipWord();
    // Two- and three-digit years; a four-digit year stands as written.
    if (year < 1000) year += year < 50 ? 2000 : 1900;

    int hour = 0, minute = 0, second = 0;
    if (!sc.number(hour)) return false;
    if (sc.atEnd() || *sc.p++ != ':' || !sc.number(minute)) return false;
    if (sc.atEnd() || *sc.p++ != ':' || !sc.number(second)) return false;
    // A zone written straight after the seconds ("12:00:00+0900") still counts.
    if (sc.atEnd() || (*sc.p != '+' && *sc.p != '-')) sc.skipWord();
    sc.skipBlanks();

    if (year < kMinYear || year > kMaxYear || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60)
        return false;

    int zoneEast = 0;  // minutes east of UTC
    if (!sc.atEnd() && *sc.p == '+') ++sc.p;
    sc.skipBlanks();
    const char* zone = sc.p;
    sc.skipWord();
    const size_t zoneLen = static_cast<size_t>(sc.p - zone);
    if (zoneLen > 0) {
        if (zone[0] == '-' || isDigit(zone[0])) {
            const bool west = zone[0] == '-';
            Scan z{zone + (west ? 1 : 0), sc.p};
            int zh = 0, zm = 0;
            if (!z.number(zh, 2, false) || !z.number(zm, 2, false)) return false;
            // Beyond a day the one-day carry below could not place the time.
            if (zh > 23 || zm > 59) return false;
            zoneEast = (zh * 60 + zm) * (west ? -1 : 1);
        } else {
            for (const ZoneName& zn : kZones) {
                if (std::strlen(zn.name) == zoneLen && std::strncmp(zone, zn.name, zoneLen) == 0) {
                    zoneEast = zn.minutes;
                    break;
                }
            }
        }
    }

    int64_t days = daysFromCivil(year, month, day);
    int minutes = hour * 60 + minute - zoneEast;
    if (minutes < 0) {
        minutes += 1440;
        --days;
    } else if (minutes >= 1440) {
        minutes -= 1440;
        ++days;
    }
    int y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    if (y < kMinYear || y > kMaxYear) return false;
    out.year = static_cast<uint16_t>(y);
    out.month = static_cast<uint16_t>(m);
    out.dayOfWeek = static_cast<uint16_t>(weekday(days));
    out.day = static_cast<uint16_t>(d);
    out.hour = static_cast<uint16_t>(minutes / 60);
    out.minute = static_cast<uint16_t>(minutes % 60);
    out.second = static_cast<uint16_t>(second);
    out.millisecond = 0;
    return true;
}

}  // namespace hanamail
