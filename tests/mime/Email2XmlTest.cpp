// The XML form of an email: the elements it writes, the hostile content it
// must carry, the reader's failures, and the email read back from it
// writing the same MIME text.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "mime/Email2XmlSupport.h"
#include "mime/MimeMessage2.h"
#include "mime/Rfc822Address.h"

using namespace hanamail;

namespace {

using namespace xmltest;
using R = Email2::Recipients;

std::unique_ptr<Email2> sample(const char* name)
{
    for (const auto& s : sampleEmails()) {
        if (s.first != name) continue;
        std::unique_ptr<Email2> e(Email2::NewEmail());
        s.second(*e);
        return e;
    }
    ADD_FAILURE() << "no sample " << name;
    return nullptr;
}

std::string between(const std::string& s, const std::string& from, const std::string& to)
{
    const size_t a = s.find(from);
    if (a == std::string::npos) return "<absent>";
    const size_t b = s.find(to, a + from.size());
    return b == std::string::npos ? "<absent>" : s.substr(a + from.size(), b - a - from.size());
}

std::string field(const Email2& e, const char* name)
{
    StringBuffer v;
    return e.GetHeaderField(name, v) ? str(v) : "<absent>";
}

std::string bodyText(const Email2& e)
{
    StringBuffer b;
    e.GetBodyText(b);
    return str(b);
}

// ---- The elements written

TEST(Email2XmlWrite, DocumentShape)
{
    auto e = sample("plain");
    const std::string xml = xmlOf(*e);
    EXPECT_EQ(xml.rfind("<mime_message>\n<header>\n<mime-version>1.0</mime-version>\n", 0), 0u) << xml;
    EXPECT_EQ(xml.substr(xml.size() - 25), "\n</body>\n</mime_message>\n");
    EXPECT_NE(xml.find("<subject>Hello</subject>\n"), std::string::npos);
    EXPECT_NE(xml.find("<content-type>\ntext/plain\n</content-type>\n"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<message-id>\n&lt;"), std::string::npos);
    EXPECT_NE(xml.find("<from>\n<address>\n\t<addr>taro@example.jp</addr>\n\t<name>Taro</name>\n</address>\n</from>\n"),
              std::string::npos);
    EXPECT_NE(xml.find("<to>\n<address>\n\t<addr>a@example.com</addr>\n\t<name/>\n</address>\n</to>\n"),
              std::string::npos);
    // "&" and markup in the body: CDATA.
    EXPECT_EQ(between(xml, "<body>\n", "\n</body>"), "<![CDATA[one & two <three>\r\nsecond line\r\n]]>");
}

TEST(Email2XmlWrite, AddressListsGiveOneElementPerMailbox)
{
    auto e = sample("plain");
    e->AddTo("Bob", "bob@example.com");
    const std::string to = between(xmlOf(*e), "<to>\n", "\n</to>");
    EXPECT_EQ(to,
              "<address>\n\t<addr>a@example.com</addr>\n\t<name/>\n</address>"
              "<address>\n\t<addr>bob@example.com</addr>\n\t<name>Bob</name>\n</address>");
    ASSERT_TRUE(e->AddHeaderField("Cc", "undisclosed-recipients:;"));
    EXPECT_EQ(between(xmlOf(*e), "<cc>\n", "\n</cc>"), "<description>undisclosed-recipients:;</description>");
}

TEST(Email2XmlWrite, JapaneseSubjectIsWrittenAsEncodedWords)
{
    auto e = sample("japanese-sjis");
    const std::string xml = xmlOf(*e);
    const std::string subject = between(xml, "<subject>", "</subject>");
    EXPECT_EQ(subject.rfind("=?shift_jis?B?", 0), 0u) << subject;
    for (unsigned char c : xml) ASSERT_LT(c, 0x80) << xml;
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "Subject"), "\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe4\xba\x88\xe5\xae\x9a");
    EXPECT_EQ(bodyText(*back), "\xe6\x9d\xa5\xe9\x80\xb1\xe3\x81\xae\xe4\xbc\x9a\xe8\xad\xb0\r\n");
}

TEST(Email2XmlWrite, ContentTypeParametersAreAttributes)
{
    auto e = sample("attachments");
    const std::string xml = xmlOf(*e);
    EXPECT_NE(xml.find("<content-type boundary=\"----=_NextPart_"), std::string::npos);
    EXPECT_NE(xml.find("_.MIX\">\nmultipart/mixed\n</content-type>\n"), std::string::npos);
    EXPECT_NE(xml.find("<content-disposition filename=\"=?utf-8?"), std::string::npos) << xml;
}

TEST(Email2XmlWrite, FreeTextKeepsItsSemicolonsAndEquals)
{
    // Only the MIME fields with parameters are split: a Subject or a custom
    // field with "; a=b" in its text must not come back with quotes added.
    auto e = sample("hostile-header");
    const std::string xml = xmlOf(*e);
    EXPECT_NE(xml.find("<x-custom>a; b=\"c;d\"; e</x-custom>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<comments>k=v; w=\"x\"</comments>"), std::string::npos);
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "X-Custom"), "a; b=\"c;d\"; e");
    EXPECT_EQ(field(*back, "Comments"), "k=v; w=\"x\"");
}

TEST(Email2XmlWrite, BccTravelsAsOneField)
{
    auto e = sample("attachments");
    const std::string xml = xmlOf(*e);
    EXPECT_NE(xml.find("<bcc>hidden@example.com,also@example.com</bcc>\n"), std::string::npos);
    auto back = import(xml);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->GetRecipientCount(R::Bcc), 2);
    StringBuffer a;
    back->GetRecipientAddress(R::Bcc, 1, a);
    EXPECT_EQ(str(a), "also@example.com");
    EXPECT_EQ(mimeOf(*back).find("hidden@"), std::string::npos);
    EXPECT_EQ(field(*back, "Bcc"), "<absent>");
}

// ---- Hostile content

TEST(Email2XmlHostile, EndOfCdataInABodySwitchesItToBase64)
{
    auto e = sample("hostile-body");
    const std::string xml = xmlOf(*e);
    EXPECT_NE(xml.find("<content-transfer-encoding>base64</content-transfer-encoding>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("]]> trailing"), std::string::npos);
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(bodyText(*back), bodyText(*e));
}

TEST(Email2XmlHostile, ControlBytesAndMarkupInHeadersStayText)
{
    auto e = sample("hostile-header");
    const std::string xml = xmlOf(*e);
    for (unsigned char c : xml) ASSERT_TRUE(c >= 0x20 || c == '\n' || c == '\t' || c == '\r') << xml;
    EXPECT_EQ(xml.find("<evil>"), std::string::npos);
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "Subject"), field(*e, "Subject"));
    ASSERT_NE(back->fromAddress(), nullptr);
    StringBuffer name;
    back->fromAddress()->GetFriendlyName(name);
    EXPECT_EQ(str(name), "Eve \"the\" <evil>");
    StringBuffer to;
    ASSERT_TRUE(back->GetRecipientName(R::To, 0, to));
    EXPECT_EQ(str(to), "a]]>b");
}

TEST(Email2XmlHostile, PrivateWordsGiveTheirBytesBack)
{
    const std::string xml =
        "<mime_message><header><subject>=?8bit?Q?caf=C3=A9_=00x?=</subject>"
        "<to><address><addr>a@example.com</addr><name>=?8bit?Q?R=C3=A9my?=</name></address></to>"
        "<content-type charset=\"utf-8\">text/plain</content-type></header><body>hi</body></mime_message>";
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "Subject"), "caf\xc3\xa9 x");
    StringBuffer name;
    ASSERT_TRUE(back->GetRecipientName(R::To, 0, name));
    EXPECT_EQ(str(name), "R\xc3\xa9my");
}

TEST(Email2XmlHostile, LineEndsInImportedValuesMakeNoNewFields)
{
    const std::string xml =
        "<mime_message><header><subject>a\nbcc: x@example.com</subject>"
        "<content-type charset=\"x&quot;\nto: y@example.com\">text/plain</content-type></header>"
        "<body>hi</body></mime_message>";
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetRecipientCount(R::Bcc), 0);
    EXPECT_EQ(back->GetRecipientCount(R::To), 0);
    EXPECT_EQ(field(*back, "Subject"), "a bcc: x@example.com");
}

TEST(Email2XmlHostile, NamesXmlCannotCarryAreLeftOutOrKeptAsText)
{
    auto e = sample("hostile-names");
    const std::string xml = xmlOf(*e);
    EXPECT_EQ(xml.find("<1st>"), std::string::npos);
    EXPECT_EQ(xml.find("bang"), std::string::npos);
    EXPECT_NE(xml.find("<x.good_1-a>kept</x.good_1-a>"), std::string::npos);
    EXPECT_NE(xml.find("<content-type charset=\"us-ascii\" x=\"1\">\ntext/plain; name*=utf-8''a%20b; X=2\n"),
              std::string::npos)
        << xml;
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "Content-Type"), "text/plain; name*=utf-8''a%20b; X=2; charset=\"us-ascii\"; x=\"1\"");
    EXPECT_EQ(field(*back, "X.Good_1-a"), "kept");
}

// ---- Reading

TEST(Email2XmlRead, TheEmailElementIsFoundBelowAnotherRoot)
{
    auto e = sample("plain");
    const std::string xml = "<?xml version=\"1.0\"?>\n<saved><meta/>" + xmlOf(*e) + "</saved>";
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "Subject"), "Hello");
}

TEST(Email2XmlRead, MissingPiecesGiveNoEmail)
{
    EXPECT_FALSE(import(""));
    EXPECT_FALSE(import("not xml at all"));
    EXPECT_FALSE(import("<other><header/><body/></other>"));
    EXPECT_FALSE(import("<mime_message><header><subject>x</subject></header></mime_message>"));
    EXPECT_FALSE(import("<mime_message><body>x</body></mime_message>"));
    EXPECT_TRUE(import("<mime_message><header/><body/></mime_message>"));
}

TEST(Email2XmlRead, BrokenSubPartsAreSkipped)
{
    const std::string xml =
        "<mime_message><header><content-type boundary=\"b1\">multipart/mixed</content-type></header><body>"
        "<subpart><mime_message><header><content-type>text/plain</content-type></header>"
        "<body>one</body></mime_message></subpart>"
        "<subpart><mime_message><header/></mime_message></subpart>"
        "<subpart/>"
        "</body></mime_message>";
    std::unique_ptr<MimeMessage2> m(
        Email2::ParseXml(xml.data(), static_cast<int32_t>(xml.size()), "mime_message", nullptr));
    ASSERT_TRUE(m);
    ASSERT_EQ(m->GetSubPartCount(), 1);
    // The multipart without body text gets the preamble line.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m->body().getData()), m->body().getSize()),
              "This is a multi-part message in MIME format.");
    auto back = import(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetPartCount(), 1);
    EXPECT_TRUE(back->IsMultipartMixed());
}

TEST(Email2XmlRead, ParserErrorsReachTheLog)
{
    Logger log;
    const std::string xml = "<mime_message><header></header><body>x</body><!-- open";
    std::unique_ptr<Email2> back(Email2::ImportXml(xml.data(), static_cast<int32_t>(xml.size()), &log));
    EXPECT_TRUE(back);
    StringBuffer text;
    log.getText(text);
    EXPECT_EQ(str(text), "Unclosed comment\r\n");
}

// ---- Export and import give the same MIME text

TEST(Email2XmlRoundTrip, EveryEmailWritesTheSameMimeAgain)
{
    for (const auto& s : sampleEmails()) {
        SCOPED_TRACE(s.first);
        std::unique_ptr<Email2> e(Email2::NewEmail());
        s.second(*e);
        const std::string xml = xmlOf(*e);
        const std::string before = mimeOf(*e);
        auto back = import(xml);
        ASSERT_TRUE(back);
        // A body with "]]>" is carried as base64: its text differs, its bytes
        // do not. Fields and parameters the form cannot name differ too.
        if (s.first == "hostile-body" || s.first == "hostile-names") {
            EXPECT_EQ(bodyText(*back), bodyText(*e));
            continue;
        }
        std::string after = mimeOf(*back);
        if (s.first == "attachments") {
            // The text attachment holds "]]>": base64 in the XML and after.
            const size_t at = before.find("filename=\"notes.txt\"");
            ASSERT_NE(at, std::string::npos);
            EXPECT_NE(after.find("base64", after.find("notes.txt")), std::string::npos);
            EXPECT_EQ(normalised(after).substr(0, normalised(after).find("notes.txt")),
                      normalised(before).substr(0, normalised(before).find("notes.txt")));
            continue;
        }
        EXPECT_EQ(normalised(after), normalised(before));
        // And the XML of the email read back is the XML it was read from.
        EXPECT_EQ(xmlOf(*back), xml);
        for (R kind : {R::To, R::Cc, R::Bcc}) EXPECT_EQ(back->GetRecipientCount(kind), e->GetRecipientCount(kind));
    }
}

}  // namespace
