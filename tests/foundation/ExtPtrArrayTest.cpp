#include "foundation/ExtPtrArray.h"

#include <gtest/gtest.h>

#include "foundation/StringBuffer.h"
#include "foundation/StringPair.h"

using namespace hanamail;

namespace {

struct Counted : TembrixObject {
    explicit Counted(int* counter) : counter(counter) {}
    ~Counted() override { ++*counter; }
    int* counter;
};

TEST(ExtPtrArray, InsertAtClampsTheIndex)
{
    ExtPtrArray a;
    StringBuffer x("x"), y("y"), z("z");
    a.append(&x);
    a.insertAt(-3, &y);
    EXPECT_EQ(a.get(0), &y);
    a.insertAt(a.getSize() + 10, &z);
    EXPECT_EQ(a.getSize(), 3);
    EXPECT_EQ(a.last(), &z);
    EXPECT_EQ(a.removeAt(0), &y);
    EXPECT_EQ(a.get(0), &x);
    EXPECT_EQ(a.removeAt(7), nullptr);
    EXPECT_EQ(a.pop(), &z);
    EXPECT_EQ(a.getSize(), 1);
    a.removeAll();
}

TEST(ExtPtrArray, SetAtExtendsWithNullsAndRefusesHugeIndexes)
{
    ExtPtrArray a;
    StringBuffer x("x");
    EXPECT_TRUE(a.setAt(12, &x));
    EXPECT_EQ(a.getSize(), 13);
    EXPECT_EQ(a.get(11), nullptr);
    EXPECT_EQ(a.get(12), &x);
    EXPECT_FALSE(a.setAt(0x7FFFFFFF, &x));
    EXPECT_FALSE(a.setAt(-1, &x));
    EXPECT_EQ(a.getSize(), 13);
    a.removeAll();
}

TEST(ExtPtrArray, ManyAppendsKeepOrder)
{
    ExtPtrArray a;
    int deleted = 0;
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(a.append(new Counted(&deleted)), i + 1);
    a.setAt(1005, nullptr);
    a.removeAllObjects();
    EXPECT_EQ(deleted, 1000);
    EXPECT_EQ(a.getSize(), 0);
}

TEST(StringPair, EmptyPartsAreAbsent)
{
    StringPair p("name", "");
    ASSERT_NE(p.getName(), nullptr);
    EXPECT_TRUE(p.getName()->equals("name"));
    EXPECT_EQ(p.getValue(), nullptr);
    EXPECT_STREQ(p.valueText(), "");
    StringPair q(nullptr, "v");
    EXPECT_EQ(q.getName(), nullptr);
    EXPECT_STREQ(q.valueText(), "v");
    EXPECT_NE(p.serialNumber(), q.serialNumber());
}

}  // namespace
