// Large buffers and long arrays grow geometrically, so filling them in
// pieces costs time linear in what they end up holding; a buffer that cannot
// grow remembers why, for the writer that checks once at the end.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/BufferLimit.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/StringPair.h"

using namespace hanamail;

namespace {

constexpr uint32_t k100MB = 100u * 1000u * 1000u;

// Appends `total` bytes in pieces of `piece` and counts the reallocations
// (the capacity changing), which a fixed step would make grow with the size.
template <class Buffer, class Append>
int reallocationsFilling(Buffer& b, uint32_t total, uint32_t piece, Append append)
{
    std::string chunk(piece, 'x');
    int reallocations = 0;
    auto capacity = b.getCapacity();
    for (uint32_t done = 0; done < total; done += piece) {
        if (!append(b, chunk.data(), piece)) return -1;
        if (b.getCapacity() != capacity) {
            ++reallocations;
            capacity = b.getCapacity();
        }
    }
    return reallocations;
}

// log base 1.5 of 100 MB / 200 bytes is about 33; allow some slack.
constexpr int kLogBound = 45;

TEST(BufferGrowth, DataBufferReallocatesLogarithmicallyForAnyPieceSize)
{
    for (uint32_t piece : {1u, 1024u, 65536u}) {
        DataBuffer db;
        const int n = reallocationsFilling(db, k100MB, piece, [](DataBuffer& b, const char* p, uint32_t n) {
            return n == 1 ? b.appendByte(static_cast<unsigned char>(*p)) : b.append(p, n);
        });
        EXPECT_GT(n, 0) << "piece " << piece;
        EXPECT_LE(n, kLogBound) << "piece " << piece;
        EXPECT_GE(db.getSize(), k100MB);
        EXPECT_FALSE(db.hasFailed());
    }
}

TEST(BufferGrowth, StringBufferReallocatesLogarithmicallyForAnyPieceSize)
{
    for (uint32_t piece : {1u, 1024u, 65536u}) {
        StringBuffer sb;
        const int n = reallocationsFilling(sb, k100MB, piece, [](StringBuffer& b, const char* p, uint32_t n) {
            return n == 1 ? b.appendChar(*p) : b.appendN(p, static_cast<int32_t>(n));
        });
        EXPECT_GT(n, 0) << "piece " << piece;
        EXPECT_LE(n, kLogBound) << "piece " << piece;
        EXPECT_GE(sb.getSize(), static_cast<int32_t>(k100MB));
        EXPECT_EQ(sb.getString()[sb.getSize()], '\0');
    }
}

TEST(BufferGrowth, ReservedRoomForEncodersGrowsGeometrically)
{
    StringBuffer sb;
    int reallocations = 0;
    int32_t capacity = sb.getCapacity();
    for (int i = 0; i < 20000; ++i) {
        char* room = sb.reserveAppend(1000);
        ASSERT_NE(room, nullptr);
        room[0] = 'a';
        sb.commitAppend(1000);
        if (sb.getCapacity() != capacity) {
            ++reallocations;
            capacity = sb.getCapacity();
        }
    }
    EXPECT_EQ(sb.getSize(), 20000 * 1000);
    EXPECT_LE(reallocations, kLogBound);
}

TEST(BufferGrowth, LongPointerArraysDoubleWithoutACeiling)
{
    ExtPtrArray a;
    StringPair item("n", "v");
    int reallocations = 0;
    int32_t capacity = a.getCapacity();
    for (int i = 0; i < 2000000; ++i) {
        ASSERT_EQ(a.append(&item), i + 1);
        if (a.getCapacity() != capacity) {
            ++reallocations;
            capacity = a.getCapacity();
        }
    }
    EXPECT_EQ(a.getSize(), 2000000);
    EXPECT_EQ(a.get(1999999), &item);
    // 5, 10, 20, ... 2.6 million: about twenty doublings, where a step capped
    // at 100000 slots would take more than thirty.
    EXPECT_LE(reallocations, 25);
    a.removeAll();
}

TEST(BufferLimits, ThirtyTwoBitOverflowIsRefusedWithoutTouchingTheContent)
{
    const char small[8] = "abcdefg";
    DataBuffer db;
    ASSERT_TRUE(db.append(small, 7));
    // The size check comes before any read of the source or any allocation.
    EXPECT_FALSE(db.append(small, DataBuffer::kMaxSize));
    EXPECT_FALSE(db.appendExact(small, 0xFFFFFFFFu));
    EXPECT_EQ(db.getSize(), 7u);
    EXPECT_EQ(db.failure(), BufferFailure::TooLarge);
    db.clear();
    EXPECT_FALSE(db.hasFailed());

    StringBuffer sb("abc");
    EXPECT_FALSE(sb.appendN(small, StringBuffer::kMaxLength));
    EXPECT_EQ(sb.getSize(), 3);
    EXPECT_EQ(std::string(sb.getString()), "abc");
    EXPECT_EQ(sb.failure(), BufferFailure::TooLarge);
}

// Lowers the limit of every buffer for one test.
class CappedBuffers : public ::testing::Test {
protected:
    void SetUp() override { BufferLimit::setCapForTesting(4096); }
    void TearDown() override { BufferLimit::setCapForTesting(0); }
};

TEST_F(CappedBuffers, AFailedAppendIsRememberedUntilClear)
{
    std::string big(5000, 'b');
    StringBuffer sb;
    EXPECT_TRUE(sb.append("head "));
    EXPECT_FALSE(sb.appendN(big.data(), static_cast<int32_t>(big.size())));
    // Later appends that fit still work, but the failure stays.
    EXPECT_TRUE(sb.append("tail"));
    EXPECT_EQ(std::string(sb.getString()), "head tail");
    EXPECT_EQ(sb.failure(), BufferFailure::TooLarge);
    sb.clear();
    EXPECT_FALSE(sb.hasFailed());

    DataBuffer db;
    for (int i = 0; i < 5000; ++i) (void)db.appendByte('x');
    EXPECT_EQ(db.getSize(), 4096u);
    EXPECT_EQ(db.failure(), BufferFailure::TooLarge);
}

TEST_F(CappedBuffers, StreamAppendsAndCopiesCarryAFailureAlong)
{
    std::string big(5000, 'b');
    StringBuffer piece;
    piece << "start " << std::string_view(big) << 7;
    EXPECT_TRUE(piece.hasFailed());
    EXPECT_EQ(std::string(piece.getString()), "start 7");

    // Whatever is built from an incomplete piece is incomplete too.
    StringBuffer whole;
    whole << "<" << piece << ">";
    EXPECT_EQ(std::string(whole.getString()), "<start 7>");
    EXPECT_EQ(whole.failure(), BufferFailure::TooLarge);
    StringBuffer appended;
    EXPECT_FALSE(appended.append(piece));
    StringBuffer copy;
    copy = piece;
    EXPECT_TRUE(copy.hasFailed());

    StringBuffer marked;
    marked.markFailed(BufferFailure::OutOfMemory);
    marked.markFailed(BufferFailure::TooLarge);  // the first reason stays
    EXPECT_EQ(marked.failure(), BufferFailure::OutOfMemory);

    // A text too long for the limit is not silently made empty.
    StringBuffer constructed(big.data(), static_cast<int32_t>(big.size()), 0);
    EXPECT_TRUE(constructed.hasFailed());
}

}  // namespace
