#include "mime/DateParser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

// "2001-12-31 15:30:00 w1" or "rejected".
std::string parsed(const char* text)
{
    CalendarTime t{};
    if (!DateParser::ParseDate(text, t)) return "rejected";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u w%u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.dayOfWeek);
    return buf;
}

std::string formatted(int32_t bias, uint16_t dow = 1, uint16_t day = 7, uint16_t month = 12)
{
    platform::LocalTime t{2026, month, dow, day, 11, 30, 0, 0};
    char buf[200];
    if (!DateParser::FormatDate(t, bias, buf, sizeof buf)) return "failed";
    return buf;
}

TEST(DateParser, CarriesAcrossDayMonthAndYearIntoUtc)
{
    EXPECT_EQ(parsed("Tue, 1 Jan 2002 00:30:00 +0900"), "2001-12-31 15:30:00 w1");
    EXPECT_EQ(parsed("Sun, 29 Feb 2004 22:00:00 -0500"), "2004-03-01 03:00:00 w1");
    EXPECT_EQ(parsed("Mon, 1 Mar 2004 01:00:00 +0500"), "2004-02-29 20:00:00 w0");
    EXPECT_EQ(parsed("Thu, 1 Mar 1900 01:00:00 +0500"), "1900-02-28 20:00:00 w3");  // 1900 is no leap year
}

TEST(DateParser, CompletesShortYearsAndComputesTheWeekday)
{
    // No day name: the weekday still comes out right (1 Jan 2002 was a Tuesday).
    EXPECT_EQ(parsed("1 Jan 02 12:00:00 GMT"), "2002-01-01 12:00:00 w2");
    EXPECT_EQ(parsed("1 Jan 99 12:00:00 GMT"), "1999-01-01 12:00:00 w5");
    EXPECT_EQ(parsed("1 Jan 49 12:00:00 GMT").substr(0, 4), "2049");
    EXPECT_EQ(parsed("1 Jan 50 12:00:00 GMT").substr(0, 4), "1950");
    EXPECT_EQ(parsed("1 Jan 102 12:00:00 GMT").substr(0, 4), "2002");
    // A written-out year is never moved.
    EXPECT_EQ(parsed("1 Jan 1850 12:00:00 GMT").substr(0, 4), "1850");
    // A wrong day name does not make a wrong weekday.
    EXPECT_EQ(parsed("Fri, 1 Jan 2002 12:00:00 GMT"), "2002-01-01 12:00:00 w2");
}

TEST(DateParser, ReadsZoneNamesInAnyCase)
{
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10 EDT"), parsed("tue, 10 sep 2019 10:10:10 edt"));
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10 EDT"), "2019-09-10 14:10:10 w2");
    // Unlisted names and a missing zone are UTC.
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10 CEST"), "2019-09-10 10:10:10 w2");
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10"), "2019-09-10 10:10:10 w2");
    // The military letters keep their old RFC 822 signs.
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10 A"), "2019-09-10 11:10:10 w2");
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10 Y"), "2019-09-09 22:10:10 w1");
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 10:10:10+0100"), "2019-09-10 09:10:10 w2");
    EXPECT_EQ(parsed("Tue, 10 Sep 2019 23:59:60 +0000"), "2019-09-10 23:59:60 w2");
}

// Among them: no seconds, an unknown month, a time that would be 1600 in UTC.
TEST(DateParser, RejectsMalformedAndImpossibleDates)
{
    // clang-format off
    const char* bad[] = {
        "", "   \t", "Tue, ",
        "Tue, 10 Sep 2019 10:10 +0100", "Tue, 10 Foo 2019 10:10:10 +0100", "Sep 10 2019 10:10:10 +0100",
        "10 Sep", "Tue, 0 Sep 2019 10:10:10 +0100", "Tue, 32 Sep 2019 10:10:10 +0100",
        "31 Apr 2019 10:10:10 +0100", "29 Feb 2023 10:10:10 +0100", "10 Sep 2019 24:00:00 +0100",
        "10 Sep 2019 10:60:00 +0100", "10 Sep 2019 10:10:61 +0100", "10 Sep 1600 10:10:10 +0000",
        "10 Sep 30828 10:10:10 +0000", "1 Jan 1601 00:00:00 +0100", "10 Sep 2019 10:10:10 +9900",
        "10 Sep 2019 10:10:10 +09", "10 Sep 2019 10:10:10 +0960", "-1 Sep 2019 10:10:10 +0000",
        "10 Sep 99999999999999999999 10:10:10 +0000"};
    // clang-format on
    for (const char* text : bad) EXPECT_EQ(parsed(text), "rejected") << text;
    CalendarTime t{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(DateParser::ParseDate(nullptr, t));
    EXPECT_FALSE(DateParser::ParseDate("10 Sep 2019 10:10 +0100", t));
    EXPECT_EQ(t.year, 1);
    EXPECT_EQ(t.millisecond, 8);
}

TEST(DateParser, LooksAtTheFirst199CharactersOnly)
{
    std::string date = "Tue, 10 Sep 2019 10:10:10 +0100";
    EXPECT_EQ(parsed((date + " " + std::string(500, 'x')).c_str()), "2019-09-10 09:10:10 w2");
    std::string late = std::string(190, ' ') + date;
    EXPECT_EQ(parsed(late.c_str()), "rejected");
    std::string longZone = "10 Sep 2019 10:10:10 " + std::string(400, 'z');
    EXPECT_EQ(parsed(longZone.c_str()), "2019-09-10 10:10:10 w2");
}

TEST(DateParser, FormatsTheZoneFromTheBiasSign)
{
    EXPECT_EQ(formatted(-540), "Mon, 07 Dec 2026 11:30:00 +0900");
    EXPECT_EQ(formatted(300), "Mon, 07 Dec 2026 11:30:00 -0500");
    EXPECT_EQ(formatted(-330), "Mon, 07 Dec 2026 11:30:00 +0530");
    EXPECT_EQ(formatted(210), "Mon, 07 Dec 2026 11:30:00 -0330");
    EXPECT_EQ(formatted(30), "Mon, 07 Dec 2026 11:30:00 -0030");
    EXPECT_EQ(formatted(0), "Mon, 07 Dec 2026 11:30:00 +0000");
    EXPECT_EQ(formatted(0, 7), "failed");
    EXPECT_EQ(formatted(0, 1, 7, 13), "failed");

    platform::LocalTime t{2026, 12, 1, 7, 11, 30, 0, 0};
    char small[31];
    EXPECT_FALSE(DateParser::FormatDate(t, 0, small, sizeof small));
    EXPECT_STREQ(small, "");
    char exact[32];
    EXPECT_TRUE(DateParser::FormatDate(t, 0, exact, sizeof exact));
}

TEST(DateParser, FormatNowIsTheCurrentTimeAndParsesBack)
{
    // Under a foreign locale the names must stay English.
    const char* oldLocale = std::setlocale(LC_ALL, nullptr);
    std::string savedLocale = oldLocale ? oldLocale : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8");

    StringBuffer now;
    ASSERT_TRUE(DateParser::FormatNow(now));
    std::setlocale(LC_ALL, savedLocale.c_str());
    std::string text = now.getString();
    ASSERT_EQ(text.size(), 31u) << text;
    EXPECT_NE(std::string("SunMonTueWedThuFriSat").find(text.substr(0, 3)), std::string::npos) << text;

    CalendarTime t{};
    ASSERT_TRUE(DateParser::ParseDate(text.c_str(), t)) << text;
    using namespace std::chrono;
    auto parsedAt =
        sys_days{year{t.year} / month{t.month} / day{t.day}} + hours{t.hour} + minutes{t.minute} + seconds{t.second};
    auto diff = duration_cast<seconds>(system_clock::now() - parsedAt).count();
    EXPECT_GE(diff, -2) << text;
    EXPECT_LE(diff, 5) << text;
}

#ifndef _WIN32
// POSIX zone strings need no zone database.
class ZoneScope {
public:
    explicit ZoneScope(const char* tz)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (old) m_old = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneScope()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

TEST(DateParser, FormatNowWritesTheLocalZone)
{
    char buf[200];
    {
        ZoneScope zone("JST-9");
        ASSERT_TRUE(DateParser::FormatNow(buf, sizeof buf));
        EXPECT_STREQ(buf + std::strlen(buf) - 6, " +0900") << buf;
    }
    {
        ZoneScope zone("NST3:30");
        ASSERT_TRUE(DateParser::FormatNow(buf, sizeof buf));
        EXPECT_STREQ(buf + std::strlen(buf) - 6, " -0330") << buf;
    }
}
#endif

}  // namespace
