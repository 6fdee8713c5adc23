#include "foundation/StringBuffer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <new>
#include <string>

#include "foundation/ExtPtrArray.h"

using namespace hanamail;

namespace {

std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

TEST(StringBufferGrowth, SingleByteAppendsGrowByHalf)
{
    StringBuffer sb;
    EXPECT_EQ(sb.getCapacity(), 200);
    struct Step {
        int length;
        int capacity;
    };
    // Reallocation happens when length + 1 reaches the capacity.
    const Step steps[] = {{199, 400}, {399, 600}, {599, 900}, {899, 1350}};
    int appended = 0;
    for (const Step& s : steps) {
        while (appended < s.length) {
            EXPECT_TRUE(sb.appendChar('x'));
            ++appended;
        }
        int before = sb.getCapacity();
        EXPECT_TRUE(sb.appendChar('x'));
        ++appended;
        EXPECT_LT(before, s.capacity) << "at length " << s.length;
        EXPECT_EQ(sb.getCapacity(), s.capacity) << "at length " << s.length;
    }
    EXPECT_EQ(sb.getSize(), appended);
}

TEST(StringBufferGrowth, ConstructorCapacities)
{
    EXPECT_EQ(StringBuffer(0).getCapacity(), 200);
    EXPECT_EQ(StringBuffer(17).getCapacity(), 17);
    EXPECT_EQ(StringBuffer("abc").getCapacity(), 4);
    StringBuffer fromBytes("abcdef", 3, 0);
    EXPECT_EQ(str(fromBytes), "abc");
    EXPECT_EQ(fromBytes.getCapacity(), 4);
}

TEST(StringBufferLimits, OversizedAppendFailsAndLeavesObjectUnchanged)
{
    StringBuffer sb("keep");
    EXPECT_TRUE(sb.appendN("x", -1));  // n <= 0 appends nothing
    // A length that passes the 32-bit limit must be refused, not wrapped.
    EXPECT_FALSE(sb.appendHex(reinterpret_cast<const unsigned char*>("ab"), StringBuffer::kMaxLength / 2));
    EXPECT_EQ(str(sb), "keep");
}

TEST(StringBufferEdit, AppendHexLayout)
{
    unsigned char bytes[17];
    for (int i = 0; i < 17; ++i) bytes[i] = static_cast<unsigned char>(i);
    StringBuffer sb;
    EXPECT_TRUE(sb.appendHex(bytes, 17));
    EXPECT_EQ(str(sb), "0001 0203 0405 0607 0809 0A0B 0C0D 0E0F \n10");
    StringBuffer one;
    EXPECT_TRUE(one.appendHex(reinterpret_cast<const unsigned char*>("\xFF"), 1));
    EXPECT_EQ(str(one), "FF");
}

TEST(StringBufferEdit, ReplaceAllDoesNotRescanInsertedText)
{
    StringBuffer a("aaaa");
    EXPECT_EQ(a.replaceAll("aa", "a"), 2);
    EXPECT_EQ(str(a), "aa");
    StringBuffer b("x.y.z");
    EXPECT_EQ(b.replaceAll(".", ".."), 2);
    EXPECT_EQ(str(b), "x..y..z");
    EXPECT_EQ(b.replaceAll("", "q"), 0);
    EXPECT_EQ(b.replaceAll(nullptr, "q"), 0);
    EXPECT_EQ(b.replaceAll(".", nullptr), 4);
    EXPECT_EQ(str(b), "xyz");
    StringBuffer c("abcabc");
    EXPECT_TRUE(c.replaceFirst("bc", "X"));
    EXPECT_EQ(str(c), "aXabc");
    EXPECT_FALSE(c.replaceFirst("zz", "X"));
    EXPECT_FALSE(c.replaceFirst("", "X"));
}

TEST(StringBufferEdit, EmbeddedNulsSurviveReplaceAndCopy)
{
    StringBuffer sb("", 0, 0);
    EXPECT_TRUE(sb.appendN("ab\0cd\0ef", 8));
    EXPECT_TRUE(sb.replaceFirst("ab", "X"));
    EXPECT_EQ(str(sb), std::string("X\0cd\0ef", 7));
    StringBuffer copy;
    copy = sb;
    EXPECT_EQ(str(copy), std::string("X\0cd\0ef", 7));
    EXPECT_EQ(sb.replaceAll("e", "E"), 1);
    EXPECT_EQ(str(sb), std::string("X\0cd\0Ef", 7));
}

TEST(StringBufferEdit, XmlEscaping)
{
    StringBuffer a("a&lt;b");
    a.xmlEscape();
    EXPECT_EQ(str(a), "a&amp;lt;b");
    StringBuffer b("<\"q\" & 'x'>");
    b.xmlEscape();
    EXPECT_EQ(str(b), "&lt;&quot;q&quot; &amp; 'x'&gt;");
    StringBuffer c("<\"q\">");
    c.xmlEscapeNoQuotes();
    EXPECT_EQ(str(c), "&lt;\"q\"&gt;");
    StringBuffer d("pre:");
    EXPECT_TRUE(d.appendXmlEscaped("<a href='x'>&\""));
    EXPECT_EQ(str(d), "pre:&lt;a href=&apos;x&apos;&gt;&amp;&quot;");
}

TEST(StringBufferEdit, TrimCollapseAndLineEnds)
{
    StringBuffer a(" \t a b \t ");
    a.trim();
    EXPECT_EQ(str(a), "a b");
    StringBuffer b("\r\n x \r\n");
    b.trim();
    EXPECT_EQ(str(b), "\r\n x \r\n");
    b.trim2();
    EXPECT_EQ(str(b), "x");
    StringBuffer c("a\r\n\tb   c");
    c.collapseWhitespace();
    EXPECT_EQ(str(c), "a b c");
    StringBuffer d("a\r\nb\nc\r");
    d.toCrlf();
    EXPECT_EQ(str(d), "a\r\nb\r\nc");
    d.toLf();
    EXPECT_EQ(str(d), "a\nb\nc");
}

TEST(StringBufferEdit, CutsAtCharacters)
{
    StringBuffer a("name=value=x");
    a.dropBefore('=', true);
    EXPECT_EQ(str(a), "value=x");
    a.dropBefore('=', false);
    EXPECT_EQ(str(a), "=x");
    a.dropBefore('?', true);
    EXPECT_EQ(str(a), "=x");
    StringBuffer b("a.b.c");
    b.chopAtLast('.', false);
    EXPECT_EQ(str(b), "a.b.");
    b.chopAtLast('.', true);
    EXPECT_EQ(str(b), "a.b");
    b.shorten(10);
    EXPECT_EQ(str(b), "");
    StringBuffer p("C:/dir\\sub/file.txt");
    p.stripDirectory();
    EXPECT_EQ(str(p), "file.txt");
    StringBuffer q("plain");
    q.stripDirectory();
    EXPECT_EQ(str(q), "plain");
    StringBuffer r("aXbXc");
    r.removeCharFrom('X', 2);
    EXPECT_EQ(str(r), "aXbc");
    r.removeChar('X');
    EXPECT_EQ(str(r), "abc");
    EXPECT_EQ(r.charAt(5), '\0');
    EXPECT_EQ(r.charAt(-1), '\0');
    EXPECT_EQ(r.lastChar(), 'c');
    EXPECT_TRUE(r.prepend(">"));
    EXPECT_EQ(str(r), ">abc");
}

TEST(StringBufferEdit, ReplaceCharsOfStopsAtShortSet)
{
    // The set is only "a": the bytes after its NUL must not be taken.
    const char set[] = {'a', '\0', 'b', 'c', 'd'};
    StringBuffer sb("abcd");
    sb.replaceCharsOf(set, '_');
    EXPECT_EQ(str(sb), "_bcd");
    StringBuffer all("a1b2c3d4e5f6");
    all.replaceCharsOf("abcdefgh", '.');  // five bytes at most
    EXPECT_EQ(str(all), ".1.2.3.4.5f6");
}

TEST(StringBufferCompare, NullAndCase)
{
    StringBuffer empty;
    StringBuffer abc("aBc");
    EXPECT_TRUE(empty.equals(nullptr));
    EXPECT_FALSE(abc.equals(nullptr));
    EXPECT_TRUE(empty.equalsIgnoreCase(nullptr));
    EXPECT_TRUE(abc.equalsIgnoreCase("ABC"));
    EXPECT_FALSE(abc.equalsIgnoreCase("ABCD"));
    EXPECT_FALSE(abc.beginsWith(nullptr));
    EXPECT_TRUE(abc.beginsWith("aB"));
    EXPECT_TRUE(abc.containsIgnoreCase("bC"));
    EXPECT_FALSE(abc.contains("bC"));
    EXPECT_LT(abc.compare("b"), 0);
}

TEST(StringBufferCompare, CaseFoldingIgnoresTheLocale)
{
    const char* old = std::setlocale(LC_CTYPE, nullptr);
    std::string saved = old ? old : "C";
    bool latin1 = std::setlocale(LC_CTYPE, "en_US.ISO-8859-1") || std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1");
    StringBuffer sb(
        "Gr\xC3\xBC\xC3\x9F"
        "e");
    sb.toUpperCase();
    EXPECT_EQ(str(sb),
              "GR\xC3\xBC\xC3\x9F"
              "E");
    sb.toLowerCase();
    EXPECT_EQ(str(sb),
              "gr\xC3\xBC\xC3\x9F"
              "e");
    std::setlocale(LC_CTYPE, saved.c_str());
    if (!latin1) GTEST_LOG_(INFO) << "no Latin-1 locale installed; checked with the default locale only";
}

TEST(StringBufferMisc, SplitSkipsEmptyPiecesAndHonoursMax)
{
    StringBuffer sb(",a,,bb,c,");
    ExtPtrArray out;
    sb.split(',', out, 0);
    ASSERT_EQ(out.getSize(), 3);
    EXPECT_TRUE(static_cast<StringBuffer*>(out.get(1))->equals("bb"));
    out.removeAllObjects();
    sb.split(',', out, 2);
    EXPECT_EQ(out.getSize(), 2);
    out.removeAllObjects();
}

TEST(StringBufferMisc, TakeDataAndAsciiTest)
{
    StringBuffer sb("hello");
    EXPECT_TRUE(sb.isAllAscii());
    char* data = sb.takeData();
    EXPECT_STREQ(data, "hello");
    std::free(data);
    EXPECT_EQ(sb.getSize(), 0);
    EXPECT_TRUE(sb.append("\xE6\x97\xA5"));
    EXPECT_FALSE(sb.isAllAscii());
    EXPECT_TRUE(sb.appendInt(-42));
    EXPECT_EQ(str(sb), "\xE6\x97\xA5-42");
    StringBuffer big(1000);
    EXPECT_TRUE(big.append("abc"));
    big.shrink();
    EXPECT_EQ(big.getCapacity(), 4);
}

TEST(StringBufferMisc, AppendOfItselfIsSafe)
{
    StringBuffer sb("0123456789");
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(sb.append(sb));
    EXPECT_EQ(sb.getSize(), 640);
    EXPECT_TRUE(sb.setString(sb.getString() + 630));
    EXPECT_EQ(str(sb), "0123456789");
}

#ifndef NDEBUG
TEST(StringBufferDeathTest, DestroyedObjectTraps)
{
    alignas(StringBuffer) unsigned char storage[sizeof(StringBuffer)];
    auto* sb = new (storage) StringBuffer("x");
    sb->~StringBuffer();
    EXPECT_DEATH((void)sb->append("y"), "destroyed or overwritten StringBuffer|invalid vptr");
}
#endif

}  // namespace
