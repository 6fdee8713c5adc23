#include <gtest/gtest.h>

#include <string>

#include "foundation/StringBuffer.h"
#include "web/UrlReference.h"

using namespace hanamail;

namespace {

constexpr char kBase[] = "http://a/b/c/d;p?q";

std::string resolved(const char* base, const char* ref)
{
    StringBuffer out;
    UrlReference::resolve(base, ref, out);
    return out.getString();
}

struct Example {
    const char* reference;
    const char* target;
};

}  // namespace

TEST(UrlReference, NormalExamples)
{
    const Example examples[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"},
        {"g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../", "http://a/"},
        {"../../g", "http://a/g"},
    };
    for (const Example& e : examples) EXPECT_EQ(resolved(kBase, e.reference), e.target) << e.reference;
}

TEST(UrlReference, AbnormalExamples)
{
    const Example examples[] = {
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g#s/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},  // strict
    };
    for (const Example& e : examples) EXPECT_EQ(resolved(kBase, e.reference), e.target) << e.reference;
}

TEST(UrlReference, LocationsAndPageReferences)
{
    // A Location path replaces the requested path; it is not appended.
    EXPECT_EQ(resolved("http://h:8080/dir/page.htm", "/other/x.htm"), "http://h:8080/other/x.htm");
    EXPECT_EQ(resolved("http://h/dir/page.htm", "next.htm"), "http://h/dir/next.htm");
    EXPECT_EQ(resolved("http://h/dir/", "http://o/a/../b"), "http://o/b");
    // A base without a path.
    EXPECT_EQ(resolved("http://h", "img/a.gif"), "http://h/img/a.gif");
    // The base's user part is kept (the client decides where credentials go).
    EXPECT_EQ(resolved("http://u:p@h/a/b", "../c"), "http://u:p@h/c");

    StringBuffer out;
    UrlReference::removeDotSegments("/a/b/c/./../../g", out);
    EXPECT_STREQ(out.getString(), "/a/g");
    out.clear();
    UrlReference::removeDotSegments("mid/content=5/../6", out);
    EXPECT_STREQ(out.getString(), "mid/6");
}
