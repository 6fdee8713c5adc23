#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "foundation/FileSys.h"
#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "web/CaptureSupport.h"
#include "web/Mhtml.h"

using namespace hanamail;
using capturetest::Captured;
using capturetest::kGif;
using capturetest::logOf;
using capturetest::PageFolder;

namespace {

std::string cwd()
{
    StringBuffer d;
    (void)FileSys::getCurrentDirectory(d);
    return d.getString();
}

struct FileRun {
    Logger log;
    StringBuffer mime;
    bool ok = false;
    Captured file(const std::string& name)
    {
        Mhtml m;
        ok = m.captureFile(name.c_str(), "", mime, log);
        return Captured(mime);
    }
};

}  // namespace

TEST(MhtmlFile, RelativeResourcesComeFromThePageDirectoryAndTheDirectoryIsRestored)
{
    PageFolder f;
    f.write("img/a.gif", kGif);
    f.write("my pic.gif", kGif + "2");
    f.write("\xe7\x94\xbb\xe5\x83\x8f.gif", kGif + "3");
    f.write("css/s.css", "b { background: url(../img/a.gif) } i { background: url(dot.gif) }");
    f.write("css/dot.gif", kGif + "4");
    const std::string page =
        f.write("page.htm",
                "<IMG SRC=\"img/a.gif\"><img src=\"my%20pic.gif\"><img src=\"\xe7\x94\xbb\xe5\x83\x8f.gif\">"
                "<link rel=\"stylesheet\" href=\"css/s.css\"><img src=\"none.gif\"><a href=\"x.htm\">x</a>");
    const std::string before = cwd();
    FileRun r;
    Captured c = r.file(page);
    ASSERT_TRUE(r.ok) << logOf(r.log);
    EXPECT_EQ(cwd(), before);
    const std::string html = c.html();
    EXPECT_EQ(c.parts(), 5) << html;
    EXPECT_TRUE(c.cidsResolve(html)) << html;
    // What could not be read points where it did; links stay as written.
    EXPECT_NE(html.find("src=\"none.gif\""), std::string::npos) << html;
    EXPECT_NE(html.find("href=\"x.htm\""), std::string::npos);
    EXPECT_EQ(c.field(0, "Content-Location"), "");
    const int img =
        c.byCid(html.substr(html.find("cid:") + 4, html.find('"', html.find("cid:")) - html.find("cid:") - 4));
    ASSERT_GE(img, 1);
    EXPECT_EQ(c.body(img), kGif);
}

TEST(MhtmlFile, FileUrlsNameAbsolutePathsAndFailuresRestoreTheDirectory)
{
    PageFolder f;
    f.write("a.gif", kGif);
    const std::string page = f.write("p.htm", "<img src=\"a.gif\">");
    const std::string before = cwd();
    {
        FileRun r;
        Captured c = r.file("file://" + page);
        ASSERT_TRUE(r.ok) << logOf(r.log);
        EXPECT_EQ(c.parts(), 2);
    }
    {
        FileRun r;
        Captured c = r.file((f.dir / "missing.htm").string());
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.mime.isEmpty());
    }
    EXPECT_EQ(cwd(), before);
}

TEST(MhtmlFile, IncludesExpandNestedOnceAndNeverLoop)
{
    PageFolder f;
    f.write("a.inc", "[A <!--#include file=\"b.inc\" -->]");
    f.write("b.inc", "[B <!--#INCLUDE file=\"a.inc\"-->]");
    f.write("self.inc", "[S<!--#include file=\"self.inc\"-->]");
    const std::string page = f.write(
        "p.htm",
        "<p><!--#include file=\"a.inc\"--><!--#include file=\"self.inc\"--><!--#include file=\"no.inc\"--></p>");
    FileRun r;
    Captured c = r.file(page);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(c.html().find("<p>[A [B ]][S]</p>"), std::string::npos) << c.html();
    const std::string log = logOf(r.log);
    EXPECT_NE(log.find("ssinclude"), std::string::npos);
}

TEST(MhtmlFile, IncludeDepthIsBounded)
{
    PageFolder f;
    for (int i = 0; i < 20; ++i) {
        std::string name = "i";
        name += std::to_string(i);
        name += ".inc";
        std::string text = std::to_string(i);
        text += "<!--#include file=\"i";
        text += std::to_string(i + 1);
        text += ".inc\"-->";
        f.write(name, text);
    }
    const std::string page = f.write("p.htm", "<!--#include file=\"i0.inc\"-->");
    FileRun r;
    Captured c = r.file(page);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(c.html().find("0123456789101112131415"), std::string::npos) << c.html();
    EXPECT_EQ(c.html().find("16"), std::string::npos) << c.html();
    EXPECT_NE(logOf(r.log).find("limit: include_depth"), std::string::npos);
}

TEST(MhtmlFile, LocalFramesReadTheirResourcesFromTheirOwnDirectory)
{
    PageFolder f;
    f.write("sub/a.gif", kGif + "sub");
    f.write("a.gif", kGif + "top");
    f.write("sub/frame.htm", "<title>f</title><img src=\"a.gif\">");
    const std::string page = f.write("p.htm", "<frameset><frame src=\"sub/frame.htm\"></frameset><img src=\"a.gif\">");
    FileRun r;
    Captured c = r.file(page);
    ASSERT_TRUE(r.ok) << logOf(r.log);
    ASSERT_EQ(c.parts(), 4) << c.text;
    int frame = -1;
    for (int i = 1; i < c.parts(); ++i)
        if (c.field(i, "Content-Location") == "sub/frame.htm") frame = i;
    ASSERT_GE(frame, 0);
    const std::string fhtml = c.body(frame);
    const size_t at = fhtml.find("cid:");
    ASSERT_NE(at, std::string::npos) << fhtml;
    const int img = c.byCid(fhtml.substr(at + 4, fhtml.find('"', at) - at - 4));
    ASSERT_GE(img, 0);
    EXPECT_EQ(c.body(img), kGif + "sub");
}

TEST(MhtmlFile, Utf16PageWithByteOrderMarkIsRead)
{
    PageFolder f;
    const std::string ascii = "<title>u</title><p>ok</p>";
    std::string utf16 = "\xFF\xFE";
    for (char ch : ascii) {
        utf16 += ch;
        utf16 += '\0';
    }
    const std::string page = f.write("p.htm", utf16);
    FileRun r;
    Captured c = r.file(page);
    ASSERT_TRUE(r.ok);
    EXPECT_NE(c.html().find("<p>ok</p>"), std::string::npos) << c.html();
}
