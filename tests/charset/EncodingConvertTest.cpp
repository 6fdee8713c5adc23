#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ConvertHelpers.h"
#include "charset/ConvertState.h"
#include "charset/EncodingConvert.h"
#include "charset/EncodingUtf8.h"
#include "foundation/DataBuffer.h"
#include "platform/Platform.h"

using namespace hanamail;

using namespace convtest;

namespace {

TEST(EncodingConvert, ByteOrderMarks)
{
    // Equal code pages copy everything, a mark included.
    EXPECT_CONVERTS(65001, 65001, bytes({0xEF, 0xBB, 0xBF, 0x41}), "EF BB BF 41", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xEF, 0xBB, 0xBF, 0x41}), "41 00", true);
    // The mark chooses the byte order, whatever the declared code page.
    EXPECT_CONVERTS(1200, 65001, bytes({0xFE, 0xFF, 0x00, 0x41}), "41", true);
    EXPECT_CONVERTS(1201, 65001, bytes({0xFF, 0xFE, 0x41, 0x00}), "41", true);
    EXPECT_CONVERTS(1201, 65001, bytes({0x30, 0x42}), "E3 81 82", true);
    EXPECT_CONVERTS(1201, 1200, bytes({0xFE, 0xFF, 0x30, 0x42}), "42 30", true);
    // A mark alone is an empty text.
    EXPECT_CONVERTS(1200, 65001, bytes({0xFF, 0xFE}), "", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xEF, 0xBB, 0xBF}), "", true);
    // Other sources are not examined: a UTF-32 mark is a character.
    EXPECT_CONVERTS(65005, 65001, bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0, 0, 0}), "EF BB BF 41", true);
}

TEST(EncodingConvert, NothingToConvertIsSuccess)
{
    DataBuffer out;
    EncodingConvert conv;
    EXPECT_TRUE(conv.convert(65001, 932, nullptr, 5, out));
    EXPECT_TRUE(conv.convert(65001, 932, "abc", 0, out));
    EXPECT_TRUE(conv.convert(12345, 54321, "abc", 0, out));
    EXPECT_EQ(out.getSize(), 0u);
}

TEST(EncodingConvert, OutputIsAppendedNeverCleared)
{
    DataBuffer out;
    EXPECT_TRUE(out.append("xy", 2));
    EncodingConvert conv;
    EXPECT_TRUE(conv.convert(65001, 1200, "A", 1, out));
    EXPECT_TRUE(conv.convert(1200, 65001, "B\0", 2, out));
    EXPECT_EQ(toBytes(out), Bytes("xyA\0B", 5));
    // Also when a long text goes through the heap path.
    Bytes big(100000, 'z');
    EXPECT_TRUE(conv.convert(65001, 1200, big.data(), static_cast<uint32_t>(big.size()), out));
    ASSERT_EQ(out.getSize(), 5u + 200000u);
    EXPECT_EQ(std::memcmp(out.getData(), "xyA\0B", 5), 0);
    EXPECT_EQ(out.getData()[5 + 199998], 'z');
}

TEST(EncodingConvert, Utf8ToUtf16DropsOnlyTheBadLeadByte)
{
    EXPECT_CONVERTS(65001, 1200, bytes({0xC3}), "", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xE0, 0x80, 0x80}), "", true);  // overlong
    EXPECT_CONVERTS(65001, 1200, bytes({0xC0, 0xAF, 0x41}), "41 00", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xE3, 0x81, 0x41}), "41 00", true);  // cut-off, resumes at 41
    EXPECT_CONVERTS(65001, 1200, bytes({0xE3, 0x81}), "", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xF5, 0x80, 0x80, 0x80, 0x42}), "42 00", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xF4, 0x90, 0x80, 0x80}), "", true);  // beyond U+10FFFF
    EXPECT_CONVERTS(65001, 1200, bytes({0xF0, 0x8F, 0xBF, 0xBF}), "", true);  // overlong
    EXPECT_CONVERTS(65001, 1200, bytes({0xF0, 0x9F, 0x98}), "", true);
}

TEST(EncodingConvert, CharactersBeyondTheBmpAreKept)
{
    EXPECT_CONVERTS(65001, 1200, bytes({0xF0, 0x9F, 0x98, 0x80}), "3D D8 00 DE", true);
    EXPECT_CONVERTS(1200, 65001, u16({0xD83D, 0xDE00}), "F0 9F 98 80", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xF4, 0x8F, 0xBF, 0xBF}), "FF DB FF DF", true);
    EXPECT_CONVERTS(65001, 1201, bytes({0xF0, 0x9F, 0x98, 0x80}), "D8 3D DE 00", true);
    EXPECT_CONVERTS(1201, 65001, bytes({0xD8, 0x3D, 0xDE, 0x00}), "F0 9F 98 80", true);
    // CESU-8 from other writers still reads as the pair it stands for.
    EXPECT_CONVERTS(65001, 1200, bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), "3D D8 00 DE", true);
}

TEST(EncodingConvert, UnpairedSurrogatesSurviveInThreeBytes)
{
    EXPECT_CONVERTS(1200, 65001, u16({0xD83D}), "ED A0 BD", true);
    EXPECT_CONVERTS(1200, 65001, u16({0xDE00, 0xD83D}), "ED B8 80 ED A0 BD", true);
    EXPECT_CONVERTS(1200, 65001, u16({0xD83D, 0x41}), "ED A0 BD 41", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xED, 0xA0, 0xBD}), "3D D8", true);
    EXPECT_CONVERTS(65001, 1200, bytes({0xED, 0xB8, 0x80, 0x41}), "00 DE 41 00", true);
}

TEST(EncodingConvert, OddUtf16InputLosesTheLastByte)
{
    EXPECT_CONVERTS(1200, 65001, bytes({0x41, 0x00, 0x42}), "41", false);
    EXPECT_CONVERTS(1201, 65001, bytes({0x00, 0x41, 0x42}), "41", false);
    EXPECT_CONVERTS(1200, 65001, bytes({0x41}), "", false);
    EXPECT_CONVERTS(1200, 1201, bytes({0x41, 0x00, 0x42}), "00 41", false);
}

// Every code point, in runs of ASCII of every length around the 8- and
// 16-byte blocks of the fast paths, both ways and against a reference.
TEST(EncodingConvert, AllCodePointsRoundTripThroughUtf16)
{
    Bytes utf8, utf16;
    uint32_t asciiRun = 0;
    for (uint32_t cp = 0x80; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        if (cp % 61 == 0) {
            for (uint32_t k = 0; k < asciiRun % 40; ++k) {
                appendUtf8(utf8, 0x20 + k);
                appendUtf16(utf16, 0x20 + k);
            }
            ++asciiRun;
        }
        appendUtf8(utf8, cp);
        appendUtf16(utf16, cp);
    }
    const Result there = convert(65001, 1200, utf8);
    EXPECT_TRUE(there.ok);
    EXPECT_TRUE(there.out == utf16) << "UTF-8 to UTF-16 differs";
    const Result back = convert(1200, 65001, utf16);
    EXPECT_TRUE(back.ok);
    EXPECT_TRUE(back.out == utf8) << "UTF-16 to UTF-8 differs";
}

TEST(EncodingConvert, TableCodePagesReportWhatDoesNotFit)
{
    EXPECT_CONVERTS(1200, 28591, u16({0x3042}), "", false);
    EXPECT_CONVERTS(1200, 28591, bytes({0x41, 0x00, 0x42, 0x30, 0x43, 0x00}), "41 43", false);
    EXPECT_CONVERTS(932, 65001, bytes({0x82, 0xA0}), "E3 81 82", true);
    EXPECT_CONVERTS(932, 65001, bytes({0x41}), "41", true);
    EXPECT_CONVERTS(65001, 932, utf8Of({0x3042, 0x41}), "82 A0 41", true);
    EXPECT_CONVERTS(65001, 932, utf8Of({0x3042, 0x1F600}), "82 A0", false);
    EXPECT_CONVERTS(65001, 28591, utf8Of({0xE9, 0x20AC}), "E9", false);
    // Two steps: only what the target cannot take counts.
    EXPECT_CONVERTS(932, 1252, bytes({0x41, 0x85, 0x42}), "41 42", true);
    EXPECT_CONVERTS(932, 1252, bytes({0x82, 0xA0}), "", false);
    EXPECT_CONVERTS(1252, 932, bytes({0x80}), "", false);  // the euro sign has no 932 code
    EXPECT_CONVERTS(28591, 65001, bytes({0xE9}), "C3 A9", true);
}

TEST(EncodingConvert, Utf32BothWays)
{
    EXPECT_CONVERTS(65001, 65005, bytes({0xF0, 0x9F, 0x98, 0x80}), "00 F6 01 00", true);
    EXPECT_CONVERTS(65001, 65006, bytes({0xF0, 0x9F, 0x98, 0x80}), "00 01 F6 00", true);
    EXPECT_CONVERTS(1200, 65005, u16({0x41, 0xD83D, 0xDE00}), "41 00 00 00 00 F6 01 00", true);
    EXPECT_CONVERTS(65005, 1200, bytes({0x00, 0xF6, 0x01, 0x00}), "3D D8 00 DE", true);
    EXPECT_CONVERTS(65006, 65001, bytes({0x00, 0x01, 0xF6, 0x00, 0x00, 0x00, 0x00, 0x41}), "F0 9F 98 80 41", true);
    EXPECT_CONVERTS(65005, 932, bytes({0x42, 0x30, 0x00, 0x00}), "82 A0", true);
    // The first illegal sequence ends the conversion; what came before stays.
    EXPECT_CONVERTS(65001, 65005, bytes({0x41, 0xC3, 0x42}), "41 00 00 00", false);
    EXPECT_CONVERTS(65001, 65005, bytes({0x41, 0xF0, 0x9F}), "41 00 00 00", false);
    // Values that are no character become U+FFFD; a broken last group is dropped.
    EXPECT_CONVERTS(65005, 65001, bytes({0x00, 0x00, 0x11, 0x00}), "EF BF BD", false);
    EXPECT_CONVERTS(65005, 65001, bytes({0x41, 0x00, 0x00, 0x00, 0x42}), "41", false);
    EXPECT_CONVERTS(65006, 65001, bytes({0x00, 0x00}), "", false);
    // A failed first step gives nothing.
    EXPECT_CONVERTS(1200, 65005, bytes({0x41, 0x00, 0x42}), "", false);
}

TEST(EncodingConvert, Utf7Encoding)
{
    auto utf7 = [](std::initializer_list<uint32_t> units) { return convert(1200, 65000, u16(units)); };
    Result r = utf7({'A', '+', 'B', 0xE9});
    EXPECT_EQ(r.out, "A+-B+AOk-");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(utf7({0xFEFF, 'a'}).out, "a");                      // leading mark dropped
    EXPECT_EQ(utf7({'!', 'x'}).out, "+ACE-x");                    // optional direct characters are encoded
    EXPECT_EQ(utf7({0xE9, '+'}).out, "+AOk-+-");                  // run closed before "+-"
    EXPECT_EQ(utf7({0x65E5, 0x672C, 0x8A9E}).out, "+ZeVnLIqe-");  // one run, closed at the end
    EXPECT_EQ(utf7({0xD83D, 0xDE00}).out, "+2D3eAA-");
    EXPECT_EQ(convert(65001, 65000, utf8Of({0x1F600, ' ', 'a'})).out, "+2D3eAA- a");
    EXPECT_EQ(utf7({'a', ' ', '\r', '\n', '\t', '(', ')', '?'}).out, "a \r\n\t()?");
}

TEST(EncodingConvert, Utf7Decoding)
{
    EXPECT_CONVERTS(65000, 1200, Bytes("A+-B+AOk-"), hex(u16({'A', '+', 'B', 0xE9})), true);
    EXPECT_CONVERTS(65000, 1200, Bytes("+AOk"), hex(u16({0xE9})), true);  // run at the end
    EXPECT_CONVERTS(65000, 1200, Bytes("+AOk."), hex(u16({0xE9, '.'})), true);
    EXPECT_CONVERTS(65000, 65001, Bytes("+2D3eAA-"), "F0 9F 98 80", true);
    EXPECT_CONVERTS(65000, 1200, Bytes("+ZeVnLIqe-"), hex(u16({0x65E5, 0x672C, 0x8A9E})), true);
    // Faults are reported and decoding goes on.
    EXPECT_CONVERTS(65000, 1200, Bytes("+AOl-x"), hex(u16({0xE9, 'x'})), false);  // leftover bits
    EXPECT_CONVERTS(65000, 1200, Bytes("+!x"), hex(u16({'!', 'x'})), false);      // empty run
    EXPECT_CONVERTS(65000, 1200, Bytes("a+"), hex(u16({'a'})), false);
    EXPECT_CONVERTS(65000, 1200, Bytes("\xE9z"), hex(u16({0xE9, 'z'})), false);
}

TEST(EncodingConvert, CodePagesKnownOnlyByNamePassTheBytesThrough)
{
    EXPECT_CONVERTS(10008, 65001, Bytes("\x81\x30\x81\x30"), "81 30 81 30", false);
    EXPECT_CONVERTS(65001, 57002, Bytes("abc"), "61 62 63", false);
    EXPECT_CONVERTS(51950, 1200, Bytes("ab"), "61 62", false);
    EXPECT_CONVERTS(50000, 65001, Bytes("ab"), "61 62", false);  // named, without a preferred name
    EXPECT_CONVERTS(12345, 65001, Bytes("ab"), "", false);
    EXPECT_CONVERTS(65001, 0, Bytes("ab"), "", false);
    EXPECT_CONVERTS(10008, 12345, Bytes("ab"), "", false);
    EXPECT_TRUE(EncodingConvert::canConvert(38598));
    EXPECT_FALSE(EncodingConvert::canConvert(20932));
}

TEST(EncodingConvert, ByNameWithBomAndAnsi)
{
    DataBuffer out;
    EncodingConvert conv;
    EXPECT_TRUE(conv.convertByName("Shift_JIS", "UTF-8", "\x82\xA0", 2, out));
    EXPECT_EQ(hex(toBytes(out)), "E3 81 82");
    out.clear();
    EXPECT_FALSE(conv.convertByName("no-such-charset", "utf-8", "ab", 2, out));
    EXPECT_FALSE(conv.convertByName("utf-8", nullptr, "ab", 2, out));
    EXPECT_EQ(out.getSize(), 0u);

    EXPECT_TRUE(conv.convertWithBom(65001, 1201, "A", 1, out));
    EXPECT_EQ(hex(toBytes(out)), "FE FF 00 41");
    out.clear();
    EXPECT_TRUE(conv.convertWithBom(1200, 65001, "A\0", 2, out));
    EXPECT_EQ(hex(toBytes(out)), "EF BB BF 41");
    out.clear();
    EXPECT_TRUE(conv.convertWithBom(65001, 932, "A", 1, out));
    EXPECT_EQ(hex(toBytes(out)), "41");
    out.clear();

    // ASCII reads the same in every ANSI code page.
    EXPECT_TRUE(conv.convertFromAnsi(1200, "Az", 2, out));
    EXPECT_EQ(hex(toBytes(out)), "41 00 7A 00");
    out.clear();
    EXPECT_TRUE(conv.convertToAnsi(1200, "A\0", 2, out));
    EXPECT_EQ(hex(toBytes(out)), "41");
}

TEST(EncodingUtf8, CodecDecodesAndEncodesOneCharacter)
{
    const EncodingUtf8& codec = EncodingUtf8::instance();
    EXPECT_TRUE(codec.isMultiByte());
    ConvertState state;
    uint32_t cp = 0;
    const unsigned char ok4[] = {0xF0, 0x9F, 0x98, 0x80};
    EXPECT_EQ(codec.decodeChar(state, ok4, 4, cp), 4);
    EXPECT_EQ(cp, 0x1F600u);
    EXPECT_EQ(codec.decodeChar(state, ok4, 3, cp), EncodingBase::kCutOff);
    const unsigned char bad[] = {0xE3, 0x41, 0x41};
    EXPECT_EQ(codec.decodeChar(state, bad, 2, cp), EncodingBase::kInvalid);  // bad even though cut off
    const unsigned char lone[] = {0xED, 0xA0, 0xBD, 0x41};
    EXPECT_EQ(codec.decodeChar(state, lone, 4, cp), 3);
    EXPECT_EQ(cp, 0xD83Du);
    const unsigned char cont[] = {0x80};
    EXPECT_EQ(codec.decodeChar(state, cont, 1, cp), EncodingBase::kInvalid);

    DataBuffer out;
    EXPECT_EQ(codec.encodeChar(state, 0x41, out), 1);
    EXPECT_EQ(codec.encodeChar(state, 0xE9, out), 2);
    EXPECT_EQ(codec.encodeChar(state, 0xDE00, out), 3);
    EXPECT_EQ(codec.encodeChar(state, 0x1F600, out), 4);
    EXPECT_EQ(hex(toBytes(out)), "41 C3 A9 ED B8 80 F0 9F 98 80");
    EXPECT_EQ(state.value(), 0);
}

}  // namespace
