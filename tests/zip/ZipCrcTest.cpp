#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "zip/ZipCrc.h"

using namespace hanamail;

// The check value of the zip CRC, and the same value whether the bytes come
// at once or in pieces of any size, after a reset, with null pieces skipped.
TEST(ZipCrc, WholeAndPiecewiseGiveTheCheckValue)
{
    const char* check = "123456789";
    EXPECT_EQ(ZipCrc::of(check, 9), 0xCBF43926u);
    EXPECT_EQ(ZipCrc::of(check, 0), 0u);

    std::string text;
    for (int i = 0; i < 5000; ++i) text += static_cast<char>(i * 7 + (i >> 3));
    const uint32_t whole = ZipCrc::of(text.data(), static_cast<uint32_t>(text.size()));
    for (uint32_t step : {1u, 3u, 64u, 4999u}) {
        ZipCrc crc;
        crc.update("junk", 4);
        crc.reset();
        for (uint32_t at = 0; at < text.size(); at += step) {
            uint32_t n = std::min<uint32_t>(step, static_cast<uint32_t>(text.size()) - at);
            crc.update(text.data() + at, n);
            crc.update(nullptr, 10);
        }
        EXPECT_EQ(crc.value(), whole) << "pieces of " << step;
    }
}
