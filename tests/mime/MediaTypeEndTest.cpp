// Where a Content-Type's media type ends: the reader ends it at the first ';'
// or blank, and every writer that rebuilds the value (the header writer, the
// boundary and charset substitutions, the plain rewrite of RFC 2231
// parameters) must begin the parameter list at the same place, or a quote in
// the type pairs differently and the boundary read back is another one.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/Logger.h"
#include "mime/Email2.h"
#include "mime/MimeBodyText.h"
#include "mime/MimeHeader.h"
#include "mime/MimeHeaderTestSupport.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParamList.h"

namespace {

using namespace hanamail;
using namespace hdrtest;

std::unique_ptr<Email2> read(const std::string& text)
{
    Logger log;
    return std::unique_ptr<Email2>(Email2::EmailFromMimeText(text.data(), static_cast<uint32_t>(text.size()), log));
}

std::string bodyOf(const Email2& e)
{
    return std::string(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
}

std::string boundaryRead(const std::string& contentType)
{
    MimeMessage2 m;
    m.SetHeaderField("Content-Type", contentType.c_str());
    return str(m.boundary());
}

TEST(MediaTypeEnd, TheFormsOfRealMailReadAsBefore)
{
    EXPECT_EQ(MimeParamList::mediaTypeEnd("multipart/mixed; boundary=a"), 15u);
    EXPECT_EQ(MimeParamList::mediaTypeEnd("text/plain;charset=x"), 10u);
    EXPECT_EQ(MimeParamList::mediaTypeEnd(" \ttext/plain charset=x"), 12u);
    EXPECT_EQ(MimeParamList::mediaTypeEnd("text/plain"), std::string_view::npos);

    MimeMessage2 m;
    m.SetHeaderField("Content-Type", "Text/Plain;charset=iso-8859-1");
    EXPECT_EQ(str(m.contentType()), "text/plain");
    EXPECT_STREQ(m.charset().getName(), "iso-8859-1");
    EXPECT_EQ(boundaryRead("multipart/mixed;\r\n\tboundary=\"b;1\""), "b;1");
    // No ';' at all: the blank ends the type and the parameter is still read.
    EXPECT_EQ(boundaryRead("multipart/mixed boundary=q"), "q");
}

TEST(MediaTypeEnd, AQuoteAfterTheFirstBlankPairsAlikeWhenWrittenAgain)
{
    // The reader's list begins at the blank: `a"b; boundary=...."` is one
    // parameter and the boundary is "s". The control byte and the 8-bit
    // byte send the value through the header writer's encoded words.
    const std::string text =
        "Content-Type: multipart/x\x01 a\"b; boundary=d\xb0\"; boundary=s\r\n\r\n"
        "--s\r\nContent-Type: text/plain\r\n\r\nbye\r\n--s--\r\n";
    std::unique_ptr<Email2> e = read(text);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->GetPartCount(), 1);
    EXPECT_EQ(bodyOf(*e->GetPart(0)), "bye");
    StringBuffer out;
    ASSERT_TRUE(e->GetMimeText(out));
    std::unique_ptr<Email2> again = read(str(out));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->GetPartCount(), 1) << str(out);
    EXPECT_EQ(bodyOf(*again->GetPart(0)), "bye") << str(out);
}

TEST(MediaTypeEnd, ASubstitutedParameterLandsInTheListTheReaderSees)
{
    // Counted from the start of the value, the quote in the type would hide
    // every ';' up to the last quote, and the new boundary would follow an
    // open quoted string.
    const char* const kTypes[] = {
        "multi\"part/mixed; boundary=a; x=\"",
        "multipart/mixed x=\"1; boundary=a\"; boundary=c",
        "multipart/mixed boundary=a",
    };
    for (const char* type : kTypes) {
        MimeHeader in;
        in.ReplaceField("Content-Type", type);
        MimeHeader out;
        ASSERT_TRUE(MimeBodyText::copyWithParam(in, "boundary", "new", out));
        const std::string written = fieldValue(out, "Content-Type");
        EXPECT_EQ(boundaryRead(written), "new") << type << " -> " << written;
    }
}

TEST(MediaTypeEnd, ExtendedParametersAfterABlankAreWrittenPlainly)
{
    const std::string v = "text/plain name*=utf-8''%E2%82%AC";
    EXPECT_EQ(MimeParamList::rewritePlain(v, MimeParamList::mediaTypeEnd(v)), "text/plain; name=\"\xE2\x82\xAC\"");
    EXPECT_EQ(MimeParamList::rewritePlain("inline", std::string_view::npos), "inline");

    std::unique_ptr<Email2> e = read("Content-Type: text/plain name*=utf-8''%E2%82%AC\r\n\r\nx");
    ASSERT_TRUE(e);
    EXPECT_EQ(str(e->name()), "\xE2\x82\xAC");
    EXPECT_EQ(fieldValue(e->header(), "Content-Type"), "text/plain; name=\"\xE2\x82\xAC\"");
}

}  // namespace
