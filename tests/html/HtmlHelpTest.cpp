#include "html/HtmlHelp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/LogNull.h"
#include "foundation/StringBuffer.h"

using namespace hanamail;

using namespace std::string_literals;

namespace {

std::string str(const StringBuffer& sb)
{
    return std::string(sb.getString(), static_cast<size_t>(sb.getSize()));
}
StringBuffer buf(const std::string& s)
{
    return StringBuffer(s.data(), static_cast<int32_t>(s.size()), 0);
}

std::string clean(const std::string& tag)
{
    StringBuffer out;
    HtmlHelp::cleanHtmlTag(tag.data(), static_cast<int32_t>(tag.size()), out);
    return str(out);
}

std::string attr(const std::string& tag, const char* name)
{
    StringBuffer v;
    HtmlHelp::getAttributeValue(buf(clean(tag)), name, v);
    return str(v);
}

std::string metaCharset(const std::string& html)
{
    StringBuffer cs("junk");
    bool found = HtmlHelp::getMetaCharset(buf(html), cs);
    EXPECT_EQ(found, cs.getSize() > 0);
    return str(cs);
}

std::string removed(const std::string& html, int expectCount = -1)
{
    StringBuffer sb = buf(html);
    int n = HtmlHelp::removeMetaCharset(sb);
    if (expectCount >= 0) {
        EXPECT_EQ(n, expectCount) << html;
    }
    return str(sb);
}

std::string ensured(const std::string& html)
{
    StringBuffer sb = buf(html);
    HtmlHelp::ensureHtmlStructure(sb);
    return str(sb);
}

std::string withMeta(const std::string& html, const char* cs)
{
    StringBuffer sb = buf(html);
    EXPECT_TRUE(HtmlHelp::addMetaCharset(sb, cs));
    return str(sb);
}

const std::string kDecl = "<META http-equiv=\"Content-Type\" content=\"text/html;charset=";

class DataLog : public LogNull {
public:
    bool logData(const char* key, const char* value) override
    {
        keys.push_back(key);
        values.push_back(value);
        return true;
    }
    bool logDataLong(const char* key, int32_t value) override { return logData(key, std::to_string(value).c_str()); }
    std::vector<std::string> keys, values;
};

TEST(HtmlTagClean, WritesTheNormalForm)
{
    EXPECT_EQ(clean("<IMG  SRC = a.gif\r\n\tALT='x \"y\"'  border=0 ismap>"),
              "<IMG SRC=\"a.gif\" ALT='x \"y\"' border=\"0\" ismap>");
    EXPECT_EQ(clean("<a\nhref=\"line\r\none\">"), "<a href=\"line one\">");
    EXPECT_EQ(clean("<br>"), "<br>");
    EXPECT_EQ(clean("<img src=\"a\"/>"), "<img src=\"a\" />");
    EXPECT_EQ(clean("<a href=x>trailing text"), "<a href=\"x\">");
    // Quotes escaped for a script string lose their backslashes.
    EXPECT_EQ(clean("<img src=\\\"pic.gif\\\" alt=\\'t\\'>"), "<img src=\"pic.gif\" alt='t'>");
    // An unquoted value holding quotes must not break the tag open.
    EXPECT_EQ(clean("<a title=it\"s>"), "<a title='it\"s'>");
    EXPECT_EQ(clean("<a title=a'b\"c>"), "<a title=\"a'b&quot;c\">");
}

TEST(HtmlTagClean, MalformedInput)
{
    EXPECT_EQ(clean("<a href=\"never closed>"), "<a href=\"never closed\">");
    EXPECT_EQ(clean("<a href='x"), "<a href='x'>");
    EXPECT_EQ(clean("<a href="), "<a href=\"\">");
    EXPECT_EQ(clean("<a = b c>"), "<a c>");
    EXPECT_EQ(clean(""), "<>");
    EXPECT_EQ(clean("<img\0 src=\"a\0b\">"s), "<img src=\"ab\">");
    std::string huge(1 << 20, 'x');
    EXPECT_EQ(clean("<img src=" + huge + " alt=y>"), "<img src=\"" + huge + "\" alt=\"y\">");

    std::string many = "<p";
    for (int i = 0; i < 150; ++i) many += " a" + std::to_string(i) + "=" + std::to_string(i);
    std::string cleaned = clean(many + ">");
    EXPECT_NE(cleaned.find(" a99=\"99\">"), std::string::npos);
    EXPECT_EQ(cleaned.find("a100"), std::string::npos);
}

TEST(HtmlTagClean, CleaningIsStable)
{
    for (const char* tag : {"<IMG  SRC = a.gif ALT='x'>", "<a href=\\\"x\\\" b=c\"d e='f>", "< x =y z>", "<a b=\"c"}) {
        std::string once = clean(tag);
        EXPECT_EQ(clean(once), once) << tag;
    }
}

TEST(HtmlTagClean, LogsItsSteps)
{
    DataLog log;
    StringBuffer out;
    HtmlHelp::cleanHtmlTag(StringBuffer("<img src=a>"), out, &log);
    std::vector<std::string> keys = {"cleaning_tag", "clean_tag_1", "clean_tag_2", "clean_tag_3",
                                     "clean_tag_4",  "clean_tag_5", "clean_tag_6"};
    EXPECT_EQ(log.keys, keys);
    EXPECT_EQ(log.values.front(), "<img src=a>");
    EXPECT_EQ(log.values.back(), "<img src=\"a\">");
}

TEST(HtmlAttribute, MatchesWholeNamesOnly)
{
    EXPECT_EQ(attr("<img data-src=\"lazy.gif\" src=\"real.jpg\">", "SRC"), "real.jpg");
    EXPECT_EQ(attr("<img alt=' src=\"evil.gif\"' src='real.jpg'>", "src"), "real.jpg");
    EXPECT_EQ(attr("<img data-src=\"lazy.gif\">", "src"), "");
    EXPECT_EQ(attr("<src src=x>", "src"), "x");  // the tag name is no attribute
}

TEST(HtmlAttribute, ValueRules)
{
    EXPECT_EQ(attr("<a HREF=\"  dir\\file.htm \">", "href"), "dir/file.htm");
    EXPECT_EQ(attr("<a href='single' href=\"double\">", "href"), "double");
    EXPECT_EQ(attr("<a href>", "href"), "");

    StringBuffer tag("<img src=\"a.gif\">");
    int32_t start = 0, len = 0;
    ASSERT_TRUE(HtmlHelp::findAttribute(tag.getString(), tag.getSize(), "src", start, len));
    EXPECT_EQ(std::string(tag.getString() + start, static_cast<size_t>(len)), "a.gif");
    EXPECT_FALSE(HtmlHelp::findAttribute(tag.getString(), tag.getSize(), "alt", start, len));
}

TEST(HtmlBaseTag, FirstBaseTagGivesItsHref)
{
    StringBuffer href;
    EXPECT_TRUE(HtmlHelp::getBaseHref(StringBuffer("<basefont size=3><BASE\nHREF=http://x.example/d/>"), href));
    EXPECT_EQ(str(href), "http://x.example/d/");
    EXPECT_FALSE(HtmlHelp::getBaseHref(StringBuffer("<base target=_top><base href=\"y\">"), href));
    EXPECT_FALSE(HtmlHelp::getBaseHref(StringBuffer("<base href=\"unterminated"), href));
    EXPECT_TRUE(href.isEmpty());
}

TEST(HtmlMetaCharset, ReadsEitherKindOfDeclaration)
{
    EXPECT_EQ(metaCharset("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=Shift_JIS\">"), "Shift_JIS");
    EXPECT_EQ(metaCharset("<meta http-equiv=content-type content='text/html; charset=\"koi8-r\"'>"), "koi8-r");
    EXPECT_EQ(metaCharset("<meta http-equiv=\"content-type\" content=\"text/html\" charset=\"big5\">"), "big5");
    EXPECT_EQ(metaCharset("<head><meta charset=\"utf-8\"></head>"), "utf-8");
    // The first declaration decides; a content type without charset declares nothing.
    EXPECT_EQ(metaCharset("<meta http-equiv=\"Content-Type\" content=\"text/html\"><meta charset=euc-jp>"
                          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">"),
              "euc-jp");
    EXPECT_EQ(metaCharset("<meta name=\"x\" content=\"charset=gb2312\"><metadata charset=x>"), "");
    EXPECT_EQ(metaCharset("<meta charset=\"utf-8\""), "");  // never closed
}

TEST(HtmlMetaCharset, RemoveDropsDeclarationsOnly)
{
    std::string keep1 = "<meta http-equiv=\"Content-Type\" content=\"text/html\">";
    std::string keep2 = "<META NAME=generator  CONTENT=\"x\">";
    std::string html = "<html><head>" + keep1 +
                       "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">" + keep2 +
                       "<meta charset=utf-8/></head><body>x</body></html>";
    EXPECT_EQ(removed(html, 2), "<html><head>" + keep1 + keep2 + "</head><body>x</body></html>");
    // Cut off by the end of the text: shows nothing, and appending would close it.
    EXPECT_EQ(removed("a<meta name=x", 1), "a");
    EXPECT_EQ(removed("<b>\0</b><meta charset=x>\0z"s, 1), "<b>\0</b>\0z"s);
}

TEST(HtmlMetaCharset, RemoveLeavesNoDeclarationBehind)
{
    // Dropping a tag must not join its neighbours into a new declaration.
    for (const char* html : {"<<meta charset=a>meta charset=b>", "<meta<meta charset=a> charset=b>",
                             "<me<meta charset=a>ta http-equiv=content-type content='charset=b'>"}) {
        std::string out = removed(html);
        EXPECT_EQ(metaCharset(out), "") << html << " -> " << out;
    }
}

TEST(HtmlStructure, CompletesTheSkeleton)
{
    EXPECT_EQ(ensured("Hello"), "<html><head></head><body>Hello</body></html>");
    EXPECT_EQ(ensured("<HTML><BODY>x</BODY></HTML>"), "<html><head></head><body>x</BODY></HTML>");
    EXPECT_EQ(ensured("<html><head><title>t</title></head><body>x</body></html>"),
              "<html><head><title>t</title></head><body>x</body></html>");
    // Tags with attributes or in mixed case, and an HTML5 <header>, still get a head.
    EXPECT_EQ(ensured("<html lang=\"en\"><Body class=a>x</Body></html>"),
              "<html lang=\"en\"><head></head><Body class=a>x</Body></html>");
    EXPECT_EQ(ensured("<html><body><header>h</header></body></html>"),
              "<html><head></head><body><header>h</header></body></html>");
    EXPECT_EQ(ensured("<html><head></Head>x</Html>"), "<html><head></Head><body>x</body></Html>");
}

TEST(HtmlStructure, AddsTheDeclarationFirstInTheHead)
{
    EXPECT_EQ(withMeta("Hello", "shift_jis"), "<html><head>" + kDecl + "shift_jis\"></head><body>Hello</body></html>");
    EXPECT_EQ(withMeta("<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY>x</BODY></HTML>", "utf-8"),
              "<HTML><head>" + kDecl + "utf-8\"><TITLE>t</TITLE></HEAD><BODY>x</BODY></HTML>");
    EXPECT_EQ(withMeta("<html><head profile=\"p\"></head><body>x</body></html>", "big5"),
              "<html><head profile=\"p\">" + kDecl + "big5\"></head><body>x</body></html>");

    StringBuffer sb("<p>x</p>");
    EXPECT_FALSE(HtmlHelp::addMetaCharset(sb, "utf-8\"><script>"));
    EXPECT_FALSE(HtmlHelp::addMetaCharset(sb, ""));
    EXPECT_EQ(str(sb), "<p>x</p>");
}

TEST(HtmlStructure, NewCharsetReplacesTheOld)
{
    std::string html =
        "<html><head><meta charset=\"utf-8\"><META http-equiv=\"Content-Type\" "
        "content=\"text/html; charset=iso-8859-1\"></head><body>x</body></html>";
    StringBuffer sb = buf(html);
    EXPECT_EQ(HtmlHelp::removeMetaCharset(sb), 2);
    ASSERT_TRUE(HtmlHelp::addMetaCharset(sb, "euc-jp"));
    EXPECT_EQ(metaCharset(str(sb)), "euc-jp");
    EXPECT_EQ(HtmlHelp::removeMetaCharset(sb), 1);
    EXPECT_EQ(str(sb), "<html><head></head><body>x</body></html>");

    // A truncated text whose html tag is closed only by the appended "</html>".
    for (const char* cut : {"<p>x<meta charset=", "<p>x<meta charset=\"", "<HTML lang=en><meta charset= <body"}) {
        EXPECT_TRUE(sb.setString(cut));
        HtmlHelp::removeMetaCharset(sb);
        ASSERT_TRUE(HtmlHelp::addMetaCharset(sb, "koi8-r"));
        EXPECT_EQ(metaCharset(str(sb)), "koi8-r") << cut << " -> " << str(sb);
    }
}

}  // namespace
