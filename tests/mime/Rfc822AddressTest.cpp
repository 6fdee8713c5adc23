#include "mime/Rfc822Address.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}

// "name|address" with the name decoded; "null" for no address.
std::string box(const Rfc822Address* a)
{
    if (!a) return "null";
    StringBuffer name;
    a->GetFriendlyName(name);
    return str(name) + "|" + str(a->address());
}
std::string parsed(const char* text)
{
    std::unique_ptr<Rfc822Address> a(Rfc822Address::Parse(text));
    return box(a.get());
}
std::string fullForm(const Rfc822Address& a)
{
    StringBuffer out;
    a.GetFullForm(out);
    return str(out);
}

struct List {
    ExtPtrArray array;
    ~List() { array.removeAllObjects(); }
    int parse(const std::string& text) { return Rfc822Address::ParseList(text.c_str(), array); }
    const Rfc822Address* at(int32_t i) const { return dynamic_cast<Rfc822Address*>(array.get(i)); }
    std::vector<std::string> boxes() const
    {
        std::vector<std::string> out;
        for (int32_t i = 0; i < array.getSize(); ++i) out.push_back(box(at(i)));
        return out;
    }
};

TEST(Rfc822Address, ParsesTheUsualForms)
{
    EXPECT_EQ(parsed("  \"Jane Doe\" <jane@example.com>\t"), "Jane Doe|jane@example.com");
    EXPECT_EQ(parsed("bob@example.com"), "|bob@example.com");
    EXPECT_EQ(parsed("\"bob@example.com\" <bob@example.com>"), "|bob@example.com");
    EXPECT_EQ(parsed("'Bob' <bob@example.com>"), "Bob|bob@example.com");
    EXPECT_EQ(parsed("Bob Smith<bob@example.com>"), "Bob Smith|bob@example.com");
    // Outside the escapes this system writes, a backslash is just a character.
    EXPECT_EQ(parsed("CORP\\jdoe <jdoe@example.com>"), "CORP\\jdoe|jdoe@example.com");
    for (const char* none : {"", "no address here", "undisclosed-recipients:;", "Undisclosed Recipients <x@y.example>"})
        EXPECT_EQ(parsed(none), "null") << none;
    EXPECT_EQ(parsed(nullptr), "null");

    std::unique_ptr<Rfc822Address> a(Rfc822Address::Parse("\"Jane Doe\" <jane@example.com>"));
    EXPECT_EQ(fullForm(*a), "\"Jane Doe\" <jane@example.com>");
}

TEST(Rfc822Address, ControlBytesEndAnAddressAndAreReported)
{
    for (const char* t : {"Bob\t<bob@example.com>", "bob@example.com\r\n", "bob@example.com\x7F", "x\nbob@example.com",
                          "\"Bob\"\x01<bob@example.com>\x1F"})
        EXPECT_EQ(parsed(t).substr(parsed(t).find('|')), "|bob@example.com") << t;
    EXPECT_FALSE(Rfc822Address::hasControlBytes("Bob <\xE5\xB1\xB1@example.jp>"));
    EXPECT_FALSE(Rfc822Address::hasControlBytes(nullptr));
    EXPECT_TRUE(Rfc822Address::hasControlBytes("bob@example.com\r\nRCPT TO:<x@evil.example>"));
    EXPECT_TRUE(Rfc822Address::hasControlBytes("bob\t@example.com\x7F"));
    // Create keeps none of them, whatever its caller checked.
    EXPECT_EQ(box(std::make_unique<Rfc822Address>("Bob", "bob@exam\r\nple.com\t").get()), "Bob|bob@example.com");
}

TEST(Rfc822Address, AsciiAddrSpec)
{
    auto spec = [](const std::string& s) { return Rfc822ParseHelp::isAsciiAddrSpec(s.data(), s.size()); };
    for (const char* ok : {"a@b", "taro.yamada+tag@mail.example.jp", "\"john doe\"@example.com",
                           "\"a\\\"b\"@example.com", "x@[192.0.2.1]", "o'brien@example.ie", "a..b@example.com"})
        EXPECT_TRUE(spec(ok)) << ok;
    for (const char* bad :
         {"",           "@",       "a@",       "@b",   "ab",    "a b@c", "a@b c", "taro@日本.jp", "tarö@example.jp",
          "a@b\x1b",    "a\x7f@b", "<a@b>",    "a@b>", "a,b@c", ".a@b",  "a.@b",  "a@b.",         "\"a@b",
          "\"a\"b\"@c", "a@[1.2",  "a@[x\\y]", "a@b;c"})
        EXPECT_FALSE(spec(bad)) << bad;
}

TEST(Rfc822Address, CreateTakesTheBracketedAddress)
{
    Rfc822Address a(" Bob ", "Robert < bob@example.com > trailing");
    EXPECT_EQ(box(&a), "Bob|bob@example.com");
    Rfc822Address empty("", "bob@example.com");
    EXPECT_EQ(str(empty.fullText()).substr(0, 2), "\"\"");
    EXPECT_EQ(fullForm(empty), "bob@example.com");
    EXPECT_TRUE(Rfc822Address("bob@example.com", "bob@example.com").HasNoName());
    // The private 8bit word carries raw UTF-8.
    EXPECT_EQ(str(Rfc822Address("=?8bit?Q?=E5=B1=B1=E7=94=B0?=", "t@example.jp").name()), "山田");
}

TEST(Rfc822Address, FullFormOfAnyNameParsesBackAsOneMailbox)
{
    std::string joined;
    int k = 0;
    for (const char* name : {"x\" <evil@x.example>, \"y", "Doe, Jane", "back\\slash\\", "\"quoted\"", "a \\\" b"}) {
        Rfc822Address a(name, "bob@x.example");
        List l;
        ASSERT_EQ(l.parse(fullForm(a)), 1) << fullForm(a);
        EXPECT_EQ(box(l.at(0)), std::string(name) + "|bob@x.example") << fullForm(a);
        std::string mailbox = std::string("m").append(std::to_string(k++)).append("@x.example");
        if (!joined.empty()) joined += ", ";
        joined += fullForm(Rfc822Address(name, mailbox.c_str()));
    }
    EXPECT_EQ(fullForm(Rfc822Address("x\" <evil@x.example>, \"y", "bob@x.example")),
              "\"x\\\" <evil@x.example>, \\\"y\" <bob@x.example>");
    // Joined as the To field is built, five mailboxes stay five.
    List l;
    EXPECT_EQ(l.parse(joined), 5) << joined;
}

TEST(Rfc822Address, DecodedWordsInAddressFieldsCannotAddRecipients)
{
    StringBuffer field("=?utf-8?Q?a=2C_evil=40x=2C_b?= <bob@x>");
    Rfc822Address::decodeEncodedWordsEscaped(field);
    EXPECT_EQ(str(field), "a\\, evil@x\\, b <bob@x>");
    List l;
    EXPECT_EQ(l.parse(str(field)), 1);
    EXPECT_EQ(l.boxes(), std::vector<std::string>{"a, evil@x, b|bob@x"});

    StringBuffer quoted("\"=?utf-8?Q?say_=22hi=22_=5C?=\" <c@d.example>, =?iso-8859-1?Q?J=FCrgen?= <j@d.example>");
    Rfc822Address::decodeEncodedWordsEscaped(quoted);
    List q;
    EXPECT_EQ(q.parse(str(quoted)), 2);
    EXPECT_EQ(q.boxes(), (std::vector<std::string>{"say \"hi\" \\|c@d.example", "Jürgen|j@d.example"}));

    StringBuffer plain("a, \"b\\\"\" <b@x>, =?broken <c@x>");
    Rfc822Address::decodeEncodedWordsEscaped(plain);
    EXPECT_EQ(str(plain), "a, \"b\\\"\" <b@x>, =?broken <c@x>");
}

TEST(Rfc822Address, ParseListSplitsUnfoldsAndDropsDuplicates)
{
    List l;
    EXPECT_EQ(l.parse("\"Doe, Jane\" <jane@x.example>, JANE@X.example, nobody, undisclosed-recipients:;, ,\r\n"
                      "\t\"Smith \\\"JJ, Jr\\\"\r\n\tthe 2nd\" <jj@z.example>"),
              3);
    EXPECT_EQ(l.boxes(),
              (std::vector<std::string>{"Doe, Jane|jane@x.example", "Smith \"JJ, Jr\" the 2nd|jj@z.example"}));
    // Entries already in the list are duplicates too.
    EXPECT_EQ(l.parse("Jj <JJ@z.example>, carol@x.example"), 2);
    EXPECT_EQ(l.array.getSize(), 3);
    EXPECT_EQ(l.parse("Undisclosed recipients:;"), 0);
}

TEST(Rfc822Address, JapaneseNamesAreStoredAsEncodedWords)
{
    List l;
    ASSERT_EQ(l.parse("\"山田 太郎\" <taro@example.jp>, 佐藤花子 <hanako@example.jp>, "
                      "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>"),
              3);
    EXPECT_EQ(str(l.at(0)->name()).rfind("=?utf-8?Q?", 0), 0u) << str(l.at(0)->name());
    EXPECT_TRUE(l.at(0)->name().isAllAscii());
    EXPECT_EQ(str(l.at(2)->name()), "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=");  // kept as it came
    EXPECT_EQ(l.boxes(), (std::vector<std::string>{"山田 太郎|taro@example.jp", "佐藤花子|hanako@example.jp",
                                                   "山田|yamada@example.jp"}));
    StringBuffer decoded;
    l.at(1)->GetDecodedFullForm(decoded);
    EXPECT_EQ(str(decoded), "\"佐藤花子\" <hanako@example.jp>");
}

TEST(Rfc822Address, ReplaceTextKeepsTheAddressClean)
{
    Rfc822Address a("Dear {name}", "{user}@x.example");
    EXPECT_TRUE(a.ReplaceText("{user}", "bob"));
    EXPECT_TRUE(a.ReplaceText("{name}", "Bob"));
    EXPECT_FALSE(a.ReplaceText("{none}", "x"));
    EXPECT_EQ(box(&a), "Dear Bob|bob@x.example");
    EXPECT_EQ(str(a.fullText()), "\"Dear Bob\" <bob@x.example>");
    std::unique_ptr<Rfc822Address> copy(a.Clone());

    // Merge data cannot put a line break into the envelope address.
    EXPECT_TRUE(a.ReplaceText("bob", "bob\r\nRCPT TO:<e@evil.example>\r\n"));
    EXPECT_FALSE(Rfc822Address::hasControlBytes(a.address().getString()));
    EXPECT_EQ(str(a.address()).find(' '), std::string::npos);
    EXPECT_EQ(box(copy.get()), "Dear Bob|bob@x.example");
}

TEST(Rfc822Address, WritesTheXmlAddressElement)
{
    StringBuffer out;
    Rfc822Address("A & <B>", "a@x.example").WriteXml(out);
    Rfc822Address(nullptr, "").WriteXml(out);
    Rfc822Address("=?8bit?Q?=E5=B1=B1?=", "y@x.example").WriteXml(out);  // raw 8-bit goes back to the private word
    EXPECT_EQ(str(out),
              "<address>\n\t<addr>a@x.example</addr>\n\t<name>A &amp; &lt;B&gt;</name>\n</address>"
              "<address>\n\t<addr/>\n\t<name/>\n</address>"
              "<address>\n\t<addr>y@x.example</addr>\n\t<name>=?8bit?Q?=E5=B1=B1?=</name>\n</address>");
}

}  // namespace
