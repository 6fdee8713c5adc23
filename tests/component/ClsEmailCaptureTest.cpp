#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "component/ClsEmail.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "support/PythonJudge.h"
#include "web/CaptureSupport.h"

using namespace hanamail;

namespace {

XString xs(const std::string& utf8)
{
    XString s;
    s.setFromUtf8(utf8.c_str());
    return s;
}

std::string mimeOf(ClsEmail& e)
{
    StringBuffer sb;
    EXPECT_TRUE(e.GetMimeSb(sb));
    return sb.getString();
}

void addressed(ClsEmail& e)
{
    ASSERT_TRUE(e.AddHeaderField(xs("From"), xs("Taro <taro@example.com>")));
    ASSERT_TRUE(e.AddHeaderField(xs("Subject"), xs("\xe4\xbc\x9a\xe8\xad\xb0")));
    ASSERT_TRUE(e.AddHeaderField(xs("X-Project"), xs("capture")));
    ASSERT_TRUE(e.AddHeaderField(xs("Date"), xs("Tue, 08 Dec 2026 09:30:00 +0900")));
    ASSERT_TRUE(e.AddTo(xs("Hanako"), xs("hanako@example.com")));
    ASSERT_TRUE(e.AddCC(xs(""), xs("cc@example.com")));
    ASSERT_TRUE(e.AddBcc(xs(""), xs("bcc@example.com")));
}

}  // namespace

TEST(ClsEmailCapture, CapturedPageKeepsSenderRecipientsAndFields)
{
    capturetest::PageFolder f;
    f.write("a.gif", capturetest::kGif);
    const std::string page = f.write("p.htm", "<html><title>t</title><body><img src=\"a.gif\">hi</body></html>");
    ClsEmail e;
    addressed(e);
    e.SetPlainBody(xs("old body"));
    ASSERT_TRUE(e.LoadHtmlComplete(xs(page)));
    EXPECT_TRUE(e.HasHtmlBody());
    const std::string mime = mimeOf(e);
    EXPECT_NE(mime.find("multipart/related"), std::string::npos) << mime;
    EXPECT_NE(mime.find("hanako@example.com"), std::string::npos);
    EXPECT_NE(mime.find("cc@example.com"), std::string::npos);
    EXPECT_NE(mime.find("taro@example.com"), std::string::npos);
    EXPECT_NE(mime.find("X-Project: capture"), std::string::npos);
    EXPECT_NE(mime.find("Subject:"), std::string::npos);
    EXPECT_EQ(mime.find("old body"), std::string::npos);
    EXPECT_EQ(mime.find("Bcc:"), std::string::npos);
}

TEST(ClsEmailCapture, FailedCaptureLeavesTheEmailByteForByte)
{
    capturetest::PageFolder f;
    ClsEmail e;
    addressed(e);
    e.SetPlainBody(xs("kept body"));
    const std::string before = mimeOf(e);
    EXPECT_FALSE(e.LoadHtmlComplete(xs("")));
    EXPECT_FALSE(e.LoadHtmlComplete(xs((f.dir / "missing.htm").string())));
    // Nothing listens on port 1.
    e.SetCaptureTimeouts(2, 2);
    EXPECT_FALSE(e.LoadHtmlComplete(xs("http://127.0.0.1:1/page.htm")));
    EXPECT_EQ(mimeOf(e), before);
}

#ifndef _WIN32
// Python's email package reads the capture as the page first, then the parts
// its cid: references name, bytes unchanged.
TEST(ClsEmailCapture, PythonReadsTheCapture)
{
    if (!pyjudge::pythonRuns("import email")) FAIL() << "python3 is the judge here and is missing";
    capturetest::PageFolder f;
    std::string png = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 600; ++i) png += static_cast<char>((i * 37 + 11) & 0xFF);
    f.write("img/p.png", png);
    f.write("s.css", "body { background: url(img/p.png) }");
    const std::string page =
        f.write("p.htm",
                "<html><head><title>\xe6\x97\xa5\xe6\x9c\xac</title><link rel=stylesheet href=\"s.css\"></head>"
                "<body><img src=\"img/p.png\"><p>\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e</p></body></html>");
    ClsEmail e;
    addressed(e);
    ASSERT_TRUE(e.LoadHtmlComplete(xs(page)));
    ASSERT_TRUE(e.SaveEml(xs((f.dir / "out.eml").string())));
    const char* judge = R"PY(
import email, email.policy, os, re, sys
d = sys.argv[1]
m = email.message_from_bytes(open(os.path.join(d, "out.eml"), "rb").read(), policy=email.policy.default)
rel = m if m.get_content_type() == "multipart/related" else next(p for p in m.walk() if p.get_content_type() == "multipart/related")
parts = list(rel.iter_parts())
assert parts[0].get_content_type() == "text/html", parts[0].get_content_type()
html = parts[0].get_content()
assert "\u65e5\u672c\u8a9e" in html, html
cids = {p["Content-ID"].strip("<>"): p for p in parts[1:] if p["Content-ID"]}
refs = re.findall(r"cid:([^\"')&]+)", html)
assert refs, html
for r in refs:
    assert r in cids, (r, list(cids))
png = open(os.path.join(d, "img", "p.png"), "rb").read()
assert any(p.get_payload(decode=True) == png for p in cids.values())
assert "hanako@example.com" in m["To"]
)PY";
    const int rc = pyjudge::runScripts(f.dir, {{"judge.py", judge}}, f.dir / "verdict.log");
    EXPECT_EQ(rc, 0) << pyjudge::readFile(f.dir / "verdict.log");
}
#endif
