#include <gtest/gtest.h>

#include <string>

#include "ConvertHelpers.h"
#include "charset/Charset.h"
#include "charset/Gb18030.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

using namespace convtest;

namespace {

// The same few characters of every code length, many times: long enough
// that the codecs work in pieces and codes fall on every piece edge.
Bytes repeated(const Bytes& unit, uint32_t total)
{
    Bytes s;
    while (s.size() < total) s += unit;
    return s;
}

TEST(Gb18030, CodesOfEveryLength)
{
    EXPECT_CONVERTS(1200, 54936, u16({'A', 0x80, 0x20AC, 0x4E2D, 0x0100, 0xFFFF}),
                    "41 81 30 81 30 A2 E3 D6 D0 81 30 8B 38 84 31 A4 39", true);
    EXPECT_CONVERTS(1200, 54936, u16({0xD800, 0xDC00, 0xDBFF, 0xDFFF}), "90 30 81 30 E3 32 9A 35", true);
    EXPECT_CONVERTS(54936, 1200, Bytes("\x90\x30\x81\x30\xE3\x32\x9A\x35"), hex(u16({0xD800, 0xDC00, 0xDBFF, 0xDFFF})),
                    true);
    unsigned char four[4];
    uint32_t number = 0;
    for (uint32_t n : {0u, 39419u, 189000u, 189000u + 0xFFFFFu}) {
        Gb18030::fourBytes(n, four);
        ASSERT_TRUE(Gb18030::fourByteNumber(four, number));
        EXPECT_EQ(number, n);
    }
}

TEST(Gb18030, LossesAndTheResult)
{
    // A surrogate alone, an odd last byte: dropped, and the text does not fit.
    EXPECT_CONVERTS(1200, 54936, u16({'a', 0xDC00, 'b', 0xD800}), "61 62", false);
    EXPECT_CONVERTS(1200, 54936, Bytes("a\0b", 3), "61", false);
    // Decoding into UTF-16 counts what it drops; into UTF-8 the second step decides.
    EXPECT_CONVERTS(54936, 1200, Bytes("a\x80\xD6"), "61 00", false);
    EXPECT_CONVERTS(54936, 65001, Bytes("a\x80\xD6"), "61", true);
    // A UTF-16 source is read in the order its mark gives.
    EXPECT_CONVERTS(1200, 54936, Bytes("\xFE\xFF\x4E\x2D", 4), "D6 D0", true);
    // Table code pages meet it in UTF-16 both ways.
    EXPECT_CONVERTS(932, 54936, Bytes("\x82\xA0"), "A4 A2", true);
    EXPECT_CONVERTS(54936, 28591, Bytes("\x81\x30\x87\x30\xD6\xD0"), "C2", false);
}

TEST(Gb18030, PieceEdgesSplitNoCode)
{
    const Bytes utf16 = u16({'a', 0x4E2D, 0xD840, 0xDC00, 0x00E4, 'b', 0x20AC, 0xFFFF});
    for (uint32_t shift = 0; shift < 4; ++shift) {
        const Bytes text = Bytes(2 * shift, '\0') + repeated(utf16, 3 * 65536);
        const Result there = convert(1200, 54936, text);
        ASSERT_TRUE(there.ok);
        const Result back = convert(54936, 1200, there.out);
        EXPECT_TRUE(back.ok);
        EXPECT_TRUE(back.out == text) << shift;
    }
}

TEST(HzGb2312, ShiftsAroundGb2312)
{
    EXPECT_CONVERTS(65001, 52936, utf8Of({0x4E2D, 0x6587, '~', '\r', '\n', 0x4E2D, 'a'}), hex("~{VPND~}~~\r\n~{VP~}a"),
                    true);
    // Outside GB 2312 (GBK's small roman numeral, the euro): dropped, the mode kept.
    EXPECT_CONVERTS(65001, 52936, utf8Of({0x4E2D, 0x2170, 0x20AC, 0x6587}), hex("~{VPND~}"), false);
    // The dash and dot that GB 2312 has where the 936 table reads others.
    EXPECT_CONVERTS(1200, 52936, u16({0x2015, 0x30FB, 0x2014, 0x00B7}), hex("~{!*!$!*!$~}"), true);
    EXPECT_CONVERTS(52936, 1200, Bytes("~{!*!$~}"), hex(u16({0x2014, 0x00B7})), true);
    // Through the 936 table: gb2312 and HZ carry the same characters.
    EXPECT_CONVERTS(936, 52936, Bytes("\xD6\xD0x"), hex("~{VP~}x"), true);
    EXPECT_CONVERTS(52936, 936, Bytes("~{VP~}x"), "D6 D0 78", true);
}

TEST(HzGb2312, ReadingLeavesGbModeAtLineEnds)
{
    EXPECT_CONVERTS(52936, 1200, Bytes("~{VP\nVP"), hex(u16({0x4E2D, '\n', 'V', 'P'})), true);
    EXPECT_CONVERTS(52936, 1200, Bytes("a~\nb~}c~"), hex(u16({'a', 'b', 'c'})), false);
}

TEST(HzGb2312, PieceEdgesKeepTheMode)
{
    // One long GB run and many short ones across the pieces of the codec.
    const Bytes run = repeated(u16({0x4E2D}), 2 * 70000);
    const Result there = convert(1200, 52936, run);
    ASSERT_TRUE(there.ok);
    EXPECT_TRUE(there.out == "~{" + repeated("VP", 2 * 70000) + "~}");
    const Result back = convert(52936, 1200, there.out);
    EXPECT_TRUE(back.ok && back.out == run);

    for (uint32_t shift = 0; shift < 3; ++shift) {
        const Bytes mixed =
            repeated(u16({'x'}), 2 * shift) + repeated(u16({'a', 0x4E2D, 0x6587, '~', '\n'}), 3 * 65536);
        const Result hz = convert(1200, 52936, mixed);
        ASSERT_TRUE(hz.ok);
        const Result again = convert(52936, 1200, hz.out);
        EXPECT_TRUE(again.ok && again.out == mixed) << shift;
    }
}

TEST(ChineseCharsets, NamesInTheCatalogue)
{
    Charset cs;
    cs.setByName("GB18030-2000");
    EXPECT_EQ(cs.getCodePage(), 54936);
    EXPECT_STREQ(cs.getName(), "gb18030");
    cs.setByName("HZ-GB-2312");
    EXPECT_EQ(cs.getCodePage(), 52936);
    EXPECT_STREQ(cs.getName(), "hz-gb-2312");
    EXPECT_TRUE(EncodingConvert::canConvert(54936));
    EXPECT_TRUE(EncodingConvert::canConvert(52936));
}

}  // namespace
