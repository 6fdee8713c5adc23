#include <gtest/gtest.h>

#include <random>
#include <string>

#include "smtp/SmtpDataEncoder.h"

using namespace hanamail;

namespace {

// Byte by byte: every CR, LF or CR LF becomes CR LF; a line starting with "."
// gets a second one.
std::string reference(const std::string& in)
{
    std::string out;
    bool lineStart = true;
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') ++i;
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    return out;
}

// Pieces of first bytes, each next twice the last up to room (as a send
// makes them), or all of room.
std::string encodeAll(const std::string& in, uint32_t room, uint32_t first = 0)
{
    const auto* text = reinterpret_cast<const unsigned char*>(in.data());
    const auto n = static_cast<uint32_t>(in.size());
    std::string out;
    std::string piece(room, '\0');
    SmtpDataEncoder encoder;
    uint32_t pos = 0;
    uint32_t size = first == 0 ? room : first;
    while (pos < n) {
        const uint32_t k = encoder.encode(text, n, pos, reinterpret_cast<unsigned char*>(piece.data()), size);
        if (k == 0) break;
        out.append(piece, 0, k);
        size = size > room / 2 ? room : size * 2;
    }
    return out;
}

// Line ends and dots at every offset within and across eight-byte words, in
// lines long and short, through pieces large and small.
TEST(SmtpDataEncoder, MatchesByteByByteRulesAtEveryOffset)
{
    std::mt19937 rng(11u);
    const char alphabet[] = "abcdefgh.\r\n\0\xff";
    for (int round = 0; round < 400; ++round) {
        std::string in;
        const size_t len = rng() % 200;
        const int density = 1 + static_cast<int>(rng() % 40);
        for (size_t i = 0; i < len; ++i)
            in += static_cast<int>(rng() % density) == 0 ? alphabet[8 + rng() % 3] : alphabet[rng() % sizeof alphabet];
        const std::string want = reference(in);
        EXPECT_EQ(SmtpDataEncoder::encodedSize(reinterpret_cast<const unsigned char*>(in.data()),
                                               static_cast<uint32_t>(in.size())),
                  want.size());
        for (uint32_t room : {3u, 7u, 8u, 9u, 64u, 4096u}) EXPECT_EQ(encodeAll(in, room), want) << "room " << room;
        EXPECT_EQ(encodeAll(in, 64, 3), want) << "pieces growing from 3 to 64";
        EXPECT_EQ(encodeAll(in, 4096, 5), want) << "pieces growing from 5 to 4096";
    }
}

}  // namespace
