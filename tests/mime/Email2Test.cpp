// The email level: a new email's header, the bodies and the reshaping of the
// tree as alternatives arrive, the charset chosen for a body and given by
// SetCharset, sender and recipients, header-field dispatch, addressing copies
// and distribution lists. Checked on the MIME text the email writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mime/DistributionList.h"
#include "mime/Email2.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/Rfc822Address.h"

using namespace hanamail;

namespace {

using namespace hdrtest;
using R = Email2::Recipients;

std::string mime(const Email2& e)
{
    StringBuffer out;
    EXPECT_TRUE(e.GetMimeText(out));
    return str(out);
}

std::string headerOf(const std::string& text)
{
    return text.substr(0, text.find("\r\n\r\n"));
}

std::string bodyOf(const Email2& e)
{
    return std::string(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
}

void setText(Email2& e, const std::string& t)
{
    e.SetTextBody(t.data(), static_cast<uint32_t>(t.size()), false);
}

void setHtml(Email2& e, const std::string& h)
{
    e.SetHtmlBody(h.data(), static_cast<uint32_t>(h.size()));
}

Email2* plainPart(const std::string& t)
{
    return Email2::NewPlainTextPart(t.data(), static_cast<uint32_t>(t.size()));
}

Email2* htmlPart(const std::string& h, const Charset& cs)
{
    return Email2::NewHtmlPart(h.data(), static_cast<uint32_t>(h.size()), cs);
}

std::string field(const Email2& e, const char* name)
{
    return fieldValue(e.header(), name);
}

TEST(Email2New, HeaderFieldsInTheirOrderAndAnEmptyBody)
{
    Email2* e = Email2::NewEmail();
    const std::string text = mime(*e);
    std::vector<std::string> names;
    size_t from = 0;
    const std::string h = headerOf(text);
    while (from < h.size()) {
        size_t end = h.find("\r\n", from);
        if (end == std::string::npos) end = h.size();
        names.push_back(h.substr(from, h.find(':', from) - from));
        from = end + 2;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"MIME-Version", "Date", "Message-ID", "Content-Type",
                                               "Content-Transfer-Encoding", "X-Mailer", "X-Priority"}));
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
    EXPECT_NE(text.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nContent-Transfer-Encoding: 7bit\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nX-Mailer: Tembrix Hanamail Email ActiveX 2.0\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nX-Priority: 3 (Normal)\r\n\r\n"), std::string::npos);
    EXPECT_EQ(text.rfind("MIME-Version: 1.0\r\n", 0), 0u);

    const std::string id = field(*e, "Message-ID");
    ASSERT_GT(id.size(), 52u);
    EXPECT_EQ(id.substr(0, 13), "<TEMBRIX-MID-");
    EXPECT_EQ(id[13 + 36], '@');
    EXPECT_EQ(id.back(), '>');
    e->NewMessageId();
    EXPECT_NE(field(*e, "Message-ID"), id);
    // The Date written is one the parser reads back.
    CalendarTime t{};
    EXPECT_TRUE(DateParser::ParseDate(field(*e, "Date").c_str(), t));
    EXPECT_EQ(t.year, e->date().year);
    delete e;

    // Parts carry the entity fields only.
    Email2* p = Email2::NewPartNode();
    EXPECT_EQ(headerOf(mime(*p)), "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit");
    delete p;
}

TEST(Email2Body, CharsetChosenForTheText)
{
    Email2* ascii = Email2::NewEmail();
    setText(*ascii, "Hello, world");
    std::string t = mime(*ascii);
    EXPECT_NE(t.find("Content-Type: text/plain\r\n"), std::string::npos);
    EXPECT_NE(t.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    EXPECT_EQ(t.find("charset"), std::string::npos);
    delete ascii;

    Email2* french = Email2::NewEmail();
    setText(*french, "Déjà vu à Noël");
    t = mime(*french);
    EXPECT_NE(t.find("charset=\"iso-8859-1\""), std::string::npos) << t;
    EXPECT_NE(t.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\n\r\nD=E9j=E0 vu =E0 No=EBl"), std::string::npos) << t;
    delete french;

    Email2* japanese = Email2::NewEmail();
    setText(*japanese, "日本語のテキスト");
    t = mime(*japanese);
    EXPECT_NE(t.find("charset=\"utf-8\""), std::string::npos) << t;
    // UTF-8 text is mostly 8-bit: base64.
    EXPECT_NE(t.find("Content-Transfer-Encoding: base64\r\n"), std::string::npos);
    EXPECT_NE(t.find("\r\n\r\n5pel5pys6Kqe"), std::string::npos) << t;
    delete japanese;
}

TEST(Email2Body, HtmlAloneIsOneHtmlEntityDeclaringItsCharset)
{
    Email2* e = Email2::NewEmail();
    setHtml(*e, "<p>Hi</p>");
    EXPECT_TRUE(e->contentType().equals("text/html"));
    EXPECT_EQ(e->GetPartCount(), 0);
    EXPECT_NE(bodyOf(*e).find("charset=utf-8"), std::string::npos);
    EXPECT_EQ(e->FindHtmlBody(), e);
    delete e;
}

TEST(Email2Alternative, TextThenHtml)
{
    Email2* e = Email2::NewEmail();
    setText(*e, "Grüße");
    e->AddAlternativeBody(htmlPart("<p>Grüße</p>", e->charset()));
    ASSERT_TRUE(e->IsMultipartAlternative());
    ASSERT_EQ(e->GetPartCount(), 2);
    const Email2* plain = e->GetPart(0);
    EXPECT_TRUE(plain->contentType().equals("text/plain"));
    EXPECT_STREQ(plain->charset().getName(), "iso-8859-1");
    EXPECT_TRUE(plain->transferEncoding().equals("quoted-printable"));
    EXPECT_EQ(field(*plain, "Content-Type").find("format"), std::string::npos);
    EXPECT_TRUE(e->GetPart(1)->contentType().equals("text/html"));
    EXPECT_FALSE(e->header().HasField("Content-Transfer-Encoding"));
    EXPECT_NE(e->boundary().getString(), std::string());
    EXPECT_EQ(std::string(e->boundary().getString()).substr(e->boundary().getSize() - 5), "_.ALT");
    EXPECT_EQ(e->GetPlainTextAlternativeIndex(), 0);
    StringBuffer body;
    e->GetBodyText(body);
    EXPECT_EQ(str(body), "Grüße");
    delete e;
}

TEST(Email2Alternative, HtmlThenTextPutsTheTextFirst)
{
    Email2* e = Email2::NewEmail();
    setHtml(*e, "<p>Hello</p>");
    e->AddAlternativeBody(plainPart("Hello"));
    ASSERT_TRUE(e->IsMultipartAlternative());
    ASSERT_EQ(e->GetPartCount(), 2);
    const Email2* plain = e->GetPart(0);
    EXPECT_EQ(field(*plain, "Content-Type"), "text/plain;format=flowed");
    EXPECT_TRUE(e->GetPart(1)->contentType().equals("text/html"));
    EXPECT_EQ(e->FindHtmlBody(), e->GetPart(1));
    EXPECT_EQ(e->FindPlainTextBody(true), e->GetPart(0));
    // No message field went down into the parts.
    EXPECT_FALSE(plain->header().HasField("Date"));
    EXPECT_FALSE(e->GetPart(1)->header().HasField("X-Mailer"));
    EXPECT_TRUE(e->header().HasField("Message-ID"));
    delete e;
}

TEST(Email2Alternative, EightBitPlainPartDeclaresItsCharset)
{
    Email2* e = Email2::NewEmail();
    setHtml(*e, "<p>Grüße</p>");
    e->AddAlternativeBody(plainPart("Grüße"));
    const Email2* plain = e->FindPlainTextBody(true);
    ASSERT_NE(plain, nullptr);
    EXPECT_STREQ(plain->charset().getName(), "iso-8859-1");
    const std::string t = mime(*e);
    EXPECT_NE(t.find("charset=\"iso-8859-1\""), std::string::npos);
    EXPECT_NE(t.find("Gr=FC=DFe"), std::string::npos) << t;
    delete e;
}

TEST(Email2Alternative, SecondPlainTextReplacesTheFirst)
{
    Email2* e = Email2::NewEmail();
    setText(*e, "first");
    e->AddAlternativeBody(htmlPart("<p>html</p>", e->charset()));
    e->AddAlternativeBody(plainPart("second"));
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), "second");
    EXPECT_EQ(field(*e->GetPart(0), "Content-Type"), "text/plain;format=flowed");
    // SetTextBody on an alternative email goes the same way.
    setText(*e, "third");
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), "third");
    delete e;
}

// multipart/related( text/html, image/png ), as a captured page arrives.
Email2* relatedEmail()
{
    Email2* e = Email2::NewEmail();
    StringBuffer b;
    MimeBoundary::NewBoundary(b);
    EXPECT_TRUE(b.append("_.REL"));
    e->SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(), b.getString(), nullptr, "text/html");
    e->RemoveHeaderField("Content-Transfer-Encoding");
    e->AddPart(htmlPart("<html><body><img src=\"cid:i1\"></body></html>", Charset()));
    auto* img = new Email2();
    img->SetContentType("image/png", "i.png", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    img->SetDisposition("inline", "i.png");
    img->SetTransferEncoding("base64");
    img->SetContentId("<i1>");
    img->SetBody("\x89PNG", 4);
    e->AddPart(img);
    return e;
}

TEST(Email2Alternative, PlainTextIntoRelatedHtml)
{
    Email2* e = relatedEmail();
    e->AddAlternativeBody(plainPart("text"));
    ASSERT_TRUE(e->IsMultipartRelated());
    EXPECT_TRUE(e->type().equals("multipart/alternative"));
    ASSERT_EQ(e->GetPartCount(), 2);
    const Email2* alt = e->GetPart(0);
    ASSERT_TRUE(alt->IsMultipartAlternative());
    ASSERT_EQ(alt->GetPartCount(), 2);
    EXPECT_TRUE(alt->GetPart(0)->contentType().equals("text/plain"));
    EXPECT_TRUE(alt->GetPart(1)->contentType().equals("text/html"));
    EXPECT_TRUE(e->GetPart(1)->contentType().equals("image/png"));
    delete e;
}

// multipart/mixed( application/pdf ): a message that so far holds only a file.
Email2* pdfOnlyEmail(const std::string& pdf)
{
    Email2* e = Email2::NewEmail();
    StringBuffer b;
    MimeBoundary::NewBoundary(b);
    EXPECT_TRUE(b.append("_.MIX"));
    e->SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), b.getString(), nullptr, nullptr);
    e->RemoveHeaderField("Content-Transfer-Encoding");
    auto* f = new Email2();
    f->SetContentType("application/pdf", "a.pdf", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    f->SetDisposition("attachment", "a.pdf");
    f->SetTransferEncoding("base64");
    f->SetBody(pdf.data(), static_cast<uint32_t>(pdf.size()));
    e->AddPart(f);
    return e;
}

TEST(Email2Body, TextNeverOverwritesAnAttachedFile)
{
    const std::string pdf = "%PDF-1.4 \x01\x02\xFF";
    Email2* e = pdfOnlyEmail(pdf);
    setText(*e, "Grüße");
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), "Grüße");
    EXPECT_TRUE(e->GetPart(0)->contentType().equals("text/plain"));
    EXPECT_EQ(bodyOf(*e->GetPart(1)), pdf);
    EXPECT_TRUE(e->GetPart(1)->contentType().equals("application/pdf"));
    EXPECT_EQ(field(*e->GetPart(1), "Content-Type").find("charset"), std::string::npos);
    delete e;

    // An alternative added to it goes in front of the file as well.
    e = pdfOnlyEmail(pdf);
    e->AddAlternativeBody(htmlPart("<p>x</p>", Charset()));
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_TRUE(e->GetPart(0)->contentType().equals("text/html"));
    EXPECT_EQ(bodyOf(*e->GetPart(1)), pdf);
    delete e;

    e = pdfOnlyEmail(pdf);
    Email2* alt = e->ConvertToAlternative();
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(alt, e->GetPart(0));
    EXPECT_TRUE(alt->IsMultipartAlternative());
    EXPECT_EQ(bodyOf(*e->GetPart(1)), pdf);
    delete e;
}

TEST(Email2Charset, SetCharsetReachesHtmlAndPlainParts)
{
    Email2* e = Email2::NewEmail();
    setText(*e, "テキスト");
    e->AddAlternativeBody(htmlPart("<html><head></head><body>テキスト</body></html>", e->charset()));
    e->SetCharset(charsetNamed("shift_jis"));
    const Email2* html = e->FindHtmlBody();
    const Email2* plain = e->FindPlainTextBody(false);
    ASSERT_NE(html, nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_STREQ(html->charset().getName(), "shift_jis");
    EXPECT_TRUE(html->transferEncoding().equals("base64"));
    EXPECT_NE(bodyOf(*html).find("charset=shift_jis"), std::string::npos);
    EXPECT_STREQ(plain->charset().getName(), "shift_jis");
    EXPECT_STREQ(e->charset().getName(), "shift_jis");
    // The multipart root names no charset and has no transfer encoding of its own.
    EXPECT_EQ(field(*e, "Content-Type").find("charset"), std::string::npos);
    EXPECT_FALSE(e->header().HasField("Content-Transfer-Encoding"));
    StringBuffer name;
    e->GetCharset(name);
    EXPECT_EQ(str(name), "shift_jis");
    delete e;

    // GetCharset adopts the HTML part's charset when the message has none.
    e = relatedEmail();
    e->GetPart(0)->SetContentType("text/html", nullptr, nullptr, nullptr, charsetNamed("euc-jp"), nullptr, nullptr,
                                  nullptr);
    name.clear();
    e->GetCharset(name);
    EXPECT_EQ(str(name), "euc-jp");
    EXPECT_EQ(e->charset().getCodePage(), 51932);
    delete e;
}

TEST(Email2Recipients, ListsFieldsAndRefusals)
{
    Email2* e = Email2::NewEmail();
    EXPECT_TRUE(e->AddTo("Bob", "bob@example.com"));
    EXPECT_TRUE(e->AddTo("", "<amy@example.com>"));
    EXPECT_TRUE(e->AddCc("山田", "yamada@example.jp"));
    EXPECT_TRUE(e->AddBcc("Secret", "hidden@example.org"));
    EXPECT_FALSE(e->AddTo("X", ""));
    EXPECT_FALSE(e->AddTo("X", nullptr));
    EXPECT_FALSE(e->AddTo("X", "<>"));
    EXPECT_FALSE(e->AddTo("X", "a@example.com\r\nRCPT TO:<b@example.com>"));
    EXPECT_FALSE(e->AddBcc("X", "a@example.com\n"));
    EXPECT_EQ(e->GetRecipientCount(R::To), 2);
    EXPECT_EQ(e->GetRecipientCount(R::Cc), 1);
    EXPECT_EQ(e->GetRecipientCount(R::Bcc), 1);
    EXPECT_EQ(field(*e, "To"), "\"Bob\" <bob@example.com>, amy@example.com");
    StringBuffer s;
    EXPECT_TRUE(e->GetRecipientAddress(R::To, 1, s));
    EXPECT_EQ(str(s), "amy@example.com");
    s.clear();
    EXPECT_TRUE(e->GetRecipientName(R::Cc, 0, s));
    EXPECT_EQ(str(s), "山田");
    EXPECT_FALSE(e->GetRecipientFullForm(R::To, 2, s));

    const std::string t = mime(*e);
    EXPECT_NE(t.find("bob@example.com"), std::string::npos);
    EXPECT_NE(t.find("yamada@example.jp"), std::string::npos);
    EXPECT_EQ(t.find("hidden@example.org"), std::string::npos);
    EXPECT_EQ(t.find("Secret"), std::string::npos);
    EXPECT_EQ(t.find("Bcc"), std::string::npos);

    e->ClearTo();
    EXPECT_EQ(e->GetRecipientCount(R::To), 0);
    EXPECT_FALSE(e->header().HasField("To"));
    e->RemoveHeaderField("cc");
    EXPECT_EQ(e->GetRecipientCount(R::Cc), 0);
    e->ClearBcc();
    EXPECT_EQ(e->GetRecipientCount(R::Bcc), 0);
    delete e;
}

TEST(Email2Recipients, ListFormsDecodeWordsWithoutSplittingNames)
{
    Email2* e = Email2::NewEmail();
    // The word decodes to "Doe, John": still one mailbox.
    EXPECT_EQ(e->AddToList("=?utf-8?Q?Doe=2C_John?= <john@example.com>, amy@example.com, AMY@example.com"), 3);
    ASSERT_EQ(e->GetRecipientCount(R::To), 2);
    StringBuffer name;
    e->GetRecipientName(R::To, 0, name);
    EXPECT_EQ(str(name), "Doe, John");
    EXPECT_EQ(e->AddBccList("x@example.com"), 1);
    EXPECT_FALSE(e->header().HasField("Bcc"));
    EXPECT_EQ(e->AddCcList("nobody"), 0);
    EXPECT_FALSE(e->header().HasField("Cc"));
    // A mailbox that is not an ASCII addr-spec is left out; the rest is kept.
    EXPECT_EQ(e->AddCcList("tar\xC3\xB6@example.jp, ok@example.jp, taro@\xE6\x97\xA5\xE6\x9C\xAC.jp"), 1);
    ASSERT_EQ(e->GetRecipientCount(R::Cc), 1);
    EXPECT_EQ(str(e->GetRecipient(R::Cc, 0)->address()), "ok@example.jp");
    delete e;
}

TEST(Email2Recipients, OtherAddressFieldsTakeOnlyUsableMailboxes)
{
    Email2* e = Email2::NewEmail();
    for (const char* field : {"Sender", "Resent-To", "Disposition-Notification-To"}) {
        SCOPED_TRACE(field);
        EXPECT_FALSE(e->AddHeaderField(field, "tar\xC3\xB6@example.jp"));
        EXPECT_FALSE(e->AddHeaderField(field, "ok@example.jp, \"x\" <a b@example.jp>"));
        EXPECT_FALSE(e->AddHeaderField(field, "no address"));
        EXPECT_FALSE(e->header().HasField(field));
        EXPECT_TRUE(e->AddHeaderField(field, "\"\xE5\xB1\xB1\xE7\x94\xB0\" <taro@example.jp>, ok@example.jp"));
        EXPECT_TRUE(e->header().HasField(field));
    }
    // A group that names nobody is no mailbox to refuse.
    EXPECT_TRUE(e->AddHeaderField("Resent-To", "undisclosed-recipients:;"));
    EXPECT_FALSE(e->AddHeaderField("Resent-To", "x:; tar\xC3\xB6@example.jp"));
    // Unstructured fields take any text.
    EXPECT_TRUE(e->AddHeaderField("X-Note", "tar\xC3\xB6@example.jp"));
    delete e;
}

TEST(Email2Sender, FromNameEncodingAndReturnPath)
{
    Email2* e = Email2::NewEmail();
    EXPECT_FALSE(e->SetFrom("no address here"));
    EXPECT_FALSE(e->header().HasField("From"));
    ASSERT_TRUE(e->SetFrom("\"\xEF\xBB\xBF山田 太郎\" <taro@example.jp>"));
    StringBuffer name;
    e->fromAddress()->GetFriendlyName(name);
    EXPECT_EQ(str(name), "山田 太郎");
    EXPECT_EQ(field(*e, "From"), "\"山田 太郎\" <taro@example.jp>");
    EXPECT_EQ(field(*e, "return-path"), "taro@example.jp");
    // Text already holding an encoded word is decoded and written once again.
    ASSERT_TRUE(e->SetFrom("=?iso-8859-1?Q?Andr=E9?= <andre@example.fr>"));
    EXPECT_EQ(field(*e, "From"), "\"André\" <andre@example.fr>");
    EXPECT_TRUE(e->fromAddress()->name().beginsWith("=?utf-8?"));
    StringBuffer rp;
    e->GetReturnPath(rp);
    EXPECT_EQ(str(rp), "taro@example.jp");  // the first sender's return path stays
    EXPECT_FALSE(e->SetFrom(""));
    EXPECT_EQ(field(*e, "From"), "\"André\" <andre@example.fr>");

    e->RemoveHeaderField("return-path");
    rp.clear();
    e->GetReturnPath(rp);
    EXPECT_EQ(str(rp), "andre@example.fr");
    e->AddHeaderField("Return-Path", "<bounce@example.com>");
    rp.clear();
    e->GetReturnPath(rp);
    EXPECT_EQ(str(rp), "bounce@example.com");

    ASSERT_TRUE(e->SetReplyTo("Help Desk <help@example.com>"));
    EXPECT_EQ(field(*e, "Reply-To"), "\"Help Desk\" <help@example.com>");
    e->RemoveHeaderField("From");
    EXPECT_EQ(e->fromAddress(), nullptr);
    EXPECT_FALSE(e->header().HasField("From"));
    delete e;
}

TEST(Email2Header, FieldDispatch)
{
    Email2* e = Email2::NewEmail();
    e->AddHeaderField("", "ignored");
    e->AddHeaderField("content-transfer-encoding", " base64 ");
    EXPECT_TRUE(e->transferEncoding().equals("base64"));
    e->AddHeaderField("DATE", "Tue, 1 Jan 2002 00:30:00 +0900");
    EXPECT_EQ(e->date().year, 2001);
    EXPECT_EQ(e->date().hour, 15);
    EXPECT_EQ(field(*e, "Date"), "Tue, 1 Jan 2002 00:30:00 +0900");
    // A date readers cannot read is refused, and the one set stays.
    EXPECT_FALSE(e->AddHeaderField("Date", "not a date"));
    EXPECT_FALSE(e->AddHeaderField("Date", "Tue, 1 Jan 2002 00:30:00 +0900\r\nBcc: x@y.z"));
    EXPECT_EQ(e->date().year, 2001);
    EXPECT_EQ(field(*e, "Date"), "Tue, 1 Jan 2002 00:30:00 +0900");
    e->AddHeaderField("from", "a@example.com");
    EXPECT_NE(e->fromAddress(), nullptr);
    e->AddHeaderField("Content-ID", "<c1>");
    EXPECT_TRUE(e->contentId().equals("<c1>"));
    e->AddHeaderField("Subject", "one");
    e->AddHeaderField("subject", "two");
    StringBuffer subject;
    EXPECT_TRUE(e->GetSubject(subject));
    EXPECT_EQ(str(subject), "two");
    e->AddHeaderField("TBX-ReturnReceipt", "YES");
    StringBuffer out;
    EXPECT_TRUE(e->WriteMimeText(out, "TBX-"));
    EXPECT_EQ(str(out).find("TBX-"), std::string::npos);
    EXPECT_NE(mime(*e).find("TBX-ReturnReceipt: YES"), std::string::npos);

    e->RemoveHeaderField("Content-Transfer-Encoding");
    EXPECT_TRUE(e->transferEncoding().isEmpty());
    e->RemoveHeaderField("content-id");
    EXPECT_TRUE(e->contentId().isEmpty());
    e->RemoveHeaderField("Content-Type");
    EXPECT_TRUE(e->contentType().isEmpty());
    EXPECT_FALSE(e->header().HasField("Content-Type"));
    delete e;
}

TEST(Email2Header, BccFieldAddsRecipientsNeverALine)
{
    Email2* e = Email2::NewEmail();
    EXPECT_TRUE(e->AddHeaderField("BCC", "Hidden <h1@example.com>, h2@example.com"));
    EXPECT_EQ(e->GetRecipientCount(R::Bcc), 2);
    // One unusable address refuses the whole list.
    EXPECT_FALSE(e->AddHeaderField("Bcc", "ok@example.com, taro@日本.jp"));
    EXPECT_FALSE(e->AddHeaderField("Bcc", "nobody"));
    EXPECT_EQ(e->GetRecipientCount(R::Bcc), 2);
    const std::string t = mime(*e);
    EXPECT_EQ(t.find("Bcc"), std::string::npos);
    EXPECT_EQ(t.find("h1@"), std::string::npos);
    EXPECT_EQ(t.find("Hidden"), std::string::npos);
    delete e;
}

TEST(Email2Header, NamesAndAddressesThatCannotBeWrittenAreRefused)
{
    Email2* e = Email2::NewEmail();
    const int fields = e->header().GetFieldCount();
    for (const char* name : {"X-Ü", "X Tag", "X:Tag", "X-\x01", "X-\r\nBcc"})
        EXPECT_FALSE(e->AddHeaderField(name, "v")) << name;
    EXPECT_EQ(e->header().GetFieldCount(), fields);

    for (const char* address :
         {"taro@日本.jp", "tarö@example.jp", "nobody", "a b@example.com", "a@", "@example.com", "a@b@c", "a@[1.2.3"}) {
        EXPECT_FALSE(e->AddTo("", address)) << address;
        EXPECT_FALSE(e->AddCc("n", address)) << address;
        EXPECT_FALSE(e->AddBcc("", address)) << address;
    }
    for (const char* address : {"\"a b\"@example.com", "a.b+c@[192.0.2.1]", " <x_y@example.com> "})
        EXPECT_TRUE(e->AddTo("", address)) << address;
    EXPECT_EQ(e->GetRecipientCount(R::To), 3);

    // Exactly one mailbox: the parser would take the last of two silently.
    for (const char* text : {"r@x.com e7@x.com", "r@x.com\r\ne7@x.com", "a@x.com, b@y.com", "tarö@example.jp",
                             "Name <taro@日本.jp>", "a@b <c@d.com>"}) {
        EXPECT_FALSE(e->SetFrom(text)) << text;
        EXPECT_FALSE(e->AddHeaderField("Reply-To", text)) << text;
    }
    EXPECT_FALSE(e->header().HasField("From"));
    EXPECT_FALSE(e->header().HasField("Reply-To"));
    ASSERT_TRUE(e->SetReplyTo("\"desk@office, room 2\" <desk@example.com>"));
    EXPECT_NE(field(*e, "Reply-To").find("room 2\" <desk@example.com>"), std::string::npos);
    delete e;
}

TEST(Email2Addressing, CopyAddressingFromTakesSenderRecipientsAndFields)
{
    Email2* old = Email2::NewEmail();
    old->SetFrom("\"Émile\" <emile@example.fr>");
    old->AddTo("Doe, John", "john@example.com");
    old->AddCc("", "cc@example.com");
    old->AddBcc("B", "bcc@example.com");
    old->AddHeaderField("Subject", "Subject kept");
    old->AddHeaderField("Date", "1 Jan 02 12:00:00 GMT");

    Email2* page = Email2::NewEmail();
    page->AddTo("", "dropped@example.com");
    page->AddHeaderField("Subject", "page subject");
    page->CopyAddressingFrom(*old);
    ASSERT_EQ(page->GetRecipientCount(R::To), 1);
    StringBuffer s;
    page->GetRecipientName(R::To, 0, s);
    EXPECT_EQ(str(s), "Doe, John");
    EXPECT_EQ(page->GetRecipientCount(R::Cc), 1);
    EXPECT_EQ(page->GetRecipientCount(R::Bcc), 1);
    ASSERT_NE(page->fromAddress(), nullptr);
    s.clear();
    page->fromAddress()->GetFriendlyName(s);
    EXPECT_EQ(str(s), "Émile");
    EXPECT_EQ(field(*page, "To"), "\"Doe, John\" <john@example.com>");
    EXPECT_EQ(field(*page, "Subject"), "page subject");
    EXPECT_EQ(page->date().year, 2002);
    delete page;
    delete old;
}

TEST(Email2Size, BodiesPlusSixtyPerField)
{
    Email2* e = Email2::NewEmail();
    setText(*e, "0123456789");
    const int fields = e->header().GetFieldCount();
    EXPECT_EQ(e->EstimateSize(), 10 + 60 * fields);
    e->AddAlternativeBody(htmlPart("<p>abc</p>", Charset()));
    int expected = 60 * e->header().GetFieldCount();
    for (int i = 0; i < e->GetPartCount(); ++i)
        expected += static_cast<int>(e->GetPart(i)->body().getSize()) + 60 * e->GetPart(i)->header().GetFieldCount();
    EXPECT_EQ(e->EstimateSize(), expected);
    e->SetSecureSizeFlags(true, false);
    EXPECT_EQ(e->EstimateSize(), (expected + 2000) * 100 / 80);
    delete e;
}

TEST(DistributionListFile, ReadsAddressLines)
{
    namespace fs = std::filesystem;
    std::random_device rd;
    const fs::path p = fs::temp_directory_path() / ("hanamail-dist-" + std::to_string(rd()) + ".txt");
    {
        std::ofstream f(p, std::ios::binary);
        f << "  first@example.com \r\n\r\n\r\nnot an "
             "address\r\nSecond@Example.com\r\nsecond@example.com\n\tthird@x.org";
    }
    DistributionList list;
    EXPECT_EQ(list.LoadFromFile(p.string().c_str()), 3);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetAddress(0), "first@example.com");
    EXPECT_TRUE(list.Contains("SECOND@example.COM"));
    EXPECT_FALSE(list.AddAddress("  third@X.org "));
    EXPECT_FALSE(list.AddAddress("nobody"));
    EXPECT_TRUE(list.AddAddress(" fourth@example.com\t"));
    EXPECT_EQ(list.GetAddress(3), "fourth@example.com");
    EXPECT_EQ(list.GetAddress(4), "");
    std::error_code ec;
    fs::remove(p, ec);
    EXPECT_EQ(list.LoadFromFile(p.string().c_str()), -1);
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
