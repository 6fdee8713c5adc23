#include "charset/Base64Codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace hanamail;

namespace {

std::string encodeWith(const std::string& data, Base64Codec::Path path)
{
    std::string out(Base64Codec::encodedLength(data.size()), '\0');
    const auto* s = reinterpret_cast<const unsigned char*>(data.data());
    char* end = Base64Codec::encode(s, data.size(), data.size(), out.data(), path);
    out.resize(static_cast<size_t>(end - out.data()));
    return out;
}

bool decodeWith(const std::string& text, bool strict, Base64Codec::Path path, std::string& out)
{
    std::vector<unsigned char> buf(Base64Codec::decodedBound(text.size()));
    size_t len = 0;
    bool ok = Base64Codec::decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), buf.data(), len,
                                  strict, path);
    out.assign(reinterpret_cast<const char*>(buf.data()), len);
    return ok;
}

// Every vector path the processor has must give exactly what the scalar code gives.
TEST(Base64Codec, VectorPathsAgreeWithScalar)
{
    std::mt19937 rng(5);
    const std::string noise = "\r\n \t.-:@[`\x80\xFF=";
    for (int p = Base64Codec::kSsse3; p <= Base64Codec::fastestPath(); ++p) {
        auto path = static_cast<Base64Codec::Path>(p);
        for (size_t n = 0; n < 400; n += 1 + n / 16) {
            std::string data(n, '\0');
            for (auto& c : data) c = static_cast<char>(rng());
            std::string text = encodeWith(data, Base64Codec::kScalar);
            ASSERT_EQ(encodeWith(data, path), text) << "path " << p << " n " << n;

            std::string got;
            ASSERT_TRUE(decodeWith(text, true, path, got));
            ASSERT_EQ(got, data);
            // A stray character anywhere in a block sends that block to the scalar code.
            if (!text.empty()) {
                std::string dirty = text;
                dirty.insert(rng() % dirty.size(), 1, noise[rng() % noise.size()]);
                for (bool strict : {false, true}) {
                    std::string want;
                    bool ok = decodeWith(dirty, strict, Base64Codec::kScalar, want);
                    ASSERT_EQ(decodeWith(dirty, strict, path, got), ok);
                    ASSERT_EQ(got, want) << "path " << p << " n " << n << " strict " << strict;
                }
            }
        }
    }
}

}  // namespace
