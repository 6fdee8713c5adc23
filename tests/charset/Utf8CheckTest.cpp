// The strict UTF-8 check applied to text that enters the system, and the
// repair that stands U+FFFD for each ill-formed sequence (one per maximal
// part that could begin a character, as Python's "replace" does too).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/Utf8Check.h"
#include "foundation/DataBuffer.h"

using namespace hanamail;

namespace {

const unsigned char* u(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

uint32_t firstInvalid(const std::string& s)
{
    return utf8check::firstInvalid(u(s), static_cast<uint32_t>(s.size()));
}

std::string repaired(const std::string& s, std::vector<uint32_t>* offsets = nullptr)
{
    DataBuffer out;
    std::vector<uint32_t> found;
    const uint32_t n = utf8check::appendRepaired(u(s), static_cast<uint32_t>(s.size()), out, found, 100);
    EXPECT_EQ(n, found.size());
    if (offsets) *offsets = found;
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

const std::string R = "\xEF\xBF\xBD";

TEST(Utf8Check, WellFormedTextPassesWhole)
{
    for (const std::string s : {"", "ascii only", "日本語", "é ü", "😀 U+1F600", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF"}) {
        EXPECT_EQ(firstInvalid(s), s.size()) << s;
        EXPECT_EQ(repaired(s), s);
    }
}

TEST(Utf8Check, IllFormedSequencesAreFoundAtTheirFirstByte)
{
    struct Case {
        std::string text;
        uint32_t offset;
    };
    const Case cases[] = {
        {"ab\x80", 2},            // a lone continuation byte
        {"x\xC0\xAF", 1},         // overlong two-byte form
        {"\xE0\x80\x80", 0},      // overlong three-byte form
        {"ok \xED\xA0\x80", 3},   // a surrogate written as three bytes (CESU)
        {"\xF0\x8F\xBF\xBF", 0},  // overlong four-byte form
        {"\xF4\x90\x80\x80", 0},  // beyond U+10FFFF
        {"\xF5\x80\x80\x80", 0},  // no such lead byte
        {"日\xE6\x97", 3},        // cut off by the end of the text
        {"\x93quoted\x94", 0},    // Windows-1252 quotes
        {"\x82\xA0", 0},          // Shift_JIS
    };
    for (const Case& c : cases) EXPECT_EQ(firstInvalid(c.text), c.offset) << c.offset;
}

TEST(Utf8Check, RepairReplacesEachMaximalPartOnce)
{
    std::vector<uint32_t> at;
    // A cut-off sequence is one replacement; a surrogate, whose second byte
    // cannot follow ED, is three; an overlong form two.
    EXPECT_EQ(repaired("a\xE6\x97z", &at), "a" + R + "z");
    EXPECT_EQ(at, (std::vector<uint32_t>{1}));
    EXPECT_EQ(repaired("\xED\xA0\x80", &at), R + R + R);
    EXPECT_EQ(at, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(repaired("\xC0\xAF!", &at), R + R + "!");
    EXPECT_EQ(repaired("\xF0\x9F\x98", &at), R);
    EXPECT_EQ(repaired("\xF0\x9F\x98 \xF0\x9F\x98\x80", &at), R + " 😀");
    EXPECT_EQ(at, (std::vector<uint32_t>{0}));
}

TEST(Utf8Check, RepairRecordsNoMoreOffsetsThanAsked)
{
    const std::string s(20, '\xFF');
    DataBuffer out;
    std::vector<uint32_t> found;
    EXPECT_EQ(utf8check::appendRepaired(u(s), 20, out, found, 3), 20u);
    EXPECT_EQ(found, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(out.getSize(), 60u);
}

}  // namespace
