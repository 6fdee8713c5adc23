#include "mime/MimeField.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "charset/ContentCoding.h"
#include "foundation/DataBuffer.h"
#include "mime/MimeHeaderTestSupport.h"

using namespace hanamail;

namespace {

using namespace hdrtest;

std::string parsedName(const char* line)
{
    MimeField f;
    return f.ParseLine(line) ? str(f.name()) : "<rejected>";
}
std::string parsedValue(const char* line)
{
    MimeField f;
    return f.ParseLine(line) ? str(f.value()) : "<rejected>";
}

// What a reader gets from the words of a rendered field (folds removed first).
std::string decodedValue(const std::string& rendered)
{
    std::string v = rendered.substr(rendered.find(": ") + 2);
    StringBuffer sb(v.c_str());
    sb.replaceAll("\r\n\t", "");
    ContentCoding().decodeEncodedWords(sb);
    return str(sb);
}

size_t longestLine(const std::string& s)
{
    size_t longest = 0;
    size_t start = 0;
    for (;;) {
        const size_t eol = s.find("\r\n", start);
        const size_t end = eol == std::string::npos ? s.size() : eol;
        longest = std::max(longest, end - start);
        if (eol == std::string::npos) return longest;
        start = eol + 2;
    }
}

TEST(MimeFieldParse, NameAndValueAreTrimmedAndCleaned)
{
    EXPECT_EQ(parsedName(" Subject :  hello  "), "Subject");
    EXPECT_EQ(parsedValue(" Subject :  hello  "), "hello");
    EXPECT_EQ(parsedValue("X-Empty:"), "");
    EXPECT_EQ(parsedValue("X-Colon: a: b"), "a: b");
    EXPECT_EQ(parsedName("X Odd<\"'>: v"), "X-Odd----");
    EXPECT_EQ(parsedName("no colon here"), "<rejected>");
    MimeField f;
    f.SetNameValue("x", "y");
    EXPECT_FALSE(f.ParseLine("still none"));
    EXPECT_TRUE(f.name().isEmpty());
    EXPECT_TRUE(f.value().isEmpty());
}

TEST(MimeFieldParse, EncodedWordsAreDecodedInEitherCase)
{
    EXPECT_EQ(parsedValue("Subject: =?iso-8859-1?Q?caf=E9?="), "caf\xC3\xA9");
    EXPECT_EQ(parsedValue("Subject: =?utf-8?b?5bGx55Sw?="), "山田");
    EXPECT_EQ(parsedValue("Subject: =?utf-8?q?a_b?="), "a b");
    EXPECT_EQ(parsedValue("Subject: =?iso-2022-jp?B?GyRCO347dj1qPVAbKEI=?="), "時事所出");
    // Split words joined by the writer's fold read back as one text.
    EXPECT_EQ(parsedValue("Subject: =?utf-8?B?5bGx?=\r\n\t=?utf-8?B?55Sw?="), "山田");
}

TEST(MimeFieldParse, DecodedTextCannotBreakStructure)
{
    // In address fields the decoded commas and quotes are escaped for the address parser.
    EXPECT_EQ(parsedValue("To: =?utf-8?Q?a=2C_evil=40x=2C_b?= <bob@x.example>"), "a\\, evil@x\\, b <bob@x.example>");
    // In quoted parameter values decoded quotes and backslashes are escaped.
    EXPECT_EQ(parsedValue("Content-Disposition: attachment; filename=\"=?utf-8?Q?a=22b=5Cc?=\""),
              "attachment; filename=\"a\\\"b\\\\c\"");
    EXPECT_EQ(parsedValue("Content-Type: text/plain; name==?utf-8?Q?a=22b?="), "text/plain; name=a\"b");
    // Elsewhere the text is stored as decoded; CR LF stays in the value and is
    // taken care of when the field is written.
    EXPECT_EQ(parsedValue("Comments: =?utf-8?Q?a=0D=0AB?="), "a\r\nB");
}

TEST(MimeFieldParse, SetNameValueDropsFoldsAndCleansTheName)
{
    MimeField f("Content-Type", "multipart/alternative;\r\n\tboundary=\"b1\"");
    EXPECT_EQ(str(f.value()), "multipart/alternative;boundary=\"b1\"");
    MimeField g("X-A", "one\r\n two");
    EXPECT_EQ(str(g.value()), "onetwo");
    MimeField h("X-Evil\r\nBcc:", "v");
    EXPECT_EQ(str(h.name()), "X-Evil--Bcc-");
    std::unique_ptr<MimeField> c(f.Clone());
    EXPECT_EQ(str(c->name()), "Content-Type");
    EXPECT_EQ(str(c->value()), str(f.value()));
    EXPECT_TRUE(c->NameEquals("CONTENT-type"));
    EXPECT_FALSE(c->NameEquals("Content-Typ"));
    EXPECT_FALSE(c->NameEquals(nullptr));
}

// ---- the write path ----

TEST(MimeFieldWrite, ContentTypeLayouts)
{
    const std::string boundary = "----=_NextPart_000_0000_01D00000.00000000_.ALT";
    const std::string built = "multipart/alternative;\r\n\tboundary=\"" + boundary + "\"";
    const std::string want = "Content-Type: multipart/alternative;\r\n\tboundary=\"" + boundary + "\"";
    EXPECT_EQ(renderField("Content-Type", built, "us-ascii"), want);
    EXPECT_EQ(renderField("Content-Type", built, "utf-8"), want);
    // Column 25 is past 20: the fold comes after the semicolon, the space stays.
    EXPECT_EQ(renderField("Content-Type", "text/plain; charset=\"iso-8859-1\"", "iso-8859-1"),
              "Content-Type: text/plain;\r\n\t charset=\"iso-8859-1\"");
    EXPECT_EQ(renderField("Content-Type", "text/plain; charset=\"shift_jis\"", "shift_jis"),
              "Content-Type: text/plain; charset=\"shift_jis\"");
    // Every parameter value comes out quoted.
    EXPECT_EQ(renderField("Content-Type", "text/plain; charset=utf-8;format=flowed", "utf-8"),
              "Content-Type: text/plain; charset=\"utf-8\";format=\"flowed\"");
    EXPECT_EQ(
        renderField("Content-Type", "multipart/related; type=\"text/html\";boundary=\"" + boundary + "\"", "utf-8"),
        "Content-Type: multipart/related; type=\"text/html\";\r\n\tboundary=\"" + boundary + "\"");
    // A one-letter main part is kept.
    EXPECT_EQ(renderField("Content-Type", "x;a=b", "utf-8"), "Content-Type: x;a=\"b\"");
}

TEST(MimeFieldWrite, ParameterValuesReadBackAsTheyWereRead)
{
    // Whatever stands around a quoted value, the written field holds the
    // value the reader took from the received one: a boundary or charset
    // that read otherwise would lose the email's parts or text.
    auto param = [](const std::string& line) {
        MimeField f;
        EXPECT_TRUE(f.ParseLine(line.c_str()));
        MimeHeader h;
        h.AddField(f.Clone());
        StringBuffer v;
        return h.GetFieldParam("Content-Type", "boundary", v) ? str(v) : "<absent>";
    };
    // The parameter list after the type, and the boundary the reader takes from it.
    const std::pair<const char*, const char*> lists[] = {
        {"boundary=\"b\"\x0c", "b"},
        {"boundary=\"b\" x", "b"},
        {"boundary=abc\"", "abc\""},
        {"boundary=\"a\"b\"", "a\"b"},
        {"boundary=\"x\\\"y\"", "x\"y"},
        {"boundary=\"open", "open"},
        {"boundary=\"a;\xE6\x99\x82\"", "a;\xE6\x99\x82"},
        // A quote in a name opens a quoted string that the value closes.
        {"protoco\"=x\xE4y\"; boundary=s", "s"},
        {"protoco\"=xy\"; boundary=s", "s"},
        {"bou\"; boundary=s; x=\"y\"", "<absent>"},
    };
    for (const auto& [raw, want] : lists) {
        const std::string received = std::string("Content-Type: multipart/mixed; ") + raw;
        EXPECT_EQ(param(received), want) << raw;
        for (const char* cs : {"us-ascii", "utf-8", "iso-2022-jp"}) {
            MimeField f;
            ASSERT_TRUE(f.ParseLine(received.c_str()));
            StringBuffer out;
            f.WriteMime(out, charsetNamed(cs));
            EXPECT_EQ(param(str(out)), want) << raw << " in " << cs << ": " << str(out);
        }
    }
}

TEST(MimeFieldWrite, JapaneseDisplayNameKeepsTheAddressReadable)
{
    EXPECT_EQ(renderField("To", "\"山田太郎\" <taro@example.jp>", "shift_jis"),
              "To: =?shift_jis?B?jlKTY5G+mFk=?= <taro@example.jp>");
    EXPECT_EQ(renderField("To", "\"時事所出\" <a@example.jp>", "iso-2022-jp"),
              "To: =?iso-2022-jp?B?GyRCO347dj1qPVAbKEI=?= <a@example.jp>");
    // A long name is several words; past 40 bytes the address goes on a line of its own.
    const std::string r = renderField("To", "\"山田太郎山田太郎山田太郎山田太郎\" <taro@example.jp>", "shift_jis");
    EXPECT_NE(r.find("?=\r\n\t <taro@example.jp>"), std::string::npos) << r;
    // A first recipient without a name is not swallowed by the words of the next one.
    EXPECT_EQ(renderField("To", "a@example.com, \"山田\" <b@example.com>", "utf-8"),
              "To: a@example.com, =?utf-8?B?5bGx55Sw?= <b@example.com>");
}

TEST(MimeFieldWrite, PlainTextFolding)
{
    const std::string longText(300, 'x');
    EXPECT_EQ(renderField("Subject", longText, "iso-8859-1"), "Subject: " + longText);
    EXPECT_EQ(renderField("Subject", longText, "shift_jis"), "Subject: " + longText);
    // Wide charset: plain text is folded only when it would pass 65 bytes.
    EXPECT_EQ(renderField("Subject", "short; text, here", "utf-8"), "Subject: short; text, here");
    EXPECT_EQ(renderField("Subject", "a fairly long subject line; with a semicolon that is past the end", "utf-8"),
              "Subject: a fairly long subject line;\r\n\t with a semicolon that is past the end");
    // Non-wide: after ";" past column 20, and after "," in a long address list.
    EXPECT_EQ(renderField("Subject", "Re: x; y", "us-ascii"), "Subject: Re: x; y");
    EXPECT_EQ(renderField("To", "alice@example.com, bob@example.com, carol@example.com, dave@example.com", "us-ascii"),
              "To: alice@example.com,\r\n\t bob@example.com, carol@example.com,\r\n\t dave@example.com");
    // Quoted text is never folded.
    EXPECT_EQ(renderField("X-Q", "\"aaaaaaaaaaaaaaaaaaaaaa; b\" c", "us-ascii"),
              "X-Q: \"aaaaaaaaaaaaaaaaaaaaaa; b\" c");
    // No fold after a final semicolon.
    EXPECT_EQ(renderField("X-S", "aaaaaaaaaaaaaaaaaaaaaaaa;", "us-ascii"), "X-S: aaaaaaaaaaaaaaaaaaaaaaaa;");
}

TEST(MimeFieldWrite, UnstructuredFieldsAreWordsOverTheWholeValue)
{
    for (const char* cs : {"iso-8859-1", "utf-8", "shift_jis"}) {
        for (const std::string v : {"Rabatt; Code=SOMMER für alle", "A; ü", "x=\"ü\"; y"}) {
            const std::string r = renderField("Subject", v, cs);
            EXPECT_EQ(decodedValue(r), v) << cs << ": " << r;
            EXPECT_EQ(r.find('"'), std::string::npos) << r;
        }
    }
    EXPECT_EQ(renderField("Subject", "Rabatt; Code=SOMMER f\xC3\xBCr alle", "iso-8859-1"),
              "Subject: =?iso-8859-1?Q?Rabatt=3B_Code=3DSOMMER_f=FCr_alle?=");
}

TEST(MimeFieldWrite, ShiftedJapaneseNeverMeetsTheScanners)
{
    // 時 is 3B 7E and 所 3D 6A in JIS: ';' and '=' bytes inside the shifted run.
    for (const std::string v : {"時事所出", "a;時=所\"出\"", "時事, 所出 <x@example.jp>"}) {
        for (const char* field : {"Subject", "To"}) {
            const std::string r = renderField(field, v, "iso-2022-jp");
            EXPECT_EQ(r.find('\x1b'), std::string::npos) << r;
            EXPECT_EQ(decodedValue(r), v) << r;
        }
        const std::string cd = renderField("Content-Disposition", "attachment; filename=\"" + v + "\"", "iso-2022-jp");
        EXPECT_EQ(cd.find('\x1b'), std::string::npos) << cd;
        MimeField back;
        ASSERT_TRUE(back.ParseLine(cd.c_str()));
        StringBuffer name;
        MimeHeader h;
        h.AddField(back.Clone());
        ASSERT_TRUE(h.GetFieldParam("Content-Disposition", "filename", name));
        EXPECT_EQ(str(name), v);
    }
    // A control byte in the text itself is never written raw.
    EXPECT_EQ(renderField("Subject",
                          "a\x1b"
                          "b",
                          "utf-8"),
              "Subject: =?utf-8?B?YRti?=");
    EXPECT_EQ(renderField("Subject",
                          "a\x01"
                          "b",
                          "us-ascii"),
              "Subject: =?us-ascii?Q?a=01b?=");
}

TEST(MimeFieldWrite, QWordsAreSafeInPhrasesAndQuotes)
{
    EXPECT_EQ(renderField("To", "\"M\xC3\xBCller, \\\"Hans\\\"\" <h@x.example>", "iso-8859-1"),
              "To: =?iso-8859-1?Q?M=FCller=2C_=22Hans=22?= <h@x.example>");
    EXPECT_EQ(renderField("Content-Disposition", "attachment; filename=\"a\\\"\xC3\xBC.txt\"", "iso-8859-1"),
              "Content-Disposition: attachment;\r\n\t filename=\"=?iso-8859-1?Q?a=22=FC=2Etxt?=\"");
}

TEST(MimeFieldWrite, ParameterValuesAreEscaped)
{
    EXPECT_EQ(renderField("Content-Disposition", "attachment; filename=\"a\\\"b.txt\"", "us-ascii"),
              "Content-Disposition: attachment;\r\n\t filename=\"a\\\"b.txt\"");
    EXPECT_EQ(renderField("Content-Disposition", "attachment; filename=\"a\\\"b.txt\"", "utf-8"),
              "Content-Disposition: attachment; filename=\"a\\\"b.txt\"");
    // An escaped backslash before the closing quote does not escape the quote.
    EXPECT_EQ(renderField("Content-Disposition", "attachment; filename=\"dir\\\\\"", "utf-8"),
              "Content-Disposition: attachment; filename=\"dir\\\\\"");
    // Unquoted values had no escapes: their quotes and backslashes get them now.
    EXPECT_EQ(renderField("Content-Type", "text/plain; name=a\"b\\c", "utf-8"),
              "Content-Type: text/plain; name=\"a\\\"b\\\\c\"");
    // A ";" inside quotes belongs to the value.
    EXPECT_EQ(renderField("Content-Type", "text/plain; name=\"a;b\"; x=1", "utf-8"),
              "Content-Type: text/plain; name=\"a;b\"; x=\"1\"");
}

TEST(MimeFieldWrite, InjectionChokePoint)
{
    MimeField f("Subject", "hi\r\nBcc: x@evil.example");
    StringBuffer out;
    f.WriteMime(out, charsetNamed("us-ascii"));
    EXPECT_EQ(str(out), "Subject: hi  Bcc: x@evil.example");
    EXPECT_EQ(str(f.value()), "hi\r\nBcc: x@evil.example");  // stored as set
    out.clear();
    f.WriteUnfolded(out, charsetNamed("utf-8"));
    EXPECT_EQ(str(out), "Subject: hi  Bcc: x@evil.example");

    EXPECT_EQ(renderField("X-A\rB\nC:D\x01", "v", "utf-8"), "X-A-B-C-D-: v");
    EXPECT_EQ(renderField("Subject", "caf\xC3\xA9\r\nBcc: x", "iso-8859-1"),
              "Subject: =?iso-8859-1?Q?caf=E9__Bcc=3A_x?=");
    MimeField decoded;
    ASSERT_TRUE(decoded.ParseLine("Subject: =?utf-8?Q?hi=0D=0ABcc:_x@evil.example?="));
    out.clear();
    decoded.WriteMime(out, charsetNamed("utf-8"));
    EXPECT_EQ(str(out), "Subject: hi  Bcc: x@evil.example");
}

TEST(MimeFieldWrite, CharsetFallbacks)
{
    // What the email's charset cannot hold is written as UTF-8 words, never raw.
    EXPECT_EQ(renderField("Subject", "Preis 20 €", "iso-8859-1"), "Subject: =?utf-8?B?UHJlaXMgMjAg4oKs?=");
    EXPECT_EQ(renderField("Subject", "Preis 20 €", "us-ascii"), "Subject: =?utf-8?B?UHJlaXMgMjAg4oKs?=");
    EXPECT_EQ(renderField("Subject", "Preis 20 €", ""), "Subject: =?utf-8?B?UHJlaXMgMjAg4oKs?=");
    EXPECT_EQ(renderField("Subject", "a longer plain text; here", ""), "Subject: a longer plain text;\r\n\t here");
    // UTF-16 bytes would put NULs in the header.
    EXPECT_EQ(renderField("Subject", "山田", "utf-16"), "Subject: =?utf-8?B?5bGx55Sw?=");
    EXPECT_EQ(renderField("Subject", "abc", "utf-16"), "Subject: abc");
}

TEST(MimeFieldWrite, FieldsWrittenUnchanged)
{
    const std::string received = "from a.example by b.example with SMTP; Mon, 1 Jan 2024 00:00:00 +0000";
    EXPECT_EQ(renderField("Received", received, "utf-8"), "Received: " + received);
    EXPECT_EQ(renderField("Received", received, "us-ascii"),
              "Received: from a.example by b.example with SMTP;\r\n\t Mon, 1 Jan 2024 00:00:00 +0000");
    EXPECT_EQ(renderField("Content-Transfer-Encoding", "base64", "utf-8"), "Content-Transfer-Encoding: base64");
    // Bytes no header line may carry: a URI's own escapes, UTF-8 words elsewhere.
    EXPECT_EQ(renderField("Content-Location", "http://example.jp/画像.png", "shift_jis"),
              "Content-Location: http://example.jp/%E7%94%BB%E5%83%8F.png");
    const std::string r = renderField("Received", "from ü.example", "us-ascii");
    EXPECT_EQ(r.rfind("Received: =?utf-8?", 0), 0u) << r;
    MimeField back;
    ASSERT_TRUE(back.ParseLine(r.c_str()));
    EXPECT_EQ(str(back.value()), "from ü.example");
}

TEST(MimeFieldWrite, LinesStayWithin998Bytes)
{
    std::string words;
    for (int i = 0; i < 400; ++i) words += "word" + std::to_string(i) + " ";
    {
        const std::string r = renderField("Subject", words, "us-ascii");
        EXPECT_LE(longestLine(r), 998u);
        StringBuffer unfolded(r.c_str());
        unfolded.replaceAll("\r\n\t", "");
        EXPECT_EQ(str(unfolded), "Subject: " + words);
    }
    // A word longer than a line becomes encoded words, which readers join
    // without the white space a fold inside it would show; a run of such
    // words keeps the spaces between them inside the words.
    const std::string longWord(2500, 'x');
    for (const std::string& v : {longWord, "a " + longWord + " " + longWord + " b", longWord + " tail"}) {
        for (const char* cs : {"us-ascii", "utf-8", "iso-2022-jp"}) {
            const std::string r = renderField("Subject", v, cs);
            EXPECT_LE(longestLine(r), 998u);
            EXPECT_EQ(r.find("xxx\r\n"), std::string::npos) << cs;
            MimeField back;
            ASSERT_TRUE(back.ParseLine(r.c_str()));
            EXPECT_EQ(str(back.value()), v) << cs;
        }
    }
    EXPECT_EQ(renderField("Subject", "a " + longWord + " b", "us-ascii").rfind("Subject: a =?us-ascii?Q?x", 0), 0u);
    // Folded before the last space that fits; a line of exactly 998 bytes is left alone.
    const std::string r = renderField("Subject", words, "us-ascii");
    EXPECT_EQ(r.substr(r.find("\r\n"), 4), "\r\n\t ");
    EXPECT_GT(r.find("\r\n"), 990u);
    EXPECT_EQ(renderField("Subject", std::string(998 - 9, 'y'), "us-ascii").find("\r\n"), std::string::npos);
}

}  // namespace
