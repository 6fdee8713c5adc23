#include "foundation/XString.h"
#include "platform/Automation.h"

#include <gtest/gtest.h>

#include <string>

#include "charset/Charset.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "platform/Platform.h"

using namespace hanamail;

namespace {

std::u16string units(const OLECHAR* p, size_t n)
{
    return std::u16string(reinterpret_cast<const char16_t*>(p), n);
}
std::u16string units(BSTR b)
{
    std::u16string s = units(b, SysStringLen(b));
    SysFreeString(b);
    return s;
}
std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}
const OLECHAR* ole(const char16_t* s)
{
    return reinterpret_cast<const OLECHAR*>(s);
}

// "café" in the ANSI code page of this process, where the test knows it.
bool ansiCafe(std::string& out)
{
    switch (platform::ansiCodePage()) {
        case 65001: out = "caf\xC3\xA9"; return true;
        case 1252:
        case 28591: out = "caf\xE9"; return true;
        default: return false;
    }
}

void expectEmpty(const XString& x)
{
    EXPECT_TRUE(x.isEmpty());
    EXPECT_STREQ(x.getUtf8(), "");
    EXPECT_STREQ(x.getAnsi(), "");
    EXPECT_EQ(x.getUnicode()[0], 0);
    EXPECT_EQ(x.getNumChars(), 0u);
    BSTR b = x.getBstr();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 0u);
    SysFreeString(b);
}

TEST(XString, EmptyAndNullReadBackEmptyInEveryForm)
{
    XString x;
    expectEmpty(x);
    x.setFromUtf8("abc");
    x.setFromUtf8("");
    expectEmpty(x);
    x.setFromAnsi(nullptr);
    expectEmpty(x);
    x.setFromUnicode(nullptr);
    expectEmpty(x);
    x.setFromBstr(nullptr);
    expectEmpty(x);
    BSTR empty = SysAllocStringLen(ole(u""), 0);
    x.setFromBstr(empty);
    SysFreeString(empty);
    expectEmpty(x);
}

TEST(XString, FormsAgree)
{
    XString x;
    x.setFromUtf8("報告 café.pdf");
    EXPECT_EQ(units(x.getBstr()), u"報告 café.pdf");
    EXPECT_EQ(x.getNumChars(), 11u);
    EXPECT_EQ(units(x.getUnicode(), 12), std::u16string(u"報告 café.pdf") + u'\0');

    XString y;
    y.setFromUnicode(ole(u"a\U0001F600b"));
    EXPECT_STREQ(y.getUtf8(),
                 "a\xF0\x9F\x98\x80"
                 "b");
    y.appendUtf8("ü");
    EXPECT_EQ(units(y.getBstr()), u"a\U0001F600bü");

    const char16_t withZero[] = {u'a', 0, u'b'};
    y.setFromUnicodeN(ole(withZero), 3);
    EXPECT_EQ(y.getNumChars(), 3u);
    EXPECT_EQ(y.getUtf8Sb().getSize(), 3);

    XString copy(x);
    x.setFromUtf8("other");
    EXPECT_STREQ(copy.getUtf8(), "報告 café.pdf");
}

TEST(XString, AnsiFormMatchesTextGivenInAnsi)
{
    std::string cafe;
    if (!ansiCafe(cafe)) GTEST_SKIP() << "no fixed spelling for ANSI code page " << platform::ansiCodePage();
    XString fromUtf8;
    fromUtf8.setFromUtf8("café");
    units(fromUtf8.getBstr());
    XString fromAnsi;
    fromAnsi.setFromAnsi(cafe.c_str());
    EXPECT_EQ(std::string(fromUtf8.getAnsi()), cafe);
    EXPECT_EQ(std::string(fromAnsi.getAnsi()), cafe);
    EXPECT_TRUE(fromAnsi.isAnsiFit());
    EXPECT_TRUE(fromUtf8.isAnsiFit());
    EXPECT_STREQ(fromAnsi.getUtf8(), "café");
    EXPECT_EQ(units(fromAnsi.getBstr()), u"café");
}

TEST(XString, AskingForAnsiLosesNothingElsewhere)
{
    const bool utf8Ansi = platform::ansiCodePage() == 65001;
    BSTR name = SysAllocString(ole(u"報告.pdf"));
    XString x;
    x.setFromBstr(name);
    SysFreeString(name);
    // A lossy ANSI form must never feed the other forms.
    EXPECT_EQ(x.isAnsiFit(), utf8Ansi || platform::ansiCodePage() == 932);
    EXPECT_STREQ(x.getUtf8(), "報告.pdf");
    EXPECT_EQ(units(x.getBstr()), u"報告.pdf");

    x.setFromUtf8("Ω≈ç");
    EXPECT_EQ(x.isAnsiFit(), utf8Ansi);
    EXPECT_EQ(units(x.getBstr()), u"Ω≈ç");
    x.setFromUtf8("plain");
    EXPECT_TRUE(x.isAnsiFit());
}

TEST(XString, ConvertsIntoACharset)
{
    Charset latin1;
    latin1.setByName("iso-8859-1");
    XString x;
    x.setFromUtf8("café");
    DataBuffer out;
    EXPECT_TRUE(x.getConverted(latin1, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()), "caf\xE9");
    x.setFromUnicode(ole(u"a報"));
    EXPECT_FALSE(x.getConverted(latin1, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()),
              "caf\xE9"
              "a");
}

TEST(StringBufferConvert, CodePagesAndBstr)
{
    StringBuffer sb("café");
    EXPECT_TRUE(sb.convertCodePage(65001, 28591));
    EXPECT_EQ(str(sb), "caf\xE9");
    EXPECT_TRUE(sb.convertCodePage(28591, 65001));
    EXPECT_EQ(str(sb), "café");
    StringBuffer kanji("報");
    EXPECT_FALSE(kanji.convertCodePage(65001, 28591));
    EXPECT_EQ(str(kanji), "");

    std::string cafe;
    if (ansiCafe(cafe)) {
        BSTR b = SysAllocString(ole(u"café"));
        StringBuffer fromBstr(b);
        SysFreeString(b);
        EXPECT_EQ(str(fromBstr), cafe);
        EXPECT_EQ(units(fromBstr.getBstr()), u"café");
        EXPECT_TRUE(fromBstr.codePageToAnsi(platform::ansiCodePage()));
        EXPECT_TRUE(fromBstr.ansiToCodePage(65001));
        EXPECT_EQ(str(fromBstr), "café");
    }
    StringBuffer none(static_cast<BSTR>(nullptr));
    EXPECT_EQ(none.getSize(), 0);
    EXPECT_EQ(none.getCapacity(), 4);
    EXPECT_EQ(units(none.getBstr()), u"");
}

TEST(StringBufferConvert, WritingInPlaceGrowsGeometrically)
{
    StringBuffer sb;
    int reallocations = 0;
    for (int i = 0; i < 20000; ++i) {
        int before = sb.getCapacity();
        char* p = sb.reserveAppend(1000);
        ASSERT_NE(p, nullptr);
        p[0] = 'x';
        p[999] = 'y';
        sb.commitAppend(1000);
        reallocations += sb.getCapacity() != before;
    }
    EXPECT_EQ(sb.getSize(), 20000000);
    EXPECT_EQ(sb.charAt(19999999), 'y');
    // Growth by a fixed step would take forty or more.
    EXPECT_LT(reallocations, 35);
    EXPECT_EQ(sb.reserveAppend(StringBuffer::kMaxLength), nullptr);
}

}  // namespace
