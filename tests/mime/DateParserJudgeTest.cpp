#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "mime/DateParser.h"

using namespace hanamail;

namespace {

#ifdef _WIN32
TEST(DateParserJudge, AgreesWithPythonEmailUtils)
{
    GTEST_SKIP() << "the judge runs on the POSIX build";
}
#else

// Date values as mailers, servers and gateways write them.
// clang-format off
const char* const kDates[] = {
    "Tue, 1 Jan 2002 00:30:00 +0900", "Mon, 07 Dec 2026 11:30:00 +0900",
    "Thu, 13 Feb 1969 23:32:54 -0330", "Fri, 21 Nov 1997 09:55:06 -0600",
    "Fri, 21 Nov 97 09:55:06 -0600", "Wed, 31 Dec 2008 23:30:00 -0100",
    "Sun, 29 Feb 2004 22:00:00 -0500", "Mon, 1 Mar 2004 01:00:00 +0500",
    "Tue, 28 Feb 2023 20:00:00 -0430", "Sun, 31 Dec 2099 23:00:00 -0100",
    "1 Jan 02 12:00:00 GMT", "1 Jan 99 12:00:00 GMT",
    "15 Aug 2021 08:05:09 +0200", "Wed, 02 Oct 2002 08:00:00 EST",
    "Sun, 06 Nov 1994 08:49:37 GMT", "Mon, 2 Jan 2006 15:04:05 -0700",
    "Thu, 04 Jan 2024 09:12:45 +0530", "Thu, 04 Jan 2024 02:12:45 +0545",
    "Sat, 6 Jul 2019 00:00:00 +1400", "Sat, 6 Jul 2019 23:30:00 -1200",
    "Tue, 10 Sep 2019 10:10:10 EDT", "Tue, 10 Sep 2019 10:10:10 CDT",
    "Tue, 10 Sep 2019 10:10:10 PDT", "Tue, 10 Sep 2019 10:10:10 UT",
    "Tue, 10 Sep 2019 10:10:10 Z", "Tue, 10 Sep 2019 10:10:10 -0000",
    "Tue, 10 Sep 2019 10:10:10", "Tue, 10 Sep 2019 10:10:10 +0000 (UTC)",
    "Tue, 10 Sep 2019 10:10:10 -0700 (PDT)", "Sun, 01 Oct 2000 01:02:03 +0000 (Coordinated Universal Time)",
    "tue, 10 sep 2019 10:10:10 +0100", "Tue,10 Sep 2019 10:10:10 +0100",
    "Tue 10 Sep 2019 10:10:10 +0100", "Tue, 10 Sep 2019 10:10:10 +0100\t",
    "Tue, 10 Sep 2019 10:10:10+0100", "Tue, 10 September 2019 10:10:10 +0100",
    "Tuesday, 10 Sep 2019 10:10:10 +0100", "10 Sep 2019 10:10:10 +0100",
    "Tue, 10 Sep 2019 10:10:10 +0100 GMT", "Sun, 1 Oct 2000 1:2:3 +0000",
    "Thu, 01 Jan 1970 00:00:00 +0000", "Fri, 13 Dec 1901 20:45:52 +0000",
    "Wed, 1 Jan 2020 00:00:00 +2359", "Mon, 30 Dec 2019 23:59:59 -2359",
    "Thu, 1 Jan 1601 00:00:00 +0000",
};
// clang-format on

// Python prints one line per input: "Y-M-D h:m:s" in UTC, or "-" when it refuses.
const char* const kJudge = R"(import sys, email.utils, datetime
for line in open(sys.argv[1], encoding='utf-8').read().split('\n')[:-1]:
    try:
        dt = email.utils.parsedate_to_datetime(line)
        if dt.tzinfo is not None:
            dt = dt.astimezone(datetime.timezone.utc)
        print('%04d-%02d-%02d %02d:%02d:%02d' % (dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second))
    except Exception:
        print('-')
)";

TEST(DateParserJudge, AgreesWithPythonEmailUtils)
{
    if (std::system("python3 -c 'import email.utils' >/dev/null 2>&1") != 0)
        FAIL() << "python3 is the judge here and is missing (scripts/setup installs it)";
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("hanamail-dates-" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::ofstream(dir / "judge.py") << kJudge;
        std::ofstream in(dir / "dates.txt", std::ios::binary);
        for (const char* d : kDates) in << d << '\n';
    }
    std::string cmd = "python3 '" + (dir / "judge.py").string() + "' '" + (dir / "dates.txt").string() + "'";
    FILE* pipe = popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> verdicts;
    char line[256];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        verdicts.push_back(s);
    }
    EXPECT_EQ(pclose(pipe), 0);
    fs::remove_all(dir);
    ASSERT_EQ(verdicts.size(), std::size(kDates));

    int agreed = 0;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        CalendarTime t{};
        bool ours = DateParser::ParseDate(kDates[i], t);
        // Every form of the table is one both sides must accept.
        EXPECT_TRUE(ours) << kDates[i];
        EXPECT_NE(verdicts[i], "-") << kDates[i];
        if (!ours || verdicts[i] == "-") continue;
        char mine[64];
        std::snprintf(mine, sizeof mine, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                      t.second);
        EXPECT_EQ(std::string(mine), verdicts[i]) << kDates[i];
        ++agreed;
    }
    EXPECT_GE(agreed, 40);
}

#endif

}  // namespace
