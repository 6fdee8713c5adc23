// Reading MIME text: line ends, boundaries, header values and parameters,
// transfer decoding and charsets, and the repairs made while an email is
// built from the tree (Bcc, legacy attachments, uuencoding, AppleDouble).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/BufferLimit.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/Logger.h"
#include "foundation/StringPair.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParamList.h"
#include "mime/Rfc822Address.h"
#include "mime/UuDecoder.h"

namespace {

using namespace hanamail;
using namespace hdrtest;

std::string bodyOf(const MimeMessage2& m)
{
    return std::string(reinterpret_cast<const char*>(m.body().getData()), m.body().getSize());
}

std::string bodyOf(const Email2& e)
{
    return std::string(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
}

std::unique_ptr<MimeMessage2> parse(const std::string& text)
{
    auto m = std::make_unique<MimeMessage2>();
    m->ParseMime(text.data(), static_cast<uint32_t>(text.size()));
    return m;
}

std::unique_ptr<Email2> read(const std::string& text)
{
    Logger log;
    return std::unique_ptr<Email2>(Email2::EmailFromMimeText(text.data(), static_cast<uint32_t>(text.size()), log));
}

std::string crlf(std::string s)
{
    std::string r;
    for (char c : s) {
        if (c == '\n') r += '\r';
        r += c;
    }
    return r;
}

const std::string kMultipart =
    "From: a@example.com\n"
    "Subject: parts\n"
    "Content-Type: multipart/mixed; boundary=\"XyZ\"\n"
    "\n"
    "preamble\n"
    "--XyZ\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "\n"
    "first\n"
    "--XyZ\n"
    "Content-Type: application/octet-stream\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "AAEC/w==\n"
    "--XyZ--\n"
    "epilogue\n";

TEST(MimeReader, LfOnlyTextParsesLikeCrlf)
{
    for (const std::string& text : {kMultipart, crlf(kMultipart)}) {
        auto m = parse(text);
        EXPECT_EQ(str(m->contentType()), "multipart/mixed");
        EXPECT_EQ(str(m->boundary()), "XyZ");
        ASSERT_EQ(m->GetSubPartCount(), 2);
        EXPECT_EQ(bodyOf(*m->GetSubPart(0)), "first");
        EXPECT_EQ(bodyOf(*m->GetSubPart(1)), std::string("\x00\x01\x02\xff", 4));
        EXPECT_EQ(fieldValue(m->header(), "Subject"), "parts");
    }
}

TEST(MimeReader, BoundariesAreWholeLines)
{
    // Text that holds the boundary inside a line, a padded delimiter line
    // and a longer boundary that begins with this one: none of them split.
    const std::string text = crlf(
        "Content-Type: multipart/mixed; boundary=b1\n\n"
        "--b1 \t\n"
        "Content-Type: text/plain\n\n"
        "see --b1 here\n"
        "--b1x\n"
        "still first\n"
        "--b1\n"
        "\n"
        "second\n"
        "--b1--");
    auto m = parse(text);
    ASSERT_EQ(m->GetSubPartCount(), 2);
    EXPECT_EQ(bodyOf(*m->GetSubPart(0)), "see --b1 here\r\n--b1x\r\nstill first");
    EXPECT_EQ(bodyOf(*m->GetSubPart(1)), "second");
}

TEST(MimeReader, TruncatedAndEmptyParts)
{
    // An empty part is dropped; a missing closing boundary keeps the last
    // part up to the end, less only a final line end (never data bytes).
    auto m = parse(crlf("Content-Type: multipart/mixed; boundary=q\n\n--q\n--q\n\nlast part\n"));
    ASSERT_EQ(m->GetSubPartCount(), 1);
    EXPECT_EQ(bodyOf(*m->GetSubPart(0)), "last part");
    m = parse(crlf("Content-Type: multipart/mixed; boundary=q\n\n--q\n\nno line end"));
    ASSERT_EQ(m->GetSubPartCount(), 1);
    EXPECT_EQ(bodyOf(*m->GetSubPart(0)), "no line end");
}

TEST(MimeReader, MultipartWithoutItsBoundaryKeepsTheText)
{
    Logger log;
    MimeMessage2 m;
    const std::string text = crlf("Content-Type: multipart/mixed; boundary=abc\n\n--other\n\nHello there\n--other--\n");
    m.ParseMime(text.data(), static_cast<uint32_t>(text.size()), log);
    ASSERT_EQ(m.GetSubPartCount(), 1);
    EXPECT_EQ(str(m.GetSubPart(0)->contentType()), "text/plain");
    EXPECT_NE(bodyOf(*m.GetSubPart(0)).find("Hello there"), std::string::npos);
    StringBuffer t;
    log.getText(t);
    EXPECT_NE(str(t).find("No boundary found in the multipart body"), std::string::npos) << str(t);
}

TEST(MimeReader, HeaderWithoutBodyAndBodyWithoutHeader)
{
    auto m = parse("Subject: only a header\r\nX-A: 1");
    EXPECT_EQ(fieldValue(m->header(), "X-A"), "1");
    EXPECT_EQ(m->body().getSize(), 0u);
    m = parse("\r\nJust text, no header.");
    EXPECT_EQ(str(m->contentType()), "text/plain");
    EXPECT_EQ(bodyOf(*m), "Just text, no header.");
    // The empty line after the empty header is the body's: the writers give
    // a part without fields whose body begins with one so.
    m = parse("\r\n\r\nbody after an empty line");
    EXPECT_EQ(str(m->contentType()), "text/plain");
    EXPECT_EQ(bodyOf(*m), "\r\nbody after an empty line");
}

TEST(MimeReader, APartWithoutFieldsKeepsItsLineEnds)
{
    // Its body begins with an empty line, which must stay the body's, in a
    // part and in an email without fields.
    {
        std::unique_ptr<Email2> e = read("Content-Type:\r\n\r\n\r\nafter an empty line");
        ASSERT_TRUE(e);
        StringBuffer out;
        ASSERT_TRUE(e->GetMimeText(out));
        std::unique_ptr<Email2> again = read(str(out));
        ASSERT_TRUE(again);
        EXPECT_EQ(bodyOf(*e), "\r\nafter an empty line");
        EXPECT_EQ(bodyOf(*again), bodyOf(*e)) << str(out);
    }
    {
        const std::string t =
            "Content-Type: multipart/mixed; boundary=s\r\n\r\n--s\r\nContent-Type:\r\n\r\n"
            "\r\nafter an empty line\r\n--s--\r\n";
        std::unique_ptr<Email2> e = read(t);
        ASSERT_TRUE(e);
        ASSERT_EQ(e->GetPartCount(), 1);
        EXPECT_EQ(bodyOf(*e->GetPart(0)), "\r\nafter an empty line");
        StringBuffer out;
        ASSERT_TRUE(e->GetMimeText(out));
        std::unique_ptr<Email2> again = read(str(out));
        ASSERT_TRUE(again);
        ASSERT_EQ(again->GetPartCount(), 1);
        EXPECT_EQ(bodyOf(*again->GetPart(0)), "\r\nafter an empty line") << str(out);
    }
    // The empty field goes, so the part is written without a header; its
    // bare CR and LF are no line ends to be normalised when it is read again.
    const std::string text =
        "Content-Type: multipart/mixed; boundary=s\r\n\r\n--s\r\nContent-Type:\r\n\r\n"
        "a\rb\r\n\nc\r\n--s--\r\n";
    std::unique_ptr<Email2> e = read(text);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->GetPartCount(), 1);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), "a\rb\r\n\nc");
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    std::unique_ptr<Email2> again = read(str(out));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GetPartCount(), 1);
    EXPECT_EQ(bodyOf(*again->GetPart(0)), "a\rb\r\n\nc") << str(out);
}

TEST(MimeReader, ABoundaryOfOtherThanPrintableAsciiIsWrittenAnew)
{
    // The header is ISO-2022-JP, so the boundary's 8-bit byte reads as a
    // half-width katakana; in the header it could only be an encoded word,
    // which comes back full-width. The email is written with a fresh
    // boundary and reads back with its parts.
    const std::string b = "a\xEF\xBD\xB6";
    const std::string text =
        "Subject: =?ISO-2022-JP?B?GyRCN29MPiVGJTklSBsoQg==?=\r\n"
        "Content-Type: multipart/mixed; boundary=\"a\xB6\"\r\n\r\n--" +
        b + "\r\nContent-Type: text/plain\r\n\r\none\r\n--" + b + "\r\n\r\ntwo\r\n--" + b + "--\r\n";
    std::unique_ptr<Email2> e = read(text);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->GetPartCount(), 2);
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    EXPECT_EQ(str(out).find("boundary=\"=?"), std::string::npos) << str(out);
    std::unique_ptr<Email2> again = read(str(out));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GetPartCount(), 2) << str(out);
    EXPECT_EQ(bodyOf(*again->GetPart(0)), "one");
    EXPECT_EQ(bodyOf(*again->GetPart(1)), "two");
}

TEST(MimeReader, ABodyThatHoldsTheDelimiterIsWrittenWithAFreshBoundary)
{
    // "=2D-b" decodes to a delimiter line of the multipart's own boundary;
    // quoted-printable writes it back as it is, so the boundary must change
    // or the part ends there. Base64 can never hold it: the boundary stays.
    const std::string text =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\none\r\n=2D-b\r\ntwo\r\n--b\r\n"
        "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\nLS1i\r\n--b--\r\n";
    const std::string held = "one\r\n--b\r\ntwo";
    std::unique_ptr<Email2> e = read(text);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), held);
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    std::unique_ptr<Email2> again = read(str(out));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GetPartCount(), 2) << str(out);
    EXPECT_EQ(bodyOf(*again->GetPart(0)), held) << str(out);
    EXPECT_EQ(bodyOf(*again->GetPart(1)), "--b");

    // The entity writer, with the held part one level down.
    const std::string nested =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: multipart/alternative; boundary=c\r\n\r\n--c\r\nContent-Type: text/plain\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n\r\none\r\n=2D-b\r\ntwo\r\n--c\r\n\r\nx\r\n--c--\r\n--b--\r\n";
    auto m = parse(nested);
    ASSERT_EQ(m->GetSubPartCount(), 1);
    StringBuffer written;
    ASSERT_TRUE(m->WriteMimeText(written));
    auto back = parse(str(written));
    ASSERT_EQ(back->GetSubPartCount(), 1) << str(written);
    ASSERT_EQ(back->GetSubPart(0)->GetSubPartCount(), 2) << str(written);
    EXPECT_EQ(bodyOf(*back->GetSubPart(0)->GetSubPart(0)), held);

    // Nothing held: the boundary is kept.
    auto plain = parse("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nx--c\r\n--b--\r\n");
    StringBuffer kept;
    ASSERT_TRUE(plain->WriteMimeText(kept));
    EXPECT_NE(str(kept).find("\r\n--b--\r\n"), std::string::npos) << str(kept);
}
TEST(MimeReader, AFirstLineThatIsNoFieldStartsTheBody)
{
    // A digest notice without header fields: every paragraph is text.
    const std::string notice = "Send list submissions to\n\tlist@example.com\n\nTo subscribe: visit\n\nbye\n";
    for (const std::string& text : {notice, crlf(notice)}) {
        auto m = parse(text);
        EXPECT_EQ(str(m->contentType()), "text/plain");
        EXPECT_EQ(m->header().GetFieldCount(), 1);
        EXPECT_EQ(bodyOf(*m), crlf(notice));
    }
    // Without any empty line too, and with a colon only after a space in the name.
    EXPECT_EQ(bodyOf(*parse("and ")), "and ");
    EXPECT_EQ(bodyOf(*parse("Dear Sir: hello\r\n\r\nmore")), "Dear Sir: hello\r\n\r\nmore");
    EXPECT_EQ(bodyOf(*parse("Bytes\xE4: x\r\n\r\nb")), "Bytes\xE4: x\r\n\r\nb");

    // What still opens a header: a name with blanks before its colon, an
    // empty name, a fold, a mailbox line.
    for (const char* field : {"Subject : s", ": s", " folded", "From a@example.com Tue Dec  8 09:30:00 2026"}) {
        auto m = parse(std::string(field) + "\r\nX-A: 1\r\n\r\nbody");
        EXPECT_EQ(fieldValue(m->header(), "X-A"), "1") << field;
        EXPECT_EQ(bodyOf(*m), "body") << field;
    }

    // The email of such text writes, reads back, and has an XML form.
    std::unique_ptr<Email2> e = read(notice);
    ASSERT_TRUE(e);
    StringBuffer text;
    e->GetBodyText(text);
    EXPECT_EQ(str(text), crlf(notice));
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    std::unique_ptr<Email2> again = read(str(out));
    ASSERT_TRUE(again);
    EXPECT_EQ(bodyOf(*again), bodyOf(*e));
    StringBuffer xml;
    ASSERT_TRUE(e->GetXml(xml, true));
    Logger log;
    std::unique_ptr<Email2> imported(Email2::ImportXml(xml.getString(), xml.getSize(), &log));
    ASSERT_TRUE(imported);
    EXPECT_EQ(bodyOf(*imported), bodyOf(*e));
}

TEST(MimeReader, OuterDelimitersInsideAnInnerPartEndItAndKeepTheText)
{
    // A padded delimiter line of the outer multipart inside a part of the
    // inner one ends both (the inner multipart is never closed); the text
    // around the delimiters is parts of its own, header-less.
    const std::string text = crlf(
        "Content-Type: multipart/mixed; boundary=\"- o\"\n\n"
        "--- o\n"
        "Content-Type: multipart/mixed; boundary=\"- i\"\n\n"
        "--- i\n"
        "Content-Type: text/plain\n\n"
        "first tags\n"
        "--- i \n"
        "and \n"
        "--- o \n"
        "but at the start of a line!\n\n"
        "--- i--\n"
        "\n"
        "--- o\n"
        "Content-Type: text/plain\n\n"
        "last\n"
        "--- o--\n");
    auto m = parse(text);
    ASSERT_EQ(m->GetSubPartCount(), 3);
    const MimeMessage2& inner = *m->GetSubPart(0);
    ASSERT_EQ(inner.GetSubPartCount(), 2);
    EXPECT_EQ(bodyOf(*inner.GetSubPart(0)), "first tags");
    EXPECT_EQ(bodyOf(*inner.GetSubPart(1)), "and ");
    EXPECT_EQ(bodyOf(*m->GetSubPart(1)), "but at the start of a line!\r\n\r\n--- i--\r\n");
    EXPECT_EQ(bodyOf(*m->GetSubPart(2)), "last");
}

TEST(MimeReader, APartStartingWithALineEndHasNoHeaderThoughAnEmptyLineFollows)
{
    // The first paragraph of such a part is body text, not header fields;
    // the email writes a part like it again (a part without fields) and
    // reads back with the same bytes.
    const std::string text =
        "Content-Type: multipart/mixed; boundary=a\r\n\r\n--a\r\nNot-A: field\r\n"
        "first paragraph\r\n\r\nsecond\r\n--a\r\nNoColonHere\r\n\r\nx: y\r\n\r\nz\r\n--a--\r\n";
    MimeMessage2 m;
    const std::string headerless =
        "Content-Type: multipart/mixed; boundary=a\r\n\r\n--a\r\n\r\nNot-A: field\r\n"
        "first paragraph\r\n\r\nsecond\r\n--a--\r\n";
    m.ParseMime(headerless.data(), static_cast<uint32_t>(headerless.size()));
    ASSERT_EQ(m.GetSubPartCount(), 1);
    EXPECT_FALSE(m.GetSubPart(0)->header().HasField("Not-A"));
    EXPECT_EQ(str(m.GetSubPart(0)->contentType()), "text/plain");
    EXPECT_EQ(bodyOf(*m.GetSubPart(0)), "Not-A: field\r\nfirst paragraph\r\n\r\nsecond");

    Logger log;
    std::unique_ptr<Email2> e(Email2::EmailFromMimeText(text.data(), static_cast<uint32_t>(text.size()), log));
    ASSERT_TRUE(e);
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    std::unique_ptr<Email2> again(
        Email2::EmailFromMimeText(out.getString(), static_cast<uint32_t>(out.getSize()), log));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GetPartCount(), e->GetPartCount());
    for (int i = 0; i < e->GetPartCount(); ++i) EXPECT_EQ(bodyOf(*again->GetPart(i)), bodyOf(*e->GetPart(i))) << i;
}

TEST(MimeReader, AMultipartHeaderInABoundarylessBodyIsText)
{
    // The outer boundary never occurs; the text looks like a multipart part.
    // It is kept whole as text, so that writing and reading it again gives
    // the same part and bytes instead of a multipart that splits.
    const std::string text =
        "Content-Type: multipart/alternative; boundary=a\r\n\r\n--x\r\n"
        "Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\nhi\r\n--r--\r\n";
    Logger log;
    std::unique_ptr<Email2> e(Email2::EmailFromMimeText(text.data(), static_cast<uint32_t>(text.size()), log));
    ASSERT_TRUE(e);
    ASSERT_EQ(e->GetPartCount(), 1);
    EXPECT_EQ(str(e->GetPart(0)->contentType()), "text/plain");
    EXPECT_NE(bodyOf(*e->GetPart(0)).find("boundary=r"), std::string::npos);
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    std::unique_ptr<Email2> again(
        Email2::EmailFromMimeText(out.getString(), static_cast<uint32_t>(out.getSize()), log));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GetPartCount(), 1);
    EXPECT_EQ(again->GetPart(0)->GetPartCount(), 0);
    EXPECT_EQ(bodyOf(*again->GetPart(0)), bodyOf(*e->GetPart(0)));

    // Only a closing delimiter occurs: the part ends before it.
    const std::string closed = "Content-Type: multipart/mixed; boundary=d\r\n\r\nno opening\r\n--d--\r\nafter\r\n";
    std::unique_ptr<Email2> c(Email2::EmailFromMimeText(closed.data(), static_cast<uint32_t>(closed.size()), log));
    ASSERT_TRUE(c);
    ASSERT_EQ(c->GetPartCount(), 1);
    EXPECT_EQ(bodyOf(*c->GetPart(0)), "no opening");
}

TEST(MimeReader, NulBytesAreText)
{
    static const char raw[] = "Subject: a\0b\r\nContent-Transfer-Encoding: base64\r\n\r\nAA\0EC";
    const std::string text(raw, sizeof raw - 1);
    auto m = parse(text);
    EXPECT_EQ(fieldValue(m->header(), "Subject"), "ab");
    EXPECT_EQ(bodyOf(*m), std::string("\x00\x01\x02", 3));
    const std::string plain("Subject: x\r\n\r\nbefore\0after", 26);
    EXPECT_EQ(bodyOf(*parse(plain)), std::string("before\0after", 12));
}

TEST(MimeReader, TextBodiesBecomeUtf8OtherBytesStay)
{
    // "日本" in Shift_JIS, quoted-printable; the same bytes as an attachment.
    auto m = parse(
        "Content-Type: text/plain; charset=shift_jis\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "=93=FA=96{");
    EXPECT_EQ(bodyOf(*m), "\xE6\x97\xA5\xE6\x9C\xAC");
    m = parse(
        "Content-Type: application/octet-stream; charset=shift_jis\r\nContent-Transfer-Encoding: "
        "base64\r\n\r\nk/qWew==");
    EXPECT_EQ(bodyOf(*m), "\x93\xFA\x96{");
    // ISO-2022-JP in 7bit.
    m = parse("Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n\r\n\x1b$BF|K\\\x1b(B");
    EXPECT_EQ(bodyOf(*m), "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(MimeReader, XHtmlBodyBecomesHtml)
{
    auto m = parse("Content-Type: text/plain; charset=us-ascii\r\n\r\n \r\n<X-HTML><b>hi</b>");
    EXPECT_EQ(str(m->contentType()), "text/html");
    EXPECT_EQ(fieldValue(m->header(), "content-type"), "text/html; charset=\"us-ascii\"");

    // Bytes of no charset are not labelled "us-ascii": read again with that
    // label they would lose their high bit. The email keeps them through
    // writing and reading, whatever type (or mangled type) stood before.
    for (const char* header : {"Subject: x", "Content-Type: multipartla/reted", "Content-Type: text/plain",
                               "Content-Type: application/octet-stream", "Content-Type: text/plain; charset=utf-8"}) {
        const std::string text = std::string(header) + "\r\n\r\n<x-html>hi\xE4";
        m = parse(text);
        EXPECT_EQ(fieldValue(m->header(), "content-type"), "text/html") << header;
        EXPECT_EQ(bodyOf(*m), "<x-html>hi\xE4") << header;
        std::unique_ptr<Email2> e = read(text);
        ASSERT_TRUE(e);
        StringBuffer out;
        ASSERT_TRUE(e->GetMimeText(out));
        std::unique_ptr<Email2> again = read(str(out));
        ASSERT_TRUE(again);
        EXPECT_EQ(str(again->contentType()), "text/html") << header;
        EXPECT_EQ(bodyOf(*again), bodyOf(*e)) << header;
    }
}

TEST(MimeReader, SignedFirstPartKeepsItsText)
{
    const std::string first = "Content-Type: text/plain\r\n\r\nsigned  text ";
    auto m = parse(
        "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; micalg=SHA1; "
        "boundary=s\r\n\r\n--s\r\n" +
        first + "\r\n--s\r\nContent-Type: application/pkcs7-signature\r\n\r\nsig\r\n--s--\r\n");
    ASSERT_EQ(m->GetSubPartCount(), 2);
    EXPECT_EQ(str(m->GetSubPart(0)->rawText()), first);
    EXPECT_EQ(str(m->protocol()), "application/pkcs7-signature");
    EXPECT_EQ(str(m->micalg()), "sha1");
}

TEST(MimeReader, CachedFieldsFromParameters)
{
    auto m = parse(
        "Content-Type: Application/PDF; NAME=\"A;b=c.pdf\"; boundary=\"KeepCase\"\r\n"
        "Content-Disposition: attachment;\r\n\tfilename=\"two\r\n\t  words.pdf\"\r\n"
        "Content-ID:  <id@x> ; junk\r\nContent-Transfer-Encoding:  Base64 \r\n\r\n");
    EXPECT_EQ(str(m->contentType()), "application/pdf");
    EXPECT_EQ(str(m->name()), "A;b=c.pdf");  // a file name keeps its case
    EXPECT_EQ(str(m->boundary()), "KeepCase");
    EXPECT_EQ(str(m->disposition()), "attachment");
    EXPECT_EQ(str(m->filename()), "two words.pdf");
    EXPECT_EQ(str(m->contentId()), "<id@x>");
    EXPECT_EQ(str(m->transferEncoding()), "Base64");
}

TEST(MimeReader, Rfc2231Parameters)
{
    // Sections in any order, encoded and plain ones mixed, a charset of the catalogue.
    auto m = parse(
        "Content-Type: text/plain; name*1=\" part.txt\"; name*0*=utf-8''%E6%97%A5%E6%9C%AC; "
        "charset*=us-ascii''utf-8\r\n"
        "Content-Disposition: attachment; filename=\"fallback.txt\"; filename*=shift_jis'ja'%93%FA%96%7B.txt\r\n\r\n");
    EXPECT_EQ(str(m->name()), "\xE6\x97\xA5\xE6\x9C\xAC part.txt");
    EXPECT_EQ(m->charset().getCodePage(), 65001);
    EXPECT_EQ(str(m->filename()), "\xE6\x97\xA5\xE6\x9C\xAC.txt");
    // The email's header gets them written plainly, so its own writer encodes them.
    auto e = read(
        "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename*=utf-8''a%20b%22.bin\r\n"
        "\r\n");
    EXPECT_EQ(fieldValue(e->header(), "Content-Disposition"), "attachment; filename=\"a b\\\".bin\"");
    EXPECT_EQ(str(e->filename()), "a b\".bin");
}

TEST(MimeReader, EncodedWordsInEveryCharset)
{
    auto m = parse(
        "Subject: =?iso-2022-jp?B?GyRCRnxLXBsoQg==?=\r\n =?euc-jp?Q?=C6=FC?=\r\n\t=?utf-8?b?5pys?=\r\n"
        "X-Latin: =?iso-8859-1?q?caf=E9?=\r\n\r\n");
    EXPECT_EQ(fieldValue(m->header(), "Subject"), "\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(fieldValue(m->header(), "X-Latin"), "caf\xC3\xA9");
}

TEST(MimeReaderEmail, SenderRecipientsAndBcc)
{
    auto e = read(
        "From: =?utf-8?B?5bGx55Sw?= <taro@example.jp>\r\nTo: a@example.com, \"B, b\" <b@example.com>\r\n"
        "To: c@example.com\r\nCc: d@example.com\r\nBcc: hidden@example.org\r\nDate: Tue, 1 Jan 2002 00:30:00 +0900\r\n"
        "Subject: hi\r\n\r\nbody");
    ASSERT_NE(e->fromAddress(), nullptr);
    StringBuffer name;
    e->fromAddress()->GetFriendlyName(name);
    EXPECT_EQ(str(name), "\xE5\xB1\xB1\xE7\x94\xB0");
    EXPECT_EQ(e->GetRecipientCount(Email2::Recipients::To), 3);
    EXPECT_EQ(e->GetRecipientCount(Email2::Recipients::Cc), 1);
    ASSERT_EQ(e->GetRecipientCount(Email2::Recipients::Bcc), 1);
    EXPECT_FALSE(e->header().HasField("Bcc"));
    EXPECT_EQ(e->date().year, 2001);
    EXPECT_EQ(e->date().hour, 15);
    EXPECT_EQ(bodyOf(*e), "body");
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    EXPECT_EQ(str(out).find("hidden@"), std::string::npos);

    e = read("From: not an address\r\n\r\n");
    EXPECT_EQ(e->fromAddress(), nullptr);
    EXPECT_EQ(str(e->fromText()), "not an address");
}

TEST(MimeReaderEmail, LegacyMailerNameAndEmptyFields)
{
    auto e = read("X-Mailer: Some ActiveX thing\r\nX-Empty: \r\nSubject: s\r\n\r\n");
    EXPECT_EQ(fieldValue(e->header(), "X-Mailer"), Email2::kMailerName);
    EXPECT_EQ(e->header().GetFieldCount(), 2);
    e = read("X-Mailer: Other 1.0\r\n\r\n");
    EXPECT_EQ(fieldValue(e->header(), "X-Mailer"), "Other 1.0");
}

TEST(MimeReaderEmail, SinglePartAttachmentBecomesMixed)
{
    auto e = read(
        "X-MS-Has-Attach: yes\r\nContent-Type: application/pdf; name=\"r.pdf\"\r\n"
        "Content-Disposition: attachment; filename=\"r.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\nJVBERg==");
    EXPECT_TRUE(e->IsMultipartMixed());
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(str(e->GetPart(0)->contentType()), "text/plain");
    EXPECT_EQ(e->GetPart(0)->body().getSize(), 0u);
    ASSERT_EQ(e->GetAttachmentCount(), 1);
    EXPECT_EQ(bodyOf(*e->GetAttachment(0)), "%PDF");
    EXPECT_EQ(str(e->GetAttachment(0)->filename()), "r.pdf");
    EXPECT_EQ(str(e->GetAttachment(0)->contentType()), "application/pdf");
}

// "hello\n" uuencoded.
const char* const kUu = "begin 644 my file.txt\r\n&:&5L;&\\*\r\n`\r\nend\r\n";

TEST(MimeReaderEmail, UuencodedBodyBecomesAttachment)
{
    auto e = read(std::string("X-MS-Has-Attach: yes\r\n\r\nSee <<my file.txt>>\r\n\r\n") + kUu + "Bye\r\n");
    ASSERT_EQ(e->GetAttachmentCount(), 1);
    EXPECT_EQ(bodyOf(*e->GetAttachment(0)), "hello\n");
    EXPECT_EQ(str(e->GetAttachment(0)->filename()), "my file.txt");
    StringBuffer text;
    e->GetBodyText(text);
    EXPECT_EQ(str(text), "See <<my file.txt>>\r\n\r\nBye\r\n");
}

TEST(MimeReaderEmail, UuencodedPartAndAppleDouble)
{
    auto e =
        read(std::string("Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n"
                         "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: x-uuencode\r\n\r\n") +
             kUu +
             "\r\n--m\r\nContent-Type: multipart/appledouble; boundary=ad\r\n\r\n--ad\r\n"
             "Content-Type: application/applefile\r\n\r\nresource\r\n--ad\r\n"
             "Content-Type: image/png; name=\"p.png\"\r\nContent-Transfer-Encoding: base64\r\n\r\niVBO\r\n--ad--\r\n"
             "--m--\r\n");
    ASSERT_EQ(e->GetPartCount(), 2);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), "hello\n");
    EXPECT_EQ(str(e->GetPart(0)->transferEncoding()), "base64");
    EXPECT_EQ(str(e->GetPart(1)->contentType()), "image/png");
    EXPECT_EQ(bodyOf(*e->GetPart(1)), "\x89PN");
}

TEST(UuDecoder, FormsAndLimits)
{
    UuDecoder uu;
    DataBuffer out;
    EXPECT_FALSE(uu.UuDecode("no block here\n", 14, out));
    EXPECT_FALSE(uu.UuDecode("begin xyz name\n", 15, out));
    // Short lines (characters missing at the end) and no end line.
    const std::string cut = "BEGIN 600 a b\n&:&5L\n";
    ASSERT_TRUE(uu.UuDecode(cut.data(), static_cast<uint32_t>(cut.size()), out));
    EXPECT_EQ(str(uu.fileName()), "a b");
    EXPECT_EQ(out.getSize(), 6u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), 3), "hel");
}

TEST(MimeReaderEmail, CloneCarriesBccThroughItsChecks)
{
    std::unique_ptr<Email2> e(Email2::NewEmail());
    e->AddHeaderField("Subject", "\xE6\x97\xA5\xE6\x9C\xAC");
    e->SetTextBody("text", 4, false);
    ASSERT_TRUE(e->AddBcc("Hidden", "hidden@example.org"));
    ASSERT_TRUE(e->AddBcc(nullptr, "second@example.org"));
    Logger log;
    std::unique_ptr<Email2> c(e->Clone(log));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(fieldValue(c->header(), "Subject"), "\xE6\x97\xA5\xE6\x9C\xAC");
    ASSERT_EQ(c->GetRecipientCount(Email2::Recipients::Bcc), 2);
    StringBuffer full;
    c->GetRecipientFullForm(Email2::Recipients::Bcc, 0, full);
    EXPECT_EQ(str(full), "\"Hidden\" <hidden@example.org>");
}

std::string mimeOf(const Email2& e)
{
    StringBuffer out;
    EXPECT_TRUE(e.WriteMimeText(out, nullptr));
    return str(out);
}

// What a send writes from the copy must be what the caller's email writes,
// and neither may share a part, an address or a field with the other.
TEST(MimeReaderEmail, CopyWritesTheSameTextAndSharesNothing)
{
    std::unique_ptr<Email2> e(Email2::NewEmail());
    e->SetCharset(charsetNamed("shift_jis"));
    ASSERT_TRUE(e->SetFrom("\xE5\xB1\xB1\xE7\x94\xB0 <yamada@example.jp>"));
    ASSERT_TRUE(e->SetReplyTo("desk@example.jp"));
    ASSERT_TRUE(e->AddTo("\xE9\x88\xB4\xE6\x9C\xA8", "suzuki@example.jp"));
    ASSERT_TRUE(e->AddCc(nullptr, "cc@example.jp"));
    ASSERT_TRUE(e->AddBcc("Hidden", "hidden@example.org"));
    ASSERT_TRUE(e->SetDate("Tue, 1 Feb 2022 10:00:00 +0900"));
    e->AddHeaderField("Subject", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    e->AddHeaderField("TBX-ReturnReceipt", "YES");
    const std::string text = "\xE6\x9C\xAC\xE6\x96\x87\r\n.dot\r\n";
    e->SetTextBody(text.data(), static_cast<uint32_t>(text.size()), false);
    e->AddAlternativeBody(Email2::NewHtmlPart("<p>x</p>", 8, charsetNamed("shift_jis")));
    StringBuffer type;
    const std::string bytes("\0\x01\xFF binary", 10);
    ASSERT_TRUE(e->AddDataAttachment("r\xC3\xA9sum\xC3\xA9.bin", nullptr, bytes.data(),
                                     static_cast<uint32_t>(bytes.size()), type));
    const std::string original = mimeOf(*e);

    std::unique_ptr<Email2> c(e->Copy());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(mimeOf(*c), original);
    ASSERT_EQ(c->GetRecipientCount(Email2::Recipients::Bcc), 1);
    StringBuffer bcc;
    c->GetRecipientFullForm(Email2::Recipients::Bcc, 0, bcc);
    EXPECT_EQ(str(bcc), "\"Hidden\" <hidden@example.org>");
    ASSERT_EQ(c->GetAttachmentCount(), 1);
    EXPECT_EQ(bodyOf(*c->GetAttachment(0)), bytes);

    // What a send does to its copy leaves the email as it was.
    c->NewMessageId();
    c->ClearTo();
    c->RemoveHeaderField("Cc");
    ASSERT_TRUE(c->AddTo("", "other@example.jp"));
    (void)c->AddHeaderField("Disposition-Notification-To", "<yamada@example.jp>");
    c->GetAttachment(0)->SetBody("changed", 7);
    c->RemoveAttachments();
    EXPECT_EQ(mimeOf(*e), original);

    // And the copy outlives the email.
    std::unique_ptr<Email2> again(e->Copy());
    e.reset();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(mimeOf(*again), original);
}

TEST(MimeReaderEmail, NoCopyOfABodyThatLostBytes)
{
    std::unique_ptr<Email2> e(Email2::NewEmail());
    const std::string text(4096, 'x');
    BufferLimit::setCapForTesting(1024);
    e->SetTextBody(text.data(), static_cast<uint32_t>(text.size()), false);
    BufferLimit::setCapForTesting(0);
    EXPECT_FALSE(std::unique_ptr<Email2>(e->Copy()));
}

TEST(MimeReaderEmail, MailMergeCopy)
{
    std::unique_ptr<Email2> e(Email2::NewEmail());
    e->SetCharset(charsetNamed("shift_jis"));
    e->AddHeaderField("Subject", "Dear NAME");
    ASSERT_TRUE(e->SetFrom("Office NAME <office@example.com>"));
    ASSERT_TRUE(e->AddTo("NAME", "to@example.com"));
    ASSERT_TRUE(e->AddCc(nullptr, "cc@example.com"));
    e->SetTextBody("Hello NAME\r\n", 12, false);
    ExtPtrArray pairs;
    // A long Japanese name: 300 characters of 3 bytes.
    std::string longName;
    for (int i = 0; i < 300; ++i) longName += "\xE6\x97\xA5";
    pairs.append(new StringPair("NAME", longName.c_str()));
    Logger log;
    std::unique_ptr<Email2> c(e->CloneWithReplacements(pairs, log));
    pairs.removeAllObjects();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(fieldValue(c->header(), "Subject"), "Dear " + longName);
    StringBuffer body;
    c->GetBodyText(body);
    EXPECT_EQ(str(body), "Hello " + longName + "\r\n");
    // The display name is cut to 399 bytes at a character boundary: 133 characters.
    const std::string to = fieldValue(c->header(), "To");
    EXPECT_EQ(to, longName.substr(0, 399) + " <to@example.com>");
    EXPECT_EQ(fieldValue(c->header(), "Cc"), "cc@example.com");
    EXPECT_NE(fieldValue(c->header(), "From").find("office@example.com"), std::string::npos);
}

TEST(MimeParamList, PlainRewriteAndGaps)
{
    // A gap in the sections ends the value; a quoted extended value is read inside its quotes.
    const auto params = MimeParamList::parse(" a*0=x; a*2=z; b*=\"utf-8''%41\"; c=\"q\\\"d\"");
    ASSERT_EQ(params.size(), 3u);
    EXPECT_EQ(params[0].value, "x");
    EXPECT_EQ(params[1].value, "A");
    EXPECT_EQ(params[2].value, "q\"d");
    EXPECT_EQ(MimeParamList::rewritePlain("inline; n*=utf-8''%E2%82%AC", 6), "inline; n=\"\xE2\x82\xAC\"");
}

}  // namespace

TEST(MimeReader, AHeaderlessPartOfADigestIsAMessage)
{
    const std::string text =
        "Content-Type: multipart/digest; boundary=d\r\n\r\n--d\r\n\r\nFrom: a@example.com\r\nSubject: one\r\n\r\n"
        "body one\r\n--d\r\nContent-Type: text/plain\r\n\r\nplain\r\n--d--\r\n";
    auto m = parse(text);
    ASSERT_EQ(m->GetSubPartCount(), 2);
    EXPECT_EQ(str(m->GetSubPart(0)->contentType()), "message/rfc822");
    EXPECT_EQ(bodyOf(*m->GetSubPart(0)), "From: a@example.com\r\nSubject: one\r\n\r\nbody one");
    // A part that says what it is stays so; outside a digest the default is text.
    EXPECT_EQ(str(m->GetSubPart(1)->contentType()), "text/plain");
    std::string mixed = text;
    mixed.replace(mixed.find("digest"), 6, "mixed");
    EXPECT_EQ(str(parse(mixed)->GetSubPart(0)->contentType()), "text/plain");
}
