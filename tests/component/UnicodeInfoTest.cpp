// The charset chosen for a text: one test per script class, the mixes that
// must fall back to UTF-8, and texts whose script suggests a charset that
// cannot hold all of their characters.
#include <gtest/gtest.h>

#include <string>

#include "charset/Charset.h"
#include "charset/UnicodeInfo.h"

using namespace hanamail;

namespace {

int cpOf(const std::u16string& s)
{
    return UnicodeInfo::chooseCodePage(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<uint32_t>(s.size()));
}

TEST(UnicodeInfo, NoCharsetForEmptyOrAsciiText)
{
    EXPECT_EQ(cpOf(u""), 0);
    EXPECT_EQ(cpOf(u"plain ascii\r\n"), 0);
    Charset cs;
    UnicodeInfo::chooseCharset(nullptr, 0, cs);
    EXPECT_EQ(cs.getCodePage(), 0);
    EXPECT_STREQ(cs.getName(), "");
}

TEST(UnicodeInfo, LatinTexts)
{
    EXPECT_EQ(cpOf(u"caf\u00e9"), 28591);
    EXPECT_EQ(cpOf(u"Za\u017c\u00f3\u0142\u0107"), 28592);  // Polish: Latin-1 and Latin extended
    Charset cs;
    const std::u16string cafe = u"caf\u00e9";
    UnicodeInfo::chooseCharset(reinterpret_cast<const OLECHAR*>(cafe.data()), 4, cs);
    EXPECT_STREQ(cs.getName(), "iso-8859-1");
}

TEST(UnicodeInfo, OneScriptEach)
{
    EXPECT_EQ(cpOf(u"\u3053\u3093\u306b\u3061\u306f"), 932);          // hiragana
    EXPECT_EQ(cpOf(u"\u30c6\u30b9\u30c8 \u65e5\u672c"), 932);         // katakana with Han
    EXPECT_EQ(cpOf(u"\u65e5\u672c\u8a9e"), 936);                      // Han only, no kana
    EXPECT_EQ(cpOf(u"\uc548\ub155\ud558\uc138\uc694"), 949);          // Hangul syllables
    EXPECT_EQ(cpOf(u"\u05e9\u05dc\u05d5\u05dd"), 28598);              // Hebrew
    EXPECT_EQ(cpOf(u"\u0645\u0631\u062d\u0628\u0627"), 28596);        // Arabic
    EXPECT_EQ(cpOf(u"\u041f\u0440\u0438\u0432\u0435\u0442"), 28595);  // Cyrillic
    EXPECT_EQ(cpOf(u"\u03b3\u03b5\u03b9\u03ac"), 28597);              // Greek
    EXPECT_EQ(cpOf(u"\u0e2a\u0e27\u0e31\u0e2a\u0e14\u0e35"), 874);    // Thai
}

TEST(UnicodeInfo, ExtraRangesJoinTheirScripts)
{
    const std::u16string s = u"\u3400\u1100\u2f00";  // Han extension A, Hangul jamo, radicals
    UnicodeInfo::Counts c;
    UnicodeInfo::countUnits(reinterpret_cast<const OLECHAR*>(s.data()), 3, c);
    EXPECT_EQ(c.han, 1u);
    EXPECT_EQ(c.hangul, 1u);
    EXPECT_EQ(c.kana, 1u);
    EXPECT_EQ(c.other, 0u);
    UnicodeInfo::Counts hanOnly;
    hanOnly.han = 2;
    EXPECT_EQ(UnicodeInfo::codePageFor(hanOnly), 936);
    // Extension A is beyond the Chinese charset itself.
    EXPECT_EQ(cpOf(u"\u4e2d\u3400"), 65001);
}

TEST(UnicodeInfo, SymbolsAndFullWidthFormsDoNotDecide)
{
    // Ideographic punctuation is left out of the counts.
    EXPECT_EQ(cpOf(u"\u3053\u3093\u3002"), 932);
    EXPECT_EQ(cpOf(u"\u3002\u3001"), 0);
}

TEST(UnicodeInfo, TwoScriptsGiveUtf8)
{
    EXPECT_EQ(cpOf(u"\u3053\u3093 \uc548\ub155"), 65001);  // kana + Hangul
    EXPECT_EQ(cpOf(u"\u041f\u0440 \u03b3\u03b5"), 65001);  // Cyrillic + Greek
    EXPECT_EQ(cpOf(u"\u05e9 \u0645"), 65001);              // Hebrew + Arabic
    EXPECT_EQ(cpOf(u"\u0e2a \u3053"), 65001);              // Thai + kana
    EXPECT_EQ(cpOf(u"\U0001F600"), 65001);                 // outside every class
}

TEST(UnicodeInfo, LossyChoiceFallsBackToUtf8)
{
    EXPECT_EQ(cpOf(u"c\u0153ur \u00e0 l'\u00e9t\u00e9"), 65001);  // no œ/à in ISO-8859-2
    EXPECT_EQ(cpOf(u"\u041f\u0440\u0438\u0432\u0435\u0442 \u00ab\u043c\u0438\u0440\u00bb"), 65001);  // « »
    EXPECT_EQ(cpOf(u"\u65e5\u672c\u8a9e\u306e\u30c6\u30b9\u30c8 caf\u00e9"), 65001);  // é not in Shift_JIS
    EXPECT_EQ(cpOf(u"caf\u00e9 \uff21"), 65001);                                      // full-width A
}

}  // namespace
