#include "mime/MimeHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "mime/MimeHeaderTestSupport.h"

using namespace hanamail;

namespace {

using namespace hdrtest;

std::string names(const MimeHeader& h)
{
    std::string r;
    for (int i = 0; i < h.GetFieldCount(); ++i) {
        StringBuffer n;
        h.GetFieldName(i, n);
        if (i) r += ',';
        r += str(n);
    }
    return r;
}

TEST(MimeHeaderLoad, UnfoldingAndLineEnds)
{
    MimeHeader h;
    h.LoadFromMimeText(
        "Subject: first\r\n second\r\nX-Tab: a\r\n\tb\r\nX-Two: a\r\n  b\r\nX-W: =?utf-8?Q?a?=\r\n "
        "=?utf-8?Q?b?=\r\n\r\nBody: no\r\n");
    // A fold at a space keeps the space (other mailers fold at the text's
    // spaces); a tab fold is this system's own and goes; between two encoded
    // words the fold's space means nothing.
    EXPECT_EQ(fieldValue(h, "Subject"), "first second");
    EXPECT_EQ(fieldValue(h, "X-Tab"), "ab");
    EXPECT_EQ(fieldValue(h, "X-Two"), "a  b");
    EXPECT_EQ(fieldValue(h, "X-W"), "ab");
    EXPECT_EQ(fieldValue(h, "Body"), "<absent>");
    // Bare LF and bare CR line ends read the same.
    h.LoadFromMimeText("A: 1\nB: 2\n x\n\nC: 3");
    EXPECT_EQ(names(h), "A,B");
    EXPECT_EQ(fieldValue(h, "B"), "2 x");
    h.LoadFromMimeText("A: 1\r\rB: 2");
    EXPECT_EQ(fieldValue(h, "A"), "1B: 2");  // a lone CR is no line end at all
    // A mailbox separator line, lines without a colon and empty lines are dropped.
    h.LoadFromMimeText("From someone@example.com Mon Jan 1 00:00:00 2024\r\nFrom: a@example.com\r\nnonsense\r\nX: y");
    EXPECT_EQ(names(h), "From,X");
    EXPECT_EQ(fieldValue(h, "From"), "a@example.com");
}

TEST(MimeHeaderLoad, DuplicatesAndContentType)
{
    MimeHeader h;
    h.LoadFromMimeText(
        "Received: one\r\nContent-Type: text/plain\r\nReceived: two\r\ncontent-type: text/html\r\nX: 1\r\n");
    EXPECT_EQ(names(h), "Received,Received,content-type,X");
    EXPECT_EQ(fieldValue(h, "Content-Type"), "text/html");
    EXPECT_EQ(str(h.GetFieldByIndex(1)->value()), "two");
    // Loading clears what was there.
    h.LoadFromMimeText("Y: 2");
    EXPECT_EQ(names(h), "Y");
    h.LoadFromMimeText(nullptr);
    EXPECT_EQ(h.GetFieldCount(), 0);
    EXPECT_EQ(h.headerCodePage(), 0);
}

TEST(MimeHeaderLoad, HeaderCharsetDetection)
{
    MimeHeader h;
    h.LoadFromMimeText("Subject: =?ISO-2022-JP?B?GyRCO347dj1qPVAbKEI=?=\r\nX: =?utf-8?q?a?=\r\n");
    EXPECT_EQ(h.headerCodePage(), 65001);  // the Q word decides first
    EXPECT_EQ(fieldValue(h, "Subject"), "時事所出");
    h.LoadFromMimeText("Subject: =?shift_jis?b?jlKTY5G+mFk=?=\r\n");
    EXPECT_EQ(h.headerCodePage(), 932);
    EXPECT_EQ(fieldValue(h, "Subject"), "山田太郎");
    // Raw 8-bit text: valid UTF-8 first.
    h.LoadFromMimeText("Subject: caf\xC3\xA9\r\n");
    EXPECT_EQ(h.headerCodePage(), 65001);
    EXPECT_EQ(fieldValue(h, "Subject"), "caf\xC3\xA9");
    h.LoadFromMimeText("Subject: caf\xE9\r\n");
    EXPECT_NE(h.headerCodePage(), 0);
    EXPECT_EQ(fieldValue(h, "Subject"), "caf\xC3\xA9");
    // Raw Shift_JIS beside a word that names its charset.
    h.LoadFromMimeText("Subject: =?shift_jis?B?jlKTY5G+mFk=?=\r\nX-Raw: \x8E\x52\x93\x63\r\n");
    EXPECT_EQ(fieldValue(h, "X-Raw"), "山田");
    // Raw UTF-8 beside a word of another charset stays UTF-8.
    h.LoadFromMimeText("Subject: =?iso-8859-1?Q?caf=E9?=\r\nX-Raw: 山田\r\n");
    EXPECT_EQ(fieldValue(h, "Subject"), "caf\xC3\xA9");
    EXPECT_EQ(fieldValue(h, "X-Raw"), "山田");
    h.LoadFromMimeText("Subject: plain\r\n");
    EXPECT_EQ(h.headerCodePage(), 0);
}

TEST(MimeHeaderFields, ReplaceRemoveAndLookups)
{
    MimeHeader h;
    h.ReplaceField("Subject", "one");
    h.ReplaceField("X-A", "a");
    h.ReplaceField("subject", "two");
    EXPECT_EQ(names(h), "X-A,subject");  // replacing moves the field to the end
    h.ReplaceField("X-A", "  \t ");
    EXPECT_EQ(names(h), "subject");  // a blank value only removes
    h.AddField(new MimeField("X-B", "1"));
    h.AddField(new MimeField("x-b", "2"));
    h.AddField(nullptr);
    EXPECT_TRUE(h.HasField("X-b"));
    StringBuffer out("kept");
    EXPECT_FALSE(h.GetFieldValue("X-C", out));
    EXPECT_EQ(str(out), "kept");
    out.clear();
    EXPECT_TRUE(h.GetFieldValue("X-B", out));
    EXPECT_EQ(str(out), "1");
    EXPECT_EQ(h.GetFieldByIndex(3), nullptr);
    EXPECT_EQ(h.GetFieldByIndex(-1), nullptr);
    EXPECT_FALSE(h.GetFieldName(9, out));
    EXPECT_EQ(h.EstimateSize(), 180);
    h.RemoveField("X-B");
    EXPECT_EQ(names(h), "subject");
    h.AddField(new MimeField("X-E", " "));
    h.AddField(new MimeField("X-F", "f"));
    h.AddField(new MimeField("X-G", ""));
    h.RemoveEmptyFields();
    EXPECT_EQ(names(h), "subject,X-F");
    h.Clear();
    EXPECT_EQ(h.GetFieldCount(), 0);
}

TEST(MimeHeaderFields, Parameters)
{
    MimeHeader h;
    h.ReplaceField("Content-Type", "text/html; Charset=\"utf-8\"; name=\"a;b\\\"c.txt\"; x = y ");
    StringBuffer v;
    EXPECT_TRUE(h.GetFieldParam("content-type", "charset", v));
    EXPECT_EQ(str(v), "utf-8");
    v.clear();
    EXPECT_TRUE(h.GetFieldParam("Content-Type", "name", v));
    EXPECT_EQ(str(v), "a;b\"c.txt");
    v.clear();
    EXPECT_TRUE(h.GetFieldParam("Content-Type", "x", v));
    EXPECT_EQ(str(v), "y");
    EXPECT_TRUE(v.setString("kept"));
    EXPECT_FALSE(h.GetFieldParam("Content-Type", "boundary", v));
    EXPECT_FALSE(h.GetFieldParam("X-None", "charset", v));
    EXPECT_EQ(str(v), "kept");
    v.clear();
    const char* quoted = " \"C:\\\\dir\\x\" ";
    MimeHeader::unquoteParamValue(quoted, static_cast<int32_t>(std::strlen(quoted)), v);
    EXPECT_EQ(str(v), "C:\\dir\\x");
}

TEST(MimeHeaderFields, CopyMergeReplace)
{
    MimeHeader a;
    a.ReplaceField("Subject", "a");
    a.ReplaceField("X-Keep", "a");
    MimeHeader b;
    b.ReplaceField("Subject", "b");
    b.ReplaceField("Content-Type", "text/plain");
    b.ReplaceField("Message-ID", "<1@x>");
    b.AddField(new MimeField("Received", "r"));
    b.AddField(new MimeField("X-New", "1"));
    b.AddField(new MimeField("X-New", "2"));
    b.ReplaceField("content-disposition", "inline");
    b.ReplaceField("Content-ID", "<c>");
    b.ReplaceField("Content-Transfer-Encoding", "7bit");

    MimeHeader merged;
    merged.CopyFieldsFrom(a);
    merged.MergeFieldsFrom(b);
    EXPECT_EQ(names(merged), "Subject,X-Keep,X-New,X-New");
    EXPECT_EQ(fieldValue(merged, "Subject"), "a");

    MimeHeader replaced;
    replaced.CopyFieldsFrom(a);
    replaced.ReplaceFieldsFrom(b);
    EXPECT_EQ(names(replaced),
              "X-Keep,Subject,Content-Type,Message-ID,Received,X-New,content-disposition,Content-ID,"
              "Content-Transfer-Encoding");
    EXPECT_EQ(fieldValue(replaced, "X-New"), "2");

    MimeHeader copy;
    copy.ReplaceField("Old", "x");
    copy.CopyFieldsFrom(b);
    EXPECT_EQ(names(copy), names(b));
    // Values are copied as stored, not decoded again.
    MimeHeader literal;
    auto* f = new MimeField();
    ASSERT_TRUE(f->ParseLine("Subject: =?utf-8?Q?=3D=3Futf-8=3FQ=3Fx=3F=3D?="));
    literal.AddField(f);
    EXPECT_EQ(fieldValue(literal, "Subject"), "=?utf-8?Q?x?=");
    MimeHeader again;
    again.ReplaceFieldsFrom(literal);
    EXPECT_EQ(fieldValue(again, "Subject"), "=?utf-8?Q?x?=");
}

TEST(MimeHeaderWrite, OrderExclusionAndEnd)
{
    MimeHeader h;
    h.ReplaceField("From", "a@example.com");
    h.ReplaceField("TBX-ReturnReceipt", "1");
    h.ReplaceField("Subject", "hi");
    h.ReplaceField("tbx-FileDistList", "x");
    EXPECT_EQ(writeHeader(h, "us-ascii"),
              "From: a@example.com\r\nTBX-ReturnReceipt: 1\r\nSubject: hi\r\ntbx-FileDistList: x");
    EXPECT_EQ(writeHeader(h, "us-ascii", "TBX-"), "From: a@example.com\r\nSubject: hi");
    EXPECT_EQ(writeHeader(h, "us-ascii", ""), writeHeader(h, "us-ascii"));
    StringBuffer out;
    h.WriteUnfolded(out, "tbx-", charsetNamed("utf-8"));
    EXPECT_EQ(str(out), "From: a@example.com\r\nSubject: hi");
    // An empty header takes back the line end before it: the caller's "\r\n\r\n" follows.
    MimeHeader empty;
    StringBuffer part("--b\r\n");
    empty.WriteMime(part, nullptr, charsetNamed("utf-8"));
    EXPECT_EQ(str(part), "--b");
}

TEST(MimeHeaderWrite, CharsetOfTheHeaderWhenNoneIsGiven)
{
    MimeHeader h;
    h.LoadFromMimeText("Subject: =?shift_jis?B?jlKTY5G+mFk=?=\r\n");
    EXPECT_EQ(writeHeader(h, ""), "Subject: =?shift_jis?B?jlKTY5G+mFk=?=");
    EXPECT_EQ(writeHeader(h, "utf-8"), "Subject: =?utf-8?B?5bGx55Sw5aSq6YOO?=");
    StringBuffer out;
    h.WriteUnfolded(out, nullptr, Charset());
    EXPECT_EQ(str(out), "Subject: =?shift_jis?B?jlKTY5G+mFk=?=");
}

TEST(MimeHeaderWrite, UnfoldedHasNoFolds)
{
    MimeHeader h;
    h.ReplaceField("Content-Type", "multipart/mixed;\r\n\tboundary=\"----=_NextPart_000_0000_01D00000.00000000_.MIX\"");
    h.ReplaceField("Subject", "日本語の長い件名をいくつかの単語に分けて書きます");
    StringBuffer out;
    h.WriteUnfolded(out, nullptr, charsetNamed("iso-2022-jp"));
    const std::string u = str(out);
    EXPECT_EQ(u.find("\r\n\t"), std::string::npos);
    EXPECT_EQ(u.substr(0, u.find("\r\n")),
              "Content-Type: multipart/mixed;boundary=\"----=_NextPart_000_0000_01D00000.00000000_.MIX\"");
    MimeHeader back;
    back.LoadFromMimeText(u.c_str());
    EXPECT_EQ(fieldValue(back, "Subject"), "日本語の長い件名をいくつかの単語に分けて書きます");
}

}  // namespace
