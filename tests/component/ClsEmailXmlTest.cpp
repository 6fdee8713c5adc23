// The API email object's XML form: the text it gives and saves, and an
// import that replaces the message only when it succeeds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "EmailTestSupport.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"
#include "mime/Email2XmlSupport.h"

using namespace hanamail;

namespace {

namespace fs = std::filesystem;

using emailtest::logText;
using emailtest::xs;

std::string mimeOf(ClsEmail& e)
{
    XString m;
    EXPECT_TRUE(e.GetMime(m));
    return m.getUtf8();
}

std::string xmlOf(ClsEmail& e)
{
    XString x;
    EXPECT_TRUE(e.GetXml(x));
    return x.getUtf8();
}

void compose(ClsEmail& e)
{
    XString ct;
    e.AddTo(xs("\xe9\x88\xb4\xe6\x9c\xa8"), xs("hanako@example.jp"));
    e.AddBcc(xs(""), xs("hidden@example.com"));
    e.AddHeaderField(xs("Subject"), xs("Minutes & <notes>"));
    e.SetPlainBody(xs("line one\r\nline two & three\r\n"));
    DataBuffer bytes;
    for (int i = 0; i < 256; ++i) ASSERT_TRUE(bytes.appendByte(static_cast<unsigned char>(i)));
    ASSERT_TRUE(e.AddDataAttachment(xs("data.bin"), bytes, ct));
}

fs::path tempFile(const char* ext)
{
    std::random_device rd;
    return fs::temp_directory_path() / ("clsemail-xml-" + std::to_string(rd()) + ext);
}

TEST(ClsEmailXml, GetXmlHasNoDeclaration)
{
    ClsEmail e;
    compose(e);
    const std::string xml = xmlOf(e);
    EXPECT_EQ(xml.rfind("<mime_message>\n<header>\n", 0), 0u);
    EXPECT_NE(xml.find("<subject>Minutes &amp; &lt;notes&gt;</subject>"), std::string::npos);
    EXPECT_EQ(logText(e), "");
}

TEST(ClsEmailXml, ImportReplacesTheMessage)
{
    ClsEmail a;
    compose(a);
    const std::string xml = xmlOf(a);
    ClsEmail b;
    b.SetPlainBody(xs("old"));
    ASSERT_TRUE(b.SetFromXmlText(StringBuffer(xml.c_str())));
    EXPECT_EQ(xmltest::normalised(mimeOf(b)), xmltest::normalised(mimeOf(a)));
    ASSERT_EQ(b.email().GetRecipientCount(Email2::Recipients::Bcc), 1);
}

TEST(ClsEmailXml, FailedImportKeepsTheOldMessage)
{
    ClsEmail e;
    compose(e);
    const std::string before = mimeOf(e);
    EXPECT_FALSE(e.SetFromXmlText(StringBuffer("<mime_message><header/></mime_message><!-- cut")));
    EXPECT_EQ(logText(e), "Unclosed comment\r\n");
    EXPECT_FALSE(e.SetFromXmlText(StringBuffer("")));
    EXPECT_EQ(mimeOf(e), before);
}

TEST(ClsEmailXml, SavedFileHasTheDeclarationAndNoCarriageReturn)
{
    ClsEmail e;
    compose(e);
    EXPECT_FALSE(e.SaveXml(xs("  ")));
    EXPECT_NE(logText(e).find("The filename parameter is missing"), std::string::npos);

    const fs::path path = tempFile(".xml");
    ASSERT_TRUE(e.SaveXml(xs(path.string().c_str())));
    std::string saved;
    {
        std::ifstream in(path, std::ios::binary);
        saved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::error_code ignored;
    fs::remove(path, ignored);
    EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" ?>\n<mime_message>\n", 0), 0u);
    EXPECT_EQ(saved.find('\r'), std::string::npos);
    // Read back, its text lines are CR LF lines again.
    ClsEmail back;
    ASSERT_TRUE(back.SetFromXmlText(StringBuffer(saved.c_str())));
    EXPECT_EQ(xmltest::normalised(mimeOf(back)), xmltest::normalised(mimeOf(e)));

    EXPECT_FALSE(e.SaveXml(xs((fs::temp_directory_path() / "no-such-dir" / "x.xml").string().c_str())));
}

}  // namespace
