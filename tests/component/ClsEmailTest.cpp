// The API email object: argument trimming and the activity-log lines callers
// read, body and charset choices, zipping attachments without losing any.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "EmailTestSupport.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"
#include "mime/Email2.h"

using namespace hanamail;

namespace {

namespace fs = std::filesystem;

using emailtest::logText;
using emailtest::xs;

// The log text's lines, each ended by "|" instead of its line end.
std::string logLines(ClsEmail& e)
{
    std::istringstream in(logText(e));
    std::string line, lines;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines += line + "|";
    }
    return lines;
}

std::string mimeOf(ClsEmail& e)
{
    XString m;
    e.GetMime(m);
    return m.getUtf8();
}

std::string charsetOf(ClsEmail& e)
{
    XString c;
    e.GetCharset(c);
    return c.getUtf8();
}

std::string attachmentName(const ClsEmail& e, int i)
{
    StringBuffer sb;
    Email2::GetAttachmentFilename(*e.email().GetAttachment(i), sb);
    return sb.getString();
}

TEST(ClsEmailRecipients, TrimsNameAndAddressBeforeLoggingAndAdding)
{
    ClsEmail e;
    EXPECT_TRUE(e.AddTo(xs("  Taro Yamada\t"), xs(" \r\n taro@example.com \r\n")));
    EXPECT_EQ(logLines(e), "name: Taro Yamada|address: taro@example.com|");
    StringBuffer addr;
    ASSERT_TRUE(e.email().GetRecipientAddress(Email2::Recipients::To, 0, addr));
    EXPECT_STREQ(addr.getString(), "taro@example.com");
}

TEST(ClsEmailRecipients, EmptyCcAddressGivesThreeLines)
{
    ClsEmail e;
    EXPECT_FALSE(e.AddCC(xs(" Hanako "), xs("  \t")));
    EXPECT_EQ(logLines(e), "name: Hanako|address: |No Email Address was provided|");
    EXPECT_EQ(e.email().GetRecipientCount(Email2::Recipients::Cc), 0);
}

TEST(ClsEmailRecipients, RefusedAddressLogsNameAndAddress)
{
    ClsEmail e;
    EXPECT_FALSE(e.AddBcc(xs("X"), xs("a\001b@example.com")));
    EXPECT_NE(logText(e).find("Invalid email address: name = [X], address = [a\001b@example.com]"), std::string::npos);
    EXPECT_EQ(e.email().GetRecipientCount(Email2::Recipients::Bcc), 0);
}

TEST(ClsEmailRecipients, NonAsciiAddressesAreRefusedWithALogLine)
{
    ClsEmail e;
    for (const char* address : {"taro@日本.jp", "tarö@example.jp"}) {
        EXPECT_FALSE(e.AddTo(xs(""), xs(address)));
        EXPECT_NE(logText(e).find(std::string("Invalid email address: name = [], address = [") + address + "]"),
                  std::string::npos)
            << logText(e);
        EXPECT_FALSE(e.AddHeaderField(xs("From"), xs(address)));
        EXPECT_NE(logText(e).find(std::string("Invalid email address: [") + address + "]"), std::string::npos);
    }
    EXPECT_EQ(e.email().GetRecipientCount(Email2::Recipients::To), 0);
    EXPECT_EQ(e.email().fromAddress(), nullptr);
}

TEST(ClsEmailHeader, RefusalsAreLoggedAndBccIsARecipient)
{
    ClsEmail e;
    EXPECT_FALSE(e.AddHeaderField(xs("Date"), xs("garbage")));
    EXPECT_NE(logText(e).find("Invalid date: [garbage]"), std::string::npos);
    EXPECT_FALSE(e.AddHeaderField(xs("Reply-To"), xs("r@x.com e7@x.com")));
    EXPECT_NE(logText(e).find("Invalid email address: [r@x.com e7@x.com]"), std::string::npos);
    EXPECT_FALSE(e.AddHeaderField(xs("X-Ü"), xs("v")));
    EXPECT_NE(logText(e).find("Invalid header field name: [X-Ü]"), std::string::npos);
    EXPECT_FALSE(e.AddHeaderField(xs(" "), xs("v")));

    EXPECT_TRUE(e.AddHeaderField(xs("Bcc"), xs("hidden@x.com")));
    StringBuffer a;
    ASSERT_TRUE(e.email().GetRecipientAddress(Email2::Recipients::Bcc, 0, a));
    EXPECT_STREQ(a.getString(), "hidden@x.com");
    const std::string m = mimeOf(e);
    EXPECT_EQ(m.find("hidden@"), std::string::npos);
    EXPECT_EQ(m.find("Bcc"), std::string::npos);
    EXPECT_EQ(m.find("garbage"), std::string::npos);
}

TEST(ClsEmailBodies, PlainBodyReplacesUpperCaseHtmlType)
{
    ClsEmail e;
    e.AddHeaderField(xs("Content-Type"), xs("TEXT/HTML"));
    e.SetPlainBody(xs("hello"));
    EXPECT_TRUE(e.email().contentType().equalsIgnoreCase("text/plain")) << e.email().contentType().getString();
    EXPECT_TRUE(e.HasPlainTextBody());
    EXPECT_FALSE(e.HasHtmlBody());
}

TEST(ClsEmailBodies, PlainBodyChoosesCharsetFromText)
{
    ClsEmail kana;
    kana.SetPlainBody(xs("\xe3\x81\x93\xe3\x82\x93\xe3\x81\xab\xe3\x81\xa1\xe3\x81\xaf"));
    EXPECT_EQ(charsetOf(kana), "shift_jis");

    ClsEmail lossy;  // would be ISO-8859-2 by script, which has no œ
    lossy.SetPlainBody(xs("c\xc5\x93ur \xc3\xa0 l'\xc3\xa9t\xc3\xa9"));
    EXPECT_EQ(charsetOf(lossy), "utf-8");

    ClsEmail set;  // a charset the caller chose is kept
    set.SetCharset(xs("euc-jp"));
    set.SetPlainBody(xs("\xe3\x81\x93"));
    EXPECT_EQ(charsetOf(set), "euc-jp");
}

TEST(ClsEmailBodies, PlainThenHtmlMakesAlternatives)
{
    ClsEmail e;
    e.SetPlainBody(xs("text"));
    EXPECT_TRUE(e.AddHtmlAltBodyUtf8(xs("<p>html</p>")));
    EXPECT_TRUE(e.HasPlainTextBody());
    EXPECT_TRUE(e.HasHtmlBody());
    EXPECT_TRUE(e.email().IsMultipartAlternative());

    ClsEmail h;
    h.SetHtmlBodyFromUtf8(xs("<p>html</p>"));
    EXPECT_TRUE(h.HasHtmlBody());
    EXPECT_TRUE(h.AddPlainTextAltBody(xs("text")));
    EXPECT_TRUE(h.HasPlainTextBody());
}

TEST(ClsEmailBodies, HtmlAlternativeNotForcedIntoCharsetThatLosesText)
{
    ClsEmail e;
    e.SetCharset(xs("iso-8859-1"));
    e.SetPlainBody(xs("caf\xc3\xa9"));
    ASSERT_TRUE(e.AddHtmlAltBodyUtf8(xs("<p>\xe6\x97\xa5\xe6\x9c\xac</p>")));
    const Email2* html = e.email().FindHtmlBody();
    ASSERT_NE(html, nullptr);
    EXPECT_EQ(html->charset().getCodePage(), 65001);
    EXPECT_NE(mimeOf(e).find("iso-8859-1"), std::string::npos);
}

TEST(ClsEmailCharset, UnusableNamesLeaveCharsetAlone)
{
    ClsEmail e;
    ASSERT_TRUE(e.SetCharset(xs("Shift_JIS")));
    e.SetPlainBody(xs("\xe3\x81\x93"));
    for (const char* bad : {"no-such-charset", "", "cp50227", "asmo-449"}) EXPECT_TRUE(e.SetCharset(xs(bad)));
    EXPECT_EQ(charsetOf(e), "shift_jis");
    EXPECT_NE(mimeOf(e).find("charset=\"shift_jis\""), std::string::npos);
}

TEST(ClsEmailZip, NoAttachmentsChangesNothing)
{
    ClsEmail e;
    e.SetPlainBody(xs("body"));
    const std::string before = mimeOf(e);
    EXPECT_TRUE(e.ZipAttachments(xs("all.zip")));
    EXPECT_EQ(mimeOf(e), before);
}

TEST(ClsEmailZip, BlankNameGivesAttachZip)
{
    ClsEmail e;
    e.SetPlainBody(xs("body"));
    ASSERT_TRUE(e.AddStringAttachment(xs(" a.txt "), xs("first")));
    ASSERT_TRUE(e.AddStringAttachment(xs("b.txt"), xs("second")));
    EXPECT_TRUE(e.ZipAttachments(xs("  ")));
    ASSERT_EQ(e.email().GetAttachmentCount(), 1);
    EXPECT_EQ(attachmentName(e, 0), "attach.zip");
    const std::string log = logText(e);
    EXPECT_NE(log.find("NumAttachments: 2"), std::string::npos) << log;
    EXPECT_NE(log.find("added_file: a.txt"), std::string::npos) << log;
    EXPECT_NE(log.find("added_file: b.txt"), std::string::npos) << log;
}

TEST(ClsEmailZip, EmptyAttachmentStaysBesideArchive)
{
    ClsEmail e;
    e.SetPlainBody(xs("body"));
    ASSERT_TRUE(e.AddStringAttachment(xs("empty.txt"), xs("")));
    ASSERT_TRUE(e.AddStringAttachment(xs("full.txt"), xs("data")));
    EXPECT_TRUE(e.ZipAttachments(xs("z.zip")));
    ASSERT_EQ(e.email().GetAttachmentCount(), 2);
    EXPECT_EQ(attachmentName(e, 0), "empty.txt");
    EXPECT_EQ(attachmentName(e, 1), "z.zip");
    const std::string log = logText(e);
    EXPECT_NE(log.find("Failed to add file to Zip archive"), std::string::npos) << log;
    EXPECT_NE(log.find("failed_filename: empty.txt"), std::string::npos) << log;
}

TEST(ClsEmailZip, NothingZippableRemovesNothing)
{
    ClsEmail e;
    ASSERT_TRUE(e.AddStringAttachment(xs("empty.txt"), xs("")));
    EXPECT_FALSE(e.ZipAttachments(xs("z.zip")));
    ASSERT_EQ(e.email().GetAttachmentCount(), 1);
    EXPECT_EQ(attachmentName(e, 0), "empty.txt");
}

TEST(ClsEmailSave, EmptyNameIsRefused)
{
    ClsEmail e;
    EXPECT_FALSE(e.SaveEml(xs(" \t ")));
    EXPECT_NE(logText(e).find("The filename parameter is missing"), std::string::npos);
}

TEST(ClsEmailSave, WritesTheMimeTextAndDropsXUnsent)
{
    const fs::path path = fs::temp_directory_path() / "clsemail_save_test.eml";
    ClsEmail e;
    e.SetPlainBody(xs("body"));
    e.AddHeaderField(xs("X-Unsent"), xs("1"));
    const std::string expected = mimeOf(e);
    ASSERT_TRUE(e.SaveEml(xs(path.string().c_str())));
    std::string saved;
    {
        std::ifstream in(path, std::ios::binary);  // closed before the removal: Windows refuses open files
        saved.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_EQ(saved, expected);
    EXPECT_NE(saved.find("X-Unsent: 1"), std::string::npos);
    EXPECT_EQ(mimeOf(e).find("X-Unsent"), std::string::npos);
    std::error_code ignored;
    fs::remove(path, ignored);

    EXPECT_FALSE(e.SaveEml(xs((fs::temp_directory_path() / "no-such-dir" / "x.eml").string().c_str())));
    EXPECT_NE(logText(e).find("Failed to write EML file."), std::string::npos);
}

TEST(ClsEmailAttach, MissingFileFails)
{
    ClsEmail e;
    XString type;
    EXPECT_FALSE(e.AddFileAttachment(xs("/no/such/file.bin"), type));
    EXPECT_NE(logText(e).find("Failed to add file attachment"), std::string::npos);
    EXPECT_EQ(e.email().GetAttachmentCount(), 0);
}

}  // namespace
