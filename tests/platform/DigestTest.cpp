#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Digest.h"

using namespace hanamail;
using namespace hanamail::platform;

namespace {

std::string hex(const uint8_t* d, size_t n = 16)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

template <class H>
std::string digestOf(const std::string& s)
{
    uint8_t out[16];
    H::hash(s.data(), s.size(), out);
    return hex(out);
}

// The same input fed in pieces of the given size.
template <class H>
std::string digestInPieces(const std::string& s, size_t piece)
{
    H h;
    for (size_t i = 0; i < s.size(); i += piece) h.update(s.data() + i, std::min(piece, s.size() - i));
    uint8_t out[16];
    h.finish(out);
    return hex(out);
}

struct Vector {
    const char* input;
    const char* md4;
    const char* md5;
};

// The test suites of RFC 1320 (MD4) and RFC 1321 (MD5).
const Vector kSuite[] = {
    {"", "31d6cfe0d16ae931b73c59d7e0c089c0", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "bde52cb31de33e46245e05fbdbd6fb24", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "a448017aaf21d8525fc10ae87aa6729d", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "d9130a8164549fe818874806e1c7014b", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "e33b4ddc9c38f2199c3e7b164fcc0536", "57edf4a22be3c955ac49da2e2107b67a"},
};

}  // namespace

TEST(Digest, RfcSuites)
{
    for (const Vector& v : kSuite) {
        EXPECT_EQ(digestOf<Md4>(v.input), v.md4) << '"' << v.input << '"';
        EXPECT_EQ(digestOf<Md5>(v.input), v.md5) << '"' << v.input << '"';
    }
}

TEST(Digest, PiecesGiveTheSameDigestAcrossBlockEdges)
{
    // Lengths around the padding edge (55/56) and the block edge (64), fed
    // whole, byte by byte and in pieces that straddle blocks.
    for (size_t n : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s += static_cast<char>('A' + i % 53);
        for (size_t piece : {1u, 7u, 63u, 64u, 65u}) {
            EXPECT_EQ(digestInPieces<Md4>(s, piece), digestOf<Md4>(s)) << n << " in " << piece;
            EXPECT_EQ(digestInPieces<Md5>(s, piece), digestOf<Md5>(s)) << n << " in " << piece;
        }
    }
    // The 56-byte case needs a second padding block: a known value.
    EXPECT_EQ(digestOf<Md5>(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(digestOf<Md5>(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(Digest, MillionBytes)
{
    const std::string s(1000000, 'a');
    EXPECT_EQ(digestOf<Md5>(s), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(digestInPieces<Md4>(s, 4099), digestOf<Md4>(s));
}

TEST(Digest, HmacMd5Rfc2202)
{
    struct Case {
        std::string key, data;
        const char* mac;
    };
    std::string key25;
    for (int i = 1; i <= 25; ++i) key25 += static_cast<char>(i);
    const Case cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {key25, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const Case& c : cases) {
        uint8_t out[16];
        HmacMd5::hash(c.key.data(), c.key.size(), c.data.data(), c.data.size(), out);
        EXPECT_EQ(hex(out), c.mac) << c.data;
    }
}
