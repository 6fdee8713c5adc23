// Both MIME writers byte for byte, the generic entity's Content-Type
// assembly and the reading of its cached fields, and the bodies that must
// never be lost or written unlabelled.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/MimeMessage2.h"

using namespace hanamail;

namespace {

using namespace hdrtest;

const std::string kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";

std::string write(const Email2& e)
{
    StringBuffer out;
    EXPECT_TRUE(e.WriteMimeText(out, nullptr));
    return str(out);
}

std::string write(const MimeMessage2& m)
{
    StringBuffer out;
    EXPECT_TRUE(m.WriteMimeText(out));
    return str(out);
}

Email2* emailPart(const char* type, const char* charset, const char* te, const std::string& body)
{
    auto* p = new Email2();
    p->SetContentType(type, nullptr, nullptr, nullptr, charsetNamed(charset), nullptr, nullptr, nullptr);
    p->SetTransferEncoding(te);
    p->SetBody(body.data(), static_cast<uint32_t>(body.size()));
    return p;
}

MimeMessage2* mimePart(const char* type, const char* charset, const char* te, const std::string& body)
{
    auto* p = new MimeMessage2();
    p->SetContentType(type, nullptr, nullptr, nullptr, charsetNamed(charset), nullptr, nullptr, nullptr);
    p->SetTransferEncoding(te);
    p->SetBodyFromText(body.data(), static_cast<uint32_t>(body.size()), Charset());
    return p;
}

// The body text after the header's empty line.
std::string bodyOf(const std::string& mime)
{
    const size_t p = mime.find("\r\n\r\n");
    return p == std::string::npos ? std::string() : mime.substr(p + 4);
}

std::string base64Decoded(const std::string& text)
{
    uint32_t n = 0;
    unsigned char* bytes = ContentCoding().decodeBase64(text.data(), static_cast<uint32_t>(text.size()), n);
    std::string r(reinterpret_cast<const char*>(bytes), n);
    std::free(bytes);
    return r;
}

std::string convert(int from, int to, const std::string& s)
{
    DataBuffer out;
    EncodingConvert().convert(from, to, s.data(), static_cast<uint32_t>(s.size()), out);
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

// ---- The writers' layout

TEST(MimeWriters, NestedMultipartPreambleInEmailWriterOnly)
{
    Email2 root;
    root.header().ReplaceField("Subject", "Hi");
    root.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "MIX", nullptr, nullptr);
    auto* alt = new Email2();
    alt->SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), "ALT", nullptr, nullptr);
    alt->AddPart(emailPart("text/plain", "us-ascii", "7bit", "Hello\r\n"));
    alt->AddPart(emailPart("text/html", "us-ascii", "7bit", "<p>Hello</p>\r\n"));
    root.AddPart(alt);
    auto* att = new Email2();
    att->SetContentType("application/octet-stream", "a.bin", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    att->SetDisposition("attachment", "a.bin");
    att->SetTransferEncoding("base64");
    att->SetBody("abc", 3);
    root.AddPart(att);

    const std::string plainPart =
        "Content-Type: text/plain;\r\n\t charset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\nHello\r\n";
    const std::string htmlPart =
        "Content-Type: text/html;\r\n\t charset=\"us-ascii\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"
        "<p>Hello</p>\r\n";
    const std::string attPart =
        "Content-Type: application/octet-stream;\r\n\tname=\"a.bin\"\r\n"
        "Content-Disposition: attachment;\r\n\t filename=\"a.bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "YWJj\r\n";
    EXPECT_EQ(write(root), "Subject: Hi\r\nContent-Type: multipart/mixed;\r\n\tboundary=\"MIX\"\r\n\r\n" + kPreamble +
                               "--MIX\r\nContent-Type: multipart/alternative;\r\n\tboundary=\"ALT\"\r\n\r\n" +
                               kPreamble + "--ALT\r\n" + plainPart + "\r\n--ALT\r\n" + htmlPart +
                               "\r\n--ALT--\r\n\r\n--MIX\r\n" + attPart + "\r\n--MIX--\r\n");

    MimeMessage2 mroot;
    mroot.SetHeaderField("Subject", "Hi");
    mroot.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "MIX", nullptr, nullptr);
    auto* malt = new MimeMessage2();
    malt->SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), "ALT", nullptr, nullptr);
    malt->AddSubPart(mimePart("text/plain", "us-ascii", "7bit", "Hello\r\n"));
    malt->AddSubPart(mimePart("text/html", "us-ascii", "7bit", "<p>Hello</p>\r\n"));
    mroot.AddSubPart(malt);
    const std::string lowerPlain =
        "content-type: text/plain;\r\n\t charset=\"us-ascii\"\r\ncontent-transfer-encoding: 7bit\r\n\r\nHello\r\n";
    EXPECT_EQ(write(mroot), "Subject: Hi\r\ncontent-type: multipart/mixed;\r\n\tboundary=\"MIX\"\r\n\r\n" + kPreamble +
                                "--MIX\r\ncontent-type: multipart/alternative;\r\n\tboundary=\"ALT\"\r\n\r\n"
                                "--ALT\r\n" +
                                lowerPlain + "\r\n--ALT\r\n" +
                                "content-type: text/html;\r\n\t charset=\"us-ascii\"\r\n"
                                "content-transfer-encoding: 7bit\r\n\r\n<p>Hello</p>\r\n"
                                "\r\n--ALT--\r\n\r\n--MIX--\r\n");
    // Without its preamble flag the top level goes straight to its first boundary.
    mroot.SetPreamble(false);
    EXPECT_EQ(write(mroot).find(kPreamble), std::string::npos);
}

TEST(MimeWriters, ExcludedPrefixAtEveryDepthAndHeaderCharset)
{
    Email2 root;
    root.header().ReplaceField("TBX-ReturnReceipt", "1");
    root.header().ReplaceField("Subject", "日本");
    root.SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), "ALT", nullptr, nullptr);
    Email2* plain = emailPart("text/plain", "", "7bit", "x");
    plain->header().ReplaceField("TBX-Private", "y");
    root.AddPart(plain);
    root.AddPart(emailPart("text/html", "iso-2022-jp", "7bit", "<p>x</p>"));
    StringBuffer out;
    EXPECT_TRUE(root.WriteMimeText(out, "tbx-"));
    const std::string s = str(out);
    EXPECT_EQ(s.find("TBX-"), std::string::npos) << s;
    // The root has no charset: the html body's charset encodes the header.
    EXPECT_EQ(s.substr(0, 43), "Subject: =?iso-2022-jp?B?GyRCRnxLXBsoQg==?=") << s;

    // An attached file's header takes the file's own charset.
    Email2 mixed;
    mixed.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, charsetNamed("utf-8"), "MIX", nullptr, nullptr);
    Email2* file = emailPart("text/plain", "shift_jis", "base64", "x");
    file->SetDisposition("attachment", "日本.txt");
    mixed.AddPart(file);
    const std::string m = write(mixed);
    EXPECT_NE(m.find("filename=\"=?shift_jis?B?k/qWey50eHQ=?=\""), std::string::npos) << m;
}

TEST(MimeWriters, BodiesByCodePageAndTransferEncoding)
{
    // UTF-8 text leaves in Shift_JIS before base64.
    const std::string jp = "日本語テキスト\r\n";
    std::unique_ptr<Email2> sjis(emailPart("text/plain", "shift_jis", "base64", jp));
    EXPECT_EQ(bodyOf(write(*sjis)), "k/qWe4zqg2WDTINYg2cNCg==\r\n");
    std::unique_ptr<MimeMessage2> msjis(mimePart("text/plain", "shift_jis", "BASE64", jp));
    EXPECT_EQ(bodyOf(write(*msjis)), "k/qWe4zqg2WDTINYg2cNCg==\r\n");

    // UTF-8 and us-ascii are written as held; quoted-printable escapes 8-bit bytes.
    std::unique_ptr<Email2> utf8(emailPart("text/plain", "utf-8", "Quoted-Printable",
                                           "Gr\xC3\xBC\xC3\x9F"
                                           "e\r\n"));
    EXPECT_EQ(bodyOf(write(*utf8)), "Gr=C3=BC=C3=9Fe\r\n");
    std::unique_ptr<Email2> latin(emailPart("text/plain", "iso-8859-1", "quoted-printable",
                                            "Gr\xC3\xBC\xC3\x9F"
                                            "e"));
    EXPECT_EQ(bodyOf(write(*latin)), "Gr=FC=DFe");

    // Unknown transfer encodings and non-text types pass bytes through.
    std::unique_ptr<Email2> binary(emailPart("application/octet-stream", "", "x-unknown", std::string("\0\xFF", 2)));
    EXPECT_EQ(bodyOf(write(*binary)), std::string("\0\xFF", 2));
    std::unique_ptr<Email2> eight(emailPart("text/plain", "iso-8859-1", "8bit", "caf\xC3\xA9"));
    EXPECT_EQ(bodyOf(write(*eight)), "caf\xE9");
}

TEST(MimeWriters, SignedFirstPartWrittenFromItsRawText)
{
    MimeMessage2 root;
    root.SetContentType("multipart/signed", nullptr, "application/pkcs7-signature", "sha1", Charset(), "SIG", nullptr,
                        nullptr);
    auto* content = new MimeMessage2();
    content->SetHeaderField("Content-Type", "text/plain");
    content->SetBodyFromText("rebuilt", 7, Charset());
    const std::string raw = "Content-Type: text/plain;  charset=us-ascii\r\n\r\nsigned  text \r\n";
    content->SetRawText(raw.data(), static_cast<int32_t>(raw.size()));
    root.AddSubPart(content);
    MimeMessage2* sig = mimePart("application/pkcs7-signature", "", "base64", "SIGBYTES");
    root.AddSubPart(sig);
    const std::string s = write(root);
    EXPECT_EQ(bodyOf(s), kPreamble + "--SIG\r\n" + raw +
                             "\r\n--SIG\r\ncontent-type: application/pkcs7-signature\r\n"
                             "content-transfer-encoding: base64\r\n\r\nU0lHQllURVM=\r\n\r\n--SIG--\r\n");

    // Built in memory, without raw text, the content is written like any part.
    content->SetRawText(nullptr, 0);
    EXPECT_NE(write(root).find("\r\n\r\nrebuilt\r\n--SIG\r\n"), std::string::npos) << write(root);
}

// ---- Generic entity: assembly and cached fields

TEST(MimeMessage2ContentType, AssemblyDiffersFromTheEmail)
{
    MimeMessage2 m;
    EXPECT_FALSE(m.modified());
    m.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_TRUE(m.modified());
    EXPECT_EQ(fieldValue(m.header(), "content-type"), "text/plain; charset=\"us-ascii\"");
    EXPECT_EQ(m.charset().getCodePage(), 0);
    StringBuffer fieldName;
    m.header().GetFieldName(0, fieldName);
    EXPECT_EQ(str(fieldName), "content-type");

    m.SetContentType("application/json", nullptr, nullptr, nullptr, charsetNamed("utf-8"), nullptr, nullptr, nullptr);
    EXPECT_EQ(fieldValue(m.header(), "content-type"), "application/json; charset=\"utf-8\"");
    EXPECT_EQ(m.charset().getCodePage(), 65001);
    m.SetContentType("image/png", "a.png", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(fieldValue(m.header(), "content-type"), "image/png;name=\"a.png\"");
    EXPECT_EQ(m.charset().getCodePage(), 65001);  // kept, not written
}

TEST(MimeMessage2ContentType, VariantsKeepTheOtherItems)
{
    MimeMessage2 m;
    m.SetContentType("multipart/related", "n", nullptr, nullptr, Charset(), "B", nullptr, "text/html");
    m.SetType("  multipart/alternative ");
    EXPECT_EQ(fieldValue(m.header(), "content-type"),
              "multipart/related; type=\"multipart/alternative\";boundary=\"B\";name=\"n\"");
    m.SetName("other");
    EXPECT_EQ(str(m.name()), "other");
    EXPECT_EQ(str(m.boundary()), "B");
    EXPECT_EQ(str(m.type()), "multipart/alternative");

    MimeMessage2 t;
    t.SetContentType("text/plain", "f.txt", nullptr, nullptr, charsetNamed("euc-jp"), nullptr, nullptr, nullptr);
    t.SetContentType("text/html");
    EXPECT_EQ(fieldValue(t.header(), "content-type"), "text/html; charset=\"euc-jp\";name=\"f.txt\"");
    t.SetCharset(charsetNamed("iso-8859-1"));
    EXPECT_EQ(fieldValue(t.header(), "content-type"), "text/html; charset=\"iso-8859-1\";name=\"f.txt\"");
    t.SetFormatFlowed(true);
    t.SetContentType("text/plain");
    EXPECT_EQ(fieldValue(t.header(), "content-type"),
              "text/plain; charset=\"iso-8859-1\";name=\"f.txt\";format=flowed");
}

TEST(MimeMessage2Fields, HeaderFieldsReReadTheirCachedFields)
{
    MimeMessage2 m;
    m.SetHeaderField(" Content-Type ",
                     "Multipart/Related; TYPE=\"Text/HTML\"; boundary=\"Mixed;Case=B\"; charset=ISO-8859-1;\r\n\t"
                     "name=\"R\\\"e\\\\port.PDF\"; protocol=X; micalg=SHA1; smime-type=Signed-Data");
    EXPECT_EQ(str(m.contentType()), "multipart/related");
    EXPECT_EQ(str(m.type()), "text/html");
    EXPECT_EQ(str(m.boundary()), "Mixed;Case=B");
    EXPECT_EQ(m.charset().getCodePage(), 28591);
    EXPECT_EQ(str(m.name()), "R\"e\\port.PDF");  // a file name keeps its case
    EXPECT_EQ(str(m.protocol()), "x");
    EXPECT_EQ(str(m.micalg()), "sha1");
    EXPECT_EQ(str(m.smimeType()), "signed-data");
    EXPECT_TRUE(m.IsMultipart());

    m.SetHeaderField("CONTENT-DISPOSITION", "Attachment ; filename=\"a\t\tb  c\r\n.txt\"");
    EXPECT_EQ(str(m.disposition()), "Attachment");
    EXPECT_EQ(str(m.filename()), "a b c .txt");
    m.SetHeaderField("Content-ID", " <cid1@x> ; junk");
    EXPECT_EQ(str(m.contentId()), "<cid1@x>");
    m.SetHeaderField("content-transfer-encoding", "Base64 ");
    EXPECT_EQ(str(m.transferEncoding()), "Base64");
    m.SetHeaderField("Content-Type", "text/plain format=flowed");
    EXPECT_EQ(str(m.contentType()), "text/plain");
    EXPECT_TRUE(m.formatFlowed());
    EXPECT_TRUE(m.boundary().isEmpty());

    // An empty value removes the field and clears what it held.
    m.SetHeaderField("Content-Disposition", "  ");
    EXPECT_FALSE(m.header().HasField("Content-Disposition"));
    EXPECT_TRUE(m.filename().isEmpty());
    m.SetHeaderField("Content-Type", "");
    EXPECT_TRUE(m.contentType().isEmpty());
    EXPECT_EQ(m.charset().getCodePage(), 0);

    m.SetTransferEncoding(" quoted-printable ");
    EXPECT_EQ(fieldValue(m.header(), "content-transfer-encoding"), "quoted-printable");
    EXPECT_EQ(str(m.transferEncoding()), "quoted-printable");
}

TEST(MimeMessage2Fields, EncodedBodiesDecodeToUtf8)
{
    MimeMessage2 m;
    const std::string b64 = "k/qW\r\new==\r\n";
    m.SetEncodedBody("BASE64", b64.data(), static_cast<uint32_t>(b64.size()), charsetNamed("shift_jis"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.body().getData()), m.body().getSize()), "日本");
    const std::string qp = "Gr=FC=DFe=\r\n!\r\n";
    m.SetEncodedBody("quoted-printable", qp.data(), static_cast<uint32_t>(qp.size()), charsetNamed("iso-8859-1"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.body().getData()), m.body().getSize()),
              "Gr\xC3\xBC\xC3\x9F"
              "e!\r\n");
    const std::string raw = "as is =41";
    m.SetEncodedBody("8bit", raw.data(), static_cast<uint32_t>(raw.size()), Charset());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.body().getData()), m.body().getSize()), raw);
    m.SetBodyFromText("\xE9", 1, charsetNamed("windows-1252"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.body().getData()), m.body().getSize()), "\xC3\xA9");
}

// ---- Text that must arrive whole and labelled

TEST(MimeBodyLabels, EightBitTextWithoutCharsetIsLabelledUtf8)
{
    const std::string text =
        "Gr\xC3\xBC\xC3\x9F"
        "e\r\n";
    std::unique_ptr<Email2> none(emailPart("text/plain", "", "quoted-printable", text));
    EXPECT_EQ(write(*none),
              "Content-Type: text/plain;\r\n\t charset=\"utf-8\"\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n\r\nGr=C3=BC=C3=9Fe\r\n");
    // The stored header stays as it was built.
    EXPECT_EQ(fieldValue(none->header(), "Content-Type"), "text/plain");

    // A charset that claims 7-bit text is replaced, other parameters stay.
    Email2 ascii;
    ascii.SetFormatFlowed(true);
    ascii.SetContentType("text/plain", nullptr, nullptr, nullptr, charsetNamed("us-ascii"), nullptr, nullptr, nullptr);
    ascii.SetBody(text.data(), static_cast<uint32_t>(text.size()));
    const std::string a = write(ascii);
    EXPECT_NE(a.find("charset=\"utf-8\";format=flowed"), std::string::npos) << a;
    EXPECT_EQ(a.find("us-ascii"), std::string::npos) << a;

    // A node without any content type gets one.
    Email2 bare;
    bare.SetBody(text.data(), static_cast<uint32_t>(text.size()));
    EXPECT_EQ(write(bare), "Content-Type: text/plain;\r\n\t charset=\"utf-8\"\r\n\r\n" + text);

    // The generic entity labels 7-bit text "us-ascii"; 8-bit text there is UTF-8 as well.
    std::unique_ptr<MimeMessage2> m(mimePart("text/plain", "", "8bit", text));
    EXPECT_EQ(write(*m),
              "content-type: text/plain;\r\n\t charset=\"utf-8\"\r\n"
              "content-transfer-encoding: 8bit\r\n\r\n" +
                  text);
    // And 7-bit text of an entity without code page is written, not dropped.
    std::unique_ptr<MimeMessage2> m7(mimePart("text/plain", "", "7bit", "plain\r\n"));
    EXPECT_EQ(bodyOf(write(*m7)), "plain\r\n");
}

TEST(MimeBodyLabels, TextTheCharsetCannotHoldLeavesAsUtf8)
{
    const std::string text = "Preis 20 \xE2\x82\xAC, 日本";
    std::unique_ptr<Email2> latin(emailPart("text/plain", "iso-8859-1", "quoted-printable", text));
    const std::string s = write(*latin);
    EXPECT_NE(s.find("charset=\"utf-8\""), std::string::npos) << s;
    EXPECT_EQ(bodyOf(s), "Preis 20 =E2=82=AC, =E6=97=A5=E6=9C=AC");

    const std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
        "</head><body>日本</body></html>";
    std::unique_ptr<Email2> page(emailPart("text/html", "iso-8859-1", "base64", html));
    const std::string p = write(*page);
    EXPECT_EQ(base64Decoded(bodyOf(p)),
              "<html><head><META http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\"></head>"
              "<body>日本</body></html>");
}

TEST(MimeBodyLabels, MetaDeclarationReplacedBeforeConversion)
{
    const std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"
        "</head><body>Gr\xC3\xBC\xC3\x9F"
        "e</body></html>";
    const std::string wanted =
        "<html><head><META http-equiv=\"Content-Type\" content=\"text/html;charset=unicode\">"
        "</head><body>Gr\xC3\xBC\xC3\x9F"
        "e</body></html>";
    std::unique_ptr<Email2> wide(emailPart("text/html", "utf-16", "base64", html));
    ASSERT_EQ(wide->charset().getCodePage(), 1200);
    const std::string utf16 = base64Decoded(bodyOf(write(*wide)));
    EXPECT_EQ(utf16, convert(65001, 1200, wanted));

    std::unique_ptr<Email2> sjis(
        emailPart("text/html", "shift_jis", "base64", html.substr(0, 97) + "日本</body></html>"));
    EXPECT_EQ(base64Decoded(bodyOf(write(*sjis))),
              convert(65001, 932,
                      "<html><head><META http-equiv=\"Content-Type\" content=\"text/html;charset=shift_jis\">"
                      "</head><body>日本</body></html>"));

    // A declaration of the same charset, in any spelling, is left byte for byte,
    // and so is HTML without one.
    const std::string same =
        "<html><head><meta http-equiv=content-type content=\"text/html; charset=x-sjis\">"
        "</head><body>x</body></html>";
    std::unique_ptr<Email2> kept(emailPart("text/html", "shift_jis", "7bit", same));
    EXPECT_EQ(bodyOf(write(*kept)), same);
    std::unique_ptr<Email2> bare(emailPart("text/html", "iso-8859-1", "7bit", "<p>x</p>"));
    EXPECT_EQ(bodyOf(write(*bare)), "<p>x</p>");
    // The generic writer never touches markup.
    std::unique_ptr<MimeMessage2> m(mimePart("text/html", "iso-8859-1", "7bit", html));
    EXPECT_EQ(bodyOf(write(*m)), convert(65001, 28591, html));
}

}  // namespace
