#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ZipTestSupport.h"
#include "charset/EncodingConvert.h"
#include "platform/Platform.h"
#include "zip/ClsZip2.h"
#include "zip/ZipDn.h"
#include "zip/ZipEntryName.h"

using namespace hanamail;

using namespace ziptest;

namespace {

TEST(ZipEntryName, NamesCannotLeaveTheExtractionFolder)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"dir\\sub.txt", "dir/sub.txt"},
        {"../../x.exe", "x.exe"},
        {"/etc/passwd", "etc/passwd"},
        {"C:\\Users\\me\\a.txt", "Users/me/a.txt"},
        {"c:rel.txt", "rel.txt"},
        {"\\\\server\\share\\f", "server/share/f"},
        {"a/./b/../c//d/", "a/b/c/d"},
        {"x/C:/y", "x/C:/y"},
        {"...", "..."},
        {"報告.pdf", "報告.pdf"},
        {"..", ""},
        {"C:\\", ""},
    };
    for (const auto& [in, want] : cases) {
        StringBuffer out;
        ZipEntryName::makeSafe(in, out);
        EXPECT_STREQ(out.getString(), want) << in;
    }
}

// The last entry as written: name bytes and flags of both headers.
struct Stored {
    std::string local, central;
    uint16_t localFlags, centralFlags, madeBy;
};

Stored writeOne(ClsZip2* zip, const char* name)
{
    EXPECT_FALSE(zip->AppendData(name, "data", 4).isNull()) << name;
    DataBuffer out;
    EXPECT_TRUE(zip->WriteToMemory(out));
    std::string z = bytesOf(out);
    uint32_t at = readEnd(z).cdOffset;
    CentralHeader h = readCentral(z, at);
    while (at + 46 + h.name.size() < z.size() - 22) {
        at += 46 + static_cast<uint32_t>(h.name.size());
        h = readCentral(z, at);
    }
    LocalHeader l = readLocal(z, h.localOffset);
    return Stored{l.name, h.name, l.flags, h.flags, h.madeBy};
}

TEST(ZipEntryName, PrefixAndDroppedDirectoriesApplyWhenWritten)
{
    ZipDn dn = ZipDn::createNewArchive();
    dn.archive()->setPathPrefix("../out\\");
    EXPECT_EQ(writeOne(dn.archive(), "dir/a.txt").central, "out/dir/a.txt");
    dn.archive()->setDiscardPaths(true);
    EXPECT_EQ(writeOne(dn.archive(), "dir/b.txt").local, "b.txt");
}

TEST(ZipEntryName, NameInTheFilenameCodePageWhenItFits)
{
    ZipDn dn = ZipDn::createNewArchive();
    ClsZip2* zip = dn.archive();
    EXPECT_EQ(zip->filenameCodePage(), platform::oemCodePage());
    zip->setFilenameCodePage(437);
    Stored s = writeOne(zip, "caf\xC3\xA9.txt");
    EXPECT_EQ(s.local, "caf\x82.txt");
    EXPECT_EQ(s.central, s.local);
    EXPECT_EQ(s.localFlags | s.centralFlags | s.madeBy, 0);

    if (!EncodingConvert::canConvert(932)) GTEST_SKIP() << "code page 932 not available";
    zip->setFilenameCodePage(932);
    s = writeOne(zip, "報告.pdf");
    EXPECT_EQ(s.central, "\x95\xF1\x8D\x90.pdf");
    EXPECT_EQ(s.localFlags | s.centralFlags, 0);
}

TEST(ZipEntryName, NamesTheCodePageCannotHoldStayUtf8AndFlagged)
{
    ZipDn dn = ZipDn::createNewArchive();
    ClsZip2* zip = dn.archive();
    zip->setFilenameCodePage(437);
    Stored a = writeOne(zip, "報告.pdf");
    Stored b = writeOne(zip, "計画.pdf");
    EXPECT_EQ(a.local, "報告.pdf");
    EXPECT_EQ(b.central, "計画.pdf");
    EXPECT_EQ(a.localFlags & b.localFlags & a.centralFlags & b.centralFlags, 0x0800);
    EXPECT_EQ(a.madeBy, 0x0E3F);  // VFAT: unzip then takes the name as UTF-8, not OEM

    // Flagged names must be strict UTF-8, or readers refuse the whole archive.
    Stored pair = writeOne(zip, "\xED\xA0\xBD\xED\xB3\x84.pdf");  // U+1F4C4 as two 3-byte surrogates
    EXPECT_EQ(pair.local, "\xF0\x9F\x93\x84.pdf");
    EXPECT_EQ(pair.centralFlags, 0x0800);
    Stored broken = writeOne(zip, "\xFF\xFE.txt");
    EXPECT_EQ(broken.central, "\xFF\xFE.txt");
    EXPECT_EQ(broken.centralFlags, 0);

    zip->setFilenameCodePage(65001);
    EXPECT_EQ(writeOne(zip, "caf\xC3\xA9.txt").centralFlags, 0x0800);
    EXPECT_EQ(writeOne(zip, "cafe.txt").centralFlags, 0);
}

}  // namespace
