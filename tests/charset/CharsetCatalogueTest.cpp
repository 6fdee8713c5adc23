#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <set>
#include <string>

#include "charset/Charset.h"
#include "charset/CharsetCatalogue.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

int cp(const std::string& name)
{
    return charsetToCodePage(name.c_str());
}

std::string preferred(int codePage)
{
    StringBuffer out("left over");
    const bool found = codePageToCharset(codePage, out);
    EXPECT_EQ(found, !out.isEmpty()) << codePage;
    return out.getString();
}

std::string upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string underscored(std::string s)
{
    for (char& c : s)
        if (c == '-') c = '_';
    return s;
}

// Code pages the name table knows but writes no name for.
const std::set<int> kNamelessCodePages = {709, 21027, 50000, 50930, 50931, 50933, 50935, 50937, 50939, 51950};

// The two preferred names that read back as another code page.
int readBackOf(int codePage)
{
    if (codePage == 20932) return 51932;
    if (codePage == 50222) return 50220;
    return codePage;
}

}  // namespace

TEST(CharsetCatalogue, NameIsTrimmedFoldedAndHyphenated)
{
    EXPECT_EQ(cp("Shift_JIS"), 932);
    EXPECT_EQ(cp("shift-jis"), 932);
    EXPECT_EQ(cp(" SHIFT-JIS "), 932);
    EXPECT_EQ(cp(" sjis "), 932);
    EXPECT_EQ(cp("X-SJIS"), 932);
    EXPECT_EQ(cp("\t\r\nUTF-8\n\r \t"), 65001);
    EXPECT_EQ(cp("ks_c_5601-1987"), 949);
    EXPECT_EQ(cp("KS_C_5601_1987"), 949);
    // Only spaces, tabs, CR and LF are padding; inner text is compared as is.
    EXPECT_EQ(cp("shift jis"), 0);
    EXPECT_EQ(cp("\vutf-8"), 0);
    EXPECT_EQ(cp("utf-8\f"), 0);
    EXPECT_EQ(cp("utf-8;"), 0);
    EXPECT_EQ(cp("utf-8x"), 0);
    EXPECT_EQ(cp("utf-"), 0);
}

TEST(CharsetCatalogue, OddTableNamesMatchExactly)
{
    EXPECT_EQ(cp("iso-8859-8 visual"), 28598);
    EXPECT_EQ(cp(" ISO_8859-8 Visual "), 28598);
    EXPECT_EQ(cp("iso-8859-8  visual"), 0);
    EXPECT_EQ(cp("ebcdic-latin9--euro"), 20924);
    EXPECT_EQ(cp("ebcdic-latin9-euro"), 0);
    EXPECT_EQ(cp("iso-646.irv:1991"), 20127);
    EXPECT_EQ(cp("asmo-449+"), 709);
}

TEST(CharsetCatalogue, ShortAndMissingNamesAreUnknown)
{
    EXPECT_EQ(charsetToCodePage(nullptr), 0);
    EXPECT_FALSE(isKnownCharset(nullptr));
    EXPECT_EQ(cp(""), 0);
    EXPECT_EQ(cp("   \t\r\n "), 0);
    EXPECT_EQ(cp("us"), 0);
    EXPECT_EQ(cp(" l1 "), 0);
    EXPECT_EQ(cp("koi"), 20866);  // three characters are enough
    EXPECT_EQ(cp("ascii"), 20127);
    EXPECT_EQ(cp("latin1"), 28591);
    EXPECT_TRUE(isKnownCharset("Latin1"));
    EXPECT_FALSE(isKnownCharset("no-such-charset"));
    EXPECT_FALSE(isKnownCharset("default"));
}

TEST(CharsetCatalogue, LongNamesDoNotOverrunTheWorkBuffer)
{
    const std::string longest = "x-ebcdic-japaneseanduscanada";
    EXPECT_EQ(cp(longest), 50931);
    EXPECT_EQ(cp(upper(longest)), 50931);
    EXPECT_EQ(cp(longest + "a"), 0);
    EXPECT_EQ(cp("a" + longest), 0);
    // Padding does not count towards the length.
    EXPECT_EQ(cp(std::string(5000, ' ') + longest + std::string(5000, '\t')), 50931);
    EXPECT_EQ(cp(std::string(100000, 'a')), 0);
    EXPECT_EQ(cp("utf-8" + std::string(100000, ' ')), 65001);
}

TEST(CharsetCatalogue, Iso2022JpFamily)
{
    EXPECT_EQ(cp("iso-2022-jp"), 50220);
    EXPECT_EQ(cp("ISO_2022_JP"), 50220);
    EXPECT_EQ(cp("csISO2022JP"), 50221);
    EXPECT_EQ(cp("iso-2022-jp-1"), 50221);
    EXPECT_EQ(cp("iso-2022-jp-2"), 50222);
    EXPECT_EQ(cp("euc-jp"), 51932);
    EXPECT_EQ(preferred(50222), "iso-2022-jp");
    EXPECT_EQ(preferred(20932), "euc-jp");
}

TEST(CharsetCatalogue, PreferredNames)
{
    EXPECT_EQ(preferred(932), "shift_jis");
    EXPECT_EQ(preferred(949), "ks_c_5601-1987");
    EXPECT_EQ(preferred(50221), "csiso2022jp");
    EXPECT_EQ(preferred(1200), "unicode");
    EXPECT_EQ(preferred(65001), "utf-8");
    EXPECT_EQ(preferred(12345), "");  // and the old contents are gone
    EXPECT_EQ(preferred(0), "");
    EXPECT_EQ(preferred(-932), "");
    EXPECT_EQ(preferred(51950), "");
    EXPECT_EQ(preferredCharsetName(12345), nullptr);
    EXPECT_STREQ(preferredCharsetName(936), "gb2312");
}

TEST(CharsetCatalogue, ConvertibleCodePages)
{
    for (int yes : {37,    437,   932,   936,   949,   950,   1200,  1201,  1252,  20127, 28591,
                    50220, 50222, 50225, 51932, 51949, 52936, 54936, 65000, 65001, 65005, 65006})
        EXPECT_TRUE(isConvertibleCodePage(yes)) << yes;
    for (int no : {0, -1, 12345, 709, 10002, 20932, 21027, 50000, 50227, 51950, 57002})
        EXPECT_FALSE(isConvertibleCodePage(no)) << no;
}

// Every name of the table, in every spelling a caller may use, reaches its code page.
TEST(CharsetCatalogue, WalkOfTheNameTable)
{
    ASSERT_EQ(charsetNameCount(), 404);
    std::set<std::string> seen;
    for (int i = 0; i < charsetNameCount(); ++i) {
        const CharsetNameEntry& e = charsetNameAt(i);
        ASSERT_NE(e.name, nullptr);
        const std::string name = e.name;
        SCOPED_TRACE(name);
        EXPECT_NE(e.codePage, 0);
        EXPECT_TRUE(seen.insert(name).second) << "listed twice";
        EXPECT_EQ(cp(name), e.codePage);
        EXPECT_EQ(cp(upper(name)), e.codePage);
        EXPECT_EQ(cp(" \t" + name + "\r\n"), e.codePage);
        EXPECT_EQ(cp(underscored(name)), e.codePage);
        // A table code page has a preferred name or is one of the nameless ones.
        EXPECT_NE(preferredCharsetName(e.codePage) != nullptr, kNamelessCodePages.count(e.codePage) == 1) << e.codePage;
    }
    EXPECT_EQ(charsetNameAt(-1).codePage, 0);
    EXPECT_EQ(charsetNameAt(charsetNameCount()).codePage, 0);
}

TEST(CharsetCatalogue, PreferredNamesReadBack)
{
    int count = 0;
    for (int codePage = 0; codePage <= 65535; ++codePage) {
        const char* name = preferredCharsetName(codePage);
        if (name == nullptr) continue;
        ++count;
        SCOPED_TRACE(name);
        EXPECT_EQ(charsetToCodePage(name), readBackOf(codePage)) << codePage;
        EXPECT_EQ(preferred(codePage), name);
    }
    EXPECT_EQ(count, 140);
}

TEST(CharsetCatalogue, LookupIgnoresTheLocale)
{
    // A Turkish single-byte locale folds "I" to a dotless i; Latin-1 locales
    // treat 0xA0 as white space. Neither may change a lookup.
    const char* locales[] = {"tr_TR.ISO-8859-9", "tr_TR.iso88599",   "tr_TR",          "de_DE.ISO-8859-1",
                             "de_DE.iso88591",   "en_US.ISO-8859-1", "en_US.iso88591", "fr_FR.ISO-8859-1"};
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    int tried = 0;
    for (const char* loc : locales) {
        if (std::setlocale(LC_ALL, loc) == nullptr) continue;
        ++tried;
        SCOPED_TRACE(loc);
        EXPECT_EQ(cp("ISO-8859-1"), 28591);
        EXPECT_EQ(cp("LATIN1"), 28591);
        EXPECT_EQ(cp("IBM437"), 437);
        EXPECT_EQ(cp("\xA0utf-8"), 0);
        EXPECT_EQ(cp("utf-8\xA0"), 0);
        EXPECT_EQ(cp("\xC9UC-KR"), 0);
    }
    std::setlocale(LC_ALL, saved.c_str());
    if (tried == 0) GTEST_SKIP() << "no single-byte Turkish or Latin-1 locale installed";
}

TEST(Charset, SetByNameKeepsTheCanonicalSpelling)
{
    Charset c;
    EXPECT_EQ(c.getCodePage(), 0);
    EXPECT_STREQ(c.getName(), "");

    const struct {
        const char* name;
        int codePage;
        const char* canonical;
    } cases[] = {
        {"UTF-8", 65001, "utf-8"},
        {"SJIS", 932, "shift_jis"},
        {"latin1", 28591, "iso-8859-1"},
        {"gbk", 936, "gb2312"},
        {"EUC-KR", 51949, "euc-kr"},
        {"ks_c_5601", 949, "ks_c_5601-1987"},
        {"iso-2022-jp-2", 50222, "iso-2022-jp"},
        {"euc-jp", 51932, "euc-jp"},
        {"euc-tw", 51950, ""},
        {"x-user-defined", 50000, ""},
    };
    for (const auto& k : cases) {
        c.setByName(k.name);
        EXPECT_EQ(c.getCodePage(), k.codePage) << k.name;
        EXPECT_STREQ(c.getName(), k.canonical) << k.name;
    }
}

TEST(Charset, DefaultUnknownAndNullNames)
{
    Charset c;
    c.setByName("utf-8");
    c.setByName(nullptr);
    EXPECT_EQ(c.getCodePage(), 65001);
    EXPECT_STREQ(c.getName(), "utf-8");

    for (const char* reset : {"default", "no-such-charset", "", "us"}) {
        c.setByName("utf-8");
        c.setByName(reset);
        EXPECT_EQ(c.getCodePage(), 0) << reset;
        EXPECT_STREQ(c.getName(), "") << reset;
    }
}

TEST(Charset, SetByCodePage)
{
    Charset c;
    c.setByCodePage(932);
    EXPECT_EQ(c.getCodePage(), 932);
    EXPECT_STREQ(c.getName(), "shift_jis");
    c.setByCodePage(20932);
    EXPECT_EQ(c.getCodePage(), 20932);
    EXPECT_STREQ(c.getName(), "euc-jp");
    // Without a preferred name nothing is kept, not even the number.
    for (int nameless : {51950, 12345, 0}) {
        c.setByCodePage(65001);
        c.setByCodePage(nameless);
        EXPECT_EQ(c.getCodePage(), 0) << nameless;
        EXPECT_STREQ(c.getName(), "") << nameless;
    }
}
