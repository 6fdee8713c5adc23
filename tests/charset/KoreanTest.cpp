#include <gtest/gtest.h>

#include <string>

#include "ConvertHelpers.h"
#include "charset/Korean.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

using namespace convtest;

namespace {

const Bytes kDesignator = "\x1B$)C";

Bytes toIso(const Bytes& ks, bool* ok = nullptr)
{
    DataBuffer out;
    const bool r = Korean().ksToIso2022kr(reinterpret_cast<const unsigned char*>(ks.data()),
                                          static_cast<uint32_t>(ks.size()), out);
    if (ok) *ok = r;
    return toBytes(out);
}

Bytes toKs(const Bytes& iso)
{
    DataBuffer out;
    Korean().iso2022krToKs(reinterpret_cast<const unsigned char*>(iso.data()), static_cast<uint32_t>(iso.size()), out);
    return toBytes(out);
}

TEST(Korean, EncoderShiftsAroundHangul)
{
    EXPECT_EQ(toIso("a\xB0\xA1"
                    "b"),
              kDesignator +
                  "a\x0E"
                  "0!\x0F"
                  "b");
    EXPECT_EQ(toIso("\xB0\xA1"), kDesignator +
                                     "\x0E"
                                     "0!");        // no SI at the end
    EXPECT_EQ(toIso("abc"), kDesignator + "abc");  // designator even for ASCII
    EXPECT_EQ(toIso("\xB0\xA1\xB3\xAA\r\n"), kDesignator +
                                                 "\x0E"
                                                 "0!3*\x0F\r\n");
    EXPECT_EQ(toIso(""), "");
}

TEST(Korean, EncoderDropsWhatIso2022KrCannotHold)
{
    bool ok = true;
    // Extended Hangul of 949 (8141 = U+AC02) is outside KS X 1001.
    EXPECT_EQ(toIso("a\x81\x41"
                    "b",
                    &ok),
              kDesignator + "ab");
    EXPECT_FALSE(ok);
    EXPECT_EQ(toIso("\xB0\n", &ok), kDesignator + "\n");  // broken pair: the LF stays
    EXPECT_FALSE(ok);
    EXPECT_EQ(toIso("a\xB0", &ok), kDesignator + "a");
    EXPECT_FALSE(ok);
    // Whatever comes in, the output is 7-bit.
    Bytes all;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; b += 7) all += {static_cast<char>(a), static_cast<char>(b)};
    for (unsigned char c : toIso(all)) ASSERT_LT(c, 0x80);
}

TEST(Korean, DecoderFollowsShiftsAndSkipsTheDesignator)
{
    EXPECT_EQ(toKs(kDesignator + "ab\x0E"
                                 "0!\x0F"
                                 "c"),
              "ab\xB0\xA1"
              "c");
    EXPECT_EQ(toKs("\x1Bxy"), "xy");    // a lone ESC is dropped
    EXPECT_EQ(toKs("a\x1B$)"), "a$)");  // too short for the designator
    EXPECT_EQ(toKs("\x0E"
                   "0!0"),
              "\xB0\xA1");  // half a pair at the end
    EXPECT_EQ(toKs("\x0E"
                   "0!\r\n3*"),
              "\xB0\xA1\r\n\xB3\xAA");  // controls stand for themselves
    EXPECT_EQ(toKs("\x0E"
                   "0\x0F"
                   "a"),
              "a");  // SI after half a pair still counts
}

TEST(Korean, EngineRoundTripsHangul)
{
    // 한국어 텍스트
    const Bytes utf8 = utf8Of({0xD55C, 0xAD6D, 0xC5B4, 0x20, 0xD14D, 0xC2A4, 0xD2B8});
    const Result r = convert(65001, 50225, utf8);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, kDesignator +
                         "\x0E"
                         "GQ19>n\x0F \x0E"
                         "EX=:F.");
    EXPECT_EQ(hex(convert(50225, 65001, r.out).out), hex(utf8));
    EXPECT_EQ(hex(convert(50225, 949, r.out).out), "C7 D1 B1 B9 BE EE 20 C5 D8 BD BA C6 AE");
    // A syllable only the extended 949 has: 949 takes it, ISO-2022-KR does not.
    EXPECT_TRUE(convert(65001, 949, utf8Of({0xAC02})).ok);
    EXPECT_FALSE(convert(65001, 50225, utf8Of({0xAC02})).ok);
}

}  // namespace
