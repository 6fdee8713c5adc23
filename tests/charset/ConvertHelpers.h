#pragma once
// Small helpers shared by the conversion tests: byte strings, UTF-16/UTF-8
// built independently of the code under test, and one-call conversions.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "charset/EncodingConvert.h"
#include "foundation/DataBuffer.h"

namespace hanamail {

namespace convtest {

using Bytes = std::string;

inline Bytes bytes(std::initializer_list<int> list)
{
    Bytes b;
    for (int v : list) b.push_back(static_cast<char>(v));
    return b;
}

inline Bytes toBytes(const DataBuffer& d)
{
    return d.getSize() ? Bytes(reinterpret_cast<const char*>(d.getData()), d.getSize()) : Bytes();
}

// UTF-16LE of the given code units.
inline Bytes u16(std::initializer_list<uint32_t> units)
{
    Bytes b;
    for (uint32_t u : units) {
        b.push_back(static_cast<char>(u & 0xFF));
        b.push_back(static_cast<char>(u >> 8));
    }
    return b;
}

// Reference encoders for code points, written the textbook way.
inline void appendUtf8(Bytes& b, uint32_t cp)
{
    if (cp < 0x80) {
        b.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        b.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        b.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        b.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        b.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        b.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        b.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        b.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        b.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        b.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

inline void appendUtf16(Bytes& b, uint32_t cp)
{
    auto unit = [&](uint32_t u) {
        b.push_back(static_cast<char>(u & 0xFF));
        b.push_back(static_cast<char>(u >> 8));
    };
    if (cp < 0x10000) {
        unit(cp);
    } else {
        unit(0xD800 + ((cp - 0x10000) >> 10));
        unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
}

inline Bytes utf8Of(std::initializer_list<uint32_t> cps)
{
    Bytes b;
    for (uint32_t cp : cps) appendUtf8(b, cp);
    return b;
}

struct Result {
    bool ok;
    Bytes out;
};

inline Result convert(int from, int to, const Bytes& in)
{
    DataBuffer out;
    EncodingConvert conv;
    const bool ok = conv.convert(from, to, in.data(), static_cast<uint32_t>(in.size()), out);
    return {ok, toBytes(out)};
}

inline std::string hex(const Bytes& b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : b) {
        if (!s.empty()) s.push_back(' ');
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

// One conversion's output (as hex) and result. Uses GoogleTest.
#define EXPECT_CONVERTS(from, to, in, hexOut, okOut)                \
    do {                                                            \
        const Result r_ = convert((from), (to), (in));              \
        EXPECT_EQ(hex(r_.out), (hexOut)) << (from) << "->" << (to); \
        EXPECT_EQ(r_.ok, (okOut)) << (from) << "->" << (to);        \
    } while (0)

}  // namespace convtest

}  // namespace hanamail
