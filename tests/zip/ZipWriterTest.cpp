#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>

#include "ZipTestSupport.h"
#include "zip/AltData.h"
#include "zip/ClsZip2.h"
#include "zip/ClsZipEntry2.h"
#include "zip/ZipDn.h"

using namespace hanamail;

using namespace ziptest;

namespace {

// zlib with the archive's parameters, and its inverse: independent of the writer.
std::string rawDeflate(const std::string& in, int level)
{
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(in.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string rawInflate(const std::string& in, size_t expected)
{
    z_stream zs{};
    inflateInit2(&zs, -15);
    std::string out(expected + 1, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u);  // the stream ends exactly where the entry does
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

ClsZipEntry2* add(ClsZip2* zip, const char* name, const std::string& bytes, int level = 6)
{
    ClsZipEntry2* e = zip->AppendData(name, bytes.data(), static_cast<uint32_t>(bytes.size())).entry();
    EXPECT_NE(e, nullptr) << name;
    if (e) e->SetCompressionLevel(level);
    return e;
}

std::string write(ClsZip2* zip)
{
    DataBuffer out;
    EXPECT_TRUE(zip->WriteToMemory(out)) << textOf(zip->getLog());
    return bytesOf(out);
}

std::string le(uint64_t v, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
    return out;
}

TEST(ZipWriter, OneEntryHasTheExactLayout)
{
    ZipDn dn = ZipDn::createNewArchive();
    add(dn.archive(), "a.txt", "hello");
    std::string z = write(dn.archive());
    std::string deflated = rawDeflate("hello", 6);
    uint32_t c = static_cast<uint32_t>(deflated.size());
    uint16_t time = get16(z, 10), date = get16(z, 12);
    EXPECT_GE(date >> 9, 44);  // a local date of this decade, in DOS form
    EXPECT_GE((date >> 5) & 15, 1);

    // version 20, flags 0, method 8, time, date, CRC, sizes, name length, no extra field
    std::string fields = le(20, 2) + le(0, 2) + le(8, 2) + le(time, 2) + le(date, 2) + le(0x3610A686, 4) + le(c, 4) +
                         le(5, 4) + le(5, 2) + le(0, 2);
    std::string local = le(0x04034B50, 4) + fields + "a.txt" + deflated;
    // made by 0, the same fields, no comment, disk 0, internal 0, external 0x80, offset 0
    std::string central = le(0x02014B50, 4) + le(0, 2) + fields + le(0, 6) + le(0x80, 4) + le(0, 4) + "a.txt";
    std::string end = le(0x06054B50, 4) + le(0, 4) + le(1, 2) + le(1, 2) + le(51, 4) + le(30 + 5 + c, 4) + le(0, 2);
    EXPECT_EQ(z, local + central + end);
}

TEST(ZipWriter, EntriesFollowEachOtherInTheOrderAdded)
{
    ZipDn dn = ZipDn::createNewArchive();
    std::string second(5000, 'x');
    add(dn.archive(), "first.txt", "hello");
    add(dn.archive(), "second.bin", second);
    std::string z = write(dn.archive());

    uint32_t secondAt = 30 + 9 + readLocal(z, 0).compressedSize;
    LocalHeader b = readLocal(z, secondAt);
    EXPECT_EQ(b.name, "second.bin");
    EXPECT_EQ(b.crc, crc32(0, reinterpret_cast<const Bytef*>(second.data()), 5000));
    EXPECT_TRUE(rawInflate(b.data, 5000) == second);
    EndRecord e = readEnd(z);
    EXPECT_EQ(e.entriesTotal, 2);
    EXPECT_EQ(e.cdOffset, secondAt + 30 + 10 + b.compressedSize);
    EXPECT_EQ(e.cdSize, 46u + 9 + 46 + 10);
    EXPECT_EQ(readCentral(z, e.cdOffset + 46 + 9).localOffset, secondAt);
}

TEST(ZipWriter, BinaryStoredLevelZeroAndEmptyEntriesReadBack)
{
    std::mt19937 rng(12345);
    std::string random(3 * 1024 * 1024 + 17, '\0');
    for (char& ch : random) ch = static_cast<char>(rng());
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\r\n";

    ZipDn dn = ZipDn::createNewArchive();
    ClsZip2* zip = dn.archive();
    EXPECT_EQ(write(zip), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    add(zip, "random.bin", random);
    add(zip, "stored.txt", text)->SetCompressionMethod(0);
    add(zip, "level0.txt", text, 0);
    ASSERT_FALSE(zip->AppendEmpty("empty.txt").isNull());
    std::string z = write(zip);

    LocalHeader r = readLocal(z, 0);
    EXPECT_EQ(r.crc, crc32(0, reinterpret_cast<const Bytef*>(random.data()), static_cast<uInt>(random.size())));
    EXPECT_TRUE(rawInflate(r.data, random.size()) == random);
    LocalHeader s = readLocal(z, 30 + 10 + r.compressedSize);
    EXPECT_EQ(s.method, 0);
    EXPECT_TRUE(s.data == text);
    uint32_t at = 30 + 10 + r.compressedSize + 30 + 10 + s.compressedSize;
    LocalHeader l0 = readLocal(z, at);
    EXPECT_EQ(l0.method, 8);
    EXPECT_TRUE(rawInflate(l0.data, text.size()) == text);
    LocalHeader empty = readLocal(z, at + 30 + 10 + l0.compressedSize);
    EXPECT_EQ(empty.name, "empty.txt");
    EXPECT_EQ(empty.method, 0);
    EXPECT_EQ(empty.crc + empty.compressedSize + empty.size, 0u);
    EXPECT_EQ(readEnd(z).cdOffset, at + 30 + 10 + l0.compressedSize + 30 + 9);
}

TEST(ZipWriter, WritingAgainKeepsTheFirstDateAndTime)
{
    ZipDn dn = ZipDn::createNewArchive();
    add(dn.archive(), "a.txt", "hello");
    std::string first = write(dn.archive());
    uint16_t date = readLocal(first, 0).date;
    dn.archive()->entryAt(0)->data()->dosDate = static_cast<uint16_t>(date ^ 1);
    std::string second = write(dn.archive());
    uint32_t cd = readEnd(first).cdOffset;
    EXPECT_EQ(readLocal(second, 0).date, date ^ 1);
    EXPECT_EQ(readCentral(second, cd).date, date ^ 1);
    second[12] ^= 1;
    second[cd + 14] ^= 1;
    EXPECT_EQ(first, second);
}

TEST(ZipWriter, RefusedInputIsLoggedAndAddsNothing)
{
    ZipDn dn = ZipDn::createNewArchive();
    ClsZip2* zip = dn.archive();
    EXPECT_TRUE(zip->AppendData("a.txt", "x", 0).isNull());
    EXPECT_TRUE(zip->AppendData("a.txt", nullptr, 4).isNull());
    EXPECT_TRUE(zip->AppendData("", "x", 1).isNull());
    EXPECT_TRUE(zip->AppendData(nullptr, "x", 1).isNull());
    EXPECT_TRUE(zip->AppendEmpty("..\\").isNull());
    EXPECT_EQ(textOf(zip->getLog()),
              "Data length must be > 0\r\nData length must be > 0\r\nNo filename was provided\r\n"
              "No filename was provided\r\nNo filename was provided\r\n");
    StringBuffer xml;
    zip->getLog().getXml(xml);
    EXPECT_TRUE(xml.contains("<AppendData>") && xml.contains("<AppendEmpty>")) << xml.getString();
    EXPECT_EQ(zip->numEntries(), 0);

    ClsZipEntry2* e = add(zip, "a.txt", "hello");
    EXPECT_FALSE(e->SetCompressionMethod(12));
    EXPECT_FALSE(e->SetCompressionLevel(10));
    EXPECT_FALSE(e->SetCompressionLevel(-1));
    EXPECT_EQ(e->data()->method, 8);
    EXPECT_TRUE(e->SetCompressionLevel(9));
    EXPECT_EQ(readLocal(write(zip), 0).data, rawDeflate("hello", 9));
}

}  // namespace
