#include <gtest/gtest.h>

#include <string>

#include "ZipTestSupport.h"
#include "platform/DosTime.h"
#include "zip/ClsZip2.h"
#include "zip/ClsZipEntry2.h"
#include "zip/ZipDn.h"
#include "zip/ZipLimits.h"
#include "zip/ZipSystem.h"

using namespace hanamail;

using namespace ziptest;

namespace {

TEST(ZipLimits, ClassicHeadersStopBelowTheirZip64Markers)
{
    EXPECT_TRUE(ZipLimits::sizeFits(0xFFFFFFFEull));
    EXPECT_FALSE(ZipLimits::sizeFits(0xFFFFFFFFull));
    EXPECT_FALSE(ZipLimits::entryFits(0, 5, 4ull << 30, 100));  // a 4 GiB entry
    EXPECT_FALSE(ZipLimits::entryFits(0, 5, 100, 4ull << 30));
    EXPECT_FALSE(ZipLimits::entryFits(0xFFFFFF00ull, 5, 1000, 1000));  // small, but ends past 4 GiB
    EXPECT_TRUE(ZipLimits::entryFits(0xFFFF0000ull, 5, 1000, 1000));
    // The entry's last byte exactly at the last offset a classic header holds, and one past it.
    const uint64_t header = ZipLimits::kLocalHeaderBytes;
    EXPECT_TRUE(ZipLimits::entryFits(0xFFFFFFFEull - header - 5 - 1000, 5, 1000, 1000));
    EXPECT_FALSE(ZipLimits::entryFits(0xFFFFFFFFull - header - 5 - 1000, 5, 1000, 1000));
    EXPECT_TRUE(ZipLimits::entryCountFits(0xFFFF));
    EXPECT_FALSE(ZipLimits::entryCountFits(0x10000));
    EXPECT_TRUE(ZipLimits::nameFits(0xFFFF));
    EXPECT_FALSE(ZipLimits::nameFits(0x10000));
}

TEST(ZipLimits, TooManyEntriesOrTooLongANameIsAnError)
{
    ZipDn dn = ZipDn::createNewArchive();
    ClsZip2* zip = dn.archive();
    for (int i = 0; i < 65535; ++i) {
        std::string name = "f";
        name += std::to_string(i);
        ASSERT_TRUE(zip->AppendData(name.c_str(), "x", 1).entry()->SetCompressionMethod(0));
    }
    DataBuffer out;
    ASSERT_TRUE(zip->WriteToMemory(out));
    EXPECT_EQ(readEnd(bytesOf(out)).entriesTotal, 65535);
    zip->AppendData("one-more", "x", 1);
    EXPECT_FALSE(zip->WriteToMemory(out));
    EXPECT_EQ(textOf(zip->getLog()), "Zip archive too large\r\n");
    EXPECT_EQ(out.getSize(), 0u);

    ZipDn other = ZipDn::createNewArchive();
    std::string name(65535, 'n');
    other.archive()->AppendData(name.c_str(), "x", 1);
    ASSERT_TRUE(other.archive()->WriteToMemory(out));
    name += 'n';
    other.archive()->AppendData(name.c_str(), "x", 1);
    EXPECT_FALSE(other.archive()->WriteToMemory(out));
    EXPECT_EQ(textOf(other.archive()->getLog()), "Zip archive too large\r\n");
}

TEST(ZipHandles, HandlesFindTheirObjectsAndKeepTheRegistryAlive)
{
    ZipEntryDn kept;
    {
        ZipDn dn = ZipDn::createNewArchive();
        ZipDn moved = std::move(dn);
        EXPECT_EQ(dn.archive(), nullptr);
        kept = moved.archive()->AppendData("a.txt", "hello", 5);
        moved.archive()->AppendData("b.txt", "hello", 5);
    }
    // No archive handle is left; the entry handle still reaches both.
    ASSERT_NE(kept.entry(), nullptr);
    ClsZip2* zip = kept.entry()->archive();
    EXPECT_EQ(zip->numEntries(), 2);
    // A stale index hint is repaired by identifier; a wrong identifier finds nothing.
    EXPECT_EQ(ZipEntryDn(kept.system(), kept.id(), 1).entry(), kept.entry());
    EXPECT_EQ(ZipEntryDn(kept.system(), zip->entryAt(1)->serialNumber(), 0).entry(), zip->entryAt(1));
    EXPECT_EQ(ZipEntryDn(kept.system(), 0xFFFFFFF0u, 0).entry(), nullptr);
    EXPECT_EQ(ZipDn(kept.system(), kept.id(), 0).archive(), nullptr);
}

TEST(DosTime, PacksAndClampsToTheFormatsRange)
{
    uint16_t d = 0, t = 0;
    platform::packDosDateTime(2024, 12, 8, 13, 45, 31, d, t);
    EXPECT_EQ(d, (44 << 9) | (12 << 5) | 8);
    EXPECT_EQ(t, (13 << 11) | (45 << 5) | 15);
    platform::packDosDateTime(1979, 12, 31, 23, 59, 59, d, t);
    EXPECT_EQ(d, (1 << 5) | 1);
    EXPECT_EQ(t, 0);
    platform::packDosDateTime(2108, 1, 1, 0, 0, 0, d, t);
    EXPECT_EQ(d, (127 << 9) | (12 << 5) | 31);
}

}  // namespace
