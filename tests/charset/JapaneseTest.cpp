#include <gtest/gtest.h>

#include <string>

#include "ConvertHelpers.h"
#include "charset/Japanese.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

using namespace convtest;

namespace {

Bytes toJis(const Bytes& sjis, bool* ok = nullptr)
{
    DataBuffer out;
    const bool r = Japanese().sjisToJis(reinterpret_cast<const unsigned char*>(sjis.data()),
                                        static_cast<uint32_t>(sjis.size()), out);
    if (ok) *ok = r;
    return toBytes(out);
}

Bytes toSjis(const Bytes& jis)
{
    DataBuffer out;
    Japanese().jisToSjis(reinterpret_cast<const unsigned char*>(jis.data()), static_cast<uint32_t>(jis.size()), out);
    return toBytes(out);
}

const Bytes kToJis = "\x1B$B";
const Bytes kToAscii = "\x1B(B";

// The encoder's promises: 7-bit only, ASCII at every line end and at the end.
void expectWellFormedJis(const Bytes& jis, const std::string& what)
{
    bool inJis = false;
    for (size_t i = 0; i < jis.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(jis[i]);
        ASSERT_LT(c, 0x80) << what << " at " << i;
        if (jis.compare(i, 3, kToJis) == 0)
            inJis = true;
        else if (jis.compare(i, 3, kToAscii) == 0)
            inJis = false;
        if (c == '\r' || c == '\n') {
            ASSERT_FALSE(inJis) << what << ": line end in JIS mode at " << i;
        }
    }
    ASSERT_FALSE(inJis) << what << ": ends in JIS mode";
}

TEST(Japanese, SjisToJisSwitchesModesAroundKanji)
{
    EXPECT_EQ(toJis("A\x82\xA0"
                    "B\r\n"),
              "A" + kToJis + "$\"" + kToAscii + "B\r\n");
    EXPECT_EQ(toJis("\x88\x9F\r\n\x88\x9F"), kToJis + "0!" + kToAscii + "\r\n" + kToJis + "0!" + kToAscii);
    EXPECT_EQ(toJis("\x82\xA0\x82\xA2"), kToJis + "$\"$$" + kToAscii);
    // NEC row 13 and the NEC-selected IBM rows keep their JIS rows.
    EXPECT_EQ(toJis("\x87\x40\xED\x40"), kToJis + "-!y!" + kToAscii);
    EXPECT_EQ(toJis(""), "");
}

TEST(Japanese, HalfWidthKatakanaBecomeFullWidth)
{
    EXPECT_EQ(toJis("\xB6\xDE"), kToJis + "%," + kToAscii);            // ｶﾞ -> ガ
    EXPECT_EQ(toJis("\xCA\xDF"), kToJis + "%Q" + kToAscii);            // ﾊﾟ -> パ
    EXPECT_EQ(toJis("\xB1"), kToJis + "%\"" + kToAscii);               // ｱ at the very end
    EXPECT_EQ(toJis("\xB3\xDE"), kToJis + "%t" + kToAscii);            // ｳﾞ -> ヴ
    EXPECT_EQ(toJis("\xCA\xDE\xCE\xDF"), kToJis + "%P%]" + kToAscii);  // バポ
    // A mark after anything else stands alone: ｱﾞ -> ア゛, ﾟ -> ゜, ｶﾟ -> カ゜.
    EXPECT_EQ(toJis("\xB1\xDE"), kToJis + "%\"!+" + kToAscii);
    EXPECT_EQ(toJis("\xDF"), kToJis + "!," + kToAscii);
    EXPECT_EQ(toJis("\xB6\xDF"), kToJis + "%+!," + kToAscii);
    EXPECT_EQ(toJis("\xA1\xA6\xB0\xDD"), kToJis + "!#%r!<%s" + kToAscii);  // 。ヲーン
}

TEST(Japanese, SjisToJisDropsWhatJisCannotHold)
{
    bool ok = true;
    // User-defined and IBM rows: the pair goes, the text goes on.
    EXPECT_EQ(toJis("a\xF0\x40"
                    "b\xFA\x40\xFC\x4B",
                    &ok),
              "ab");
    EXPECT_FALSE(ok);
    // A lead byte with a bad trail byte goes alone; the trail byte is still read.
    EXPECT_EQ(toJis("\x82\xA0\x82\n\x82\xA0", &ok), kToJis + "$\"" + kToAscii + "\n" + kToJis + "$\"" + kToAscii);
    EXPECT_FALSE(ok);
    EXPECT_EQ(toJis("\x88\x7F", &ok), "\x7F");
    EXPECT_FALSE(ok);
    // A lead byte at the end, and 8-bit single bytes.
    EXPECT_EQ(toJis("a\x82", &ok), "a");
    EXPECT_FALSE(ok);
    EXPECT_EQ(toJis("\x80\xA0\xFD\xFE\xFF"
                    "z",
                    &ok),
              "z");
    EXPECT_FALSE(ok);
    EXPECT_EQ(toJis("plain\r\n", &ok), "plain\r\n");
    EXPECT_TRUE(ok);
}

TEST(Japanese, SjisToJisIsSevenBitForAnyInput)
{
    // Every pair and every pair before a line end, after a lead byte.
    for (int a = 0; a < 256; ++a) {
        Bytes in;
        for (int b = 0; b < 256; ++b) {
            in += static_cast<char>(a);
            in += static_cast<char>(b);
            if (b % 16 == 0) {
                in += "\x82\r";
                in += static_cast<char>(a);
                in += "\n";
            }
        }
        expectWellFormedJis(toJis(in), "lead " + std::to_string(a));
        expectWellFormedJis(toJis(in.substr(1)), "shifted " + std::to_string(a));
    }
}

TEST(Japanese, LongTextCrossesTheStagingBlock)
{
    Bytes sjis, jis = kToJis;
    for (int i = 0; i < 1000; ++i) {
        sjis += "\x82\xA0";
        jis += "$\"";
    }
    sjis += "\xB6\xDE";  // a voiced pair right at the end
    jis += "%," + kToAscii;
    EXPECT_EQ(toJis(sjis), jis);
    Bytes back = sjis.substr(0, 2000) + "\x83\x4B";
    EXPECT_EQ(toSjis(jis), back);
}

TEST(Japanese, JisToSjisFollowsTheEscapes)
{
    EXPECT_EQ(toSjis(kToJis + "$\"\x1B(Ja"),
              "\x82\xA0"
              "a");
    EXPECT_EQ(toSjis(kToJis + "0!\n0!"), "\x88\x9F\n0!");  // LF ends JIS mode
    EXPECT_EQ(toSjis("\x1B$@$\"" + kToAscii + "x"), "\x82\xA0x");
    // Unknown escapes are skipped without changing the mode.
    EXPECT_EQ(toSjis(kToJis + "\x1B(I$\"" + kToAscii), "\x82\xA0");
    EXPECT_EQ(toSjis("\x1BXa\x1B$Xb"), "ab");
    // Cut-off escapes and half pairs end decoding.
    EXPECT_EQ(toSjis("ab\x1B"), "ab");
    EXPECT_EQ(toSjis("ab\x1B$"), "ab");
    EXPECT_EQ(toSjis(kToJis + "$\"$"), "\x82\xA0");
    // A control never pairs with a JIS byte: the escape after half a pair still counts.
    EXPECT_EQ(toSjis(kToJis + "$" + kToAscii + "a"), "a");
    EXPECT_EQ(toSjis(kToJis + "$\"\t$\""), "\x82\xA0\t\x82\xA0");
    EXPECT_EQ(toSjis(""), "");
}

TEST(Japanese, JisArithmeticRoundTripsEveryRowAndCell)
{
    for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
            unsigned char s1, s2, k1, k2;
            Japanese::jisPairToSjis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2), s1, s2);
            ASSERT_TRUE((s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEF)) << j1 << " " << j2;
            ASSERT_TRUE(s2 >= 0x40 && s2 <= 0xFC && s2 != 0x7F) << j1 << " " << j2;
            Japanese::sjisPairToJis(s1, s2, k1, k2);
            ASSERT_EQ(k1, j1);
            ASSERT_EQ(k2, j2);
        }
    }
}

// Text through the engine: kana, kanji, half-width katakana, NEC row 13 and
// IBM rows. Expected bytes are those of the reference mapping of each code page.
TEST(Japanese, EngineRoundTripsJapaneseText)
{
    // 日本語テキスト、ｶﾀｶﾅﾊﾟ ①Ⅰ㈱
    const Bytes utf8 = utf8Of({0x65E5, 0x672C, 0x8A9E, 0x30C6, 0x30AD, 0x30B9, 0x30C8, 0x3001, 0xFF76, 0xFF80, 0xFF76,
                               0xFF85, 0xFF8A, 0xFF9F, 0x20, 0x2460, 0x2160, 0x3231});
    const Bytes sjis = bytes({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0x83, 0x65, 0x83, 0x4C, 0x83, 0x58, 0x83, 0x67, 0x81,
                              0x41, 0xB6, 0xC0, 0xB6, 0xC5, 0xCA, 0xDF, 0x20, 0x87, 0x40, 0x87, 0x54, 0x87, 0x8A});
    Result r = convert(65001, 932, utf8);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(hex(r.out), hex(sjis));
    EXPECT_EQ(hex(convert(932, 65001, sjis).out), hex(utf8));

    r = convert(65001, 51932, utf8);
    EXPECT_TRUE(r.ok);
    const Bytes euc = bytes({0xC6, 0xFC, 0xCB, 0xDC, 0xB8, 0xEC, 0xA5, 0xC6, 0xA5, 0xAD, 0xA5, 0xB9,
                             0xA5, 0xC8, 0xA1, 0xA2, 0x8E, 0xB6, 0x8E, 0xC0, 0x8E, 0xB6, 0x8E, 0xC5,
                             0x8E, 0xCA, 0x8E, 0xDF, 0x20, 0xAD, 0xA1, 0xAD, 0xB5, 0xAD, 0xEA});
    EXPECT_EQ(hex(r.out), hex(euc));
    EXPECT_EQ(hex(convert(51932, 65001, euc).out), hex(utf8));

    // ISO-2022-JP: half-width katakana come back full-width (ｶﾀｶﾅﾊﾟ -> カタカナパ).
    r = convert(65001, 50220, utf8);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, kToJis + "F|K\\8l%F%-%9%H!\"%+%?%+%J%Q" + kToAscii + " " + kToJis + "-!-5-j" + kToAscii);
    const Bytes full = utf8Of({0x65E5, 0x672C, 0x8A9E, 0x30C6, 0x30AD, 0x30B9, 0x30C8, 0x3001, 0x30AB, 0x30BF, 0x30AB,
                               0x30CA, 0x30D1, 0x20, 0x2460, 0x2160, 0x3231});
    for (int cp : {50220, 50221, 50222}) EXPECT_EQ(hex(convert(cp, 65001, r.out).out), hex(full)) << cp;

    // IBM rows: 932 writes them (髙 FB FC, ⅰ FA 40); ISO-2022-JP cannot carry them.
    const Bytes ibm = utf8Of({0x9AD9, 0x2170});
    EXPECT_EQ(hex(convert(65001, 932, ibm).out), "FB FC FA 40");
    EXPECT_EQ(hex(convert(932, 65001, bytes({0xFB, 0xFC, 0xFA, 0x40, 0xEE, 0xEF})).out), hex(ibm + utf8Of({0x2170})));
    r = convert(65001, 50220, utf8Of({0x41, 0x9AD9, 0x42}));
    EXPECT_EQ(r.out, "AB");
    EXPECT_FALSE(r.ok);
}

TEST(Japanese, EngineDecodesIso2022JpWithLineEnds)
{
    const Bytes jis = kToJis + "$\"" + kToAscii + "\r\n" + kToJis + "$$" + kToAscii;
    EXPECT_EQ(hex(convert(50220, 1200, jis).out), hex(u16({0x3042, '\r', '\n', 0x3044})));
    EXPECT_EQ(convert(65001, 50222, utf8Of({0x3042, '\r', '\n', 0x3044})).out, jis);
    // Between the ISO-2022-JP code pages the text is read and written again.
    EXPECT_EQ(convert(50220, 50221, "\x1B$@$\"").out, kToJis + "$\"" + kToAscii);
    EXPECT_TRUE(convert(50220, 65001, Bytes()).ok);
}

}  // namespace
