#include <gtest/gtest.h>

#include <string>

#include "smtp/ParseBuffer.h"

using namespace hanamail;

namespace {

TEST(ParseBuffer, GrowsByTheFirstGrowthThenByTheLaterOne)
{
    ParseBuffer b;
    EXPECT_EQ(b.getCapacity(), ParseBuffer::kStartCapacity);
    const std::string block(ParseBuffer::kStartCapacity - 1, 'a');
    ASSERT_TRUE(b.append(block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_EQ(b.getCapacity(), ParseBuffer::kStartCapacity);  // the NUL still fits
    ASSERT_TRUE(b.append("b", 1));
    EXPECT_EQ(b.getCapacity(), ParseBuffer::kStartCapacity + ParseBuffer::kFirstGrowth);
    const std::string big(600000, 'c');
    ASSERT_TRUE(b.append(big.data(), static_cast<uint32_t>(big.size())));
    // capacity + growth is too small for the data: the appended count is added too.
    EXPECT_EQ(b.getCapacity(),
              ParseBuffer::kStartCapacity + ParseBuffer::kFirstGrowth + ParseBuffer::kLaterGrowth + 600000);
    EXPECT_EQ(b.getSize(), ParseBuffer::kStartCapacity + 600000);
    EXPECT_EQ(b.getData()[b.getSize()], '\0');
}

TEST(ParseBuffer, RefusesAnAppendBeyondItsLimitUnchanged)
{
    ParseBuffer b;
    ASSERT_TRUE(b.append("abc", 3));
    // The count is checked before any byte is read.
    EXPECT_FALSE(b.append("x", ParseBuffer::kMaxLength));
    EXPECT_FALSE(b.append("x", 0xFFFFFFFFu));
    EXPECT_EQ(b.getSize(), 3u);
    EXPECT_STREQ(b.getData(), "abc");
}

TEST(ParseBuffer, RemovesPrefixesAndFindsTerminators)
{
    ParseBuffer b;
    ASSERT_TRUE(b.append("250-a\r\n250 b\r\n", 14));
    EXPECT_EQ(b.find("\r\n", 2, 0, false), 5);
    EXPECT_EQ(b.find("\r\n", 2, 6, false), 12);
    EXPECT_EQ(b.find("\r\n", 2, 0, true), 12);
    EXPECT_EQ(b.find("\r\n\r\n", 4, 0, false), -1);
    b.removePrefix(7);
    EXPECT_STREQ(b.getData(), "250 b\r\n");
    b.removePrefix(6);
    EXPECT_STREQ(b.getData(), "\n");
    EXPECT_EQ(b.find("\r\n", 2, 0, false), -1);  // longer than the data
    b.removePrefix(100);
    EXPECT_EQ(b.getSize(), 0u);
    EXPECT_STREQ(b.getData(), "");
    ASSERT_TRUE(b.append("a\r\nb", 4));
    EXPECT_EQ(b.find("\r\n", 2, 0, true), -1);  // not at the end
}

}  // namespace
