#include "foundation/DataBuffer.h"
#include "platform/Automation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

using namespace hanamail;

namespace {

std::string bytes(const DataBuffer& db)
{
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

TEST(DataBufferGrowth, StepsOf20000)
{
    DataBuffer db;
    EXPECT_EQ(db.getCapacity(), 0u);
    EXPECT_TRUE(db.appendByte(1));
    EXPECT_EQ(db.getCapacity(), 20000u);
    std::string big(30000, 'z');
    EXPECT_TRUE(db.append(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_EQ(db.getCapacity(), 30001u);
    EXPECT_TRUE(db.append("abc", 3));
    EXPECT_EQ(db.getCapacity(), 50001u);
    DataBuffer exact;
    EXPECT_TRUE(exact.appendExact("abc", 3));
    EXPECT_EQ(exact.getCapacity(), 3u);
    EXPECT_TRUE(exact.ensureCapacity(10));
    EXPECT_EQ(exact.getCapacity(), 10u);
    EXPECT_EQ(bytes(exact), "abc");
}

TEST(DataBufferMemory, BorrowedMemoryIsCopiedOnGrowthAndNeverFreed)
{
    char caller[4] = {'a', 'b', 'c', 'd'};
    DataBuffer db(caller, 4);
    EXPECT_TRUE(db.isBorrowed());
    EXPECT_EQ(bytes(db), "abcd");
    EXPECT_TRUE(db.appendByte('e'));
    EXPECT_FALSE(db.isBorrowed());
    EXPECT_EQ(bytes(db), "abcde");
    EXPECT_EQ(caller[0], 'a');

    DataBuffer other;
    EXPECT_TRUE(other.append("xyz", 3));
    db.takeOver(other);
    EXPECT_EQ(bytes(db), "xyz");
    EXPECT_EQ(other.getSize(), 0u);
    EXPECT_EQ(other.getData(), nullptr);
}

TEST(DataBufferText, UnicodeZAndBstr)
{
    DataBuffer db;
    EXPECT_TRUE(db.appendUnicodeZ(nullptr));
    EXPECT_EQ(db.getSize(), 2u);
    EXPECT_EQ(db.getData()[0], 0);
    EXPECT_EQ(db.getData()[1], 0);
    const OLECHAR text[] = {u'A', u'\u3042', 0};
    EXPECT_TRUE(db.appendUnicodeZ(text));
    EXPECT_EQ(db.getSize(), 8u);
    BSTR b = SysAllocString(text);
    db.clear();
    EXPECT_TRUE(db.appendBstr(b));
    EXPECT_EQ(db.getSize(), 4u);
    EXPECT_EQ(std::memcmp(db.getData(), text, 4), 0);
    SysFreeString(b);
}

VARIANT byteArrayVariant(const char* data, ULONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, n);
    std::memcpy(v.parray->pvData, data, n);
    return v;
}

TEST(DataBufferVariant, BytesStringsAndReferences)
{
    DataBuffer db;
    VARIANT arr = byteArrayVariant("\x01\x02\x03", 3);
    EXPECT_TRUE(db.appendVariant(&arr));
    EXPECT_EQ(bytes(db), std::string("\x01\x02\x03", 3));

    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &arr;
    EXPECT_TRUE(db.appendVariant(&ref));
    EXPECT_EQ(db.getSize(), 6u);

    VARIANT str;
    VariantInit(&str);
    str.vt = VT_BSTR;
    str.bstrVal = SysAllocString(OLESTR("hi"));
    db.clear();
    EXPECT_TRUE(db.appendVariant(&str));
    EXPECT_EQ(bytes(db), std::string("h\0i\0", 4));
    VariantClear(&str);
    VariantClear(&arr);
}

TEST(DataBufferVariant, ArraysOfPointersAppendNothing)
{
    DataBuffer db;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    static_cast<BSTR*>(v.parray->pvData)[0] = SysAllocString(OLESTR("secret"));
    EXPECT_TRUE(db.appendVariant(&v));
    EXPECT_EQ(db.getSize(), 0u);
    VariantClear(&v);

    VARIANT vv;
    VariantInit(&vv);
    vv.vt = VT_ARRAY | VT_VARIANT;
    vv.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    EXPECT_TRUE(db.appendVariant(&vv));
    EXPECT_EQ(db.getSize(), 0u);
    VariantClear(&vv);
}

TEST(DataBufferVariant, SelfReferenceStopsAfterEightLevels)
{
    VARIANT loop;
    VariantInit(&loop);
    loop.vt = VT_BYREF | VT_VARIANT;
    loop.pvarVal = &loop;
    DataBuffer db;
    EXPECT_TRUE(db.appendVariant(&loop));
    EXPECT_EQ(db.getSize(), 0u);
}

TEST(DataBufferVariant, HugeArrayDimensionsAreRefused)
{
    unsigned char data[4] = {1, 2, 3, 4};
    struct TwoDims {
        SAFEARRAY sa;
        SAFEARRAYBOUND second;
    } big{};
    big.sa.cDims = 2;
    big.sa.cbElements = 4;
    big.sa.pvData = data;
    big.sa.rgsabound[0].cElements = 0x10000;
    big.second.cElements = 0x10000;  // 4 * 2^32 bytes: overflows 32 bits
    DataBuffer db;
    EXPECT_FALSE(db.appendSafeArray(&big.sa));
    EXPECT_EQ(db.getSize(), 0u);
}

#ifndef NDEBUG
TEST(DataBufferDeathTest, DestroyedObjectTraps)
{
    alignas(DataBuffer) unsigned char storage[sizeof(DataBuffer)];
    auto* db = new (storage) DataBuffer();
    db->~DataBuffer();
    EXPECT_DEATH((void)db->appendByte(1), "destroyed or overwritten DataBuffer|invalid vptr");
}
#endif

}  // namespace
