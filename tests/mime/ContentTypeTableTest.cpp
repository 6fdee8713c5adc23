#include "mime/ContentTypeTable.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/StringBuffer.h"

using namespace hanamail;

namespace {

std::string lookup(const char* ext)
{
    StringBuffer out;
    return ContentTypeTable::forExtension(ext, out) ? out.getString() : "(none)";
}

TEST(ContentTypeTable, KnownExtensions)
{
    EXPECT_EQ(ContentTypeTable::rowCount(), 196);
    EXPECT_EQ(lookup("pdf"), "application/pdf");
    EXPECT_EQ(lookup("doc"), "application/msword");
    EXPECT_EQ(lookup("xof"), "x-world/x-vrml");     // the last row
    EXPECT_EQ(lookup("evy"), "application/envoy");  // the first row
    EXPECT_EQ(lookup("*"), "application/octet-stream");
    // Spreadsheet exports and calendar invitations are text that mail programs open.
    EXPECT_EQ(lookup("csv"), "text/csv");
    EXPECT_EQ(lookup("ics"), "text/calendar");
}

TEST(ContentTypeTable, FirstRowWinsForRepeatedExtensions)
{
    EXPECT_EQ(lookup("cdf"), "application/x-cdf");
    EXPECT_EQ(lookup("p7m"), "application/x-pkcs7-mime");
    EXPECT_EQ(lookup("p7c"), "application/x-pkcs7-mime");
}

TEST(ContentTypeTable, FirstCharacterIsExactTheRestIgnoresCase)
{
    EXPECT_EQ(lookup("pDF"), "application/pdf");
    EXPECT_EQ(lookup("PDF"), "(none)");  // callers lower-case the extension first
    EXPECT_EQ(lookup("pd"), "(none)");
    EXPECT_EQ(lookup("pdfx"), "(none)");
    EXPECT_EQ(lookup(""), "(none)");
    EXPECT_EQ(lookup(nullptr), "(none)");
}

TEST(ContentTypeTable, AppendsToWhatIsThere)
{
    StringBuffer out("type: ");
    EXPECT_TRUE(ContentTypeTable::forExtension("gz", out));
    EXPECT_STREQ(out.getString(), "type: application/x-gzip");
}

}  // namespace
