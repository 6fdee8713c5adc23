// Loading the API email object from MIME text: the message is replaced
// whole, recipients and bodies come from the text, and the text is read by
// its length.
#include <gtest/gtest.h>

#include <string>

#include "EmailTestSupport.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "hanamail/Email.h"
#include "mime/Email2.h"

using namespace hanamail;

namespace {

using emailtest::logText;
using emailtest::xs;

const char kMessage[] =
    "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\r\n"
    "To: a@example.com, \"B, Bee\" <b@example.com>\r\n"
    "Bcc: hidden@example.com\r\n"
    "Subject: minutes\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"XX\"\r\n"
    "\r\n"
    "--XX\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "caf=E9\r\n"
    "--XX\r\n"
    "Content-Type: application/octet-stream\r\n"
    "Content-Disposition: attachment; filename=\"a.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "AAEC\r\n"
    "--XX--\r\n";

std::string mimeOf(ClsEmail& e)
{
    XString m;
    EXPECT_TRUE(e.GetMime(m));
    return m.getUtf8();
}

TEST(ClsEmailMime, ImportReplacesTheWholeMessage)
{
    ClsEmail e;
    e.AddTo(xs(""), xs("old@example.com"));
    e.AddHeaderField(xs("X-Old"), xs("yes"));
    e.SetPlainBody(xs("old body"));
    ASSERT_TRUE(e.SetFromMimeText(StringBuffer(kMessage)));
    EXPECT_EQ(logText(e).find("Failed"), std::string::npos);

    const Email2& m = e.email();
    ASSERT_EQ(m.GetRecipientCount(Email2::Recipients::To), 2);
    StringBuffer name;
    ASSERT_TRUE(m.GetRecipientName(Email2::Recipients::To, 1, name));
    EXPECT_STREQ(name.getString(), "B, Bee");
    // The Bcc field fills the list and is not written again.
    ASSERT_EQ(m.GetRecipientCount(Email2::Recipients::Bcc), 1);
    const std::string mime = mimeOf(e);
    EXPECT_EQ(mime.find("Bcc"), std::string::npos);
    EXPECT_EQ(mime.find("old"), std::string::npos);
    EXPECT_EQ(mime.find("X-Old"), std::string::npos);

    // The text part is UTF-8 inside; the attachment keeps its bytes.
    const Email2* plain = m.FindPlainTextBody(false);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(plain->body().getData()), plain->body().getSize()),
              "caf\xc3\xa9");
    ASSERT_EQ(m.GetAttachmentCount(), 1);
    EXPECT_EQ(m.GetAttachment(0)->body().getSize(), 3u);
}

TEST(ClsEmailMime, TextIsReadByItsLength)
{
    // A NUL byte in the body does not end the text: the part after it still counts.
    std::string text = "Subject: nul\r\nContent-Type: text/plain\r\n\r\nbefore";
    text += '\0';
    text += "after\r\n";
    StringBuffer sb;
    ASSERT_TRUE(sb.appendN(text.data(), static_cast<int32_t>(text.size())));
    ClsEmail e;
    ASSERT_TRUE(e.SetFromMimeText(sb));
    const Email2* plain = e.email().FindPlainTextBody(false);
    ASSERT_NE(plain, nullptr);
    const std::string body(reinterpret_cast<const char*>(plain->body().getData()), plain->body().getSize());
    EXPECT_EQ(body, text.substr(text.find("before")));
}

TEST(ClsEmailMime, AnyTextGivesAnEmailAndRoundTrips)
{
    ClsEmail e;
    // Not MIME at all: the reader makes what it can of it and refuses nothing.
    EXPECT_TRUE(e.SetFromMimeText(StringBuffer("")));
    EXPECT_TRUE(e.SetFromMimeText(StringBuffer("no header, no body")));

    ClsEmail a;
    ASSERT_TRUE(a.SetFromMimeText(StringBuffer(kMessage)));
    ClsEmail b;
    const std::string first = mimeOf(a);
    ASSERT_TRUE(b.SetFromMimeText(StringBuffer(first.c_str())));
    EXPECT_EQ(mimeOf(b), first);
}

}  // namespace
