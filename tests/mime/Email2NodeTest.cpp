// The entity fields of an email node: the Content-Type assembly and the other
// setters, the tests on content types and on attachments, the tree and its
// body searches, and the transfer encodings chosen by code page.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "mime/Email2.h"
#include "mime/MimeBoundary.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/TransferEncodingChoice.h"

using namespace hanamail;

namespace {

using namespace hdrtest;

const char* const kAltBoundary = "----=_NextPart_000_0001_01D2A3B4.C5D6E7F8_.ALT";
const char* const kRelBoundary = "----=_NextPart_000_0002_01D2A3B4.C5D6E7F8_.REL";

std::string contentTypeLine(const Email2& node, const char* charset)
{
    MimeHeader h;
    StringBuffer v;
    node.header().GetFieldValue("Content-Type", v);
    h.ReplaceField("Content-Type", v.getString());
    return writeHeader(h, charset);
}

Email2* textPart(const char* type, const char* charset, const char* te, const std::string& body)
{
    auto* p = new Email2();
    p->SetContentType(type, nullptr, nullptr, nullptr, charsetNamed(charset), nullptr, nullptr, nullptr);
    p->SetTransferEncoding(te);
    p->SetBody(body.data(), static_cast<uint32_t>(body.size()));
    return p;
}

TEST(Email2ContentType, TextPlainWithoutCharsetHasNoParameter)
{
    Email2 node;
    node.SetContentType(nullptr, nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"), "text/plain");
    EXPECT_EQ(str(node.contentType()), "text/plain");
    EXPECT_EQ(node.charset().getCodePage(), 0);
    EXPECT_EQ(contentTypeLine(node, "us-ascii"), "Content-Type: text/plain");
    // An empty content type keeps the one the node has.
    node.SetContentType("text/html", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    node.SetContentType("", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(str(node.contentType()), "text/html");
}

TEST(Email2ContentType, MultipartBoundaryFoldedAfterSemicolon)
{
    Email2 node;
    node.SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), kAltBoundary, nullptr, nullptr);
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"),
              std::string("multipart/alternative;boundary=\"") + kAltBoundary + "\"");
    const std::string folded =
        std::string("Content-Type: multipart/alternative;\r\n\tboundary=\"") + kAltBoundary + "\"";
    EXPECT_EQ(contentTypeLine(node, "us-ascii"), folded);
    EXPECT_EQ(contentTypeLine(node, "utf-8"), folded);
    EXPECT_EQ(str(node.boundary()), kAltBoundary);
    EXPECT_TRUE(node.IsMultipart());
    EXPECT_TRUE(node.IsMultipartAlternative());
    EXPECT_FALSE(node.IsMultipartMixed());
}

TEST(Email2ContentType, CharsetAndFormatFlowed)
{
    Email2 node;
    node.SetFormatFlowed(true);
    node.SetContentType("text/plain", nullptr, nullptr, nullptr, charsetNamed("shift_jis"), nullptr, nullptr, nullptr);
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"), "text/plain; charset=\"shift_jis\";format=flowed");
    EXPECT_EQ(node.charset().getCodePage(), 932);
    // format=flowed belongs to text/plain only.
    node.SetContentType("text/html", nullptr, nullptr, nullptr, charsetNamed("shift_jis"), nullptr, nullptr, nullptr);
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"), "text/html; charset=\"shift_jis\"");
    // A code page of 0 clears the charset of a text type.
    node.SetContentType("text/html", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(node.charset().getCodePage(), 0);
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"), "text/html");
}

TEST(Email2ContentType, RelatedTypeBeforeBoundaryAndNonTextCharset)
{
    Email2 node;
    node.SetContentType("multipart/related", nullptr, nullptr, nullptr, charsetNamed("utf-8"), kRelBoundary, nullptr,
                        "text/html");
    // The type argument makes the charset count, but the value carries it.
    EXPECT_EQ(
        fieldValue(node.header(), "Content-Type"),
        std::string("multipart/related; charset=\"utf-8\"; type=\"text/html\";boundary=\"") + kRelBoundary + "\"");
    Email2 plain;
    plain.SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(), kRelBoundary, nullptr, "text/html");
    EXPECT_EQ(fieldValue(plain.header(), "Content-Type"),
              std::string("multipart/related; type=\"text/html\";boundary=\"") + kRelBoundary + "\"");
    EXPECT_TRUE(plain.IsMultipartRelated());
    EXPECT_EQ(str(plain.type()), "text/html");

    // Other types never write a charset and keep the one they had.
    Email2 bin;
    bin.SetContentType("text/plain", nullptr, nullptr, nullptr, charsetNamed("iso-8859-1"), nullptr, nullptr, nullptr);
    bin.SetContentType("application/pdf", "a.pdf", nullptr, nullptr, charsetNamed("utf-8"), nullptr, nullptr, nullptr);
    EXPECT_EQ(fieldValue(bin.header(), "Content-Type"), "application/pdf;name=\"a.pdf\"");
    EXPECT_EQ(bin.charset().getCodePage(), 28591);
}

TEST(Email2ContentType, AllParametersInOrderAndClearedOnRebuild)
{
    Email2 node;
    node.SetContentType("multipart/signed", "n", "application/pkcs7-signature", "sha1", Charset(), "B", "signed-data",
                        "t");
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"),
              "multipart/signed; type=\"t\";boundary=\"B\";name=\"n\";protocol=\"application/pkcs7-signature\";"
              "micalg=sha1;smime-type=signed-data");
    EXPECT_EQ(str(node.micalg()), "sha1");
    EXPECT_EQ(str(node.smimeType()), "signed-data");
    EXPECT_EQ(str(node.protocol()), "application/pkcs7-signature");
    // A rebuild from the node's own fields keeps them.
    node.SetContentType(node.contentType().getString(), node.name().getString(), node.protocol().getString(),
                        node.micalg().getString(), node.charset(), node.boundary().getString(),
                        node.smimeType().getString(), "u");
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"),
              "multipart/signed; type=\"u\";boundary=\"B\";name=\"n\";protocol=\"application/pkcs7-signature\";"
              "micalg=sha1;smime-type=signed-data");
    node.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "C", nullptr, nullptr);
    EXPECT_TRUE(node.name().isEmpty());
    EXPECT_TRUE(node.protocol().isEmpty());
    EXPECT_TRUE(node.micalg().isEmpty());
    EXPECT_TRUE(node.smimeType().isEmpty());
    EXPECT_TRUE(node.type().isEmpty());
    EXPECT_EQ(str(node.boundary()), "C");
    // Rebuilding replaces the one field; content type is kept as given.
    node.SetContentType("Multipart/Mixed", nullptr, nullptr, nullptr, Charset(), "C", nullptr, nullptr);
    EXPECT_EQ(node.header().GetFieldCount(), 1);
    EXPECT_EQ(str(node.contentType()), "Multipart/Mixed");
    EXPECT_TRUE(node.IsMultipartMixed());
}

TEST(Email2ContentType, QuotedValuesEscapeQuoteAndBackslash)
{
    Email2 node;
    node.SetContentType("application/octet-stream", "a\"b\\c.txt", nullptr, nullptr, Charset(), nullptr, nullptr,
                        nullptr);
    EXPECT_EQ(fieldValue(node.header(), "Content-Type"), "application/octet-stream;name=\"a\\\"b\\\\c.txt\"");
    EXPECT_EQ(str(node.name()), "a\"b\\c.txt");
    StringBuffer name;
    ASSERT_TRUE(node.header().GetFieldParam("Content-Type", "name", name));
    EXPECT_EQ(str(name), "a\"b\\c.txt");

    node.SetDisposition("attachment", "x \"y\".txt");
    EXPECT_EQ(fieldValue(node.header(), "Content-Disposition"), "attachment; filename=\"x \\\"y\\\".txt\"");
    StringBuffer file;
    ASSERT_TRUE(node.header().GetFieldParam("Content-Disposition", "filename", file));
    EXPECT_EQ(str(file), "x \"y\".txt");
    EXPECT_EQ(str(node.filename()), "x \"y\".txt");
}

TEST(Email2Fields, DispositionTransferEncodingContentId)
{
    Email2 node;
    node.SetDisposition("inline", nullptr);
    EXPECT_EQ(fieldValue(node.header(), "Content-Disposition"), "inline");
    EXPECT_TRUE(node.filename().isEmpty());
    node.SetDisposition("attachment", "");
    EXPECT_EQ(fieldValue(node.header(), "Content-Disposition"), "attachment; filename=\"\"");

    node.SetTransferEncoding("  base64 \t");
    EXPECT_EQ(str(node.transferEncoding()), "base64");
    EXPECT_EQ(fieldValue(node.header(), "Content-Transfer-Encoding"), "base64");
    node.SetContentId("<part1@example>");
    EXPECT_EQ(str(node.contentId()), "<part1@example>");
    EXPECT_EQ(fieldValue(node.header(), "Content-ID"), "<part1@example>");

    // Setting again moves the field to the end; an empty value only removes it.
    node.SetTransferEncoding("7bit");
    StringBuffer last;
    node.header().GetFieldName(node.header().GetFieldCount() - 1, last);
    EXPECT_EQ(str(last), "Content-Transfer-Encoding");
    node.SetContentId("");
    EXPECT_FALSE(node.header().HasField("Content-ID"));
    node.SetTransferEncoding(" ");
    EXPECT_FALSE(node.header().HasField("Content-Transfer-Encoding"));
    EXPECT_TRUE(node.transferEncoding().isEmpty());
}

TEST(Email2Fields, AttachmentLike)
{
    struct Case {
        const char* type;
        const char* name;
        const char* disp;
        const char* file;
        const char* te;
        bool like;
    };
    const Case cases[] = {
        {"text/plain", nullptr, "Attachment", nullptr, "7bit", true},
        {"message/rfc822", nullptr, "attachment", "m.eml", "7bit", false},
        {"image/png", "a.png", nullptr, nullptr, "BASE64", true},
        {"image/png", "a.png", nullptr, nullptr, "quoted-printable", false},
        {"image/png", "a.png", "INLINE", nullptr, "base64", false},
        {"image/png", nullptr, "inline", "a.png", "base64", true},
        {"multipart/related", nullptr, "inline", "a.png", "base64", false},
    };
    for (const Case& c : cases) {
        Email2 n;
        n.SetContentType(c.type, c.name, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
        if (c.disp) n.SetDisposition(c.disp, c.file);
        n.SetTransferEncoding(c.te);
        EXPECT_EQ(n.IsAttachmentLike(), c.like) << c.type << " " << (c.disp ? c.disp : "-") << " " << c.te;
    }
}

TEST(Email2Tree, FindBodies)
{
    // A single html node is its own html body.
    Email2 single;
    single.SetContentType("text/html", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(single.FindHtmlBody(), &single);
    EXPECT_EQ(single.FindPlainTextBody(false), nullptr);

    Email2 leaf;
    leaf.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(leaf.FindPlainTextBody(false), &leaf);
    EXPECT_EQ(leaf.FindPlainTextBody(true), nullptr);

    // mixed( related( alternative(attached html, plain, html), image ), attachment )
    Email2 root;
    root.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "M", nullptr, nullptr);
    auto* related = new Email2();
    related->SetContentType("multipart/related", nullptr, nullptr, nullptr, Charset(), "R", nullptr, nullptr);
    auto* alt = new Email2();
    alt->SetContentType("multipart/alternative", nullptr, nullptr, nullptr, Charset(), "A", nullptr, nullptr);
    Email2* attachedHtml = textPart("text/html", "utf-8", "base64", "<p>file</p>");
    attachedHtml->SetDisposition("attachment", "page.html");
    Email2* plain = textPart("text/plain", "utf-8", "base64", "text");
    Email2* html = textPart("text/html", "utf-8", "base64", "<p>text</p>");
    alt->AddPart(attachedHtml);
    alt->AddPart(plain);
    alt->AddPart(html);
    related->AddPart(alt);
    related->AddPart(textPart("image/png", "", "base64", "png"));
    root.AddPart(related);
    root.AddPart(textPart("text/html", "utf-8", "base64", "<p>attached</p>"));
    EXPECT_EQ(root.FindHtmlBody(), html);
    EXPECT_EQ(root.FindPlainTextBody(true), plain);
    EXPECT_EQ(root.FindPlainTextBody(false), plain);
}

TEST(Email2Transfer, EncodingByCodePage)
{
    EXPECT_STREQ(TransferEncodingChoice::forCodePage(20127), "7bit");
    for (int cp : {0, 1252, 28591, 1256, 437, 900, 1000, 20832, 22000, 10000, 10004})
        EXPECT_STREQ(TransferEncodingChoice::forCodePage(cp), "quoted-printable") << cp;
    for (int cp : {20932, 51932, 50220, 65001, 65000, 874, 901, 932, 999, 20833, 21999, 1200, 1201, 1361, 10001, 10002,
                   10003, 10021})
        EXPECT_STREQ(TransferEncodingChoice::forCodePage(cp), "base64") << cp;
}

TEST(Email2Transfer, NormaliseParentsAndTextNodesOnly)
{
    Email2 root;
    root.SetContentType("multipart/mixed", nullptr, nullptr, nullptr, Charset(), "M", nullptr, nullptr);
    root.SetTransferEncoding("8bit");
    Email2* html = textPart("text/html", "shift_jis", "8bit", "<p>x</p>");
    Email2* html0 = textPart("text/html", "", "7bit", "<p>x</p>");
    Email2* ascii = textPart("text/plain", "iso-8859-1", "7bit", "plain");
    Email2* latin = textPart("text/plain", "iso-8859-1", "7bit",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e");
    Email2* eight = textPart("text/plain", "us-ascii", "8bit", "plain");
    Email2* bin = textPart("application/octet-stream", "", "8bit", "\xFF\xFE");
    auto* untyped = new Email2();
    untyped->SetTransferEncoding("8bit");
    for (Email2* p : {html, html0, ascii, latin, eight, bin, untyped}) root.AddPart(p);
    Email2::NormaliseTransferEncodings(root);
    EXPECT_EQ(str(root.transferEncoding()), "8bit");
    EXPECT_EQ(str(html->transferEncoding()), "base64");
    EXPECT_EQ(str(html0->transferEncoding()), "quoted-printable");
    EXPECT_EQ(str(ascii->transferEncoding()), "7bit");
    EXPECT_EQ(str(latin->transferEncoding()), "quoted-printable");
    EXPECT_EQ(str(eight->transferEncoding()), "7bit");
    EXPECT_EQ(str(bin->transferEncoding()), "8bit");
    EXPECT_EQ(str(untyped->transferEncoding()), "quoted-printable");
    EXPECT_EQ(fieldValue(html->header(), "Content-Transfer-Encoding"), "base64");
}

TEST(Email2Transfer, NewBoundaryShapeAndFreshness)
{
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        StringBuffer b("old");
        MimeBoundary::NewBoundary(b);
        const std::string s = str(b);
        ASSERT_EQ(s.size(), 41u) << s;
        EXPECT_EQ(s.substr(0, 15), "----=_NextPart_");
        EXPECT_EQ(s[18], '_');
        EXPECT_EQ(s[23], '_');
        EXPECT_EQ(s[32], '.');
        for (size_t k = 15; k < s.size(); ++k) {
            if (k == 18 || k == 23 || k == 32) continue;
            const char c = s[k];
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) << s;
        }
        seen.insert(s);
    }
    EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
