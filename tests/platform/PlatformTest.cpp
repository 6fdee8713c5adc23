#include "platform/Automation.h"
#include "platform/HostNameCache.h"
#include "platform/Platform.h"
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

TEST(Platform, CodePagesAreKnownValues)
{
#ifdef _WIN32
    EXPECT_GT(platform::ansiCodePage(), 0);
    EXPECT_GT(platform::oemCodePage(), 0);
#else
    EXPECT_EQ(platform::ansiCodePage(), 65001);
    EXPECT_EQ(platform::oemCodePage(), 437);
#endif
}

TEST(Platform, UuidsAreUniqueVersion4Strings)
{
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        platform::Uuid u{};
        ASSERT_TRUE(platform::createUuid(u));
        std::string s = platform::uuidToString(u);
        ASSERT_EQ(s.size(), 36u);
        EXPECT_EQ(s[8], '-');
        EXPECT_EQ(s[14], '4');
        // Version 4 and the RFC 4122 variant (10xx) in the binary form too.
        EXPECT_EQ(u.data3 >> 12, 4);
        EXPECT_EQ(u.data4[0] & 0xC0, 0x80);
        EXPECT_NE(std::string("89AB").find(s[19]), std::string::npos) << s;
        EXPECT_EQ(s.find_first_of("abcdef"), std::string::npos);
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(Platform, LocalHostNameIsUsableInAMessageId)
{
    std::string name = platform::localHostName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.find_first_of(" <>@\r\n"), std::string::npos) << name;
}

int g_lookups = 0;

std::string countedLookup(const std::string& shortName)
{
    ++g_lookups;
    return shortName + ".example.net#" + std::to_string(g_lookups);
}

// One lookup serves until it is too old or the host has another short name;
// a tick count that wrapped is still a short time.
TEST(Platform, HostNameIsLookedUpOnceForAWhile)
{
    platform::HostNameCache cache;
    g_lookups = 0;
    const uint32_t start = 0xFFFFFFFFu - 1000u;
    EXPECT_EQ(cache.lookup("vm", start, countedLookup), "vm.example.net#1");
    EXPECT_EQ(cache.lookup("vm", start + 2000u, countedLookup), "vm.example.net#1");
    EXPECT_EQ(cache.lookup("vm", start + platform::HostNameCache::kKeepMs - 1, countedLookup), "vm.example.net#1");
    EXPECT_EQ(g_lookups, 1);
    EXPECT_EQ(cache.lookup("vm", start + platform::HostNameCache::kKeepMs, countedLookup), "vm.example.net#2");
    EXPECT_EQ(cache.lookup("other", start + platform::HostNameCache::kKeepMs, countedLookup), "other.example.net#3");
    EXPECT_EQ(cache.lookup("vm", start + platform::HostNameCache::kKeepMs + 1, countedLookup), "vm.example.net#4");

    // The system's name: the same on every call while the host keeps it.
    const std::string name = platform::socketHostName();
    EXPECT_FALSE(name.empty());
    EXPECT_LT(name.size(), 500u);
    EXPECT_EQ(platform::socketHostName(), name);
}

TEST(Platform, TickCountAdvancesAcrossSleep)
{
    uint32_t a = platform::tickCount();
    platform::sleepMs(60);
    uint32_t elapsed = platform::tickCount() - a;
    EXPECT_GE(elapsed, 40u);  // tick resolution may be 16 ms
    EXPECT_LT(elapsed, 5000u);
}

TEST(Platform, LastErrorTextIsTrimmed)
{
#ifdef _WIN32
    platform::setLastErrorCode(2);  // file not found
#else
    platform::setLastErrorCode(2);  // ENOENT
#endif
    StringBuffer sb("  ");
    sb.appendLastError();
    EXPECT_GT(sb.getSize(), 5);
    EXPECT_NE(sb.charAt(0), ' ');
    EXPECT_NE(sb.lastChar(), '\n');
    EXPECT_NE(sb.lastChar(), ' ');
}

TEST(Automation, BstrKeepsLengthAndEmbeddedNuls)
{
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR b = SysAllocStringLen(text, 3);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[3], 0);
    SysFreeString(b);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

}  // namespace
