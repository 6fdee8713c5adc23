// Attachments of an email: the reshaping of each kind of root into
// multipart/mixed, the parts made from bytes and files, content types by
// extension, enumeration and removal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "mime/MimeHeaderTestSupport.h"

using namespace hanamail;

namespace {

using namespace hdrtest;

const char* const kAltBoundary = "----=_NextPart_000_0001_01D2A3B4.C5D6E7F8_.ALT";
const char* const kRelBoundary = "----=_NextPart_000_0002_01D2A3B4.C5D6E7F8_.REL";

std::string written(const Email2& e)
{
    StringBuffer out;
    EXPECT_TRUE(e.WriteMimeText(out, nullptr));
    return str(out);
}

// The header block of one entity's text, without the empty line after it.
std::string headerOf(const Email2& e)
{
    const std::string t = written(e);
    return t.substr(0, t.find("\r\n\r\n"));
}

Email2* leaf(const char* type, const char* charset, const char* te, const std::string& body)
{
    auto* p = new Email2();
    p->SetContentType(type, nullptr, nullptr, nullptr, charsetNamed(charset), nullptr, nullptr, nullptr);
    p->SetTransferEncoding(te);
    p->SetBody(body.data(), static_cast<uint32_t>(body.size()));
    return p;
}

Email2* file(const char* type, const char* name, const char* disposition, const char* filename)
{
    auto* p = new Email2();
    p->SetContentType(type, name, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    p->SetTransferEncoding("base64");
    if (disposition) p->SetDisposition(disposition, filename);
    p->SetBody("\x00\x01\x02", 3);
    return p;
}

void makeMultipart(Email2& e, const char* type, const char* boundary, const char* relatedType = nullptr)
{
    e.SetContentType(type, nullptr, nullptr, nullptr, Charset(), boundary, nullptr, relatedType);
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void expectNewBoundary(const Email2& e, const char* suffix)
{
    const std::string b = str(e.boundary());
    EXPECT_EQ(b.rfind("----=_NextPart_", 0), 0u) << b;
    EXPECT_EQ(b.size() - b.rfind(suffix), std::string(suffix).size()) << b;
}

TEST(Email2Attach, AlternativeRootPushedDownWithItsBoundary)
{
    Email2 root;
    root.header().ReplaceField("Subject", "Quarterly figures");
    makeMultipart(root, "multipart/alternative", kAltBoundary);
    root.SetTransferEncoding("7bit");
    root.AddPart(leaf("text/plain", "us-ascii", "7bit", "Plain"));
    root.AddPart(leaf("text/html", "us-ascii", "7bit", "<p>Html</p>"));

    StringBuffer chosen("stale");
    ASSERT_TRUE(root.AddDataAttachment("report.pdf", nullptr, "%PDF-1.4", 8, chosen));
    EXPECT_EQ(str(chosen), "application/pdf");

    EXPECT_TRUE(root.IsMultipartMixed());
    expectNewBoundary(root, "_.MIX");
    ASSERT_EQ(root.GetPartCount(), 2);
    const Email2& alt = *root.GetPart(0);
    EXPECT_TRUE(alt.IsMultipartAlternative());
    EXPECT_EQ(str(alt.boundary()), kAltBoundary);
    ASSERT_EQ(alt.GetPartCount(), 2);
    EXPECT_EQ(str(alt.GetPart(0)->contentType()), "text/plain");
    EXPECT_EQ(str(alt.GetPart(1)->contentType()), "text/html");
    EXPECT_EQ(str(root.GetPart(1)->contentType()), "application/pdf");

    const std::string text = written(root);
    const std::string head = text.substr(0, text.find("\r\n\r\n"));
    EXPECT_NE(head.find("Content-Type: multipart/mixed;\r\n\tboundary=\"" + str(root.boundary()) + "\""),
              std::string::npos)
        << head;
    EXPECT_EQ(head.find("Content-Transfer-Encoding"), std::string::npos) << head;
    // The message fields stay with the message.
    EXPECT_EQ(count(text, "Subject:"), 1u);
    EXPECT_EQ(count(text, "--" + std::string(kAltBoundary) + "\r\n"), 2u);
    EXPECT_EQ(count(text, "--" + std::string(kAltBoundary) + "--\r\n"), 1u);
    // The alternative comes first, the file second.
    const std::string mix = "--" + str(root.boundary()) + "\r\n";
    const size_t first = text.find(mix);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.compare(first + mix.size(), 36, "Content-Type: multipart/alternative;"), 0);
    EXPECT_LT(text.find("multipart/alternative"), text.find("application/pdf"));

    // A second attachment joins the mixed root as it is.
    ASSERT_TRUE(root.AddDataAttachment("b.bin", nullptr, "x", 1, chosen));
    EXPECT_EQ(root.GetPartCount(), 3);
    EXPECT_EQ(root.GetPart(0), &alt);
}

TEST(Email2Attach, RelatedRootMovesIntoNewRelatedPart)
{
    Email2 root;
    makeMultipart(root, "multipart/related", kRelBoundary, "text/html");
    root.SetTransferEncoding("quoted-printable");
    Email2* html = leaf("text/html", "utf-8", "quoted-printable", "<img src=\"cid:logo\">");
    root.AddPart(html);
    Email2* image = file("image/png", "logo.png", "inline", "logo.png");
    image->SetContentId("<logo>");
    root.AddPart(image);

    StringBuffer chosen;
    ASSERT_TRUE(root.AddDataAttachment("archive.zip", "", "PK", 2, chosen));
    EXPECT_EQ(str(chosen), "application/zip");

    EXPECT_TRUE(root.IsMultipartMixed());
    expectNewBoundary(root, "_.MIX");
    EXPECT_TRUE(root.type().isEmpty());
    ASSERT_EQ(root.GetPartCount(), 2);
    const Email2& related = *root.GetPart(0);
    EXPECT_TRUE(related.IsMultipartRelated());
    expectNewBoundary(related, "_.REL");
    EXPECT_NE(str(related.boundary()), kRelBoundary);
    EXPECT_EQ(str(related.type()), "text/html");
    ASSERT_EQ(related.GetPartCount(), 2);
    EXPECT_EQ(related.GetPart(0), html);
    EXPECT_EQ(related.GetPart(1), image);
    EXPECT_EQ(str(root.GetPart(1)->contentType()), "application/zip");

    // No transfer coding on either multipart; the inline image is no attachment.
    EXPECT_EQ(headerOf(root).find("Content-Transfer-Encoding"), std::string::npos) << headerOf(root);
    EXPECT_EQ(headerOf(related).find("Content-Transfer-Encoding"), std::string::npos) << headerOf(related);
    EXPECT_NE(headerOf(related).find(" type=\"text/html\""), std::string::npos) << headerOf(related);
    EXPECT_EQ(root.GetAttachmentCount(), 1);
    EXPECT_EQ(root.GetAttachment(0), root.GetPart(1));
}

TEST(Email2Attach, SinglePartBodyMovesIntoFirstPart)
{
    Email2 root;
    root.SetFormatFlowed(true);
    const std::string body = "Grüße";
    // The root itself carries the body.
    root.SetContentType("text/plain", nullptr, nullptr, nullptr, charsetNamed("iso-8859-1"), nullptr, nullptr, nullptr);
    root.SetTransferEncoding("quoted-printable");
    root.SetBody(body.data(), static_cast<uint32_t>(body.size()));

    StringBuffer chosen;
    ASSERT_TRUE(root.AddDataAttachment(nullptr, nullptr, "\xff\x00", 2, chosen));
    EXPECT_EQ(str(chosen), "application/octet-stream");
    EXPECT_EQ(root.body().getSize(), 0u);
    ASSERT_EQ(root.GetPartCount(), 2);
    const Email2& text = *root.GetPart(0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.body().getData()), text.body().getSize()), "Grüße");
    EXPECT_EQ(fieldValue(text.header(), "Content-Type"), "text/plain; charset=\"iso-8859-1\";format=flowed");
    EXPECT_EQ(str(text.transferEncoding()), "quoted-printable");
    EXPECT_TRUE(text.formatFlowed());
    EXPECT_NE(written(root).find("\r\n\r\nGr=FC=DFe\r\n--"), std::string::npos) << written(root);

    // An attachment without a name.
    const Email2& dat = *root.GetPart(1);
    EXPECT_EQ(headerOf(dat),
              "Content-Type: application/octet-stream;\r\n\tname=\"attach.dat\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: attachment;\r\n\t filename=\"attach.dat\"");
    EXPECT_EQ(fieldValue(dat.header(), "Content-Disposition"), "attachment; filename=\"attach.dat\"");
    EXPECT_NE(written(root).find("\r\n\r\n/wA=\r\n"), std::string::npos);
    StringBuffer name;
    Email2::GetAttachmentFilename(dat, name);
    EXPECT_EQ(str(name), "attach.dat");
}

TEST(Email2Attach, RootThatIsAFileKeepsItsDispositionBelow)
{
    Email2 root;
    root.SetContentType("application/pdf", "a.pdf", nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    root.SetTransferEncoding("base64");
    root.SetDisposition("attachment", "a.pdf");
    root.SetBody("%PDF", 4);
    ASSERT_EQ(root.GetAttachmentCount(), 1);
    EXPECT_EQ(root.GetAttachment(0), &root);
    EXPECT_EQ(root.GetAttachment(1), nullptr);

    StringBuffer chosen;
    ASSERT_TRUE(root.AddDataAttachment("b.txt", nullptr, "b", 1, chosen));
    EXPECT_EQ(headerOf(root).find("Content-Disposition"), std::string::npos) << headerOf(root);
    EXPECT_TRUE(root.disposition().isEmpty());
    ASSERT_EQ(root.GetAttachmentCount(), 2);
    StringBuffer name;
    Email2::GetAttachmentFilename(*root.GetAttachment(0), name);
    EXPECT_EQ(str(name), "a.pdf");
    EXPECT_EQ(fieldValue(root.GetAttachment(0)->header(), "Content-Disposition"), "attachment; filename=\"a.pdf\"");
}

TEST(Email2Attach, ContentTypeFromNameOrCaller)
{
    struct Case {
        const char* filename;
        const char* given;
        const char* type;
        const char* encoding;
        const char* name;
    };
    const Case cases[] = {
        // Folders separated by backslashes; the extension is looked up in lower case.
        {"C:\\Documents\\Q3\\Quarterly Report.PDF", nullptr, "application/pdf", "base64", "Quarterly Report.PDF"},
        {"/home/user/notes.TXT", nullptr, "text/plain", "quoted-printable", "notes.TXT"},
        {"dir.v2\\README", nullptr, "application/octet-stream", "base64", "README"},
        {"mixed/folders\\inner\\x.p7m", nullptr, "application/x-pkcs7-mime", "base64", "x.p7m"},
        {"page.htm", "  ", "application/octet-stream", "base64", "page.htm"},
        {"image.bin", " image/png ", "image/png", "base64", "image.bin"},
        {"trailing.", nullptr, "application/octet-stream", "base64", "trailing."},
        {"only\\folders\\", nullptr, "application/octet-stream", "base64", "attach.dat"},
    };
    for (const Case& c : cases) {
        Email2 root;
        StringBuffer chosen;
        ASSERT_TRUE(root.AddDataAttachment(c.filename, c.given, "data", 4, chosen));
        const Email2& a = *root.GetPart(1);
        EXPECT_EQ(str(chosen), c.type) << c.filename;
        EXPECT_EQ(str(a.contentType()), c.type) << c.filename;
        EXPECT_EQ(str(a.transferEncoding()), c.encoding) << c.filename;
        EXPECT_EQ(str(a.filename()), c.name) << c.filename;
        EXPECT_EQ(str(a.name()), c.name) << c.filename;
        // Text attachments carry no charset.
        EXPECT_EQ(fieldValue(a.header(), "Content-Type").find("charset"), std::string::npos) << c.filename;
    }

    StringBuffer out("keep");
    EXPECT_FALSE(Email2::ContentTypeForExtension("PDF", out));
    EXPECT_FALSE(Email2::ContentTypeForExtension("nosuch", out));
    EXPECT_FALSE(Email2::ContentTypeForExtension("", out));
    EXPECT_EQ(str(out), "keep");
    out.clear();
    EXPECT_TRUE(Email2::ContentTypeForExtension("cdf", out));
    EXPECT_EQ(str(out), "application/x-cdf");
}

class Email2FileAttach : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device rd;
        m_dir = std::filesystem::temp_directory_path() / ("hanamail-attach-" + std::to_string(rd()));
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::filesystem::path m_dir;
};

TEST_F(Email2FileAttach, ReadsTheFileOrLeavesTheEmailAlone)
{
    const std::string bytes("%PDF-1.7\r\n\x00\xff\x80 binary", 20);
    const std::filesystem::path p = m_dir / "Minutes.PDF";
    {
        std::ofstream f(p, std::ios::binary);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Email2 root;
    root.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    root.SetBody("hello", 5);
    Logger log;
    StringBuffer chosen;
    ASSERT_TRUE(root.AddFileAttachment(p.string().c_str(), nullptr, chosen, log));
    EXPECT_EQ(str(chosen), "application/pdf");
    ASSERT_EQ(root.GetAttachmentCount(), 1);
    const Email2& a = *root.GetAttachment(0);
    EXPECT_EQ(str(a.filename()), "Minutes.PDF");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.body().getData()), a.body().getSize()), bytes);

    const std::string before = written(root);
    StringBuffer untouched("unchanged");
    Logger failed;
    EXPECT_FALSE(root.AddFileAttachment((m_dir / "missing.pdf").string().c_str(), nullptr, untouched, failed));
    EXPECT_FALSE(root.AddFileAttachment(nullptr, nullptr, untouched, failed));
    EXPECT_EQ(str(untouched), "unchanged");
    EXPECT_EQ(root.GetPartCount(), 2);
    EXPECT_EQ(written(root).size(), before.size());
    StringBuffer logText;
    failed.getText(logText);
    EXPECT_FALSE(logText.isEmpty());

    // A single-part email stays single-part when the file is missing.
    Email2 single;
    single.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_FALSE(single.AddFileAttachment((m_dir / "missing.pdf").string().c_str(), nullptr, untouched, failed));
    EXPECT_EQ(single.GetPartCount(), 0);
    EXPECT_FALSE(single.IsMultipart());
}

// mixed( related( alternative, inline image, related file ), a, mixed( b ), c, message, d, e )
Email2* enumerationTree()
{
    auto* root = new Email2();
    makeMultipart(*root, "multipart/mixed", "mix-1");
    auto* related = new Email2();
    makeMultipart(*related, "multipart/related", "rel-1", "multipart/alternative");
    auto* alt = new Email2();
    makeMultipart(*alt, "multipart/alternative", "alt-1");
    alt->AddPart(leaf("text/plain", "us-ascii", "7bit", "plain"));
    alt->AddPart(leaf("text/html", "us-ascii", "7bit", "<p>html</p>"));
    related->AddPart(alt);
    related->AddPart(file("image/gif", "inline.gif", "inline", "inline.gif"));
    related->AddPart(file("application/zip", nullptr, "attachment", "in-related.zip"));
    root->AddPart(related);
    root->AddPart(file("application/pdf", "a.pdf", "attachment", "a.pdf"));
    auto* inner = new Email2();
    makeMultipart(*inner, "multipart/mixed", "mix-2");
    inner->AddPart(file("image/png", nullptr, "attachment", "=?utf-8?B?5pel5pys6KqeLnBuZw==?="));
    root->AddPart(inner);
    // A name and base64 without disposition, and an inline file outside related.
    root->AddPart(file("application/msword", "c.doc", nullptr, nullptr));
    root->AddPart(file("message/rfc822", nullptr, "attachment", "fwd.eml"));
    root->AddPart(file("image/jpeg", nullptr, "inline", "d.jpg"));
    root->AddPart(file("application/octet-stream", nullptr, "attachment", nullptr));
    return root;
}

TEST(Email2Attach, EnumerationIsDepthFirstInOrder)
{
    Email2* root = enumerationTree();
    const char* const names[] = {"in-related.zip", "a.pdf", "日本語.png", "c.doc", "d.jpg", "attachedFile.dat"};
    ASSERT_EQ(root->GetAttachmentCount(), 6);
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(root->GetAttachment(i), nullptr) << i;
        StringBuffer name("old");
        Email2::GetAttachmentFilename(*root->GetAttachment(i), name);
        EXPECT_EQ(str(name), names[i]) << i;
    }
    EXPECT_EQ(root->GetAttachment(6), nullptr);
    EXPECT_EQ(root->GetAttachment(-1), nullptr);

    // Alternatives hold no attachments; plain text roots hold none either.
    Email2 alt;
    makeMultipart(alt, "multipart/alternative", "alt-2");
    alt.AddPart(file("application/pdf", "x.pdf", "attachment", "x.pdf"));
    EXPECT_EQ(alt.GetAttachmentCount(), 0);
    Email2 plain;
    plain.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    EXPECT_EQ(plain.GetAttachmentCount(), 0);
    EXPECT_EQ(plain.GetAttachment(0), nullptr);
    delete root;
}

TEST(Email2Attach, RemoveAttachmentsTakesWhatEnumerationFinds)
{
    Email2* root = enumerationTree();
    root->RemoveAttachments();
    EXPECT_EQ(root->GetAttachmentCount(), 0);
    // What is left: related( alternative, inline image ), the empty inner mixed, the message.
    ASSERT_EQ(root->GetPartCount(), 3);
    const Email2& related = *root->GetPart(0);
    ASSERT_EQ(related.GetPartCount(), 2);
    EXPECT_TRUE(related.GetPart(0)->IsMultipartAlternative());
    EXPECT_EQ(str(related.GetPart(1)->contentType()), "image/gif");
    EXPECT_EQ(root->GetPart(1)->GetPartCount(), 0);
    EXPECT_EQ(str(root->GetPart(2)->contentType()), "message/rfc822");
    const std::string text = written(*root);
    for (const char* gone : {"in-related.zip", "a.pdf", "c.doc", "d.jpg", "application/octet-stream"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;
    EXPECT_NE(text.find("inline.gif"), std::string::npos);
    delete root;

    // Nothing to remove is fine, and a null part is refused.
    Email2 plain;
    plain.SetContentType("text/plain", nullptr, nullptr, nullptr, Charset(), nullptr, nullptr, nullptr);
    plain.RemoveAttachments();
    StringBuffer chosen("same");
    EXPECT_FALSE(plain.AddAttachmentPart(nullptr, chosen));
    EXPECT_EQ(str(chosen), "same");
    EXPECT_FALSE(plain.IsMultipart());
}

}  // namespace
